// The main window's hold on its archive and the Opzioni menu's commands on the archive file: the
// copy by hand, the daily copy made in the background, repair and compaction (and the start-up's
// offer to repair a damaged archive), the restore of a copy; and the loan settings that follow
// them in the menu.
#include "shell/MDIForm1.h"

#include "app/DailyBackup.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "loans/FrmImpostazioniPrestiti.h"
#include "pictures/Photos.h"
#include "shell/ArchiveCommands.h"
#include "shell/RestoreDialog.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QDate>
#include <QDir>
#include <QLineEdit>

void MDIForm1::startDailyBackup()
{
    // A copy of the archive left behind goes on no longer: the new one's is made next.
    m_backup->stop();
    // The server keeps an archive of its own: its copies are the server's business.
    if (onServer()) {
        return;
    }
    m_backup->start(Text1->text(), pictures::photoFolder(), QDate::currentDate());
}

void MDIForm1::dailyBackupEnded(const QString& archivePath, const QString& error)
{
    if (error.isEmpty() || m_backupFailuresShown.contains(archivePath)) {
        return;
    }
    m_backupFailuresShown << archivePath;
    msg::notify(this,
                QStringLiteral("Non è stato possibile fare la copia giornaliera dell'archivio %1:\r%2\r"
                               "Si potrà continuare a lavorare; la copia sarà ritentata al prossimo avvio.")
                    .arg(QDir::toNativeSeparators(archivePath), error),
                msg::Icon::Exclamation);
}

// ---------------------------------------------------------------- a damaged archive at the start

MDIForm1::Refusal MDIForm1::unusableArchive(const QString& path)
{
    try {
        // Only reads: a file that is not an archive is left byte for byte as it was.
        store::Archive::open(path, store::Archive::Presence::None);
    } catch (const store::DbError& e) {
        // Between quotes, so that a name with trailing blanks shows them.
        const QString name = QLatin1Char('"') + path + QLatin1Char('"');
        if (e.number() == store::ErrFileNotArchive) {
            const shell::Busy busy(this);
            return Refusal{QStringLiteral("Il file %1 non è un archivio valido o è danneggiato.").arg(name),
                           store::files::salvageable(path)};
        }
        if (e.number() == store::ErrNewerArchive) {
            return Refusal{
                QStringLiteral("Il file %1 è stato creato da una versione più recente del programma.").arg(name),
                false};
        }
        // A lock or a disk error says nothing of the file: the books window reports it.
    }
    return {};
}

MDIForm1::RepairAnswer MDIForm1::offerRepair(const QString& path)
{
    const QString question =
        QStringLiteral("Il file \"%1\" è danneggiato, ma contiene ancora dati che si possono recuperare.\r"
                       "Riparare il database %2? L'archivio danneggiato sarà conservato accanto, con la data nel "
                       "nome; con No si sceglie un altro file.")
            .arg(path, paths::splitArchivePath(path).file);
    if (msg::show(question, msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::No) {
        return RepairAnswer::Declined;
    }
    return shell::repairAndCompact(this, path) ? RepairAnswer::Repaired : RepairAnswer::Failed;
}

void MDIForm1::MnuOpzioniCopia_Click()
{
    if (!Text1->text().isEmpty() && onServer()) {
        copyServerArchive();
        return;
    }
    shell::copyArchive(this, Text1->text());
}

void MDIForm1::MnuOpzioniRipara_Click()
{
    if (!Text1->text().isEmpty() && onServer()) {
        maintainServerArchive();
        return;
    }
    // The open archive; with none open yet, the damaged archive the start-up could not open.
    QString path = Modulo1::CartellaArchivio + Modulo1::FileArchivio;
    QString file = Modulo1::FileArchivio;
    if (Text1->text().isEmpty()) {
        path = m_refused;
        file = paths::splitArchivePath(m_refused).file;
    }
    if (path.isEmpty() || file.isEmpty()) {
        msg::show(QStringLiteral("Non è aperto nessun archivio: non c'è nulla da riparare.\r"
                                 "Scegliere un archivio con Apri Archivio."),
                  msg::Icon::Information);
        return;
    }
    if (msg::show(QStringLiteral("Riparare il database ") + file + QStringLiteral("?"), msg::Icon::None,
                  msg::Buttons::YesNo) == msg::Answer::No) {
        return;
    }
    // The one time the frame lets go of its archive: the command takes it to itself. It holds it
    // again afterwards, however the command ended.
    struct HoldAgain {
        MDIForm1& frame;
        QString current;
        ~HoldAgain() { frame.holdPresence(current); }
    } holdAgain{*this, Text1->text()};
    // The daily copy holds the archive open too; it is made again at the next start.
    m_backup->stop();
    holdPresence(QString());
    shell::repairAndCompact(this, path);
}

void MDIForm1::MnuOpzioniRipristina_Click()
{
    if (!Text1->text().isEmpty() && onServer()) {
        msg::show(QStringLiteral("Il ripristino di una copia riguarda gli archivi su file: un archivio sul server si "
                                 "ripristina con gli strumenti del server."),
                  msg::Icon::Information);
        return;
    }
    const QString archive = Text1->text();
    // The frame lets go of its archive for a restore over it, and holds it again afterwards.
    struct HoldAgain {
        MDIForm1& frame;
        QString current;
        bool released = false;
        ~HoldAgain()
        {
            if (released) {
                frame.holdPresence(current);
            }
        }
    } holdAgain{*this, archive};
    shell::restoreCopy(this, archive, [&] {
        m_backup->stop(); // the daily copy holds the archive open too
        holdAgain.released = true;
        holdPresence(QString());
    });
}

void MDIForm1::holdPresence(const QString& path)
{
    m_presence.reset();
    // A server keeps track of its own connections: there is no file to mark.
    if (path.isEmpty() || store::server::isAddress(path)) {
        return;
    }
    try {
        m_presence = store::PresenceLock::acquire(path, store::PresenceLock::Mode::Shared);
    } catch (const store::DbError&) {
        // Taken to itself elsewhere (a repair under way): the windows say so when they open it.
    }
}

void MDIForm1::MnuOpzioniPrestiti_Click()
{
    FrmImpostazioniPrestiti::showModal(this);
}
