#include "transfer/FrmImporta.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "controls/BoundControls.h"
#include "store/Archive.h"
#include "transfer/MappingPage.h"
#include "transfer/PreviewPage.h"
#include "transfer/ProgressRun.h"
#include "transfer/SourcePage.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using controls::named;

FrmImporta::FrmImporta(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmImporta"));
    setWindowTitle(QStringLiteral("Importa"));
    setModal(true);
    resize(760, 520);

    LblPasso = named(new QLabel(this), QStringLiteral("LblPasso"));
    QFont bold = LblPasso->font();
    bold.setBold(true);
    LblPasso->setFont(bold);
    Pagine = named(new QStackedWidget(this), QStringLiteral("Pagine"));
    Origine = new transfer::SourcePage(Pagine);
    Colonne = new transfer::MappingPage(Pagine);
    Anteprima = new transfer::PreviewPage(Pagine);
    Pagine->addWidget(Origine);
    Pagine->addWidget(Colonne);
    Pagine->addWidget(Anteprima);

    CmdIndietro = named(new QPushButton(QStringLiteral("< &Indietro"), this), QStringLiteral("CmdIndietro"));
    CmdAvanti = named(new QPushButton(QStringLiteral("&Avanti >"), this), QStringLiteral("CmdAvanti"));
    CmdImporta = named(new QPushButton(QStringLiteral("I&mporta"), this), QStringLiteral("CmdImporta"));
    CmdAnnulla = named(new QPushButton(QStringLiteral("Annulla"), this), QStringLiteral("CmdAnnulla"));
    for (QPushButton* button : {CmdIndietro, CmdAvanti, CmdImporta, CmdAnnulla}) {
        button->setAutoDefault(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CmdIndietro);
    buttons->addWidget(CmdAvanti);
    buttons->addWidget(CmdImporta);
    buttons->addWidget(CmdAnnulla);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LblPasso);
    layout->addWidget(Pagine, 1);
    layout->addLayout(buttons);

    guard::connect(CmdIndietro, &QPushButton::clicked, this, [this] { CmdIndietro_Click(); });
    guard::connect(CmdAvanti, &QPushButton::clicked, this, [this] { CmdAvanti_Click(); });
    guard::connect(CmdImporta, &QPushButton::clicked, this, [this] { CmdImporta_Click(); });
    guard::connect(CmdAnnulla, &QPushButton::clicked, this, [this] { reject(); });
    goTo(File);
}

FrmImporta::~FrmImporta() = default;

void FrmImporta::showModal(QWidget* parent, std::function<void()> imported)
{
    FrmImporta dialog(parent);
    dialog.setImported(std::move(imported));
    dialog.exec();
}

store::Archive& FrmImporta::archive()
{
    // The window's own connection to the open archive, as every window has, opened when first needed.
    if (!m_archive) {
        m_archive = store::Archive::open(Modulo1::PercorsoArchivio);
    }
    return *m_archive;
}

void FrmImporta::goTo(Step step)
{
    m_step = step;
    Pagine->setCurrentIndex(int(step));
    static const char* const captions[] = {"1 di 3: il file da importare", "2 di 3: le colonne del file",
                                           "3 di 3: che cosa sarà importato"};
    LblPasso->setText(QStringLiteral("Passo ") + QString::fromUtf8(captions[step]));
    CmdIndietro->setEnabled(step != File);
    CmdAvanti->setEnabled(step != Preview);
    CmdImporta->setEnabled(step == Preview);
    (step == Preview ? CmdImporta : CmdAvanti)->setDefault(true);
}

void FrmImporta::CmdIndietro_Click()
{
    if (m_step != File) {
        goTo(Step(m_step - 1));
    }
}

void FrmImporta::CmdAvanti_Click()
{
    switch (m_step) {
    case File:
        if (!Origine->hasSource()) {
            msg::show(QStringLiteral("Scegliere prima il file da importare."), msg::Icon::Exclamation);
            return;
        }
        Colonne->show(Origine->header(), Origine->rows());
        goTo(Columns);
        return;
    case Columns: {
        if (const QString refusal = Colonne->refusal(); !refusal.isEmpty()) {
            msg::show(refusal, msg::Icon::Exclamation);
            return;
        }
        const std::unique_ptr<exchange::SheetReader> reader = exchange::openSource(Origine->source());
        exchange::Preview preview;
        {
            transfer::ProgressRun run(QStringLiteral("Lettura in corso..."), true);
            preview = exchange::preview(archive(), *reader, Colonne->mapping(), run.callback());
        }
        if (preview.stopped) {
            return; // back to the columns, as they were
        }
        Anteprima->show(preview);
        goTo(Preview);
        return;
    }
    case Preview:
        return;
    }
}

void FrmImporta::CmdImporta_Click()
{
    if (m_step != Preview) {
        return;
    }
    const std::unique_ptr<exchange::SheetReader> reader = exchange::openSource(Origine->source());
    exchange::ImportResult result;
    {
        transfer::ProgressRun run(QStringLiteral("Importazione in corso..."), true);
        result = exchange::importRows(archive(), *reader, Colonne->mapping(), Anteprima->options(), run.callback());
    }
    if (result.stopped) {
        msg::show(QStringLiteral("Importazione interrotta: nulla è stato scritto."), msg::Icon::Information);
        return;
    }
    // The books are written: a window that fails to read them again says so, and the result is
    // still told.
    if (m_imported) {
        guard::run(m_imported);
    }
    QString told = QStringLiteral("Importazione terminata: %1 libri aggiunti, %2 aggiornati.").arg(result.added).arg(result.updated);
    if (!result.copyPath.isEmpty()) {
        told += QStringLiteral("\rCopia dell'archivio prima dell'importazione: %1").arg(QDir::toNativeSeparators(result.copyPath));
    }
    msg::show(told, msg::Icon::Information);
    accept();
}
