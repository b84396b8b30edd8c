#pragma once

// What the window tests share: a program folder with archives in a temporary folder, a clean
// slate for the shell's process-wide state, and an answer for the next modal dialog.

#include "support/StoreSupport.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <stdexcept>

class MDIForm1;
class QAction;

class FrmBiblio;
class QWidget;

namespace controls {
class DBList;
}

namespace testsupport {

// A temporary program folder with archivio/ (the empty template and the default archive,
// both made by the program's own schema code) and foto/. The program looks here for avvio.ini
// and its archives while the object lives. On a server (CARTEO_TEST_SERVER), the archives that
// createArchive() makes are databases of that server, dropped with the folder; the template and
// the default archive stay files, as on a desk whose archive is on a server.
class ProgramFolder {
  public:
    ProgramFolder();
    ~ProgramFolder();
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    QString defaultArchive() const;

    // Creates an archive at `relative` (inside the program folder) and runs `populateSql` on
    // it; returns its full path, or on a server the address of a new database.
    QString createArchive(const QString& relative, const QString& populateSql = {});

  private:
    QTemporaryDir m_dir;
    ArchiveFolder m_databases;
    bool m_valid = false;
};

// The whole program in a temporary program folder, started on an archive of its own
// ("archivio/prova.mdb" made with `populateSql`, or on a server a database whose pictures are in
// the program folder): avvio.ini names it, and the main window is shown
// and loaded as at a start. `beforeStart` runs before the main window exists (a clock set for the
// test), `afterEnd` once it is gone.
class ProgramFrame {
  public:
    explicit ProgramFrame(const QString& populateSql, std::function<void()> beforeStart = {},
                          std::function<void()> afterEnd = {});
    virtual ~ProgramFrame();
    ProgramFrame(const ProgramFrame&) = delete;
    ProgramFrame& operator=(const ProgramFrame&) = delete;

    // A menu item or toolbar action of the main window by name; throws when there is none.
    QAction* action(const QString& name) const;

    ProgramFolder folder;
    QString path;
    std::unique_ptr<MDIForm1> main;

  private:
    std::function<void()> m_afterEnd;
};

// Forgets queued message answers, queued file choices, recorded texts and the process-wide
// settings, so one test's leftovers never answer the next test's dialogs.
void resetShellState();

// A books window on an archive of its own in a temporary folder, loaded and shown, with its
// controls found by name. A missing control throws, which fails the running test only (see
// TestMain.h).
class BooksWindow {
  public:
    // Four books with their publishers and authors: Zeta (500: ROMANZO, MONDADORI, two authors),
    // Èlite (700: SAGGIO, no publisher), edera (900: publisher 77, which does not exist) and
    // Elefanti (300: EINAUDI, one author), titled in mixed case.
    static QString catalogue();

    // Makes the archive with `populateSql` and points the process-wide settings at it; with `load`
    // the window is made, loaded and shown at once.
    explicit BooksWindow(const QString& populateSql = catalogue(), bool load = true);
    ~BooksWindow();
    BooksWindow(const BooksWindow&) = delete;
    BooksWindow& operator=(const BooksWindow&) = delete;

    // Makes, loads and shows the window (when it was not loaded at construction).
    void load();
    FrmBiblio& window() const;
    const QString& path() const { return m_path; }
    const ArchiveFolder& folder() const { return m_folder; }

    QWidget* widget(const QString& name) const;
    template <typename T> T* control(const QString& name) const
    {
        T* c = qobject_cast<T*>(widget(name));
        if (!c) {
            throw std::runtime_error("the control " + name.toStdString() + " is not of the expected kind");
        }
        return c;
    }
    // The text of a line edit.
    QString text(const QString& name) const;
    // The texts of a bound list's entries, in order.
    QStringList entries(const QString& listName) const;
    // Selects the title with `key` in the list and shows it, as a click on it does.
    void select(const QString& key) const;

  private:
    ArchiveFolder m_folder;
    QString m_path;
    std::unique_ptr<FrmBiblio> m_window;
};

// Answers the next modal dialog: from a zero-timer it waits for a new
// QApplication::activeModalWidget() and hands it to `answer`, which closes it (presses a
// button, accepts or rejects). Gives up after `timeoutMs`; answered() then stays false.
class NextModal : public QObject {
  public:
    explicit NextModal(std::function<void(QWidget*)> answer, int timeoutMs = 5000);
    bool answered() const { return m_answered; }
    // The dialog's text as it was on screen (a message box's text, a dialog's title).
    const QString& seenText() const { return m_seenText; }

  private:
    void poll();

    std::function<void(QWidget*)> m_answer;
    QTimer m_timer;
    QPointer<QWidget> m_before;
    qint64 m_deadline = 0;
    bool m_answered = false;
    QString m_seenText;
};

// Fails the running test and closes a modal dialog that nobody answers within `timeoutMs`, so a
// forgotten answer fails at once with the dialog's text instead of hanging until the CTest
// timeout. Keep one alive for the whole test program.
class ModalWatchdog : public QObject {
  public:
    explicit ModalWatchdog(int timeoutMs = 10000);

  private:
    void poll();

    QTimer m_timer;
    QPointer<QWidget> m_modal;
    qint64 m_since = 0;
    int m_timeoutMs;
};

} // namespace testsupport
