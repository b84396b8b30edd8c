#include "printing/PdfDocument.h"

#include <QDateTime>
#include <QFontInfo>
#include <QGlyphRun>
#include <QIODevice>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>
#include <QTimeZone>

#include <turbojpeg.h>
#include <zlib.h>

#include <array>
#include <cmath>

namespace printing {

// The compressor of the streams, made once for the whole document: making one costs more than
// compressing a page with it.
struct PdfDeflate {
    z_stream z{};
    bool ready = false;
    PdfDeflate() { ready = deflateInit(&z, 1) == Z_OK; }
    ~PdfDeflate()
    {
        if (ready) {
            deflateEnd(&z);
        }
    }
};

namespace {

// The objects every document has, by number.
constexpr int kCatalog = 1;
constexpr int kPageTree = 2;
constexpr int kFontResources = 3;
constexpr int kInfo = 4;

constexpr size_t kBufferSize = 1 << 20;

const char* const kStandardNames[8] = {"Courier",   "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
                                       "Helvetica", "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique"};

void appendInt(std::string& s, qint64 v)
{
    char digits[24];
    char* p = digits + sizeof digits;
    const bool negative = v < 0;
    quint64 u = negative ? quint64(-v) : quint64(v);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (negative) {
        *--p = '-';
    }
    s.append(p, size_t(digits + sizeof digits - p));
}

// `v` thousandths as a decimal number, without trailing zeros: 12345 is "12.345", -500 "-0.5".
void appendMilli(std::string& s, qint64 v)
{
    if (v < 0) {
        s.push_back('-');
        v = -v;
    }
    appendInt(s, v / 1000);
    int fraction = int(v % 1000);
    if (fraction == 0) {
        return;
    }
    char digits[4] = {'.', char('0' + fraction / 100), char('0' + fraction / 10 % 10), char('0' + fraction % 10)};
    size_t n = 4;
    while (digits[n - 1] == '0') {
        --n;
    }
    s.append(digits, n);
}

qint64 milli(qreal v)
{
    return qint64(std::llround(v * 1000));
}

// Twips to thousandths of a point.
qint64 milliPoints(qreal twips)
{
    return qint64(std::llround(twips * 50));
}

// The byte of `c` in the Windows character set (WinAnsiEncoding) that the standard faces are
// written in; 0 when it has none. Controls have none: they are not drawn as they are.
uchar winAnsi(char16_t c)
{
    if (c >= 0x20 && c < 0x7f) {
        return uchar(c);
    }
    if (c >= 0xa0 && c <= 0xff) {
        return uchar(c);
    }
    switch (c) {
    case 0x20ac: return 0x80;
    case 0x201a: return 0x82;
    case 0x0192: return 0x83;
    case 0x201e: return 0x84;
    case 0x2026: return 0x85;
    case 0x2020: return 0x86;
    case 0x2021: return 0x87;
    case 0x02c6: return 0x88;
    case 0x2030: return 0x89;
    case 0x0160: return 0x8a;
    case 0x2039: return 0x8b;
    case 0x0152: return 0x8c;
    case 0x017d: return 0x8e;
    case 0x2018: return 0x91;
    case 0x2019: return 0x92;
    case 0x201c: return 0x93;
    case 0x201d: return 0x94;
    case 0x2022: return 0x95;
    case 0x2013: return 0x96;
    case 0x2014: return 0x97;
    case 0x02dc: return 0x98;
    case 0x2122: return 0x99;
    case 0x0161: return 0x9a;
    case 0x203a: return 0x9b;
    case 0x0153: return 0x9c;
    case 0x017e: return 0x9e;
    case 0x0178: return 0x9f;
    default: return 0;
    }
}

// The character a code of the Windows character set stands for (0 for the codes it leaves unused).
char16_t unicodeOfWinAnsi(uchar code)
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (char32_t c = 0x20; c <= 0xffff; ++c) {
            if (const uchar b = winAnsi(char16_t(c)); b != 0 && t[b] == 0) {
                t[b] = char16_t(c);
            }
        }
        return t;
    }();
    return table[code];
}

void appendHex(std::string& s, uint v, int digits)
{
    static const char hex[] = "0123456789ABCDEF";
    for (int i = digits - 1; i >= 0; --i) {
        s.push_back(hex[(v >> (4 * i)) & 0xf]);
    }
}

