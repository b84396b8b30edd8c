#include "shell/ArchiveCommands.h"

#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Paths.h"
#include "store/ArchiveFiles.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>

#include <limits>

namespace shell {

// ---------------------------------------------------------------- Nuovo Archivio, Crea Copia

std::optional<QString> makeNewArchive(QWidget* parent)
{
    try {
        const QString chosen = dialogs::saveArchive(parent, paths::archiveFolder(), true);
        const Busy busy(parent);
        // On a server the archive is made in the empty database the user named.
        if (store::server::isAddress(chosen)) {
            store::Archive::create(chosen);
        } else {
            store::files::copyTemplate(paths::templateArchivePath(), chosen);
        }
        return chosen;
    } catch (const store::DbError& e) {
        // An archive that someone has open is never overwritten, nor one that may be open under
        // another name.
        if (e.number() == store::ErrPermissionDenied || e.number() == store::ErrInUse) {
            msg::show(QStringLiteral("Autorizzazione negata!"), msg::Icon::Critical);
        } else if (e.number() == store::ErrSeveralNames) {
            msg::show(QStringLiteral("Autorizzazione negata!\r") + e.description(), msg::Icon::Critical);
        } else {
            msg::show(e.description());
        }
    } catch (const std::exception& e) {
        msg::show(unexpectedError(e));
    }
    return std::nullopt;
}

void copyArchive(QWidget* parent, const QString& openArchive)
{
    try {
        const QString target = dialogs::saveArchive(parent, QString());
        // The empty template stays empty: every new archive is made from it.
        if (store::files::sameFile(target, paths::templateArchivePath())) {
            msg::show(QStringLiteral("Autorizzazione negata!"), msg::Icon::Critical);
            return;
        }
        const Busy busy(parent);
        // An object that went stale under the copy is let go and the copy is tried again, a few
        // times at most.
        for (int attempt = 1;; ++attempt) {
            try {
                store::files::copyArchive(openArchive, target);
                break;
            } catch (const store::DbError& e) {
                const bool stale = e.number() == store::ErrObjectInvalid || e.number() == store::ErrObjectNotSet;
                if (!stale || attempt == 3) {
                    throw;
                }
            }
        }
    } catch (const store::DbError& e) {
        if (e.number() == store::ErrInUse || e.number() == store::ErrPermissionDenied) {
            msg::show(QStringLiteral("Occorre chiudere tutte le finestre e riprovare!"), msg::Icon::Information);
        } else if (e.number() == store::ErrSeveralNames) {
            // Closing windows would not help: the file may be open under another name anywhere.
            msg::show(QStringLiteral("Autorizzazione negata!\r") + e.description(), msg::Icon::Critical);
        } else {
            msg::show(e.description());
        }
    } catch (const std::exception& e) {
        msg::show(unexpectedError(e));
    }
}

// ---------------------------------------------------------------- Busy

Busy::Busy(QWidget* parent) : m_window(parent)
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_window.setObjectName(QStringLiteral("Avanzamento"));
    m_window.setWindowTitle(msg::kProgramTitle);
    m_window.setCancelButton(nullptr);
    m_window.setRange(0, 0); // a moving bar: the length of the work is not known
    m_window.setAutoClose(false);
    m_window.setAutoReset(false);
    m_window.setWindowModality(Qt::WindowModal);
    m_window.setMinimumDuration(std::numeric_limits<int>::max()); // shown by update() only
    m_window.hide();
    m_clock.start();
    m_sinceRepaint.start();
    store::files::setProgress([this](const QString& stage) { update(stage); });
}

Busy::~Busy()
{
    store::files::setProgress({});
    m_window.hide();
    QApplication::restoreOverrideCursor();
}

void Busy::update(const QString& stage) noexcept
{
    if (m_window.labelText() != stage) {
        m_window.setLabelText(stage);
    }
    if (!m_window.isVisible() && m_clock.elapsed() >= kShowAfterMs) {
        m_window.show();
    }
    if (m_window.isVisible() && m_sinceRepaint.elapsed() >= kRepaintMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        m_sinceRepaint.restart();
    }
}

QString unexpectedError(const std::exception& e)
{
    return QStringLiteral("Errore imprevisto: ") + QString::fromLocal8Bit(e.what());
}

// ---------------------------------------------------------------- repair and compaction

