#include "printing/PrintRun.h"

#include "app/FileDialogs.h"
#include "app/Twips.h"
#include "app/Guard.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "pictures/PictureReader.h"
#include "printing/FrmStato.h"
#include "printing/PdfSurface.h"
#include "printing/PrinterSurface.h"
#include "printing/frmstampa.h"
#include "store/DbError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QStandardPaths>

#include <memory>

namespace printing {
namespace {

struct PrinterState {
    std::unique_ptr<QPrinter> printer;
    int copies = 1;
    PrintSurface* testSurface = nullptr;
    QString pdfFolder; // where the last PDF was saved, for the next one
};

PrinterState& state()
{
    static PrinterState s;
    return s;
}

void forgetPrinter()
{
    state().printer.reset();
}

void prepareSurface(PrintSurface& surface, const PrintRequest& request)
{
    surface.setFontName(QStringLiteral("Arial"));
    surface.setFontBold(false);
    surface.setFontSize(8);
    surface.setOrientation(request.orientation);
}

// Every copy on `surface`, with the progress window shown; the window is closed at the end, and
// `after` runs when the run did not fail.
void printCopies(PrintSurface& surface, const PrintRequest& request)
{
    auto progress = std::make_unique<FrmStato>();
    progress->Form_Load();
    const auto close = [&] {
        progress->Form_Unload();
        progress.reset();
    };
    try {
        prepareSurface(surface, request);
        const int count = copies();
        try {
            for (int copy = 1; copy <= count; ++copy) {
                // "Interrompi" pressed as the last copy ended is answered before the next begins.
                if (copy > 1 && progress->answerUser()) {
                    break;
                }
                progress->setCopy(copy, count);
                printCopy(surface, request, *progress);
            }
        } catch (const Interrupted&) {
            // The document under way was ended with what it had; the copies after it are not printed.
        }
        surface.completeRun();
    } catch (...) {
        surface.abandonDoc();
        // The window is not read again: the run moved nothing in it, and an archive that failed
        // (busy, say) would only be waited for once more, its error hidden behind the run's.
        close();
        throw;
    }
    close();
    if (request.after) {
        request.after();
    }
}

// The page a run's PDF file is written on.
QPageLayout pdfPage(const PrintRequest& request)
{
    return request.page ? *request.page : currentPrinter().pageLayout();
}

// While it lives, the printer is on the run's own page, when the run has one: its paper, and its
// margins as narrow as the printer allows (the labels are placed by the paper's corner, and what
// falls in the printer's own margins is cut). The printer's page comes back after the run.
class RunPage {
  public:
    RunPage(QPrinter& printer, const PrintRequest& request) : m_printer(printer), m_saved(printer.pageLayout())
    {
        if (!request.page) {
            return;
        }
        m_changed = true;
        m_printer.setPageSize(request.page->pageSize());
        m_printer.setPageOrientation(request.page->orientation());
        if (!m_printer.setPageMargins(request.page->margins(QPageLayout::Millimeter), QPageLayout::Millimeter)) {
            // Narrower than the printer prints: its own margins, the narrowest it has.
            m_printer.setPageMargins(m_printer.pageLayout().minimumMargins(), m_printer.pageLayout().units());
        }
    }
    ~RunPage()
    {
        if (m_changed) {
            m_printer.setPageLayout(m_saved);
        }
    }
    RunPage(const RunPage&) = delete;
    RunPage& operator=(const RunPage&) = delete;

