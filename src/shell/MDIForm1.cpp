#include "shell/MDIForm1.h"

#include "app/ChildWindows.h"
#include "app/DailyBackup.h"
#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "app/ScreenFit.h"
#include "books/BookLabels.h"
#include "books/FrmBiblio.h"
#include "loans/FrmPrestiti.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "pictures/frminserisci.h"
#include "pictures/frmpicture.h"
#include "shell/ArchiveCommands.h"
#include "shell/FrmCopertina.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QSet>
#include <QStyle>
#include <QToolBar>

#include <memory>

namespace {

void leaveEventLoop()
{
    QCoreApplication::exit(0);
}

std::function<void()>& endProgram()
{
    static std::function<void()> end = leaveEventLoop;
    return end;
}

// The frame's design size, large enough for the books window and the toolbar.
constexpr QSize kDesignSize(1180, 860);

// Makes and loads a record window; throws what its load throws.
template <typename Window> childwindows::Factory windowFactory()
{
    return [] {
        auto window = std::make_unique<Window>();
        window->Form_Load();
        return std::unique_ptr<QWidget>(std::move(window));
    };
}

} // namespace

MDIForm1::MDIForm1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MDIForm1"));
    setWindowTitle(msg::kProgramTitle);
    m_area = new QMdiArea(this);
    m_area->setObjectName(QStringLiteral("MDIArea"));
    m_area->setBackground(QColor(128, 128, 128));
    // Child windows keep their size on a small screen and are reached by scrolling.
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_area);
    m_backup = new DailyBackup(this);
    connect(m_backup, &DailyBackup::finished, this, [this](const QString& archivePath, bool, const QString& error) {
        guard::run([&] { dailyBackupEnded(archivePath, error); });
    });
    childwindows::setArea(m_area);
    childwindows::setFactory(childwindows::Kind::Books, windowFactory<FrmBiblio>());
    childwindows::setFactory(childwindows::Kind::Authors, windowFactory<frmAutori>());
    childwindows::setFactory(childwindows::Kind::Publishers, windowFactory<FrmEditori>());
    childwindows::setFactory(childwindows::Kind::Loans, windowFactory<FrmPrestiti>());
    // The viewer's "Inserisci" opens the import dialog over the frame.
    frmpicture::setImportDialog([this] { showImportDialog(); });
    buildMenus();
    buildToolbar();
    buildStatusLine();
    setUpServerChoices(true);
    // Where the user left it, or the design size at the top centre: whole inside the screen.
    screenfit::placeMainWindow(this, kDesignSize);
}

MDIForm1::~MDIForm1()
{
    m_backup->stop();
    screenfit::rememberMainWindow(this);
    frmpicture::setImportDialog({});
    setUpServerChoices(false);
    childwindows::reset();
}

void MDIForm1::setEndProgram(std::function<void()> end)
{
    endProgram() = end ? std::move(end) : std::function<void()>(leaveEventLoop);
}

FrmBiblio* MDIForm1::booksWindow() const
{
    return qobject_cast<FrmBiblio*>(childwindows::find(childwindows::Kind::Books));
}

frmAutori* MDIForm1::authorsWindow() const
{
    return qobject_cast<frmAutori*>(childwindows::find(childwindows::Kind::Authors));
}

FrmEditori* MDIForm1::publishersWindow() const
{
    return qobject_cast<FrmEditori*>(childwindows::find(childwindows::Kind::Publishers));
}

void MDIForm1::placeAtTopCentre()
{
    // At the top centre of the screen on the first start, or where the user left it; whole inside
    // the screen's available geometry, title bar included, now that the frame's margins are known.
    screenfit::placeAtTopCentre(this);
}

// ---------------------------------------------------------------- start-up