// A text string of the document's information, as UTF-16 with its byte order mark.
std::string infoText(const QString& text)
{
    std::string s = "<FEFF";
    for (const QChar c : text) {
        appendHex(s, c.unicode(), 4);
    }
    s += '>';
    return s;
}

} // namespace

// A font of glyph outlines (Type 3) for the glyphs of one face, up to 255 of them: each is drawn by
// a procedure of its own, and named by the characters it stands for so that readers find the text.
struct PdfDocument::OutlineFont {
    QString face;
    QRawFont raw; // the face at 1000 pixels: one glyph unit is one thousandth of the text's size
    int index = 0;
    QHash<quint64, int> codes; // glyph (and for the missing glyph, the character above) to code
    std::vector<int> procedures;
    std::vector<qint64> widths; // in thousandths of a glyph unit
    std::vector<QString> characters;
    QRectF box;
};

PdfDocument::PdfDocument(QIODevice& out, const QPageLayout& layout) : m_out(out), m_deflate(std::make_unique<PdfDeflate>())
{
    m_buffer.reserve(kBufferSize + 64 * 1024);
    const QRectF media = layout.fullRect(QPageLayout::Point);
    const QRectF area = layout.paintRect(QPageLayout::Point);
    m_mediaWidth = milli(media.width());
    m_mediaHeight = milli(media.height());
    m_areaLeft = milli(area.left());
    m_areaTop = m_mediaHeight - milli(area.top());
    m_areaWidth = milli(area.width());
    m_areaHeight = milli(area.height());
    for (int object = 1; object <= kInfo; ++object) {
        newObject();
    }
    put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    newPage();
}

PdfDocument::~PdfDocument() = default;

int PdfDocument::newObject()
{
    if (m_objectOffsets.empty()) {
        m_objectOffsets.push_back(0); // object 0 is the head of the free list
    }
    m_objectOffsets.push_back(-1);
    return int(m_objectOffsets.size() - 1);
}

void PdfDocument::beginObject(int object)
{
    m_objectOffsets[size_t(object)] = m_offset;
    std::string head;
    appendInt(head, object);
    head += " 0 obj\n";
    put(head);
}

void PdfDocument::put(std::string_view bytes)
{
    m_offset += qint64(bytes.size());
    if (m_failed) {
        return;
    }
    if (bytes.size() >= kBufferSize) {
        flushOut();
        if (!m_failed && m_out.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())) {
            m_failed = true;
        }
        return;
    }
    m_buffer.append(bytes);
    if (m_buffer.size() >= kBufferSize) {
        flushOut();
    }
}

void PdfDocument::flushOut()
{
    if (!m_failed && !m_buffer.empty() && m_out.write(m_buffer.data(), qint64(m_buffer.size())) != qint64(m_buffer.size())) {
        m_failed = true;
    }
    m_buffer.clear();
}

void PdfDocument::writeStream(int object, const std::string& dictionary, const char* data, size_t size, bool compress)
{
    const char* body = data;
    size_t length = size;
    if (compress && m_deflate->ready) {
        z_stream& z = m_deflate->z;
        deflateReset(&z);
        m_packed.resize(deflateBound(&z, uLong(size)));
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z.avail_in = uInt(size);
        z.next_out = reinterpret_cast<Bytef*>(m_packed.data());
        z.avail_out = uInt(m_packed.size());
        if (deflate(&z, Z_FINISH) == Z_STREAM_END) {
            body = m_packed.data();
            length = m_packed.size() - z.avail_out;
        } else {
            compress = false;
        }
    } else {
        compress = false;
    }
    beginObject(object);
    std::string head = "<< ";
    head += dictionary;
    head += " /Length ";
    appendInt(head, qint64(length));
    if (compress) {
        head += " /Filter /FlateDecode";
    }
    head += " >>\nstream\n";
    put(head);
    put(std::string_view(body, length));
    put("\nendstream\nendobj\n");
}

