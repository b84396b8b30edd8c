#pragma once

#include <QFont>
#include <QImage>
#include <QList>
#include <QPageLayout>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <vector>

namespace printing {

// One item of a printed line: a text, or a jump to a text column.
struct PrintItem {
    int column = 0; // > 0: a jump to this column
    QString text;
};
inline PrintItem col(int n)
{
    return PrintItem{n, {}};
}
inline PrintItem txt(const QString& text)
{
    return PrintItem{0, text};
}

// The page of every printout, in twips (1440 to the inch) from the top-left corner of the printable
// area. A line is printed at the current position as a row of items: a text moves the position
// right by its width; a jump to column n moves it to (n - 1) x the font's average character width,
// or, when the position is already past that, to column n of the next line. After a line the
// position goes to the start of the next one, one line height (of the font then current) lower.
// A line that would not end within the printable area (it would begin below it, or be cut at its
// bottom) begins at the top of a new page; a picture never starts a page and is cut at the page's
// edges, as is text running past the right edge.
//
// The page is laid out here once; what is laid out goes to `place` and `placePicture`, which the
// printer and the recording surface implement. Fonts are measured at 1440 dots per inch, so the
// same line falls on the same twips whatever the output.
class PrintSurface {
  public:
    enum class Orientation { Portrait, Landscape };

    virtual ~PrintSurface();

    // The font of what follows: a name ("Arial", "Courier New", ...), a size in points, bold.
    void setFontName(const QString& name);
    void setFontSize(qreal points);
    void setFontBold(bool bold);
    const QString& fontName() const { return m_fontName; }
    qreal fontSize() const { return m_fontSize; }
    bool fontBold() const { return m_bold; }

    qreal currentY() const { return m_y; }
    void setCurrentY(qreal twips) { m_y = twips; }
    // Takes effect from the next document; the one begun keeps its own.
    void setOrientation(Orientation orientation) { m_orientation = orientation; }
    Orientation orientation() const { return m_orientation; }

    // Prints a line of items; no items prints an empty line.
    void printLine(const QList<PrintItem>& items);
    // Draws a picture into `twips` on the current page.
    void paintPicture(const QImage& picture, const QRectF& twips);

    // Drawing at a place of the page rather than on the line flow (labels). Places are in twips
    // from the printable area's corner, like everything else; what falls outside the area is cut.
    // A black rectangle (a barcode's bar).
    void fillRect(const QRectF& twips);
    // A rectangle's outline, `pen` twips wide, centred on its edges (a label's outline for a test
    // print on plain paper).
    void drawOutline(const QRectF& twips, qreal pen);
    // `text` in the current font with the top-left corner of its line at `topLeft`. Turned, the text
    // reads upwards (turned 90° anticlockwise about `topLeft`): it then covers, on the page, the
    // width of a line height to the right of `topLeft` and the text's width above it.
    void drawText(const QPointF& topLeft, const QString& text, bool turned = false);
    // Where the paper's top-left corner is, from the printable area's corner: zero or negative (the
    // printer's own margins, or the margins of the page layout). Labels are placed by the paper's
    // corner.
    QPointF paperCorner() const;
    // The next line begins at the top of a new page of the document under way. Nothing when no
    // document is begun or nothing was drawn on the current page yet; the new page itself is begun
    // by what is drawn on it next, so a document never ends on an empty page.
    void newPage();
    // Ends the document: its pages go to the printer. What follows begins a new document. Nothing
    // happens when nothing was drawn since the last end: no empty page is sent.
    void endDoc();
    // After the last document of a run: what the output still holds back is delivered (PDF files
    // are put in place only once every copy has been written whole).
    virtual void completeRun() {}
    // Ends the open document without keeping what can still be withdrawn (see the output); the
    // next drawing begins a new document. Used when a run fails half-way.
    void abandonDoc() noexcept;
    // The printer's name, as the print options dialog shows it.
    virtual QString deviceName() const = 0;

    // The size of the printable area of the current orientation, in twips.
    QSizeF pageSize() const;
    // Pages and documents begun so far (a page is begun by what is drawn on it).
    int page() const { return m_page; }
    int documentCount() const { return m_documents; }

    // The measures of the current font in twips.
    qreal averageCharWidth() const;
    qreal lineHeight() const;
    qreal textWidth(const QString& text) const;

  protected:
    PrintSurface();

    // The printable area of a page of this orientation.
    virtual QSizeF printableSize(Orientation orientation) const = 0;
    // A new document begins, on its first page.
    virtual void beginDocument(Orientation orientation) = 0;
    virtual void beginPage() = 0;
    // `font` is sized in twips (its pixel size); `topLeft` is the top of the line at the text's start.
    virtual void place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font) = 0;
    virtual void placePicture(const QImage& picture, const QRectF& twips) = 0;
    virtual void placeRect(const QRectF& twips) = 0;
    virtual void placeOutline(const QRectF& twips, qreal pen) = 0;
    // A text turned 90° anticlockwise about `pivot`, the top-left corner of its line; `ascent` is the
    // font's, from the line's top to its baseline.
    virtual void placeTurned(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font) = 0;
    // The paper's corner from the printable area's, for a page of this orientation.
    virtual QPointF paperCornerOf(Orientation orientation) const = 0;
    virtual void finishDocument() = 0;
    virtual void discardDocument() noexcept = 0;

    // The document begun, begun now when needed.
    void ensureDocument();

  private:
    struct Metrics;
    const Metrics& metrics() const;
    void startNewPage();
    // What is about to be drawn: the document, and the page that newPage() asked for.
    void beginDrawing();

    QString m_fontName = QStringLiteral("Arial");
    qreal m_fontSize = 8;
    bool m_bold = false;
    Orientation m_orientation = Orientation::Portrait;
    Orientation m_documentOrientation = Orientation::Portrait;
    qreal m_x = 0;
    qreal m_y = 0;
    bool m_inDocument = false;
    bool m_drawnOnPage = false; // something was drawn on the current page
    bool m_pagePending = false; // newPage() was asked for; nothing drawn on the new page yet
    int m_page = 0;
    int m_documents = 0;
    mutable std::shared_ptr<Metrics> m_metrics;
    mutable std::vector<std::shared_ptr<Metrics>> m_knownMetrics;
};

// The font a printout names, sized in twips: "Courier New" and "Arial" are what the system offers
// in their place (metric-compatible faces where installed).
QFont printFont(const QString& name, qreal points, bool bold);

// `layout` turned to `orientation`.
QPageLayout orientedLayout(QPageLayout layout, PrintSurface::Orientation orientation);
// The size of the printable area of `layout` in twips.
QSizeF printableTwips(const QPageLayout& layout);
// The paper's corner from the printable area's corner of `layout`, in twips.
QPointF paperCornerTwips(const QPageLayout& layout);

} // namespace printing