bool MDIForm1::startupErrorCleared(int number, const QString& description)
{
    // Bad names, empty files and disk errors are passed over: the sequence goes on with its
    // next step. Anything else is reported and ends the sequence.
    if (number == store::ErrBadFileName || number == store::ErrPastEndOfFile || number == store::ErrDiskOrNetwork) {
        return true;
    }
    msg::show(description);
    return false;
}

void MDIForm1::MDIForm_Load()
{
    // While the sequence runs, "Apri Archivio" leaves the rereading of avvio.ini to it.
    m_inStartup = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inStartup};

    // The archive that was current stops being so.
    holdPresence(QString());
    Modulo1::PercorsoArchivio.clear();
    placeAtTopCentre();

    // A name refused while testing (52) leaves `exists` false, so the default file is written.
    bool exists = false;
    try {
        exists = paths::ordinaryFileExists(paths::startupFilePath());
    } catch (const store::DbError& e) {
        if (!startupErrorCleared(e.number(), e.description())) {
            return;
        }
    }
    if (!exists) {
        try {
            paths::writeStartupFile(paths::defaultArchivePath());
        } catch (const store::DbError& e) {
            if (!startupErrorCleared(e.number(), e.description())) {
                return;
            }
        }
    }
    if (!findArchive()) {
        return;
    }
    // Whole copies of the catalogue that a repair or compaction killed half-way left behind go
    // now, silently; the user hears only of files that stay although nobody is using them.
    if (const QStringList stayed = onServer() ? QStringList()
                                              : store::files::removeLeftovers(Modulo1::PercorsoArchivio,
                                                                              paths::programFolder());
        !stayed.isEmpty()) {
        QStringList names;
        for (const QString& file : stayed) {
            names << QDir::toNativeSeparators(file);
        }
        msg::show(QStringLiteral("Impossibile eliminare i file lasciati da una riparazione o da una compattazione "
                                 "interrotta:\r") +
                      names.join(QLatin1Char('\r')),
                  msg::Icon::Information);
    }

    showArchiveName(Modulo1::PercorsoArchivio);
    m_refused.clear();
    holdPresence(Modulo1::PercorsoArchivio);
    showOverdueCount();
    startDailyBackup();
    // Day and month names in Italian, as every other text of the program, whatever language the
    // system speaks; set here only, so it never changes while the program runs unless another
    // archive is opened.
    MnuData->setTitle(QLocale(QLocale::Italian, QLocale::Italy)
                          .toString(QDate::currentDate(), QStringLiteral("ddd dd MMMM yyyy"))
                          .toUpper());

    try {
        showBooksWindow();
    } catch (const store::DbError& e) {
        startupErrorCleared(e.number(), e.description());
    }
}

bool MDIForm1::findArchive()
{
    QSet<QString> offered;
    for (;;) {
        // An empty avvio.ini (62) leaves the path as it was: empty on the first round.
        try {
            Modulo1::PercorsoArchivio = paths::readStartupFile();
        } catch (const store::DbError& e) {
            if (!startupErrorCleared(e.number(), e.description())) {
                return false;
            }
        }
        // An archive on a server has no file to look at: it is reached, or the user chooses.
        if (store::server::isAddress(Modulo1::PercorsoArchivio)) {
            const ServerAnswer answer = reachServer(Modulo1::PercorsoArchivio);
            if (answer != ServerAnswer::Again) {
                return answer == ServerAnswer::Opened;
            }
            continue;
        }
        // A name the file system refuses (52) counts as a missing file.
        bool missing = true;
        try {
            missing = Modulo1::PercorsoArchivio.isEmpty() || !paths::ordinaryFileExists(Modulo1::PercorsoArchivio);
        } catch (const store::DbError& e) {
            if (!startupErrorCleared(e.number(), e.description())) {
                return false;
            }
        }
        // A file that is there but cannot be an archive is named, and followed by the same choice
        // of another file as a missing one. A damaged archive with rows to save is offered for
        // repair first, once.
        const Refusal refusal = missing ? Refusal{} : unusableArchive(Modulo1::PercorsoArchivio);
        if (!missing && refusal.text.isEmpty()) {
            return true;
        }
        if (refusal.salvageable && !offered.contains(Modulo1::PercorsoArchivio)) {
            offered.insert(Modulo1::PercorsoArchivio);
            m_refused = Modulo1::PercorsoArchivio;
            const RepairAnswer answer = offerRepair(Modulo1::PercorsoArchivio);
            if (answer == RepairAnswer::Repaired) {
                continue; // read again, and opened when it is sound now
            }
            if (answer == RepairAnswer::Declined) {
                // The question said that No leads to the choice of another file.
                if (!chooseAnotherArchive()) {
                    return false;
                }
                continue;
            }
        }
        msg::show(
            (missing ? QStringLiteral("Impossibile trovare il file ") + Modulo1::PercorsoArchivio : refusal.text) +
                QLatin1Char('\r') + QStringLiteral("Selezionare un file valido!"),
            msg::Icon::Information);
        if (!chooseAnotherArchive()) {
            return false;
        }
    }
}