  private:
    QPrinter& m_printer;
    QPageLayout m_saved;
    bool m_changed = false;
};

void printOnPrinter(const PrintRequest& request)
{
    if (state().testSurface) {
        printCopies(*state().testSurface, request);
        return;
    }
    QPrinter& printer = currentPrinter();
    // Where no printer is installed the printer is a PDF file with no name until the set-up names one.
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        PdfSurface surface(printer.outputFileName(), request.page ? *request.page : printer.pageLayout());
        printCopies(surface, request);
        return;
    }
    if (printer.outputFormat() == QPrinter::PdfFormat || printer.printerName().isEmpty() || !printer.isValid()) {
        throw store::DbError(kErrPrinter,
                             QStringLiteral("Nessuna stampante disponibile.\rScegliere una stampante con \"Imposta\", "
                                            "oppure salvare la stampa in un file con \"PDF...\"."));
    }
    const RunPage page(printer, request);
    PrinterSurface surface(printer);
    printCopies(surface, request);
}

void printToPdf(const PrintRequest& request)
{
    QString folder = state().pdfFolder;
    if (folder.isEmpty()) {
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    const QString name = (request.documentName.isEmpty() ? QStringLiteral("Stampa") : request.documentName) +
                         QStringLiteral(".pdf");
    const QString path = dialogs::savePdf(request.window, QDir(folder).filePath(name));
    state().pdfFolder = QFileInfo(path).absolutePath();
    PdfSurface surface(path, pdfPage(request));
    printCopies(surface, request);
}

void preview(const PrintRequest& request)
{
    // A printer of its own: what the preview's own print dialog chooses (copies, a file) does not
    // become the program's printer.
    QPrinter printer(QPrinter::HighResolution);
    const QPrinter& chosen = currentPrinter();
    if (chosen.outputFormat() == QPrinter::NativeFormat) {
        printer.setPrinterName(chosen.printerName());
    }
    printer.setPageLayout(chosen.pageLayout());
    const RunPage page(printer, request); // the preview's own printer: kept to the run's page
    printer.setPageOrientation(request.orientation == PrintSurface::Orientation::Landscape ? QPageLayout::Landscape
                                                                                          : QPageLayout::Portrait);
    QPrintPreviewDialog dialog(&printer, request.window);
    dialog.setObjectName(QStringLiteral("Anteprima"));
    dialog.setWindowTitle(QStringLiteral("Anteprima di stampa"));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&request](QPrinter* target) {
        // One copy, as it will be printed; the preview's own print button prints it.
        guard::run([&] {
            // Printed from the preview into a file: written safely, as the "PDF..." button writes.
            const bool toFile = target->outputFormat() == QPrinter::PdfFormat && !target->outputFileName().isEmpty();
            std::unique_ptr<PrintSurface> output;
            if (toFile) {
                output = std::make_unique<PdfSurface>(target->outputFileName(), target->pageLayout());
            } else {
                output = std::make_unique<PrinterSurface>(*target);
            }
            PrintSurface& surface = *output;
            PrintRequest once = request;
            once.after = nullptr;
            auto progress = std::make_unique<FrmStato>();
            progress->Form_Load();
            try {
                prepareSurface(surface, once);
                printCopy(surface, once, *progress);
            } catch (const Interrupted&) {
            }
            surface.completeRun();
            progress->Form_Unload();
        });
    });
    dialog.resize(900, 700);
    dialog.exec();
}

} // namespace

QPrinter& currentPrinter()
{
    PrinterState& s = state();
    if (!s.printer) {
        s.printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        s.printer->setCopyCount(1);
        // The printer goes before the application does.
        static const bool registered = [] {
            qAddPostRoutine(forgetPrinter);
            return true;
        }();
        Q_UNUSED(registered);
    }
    return *s.printer;
}

int copies()
{
    return state().copies;
}

QString printerCaption()
{
    const QPrinter& printer = currentPrinter();
    if (printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty()) {
        return QStringLiteral("PDF: ") + QDir::toNativeSeparators(printer.outputFileName());
    }
    if (printer.printerName().isEmpty()) {
        return QStringLiteral("Nessuna stampante");
    }
    return printer.printerName();
}

void printLogo(PrintSurface& surface)
{
    const QString path = paths::join(paths::programFolder(), QStringLiteral("logo.jpg"));
    if (QFileInfo(path).isFile()) {
        // Read as every picture of the program is: a JPEG file under the decoder's limits, never by
        // Qt's own JPEG reader, which decodes a hostile file for minutes.
        const QImage logo = pictures::readForDisplay(path, QSize()).image;
        if (!logo.isNull()) {
            surface.paintPicture(logo, QRectF(800, 50, logo.width() * twips::kPerPixel, logo.height() * twips::kPerPixel));
        }
    }
    surface.setCurrentY(1234);
}

void printCopy(PrintSurface& surface, const PrintRequest& request, Progress& progress)
{
    try {
        if (request.logo && Modulo1::StampaLogo) {
            printLogo(surface);
        }
        if (request.content) {
            request.content(surface, progress);
        }
    } catch (const Interrupted&) {
        surface.endDoc();
        throw;
    }
    surface.endDoc();
}

void runPrint(const PrintRequest& request)
{
    if (request.nothingSelected && request.list) {
        request.list->setFocus();
    }
    for (;;) {
        {
            frmstampa dialog(request.window, request.cardChoice, printerCaption());
            dialog.exec();
        }
        switch (Modulo1::SceltaStampa) {
        case SetUp:
            state().copies = dialogs::printerSetup(request.window, currentPrinter(), state().copies);
            continue;
        case Print:
            printOnPrinter(request);
            return;
        case Preview:
            preview(request);
            return;
        case Pdf:
            printToPdf(request);
            return;
        default:
            return;
        }
    }
}

void setSurfaceForTests(PrintSurface* surface)
{
    state().testSurface = surface;
}

void resetPrinter()
{
    PrinterState& s = state();
    s.printer.reset();
    s.copies = 1;
    s.testSurface = nullptr;
    s.pdfFolder.clear();
}

} // namespace printing
