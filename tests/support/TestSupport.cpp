#include "support/TestSupport.h"

#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "pictures/Photos.h"
#include "pictures/PictureLoader.h"
#include "printing/PrintRun.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"

#include <QAction>
#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>

namespace testsupport {

ProgramFolder::ProgramFolder()
{
    if (!m_dir.isValid()) {
        return;
    }
    const QDir root(m_dir.path());
    if (!root.mkpath(QStringLiteral("archivio")) || !root.mkpath(QStringLiteral("foto"))) {
        return;
    }
    paths::setProgramFolderForTests(m_dir.path());
    // What the program remembers between runs (QSettings) goes into this folder, never into the
    // settings of the user running the tests.
    QCoreApplication::setOrganizationName(QStringLiteral("Carteo"));
    QCoreApplication::setApplicationName(QStringLiteral("Carteo"));
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, root.filePath(QStringLiteral("impostazioni")));
    }
    store::Archive::create(paths::templateArchivePath());
    store::Archive::create(paths::defaultArchivePath());
    m_valid = true;
}

ProgramFolder::~ProgramFolder()
{
    paths::setProgramFolderForTests(QString());
}

QString ProgramFolder::defaultArchive() const
{
    return paths::defaultArchivePath();
}

QString ProgramFolder::createArchive(const QString& relative, const QString& populateSql)
{
    if (onServer()) {
        return m_databases.create({}, populateSql);
    }
    const QString path = m_dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    store::Archive::create(path);
    if (!populateSql.isEmpty()) {
        store::Archive::open(path)->exec(populateSql);
    }
    return path;
}

ProgramFrame::ProgramFrame(const QString& populateSql, std::function<void()> beforeStart,
                           std::function<void()> afterEnd)
    : m_afterEnd(std::move(afterEnd))
{
    if (beforeStart) {
        beforeStart();
    }
    path = folder.createArchive(QStringLiteral("archivio/prova.mdb"), populateSql);
    // A server archive's photos are in the shared folder of the settings: the program folder here,
    // so that foto/ holds them on either engine.
    if (onServer()) {
        paths::settings()->setValue(QLatin1String(pictures::kServerPictureFolderKey), folder.path());
    }
    paths::writeStartupFile(path);
    main = std::make_unique<MDIForm1>();
    main->show();
    main->MDIForm_Load();
}

ProgramFrame::~ProgramFrame()
{
    main.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (m_afterEnd) {
        m_afterEnd();
    }
}

QAction* ProgramFrame::action(const QString& name) const
{
    auto* found = main->findChild<QAction*>(name);
    if (!found) {
        throw std::runtime_error("no menu item " + name.toStdString());
    }
    return found;
}

void resetShellState()
{
    msg::clearQueuedAnswers();
    msg::setRecording(true);
    msg::shownTexts().clear();
    msg::shownIcons().clear();
    dialogs::clearQueuedChoices();
    dialogs::setRecording(true);
    Modulo1::reset();
    printing::resetPrinter();
}

QString BooksWindow::catalogue()
{
    return QStringLiteral(
        "INSERT INTO editori (ID_Editore, nome, residenza) VALUES (1, 'MONDADORI', 'MILANO'), (2, 'EINAUDI', "
        "'TORINO');"
        "INSERT INTO biblio (id, titolo, genere, anno, id_edizione, argomento, costo_E, posx, posy) VALUES"
        " (500, 'Zeta', 'ROMANZO', '1990', 1, 'MARE', 12.5, 900, 600),"
        " (700, 'Èlite', 'SAGGIO', '1980', NULL, 'POTERE', NULL, 5, 5),"
        " (900, 'edera', NULL, '2001', 77, 'PIANTE', 1, 0, 0),"
        " (300, 'Elefanti', '', '1975', 2, 'ANIMALI', 0, 10, 10);"
        "INSERT INTO autore (ID_autore, nome) VALUES (1, 'DANTE ALIGHIERI'), (2, 'ITALO CALVINO');"
        "INSERT INTO autbiblio VALUES (500, 1), (500, 2), (300, 2);");
}

