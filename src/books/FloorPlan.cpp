#include "books/FloorPlan.h"

#include "app/Guard.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>

namespace books {
namespace {

// Panel geometry in twips: left, top, width, height.
QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

QPixmap markerIcon()
{
    QPixmap icon(32, 32);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(QColor(220, 0, 0));
    p.drawEllipse(QRectF(6, 2, 20, 20));
    p.drawLine(QPointF(16, 22), QPointF(16, 30));
    return icon;
}

QLabel* marker(QWidget* parent, const QString& name)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setPixmap(markerIcon());
    label->setFixedSize(32, 32);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace

FloorPlan::FloorPlan(QWidget* smallParent, QWidget* window) : QObject(window)
{
    Picture5 = new QFrame(smallParent);
    Picture5->setObjectName(QStringLiteral("Picture5"));
    Picture5->setFrameShape(QFrame::Box);
    Picture5->setFixedSize(twipsToPixels(3735), twipsToPixels(2600));
    Picture5->setAccessibleName(QStringLiteral("Pianta"));
    Image1 = new QLabel(Picture5);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    Image1->installEventFilter(this);
    Image2 = marker(Picture5, QStringLiteral("Image2"));

    Picture8 = new QFrame(window);
    Picture8->setObjectName(QStringLiteral("Picture8"));
    Picture8->setGeometry(twipsRect(3240, 540, 8380, 6640));
    Picture8->setAutoFillBackground(true);
    QPalette grey = Picture8->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Picture8->setPalette(grey);
    Picture7 = new QFrame(Picture8);
    Picture7->setObjectName(QStringLiteral("Picture7"));
    Picture7->setGeometry(twipsRect(120, 240, 8200, 5708));
    Picture7->setFrameShape(QFrame::Box);
    Picture7->setEnabled(false);
    Image4 = new QLabel(Picture7);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setScaledContents(true);
    Image5 = marker(Picture7, QStringLiteral("Image5"));
    Command16 = new QPushButton(QStringLiteral("Chiudi"), Picture8);
    Command16->setObjectName(QStringLiteral("Command16"));
    Command16->setGeometry(twipsRect(6600, 6120, 1575, 375));
    Picture8->hide();

    Command17 = new QPushButton(smallParent);
    Command17->setObjectName(QStringLiteral("Command17"));
    Command17->setAccessibleName(QStringLiteral("Ingrandisci pianta"));
    Command17->setToolTip(QStringLiteral("Ingrandisci pianta"));
    Command17->setIcon(Command17->style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    Command17->setFixedSize(twipsToPixels(375) + 8, twipsToPixels(195) + 6);

    guard::connect(Command17, &QPushButton::clicked, this, [this] { openLargeView(); });
    guard::connect(Command16, &QPushButton::clicked, this, [this] { closeLargeView(); });
    placeSmallMarker(m_small);
    // No book shown yet, so no place to mark.
    setMarkersVisible(false);
}

void FloorPlan::fitPicture(QLabel* picture, QWidget* panel, const QPixmap& plan)
{
    picture->hide();
    picture->setPixmap(plan);
    QSize size = plan.size();
    const QRect inner = panel->contentsRect();
    // Each direction is reduced on its own: a plan larger than the panel one way is squeezed
    // that way only, and a smaller plan keeps its size.
    size.setWidth(std::min(size.width(), inner.width()));
    size.setHeight(std::min(size.height(), inner.height()));
    picture->setGeometry(QRect(QPoint(0, 0), size));
    QApplication::processEvents();
    picture->show();
    picture->lower();
}

void FloorPlan::load(const QString& planFile)
{
    if (planFile.isEmpty() || !QFile::exists(planFile)) {
        return;
    }
    const QPixmap plan(planFile);
    if (plan.isNull()) {
        return;
    }
    fitPicture(Image1, Picture5, plan);
    fitPicture(Image4, Picture7, plan);
}

void FloorPlan::placeSmallMarker(QPoint twips)
{
    m_small = twips;
    Image2->move(twipsToPixels(twips.x()), twipsToPixels(twips.y()));
    Image2->raise();
}

void FloorPlan::placeLargeMarker(QPointF twips)
{
    m_large = twips;
    Image5->move(twipsToPixels(twips.x()), twipsToPixels(twips.y()));
    Image5->raise();
}

void FloorPlan::setMarkersVisible(bool visible)
{
    Image2->setVisible(visible);
    Image5->setVisible(visible);
}

void FloorPlan::blink()
{
    // A marker at 10, 10 or above-left of it means the book has no place yet: it does not blink.
    if (m_small.y() > 10 || m_small.x() > 10) {
        setMarkersVisible(!Image2->isVisibleTo(Picture5));
    }
}

void FloorPlan::openLargeView()
{
    placeLargeMarker(QPointF(m_small.x() * 2.22, m_small.y() * 2.28));
    Image5->show();
    Picture8->show();
    Picture8->raise();
}

void FloorPlan::closeLargeView()
{
    Picture8->hide();
}

bool FloorPlan::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Image1 && event->type() == QEvent::MouseButtonDblClick) {
        guard::run([this] { openLargeView(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace books
