#pragma once

#include "printing/PrintSurface.h"
#include "printing/Progress.h"

#include <QPageLayout>
#include <QString>

#include <functional>
#include <optional>

class QPrinter;
class QWidget;

// The print run that the print buttons of the books, authors and publishers windows share: the
// options dialog, the printer set-up, the progress window, and the copies, each a document of its
// own headed by the logo when asked for.
namespace printing {

// Why a run stopped when its window read its list again while it printed.
inline const QString kListReadAgain =
    QStringLiteral("La stampa è stata interrotta: l'elenco della finestra è stato letto di nuovo mentre si stampava.");

// The answers of the options dialog (Modulo1::SceltaStampa).
enum Choice { GiveUp = 0, Print = 1, SetUp = 2, Preview = 3, Pdf = 4 };

struct PrintRequest {
    QWidget* window = nullptr;   // the window whose button was pressed
    QWidget* list = nullptr;     // its main list: given the focus when nothing is selected in it
    bool nothingSelected = false;
    bool cardChoice = false;     // "STAMPA SCHEDA": the dialog offers "Tutti"/"Corrente"
    PrintSurface::Orientation orientation = PrintSurface::Orientation::Portrait;
    QString documentName;        // the name a PDF file is offered under
    // One copy's content, at the position the logo left. Reads what it prints itself.
    std::function<void(PrintSurface&, Progress&)> content;
    // The run's own page (labels: the sheet's paper without margins, see labelPage()); without one,
    // the printer's. The PDF files take it whole; the printer takes its paper and the narrowest
    // margins it allows, and goes back to its own page when the run is over.
    std::optional<QPageLayout> page;
    // The logo heads each copy when the program asks for it (Modulo1::StampaLogo); never on labels.
    bool logo = true;
    // Runs when the pages are done (or the user stopped the run), after the progress window
    // closed; not after a failure, which leaves the window as it was.
    std::function<void()> after;
};

// Runs the print run; returns when it is over. Throws store::DbError (shown by the handler's
// guard) when the set-up dialog is cancelled, no printer is there, or the output or the archive
// fails; the progress window is then closed and nothing else is changed.
void runPrint(const PrintRequest& request);

// One copy on `surface`: the logo when asked for (Modulo1::StampaLogo), then the content; ends the
// document. Without a progress window, for output made without a user watching.
void printCopy(PrintSurface& surface, const PrintRequest& request, Progress& progress);

// The logo: "logo.jpg" in the program folder drawn at 800, 50 twips at its size on the screen;
// the text begins at 1234 twips whether or not the file is there.
void printLogo(PrintSurface& surface);

// The printer the program prints on: the system's default until the set-up chooses another; and
// the number of copies chosen there (1 until then). Both last until the program ends.
QPrinter& currentPrinter();
int copies();
// The dialog's caption: the printer's name, the PDF file chosen as its output, or that there is none.
QString printerCaption();

// For tests: copies printed with "Stampa" go to `surface` instead of the printer (nullptr: the
// printer again); and the printer and copies back to what they are at start-up.
void setSurfaceForTests(PrintSurface* surface);
void resetPrinter();

} // namespace printing
