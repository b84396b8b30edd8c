#include "printing/Labels.h"

#include "printing/PrintSurface.h"
#include "store/DbError.h"

#include <QChar>
#include <QPageSize>

#include <algorithm>
#include <cmath>
#include <limits>

namespace printing {
namespace {

constexpr qreal kTwipsPerMm = 1440.0 / 25.4;
// Measures compared to a hundredth of a millimetre: stocks are given to a tenth.
constexpr double kSlack = 0.01;

qreal twipsOf(double mm)
{
    return mm * kTwipsPerMm;
}

LabelStock stock(const QString& name, double pageWidth, double pageHeight, double left, double top, double pitchX,
                 double pitchY, double width, double height, int columns, int rows)
{
    LabelStock s;
    s.name = name;
    s.pageWidth = pageWidth;
    s.pageHeight = pageHeight;
    s.marginLeft = left;
    s.marginTop = top;
    s.pitchX = pitchX;
    s.pitchY = pitchY;
    s.labelWidth = width;
    s.labelHeight = height;
    s.columns = columns;
    s.rows = rows;
    return s;
}

// ------------------------------------------------------------------------------------- Code 39

// The bars and spaces of a Code 39 character, bar first, 1 for a wide element; the digits and the
// start/stop character are all that a book's key needs.
const char* code39Pattern(QChar c)
{
    static const char* const digits[10] = {"000110100", "100100001", "001100001", "101100000", "000110001",
                                           "100110000", "001110000", "000100101", "100100100", "001100100"};
    if (c == QLatin1Char('*')) {
        return "010010100";
    }
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
        return digits[c.unicode() - '0'];
    }
    return nullptr;
}

constexpr int kWide = 3;            // a wide element is three narrow ones
constexpr int kQuiet = 10;          // narrow elements of white on each side of the symbol
constexpr double kMinNarrow = 0.19; // mm: narrower bars are not read back reliably
constexpr double kMaxNarrow = 0.33; // mm: wider only makes the symbol longer
constexpr double kDot = 25.4 / 600; // mm: bars are whole dots of a 300 or 600 dpi printer where they can be
constexpr double kMinBars = 6;      // mm of bar height for a symbol a hand scanner reads
constexpr double kMaxBars = 12;

// The symbol's width in narrow elements, quiet zones included: each character is six narrow and
// three wide elements and a narrow gap, the last without the gap.
int code39Modules(const QString& symbol)
{
    return int(symbol.size()) * (6 + 3 * kWide + 1) - 1 + 2 * kQuiet;
}

// The narrow element's width (mm) for a symbol of `modules` in `width` mm; 0 when it would be too narrow.
double narrowFor(int modules, double width)
{
    const double fit = std::min(width / modules, kMaxNarrow);
    if (fit < kMinNarrow) {
        return 0;
    }
    const double dots = std::floor(fit / kDot + 1e-9) * kDot;
    return dots >= kMinNarrow ? dots : fit;
}

// Draws the bars of `symbol` from `left` (the quiet zone's start), `narrow` twips each narrow one.
void drawCode39(PrintSurface& surface, const QString& symbol, qreal left, qreal top, qreal narrow, qreal height)
{
    qreal x = left + kQuiet * narrow;
    for (const QChar c : symbol) {
        const char* pattern = code39Pattern(c);
        for (int i = 0; i < 9; ++i) {
            const qreal w = pattern[i] == '1' ? kWide * narrow : narrow;
            if (i % 2 == 0) {
                surface.fillRect(QRectF(x, top, w, height));
            }
            x += w;
        }
        x += narrow; // the gap between characters
    }
}

// ------------------------------------------------------------------------------------- texts

// `text` on one line, cut with "…" to `width` twips in the surface's current font.
QString fitted(const PrintSurface& surface, const QString& text, qreal width)
{
    const QString line = text.simplified();
    if (surface.textWidth(line) <= width) {
        return line;
    }
    const QString ellipsis = QStringLiteral("…");
    // The longest beginning that fits with the ellipsis; a character pair (surrogates) is never split.
    qsizetype low = 0, high = line.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (surface.textWidth(line.left(mid) + ellipsis) <= width) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    if (low > 0 && line.at(low - 1).isHighSurrogate()) {
        --low;
    }
    QString cut = line.left(low);
    while (cut.endsWith(QLatin1Char(' '))) {
        cut.chop(1);
    }
    if (cut.isEmpty() && surface.textWidth(ellipsis) > width) {
        return QString();
    }
    return cut + ellipsis;
}

struct Line {
    QString text;
    qreal points = 8;
    bool bold = false;
};

void setFont(PrintSurface& surface, qreal points, bool bold)
{
    surface.setFontName(QStringLiteral("Arial"));
    surface.setFontSize(points);
    surface.setFontBold(bold);
}

// A line centred across `box` at `top`; returns its height.
qreal centredLine(PrintSurface& surface, const QRectF& box, qreal top, const Line& line)
{
    setFont(surface, line.points, line.bold);
    const QString text = fitted(surface, line.text, box.width());
    const qreal width = surface.textWidth(text);
    surface.drawText(QPointF(box.left() + (box.width() - width) / 2, top), text);
    return surface.lineHeight();
}

qreal lineHeightOf(PrintSurface& surface, qreal points, bool bold)
{
    setFont(surface, points, bold);
    return surface.lineHeight();
}

// ------------------------------------------------------------------------------------- labels

// The space kept clear inside a label's edges: labels are cut with some play around them.
constexpr double kPadding = 1.5; // mm

void bookLabel(PrintSurface& surface, const QRectF& label, const LabelOptions& options, const LabelBook& book)
{
    const QRectF box = label.adjusted(twipsOf(kPadding), twipsOf(kPadding), -twipsOf(kPadding), -twipsOf(kPadding));
    if (box.isEmpty()) {
        return;
    }
    const QString digits = QString::number(book.key);
    const QString symbol = QLatin1Char('*') + digits + QLatin1Char('*');

    // The barcode first: it is what the label is for. Then the shelf mark, the title and the
    // library's name while there is room, in that order.
    qreal room = box.height();
    const qreal digitsHeight = lineHeightOf(surface, 8, false);
    double narrow = 0;
    if (options.barcode) {
        narrow = narrowFor(code39Modules(symbol), box.width() / kTwipsPerMm);
        // A label too small for bars that can be read (too narrow for bars of 0.19 mm, or too low
        // for 6 mm of them), or a key the code cannot write (a negative one): the key in digits
        // alone, which the desk can still type in.
        const bool writable = std::all_of(symbol.begin(), symbol.end(), [](QChar c) { return code39Pattern(c); });
        if (!writable || narrow == 0 || room < twipsOf(kMinBars) + digitsHeight) {
            narrow = 0;
        }
        room -= digitsHeight + (narrow > 0 ? twipsOf(kMinBars) : 0);
    }
    QList<Line> lines; // top to bottom
    const auto take = [&](const QString& text, qreal points, bool bold, bool first) {
        if (text.trimmed().isEmpty()) {
            return;
        }
        const qreal height = lineHeightOf(surface, points, bold);
        if (height > room) {
            return;
        }
        room -= height;
        const Line line{text, points, bold};
        if (first) {
            lines.prepend(line);
        } else {
            lines.append(line);
        }
    };
    if (options.position) {
        take(book.position, 9, true, false);
    }
    if (options.title) {
        take(book.title, 8, false, true);
    }
    take(options.libraryName, 7, true, true);

    qreal y = box.top();
    for (const Line& line : lines) {
        y += centredLine(surface, box, y, line);
    }
    if (!options.barcode) {
        return;
    }
    if (narrow > 0) {
        const qreal bars = std::min<qreal>(twipsOf(kMaxBars), twipsOf(kMinBars) + room);
        const qreal narrowTwips = twipsOf(narrow);
        const qreal width = code39Modules(symbol) * narrowTwips;
        drawCode39(surface, symbol, box.left() + (box.width() - width) / 2, y, narrowTwips, bars);
        y += bars;
    }
    centredLine(surface, box, y, Line{digits, 8, false});
}

// The shelf mark alone, in the largest type that fits the label (turned: along its height).
void spineLabel(PrintSurface& surface, const QRectF& label, const LabelOptions& options, const LabelBook& book)
{
    const QString mark = book.position.simplified();
    if (mark.isEmpty()) {
        return;
    }
    const QRectF box = label.adjusted(twipsOf(1), twipsOf(1), -twipsOf(1), -twipsOf(1));
    const qreal along = options.turned ? box.height() : box.width();
    const qreal across = options.turned ? box.width() : box.height();
    // Whole and half points down from a size that no label exceeds.
    qreal points = 72;
    setFont(surface, points, true);
    while (points > 6 && (surface.textWidth(mark) > along || surface.lineHeight() > across)) {
        points -= points > 20 ? 1 : 0.5;
        setFont(surface, points, true);
    }
    const QString text = fitted(surface, mark, along);
    const qreal width = surface.textWidth(text);
    const qreal height = surface.lineHeight();
    if (options.turned) {
        // Reading upwards: the line's top-left corner is at the bottom left of what it covers.
        surface.drawText(QPointF(box.left() + (box.width() - height) / 2, box.bottom() - (box.height() - width) / 2),
                         text, true);
    } else {
        surface.drawText(QPointF(box.left() + (box.width() - width) / 2, box.top() + (box.height() - height) / 2),
                         text);
    }
}

} // namespace