void PdfDocument::newPage()
{
    if (m_pageOpen) {
        endPage();
    }
    m_pageOpen = true;
    m_content.clear();
    m_pageImages.clear();
    m_inText = false;
    m_fontKind = -1;
    // Drawn from the top-left corner of the printable area, y going up; nothing outside the area.
    m_content += "q\n1 0 0 1 ";
    appendMilli(m_content, m_areaLeft);
    m_content += ' ';
    appendMilli(m_content, m_areaTop);
    m_content += " cm\n0 ";
    appendMilli(m_content, -m_areaHeight);
    m_content += ' ';
    appendMilli(m_content, m_areaWidth);
    m_content += ' ';
    appendMilli(m_content, m_areaHeight);
    m_content += " re W n\n";
}

void PdfDocument::endPage()
{
    closeText();
    m_content += "Q\n";
    const int contents = newObject();
    writeStream(contents, std::string(), m_content.data(), m_content.size(), true);
    const int page = newObject();
    beginObject(page);
    std::string s = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 ";
    appendMilli(s, m_mediaWidth);
    s += ' ';
    appendMilli(s, m_mediaHeight);
    s += "] /Resources << /Font 3 0 R";
    if (!m_pageImages.empty()) {
        s += " /XObject <<";
        for (const int image : m_pageImages) {
            s += " /I";
            appendInt(s, image);
            s += ' ';
            appendInt(s, image);
            s += " 0 R";
        }
        s += " >>";
    }
    s += " >> /Contents ";
    appendInt(s, contents);
    s += " 0 R >>\nendobj\n";
    put(s);
    m_pageObjects.push_back(page);
    m_pageOpen = false;
    m_content.clear();
}

void PdfDocument::openText()
{
    if (!m_inText) {
        m_content += "BT\n";
        m_inText = true;
        m_lineX = 0;
        m_lineY = 0;
    }
}

void PdfDocument::closeText()
{
    if (m_inText) {
        m_content += "ET\n";
        m_inText = false;
    }
}

void PdfDocument::moveTo(qint64 x, qint64 y)
{
    openText();
    appendMilli(m_content, x - m_lineX);
    m_content += ' ';
    appendMilli(m_content, y - m_lineY);
    m_content += " Td ";
    m_lineX = x;
    m_lineY = y;
}

void PdfDocument::setFont(int kind, int index, qint64 size)
{
    if (kind == m_fontKind && index == m_fontIndex && size == m_fontSize) {
        return;
    }
    m_content += kind == 0 ? "/F" : "/T";
    appendInt(m_content, index);
    m_content += ' ';
    appendMilli(m_content, size);
    m_content += " Tf\n";
    m_fontKind = kind;
    m_fontIndex = index;
    m_fontSize = size;
}

int PdfDocument::standardFaceOf(const QFont& font)
{
    if (m_lastFont == &font && m_lastFontCopy == font) {
        return m_lastFace;
    }
    int face = -1;
    for (const auto& [known, index] : m_faces) {
        if (known == font) {
            face = index;
            break;
        }
    }
    if (face < 0) {
        // The fixed-pitch faces ("Courier New" and what stands in for it) have Courier's widths,
        // the others (Arial's) Helvetica's.
        face = (QFontInfo(font).fixedPitch() ? 0 : 4) + (font.bold() ? 1 : 0) + (font.italic() ? 2 : 0);
        m_faces.emplace_back(font, face);
        if (!m_standardMeasured[face]) {
            m_standardMeasured[face] = true;
            m_standardFonts[face] = font;
        }
    }
    m_lastFont = &font;
    m_lastFontCopy = font;
    m_lastFace = face;
    return face;
}

bool PdfDocument::appendWinAnsi(const QString& text)
{
    m_content += '(';
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c < 0x80 && c >= 0x20 && c != 0x7f) {
            if (c == '(' || c == ')' || c == '\\') {
                m_content += '\\';
            }
            m_content += char(c);
            continue;
        }
        const uchar b = winAnsi(c);
        if (b == 0) {
            return false;
        }
        m_content += char(b);
    }
    m_content += ") Tj\n";
    return true;
}