BooksWindow::BooksWindow(const QString& populateSql, bool loadNow)
{
    m_path = m_folder.create(QStringLiteral("biblioteca.mdb"), populateSql);
    Modulo1::PercorsoArchivio = m_path;
    Modulo1::CartellaArchivio = m_folder.path() + QLatin1Char('/');
    Modulo1::FileArchivio = QStringLiteral("biblioteca.mdb");
    if (loadNow) {
        load();
    }
}

BooksWindow::~BooksWindow()
{
    m_window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void BooksWindow::load()
{
    m_window = std::make_unique<FrmBiblio>();
    m_window->Form_Load();
    // The floor plan is read on a thread of its own: shown before the test looks.
    pictures::PictureLoader::finishAll();
    m_window->show();
    // Active, as under the user's hands: focus moves between its fields.
    QApplication::setActiveWindow(m_window.get());
    if (!QTest::qWaitForWindowActive(m_window.get(), 2000)) {
        qWarning("the books window did not become active: focus changes will not be seen");
    }
}

FrmBiblio& BooksWindow::window() const
{
    if (!m_window) {
        throw std::runtime_error("the books window is not loaded");
    }
    return *m_window;
}

QWidget* BooksWindow::widget(const QString& name) const
{
    QWidget* w = window().findChild<QWidget*>(name);
    if (!w) {
        throw std::runtime_error("missing control " + name.toStdString());
    }
    return w;
}

QString BooksWindow::text(const QString& name) const
{
    return control<QLineEdit>(name)->text();
}

QStringList BooksWindow::entries(const QString& listName) const
{
    auto* list = control<controls::DBList>(listName);
    QStringList texts;
    for (int r = 0; r < list->model()->rowCount(); ++r) {
        texts << list->model()->index(r, 0).data().toString();
    }
    return texts;
}

void BooksWindow::select(const QString& key) const
{
    control<controls::DBList>(QStringLiteral("DBList1"))->setBoundText(key);
    window().DBList1_Click();
}

NextModal::NextModal(std::function<void(QWidget*)> answer, int timeoutMs)
    : m_answer(std::move(answer)), m_before(QApplication::activeModalWidget()),
      m_deadline(QDateTime::currentMSecsSinceEpoch() + timeoutMs)
{
    // Polled, because the dialog opens inside a nested event loop some time after this.
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &NextModal::poll);
    m_timer.start();
}

void NextModal::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != m_before && modal->isVisible()) {
        m_timer.stop();
        if (const auto* box = qobject_cast<QMessageBox*>(modal)) {
            m_seenText = box->text();
        } else {
            m_seenText = modal->windowTitle();
        }
        m_answered = true;
        m_answer(modal);
        return;
    }
    if (QDateTime::currentMSecsSinceEpoch() > m_deadline) {
        m_timer.stop();
    }
}

ModalWatchdog::ModalWatchdog(int timeoutMs) : m_timeoutMs(timeoutMs)
{
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatchdog::poll);
    m_timer.start();
}

void ModalWatchdog::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (modal != m_modal) {
        m_modal = modal;
        m_since = now;
        return;
    }
    // The progress window of a print run is modal while the run works: it is waited for, not
    // answered, however long a busy machine takes.
    if (!modal || now - m_since < m_timeoutMs || modal->objectName() == QLatin1String("FrmStato")) {
        return;
    }
    const auto* box = qobject_cast<QMessageBox*>(modal);
    const QString text = box ? box->text() : modal->windowTitle();
    QTest::qFail(qPrintable(QStringLiteral("nobody answered the dialog \"%1\"").arg(text)), __FILE__, __LINE__);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
        dialog->done(QDialog::Rejected);
    } else {
        modal->close();
    }
    m_modal = nullptr;
}

} // namespace testsupport
