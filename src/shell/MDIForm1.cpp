#include "shell/MDIForm1.h"

#include "books/FrmBiblio.h"
#include "shell/FileDialogs.h"
#include "shell/Messages.h"
#include "shell/Modulo1.h"
#include "shell/Paths.h"
#include "store/DbError.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

namespace {

std::function<void()>& endProgram()
{
    static std::function<void()> end = [] { QCoreApplication::exit(0); };
    return end;
}

const QString kEditingMessage = QStringLiteral("E' in corso una modifica del record!!!") + QLatin1Char('\r') +
                                QStringLiteral("Prima di uscire dal programma, occorre Salvare o Annullare l'operazione");

QAction* menuItem(QMenu* menu, const QString& name, const QString& caption)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

} // namespace

MDIForm1::MDIForm1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MDIForm1"));
    setWindowTitle(QStringLiteral("Carteo"));
    m_area = new QMdiArea(this);
    m_area->setObjectName(QStringLiteral("MDIArea"));
    m_area->setBackground(QColor(128, 128, 128));
    setCentralWidget(m_area);
    buildMenus();
    buildToolbar();
    resize(1240, 860);
}

MDIForm1::~MDIForm1() = default;

void MDIForm1::setEndProgram(std::function<void()> end) { endProgram() = std::move(end); }

void MDIForm1::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(menuItem(file, QStringLiteral("MnuFileApri"), QStringLiteral("Apri Archivio")), &QAction::triggered, this,
            &MDIForm1::MnuFileApri_Click);
    menuItem(file, QStringLiteral("MnuFileNew"), QStringLiteral("Nuovo Archivio"));
    file->addSeparator()->setObjectName(QStringLiteral("mnuFileSep1"));
    connect(menuItem(file, QStringLiteral("MnFileEsci"), QStringLiteral("Esci")), &QAction::triggered, this,
            &MDIForm1::MnFileEsci_Click);

    QMenu* view = menuBar()->addMenu(QStringLiteral("Visualizza"));
    view->setObjectName(QStringLiteral("MnuVisual"));
    connect(menuItem(view, QStringLiteral("MnuVisualBiblio"), QStringLiteral("Biblioteca")), &QAction::triggered, this,
            &MDIForm1::MnuVisualBiblio_Click);
    menuItem(view, QStringLiteral("MnuVisualAutori"), QStringLiteral("Autori"));
    menuItem(view, QStringLiteral("MnuVisualEditori"), QStringLiteral("Editori"));

    QMenu* options = menuBar()->addMenu(QStringLiteral("Opzioni"));
    options->setObjectName(QStringLiteral("MnuOpzionI"));
    menuItem(options, QStringLiteral("MnuOpzioniRipara"), QStringLiteral("Ripara e Compatta"));
    menuItem(options, QStringLiteral("MnuOpzioniCopia"), QStringLiteral("Crea Copia"));
    options->addSeparator()->setObjectName(QStringLiteral("MnuSepOpzion"));
    menuItem(options, QStringLiteral("MnuOpzionInserisci"), QStringLiteral("Inserisci Piantina"));

    QMenu* info = menuBar()->addMenu(QStringLiteral("?"));
    info->setObjectName(QStringLiteral("mnuInfo"));
    menuItem(info, QStringLiteral("mnuabaut"), QStringLiteral("info..."));

    // A spacer on the menu bar, then the date.
    QMenu* spacer = menuBar()->addMenu(QStringLiteral("      "));
    spacer->setObjectName(QStringLiteral("mnusep"));
    spacer->setEnabled(false);
    MnuData = menuBar()->addMenu(QStringLiteral("Data"));
    MnuData->setObjectName(QStringLiteral("MnuData"));
}

void MDIForm1::buildToolbar()
{
    Toolbar1 = addToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    struct Button {
        int index;
        const char* label;
        QStyle::StandardPixmap icon;
    };
    const Button buttons[] = {{1, "Biblioteca", QStyle::SP_FileDialogDetailedView},
                              {3, "Autori", QStyle::SP_FileDialogContentsView},
                              {5, "Editori", QStyle::SP_DirHomeIcon},
                              {7, "Anteprima", QStyle::SP_FileDialogInfoView},
                              {9, "Esci", QStyle::SP_DialogCloseButton}};
    for (const Button& b : buttons) {
        if (b.index > 1) {
            Toolbar1->addSeparator()->setObjectName(QStringLiteral("Toolbar1_%1").arg(b.index - 1));
        }
        QAction* action = Toolbar1->addAction(style()->standardIcon(b.icon), QString::fromLatin1(b.label));
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(b.index));
        const int index = b.index;
        connect(action, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
    }
    Toolbar1->addSeparator();
    Text2 = new QLineEdit(QStringLiteral("Nome Archivio"), Toolbar1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setReadOnly(true);
    Text2->setFocusPolicy(Qt::NoFocus);
    Text2->setFixedWidth(110);
    Toolbar1->addWidget(Text2);
    Text1 = new QLineEdit(Toolbar1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setMinimumWidth(420);
    Text1->setAccessibleName(QStringLiteral("Nome Archivio"));
    Toolbar1->addWidget(Text1);
}

void MDIForm1::placeAtTopCentre()
{
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) {
        return;
    }
    const QRect available = s->availableGeometry();
    move(available.x() + (available.width() - frameGeometry().width()) / 2, available.y());
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
    m_inStartup = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inStartup};

    Modulo1::PercorsoArchivio.clear();
    placeAtTopCentre();

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

    Text1->setText(Modulo1::PercorsoArchivio);
    TrovaPercoServ();
    MnuData->setTitle(QLocale().toString(QDate::currentDate(), QStringLiteral("ddd dd MMMM yyyy")).toUpper());

    try {
        showBooksWindow();
    } catch (const store::DbError& e) {
        startupErrorCleared(e.number(), e.description());
    }
}

