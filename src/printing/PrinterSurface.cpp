#include "printing/PrinterSurface.h"

#include "store/DbError.h"

#include <QPainter>
#include <QPrinter>

namespace printing {

struct PrinterSurface::Open {
    QPainter painter;
    QRectF page; // the printable area, in twips
    QFont font;
    bool fontSet = false;
};

PrinterSurface::PrinterSurface(QPrinter& printer) : m_printer(&printer), m_layout(printer.pageLayout()) {}

PrinterSurface::~PrinterSurface()
{
    discardDocument();
}

QString PrinterSurface::deviceName() const
{
    return m_printer->printerName();
}

QSizeF PrinterSurface::printableSize(Orientation orientation) const
{
    return printableTwips(orientedLayout(m_layout, orientation));
}

void PrinterSurface::beginDocument(Orientation orientation)
{
    auto open = std::make_unique<Open>();
    const QPageLayout layout = orientedLayout(m_layout, orientation);
    m_printer->setPageLayout(layout);
    if (!open->painter.begin(m_printer)) {
        const QString name = m_printer->printerName();
        throw store::DbError(kErrPrinter, name.isEmpty() ? QStringLiteral("Nessuna stampante disponibile: impossibile stampare.")
                                                         : QStringLiteral("Impossibile stampare sulla stampante \"%1\": "
                                                                          "la stampante non risponde o non è disponibile.")
                                                               .arg(name));
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
    p.scale(m_printer->logicalDpiX() / 1440.0, m_printer->logicalDpiY() / 1440.0);
    p.setClipRect(m_open->page);
    p.setPen(Qt::black);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    m_open->fontSet = false;
}

void PrinterSurface::beginPage()
{
    if (!m_printer->newPage()) {
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

void PrinterSurface::placeRect(const QRectF& twips)
{
    m_open->painter.fillRect(twips, Qt::black);
}

void PrinterSurface::placeOutline(const QRectF& twips, qreal pen)
{
    QPainter& p = m_open->painter;
    p.save();
    p.setPen(QPen(Qt::black, pen));
    p.setBrush(Qt::NoBrush);
    p.drawRect(twips);
    p.restore();
}

void PrinterSurface::placeTurned(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font)
{
    QPainter& p = m_open->painter;
    p.save();
    p.setFont(font);
    p.translate(pivot);
    p.rotate(-90);
    p.drawText(QPointF(0, ascent), text);
    p.restore();
}

QPointF PrinterSurface::paperCornerOf(Orientation orientation) const
{
    // The painter's origin is the printable area's corner (the page is not printed "full page"):
    // the layout's margins, which the printer keeps at least as wide as its own.
    return paperCornerTwips(orientedLayout(m_layout, orientation));
}

void PrinterSurface::finishDocument()
{
    std::unique_ptr<Open> open = std::move(m_open);
    if (open && !open->painter.end()) {
        throw store::DbError(kErrPrinter, QStringLiteral("La stampa su \"%1\" non è stata completata.").arg(deviceName()));
    }
}

void PrinterSurface::discardDocument() noexcept
{
    std::unique_ptr<Open> open = std::move(m_open);
    if (open && open->painter.isActive()) {
        open->painter.end();
    }
}

} // namespace printing
