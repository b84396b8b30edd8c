// The main window's part in archives on a server: opening one at the start and what happens when
// it cannot be reached, its name in the toolbar, the transfer of an archive file to a server, and
// what "Crea Copia" and "Ripara e Compatta" mean for it.
#include "shell/MDIForm1.h"

#include "app/ChildWindows.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "shell/ArchiveCommands.h"
#include "shell/FrmServer.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Server.h"
#include "transfer/ProgressRun.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>

namespace {

// The count that `sqlText` reads from `archive`; -1 when it cannot be read.
qint64 rowsOf(store::Archive& archive, const QString& sqlText)
{
    try {
        store::Statement count = archive.prepare(sqlText);
        return count.step() ? count.int64(0) : -1;
    } catch (const store::DbError&) {
        return -1;
    }
}

// "Trasferimento completato: …" with the rows now in `address`, or without counts when the
// archive cannot be read back.
QString transferReport(const QString& address)
{
    try {
        const auto archive = store::Archive::open(address, store::Archive::Presence::None);
        const qint64 books = rowsOf(*archive, QStringLiteral("SELECT COUNT(*) FROM biblio"));
        const qint64 authors = rowsOf(*archive, QStringLiteral("SELECT COUNT(*) FROM autore"));
        const qint64 publishers = rowsOf(*archive, QStringLiteral("SELECT COUNT(*) FROM editori"));
        const qint64 loans = rowsOf(*archive, QStringLiteral("SELECT COUNT(*) FROM prestiti"));
        if (books >= 0 && authors >= 0 && publishers >= 0 && loans >= 0) {
            return QStringLiteral("Trasferimento completato: %1 libri, %2 autori, %3 editori, %4 prestiti.")
                .arg(books)
                .arg(authors)
                .arg(publishers)
                .arg(loans);
        }
    } catch (const store::DbError&) {
    }
    return QStringLiteral("Trasferimento completato.");
}

} // namespace

bool MDIForm1::onServer()
{
    return store::server::isAddress(Modulo1::PercorsoArchivio);
}

void MDIForm1::setUpServerChoices(bool on)
{
    if (on) {
        dialogs::setServerChoice(
            [](QWidget* parent) { return FrmServer::ask(parent, onServer() ? Modulo1::PercorsoArchivio : QString()); });
    } else {
        dialogs::setServerChoice({});
    }
    shell::installPasswordPrompt(on);
}

void MDIForm1::showArchiveName(const QString& path)
{
    Text1->setText(store::server::shown(path));
    TrovaPercoServ();
    updateArchiveMenus();
}

void MDIForm1::updateArchiveMenus()
{
    // Only an archive file can be copied to a server.
    MnuOpzioniTrasferisci->setEnabled(!Text1->text().isEmpty() && !onServer());
}

MDIForm1::ServerAnswer MDIForm1::reachServer(const QString& address)
{
    QString why;
    try {
        store::Archive::open(address, store::Archive::Presence::None);
        return ServerAnswer::Opened;
    } catch (const store::DbError& e) {
        const QString server = store::server::serverName(address);
        if (e.number() == store::ErrServerUnreachable) {
            why = QStringLiteral("Impossibile raggiungere il server %1, dove si trova l'archivio.\r"
                                 "Controllare la rete e che il server sia acceso.")
                      .arg(server);
        } else if (e.number() == store::ErrServerLogin) {
            why = QStringLiteral("Il server %1 ha rifiutato l'accesso all'archivio: nome utente o password non "
                                 "validi.")
                      .arg(server);
        } else {
            // The description may name the address as avvio.ini gave it, password and all.
            QString description = e.description();
            description.replace(address, store::server::shown(address));
            why = QStringLiteral("Impossibile aprire l'archivio sul server %1:\r%2").arg(server, description);
        }
    }
    // With another archive open before (this is "Apri Archivio"), giving up goes back to it.
    const bool back = !Text1->text().isEmpty();
    const int choice = msg::choose(why, msg::Icon::Exclamation,
                                   {QStringLiteral("Riprova"), QStringLiteral("Apri Archivio"),
                                    back ? QStringLiteral("Annulla") : QStringLiteral("Esci")});
    if (choice == 0) {
        return ServerAnswer::Again;
    }
    if (choice == 1) {
        return chooseAnotherArchive() ? ServerAnswer::Again : ServerAnswer::End;
    }
    if (back) {
        try {
            paths::writeStartupFile(Text1->text());
        } catch (const store::DbError& e) {
            return startupErrorCleared(e.number(), e.description()) ? ServerAnswer::Again : ServerAnswer::End;
        }
        return ServerAnswer::Again;
    }
    close(); // the quit guard decides; a No asks again
    return m_ending ? ServerAnswer::End : ServerAnswer::Again;
}