void PdfDocument::text(qreal x, qreal baseline, const QString& text, const QFont& font)
{
    const int face = standardFaceOf(font);
    const size_t before = m_content.size();
    const bool wasInText = m_inText;
    const qint64 lineX = m_lineX, lineY = m_lineY;
    const int fontKind = m_fontKind, fontIndex = m_fontIndex;
    const qint64 fontSize = m_fontSize;
    setFont(0, face, qint64(font.pixelSize()) * 50);
    moveTo(milliPoints(x), -milliPoints(baseline));
    if (appendWinAnsi(text)) {
        m_standardUsed[face] = true;
        return;
    }
    // Not in the standard faces' characters: taken back and drawn as outlines.
    m_content.resize(before);
    m_inText = wasInText;
    m_lineX = lineX;
    m_lineY = lineY;
    m_fontKind = fontKind;
    m_fontIndex = fontIndex;
    m_fontSize = fontSize;
    outlineText(x, baseline, text, font);
}

void PdfDocument::outlineText(qreal x, qreal baseline, const QString& text, const QFont& font)
{
    // Laid out as the system lays out a text drawn at a point: left to right as a whole, each run of
    // characters in the face that holds them.
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    // Tab stops every 1000 twips, where a printer page (1200 dots an inch) puts them.
    option.setTabStopDistance(1000);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (!line.isValid()) {
        return;
    }
    const qreal ascent = line.ascent();
    // The characters that no face holds, in order: each is drawn as the face's missing-glyph box,
    // which is given the character's own code so that readers still find the text.
    QStringList unheld;
    int nextUnheld = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        for (const QGlyphRun& run : layout.glyphRuns(int(i), int(n))) {
            if (run.glyphIndexes().contains(0u)) {
                unheld << text.mid(i, n);
                break;
            }
        }
        i += n;
    }
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRawFont raw = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        if (!raw.isValid() || glyphs.isEmpty()) {
            continue;
        }
        const QString face = raw.familyName() + QLatin1Char('|') + raw.styleName() + QLatin1Char('|') +
                             QString::number(raw.weight()) + QLatin1Char('|') + QString::number(int(raw.style()));
        // The characters each glyph stands for, as far as the face's own table tells.
        // A letter followed by a combining mark is often drawn as the one glyph of the composed letter.
        QHash<quint32, QString> named;
        const QString composed = text.normalized(QString::NormalizationForm_C);
        for (const QString& chars : {text, composed}) {
            for (qsizetype i = 0; i < chars.size();) {
                const qsizetype n = chars.at(i).isHighSurrogate() && i + 1 < chars.size() ? 2 : 1;
                quint32 glyph = 0;
                int found = 1;
                if (raw.glyphIndexesForChars(chars.constData() + i, int(n), &glyph, &found) && found == 1 &&
                    glyph != 0 && !named.contains(glyph)) {
                    named.insert(glyph, chars.mid(i, n));
                }
                i += n;
            }
        }
        const qint64 size = milliPoints(raw.pixelSize());
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            const quint32 glyph = glyphs.at(i);
            QString name = named.value(glyph);
            if (glyph == 0 && nextUnheld < unheld.size()) {
                name = unheld.at(nextUnheld++);
            }
            // The missing-glyph box has a code for each character it stands for.
            const quint64 key = glyph == 0 && !name.isEmpty() ? (quint64(name.toUcs4().value(0)) << 32) : glyph;
            OutlineFont* target = nullptr;
            int code = 0;
            for (const auto& f : m_outlineFonts) {
                if (f->face == face) {
                    if (const auto it = f->codes.constFind(key); it != f->codes.cend()) {
                        target = f.get();
                        code = it.value();
                        break;
                    }
                    if (f->codes.size() < 255) {
                        target = f.get();
                    }
                }
            }
            if (code == 0) {
                if (!target) {
                    auto f = std::make_unique<OutlineFont>();
                    f->face = face;
                    f->raw = raw;
                    f->raw.setPixelSize(1000);
                    f->index = int(m_outlineFonts.size());
                    m_outlineFonts.push_back(std::move(f));
                    target = m_outlineFonts.back().get();
                }
                code = int(target->codes.size()) + 1;
                target->codes.insert(key, code);
                // The glyph's procedure: its advance and box, then its outline filled.
                const QPainterPath path = target->raw.pathForGlyph(glyph);
                QPointF advance;
                target->raw.advancesForGlyphIndexes(&glyph, &advance, 1, QRawFont::UseDesignMetrics);
                const QRectF box = path.boundingRect();
                std::string proc;
                appendMilli(proc, milli(advance.x()));
                proc += " 0 ";
                if (path.isEmpty()) {
                    proc += "0 0 0 0 d1\n";
                } else {
                    for (const qreal v : {box.left(), -box.bottom(), box.right(), -box.top()}) {
                        appendMilli(proc, milli(v));
                        proc += ' ';
                    }
                    proc += "d1\n";
                    for (int e = 0; e < path.elementCount(); ++e) {
                        const QPainterPath::Element el = path.elementAt(e);
                        const auto point = [&proc](const QPainterPath::Element& p) {
                            appendMilli(proc, milli(p.x));
                            proc += ' ';
                            appendMilli(proc, milli(-p.y));
                            proc += ' ';
                        };
                        if (el.isMoveTo()) {
                            point(el);
                            proc += "m\n";
                        } else if (el.isLineTo()) {
                            point(el);
                            proc += "l\n";
                        } else if (el.isCurveTo() && e + 2 < path.elementCount()) {
                            point(el);
                            point(path.elementAt(e + 1));
                            point(path.elementAt(e + 2));
                            proc += "c\n";
                            e += 2;
                        }
                    }
                    proc += "f\n";
                    target->box = target->box.united(QRectF(box.left(), -box.bottom(), box.width(), box.height()));
                }
                const int object = newObject();
                writeStream(object, std::string(), proc.data(), proc.size(), true);
                target->procedures.push_back(object);
                target->widths.push_back(milli(advance.x()));
                target->characters.push_back(name);
            }
            const QPointF at = positions.at(i);
            setFont(1, target->index, size);
            moveTo(milliPoints(x + at.x()), -milliPoints(baseline + at.y() - ascent));
            m_content += '<';
            appendHex(m_content, uint(code), 2);
            m_content += "> Tj\n";
        }
    }
}

