#pragma once

#include "printing/Progress.h"

#include <QList>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <QStringList>

namespace printing {

class PrintSurface;

// Sheets of adhesive labels, in millimetres from the paper's top-left corner: the page, the first
// label's corner (margins), the distance from one label's corner to the next (pitch) and the
// label's own size; labels go left to right, then top to bottom.
struct LabelStock {
    QString name;        // "3×8 70×37 mm", ... or the name the user saved a custom stock under
    double pageWidth = 210, pageHeight = 297;
    double marginLeft = 0, marginTop = 0;
    double pitchX = 70, pitchY = 37;
    double labelWidth = 70, labelHeight = 37;
    int columns = 3, rows = 8;

    int perSheet() const { return columns * rows; }
    // Labels inside the page, not overlapping, at least one row and column: empty when sound,
    // else what is wrong, in Italian ("Le etichette escono dal foglio a destra.").
    QString problem() const;
};

// The stocks offered, in this order: 3×8 70×37 mm, 3×7 70×42.3 mm, 2×7 99.1×38.1 mm,
// 4×10 48.5×25.4 mm on A4, and one label 62 mm wide for a label printer.
const QList<LabelStock>& standardStocks();

// The page of a label run (PrintRequest::page): the stock's paper, upright, without margins; labels
// are placed by the paper's corner (PrintSurface::paperCorner), so a printer's own margins only cut
// what falls in them.
QPageLayout labelPage(const LabelStock& stock);

// The rectangle of label `index` (0-based, within one sheet) in millimetres from the paper's corner.
QRectF labelRect(const LabelStock& stock, int index);

// One book's label.
struct LabelBook {
    qint64 key = 0;
    QString title;
    QString position; // the shelf mark: POSIZIONE, or POSIZIONE_ATTUALE when the first is empty
};

// What each label holds and how the run goes.
struct LabelOptions {
    bool barcode = true;     // Code 39 of the key, vector bars with quiet zones, the key in digits under it
    bool title = true;       // one line, cut with "…" to fit
    bool position = true;    // the shelf mark
    QString libraryName;     // a first line when not empty
    bool spine = false;      // spine label: the shelf mark alone, in large type
    bool turned = false;     // spine label turned 90° for narrow spines
    bool outline = false;    // each label's outline, for a test print on plain paper
    int copies = 1;          // labels per book
    int start = 0;           // the first free label of the first sheet (0-based)
};

// Prints the labels of `books` (each `copies` times, in order) from label `start` of the first
// sheet on, a new page per sheet; the progress counts labels and may stop the run (Interrupted).
void printLabels(PrintSurface& surface, Progress& progress, const LabelStock& stock, const LabelOptions& options,
                 const QList<LabelBook>& books);

} // namespace printing
