#include "books/FloorPlan.h"

#include "pictures/PictureDrop.h"
#include "pictures/PictureImport.h"
#include "pictures/PictureLoader.h"
#include "pictures/Photos.h"
#include "pictures/cDIBSection.h"

#include "app/Guard.h"
#include "app/Modulo1.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QRubberBand>
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

// The scale between the two views: each direction has its own pair of factors.
constexpr double kLargeFromSmallX = 2.22;
constexpr double kLargeFromSmallY = 2.28;
constexpr double kSmallFromLargeX = 2.195;
constexpr double kSmallFromLargeY = 2.26;

QPointF twipsOf(QPoint pixels)
{
    return QPointF(pixels.x() * kTwipsPerPixel, pixels.y() * kTwipsPerPixel);
}

const QString kMarkerKeys =
    QStringLiteral("Durante la modifica di un libro le frecce spostano il segno della posizione; con Maiusc a passi "
                   "più lunghi");

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
    Picture5->setAccessibleDescription(kMarkerKeys);
    Picture5->setFocusPolicy(Qt::NoFocus);
    Picture5->installEventFilter(this);
    Image1 = new QLabel(Picture5);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setScaledContents(true);
    // Without a plan the empty picture covers the panel, so markers still move over it.
    Image1->setGeometry(QRect(QPoint(0, 0), Picture5->contentsRect().size()));
    Image1->installEventFilter(this);
    Image2 = marker(Picture5, QStringLiteral("Image2"));
    Image2->installEventFilter(this);

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
    Picture7->setAccessibleName(QStringLiteral("Pianta ingrandita"));
    Picture7->setAccessibleDescription(kMarkerKeys);
    Picture7->setFocusPolicy(Qt::NoFocus);
    Picture7->installEventFilter(this);
    Image4 = new QLabel(Picture7);
    Image4->setObjectName(QStringLiteral("Image4"));
    Image4->setScaledContents(true);
    Image4->setGeometry(QRect(QPoint(0, 0), Picture7->contentsRect().size()));
    Image5 = marker(Picture7, QStringLiteral("Image5"));
    Image5->installEventFilter(this);
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

    m_loader = new pictures::PictureLoader(this);
    connect(m_loader, &pictures::PictureLoader::loaded, this,
            [this](const QString&, const pictures::DisplayPicture& read) { guard::run([&] { showPlan(read); }); });
    guard::connect(Command17, &QPushButton::clicked, this, [this] { openLargeView(); });
    guard::connect(Command16, &QPushButton::clicked, this, [this] { closeLargeView(); });
    // A picture file dropped on either view from a file manager becomes the archive's plan, as
    // "Inserisci Piantina" makes it.
    for (QWidget* view : {static_cast<QWidget*>(Picture5), static_cast<QWidget*>(Picture8)}) {
        new pictures::PictureDrop(view, [this](const QString& path) {
            std::unique_ptr<pictures::cDIBSection> buffer;
            if (pictures::storePicture(path, pictures::ImportTarget::Plan, buffer)) {
                load(pictures::planOfOpenArchive());
            }
        });
    }
    placeSmallMarker(m_small);
    // No book shown yet, so no place to mark.
    setMarkersVisible(false);
}

void FloorPlan::fitPicture(QLabel* picture, QWidget* panel, const QPixmap& plan, QSize natural)
{
    picture->hide();
    picture->setPixmap(plan);
    QSize size = natural;
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
    // Read afresh each time (QPixmap's own file cache knows a file by its name, size and time, and
    // an imported plan keeps the time of the plan it replaces), and no larger than the large view
    // shows it: a plan scanned at 300 dots per inch has tens of millions of pixels. Twice the
    // larger side of the large view keeps a long, narrow plan sharp when it is squeezed.
    const int side = 2 * std::max(Picture7->width(), Picture7->height());
    m_loader->request(planFile, QSize(side, side));
}