int PdfDocument::imageObject(const QImage& picture)
{
    if (const auto it = m_imagesByKey.constFind(picture.cacheKey()); it != m_imagesByKey.cend()) {
        return it.value();
    }
    const int object = newObject();
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    const int height = rgb.height();
    std::string dictionary = "/Type /XObject /Subtype /Image /Width ";
    appendInt(dictionary, width);
    dictionary += " /Height ";
    appendInt(dictionary, height);
    dictionary += " /ColorSpace /DeviceRGB /BitsPerComponent 8";
    if (picture.hasAlphaChannel()) {
        // The transparent parts let the page show through: a mask of the picture's opacity.
        const QImage alpha = picture.convertToFormat(QImage::Format_Alpha8);
        std::string levels;
        levels.reserve(size_t(width) * size_t(height));
        for (int y = 0; y < height; ++y) {
            levels.append(reinterpret_cast<const char*>(alpha.constScanLine(y)), size_t(width));
        }
        const int mask = newObject();
        std::string maskDictionary = "/Type /XObject /Subtype /Image /Width ";
        appendInt(maskDictionary, width);
        maskDictionary += " /Height ";
        appendInt(maskDictionary, height);
        maskDictionary += " /ColorSpace /DeviceGray /BitsPerComponent 8";
        writeStream(mask, maskDictionary, levels.data(), levels.size(), true);
        dictionary += " /SMask ";
        appendInt(dictionary, mask);
        dictionary += " 0 R";
    }
    // A photograph as a JPEG stream (a tenth of its pixels' size), as the photos themselves are kept.
    bool written = false;
    if (tjhandle jpeg = tjInitCompress()) {
        unsigned char* data = nullptr;
        unsigned long size = 0;
        if (tjCompress2(jpeg, rgb.constBits(), width, int(rgb.bytesPerLine()), height, TJPF_RGB, &data, &size, TJSAMP_420, 94,
                        TJFLAG_ACCURATEDCT) == 0) {
            writeStream(object, dictionary + " /Filter /DCTDecode", reinterpret_cast<const char*>(data), size_t(size), false);
            written = true;
        }
        tjFree(data);
        tjDestroy(jpeg);
    }
    if (!written) {
        std::string pixels;
        pixels.reserve(size_t(width) * size_t(height) * 3);
        for (int y = 0; y < height; ++y) {
            pixels.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), size_t(width) * 3);
        }
        writeStream(object, dictionary, pixels.data(), pixels.size(), true);
    }
    m_imagesByKey.insert(picture.cacheKey(), object);
    return object;
}

