#pragma once

#include "app/ChildWindows.h"
#include "books/FrmBiblio.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

namespace store {
class PresenceLock;
}

class FrmEditori;
class FrmPrestiti;
class QLabel;
class DailyBackup;
class QLineEdit;
class frmAutori;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QAction;
class QToolBar;

// The main window "Carteo": the frame that holds every other window, with the menus, the
// toolbar, the path of the open archive and today's date.
class MDIForm1 : public QMainWindow {
    Q_OBJECT
  public:
    // The copy of the open archive under way in the background, or the last one.
    DailyBackup* dailyBackup() const { return m_backup; }
    explicit MDIForm1(QWidget* parent = nullptr);
    ~MDIForm1() override;

    // The start-up sequence: finds the archive named in avvio.ini (or asks for one), publishes
    // its path, folder and name, and opens the books window. Run again after "Apri Archivio".
    void MDIForm_Load();
    // Splits the path in Text1 into Modulo1::CartellaArchivio and Modulo1::FileArchivio.
    void TrovaPercoServ();

    void MnuFileApri_Click();
    // Makes an empty archive from the template and works on it for the rest of the run.
    void MnuFileNew_Click();
    // "Esporta…": the list of the window in front (the whole catalogue with none) to a file.
    void MnuFileEsporta_Click();
    // "Importa…": books from a CSV file or a workbook; the open windows show them.
    void MnuFileImporta_Click();
    // "Importa archivio precedente…": the catalogue of an archive of the earlier engine into a new
    // archive, which becomes the open one, through the same steps and preview.
    void MnuFileImportaPrecedente_Click();
    // Writes a copy of the open archive to a file the user names.
    void MnuOpzioniCopia_Click();
    // Repairs the open archive and, on request, compacts it; needs it closed everywhere.
    void MnuOpzioniRipara_Click();
    void MnuOpzioniRipristina_Click();
    // "Impostazioni prestiti": the loan settings dialog, modally.
    void MnuOpzioniPrestiti_Click();
    // "Trasferisci sul server…": the open archive file copied into an empty database on a server,
    // which may become the open archive at once.
    void MnuOpzioniTrasferisci_Click();
    // The labels dialog of the books window, which is opened first when it is not open.
    void MnuOpzioniEtichette_Click();
    // The image import dialog, modally, for the floor plan of the open archive.
    void MnuOpzionInserisci_Click();
    // The about window, modal until it is clicked.
    void mnuabaut_Click();
    // "Guida" (F1): the user guide guida.html of the program folder, in the browser.
    static void openGuide();
    void MnuVisualBiblio_Click();
    // The authors and publishers windows, opened anew each time (closed first when open).
    void MnuVisualAutori_Click();
    void MnuVisualEditori_Click();
    // The loans window: the open one brought forward, or a new one.
    void MnuVisualPrestiti_Click();
    void MnFileEsci_Click();
    // Toolbar buttons are numbered from 1; the even numbers are separators. "Prestiti" (11) stands
    // after "Editori" (5).
    void Toolbar1_ButtonClick(int index);

    // The books window while it is open; nullptr once it is closed.
    FrmBiblio* booksWindow() const;
    frmAutori* authorsWindow() const;
    FrmEditori* publishersWindow() const;
    FrmPrestiti* loansWindow() const;
    // The status line's count of overdue loans of the open archive (nothing when none is late, or
    // when the archive has no loans or cannot be read: the count is a hint, never an error).
    void showOverdueCount();
    QMdiArea* mdiArea() const { return m_area; }

    // How the program ends after the quit guard's Yes (by default the application's event loop
    // is left at once); tests replace it. An empty function restores the default.
    static void setEndProgram(std::function<void()> end);

  protected:
    // The quit guard: whatever closes the window, an open book edit refuses, then a question.
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildMenus();
    void buildToolbar();
    void buildStatusLine();
    void placeAtTopCentre();
    // Steps 5 and 6 of the start-up: reads avvio.ini until it names an existing archive. False
    // when the sequence must end.
    bool findArchive();
    // Why the file named in avvio.ini cannot be worked on (not an archive, damaged, too new), or
    // an empty text when it can; and whether it is a damaged archive with rows a repair can save.
    struct Refusal {
        QString text;
        bool salvageable = false;
    };
    Refusal unusableArchive(const QString& path);
    // Keeps the archive at `path` known as open (shared), so that no other program instance takes
    // it to itself while it is the current one, with or without a record window; an empty path
    // lets the current one go.
    void holdPresence(const QString& path);
    // "Apri Archivio" from inside the start-up; false when the sequence must end.
    bool chooseAnotherArchive();
    // Offers the repair of the damaged archive at `path`, and runs it on a Yes.
    enum class RepairAnswer { Repaired, Declined, Failed };
    RepairAnswer offerRepair(const QString& path);
    void closeDataWindows();
    // Makes the new archive at `path` the open one, as "Nuovo Archivio" does.
    void useNewArchive(const QString& path);
    // After an import: the open lists read their rows again.
    void refreshLists();
    // The image import dialog over the frame, for a photo or the plan as Modulo1::ImportaFoto says;
    // a plan imported is shown at once by the books window when it is open.
    void showImportDialog();
    // Closes the window of `kind` when open (its guard may keep it) and opens it again.
    void reopen(childwindows::Kind kind);
    // Shows the books window, opening it when it is closed; throws store::DbError from its load.
    void showBooksWindow();
    // The start-up's error trap: true when the error is passed over and the sequence goes on.
    bool startupErrorCleared(int number, const QString& description);

    // Archives on a server (MDIForm1Server.cpp).
    // The "Server…" choice of the archive dialogs and the password prompt, set while the window
    // lives.
    void setUpServerChoices(bool on);
    // True when the open archive (or the one being opened) is on a server.
    static bool onServer();
    // Opens the archive at `address` during the start-up; on a failure asks whether to try again,
    // choose another archive or give up.
    enum class ServerAnswer { Opened, Again, End };
    ServerAnswer reachServer(const QString& address);
    // Shows the open archive's name (an address without its password), publishes its folder and
    // name, and enables the commands that depend on where it is.
    void showArchiveName(const QString& path);
    void updateArchiveMenus();
    // "Ripara e Compatta" and "Crea Copia" of an archive on a server.
    void maintainServerArchive();
    void copyServerArchive();

    QMdiArea* m_area;
    QToolBar* Toolbar1;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QMenu* MnuData;
    QAction* MnuOpzioniTrasferisci = nullptr;
    QLabel* LblRitardi = nullptr; // the status line's count of overdue loans
    // The damaged archive the start-up last offered to repair: "Ripara e Compatta" works on it
    // while no archive is open.
    QString m_refused;
    std::unique_ptr<store::PresenceLock> m_presence; // on the current archive

    // Starts today's copy of the open archive in the background, once a day.
    void startDailyBackup();
    void dailyBackupEnded(const QString& archivePath, const QString& error);

    DailyBackup* m_backup = nullptr;
    QStringList m_backupFailuresShown; // archives whose failed copy was told once already

    bool m_inStartup = false;
    bool m_backToOpenArchive = false;
    bool m_ending = false;
};