void FloorPlan::showPlan(const pictures::DisplayPicture& read)
{
    if (read.image.isNull()) {
        return; // refused or unreadable: as a missing plan
    }
    const QPixmap plan = QPixmap::fromImage(read.image);
    fitPicture(Image1, Picture5, plan, read.naturalSize);
    fitPicture(Image4, Picture7, plan, read.naturalSize);
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

void FloorPlan::placeMarkers(QPoint smallTwips)
{
    placeSmallMarker(smallTwips);
    placeLargeMarker(QPointF(m_small.x() * kLargeFromSmallX, m_small.y() * kLargeFromSmallY));
}

void FloorPlan::setMovable(bool movable)
{
    m_movable = movable;
    if (!movable) {
        endDrag();
    }
    // A Tab stop only while its marker can move: a plan being browsed takes no keys.
    for (QFrame* panel : {Picture5, Picture7}) {
        panel->setFocusPolicy(movable ? Qt::StrongFocus : Qt::NoFocus);
    }
    for (QLabel* marker : {Image2, Image5}) {
        if (movable) {
            marker->setCursor(Qt::OpenHandCursor);
        } else {
            marker->unsetCursor();
        }
    }
}

void FloorPlan::setMarkersVisible(bool visible)
{
    Image2->setVisible(visible);
    Image5->setVisible(visible);
}

void FloorPlan::blink()
{
    // A marker at 10, 10 or above-left of it means the book has no place yet: it does not blink.
    // Nor does a marker being dragged.
    if (m_dragged) {
        return;
    }
    if (m_small.y() > 10 || m_small.x() > 10) {
        setMarkersVisible(!Image2->isVisibleTo(Picture5));
    }
}

void FloorPlan::openLargeView()
{
    placeMarkers(m_small);
    Image5->show();
    Picture8->show();
    Picture8->raise();
}

void FloorPlan::closeLargeView()
{
    Picture8->hide();
}

// ---------------------------------------------------------------- moving the markers

QPointF FloorPlan::dropPlace(QPointF drop, const QWidget* marker, const QWidget* panel)
{
    // The marker's centre on the drop point; positions and sizes in twips.
    double top = drop.y() - marker->height() * kTwipsPerPixel / 2.0;
    double left = drop.x() - marker->width() * kTwipsPerPixel / 2.0;
    const double height = panel->height() * kTwipsPerPixel;
    const double width = panel->width() * kTwipsPerPixel;
    if (top < 0) {
        top = 10;
    } else if (top > height) {
        top = height;
    }
    if (left < 0) {
        left = 10;
    } else if (left > width) {
        left = width;
    }
    return QPointF(left, top);
}

void FloorPlan::Image1_DragDrop(QPointF drop, const QWidget* source)
{
    const QPointF place = dropPlace(drop, source ? source : Image2, Picture5);
    placeSmallMarker(QPoint(qRound(place.x()), qRound(place.y())));
}

void FloorPlan::Image4_DragDrop(QPointF drop, const QWidget* source)
{
    const QPointF place = dropPlace(drop, source ? source : Image5, Picture7);
    placeLargeMarker(place);
    // The place a book stores is the small marker's.
    placeSmallMarker(QPoint(qRound(place.x() / kSmallFromLargeX), qRound(place.y() / kSmallFromLargeY)));
}

bool FloorPlan::markerKey(const QWidget* panel, int key, Qt::KeyboardModifiers modifiers)
{
    QPointF direction;
    switch (key) {
    case Qt::Key_Left:
        direction = QPointF(-1, 0);
        break;
    case Qt::Key_Right:
        direction = QPointF(1, 0);
        break;
    case Qt::Key_Up:
        direction = QPointF(0, -1);
        break;
    case Qt::Key_Down:
        direction = QPointF(0, 1);
        break;
    default:
        return false;
    }
    if (!m_movable || !panel->isEnabled()) {
        return true; // while browsing the marker stays where the book has it
    }
    const int pixels = modifiers.testFlag(Qt::ShiftModifier) ? kLongStep : kShortStep;
    const QPointF step = direction * pixels * kTwipsPerPixel;
    // A drop at the marker's centre moved by the step: the marker lands there by the drop's rules.
    const auto centre = [](QPointF topLeft, const QWidget* marker) {
        return topLeft + QPointF(marker->width(), marker->height()) * kTwipsPerPixel / 2.0;
    };
    if (panel == Picture5) {
        Image1_DragDrop(centre(QPointF(m_small), Image2) + step, Image2);
    } else if (panel == Picture7) {
        Image4_DragDrop(centre(m_large, Image5) + step, Image5);
    }
    return true;
}

QList<QWidget*> FloorPlan::readingOrder() const
{
    return {Picture5, Command17, Picture7, Command16};
}

bool FloorPlan::dragEvent(QLabel* marker, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* press = static_cast<QMouseEvent*>(event);
        // While browsing no marker moves.
        if (press->button() != Qt::LeftButton || !m_movable || !marker->isEnabled()) {
            return false;
        }
        m_dragged = marker;
        m_pressedAt = press->globalPosition().toPoint();
        m_dragging = false;
        return true;
    }
    case QEvent::MouseMove: {
        if (marker != m_dragged) {
            return false;
        }
        const auto* move = static_cast<QMouseEvent*>(event);
        if (!(move->buttons() & Qt::LeftButton)) {
            endDrag();
            return false;
        }
        const QPoint global = move->globalPosition().toPoint();
        if (!m_dragging && (global - m_pressedAt).manhattanLength() < QApplication::startDragDistance()) {
            return true; // a click, so far
        }
        m_dragging = true;
        guard::run([this, global] { moveOutline(global); });
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (marker != m_dragged || static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton) {
            return false;
        }
        const bool dragged = m_dragging;
        const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        endDrag();
        if (dragged) {
            guard::run([this, marker, global] { dropAt(marker, global); });
        }
        return true;
    }
    default:
        return false;
    }
}

