#include "printing/PrinterSurface.h"

#include "store/DbError.h"
#include "store/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QGlyphRun>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QRawFont>
#include <QSaveFile>
#include <QVarLengthArray>

#include <cerrno>
#include <cmath>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace printing {
namespace {

// Whether a character is drawn as its face's glyph for it, at the place after the one before,
// whatever surrounds it: no mark to set on another glyph, no right-to-left order, no control.
bool standsAlone(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= 0x20 && u < 0x7f) {
        return true;
    }
    switch (c.category()) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return false;
    default:
        break;
    }
    switch (c.direction()) {
    case QChar::DirL:
    case QChar::DirEN:
    case QChar::DirES:
    case QChar::DirET:
    case QChar::DirCS:
    case QChar::DirWS:
    case QChar::DirON:
        break;
    default:
        return false;
    }
    switch (c.script()) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
        return true;
    default:
        return false;
    }
}

// The error of a PDF file that was not written whole (asked while what was written of it is still
// on the disk). A full disk is told as such; the file's own error does not always say it, as when the
// disk filled in the middle of a write, so the folder is asked too.
store::DbError notWritten(const QFileDevice& file)
{
    const QString path = QDir::toNativeSeparators(file.fileName());
    const QString why = file.errorString();
    if (file.error() == QFileDevice::ResourceError || why == qt_error_string(ENOSPC) ||
        store::folders::writeProblem(QFileInfo(file.fileName()).absolutePath()) == store::folders::Problem::Full) {
        return store::DbError(store::ErrDiskFull,
                              QStringLiteral("Il disco è pieno: il file PDF \"%1\" non è stato scritto.").arg(path));
    }
    return store::DbError(store::ErrPathFileAccess,
                          QStringLiteral("Impossibile scrivere il file PDF \"%1\": %2").arg(path, why));
}

// While output is made, the memory the program frees stays with it. The PDF writer allocates and
// frees the buffers of every page it writes (its text and its compressor, some hundreds of
// kilobytes); by default the C library hands that memory back to the system after each page and
// has it faulted in and cleared again for the next, which cost more than writing the pages. The
// defaults come back when the last output ends, and what was kept is handed back then.
void keepFreedMemory(bool keep)
{
#if defined(__GLIBC__)
    static int outputs = 0;
    constexpr int kDefaultThreshold = 128 * 1024;
    if (keep && outputs++ == 0) {
        mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
    } else if (!keep && --outputs == 0) {
        mallopt(M_MMAP_THRESHOLD, kDefaultThreshold);
        mallopt(M_TRIM_THRESHOLD, kDefaultThreshold);
        malloc_trim(0);
    }
#else
    Q_UNUSED(keep);
#endif
}

} // namespace

struct PrinterSurface::Open {
    std::unique_ptr<QSaveFile> file;
    std::unique_ptr<QPdfWriter> writer;
    QPagedPaintDevice* device = nullptr;
    QPainter painter;
    QRectF page; // the printable area, in twips
    QFont font;
    bool fontSet = false;
    bool runs = false; // the output takes runs of glyphs (a PDF)
};

// A face of the printouts with what drawing its texts as glyphs needs.
struct PrinterSurface::Face {
    QFont font;
    QRawFont raw;
    bool runs = false; // fixed pitch: its texts can be drawn as runs of glyphs
};

struct PrinterSurface::Run {
    const Face* face = nullptr;
    QList<quint32> glyphs;
    QList<QPointF> positions; // each glyph's place on the baseline, in twips
};

PrinterSurface::PrinterSurface(QPrinter& printer)
    : m_printer(&printer), m_layout(printer.pageLayout()), m_run(std::make_unique<Run>())
{
    keepFreedMemory(true);
}

PrinterSurface::PrinterSurface(const QString& pdfPath, const QPageLayout& layout)
    : m_pdfPath(pdfPath), m_layout(layout), m_run(std::make_unique<Run>())
{
    keepFreedMemory(true);
}

PrinterSurface::~PrinterSurface()
{
    discardDocument();
    // Copies never completed: the files that were there stay.
    for (const auto& file : m_written) {
        file->cancelWriting();
    }
    keepFreedMemory(false);
}

