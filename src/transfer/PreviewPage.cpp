#include "transfer/PreviewPage.h"

#include "app/Guard.h"
#include "controls/BoundControls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using controls::captionFor;
using controls::named;

namespace transfer {

QString changesText(const QList<exchange::Change>& changes)
{
    QStringList parts;
    for (const exchange::Change& change : changes) {
        parts << QStringLiteral("%1: %2 → %3")
                     .arg(exchange::infoOf(change.field).heading.toUpper(),
                          change.before.isEmpty() ? QStringLiteral("(vuoto)") : change.before,
                          change.after.isEmpty() ? QStringLiteral("(vuoto)") : change.after);
    }
    return parts.join(QStringLiteral("; "));
}

PreviewPage::PreviewPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PreviewPage"));
    LblRiepilogo = named(new QLabel(this), QStringLiteral("LblRiepilogo"));
    QFont bold = LblRiepilogo->font();
    bold.setBold(true);
    LblRiepilogo->setFont(bold);
    CboGruppo = named(new QComboBox(this), QStringLiteral("CboGruppo"));
    CboGruppo->addItems({QStringLiteral("Nuovi"), QStringLiteral("Da aggiornare"), QStringLiteral("Scartati"),
                         QStringLiteral("In conflitto")});
    LstVoci = named(new QTreeWidget(this), QStringLiteral("LstVoci"));
    LstVoci->setRootIsDecorated(false);
    LstVoci->setHeaderLabels({QStringLiteral("Riga"), QStringLiteral("Titolo"), QStringLiteral("Motivo o modifiche")});
    LstVoci->setAccessibleName(QStringLiteral("Righe del gruppo scelto"));
    OptAggiorna_0 =
        named(new QRadioButton(QStringLiteral("Aggiorna i libri già presenti (solo i campi diversi)"), this),
              QStringLiteral("OptAggiorna_0"));
    OptAggiorna_1 = named(new QRadioButton(QStringLiteral("Lascia com'erano i libri già presenti"), this),
                          QStringLiteral("OptAggiorna_1"));
    OptAggiorna_0->setChecked(true);
    ChkSovrascrivi =
        named(new QCheckBox(QStringLiteral("Sovrascrivi anche i campi modificati dopo l'ultima importazione"), this),
              QStringLiteral("ChkSovrascrivi"));

    auto* groupRow = new QHBoxLayout;
    groupRow->addWidget(captionFor(this, QStringLiteral("LblGruppo"), QStringLiteral("Mostra"), CboGruppo));
    groupRow->addWidget(CboGruppo);
    groupRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LblRiepilogo);
    layout->addLayout(groupRow);
    layout->addWidget(LstVoci, 1);
    layout->addWidget(OptAggiorna_0);
    auto* overwriteRow = new QHBoxLayout;
    overwriteRow->addSpacing(24);
    overwriteRow->addWidget(ChkSovrascrivi);
    overwriteRow->addStretch();
    layout->addLayout(overwriteRow);
    layout->addWidget(OptAggiorna_1);

    guard::connect(CboGruppo, &QComboBox::currentIndexChanged, this, [this] { CboGruppo_Click(); });
    guard::connect(OptAggiorna_0, &QRadioButton::toggled, this,
                   [this] { ChkSovrascrivi->setEnabled(OptAggiorna_0->isChecked()); });
}

void PreviewPage::show(const exchange::Preview& preview)
{
    m_preview = preview;
    LblRiepilogo->setText(preview.summary());
    LblRiepilogo->setAccessibleName(LblRiepilogo->text());
    CboGruppo_Click();
}

exchange::ImportOptions PreviewPage::options() const
{
    exchange::ImportOptions options;
    options.updateMatched = OptAggiorna_0->isChecked();
    options.overwriteConflicts = options.updateMatched && ChkSovrascrivi->isChecked();
    return options;
}

void PreviewPage::CboGruppo_Click()
{
    using Status = exchange::Entry::Status;
    const int group = CboGruppo->currentIndex();
    LstVoci->clear();
    QList<QTreeWidgetItem*> items;
    for (const exchange::Entry& entry : m_preview.entries) {
        QString text;
        switch (group) {
        case News:
            if (entry.status != Status::New) {
                continue;
            }
            break;
        case Updates:
            if (entry.status != Status::Update) {
                continue;
            }
            text = changesText(entry.changes);
            break;
        case Discarded:
            if (entry.status != Status::Discarded) {
                continue;
            }
            text = entry.reason;
            break;
        case Conflicts:
            // Books whose fields were changed here since the last import, which the file would
            // change again: only written when asked.
            if (entry.conflicts.isEmpty()) {
                continue;
            }
            text = changesText(entry.conflicts);
            break;
        default:
            continue;
        }
        items << new QTreeWidgetItem(QStringList{QString::number(entry.line), entry.title, text});
    }
    LstVoci->addTopLevelItems(items);
    LstVoci->resizeColumnToContents(0);
    LstVoci->resizeColumnToContents(1);
}

} // namespace transfer