namespace {

enum class Stage { Repair, Compaction };

// The repair's error trap: the archive in use, stale objects, disk errors, and one message for
// each collected error otherwise, naming the stage that failed.
void reportFailure(const store::DbError& error, Stage stage)
{
    int number = error.number();
    if (number == store::ErrInUse) {
        msg::show(QStringLiteral("Occorre chiudere tutte le finestre e riprovare!"), msg::Icon::Information);
        return;
    }
    if (number == store::ErrSeveralNames) {
        msg::show(QStringLiteral("Autorizzazione negata!\r") + error.description(), msg::Icon::Critical);
        return;
    }
    if (number == store::ErrObjectInvalid) {
        msg::show(QStringLiteral("Chiudere tutte le finestre, uscire dal programma da tutti i computer in rete e "
                                 "riprovare!"),
                  msg::Icon::Information);
        number = 0;
    }
    if (number == store::ErrDiskOrNetwork) {
        msg::show(QStringLiteral("Occorre riavviare il programma!"));
        return;
    }
    // One message for each error the operation collected, in order.
    for (const store::ErrorItem& item : error.errors()) {
        msg::show((stage == Stage::Compaction ? QStringLiteral("Compattazione non riuscita!")
                                              : QStringLiteral("Riparazione non riuscita!")) +
                  QStringLiteral("\rNumero dell'errore: %1\r%2").arg(item.number).arg(item.description));
    }
}

} // namespace

QString salvageReport(const store::files::RepairOutcome& outcome)
{
    struct Table {
        const char* name;
        const char* rows; // how the message calls its rows
    };
    static constexpr Table tables[] = {
        {"biblio", "libri"}, {"autore", "autori"}, {"editori", "editori"}, {"autbiblio", "legami tra libri e autori"}};
    const auto list = [](const QStringList& items) {
        return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" e ") + items.last();
    };
    QStringList saved;
    QStringList lost;
    bool anyLost = false;
    bool allUnknown = true;
    bool anyInexact = false;
    for (const Table& t : tables) {
        const QString name = QString::fromLatin1(t.name);
        const QString rows = QString::fromLatin1(t.rows);
        saved << QStringLiteral("%1 %2").arg(outcome.rowsPerTable.value(name)).arg(rows);
        const store::salvage::Loss loss = outcome.leftOut.value(name);
        anyLost = anyLost || loss.rows > 0;
        allUnknown = allUnknown && !loss.exact && loss.rows == 0;
        anyInexact = anyInexact || !loss.exact;
        // Only as precise as the damaged archive allows.
        if (loss.exact) {
            lost << QStringLiteral("%1 %2").arg(loss.rows).arg(rows);
        } else if (loss.rows > 0) {
            lost << QStringLiteral("almeno %1 %2").arg(loss.rows).arg(rows);
        } else {
            lost << QStringLiteral("un numero non noto di ") + rows;
        }
    }
    QString text = QStringLiteral("L'archivio era danneggiato: sono stati recuperati ") + list(saved);
    if (outcome.rowsIncomplete > 0) {
        text +=
            QStringLiteral(", di cui %1 senza un testo lungo che non era più leggibile").arg(outcome.rowsIncomplete);
    }
    text += QLatin1Char('.');
    if (allUnknown) {
        text += QStringLiteral("\rNon si può sapere se siano andati persi altri record: l'archivio danneggiato non "
                               "dice più quanti ne conteneva.");
    } else if (!anyLost && !anyInexact) {
        text += QStringLiteral("\rNessun record è andato perso.");
    } else {
        text += QStringLiteral("\rNon sono stati recuperati ") + list(lost) + QLatin1Char('.');
        if (anyInexact) {
            text += QStringLiteral(" Il numero esatto non si può sapere: l'archivio danneggiato non dice più quanti "
                                   "record conteneva.");
        }
    }
    if (outcome.linksDropped > 0) {
        text +=
            QStringLiteral("\rSono stati tolti %1 legami a libri o autori non recuperati.").arg(outcome.linksDropped);
    }
    return text + QStringLiteral("\rL'archivio danneggiato è stato conservato come ") +
           QDir::toNativeSeparators(outcome.keptAs);
}

bool repairAndCompact(QWidget* parent, const QString& path)
{
    bool repaired = false;
    Stage stage = Stage::Repair;
    try {
        // Held until the end, so nobody opens the archive between the repair and the compaction.
        const store::files::ExclusiveUse archive(path);
        store::files::RepairOutcome outcome;
        {
            const Busy busy(parent);
            outcome = store::files::repair(archive);
        }
        repaired = true;
        // Repairing a damaged archive changes it: the user learns what was saved and where the
        // original is.
        if (outcome.damaged) {
            msg::show(salvageReport(outcome), msg::Icon::Information);
        }
        if (msg::show(QStringLiteral("Fine della routine di riparazione! Si vuole compattare il database?"),
                      msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::Yes) {
            stage = Stage::Compaction;
            const Busy busy(parent);
            store::files::compact(archive, paths::programFolder());
        }
        msg::show(QStringLiteral("Operazione completata!"), msg::Icon::Exclamation);
    } catch (const store::DbError& e) {
        reportFailure(e, stage);
    } catch (const std::exception& e) {
        reportFailure(store::DbError(store::ErrInvalidProcedure, unexpectedError(e)), stage);
    }
    return repaired;
}

} // namespace shell