void PdfDocument::image(const QImage& picture, const QRectF& twips)
{
    if (picture.isNull() || twips.isEmpty()) {
        return;
    }
    const int object = imageObject(picture);
    if (std::find(m_pageImages.begin(), m_pageImages.end(), object) == m_pageImages.end()) {
        m_pageImages.push_back(object);
    }
    closeText();
    m_fontKind = -1; // the font set within the text object stays, but is set again to be sure
    m_content += "q ";
    appendMilli(m_content, milliPoints(twips.width()));
    m_content += " 0 0 ";
    appendMilli(m_content, milliPoints(twips.height()));
    m_content += ' ';
    appendMilli(m_content, milliPoints(twips.left()));
    m_content += ' ';
    appendMilli(m_content, -milliPoints(twips.bottom()));
    m_content += " cm /I";
    appendInt(m_content, object);
    m_content += " Do Q\n";
}

void PdfDocument::rect(const QRectF& twips)
{
    closeText();
    // Places are from the printable area's top-left corner, y going up.
    appendMilli(m_content, milliPoints(twips.left()));
    m_content += ' ';
    appendMilli(m_content, -milliPoints(twips.bottom()));
    m_content += ' ';
    appendMilli(m_content, milliPoints(twips.width()));
    m_content += ' ';
    appendMilli(m_content, milliPoints(twips.height()));
    m_content += " re f\n";
}

void PdfDocument::outline(const QRectF& twips, qreal pen)
{
    closeText();
    m_content += "q ";
    appendMilli(m_content, milliPoints(pen));
    m_content += " w ";
    appendMilli(m_content, milliPoints(twips.left()));
    m_content += ' ';
    appendMilli(m_content, -milliPoints(twips.bottom()));
    m_content += ' ';
    appendMilli(m_content, milliPoints(twips.width()));
    m_content += ' ';
    appendMilli(m_content, milliPoints(twips.height()));
    m_content += " re S Q\n";
}

void PdfDocument::turnedText(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font)
{
    closeText();
    // The text is written as an upright one in a frame turned about the pivot; the frame and the
    // font set within it end with it.
    m_content += "q 0 1 -1 0 ";
    appendMilli(m_content, milliPoints(pivot.x()));
    m_content += ' ';
    appendMilli(m_content, -milliPoints(pivot.y()));
    m_content += " cm\n";
    m_fontKind = -1;
    this->text(0, ascent, text, font);
    closeText();
    m_content += "Q\n";
    m_fontKind = -1;
}

