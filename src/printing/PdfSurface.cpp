#include "printing/PdfSurface.h"

#include "printing/PdfDocument.h"
#include "store/DbError.h"
#include "store/Folders.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace printing {
namespace {

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

} // namespace

PdfSurface::PdfSurface(const QString& pdfPath, const QPageLayout& layout) : m_pdfPath(pdfPath), m_layout(layout) {}

PdfSurface::~PdfSurface()
{
    discardDocument();
    // Copies never completed: the files that were there stay.
    for (const auto& file : m_written) {
        file->cancelWriting();
    }
}

void PdfSurface::completeRun()
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

QString PdfSurface::deviceName() const
{
    return QDir::toNativeSeparators(m_pdfPath);
}

QString PdfSurface::pdfFileOf(const QString& pdfPath, int n)
{
    if (n <= 1) {
        return pdfPath;
    }
    const QFileInfo info(pdfPath);
    const QString suffix = info.suffix().isEmpty() ? QString() : QStringLiteral(".") + info.suffix();
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(" (%1)").arg(n) + suffix);
}

QSizeF PdfSurface::printableSize(Orientation orientation) const
{
    return printableTwips(orientedLayout(m_layout, orientation));
}

void PdfSurface::beginDocument(Orientation orientation)
{
    ++m_documentNumber;
    const QString path = pdfFileOf(m_pdfPath, m_documentNumber);
    auto file = std::make_unique<QSaveFile>(path);
    if (!file->open(QIODevice::WriteOnly)) {
        throw store::DbError(store::ErrPathFileAccess, QStringLiteral("Impossibile scrivere il file PDF \"%1\": %2")
                                                           .arg(QDir::toNativeSeparators(path), file->errorString()));
    }
    m_document = std::make_unique<PdfDocument>(*file, orientedLayout(m_layout, orientation));
    m_file = std::move(file);
    checkWritten();
}

void PdfSurface::checkWritten()
{
    if (m_document && m_document->failed()) {
        throw notWritten(*m_file);
    }
}

void PdfSurface::beginPage()
{
    m_document->newPage();
    checkWritten();
}

void PdfSurface::place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font)
{
    m_document->text(topLeft.x(), baseline, text, font);
    checkWritten();
}

void PdfSurface::placePicture(const QImage& picture, const QRectF& twips)
{
    m_document->image(picture, twips);
    checkWritten();
}

void PdfSurface::placeRect(const QRectF& twips)
{
    m_document->rect(twips);
    checkWritten();
}

void PdfSurface::placeOutline(const QRectF& twips, qreal pen)
{
    m_document->outline(twips, pen);
    checkWritten();
}

void PdfSurface::placeTurned(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font)
{
    m_document->turnedText(pivot, ascent, text, font);
    checkWritten();
}

QPointF PdfSurface::paperCornerOf(Orientation orientation) const
{
    return paperCornerTwips(orientedLayout(m_layout, orientation));
}

void PdfSurface::finishDocument()
{
    if (!m_document) {
        return;
    }
    m_document->finish();
    std::unique_ptr<PdfDocument> document = std::move(m_document);
    std::unique_ptr<QSaveFile> file = std::move(m_file);
    // Written whole (what is still buffered too): kept aside until every copy is (see completeRun).
    if (!document->failed() && file->flush() && file->error() == QFileDevice::NoError) {
        m_written.push_back(std::move(file));
        return;
    }
    const store::DbError error = notWritten(*file);
    file->cancelWriting();
    throw error;
}

void PdfSurface::discardDocument() noexcept
{
    m_document.reset();
    if (std::unique_ptr<QSaveFile> file = std::move(m_file)) {
        file->cancelWriting();
    }
}

} // namespace printing
