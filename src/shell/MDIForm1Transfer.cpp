// The main window's part in export and import.
#include "shell/MDIForm1.h"

#include "app/ChildWindows.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "exchange/JetArchive.h"
#include "shell/ArchiveCommands.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "transfer/FrmEsporta.h"
#include "transfer/FrmImporta.h"
#include "transfer/SourcePage.h"

#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

void MDIForm1::MnuFileEsporta_Click()
{
    // The window in front says what is exported; the last one activated while the menu is open.
    const QMdiSubWindow* front = m_area->currentSubWindow();
    const QWidget* shown = front ? front->widget() : nullptr;
    if (FrmBiblio* books = booksWindow(); books && shown == books) {
        FrmEsporta::showModal(this, FrmEsporta::What::Books, books->shownBookKeys());
    } else if (shown && shown == authorsWindow()) {
        FrmEsporta::showModal(this, FrmEsporta::What::Authors);
    } else if (shown && shown == publishersWindow()) {
        FrmEsporta::showModal(this, FrmEsporta::What::Publishers);
    } else {
        FrmEsporta::showModal(this, FrmEsporta::What::Catalogue);
    }
}

void MDIForm1::MnuFileImportaPrecedente_Click()
{
    if (childwindows::anyEditOpen()) {
        msg::show(msg::kEditingOpen, msg::Icon::Information);
        return;
    }
    // Beside the open archive file; an archive on a server has no folder of its own.
    const QString old = dialogs::openArchive(this, onServer() ? paths::archiveFolder()
                                                              : QFileInfo(Modulo1::PercorsoArchivio).absolutePath());
    if (exchange::kindOf(old) != exchange::FileKind::Legacy) {
        msg::show(QStringLiteral("Il file %1 non è un archivio del programma precedente. Un archivio di Carteo si "
                                 "apre con «Apri Archivio»; un file CSV o una cartella di Excel si importano con "
                                 "«Importa…».")
                      .arg(QDir::toNativeSeparators(old)),
                  msg::Icon::Exclamation);
        return;
    }
    // Read through before anything is made: a table or a column missing is told now.
    exchange::legacyReader(old);
    msg::show(QStringLiteral("Il catalogo dell'archivio precedente sarà importato in un nuovo archivio: scegliere "
                             "ora il nome del nuovo archivio."),
              msg::Icon::Information);
    const std::optional<QString> chosen = shell::makeNewArchive(this);
    if (!chosen) {
        return;
    }
    useNewArchive(*chosen);
    FrmImporta dialog(this);
    dialog.setImported([this] { refreshLists(); });
    dialog.Origine->open(old);
    dialog.exec();
}

void MDIForm1::MnuFileImporta_Click()
{
    FrmImporta::showModal(this, [this] { refreshLists(); });
}

void MDIForm1::refreshLists()
{
    // Every open list shows the books, authors and publishers written.
    if (FrmBiblio* books = booksWindow()) {
        books->readAgain();
    }
    if (frmAutori* authors = authorsWindow()) {
        authors->readAgain();
    }
    if (FrmEditori* publishers = publishersWindow()) {
        publishers->readAgain();
    }
}
