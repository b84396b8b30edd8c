#include "transfer/FrmEsporta.h"

#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "controls/BoundControls.h"
#include "exchange/Transfer.h"
#include "store/Archive.h"
#include "store/Transfer.h"
#include "transfer/ProgressRun.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

using controls::named;

namespace {

// "Esportati 12 libri", "Esportato 1 autore".
QString exported(qint64 rows, const char* one, const char* many)
{
    return rows == 1 ? QStringLiteral("Esportato 1 %1").arg(QLatin1String(one))
                     : QStringLiteral("Esportati %1 %2").arg(rows).arg(QLatin1String(many));
}

} // namespace

FrmEsporta::FrmEsporta(QWidget* parent, What what, const QList<qint64>& shownKeys)
    : QDialog(parent), m_what(what), m_shownKeys(shownKeys)
{
    setObjectName(QStringLiteral("FrmEsporta"));
    setWindowTitle(QStringLiteral("Esporta"));
    setModal(true);
    // The window's own connection, as every window has; the counts are read now.
    m_archive = store::Archive::open(Modulo1::PercorsoArchivio);

    auto* layout = new QVBoxLayout(this);
    LblCosa = named(new QLabel(this), QStringLiteral("LblCosa"));
    layout->addWidget(LblCosa);
    switch (what) {
    case What::Books: {
        LblCosa->setText(QStringLiteral("Esportare:"));
        const qint64 all = store::transfer::bookCount(*m_archive);
        OptLibri_0 = named(
            new QRadioButton(QStringLiteral("I libri dell'elenco, come è mostrato (%1)").arg(m_shownKeys.size()), this),
            QStringLiteral("OptLibri_0"));
        OptLibri_1 = named(new QRadioButton(QStringLiteral("Tutto il catalogo (%1)").arg(all), this),
                           QStringLiteral("OptLibri_1"));
        OptLibri_0->setChecked(true);
        layout->addWidget(OptLibri_0);
        layout->addWidget(OptLibri_1);
        break;
    }
    case What::Authors:
        LblCosa->setText(QStringLiteral("L'elenco degli autori"));
        break;
    case What::Publishers:
        LblCosa->setText(QStringLiteral("L'elenco degli editori"));
        break;
    case What::Catalogue:
        LblCosa->setText(QStringLiteral("Tutto il catalogo (%1)").arg(store::transfer::bookCount(*m_archive)));
        break;
    }
    LblCosa->setAccessibleName(LblCosa->text());

    CmdEsporta = named(new QPushButton(QStringLiteral("&Esporta…"), this), QStringLiteral("CmdEsporta"));
    CmdAnnulla = named(new QPushButton(QStringLiteral("Annulla"), this), QStringLiteral("CmdAnnulla"));
    CmdEsporta->setDefault(true);
    CmdAnnulla->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CmdEsporta);
    buttons->addWidget(CmdAnnulla);
    layout->addStretch();
    layout->addLayout(buttons);

    guard::connect(CmdEsporta, &QPushButton::clicked, this, [this] { CmdEsporta_Click(); });
    guard::connect(CmdAnnulla, &QPushButton::clicked, this, [this] { reject(); });
}

FrmEsporta::~FrmEsporta() = default;

void FrmEsporta::showModal(QWidget* parent, What what, const QList<qint64>& shownKeys)
{
    FrmEsporta dialog(parent, what, shownKeys);
    dialog.exec();
}

QString FrmEsporta::suggestedName() const
{
    switch (m_what) {
    case What::Authors:
        return QStringLiteral("autori.csv");
    case What::Publishers:
        return QStringLiteral("editori.csv");
    default:
        return QStringLiteral("catalogo.csv");
    }
}

void FrmEsporta::CmdEsporta_Click()
{
    const QString folder = Modulo1::CartellaArchivio.isEmpty() ? QDir::homePath() : Modulo1::CartellaArchivio;
    QString path;
    if (!transfer::chosen([&] { path = dialogs::saveTable(this, paths::join(folder, suggestedName())); })) {
        return;
    }
    exchange::ExportResult result;
    {
        transfer::ProgressRun run(QStringLiteral("Esportazione in corso..."));
        switch (m_what) {
        case What::Books:
            result = exchange::exportBooks(
                *m_archive, path, OptLibri_0->isChecked() ? std::optional(m_shownKeys) : std::nullopt, run.callback());
            break;
        case What::Catalogue:
            result = exchange::exportBooks(*m_archive, path, std::nullopt, run.callback());
            break;
        case What::Authors:
            result = exchange::exportAuthors(*m_archive, path, run.callback());
            break;
        case What::Publishers:
            result = exchange::exportPublishers(*m_archive, path, run.callback());
            break;
        }
    }
    if (result.stopped) {
        msg::show(QStringLiteral("Esportazione interrotta: nessun file è stato scritto."), msg::Icon::Information);
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const QString what = m_what == What::Authors      ? exported(result.rows, "autore", "autori")
                         : m_what == What::Publishers ? exported(result.rows, "editore", "editori")
                                                      : exported(result.rows, "libro", "libri");
    msg::show(QStringLiteral("%1 in %2.").arg(what, name), msg::Icon::Information);
    accept();
}