bool MDIForm1::findArchive()
{
    for (;;) {
        try {
            Modulo1::PercorsoArchivio = paths::readStartupFile();
        } catch (const store::DbError& e) {
            if (!startupErrorCleared(e.number(), e.description())) {
                return false;
            }
        }
        bool missing = true;
        try {
            missing = Modulo1::PercorsoArchivio.isEmpty() || !paths::ordinaryFileExists(Modulo1::PercorsoArchivio);
        } catch (const store::DbError& e) {
            if (!startupErrorCleared(e.number(), e.description())) {
                return false;
            }
        }
        if (!missing) {
            return true;
        }
        msg::show(QStringLiteral("Impossibile trovare il file ") + Modulo1::PercorsoArchivio + QLatin1Char('\r') +
                      QStringLiteral("Selezionare un file valido!"),
                  msg::Icon::Information);
        MnuFileApri_Click();
        if (m_ending) {
            return false;
        }
    }
}

void MDIForm1::TrovaPercoServ()
{
    const paths::Split split = paths::splitArchivePath(Text1->text());
    Modulo1::CartellaArchivio = split.folder;
    Modulo1::FileArchivio = split.file;
}

// ---------------------------------------------------------------- commands

void MDIForm1::MnuFileApri_Click()
{
    for (;;) {
        try {
            const QString chosen = dialogs::openArchive(this, paths::archiveFolder());
            paths::writeStartupFile(chosen);
            closeDataWindows();
            // During start-up the sequence itself goes on from the reading of avvio.ini.
            if (!m_inStartup) {
                MDIForm_Load();
            }
            QCoreApplication::processEvents();
            return;
        } catch (const store::DbError&) {
            if (!Text1->text().isEmpty()) {
                return; // an archive is open: nothing changes
            }
            const msg::Answer again = msg::show(QStringLiteral("Occorre scegliere un file mdb. Vuoi riprovare?"),
                                                msg::Icon::None, msg::Buttons::YesNo);
            if (again == msg::Answer::No) {
                close();
                return;
            }
        }
    }
}

void MDIForm1::closeDataWindows()
{
    // A closed window is deleted a moment later; from now on it counts as gone.
    if (m_books && m_books->closeWindow()) {
        m_books = nullptr;
    }
}

void MDIForm1::MnuVisualBiblio_Click()
{
    try {
        showBooksWindow();
    } catch (const store::DbError& e) {
        msg::show(e.description());
    }
}

void MDIForm1::showBooksWindow()
{
    if (m_books && !m_books->isVisible()) {
        m_books = nullptr; // closed, waiting to be deleted
    }
    if (m_books) {
        if (auto* sub = qobject_cast<QMdiSubWindow*>(m_books->parentWidget())) {
            sub->showNormal();
            m_area->setActiveSubWindow(sub);
            sub->raise();
        }
        return;
    }
    auto books = std::make_unique<FrmBiblio>();
    books->Form_Load(); // throws: the window is not shown
    FrmBiblio* window = books.release();
    QMdiSubWindow* sub = m_area->addSubWindow(window);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWindowTitle(window->windowTitle());
    sub->resize(window->size());
    m_books = window;
    sub->show();
    m_area->setActiveSubWindow(sub);
}

void MDIForm1::MnFileEsci_Click() { close(); }

void MDIForm1::Toolbar1_ButtonClick(int index)
{
    switch (index) {
    case 1:
        MnuVisualBiblio_Click();
        break;
    case 9:
        MnFileEsci_Click();
        break;
    default:
        break; // separators, and windows that are not there yet
    }
}

// ---------------------------------------------------------------- quit guard

void MDIForm1::closeEvent(QCloseEvent* event)
{
    if (m_books && m_books->isEditing()) {
        msg::show(kEditingMessage, msg::Icon::Information);
        event->ignore();
        return;
    }
    if (msg::show(QStringLiteral("Si vuole uscire dal programma?"), msg::Icon::None, msg::Buttons::YesNo) ==
        msg::Answer::No) {
        event->ignore();
        return;
    }
    m_ending = true;
    event->accept();
    endProgram()();
}