void FloorPlan::moveOutline(QPoint global)
{
    // The outline of the marker follows the pointer, centred on it as the marker will land.
    QWidget* top = m_dragged->window();
    if (!m_outline || m_outline->parentWidget() != top) {
        delete m_outline.data();
        m_outline = new QRubberBand(QRubberBand::Rectangle, top);
        m_outline->setObjectName(QStringLiteral("MarkerOutline"));
        m_outline->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    QRect where(QPoint(0, 0), m_dragged->size());
    where.moveCenter(top->mapFromGlobal(global));
    m_outline->setGeometry(where);
    m_outline->show();
    m_outline->raise();
}

void FloorPlan::dropAt(const QLabel* source, QPoint global)
{
    QWidget* top = Image2->window();
    QWidget* target = top->childAt(top->mapFromGlobal(global));
    // A marker lies over its own plan: a release over it is a release over the plan beneath.
    if (target == Image2) {
        target = Image1->geometry().contains(Picture5->mapFromGlobal(global)) ? Image1 : nullptr;
    } else if (target == Image5) {
        target = Image4->geometry().contains(Picture7->mapFromGlobal(global)) ? Image4 : nullptr;
    }
    if (!m_movable || !target || !target->isEnabled()) {
        return;
    }
    if (target == Image1) {
        Image1_DragDrop(twipsOf(Image1->mapFromGlobal(global)), source);
    } else if (target == Image4) {
        Image4_DragDrop(twipsOf(Image4->mapFromGlobal(global)), source);
    }
}

void FloorPlan::endDrag()
{
    m_dragged = nullptr;
    m_dragging = false;
    if (m_outline) {
        m_outline->hide();
    }
}

bool FloorPlan::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Image1 && event->type() == QEvent::MouseButtonDblClick) {
        guard::run([this] { openLargeView(); });
        return true;
    }
    if ((watched == Picture5 || watched == Picture7) &&
        (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // A thicker frame shows where the arrow keys go.
        static_cast<QFrame*>(watched)->setLineWidth(event->type() == QEvent::FocusIn ? 3 : 1);
        return false;
    }
    if ((watched == Picture5 || watched == Picture7) && event->type() == QEvent::KeyPress) {
        const auto* press = static_cast<QKeyEvent*>(event);
        bool handled = false;
        guard::run([&] { handled = markerKey(static_cast<QWidget*>(watched), press->key(), press->modifiers()); });
        return handled;
    }
    if (watched == Image2 || watched == Image5) {
        if (dragEvent(static_cast<QLabel*>(watched), event)) {
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace books