QString LabelStock::problem() const
{
    if (columns < 1 || rows < 1) {
        return QStringLiteral("Indicare almeno una riga e una colonna di etichette.");
    }
    if (!(pageWidth > 0) || !(pageHeight > 0)) {
        return QStringLiteral("Indicare la larghezza e l'altezza del foglio.");
    }
    if (!(labelWidth > 0) || !(labelHeight > 0)) {
        return QStringLiteral("Indicare la larghezza e l'altezza dell'etichetta.");
    }
    if (marginLeft < 0 || marginTop < 0) {
        return QStringLiteral("I margini non possono essere negativi.");
    }
    if (columns > 1 && pitchX + kSlack < labelWidth) {
        return QStringLiteral("Le etichette si sovrappongono: il passo orizzontale è minore della larghezza.");
    }
    if (rows > 1 && pitchY + kSlack < labelHeight) {
        return QStringLiteral("Le etichette si sovrappongono: il passo verticale è minore dell'altezza.");
    }
    if (marginLeft + (columns - 1) * pitchX + labelWidth > pageWidth + kSlack) {
        return QStringLiteral("Le etichette escono dal foglio a destra.");
    }
    if (marginTop + (rows - 1) * pitchY + labelHeight > pageHeight + kSlack) {
        return QStringLiteral("Le etichette escono dal foglio in basso.");
    }
    return QString();
}