bool MDIForm1::chooseAnotherArchive()
{
    // A chosen file is written to avvio.ini, which the next round reads.
    m_backToOpenArchive = false;
    MnuFileApri_Click();
    if (m_ending) {
        return false;
    }
    // Given up while another archive was open (this sequence was run by "Apri Archivio"): that
    // archive is the one to open again, instead of asking for ever about the file refused.
    if (m_backToOpenArchive) {
        m_backToOpenArchive = false;
        try {
            paths::writeStartupFile(Text1->text());
        } catch (const store::DbError& e) {
            return startupErrorCleared(e.number(), e.description());
        }
    }
    return true;
}

void MDIForm1::TrovaPercoServ()
{
    // An archive on a server has no folder; its name is the database's.
    if (store::server::isAddress(Text1->text())) {
        Modulo1::CartellaArchivio.clear();
        Modulo1::FileArchivio = store::server::partsOf(Text1->text()).database;
        return;
    }
    const paths::Split split = paths::splitArchivePath(Text1->text());
    Modulo1::CartellaArchivio = split.folder;
    Modulo1::FileArchivio = split.file;
}

// ---------------------------------------------------------------- commands

void MDIForm1::MnuFileApri_Click()
{
    // A window with an edit open could not close, and would go on writing to the old archive
    // while every other window used the new one.
    if (childwindows::anyEditOpen()) {
        msg::show(msg::kEditingOpen, msg::Icon::Information);
        return;
    }
    // Each step runs once; after a failure and a "try again" the failed step runs again.
    enum class Step { Choose, Remember, Reopen, Done };
    Step step = Step::Choose;
    QString chosen;
    while (step != Step::Done) {
        try {
            switch (step) {
            case Step::Choose:
                chosen = dialogs::openArchive(this, paths::archiveFolder(), true);
                step = Step::Remember;
                break;
            case Step::Remember:
                paths::writeStartupFile(chosen);
                step = Step::Reopen;
                break;
            case Step::Reopen:
                closeDataWindows();
                // During the start-up the running sequence itself goes on by rereading avvio.ini.
                if (!m_inStartup) {
                    MDIForm_Load();
                }
                QCoreApplication::processEvents();
                step = Step::Done;
                break;
            case Step::Done:
                break;
            }
        } catch (const store::DbError&) {
            if (!Text1->text().isEmpty()) {
                // An archive is open: nothing has changed, or the start-up goes back to it.
                m_backToOpenArchive = m_inStartup;
                return;
            }
            const msg::Answer again = msg::show(QStringLiteral("Occorre scegliere un file mdb. Vuoi riprovare?"),
                                                msg::Icon::None, msg::Buttons::YesNo);
            if (again == msg::Answer::No) {
                close(); // the quit guard decides
                return;
            }
        }
    }
}

