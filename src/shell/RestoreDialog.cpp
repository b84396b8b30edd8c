#include "shell/RestoreDialog.h"

#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/Messages.h"
#include "shell/ArchiveCommands.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

RestoreDialog::RestoreDialog(QWidget* parent, const QList<store::backups::Copy>& copies)
    : QDialog(parent), m_copies(copies), m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("RestoreDialog"));
    setWindowTitle(QStringLiteral("Ripristina Copia"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("&Copie dell'archivio:"), this);
    label->setBuddy(m_list);
    layout->addWidget(label);
    m_list->setObjectName(QStringLiteral("Copie"));
    for (const store::backups::Copy& copy : m_copies) {
        // In Italian, as every text of the program, whatever language the system speaks.
        const QString date =
            QLocale(QLocale::Italian, QLocale::Italy).toString(copy.date, QStringLiteral("dddd dd MMMM yyyy"));
        const QString books = copy.books < 0    ? QStringLiteral("copia illeggibile")
                              : copy.books == 1 ? QStringLiteral("1 libro")
                                                : QStringLiteral("%1 libri").arg(copy.books);
        m_list->addItem(date + QStringLiteral(" - ") + books);
    }
    m_list->setCurrentRow(0);
    layout->addWidget(m_list);
    auto* buttons = new QHBoxLayout;
    auto* asNew = new QPushButton(QStringLiteral("Ripristina in un &nuovo archivio…"), this);
    asNew->setObjectName(QStringLiteral("RipristinaNuovo"));
    auto* over = new QPushButton(QStringLiteral("Ripristina sull'&archivio aperto"), this);
    over->setObjectName(QStringLiteral("RipristinaAperto"));
    auto* cancel = new QPushButton(QStringLiteral("Annulla"), this);
    cancel->setObjectName(QStringLiteral("Annulla"));
    buttons->addWidget(asNew);
    buttons->addWidget(over);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    asNew->setDefault(true);
    guard::connect(asNew, &QPushButton::clicked, this, [this] { choose(Choice::NewArchive); });
    guard::connect(over, &QPushButton::clicked, this, [this] { choose(Choice::OpenArchive); });
    guard::connect(cancel, &QPushButton::clicked, this, [this] { reject(); });
}

QString RestoreDialog::chosenCopy() const
{
    const int row = m_list->currentRow();
    return row >= 0 && row < m_copies.size() ? m_copies.at(row).path : QString();
}

void RestoreDialog::choose(Choice choice)
{
    if (chosenCopy().isEmpty()) {
        return;
    }
    m_choice = choice;
    accept();
}

namespace shell {

void restoreCopy(QWidget* parent, const QString& archivePath, const std::function<void()>& releaseArchive)
{
    if (archivePath.isEmpty()) {
        msg::show(QStringLiteral("Non è aperto nessun archivio: non c'è nessuna copia da ripristinare.\r"
                                 "Scegliere un archivio con Apri Archivio."),
                  msg::Icon::Information);
        return;
    }
    const QList<store::backups::Copy> copies = store::backups::list(archivePath);
    if (copies.isEmpty()) {
        msg::show(QStringLiteral("Non c'è ancora nessuna copia dell'archivio: il programma ne fa una al giorno, "
                                 "nella cartella copie accanto all'archivio."),
                  msg::Icon::Information);
        return;
    }
    RestoreDialog dialog(parent, copies);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const QString copy = dialog.chosenCopy();
    try {
        if (dialog.choice() == RestoreDialog::Choice::NewArchive) {
            const QString target = dialogs::saveArchive(parent, QString());
            {
                const Busy busy(parent);
                store::backups::restoreAsNew(copy, target);
            }
            msg::show(QStringLiteral("Copia ripristinata nell'archivio ") + QDir::toNativeSeparators(target) +
                          QStringLiteral("."),
                      msg::Icon::Information);
            return;
        }
        if (msg::show(QStringLiteral("Sostituire l'archivio aperto con la copia scelta? L'archivio sostituito sarà "
                                     "conservato accanto, con la data nel nome."),
                      msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::No) {
            return;
        }
        releaseArchive();
        QString keptAs;
        {
            const store::files::ExclusiveUse use(archivePath);
            const Busy busy(parent);
            keptAs = store::files::restoreCopy(copy, use);
        }
        msg::show(QStringLiteral("Copia ripristinata! L'archivio sostituito è stato conservato come ") +
                      QDir::toNativeSeparators(keptAs),
                  msg::Icon::Information);
    } catch (const store::DbError& e) {
        if (e.number() == store::ErrDialogCancelled) {
            return;
        }
        if (e.number() == store::ErrInUse) {
            msg::show(QStringLiteral("Occorre chiudere tutte le finestre e riprovare!"), msg::Icon::Information);
        } else {
            msg::show(QStringLiteral("Ripristino non riuscito!\rNumero dell'errore: %1\r%2")
                          .arg(e.number())
                          .arg(e.description()));
        }
    } catch (const std::exception& e) {
        msg::show(unexpectedError(e));
    }
}

} // namespace shell
