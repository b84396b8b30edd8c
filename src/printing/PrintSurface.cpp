#include "printing/PrintSurface.h"

#include <QFontInfo>
#include <QFontMetricsF>

#include <cmath>

namespace printing {

QFont printFont(const QString& name, qreal points, bool bold)
{
    QFont font(name);
    // Sized in twips: a point is 20 twips. Unhinted, so that widths scale exactly with the size.
    font.setPixelSize(qMax(1, qRound(points * 20)));
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(false);
    return font;
}

struct PrintSurface::Metrics {
    QString name;
    qreal points = 0;
    bool bold = false;
    QFont font;
    QFontMetricsF measures{QFont()};
    qreal average = 0;
    qreal height = 0;
    qreal ascent = 0;
    bool fixedPitch = false;

    qreal width(const QString& text) const
    {
        return fixedPitch ? text.size() * average : measures.horizontalAdvance(text);
    }
};

PrintSurface::PrintSurface() = default;
PrintSurface::~PrintSurface() = default;

void PrintSurface::setFontName(const QString& name)
{
    m_fontName = name;
}

void PrintSurface::setFontSize(qreal points)
{
    m_fontSize = points;
}

void PrintSurface::setFontBold(bool bold)
{
    m_bold = bold;
}

const PrintSurface::Metrics& PrintSurface::metrics() const
{
    if (m_metrics && m_metrics->name == m_fontName && m_metrics->points == m_fontSize && m_metrics->bold == m_bold) {
        return *m_metrics;
    }
    // A printout switches among a few fonts, line after line: each is measured once.
    for (const std::shared_ptr<Metrics>& known : m_knownMetrics) {
        if (known->name == m_fontName && known->points == m_fontSize && known->bold == m_bold) {
            m_metrics = known;
            return *m_metrics;
        }
    }
    {
        auto m = std::make_shared<Metrics>();
        m->name = m_fontName;
        m->points = m_fontSize;
        m->bold = m_bold;
        m->font = printFont(m_fontName, m_fontSize, m_bold);
        m->measures = QFontMetricsF(m->font);
        // A fixed-pitch face gives every character the same advance, which is its average width:
        // 0.6 of the size for the "Courier New" faces. The faces that stand in for it are a few
        // ten-thousandths wider; the width is taken to two decimals of the size, so that column n
        // begins after exactly n - 1 characters.
        m->fixedPitch = QFontInfo(m->font).fixedPitch();
        if (m->fixedPitch) {
            const qreal size = m->font.pixelSize();
            m->average = std::round(m->measures.horizontalAdvance(QLatin1Char('0')) / size * 100) / 100 * size;
        } else {
            m->average = m->measures.averageCharWidth();
        }
        m->height = m->measures.height();
        m->ascent = m->measures.ascent();
        m_knownMetrics.push_back(m);
        m_metrics = std::move(m);
    }
    return *m_metrics;
}

qreal PrintSurface::averageCharWidth() const
{
    return metrics().average;
}

qreal PrintSurface::lineHeight() const
{
    return metrics().height;
}

qreal PrintSurface::textWidth(const QString& text) const
{
    return metrics().width(text);
}

QSizeF PrintSurface::pageSize() const
{
    return printableSize(m_inDocument ? m_documentOrientation : m_orientation);
}

void PrintSurface::ensureDocument()
{
    if (m_inDocument) {
        return;
    }
    m_documentOrientation = m_orientation;
    beginDocument(m_documentOrientation);
    m_inDocument = true;
    m_drawnOnPage = false;
    m_pagePending = false;
    m_page = 1;
    ++m_documents;
}

void PrintSurface::startNewPage()
{
    beginPage();
    ++m_page;
    m_drawnOnPage = false;
    m_y = 0;
}

void PrintSurface::beginDrawing()
{
    ensureDocument();
    if (m_pagePending) {
        // The position was set when the page was asked for (and perhaps moved since): kept.
        beginPage();
        ++m_page;
        m_pagePending = false;
    }
    m_drawnOnPage = true;
}

void PrintSurface::newPage()
{
    if (!m_inDocument || m_pagePending || !m_drawnOnPage) {
        return;
    }
    m_pagePending = true;
    m_x = 0;
    m_y = 0;
}

void PrintSurface::printLine(const QList<PrintItem>& items)
{
    const Metrics& m = metrics();
    for (const PrintItem& item : items) {
        if (item.column > 0) {
            const qreal x = (item.column - 1) * m.average;
            if (m_x > x + 0.01) {
                m_y += m.height;
            }
            m_x = x;
            continue;
        }
        if (item.text.isEmpty()) {
            continue;
        }
        ensureDocument();
        // A line that would not end within the printable area goes to the top of a new page, so no
        // line is cut at the bottom (a line taller than the page stays, or it would never print).
        if (m_y > 0 && m_y + m.height > pageSize().height()) {
            if (m_pagePending) {
                m_y = 0; // the page asked for takes the line at its top
            } else {
                startNewPage();
            }
        }
        beginDrawing();
        place(QPointF(m_x, m_y), m_y + m.ascent, item.text, m.font);
        m_x += m.width(item.text);
    }
    m_x = 0;
    m_y += m.height;
}

void PrintSurface::paintPicture(const QImage& picture, const QRectF& twips)
{
    if (picture.isNull() || twips.isEmpty()) {
        return;
    }
    beginDrawing();
    placePicture(picture, twips);
}

void PrintSurface::fillRect(const QRectF& twips)
{
    if (twips.isEmpty()) {
        return;
    }
    beginDrawing();
    placeRect(twips);
}

void PrintSurface::drawOutline(const QRectF& twips, qreal pen)
{
    if (twips.isEmpty() || pen <= 0) {
        return;
    }
    beginDrawing();
    placeOutline(twips, pen);
}

void PrintSurface::drawText(const QPointF& topLeft, const QString& text, bool turned)
{
    if (text.isEmpty()) {
        return;
    }
    const Metrics& m = metrics();
    beginDrawing();
    if (turned) {
        placeTurned(topLeft, m.ascent, text, m.font);
    } else {
        place(topLeft, topLeft.y() + m.ascent, text, m.font);
    }
}

QPointF PrintSurface::paperCorner() const
{
    return paperCornerOf(m_inDocument ? m_documentOrientation : m_orientation);
}

void PrintSurface::endDoc()
{
    m_x = 0;
    m_y = 0;
    if (!m_inDocument) {
        return;
    }
    m_inDocument = false;
    m_pagePending = false;
    m_x = 0;
    m_y = 0;
    m_page = 0;
    finishDocument();
}

void PrintSurface::abandonDoc() noexcept
{
    if (!m_inDocument) {
        return;
    }
    m_inDocument = false;
    m_pagePending = false;
    m_x = 0;
    m_y = 0;
    m_page = 0;
    discardDocument();
}

QPageLayout orientedLayout(QPageLayout layout, PrintSurface::Orientation orientation)
{
    layout.setOrientation(orientation == PrintSurface::Orientation::Landscape ? QPageLayout::Landscape
                                                                              : QPageLayout::Portrait);
    return layout;
}

QSizeF printableTwips(const QPageLayout& layout)
{
    return layout.paintRect(QPageLayout::Point).size() * 20.0;
}

QPointF paperCornerTwips(const QPageLayout& layout)
{
    return -layout.paintRect(QPageLayout::Point).topLeft() * 20.0;
}

} // namespace printing