void PdfDocument::writeFonts()
{
    std::string resources = "<<";
    for (int face = 0; face < 8; ++face) {
        if (!m_standardUsed[face]) {
            continue;
        }
        const int object = newObject();
        beginObject(object);
        std::string s = "<< /Type /Font /Subtype /Type1 /BaseFont /";
        s += kStandardNames[face];
        s += " /Encoding /WinAnsiEncoding";
        // The widths of the face the printout was measured with, so that every character lands
        // where the layout put it (the standard faces' own widths differ in the thousandths).
        QRawFont raw = QRawFont::fromFont(m_standardFonts[face]);
        if (raw.isValid()) {
            raw.setPixelSize(1000);
            s += " /FirstChar 32 /LastChar 255 /Widths [";
            for (int code = 32; code <= 255; ++code) {
                const QChar c(unicodeOfWinAnsi(uchar(code)));
                quint32 glyph = 0;
                int found = 1;
                QPointF advance;
                if (!c.isNull() && raw.glyphIndexesForChars(&c, 1, &glyph, &found) && found == 1 && glyph != 0) {
                    raw.advancesForGlyphIndexes(&glyph, &advance, 1, QRawFont::UseDesignMetrics);
                }
                appendMilli(s, milli(advance.x()));
                s += code % 16 == 15 ? '\n' : ' ';
            }
            s += ']';
        }
        s += " >>\nendobj\n";
        put(s);
        resources += " /F";
        appendInt(resources, face);
        resources += ' ';
        appendInt(resources, object);
        resources += " 0 R";
    }
    for (const auto& f : m_outlineFonts) {
        const int count = int(f->procedures.size());
        // What the codes stand for, for readers that take the text out.
        std::string cmap = "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                           "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
                           "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
                           "1 begincodespacerange\n<00> <FF>\nendcodespacerange\n";
        std::vector<int> named;
        for (int code = 1; code <= count; ++code) {
            if (!f->characters[size_t(code - 1)].isEmpty()) {
                named.push_back(code);
            }
        }
        for (size_t i = 0; i < named.size(); i += 100) {
            const size_t n = std::min<size_t>(100, named.size() - i);
            appendInt(cmap, qint64(n));
            cmap += " beginbfchar\n";
            for (size_t j = i; j < i + n; ++j) {
                cmap += '<';
                appendHex(cmap, uint(named[j]), 2);
                cmap += "> <";
                for (const QChar c : f->characters[size_t(named[j] - 1)]) {
                    appendHex(cmap, c.unicode(), 4);
                }
                cmap += ">\n";
            }
            cmap += "endbfchar\n";
        }
        cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
        const int toUnicode = newObject();
        writeStream(toUnicode, std::string(), cmap.data(), cmap.size(), true);

        const int object = newObject();
        beginObject(object);
        std::string s = "<< /Type /Font /Subtype /Type3 /FontBBox [";
        for (const qreal v : {f->box.left(), f->box.top(), f->box.right(), f->box.bottom()}) {
            appendInt(s, qint64(std::floor(v)));
            s += ' ';
        }
        s += "] /FontMatrix [0.001 0 0 0.001 0 0] /Resources << >> /CharProcs <<";
        for (int code = 1; code <= count; ++code) {
            s += " /g";
            appendInt(s, code);
            s += ' ';
            appendInt(s, f->procedures[size_t(code - 1)]);
            s += " 0 R";
        }
        s += " >> /Encoding << /Type /Encoding /Differences [1";
        for (int code = 1; code <= count; ++code) {
            s += " /g";
            appendInt(s, code);
        }
        s += "] >> /FirstChar 1 /LastChar ";
        appendInt(s, count);
        s += " /Widths [";
        for (const qint64 w : f->widths) {
            appendMilli(s, w);
            s += ' ';
        }
        s += "] /ToUnicode ";
        appendInt(s, toUnicode);
        s += " 0 R >>\nendobj\n";
        put(s);
        resources += " /T";
        appendInt(resources, f->index);
        resources += ' ';
        appendInt(resources, object);
        resources += " 0 R";
    }
    resources += " >>\nendobj\n";
    beginObject(kFontResources);
    put(resources);
}

void PdfDocument::finish()
{
    if (m_pageOpen) {
        endPage();
    }
    writeFonts();

    std::string tree = "<< /Type /Pages /Count ";
    appendInt(tree, qint64(m_pageObjects.size()));
    tree += " /Kids [";
    for (const int page : m_pageObjects) {
        appendInt(tree, page);
        tree += " 0 R ";
    }
    tree += "] >>\nendobj\n";
    beginObject(kPageTree);
    put(tree);

    beginObject(kCatalog);
    put("<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");

    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc() / 60;
    const QString date = now.toString(QStringLiteral("'D:'yyyyMMddHHmmss")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
                         QStringLiteral("%1'%2'").arg(qAbs(offset) / 60, 2, 10, QLatin1Char('0')).arg(qAbs(offset) % 60, 2, 10, QLatin1Char('0'));
    beginObject(kInfo);
    put("<< /Producer " + infoText(QStringLiteral("Carteo")) + " /Creator " + infoText(QStringLiteral("Carteo")) +
        " /CreationDate (" + date.toStdString() + ") >>\nendobj\n");

    const qint64 xref = m_offset;
    std::string table = "xref\n0 ";
    appendInt(table, qint64(m_objectOffsets.size()));
    table += "\n0000000000 65535 f \n";
    for (size_t object = 1; object < m_objectOffsets.size(); ++object) {
        char entry[21];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n \n", static_cast<long long>(m_objectOffsets[object]));
        table.append(entry, 20);
    }
    table += "trailer\n<< /Size ";
    appendInt(table, qint64(m_objectOffsets.size()));
    table += " /Root 1 0 R /Info 4 0 R >>\nstartxref\n";
    appendInt(table, xref);
    table += "\n%%EOF\n";
    put(table);
    flushOut();
}

} // namespace printing
