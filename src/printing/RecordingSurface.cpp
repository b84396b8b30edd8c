#include "printing/RecordingSurface.h"

#include <algorithm>
#include <cmath>

namespace printing {

RecordingSurface::RecordingSurface(QSizeF portraitPage, QString name) : m_portrait(portraitPage), m_name(std::move(name))
{
}

QSizeF RecordingSurface::printableSize(Orientation orientation) const
{
    return orientation == Orientation::Portrait ? m_portrait : m_portrait.transposed();
}

void RecordingSurface::beginDocument(Orientation orientation)
{
    m_open = true;
    m_current = Document{orientation, 1};
}

void RecordingSurface::beginPage()
{
    ++m_current.pages;
}

void RecordingSurface::place(const QPointF& topLeft, qreal, const QString& text, const QFont&)
{
    texts.append(Text{documentCount(), page(), topLeft, text, fontName(), fontSize(), fontBold()});
}

void RecordingSurface::placePicture(const QImage& picture, const QRectF& twips)
{
    pictures.append(Picture{documentCount(), page(), twips, picture.size()});
}

void RecordingSurface::placeRect(const QRectF& twips)
{
    rects.append(Rect{documentCount(), page(), twips, 0});
}

void RecordingSurface::placeOutline(const QRectF& twips, qreal pen)
{
    outlines.append(Rect{documentCount(), page(), twips, pen});
}

void RecordingSurface::placeTurned(const QPointF& pivot, qreal, const QString& text, const QFont&)
{
    texts.append(Text{documentCount(), page(), pivot, text, fontName(), fontSize(), fontBold(), true});
}

QPointF RecordingSurface::paperCornerOf(Orientation orientation) const
{
    // Turned to landscape, the paper's left margin is what was its bottom one: taken as the same.
    return orientation == Orientation::Portrait ? portraitPaperCorner : portraitPaperCorner.transposed();
}

void RecordingSurface::finishDocument()
{
    documents.append(m_current);
    m_open = false;
}

void RecordingSurface::discardDocument() noexcept
{
    ++abandoned;
    m_open = false;
}

QList<RecordingSurface::Text> RecordingSurface::textsOf(int document) const
{
    QList<Text> found;
    for (const Text& t : texts) {
        if (t.document == document) {
            found.append(t);
        }
    }
    return found;
}

QList<RecordingSurface::Text> RecordingSurface::lineAt(int document, int page, qreal y) const
{
    QList<Text> found;
    for (const Text& t : texts) {
        if (t.document == document && t.page == page && std::abs(t.at.y() - y) < 0.5) {
            found.append(t);
        }
    }
    std::sort(found.begin(), found.end(), [](const Text& a, const Text& b) { return a.at.x() < b.at.x(); });
    return found;
}

} // namespace printing