const QList<LabelStock>& standardStocks()
{
    // Margins as the sheets are cut: the labels centred on A4 (the 3×8 and 3×7 sheets run edge to
    // edge across). The label printer's roll gives 62 mm wide labels, cut 29 mm long.
    static const QList<LabelStock> stocks = {
        stock(QStringLiteral("3×8 70×37 mm"), 210, 297, 0, 0.5, 70, 37, 70, 37, 3, 8),
        stock(QStringLiteral("3×7 70×42.3 mm"), 210, 297, 0, 0.45, 70, 42.3, 70, 42.3, 3, 7),
        stock(QStringLiteral("2×7 99.1×38.1 mm"), 210, 297, 4.65, 15.15, 101.6, 38.1, 99.1, 38.1, 2, 7),
        stock(QStringLiteral("4×10 48.5×25.4 mm"), 210, 297, 8, 21.5, 48.5, 25.4, 48.5, 25.4, 4, 10),
        stock(QStringLiteral("Etichettatrice 62×29 mm"), 62, 29, 0, 0, 62, 29, 62, 29, 1, 1),
    };
    return stocks;
}

QPageLayout labelPage(const LabelStock& stock)
{
    const QPageSize paper(QSizeF(stock.pageWidth, stock.pageHeight), QPageSize::Millimeter, QString(),
                          QPageSize::ExactMatch);
    return QPageLayout(paper, QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter);
}

QRectF labelRect(const LabelStock& stock, int index)
{
    const int columns = std::max(1, stock.columns);
    const int column = index % columns;
    const int row = index / columns;
    return QRectF(stock.marginLeft + column * stock.pitchX, stock.marginTop + row * stock.pitchY, stock.labelWidth,
                  stock.labelHeight);
}

void printLabels(PrintSurface& surface, Progress& progress, const LabelStock& stock, const LabelOptions& options,
                 const QList<LabelBook>& books)
{
    if (const QString problem = stock.problem(); !problem.isEmpty()) {
        throw store::DbError(store::ErrInvalidProcedure, problem);
    }
    const int perSheet = stock.perSheet();
    if (options.start < 0 || options.start >= perSheet) {
        throw store::DbError(store::ErrInvalidProcedure,
                             QStringLiteral("La prima etichetta libera deve essere tra 1 e %1.").arg(perSheet));
    }
    const int copies = std::max(1, options.copies);
    const qint64 total = qint64(books.size()) * copies;
    progress.begin(int(std::min<qint64>(total, std::numeric_limits<int>::max())));
    int slot = options.start;
    for (const LabelBook& book : books) {
        for (int copy = 0; copy < copies; ++copy) {
            if (slot == perSheet) {
                surface.newPage();
                slot = 0;
            }
            // By the paper's corner: what falls in the printer's own margins is cut.
            const QRectF mm = labelRect(stock, slot);
            const QRectF label(surface.paperCorner() + mm.topLeft() * kTwipsPerMm, mm.size() * kTwipsPerMm);
            if (options.outline) {
                surface.drawOutline(label, 4); // a fifth of a point
            }
            if (options.spine) {
                spineLabel(surface, label, options, book);
            } else {
                bookLabel(surface, label, options, book);
            }
            ++slot;
            progress.step();
        }
    }
}

} // namespace printing
