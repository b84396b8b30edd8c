#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QPrinter;
class QWidget;

// The program's file and printer dialogs: open and save for archives (on "*.mdb" files), save for
// PDF files, and the printer set-up. Cancelling any of them throws store::DbError 32755.
namespace dialogs {

// Shows the open dialog in `initialFolder` and returns the chosen path. A typed name that does
// not exist is returned as typed: the caller decides what to do with it. With `offerServer` (and
// a server choice set) the dialog has a "Server…" button too, and the address chosen there is
// returned instead of a file.
QString openArchive(QWidget* parent, const QString& initialFolder, bool offerServer = false);
// Shows the save dialog, which asks before an existing file is replaced.
QString saveArchive(QWidget* parent, const QString& initialFolder, bool offerServer = false);

// What the archive dialogs' "Server…" button asks: the address of an archive on a server, or
// nothing when the user gave up. Set by the main window; an empty function takes the button away.
using ServerChoice = std::function<std::optional<QString>(QWidget* parent)>;
void setServerChoice(ServerChoice choice);

// Shows the save dialog for a PDF file (asking before an existing file is replaced), starting
// with `suggested` (a folder and a name).
QString savePdf(QWidget* parent, const QString& suggested);

// The save dialog of an export, starting with `suggested` (a folder and a name), with the filters
// "File CSV (*.csv)" and "Cartella di Excel (*.xlsx)" (asking before an existing file is
// replaced). A name without ".csv" or ".xlsx" gets the extension of the filter chosen.
QString saveTable(QWidget* parent, const QString& suggested);
// The open dialog of an import in `initialFolder`, with the filters "Tabelle (*.csv *.txt *.xls)"
// and "Tutti i file (*)".
QString openTable(QWidget* parent, const QString& initialFolder);
// `path` with the extension of the filter `filter` ("*.csv" or "*.xlsx") added when it has
// neither ".csv" nor ".xlsx" (any letter case).
QString withTableSuffix(const QString& path, const QString& filter);

// The system's printer set-up on `printer`, showing `copies`: the printer chosen there (or a PDF file, through its
// "print to file" choice) becomes the one the program prints on, with its page settings. Returns
// the number of copies chosen; the printer itself is left at one copy, for the program prints each
// copy as a document of its own. No page range or selection is offered.
int printerSetup(QWidget* parent, QPrinter& printer, int copies = 1);

// For tests: what the next printer set-ups answer instead of showing the dialog.
struct PrinterChoice {
    bool accepted = true;
    int copies = 1;
    QString pdfFile; // chosen as "print to file"; empty: the printer stays as it is
};
void queuePrinterChoice(const PrinterChoice& choice);

// For tests: choices queued here answer the next dialogs in order instead of showing them; an
// empty path is a cancel. Without a queued choice the real dialog is shown. The open, save and PDF
// dialogs share the queue.
void queueChoice(const QString& path);
void clearQueuedChoices();

// While recording is on (tests only), every dialog asked for since the last clear, answered from
// the queue or shown.
void setRecording(bool on);
struct Request {
    bool save = false;
    QString initialFolder;
    bool server = false; // "Server…" was offered
};
QList<Request>& requests();

} // namespace dialogs
