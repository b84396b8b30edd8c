#include "printing/PrinterSurface.h"

#include "store/DbError.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>

#include <cerrno>

namespace printing {

struct PrinterSurface::Open {
    std::unique_ptr<QSaveFile> file;
    std::unique_ptr<QPdfWriter> writer;
    QPagedPaintDevice* device = nullptr;
    QPainter painter;
    QRectF page; // the printable area, in twips
    QFont font;
    bool fontSet = false;
};

PrinterSurface::PrinterSurface(QPrinter& printer) : m_printer(&printer), m_layout(printer.pageLayout()) {}

PrinterSurface::PrinterSurface(const QString& pdfPath, const QPageLayout& layout) : m_pdfPath(pdfPath), m_layout(layout)
{
}

PrinterSurface::~PrinterSurface()
{
    discardDocument();
    // Copies never completed: the files that were there stay.
    for (const auto& file : m_written) {
        file->cancelWriting();
    }
}

void PrinterSurface::completeRun()
{
    std::vector<std::unique_ptr<QSaveFile>> written = std::move(m_written);
    for (size_t i = 0; i < written.size(); ++i) {
        if (!written[i]->commit()) {
            const QString path = written[i]->fileName();
            const QString why = written[i]->errorString();
            for (size_t j = i + 1; j < written.size(); ++j) {
                written[j]->cancelWriting();
            }
            throw store::DbError(store::ErrPathFileAccess, QStringLiteral("Impossibile scrivere il file PDF \"%1\": %2")
                                                               .arg(QDir::toNativeSeparators(path), why));
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
    if (!m_open->device->newPage()) {
        throw store::DbError(kErrPrinter, QStringLiteral("Impossibile iniziare una nuova pagina su \"%1\".").arg(deviceName()));
    }
    prepareDevice();
}

void PrinterSurface::place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font)
{
    if (!m_open->fontSet || m_open->font != font) {
        m_open->painter.setFont(font);
        m_open->font = font;
        m_open->fontSet = true;
    }
    m_open->painter.drawText(QPointF(topLeft.x(), baseline), text);
}

void PrinterSurface::placePicture(const QImage& picture, const QRectF& twips)
{
    m_open->painter.drawImage(twips, picture);
}

void PrinterSurface::finishDocument()
{
    std::unique_ptr<Open> open = std::move(m_open);
    if (!open) {
        return;
    }
    const bool ended = open->painter.end();
    if (open->file) {
        const QString path = open->file->fileName();
        // Written whole (what is still buffered too): kept aside until every copy is (see completeRun).
        const bool flushed = ended && open->file->flush();
        if (flushed && open->file->error() == QFileDevice::NoError) {
            m_written.push_back(std::move(open->file));
            return;
        }
        const QString why = open->file->errorString();
        const bool full = why == qt_error_string(ENOSPC);
        open->file->cancelWriting();
        throw store::DbError(full ? store::ErrDiskFull : store::ErrPathFileAccess,
                             (full ? QStringLiteral("Il disco è pieno: il file PDF \"%1\" non è stato scritto.")
                                   : QStringLiteral("Impossibile scrivere il file PDF \"%1\": %2"))
                                 .arg(QDir::toNativeSeparators(path), why));
    } else if (!ended) {
        throw store::DbError(kErrPrinter, QStringLiteral("La stampa su \"%1\" non è stata completata.").arg(deviceName()));
    }
}

void PrinterSurface::discardDocument() noexcept
{
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