void MDIForm1::MnuOpzioniTrasferisci_Click()
{
    const QString source = Modulo1::PercorsoArchivio;
    if (Text1->text().isEmpty() || onServer()) {
        msg::show(QStringLiteral("Per trasferire un archivio sul server occorre aprire prima l'archivio su file."),
                  msg::Icon::Information);
        return;
    }
    // Whatever is typed now would not be in the copy.
    if (childwindows::anyEditOpen()) {
        msg::show(msg::kEditingOpen, msg::Icon::Information);
        return;
    }
    const std::optional<QString> target = FrmServer::ask(this);
    if (!target) {
        return;
    }
    if (msg::show(QStringLiteral("L'archivio «%1» sarà copiato nel database %2, che deve essere vuoto. Continuare?")
                      .arg(QDir::toNativeSeparators(source), store::server::serverName(*target)),
                  msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::No) {
        return;
    }
    try {
        transfer::ProgressRun run(QStringLiteral("Trasferimento in corso..."));
        store::transferArchive(source, *target, run.callback());
    } catch (const store::DbError& e) {
        if (e.number() == store::ErrDialogCancelled) {
            msg::show(QStringLiteral("Trasferimento interrotto: il database sul server è rimasto vuoto."),
                      msg::Icon::Information);
            return;
        }
        msg::show(e.description(), msg::Icon::Exclamation);
        return;
    }
    msg::show(transferReport(*target), msg::Icon::Information);
    if (msg::show(QStringLiteral("Aprire ora l'archivio sul server?"), msg::Icon::None, msg::Buttons::YesNo) ==
        msg::Answer::Yes) {
        paths::writeStartupFile(*target);
        closeDataWindows();
        MDIForm_Load();
    }
}

void MDIForm1::copyServerArchive()
{
    const QString source = Modulo1::PercorsoArchivio;
    QString target;
    if (!transfer::chosen([&] { target = dialogs::saveArchive(this, paths::archiveFolder()); })) {
        return;
    }
    // The copy is made in a new file: one that is there may be somebody's archive.
    bool exists = false;
    try {
        exists = QFileInfo::exists(target) || paths::ordinaryFileExists(target);
    } catch (const store::DbError& e) {
        msg::show(e.description());
        return;
    }
    if (exists) {
        msg::show(QStringLiteral("Il file %1 esiste già: la copia di un archivio sul server si scrive in un file "
                                 "nuovo. Scegliere un altro nome.")
                      .arg(QDir::toNativeSeparators(target)),
                  msg::Icon::Information);
        return;
    }
    try {
        transfer::ProgressRun run(QStringLiteral("Copia in corso..."));
        store::transferArchive(source, target, run.callback());
    } catch (const store::DbError& e) {
        if (e.number() == store::ErrDialogCancelled) {
            msg::show(QStringLiteral("Copia interrotta: nessun file è stato scritto."), msg::Icon::Information);
            return;
        }
        msg::show(e.description(), msg::Icon::Exclamation);
        return;
    }
    msg::show(QStringLiteral("Operazione completata!"), msg::Icon::Exclamation);
}

void MDIForm1::maintainServerArchive()
{
    const QString address = Modulo1::PercorsoArchivio;
    if (msg::show(QStringLiteral("Controllare e fare la manutenzione dell'archivio sul server %1?")
                      .arg(store::server::serverName(address)),
                  msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::No) {
        return;
    }
    QStringList lines;
    try {
        const shell::Busy busy(this);
        lines = store::server::maintain(address);
    } catch (const store::DbError& e) {
        // Another desk, or one of this program's windows, has the archive open.
        if (e.number() == store::ErrInUse) {
            msg::show(QStringLiteral("Occorre chiudere tutte le finestre e riprovare!"), msg::Icon::Information);
        } else {
            msg::show(e.description(), msg::Icon::Exclamation);
        }
        return;
    }
    msg::show(QStringLiteral("Controllo e manutenzione sul server completati:\r") + lines.join(QLatin1Char('\r')),
              msg::Icon::Information);
}
