#pragma once

#include <QFont>
#include <QHash>
#include <QImage>
#include <QPageLayout>
#include <QRectF>
#include <QString>

#include <memory>
#include <string>
#include <vector>

class QIODevice;

namespace printing {

// A PDF document written as it is drawn, page after page, onto a device: what a page holds goes out
// when the next page begins, so memory does not grow with the document.
//
// Texts are written in the standard faces that every PDF reader has ("Courier New" as Courier, the
// others as Helvetica, each bold or oblique as asked), which need no embedding and have the widths
// of the faces the printouts are measured with; a text is one operator in them when the Windows
// character set (WinAnsiEncoding) holds each of its characters. Any other text (Greek, Cyrillic,
// ideographs, marks, controls...) is laid out by the system as it draws it on the screen, and each of
// its glyphs is drawn as the outline of the face that the system chose, through fonts of outlines
// (Type 3) that name the characters, so that readers still find the text.
//
// Places are in twips from the top-left corner of the page's printable area; what falls outside
// that area is cut at its edges.
class PdfDocument {
  public:
    // `layout` gives the page's size, orientation and margins.
    PdfDocument(QIODevice& out, const QPageLayout& layout);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    void newPage();
    // `font` is sized in twips (its pixel size); `x` is where the text begins, `baseline` its baseline.
    void text(qreal x, qreal baseline, const QString& text, const QFont& font);
    void image(const QImage& picture, const QRectF& twips);
    // A black rectangle; a rectangle's outline `pen` twips wide.
    void rect(const QRectF& twips);
    void outline(const QRectF& twips, qreal pen);
    // A text turned 90° anticlockwise about `pivot` (the top-left corner of its line), reading upwards;
    // `ascent` is the distance from the line's top to its baseline.
    void turnedText(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font);
    // Writes what is still held and the file's closing parts; what the device does next (a flush)
    // is the caller's.
    void finish();

    // A write to the device failed: the document is not whole, and nothing more is written.
    bool failed() const { return m_failed; }
    int pages() const { return int(m_pageObjects.size()); }

  private:
    struct StandardFace;
    struct OutlineFont;

    int newObject();
    void beginObject(int object);
    void put(std::string_view bytes);
    void flushOut();
    void writeStream(int object, const std::string& dictionary, const char* data, size_t size, bool compress);
    void endPage();
    void openText();
    void closeText();
    void moveTo(qint64 x, qint64 y);
    void setFont(int kind, int index, qint64 size);
    int standardFaceOf(const QFont& font);
    bool appendWinAnsi(const QString& text);
    void outlineText(qreal x, qreal baseline, const QString& text, const QFont& font);
    int imageObject(const QImage& picture);
    void writeFonts();

    QIODevice& m_out;
    std::string m_buffer; // written out when large
    qint64 m_offset = 0;  // bytes written so far, the buffer's included
    bool m_failed = false;
    std::vector<qint64> m_objectOffsets; // by object number; -1: not yet written

    // The page geometry, in thousandths of a point.
    qint64 m_mediaWidth = 0;
    qint64 m_mediaHeight = 0;
    qint64 m_areaLeft = 0;
    qint64 m_areaTop = 0; // from the media's bottom edge
    qint64 m_areaWidth = 0;
    qint64 m_areaHeight = 0;

    std::vector<int> m_pageObjects;
    bool m_pageOpen = false;
    std::string m_content;        // the open page's content
    std::vector<int> m_pageImages; // the images the open page shows
    bool m_inText = false;
    qint64 m_lineX = 0; // where the last text line began, in thousandths of a point
    qint64 m_lineY = 0;
    int m_fontKind = -1; // 0: standard, 1: outlines
    int m_fontIndex = -1;
    qint64 m_fontSize = -1;

    // The standard faces used (by the PDF name's index), and the faces seen (fonts to faces).
    bool m_standardUsed[8] = {};
    bool m_standardMeasured[8] = {};
    QFont m_standardFonts[8]; // the font each standard face first stood for, whose widths it takes
    const QFont* m_lastFont = nullptr;
    QFont m_lastFontCopy;
    int m_lastFace = 0;
    std::vector<std::pair<QFont, int>> m_faces;

    std::vector<std::unique_ptr<OutlineFont>> m_outlineFonts;

    QHash<qint64, int> m_imagesByKey;    // an image's cache key to its object
    QHash<QByteArray, int> m_imagesByBits; // a digest of an image's pixels to its object

    std::unique_ptr<struct PdfDeflate> m_deflate;
    std::string m_packed; // the compressed content of a stream
};

} // namespace printing