void MDIForm1::MnuFileNew_Click()
{
    // The books window could not close on an open edit, and would go on writing to the old
    // archive while every other command used the new one.
    if (childwindows::anyEditOpen()) {
        msg::show(msg::kEditingOpen, msg::Icon::Information);
        return;
    }
    const std::optional<QString> chosen = shell::makeNewArchive(this);
    if (!chosen) {
        return;
    }
    useNewArchive(*chosen);
}

void MDIForm1::useNewArchive(const QString& path)
{
    // avvio.ini keeps naming the archive to open at the next start.
    Modulo1::PercorsoArchivio = path;
    showArchiveName(path);
    holdPresence(path);
    closeDataWindows();
    startDailyBackup();
}

void MDIForm1::mnuabaut_Click()
{
    FrmCopertina about(this);
    about.showAsAbout();
}

void MDIForm1::closeDataWindows()
{
    // Each window's own close guard may keep it open.
    for (childwindows::Kind kind :
         {childwindows::Kind::Books, childwindows::Kind::Authors, childwindows::Kind::Publishers,
          childwindows::Kind::Loans}) {
        childwindows::close(kind);
    }
}

void MDIForm1::MnuVisualBiblio_Click()
{
    try {
        showBooksWindow();
    } catch (const store::DbError& e) {
        // A disk or network error leaves the frame without the books window, silently.
        if (e.number() != store::ErrDiskOrNetwork) {
            msg::show(e.description());
        }
    }
}

void MDIForm1::MnuOpzioniEtichette_Click()
{
    showBooksWindow();
    if (FrmBiblio* books = booksWindow()) {
        books::openLabels(*books);
    }
}

void MDIForm1::showBooksWindow()
{
    childwindows::show(childwindows::Kind::Books);
}

void MDIForm1::MnuVisualAutori_Click()
{
    reopen(childwindows::Kind::Authors);
}

void MDIForm1::MnuVisualEditori_Click()
{
    reopen(childwindows::Kind::Publishers);
}

void MDIForm1::reopen(childwindows::Kind kind)
{
    // An open window is closed and opened again, so it shows the archive as it is now; one with
    // an edit open stays, in front, and its close guard has said why.
    if (!childwindows::close(kind)) {
        childwindows::show(kind);
        return;
    }
    QCoreApplication::processEvents();
    childwindows::show(kind);
}

void MDIForm1::MnuOpzionInserisci_Click()
{
    Modulo1::ImportaFoto = false;
    showImportDialog();
}

void MDIForm1::showImportDialog()
{
    frminserisci::showModal(this, [this] {
        if (FrmBiblio* books = booksWindow()) {
            books->CaricaPianta();
        }
    });
}

void MDIForm1::MnFileEsci_Click()
{
    close();
}

void MDIForm1::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case 1:
        MnuVisualBiblio_Click();
        break;
    case 3:
        MnuVisualAutori_Click();
        break;
    case 5:
        MnuVisualEditori_Click();
        break;
    case 7:
        // The photo viewer, in front of the frame; a second press brings the open one forward.
        frmpicture::showViewer(this);
        break;
    case 9:
        MnFileEsci_Click();
        break;
    case 11:
        MnuVisualPrestiti_Click();
        break;
    default:
        break; // separators, and windows that are not there yet
    }
}

// ---------------------------------------------------------------- quit guard

void MDIForm1::closeEvent(QCloseEvent* event)
{
    if (childwindows::anyEditOpen()) {
        msg::show(msg::kEditingOpen, msg::Icon::Information);
        event->ignore();
        return;
    }
    if (msg::show(QStringLiteral("Si vuole uscire dal programma?"), msg::Icon::None, msg::Buttons::YesNo) ==
        msg::Answer::No) {
        event->ignore();
        return;
    }
    // The program ends here: no other window is asked.
    m_ending = true;
    // A copy under way is abandoned at its next step, and made at the next start.
    m_backup->stop();
    screenfit::rememberMainWindow(this);
    event->accept();
    endProgram()();
}