void PrinterSurface::completeRun()
{
    std::vector<std::unique_ptr<QSaveFile>> written = std::move(m_written);
    for (size_t i = 0; i < written.size(); ++i) {
        if (!written[i]->commit()) {
            const store::DbError error = notWritten(*written[i]);
            for (size_t j = i + 1; j < written.size(); ++j) {
                written[j]->cancelWriting();
            }
            throw error;
        }
    }
}

QString PrinterSurface::deviceName() const
{
    return m_printer ? m_printer->printerName() : QDir::toNativeSeparators(m_pdfPath);
}

QString PrinterSurface::pdfFileOf(const QString& pdfPath, int n)
{
    if (n <= 1) {
        return pdfPath;
    }
    const QFileInfo info(pdfPath);
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(" (%1)").arg(n) + suffix);
}

QPageLayout PrinterSurface::layoutOf(Orientation orientation) const
{
    QPageLayout layout = m_layout;
    layout.setOrientation(orientation == Orientation::Landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    return layout;
}

QSizeF PrinterSurface::printableSize(Orientation orientation) const
{
    return layoutOf(orientation).paintRect(QPageLayout::Point).size() * 20.0;
}

void PrinterSurface::beginDocument(Orientation orientation)
{
    ++m_documentNumber;
    auto open = std::make_unique<Open>();
    const QPageLayout layout = layoutOf(orientation);
    if (m_printer) {
        m_printer->setPageLayout(layout);
        open->device = m_printer;
        if (!open->painter.begin(m_printer)) {
            const QString name = m_printer->printerName();
            throw store::DbError(kErrPrinter, name.isEmpty()
                                                  ? QStringLiteral("Nessuna stampante disponibile: impossibile stampare.")
                                                  : QStringLiteral("Impossibile stampare sulla stampante \"%1\": "
                                                                   "la stampante non risponde o non è disponibile.")
                                                        .arg(name));
        }
    } else {
        const QString path = pdfFileOf(m_pdfPath, m_documentNumber);
        open->file = std::make_unique<QSaveFile>(path);
        if (!open->file->open(QIODevice::WriteOnly)) {
            throw store::DbError(store::ErrPathFileAccess,
                                 QStringLiteral("Impossibile scrivere il file PDF \"%1\": %2")
                                     .arg(QDir::toNativeSeparators(path), open->file->errorString()));
        }
        open->writer = std::make_unique<QPdfWriter>(open->file.get());
        open->writer->setCreator(QStringLiteral("Carteo"));
        open->writer->setPageLayout(layout);
        open->device = open->writer.get();
        if (!open->painter.begin(open->writer.get())) {
            throw store::DbError(store::ErrPathFileAccess,
                                 QStringLiteral("Impossibile scrivere il file PDF \"%1\".").arg(QDir::toNativeSeparators(path)));
        }
    }
    open->page = QRectF(QPointF(0, 0), layout.paintRect(QPageLayout::Point).size() * 20.0);
    // Runs of glyphs only where they are known to be written as they are given: a preview, for
    // one, would draw them as outlines.
    open->runs = open->painter.paintEngine() && open->painter.paintEngine()->type() == QPaintEngine::Pdf;
    m_open = std::move(open);
    prepareDevice();
}

void PrinterSurface::prepareDevice()
{
    // The painter draws in twips from the top-left corner of the printable area; what runs past
    // the area's edges is cut there.
    QPainter& p = m_open->painter;
    p.resetTransform();
    p.scale(m_open->device->logicalDpiX() / 1440.0, m_open->device->logicalDpiY() / 1440.0);
    p.setClipRect(m_open->page);
    p.setPen(Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    m_open->fontSet = false;
}

void PrinterSurface::beginPage()
{
    drawRun();
    if (!m_open->device->newPage()) {
        throw store::DbError(kErrPrinter, QStringLiteral("Impossibile iniziare una nuova pagina su \"%1\".").arg(deviceName()));
    }
    prepareDevice();
}

const PrinterSurface::Face& PrinterSurface::faceOf(const QFont& font)
{
    for (const std::unique_ptr<Face>& face : m_faces) {
        if (face->font == font) {
            return *face;
        }
    }
    auto face = std::make_unique<Face>();
    face->font = font;
    face->raw = QRawFont::fromFont(font);
    face->runs = face->raw.isValid() && QFontInfo(font).fixedPitch();
    m_faces.push_back(std::move(face));
    return *m_faces.back();
}

bool PrinterSurface::addToRun(const Face& face, const QPointF& origin, const QString& text)
{
    const int n = int(text.size());
    for (const QChar c : text) {
        if (!standsAlone(c)) {
            return false;
        }
    }
    QVarLengthArray<quint32, 256> glyphs(n);
    int found = n;
    if (!face.raw.glyphIndexesForChars(text.constData(), n, glyphs.data(), &found) || found != n) {
        return false;
    }
    for (const quint32 glyph : glyphs) {
        if (glyph == 0) {
            return false; // a character the face lacks: the system finds another face for it
        }
    }
    QVarLengthArray<QPointF, 256> advances(n);
    if (!face.raw.advancesForGlyphIndexes(glyphs.data(), advances.data(), n, QRawFont::UseDesignMetrics)) {
        return false;
    }
    if (m_run->face != &face) {
        drawRun();
        m_run->face = &face;
    }
    // Where a text drawn alone puts its glyphs: its start taken to the 64ths of a twip that the
    // system places glyphs in, then each glyph after the advances of those before it. A space is
    // only its advance: with every glyph placed, its blank glyph would add nothing to the page but
    // the cost of writing it (readers of the PDF find the words by the gaps, as between columns).
    qreal x = std::trunc(origin.x() * 64) / 64;
    for (int i = 0; i < n; ++i) {
        if (text.at(i) != QLatin1Char(' ')) {
            m_run->glyphs.append(glyphs[i]);
            m_run->positions.append(QPointF(x, origin.y()));
        }
        x += advances[i].x();
    }
    return true;
}

void PrinterSurface::drawRun()
{
    if (m_run->glyphs.isEmpty()) {
        return;
    }
    QGlyphRun run;
    run.setRawFont(m_run->face->raw);
    run.setGlyphIndexes(m_run->glyphs);
    run.setPositions(m_run->positions);
    m_open->painter.drawGlyphRun(QPointF(0, 0), run);
    m_run->glyphs.clear();
    m_run->positions.clear();
}

void PrinterSurface::place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font)
{
    const QPointF origin(topLeft.x(), baseline);
    if (m_open->runs) {
        const Face& face = faceOf(font);
        if (face.runs && addToRun(face, origin, text)) {
            return;
        }
    }
    drawRun();
    if (!m_open->fontSet || m_open->font != font) {
        m_open->painter.setFont(font);
        m_open->font = font;
        m_open->fontSet = true;
    }
    m_open->painter.drawText(origin, text);
}

void PrinterSurface::placePicture(const QImage& picture, const QRectF& twips)
{
    drawRun();
    m_open->painter.drawImage(twips, picture);
}

void PrinterSurface::finishDocument()
{
    if (m_open) {
        drawRun();
    }
    std::unique_ptr<Open> open = std::move(m_open);
    if (!open) {
        return;
    }
    const bool ended = open->painter.end();
    if (open->file) {
        // Written whole (what is still buffered too): kept aside until every copy is (see completeRun).
        const bool flushed = ended && open->file->flush();
        if (flushed && open->file->error() == QFileDevice::NoError) {
            m_written.push_back(std::move(open->file));
            return;
        }
        const store::DbError error = notWritten(*open->file);
        open->file->cancelWriting();
        throw error;
    } else if (!ended) {
        throw store::DbError(kErrPrinter, QStringLiteral("La stampa su \"%1\" non è stata completata.").arg(deviceName()));
    }
}

void PrinterSurface::discardDocument() noexcept
{
    m_run->glyphs.clear();
    m_run->positions.clear();
    std::unique_ptr<Open> open = std::move(m_open);
    if (!open) {
        return;
    }
    if (open->painter.isActive()) {
        open->painter.end();
    }
    if (open->file) {
        open->file->cancelWriting();
    }
}

} // namespace printing
