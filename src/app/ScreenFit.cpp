#include "app/ScreenFit.h"

#include "app/Paths.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace screenfit {
namespace {

const QString kFrameKey = QStringLiteral("finestre/MDIForm1");
// Set on the main window once it has its place: remembered, or the top centre of its first start.
const char* const kPlaced = "screenfitPlaced";

QString childKey(const QWidget* window)
{
    return QStringLiteral("finestre/") + window->objectName();
}

QRect availableFor(const QWidget* widget)
{
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

// The frame a window manager draws around the main window: known once the window is shown; before
// that, a title bar and a border as most desktops draw them.
QMargins frameMargins(const QWidget* frame)
{
    const QRect outer = frame->frameGeometry();
    const QRect inner = frame->geometry();
    if (frame->isVisible() && outer != inner) {
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                        outer.bottom() - inner.bottom());
    }
    return QMargins(4, 32, 4, 4);
}

// The work area's room for windows: its whole inside, as if it showed no scroll bars, so that a
// window's scale does not depend on whether another window needs them.
QSize roomIn(const QMdiArea* area)
{
    return area->contentsRect().size();
}

// What a record window is designed as, and what scaling it changed.
class DesignScale : public QObject {
  public:
    static constexpr const char* kName = "screenfitDesign";

    explicit DesignScale(QWidget* window) : QObject(window), m_window(window), m_design(window->size())
    {
        setObjectName(QLatin1String(kName));
        m_fixed = window->minimumSize() == window->maximumSize();
        m_byPosition = window->layout() == nullptr;
        m_windowPoints = window->font().pointSizeF();
        for (QWidget* child : window->findChildren<QWidget*>()) {
            if (child->testAttribute(Qt::WA_SetFont) && child->font().pointSizeF() > 0) {
                m_fonts.push_back({child, child->font().pointSizeF()});
            }
        }
        if (m_byPosition) {
            collectPlaced(window);
        }
    }

    static DesignScale* of(const QWidget* window)
    {
        return window ? window->findChild<DesignScale*>(QLatin1String(kName), Qt::FindDirectChildrenOnly) : nullptr;
    }

    QSize design() const { return m_design; }
    // The design size at the current scale, never smaller than the window can be laid out.
    QSize scaledSize() const
    {
        const QSize size = scaled(QRect(QPoint(0, 0), m_design)).size();
        return m_fixed ? size : size.expandedTo(m_window->minimumSizeHint());
    }
    double scale() const { return m_scale; }

    void apply(double scale)
    {
        scale = std::clamp(scale, kMinimumScale, 1.0);
        if (std::abs(scale - m_scale) < 0.001) {
            return;
        }
        m_scale = scale;
        m_applying = true;
        if (m_windowPoints > 0) {
            QFont font = m_window->font();
            font.setPointSizeF(points(m_windowPoints));
            m_window->setFont(font);
        }
        for (const Font& f : m_fonts) {
            if (f.widget) {
                QFont font = f.widget->font();
                font.setPointSizeF(points(f.points));
                f.widget->setFont(font);
            }
        }
        for (const Placed& p : m_placed) {
            if (!p.widget) {
                continue;
            }
            const QRect r = scaled(p.design);
            if (p.fixed) {
                p.widget->setFixedSize(r.size());
            }
            p.widget->setGeometry(r);
        }
        // The layouts place the controls at the new fonts now, not at the next turn of the event
        // loop: the window's smallest size is known, and whatever maps a point of the window (a
        // marker dropped on the plan) sees the controls where they are drawn.
        settleLayouts();
        if (m_fixed) {
            m_window->setFixedSize(scaledSize());
        } else {
            m_window->resize(scaledSize());
        }
        settleLayouts();
        m_applying = false;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // A control the window itself moves (a panel shown somewhere else) keeps its new place at
        // any scale.
        if (!m_applying && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
            for (Placed& p : m_placed) {
                if (p.widget == watched) {
                    const QRect r = p.widget->geometry();
                    p.design = QRect(qRound(r.x() / m_scale), qRound(r.y() / m_scale), qRound(r.width() / m_scale),
                                     qRound(r.height() / m_scale));
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    struct Font {
        QPointer<QWidget> widget;
        qreal points;
    };
    struct Placed {
        QPointer<QWidget> widget;
        QRect design;
        bool fixed;
    };

    // Controls placed by position: the children of the window and of its plain panels (not the
    // inner parts of a list or a text box, which place themselves).
    void collectPlaced(QWidget* parent)
    {
        for (QObject* object : parent->children()) {
            auto* child = qobject_cast<QWidget*>(object);
            if (!child || child->isWindow()) {
                continue;
            }
            const bool fixed = child->minimumSize() == child->maximumSize();
            m_placed.push_back({child, child->geometry(), fixed});
            child->installEventFilter(this);
            const QByteArray kind = child->metaObject()->className();
            if ((kind == "QWidget" || kind == "QFrame") && !child->layout()) {
                collectPlaced(child);
            }
        }
    }

    static void settleLayouts()
    {
        for (int round = 0; round < 3; ++round) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        }
    }

    double points(double design) const { return std::max(kMinimumPoints, design * m_scale); }

    QRect scaled(const QRect& r) const
    {
        const int left = qRound(r.x() * m_scale);
        const int top = qRound(r.y() * m_scale);
        const int right = qRound((r.x() + r.width()) * m_scale);
        const int bottom = qRound((r.y() + r.height()) * m_scale);
        return QRect(left, top, right - left, bottom - top);
    }

    QWidget* m_window;
    QSize m_design;
    bool m_fixed = false;
    bool m_byPosition = false;
    qreal m_windowPoints = -1;
    double m_scale = 1.0;
    bool m_applying = false;
    std::vector<Font> m_fonts;
    std::vector<Placed> m_placed;
};

// Remembers a record window's place when its sub-window is closed, and fits the windows shown
// before the work area had its size.
class AreaWatcher : public QObject {
  public:
    static constexpr const char* kName = "screenfitArea";

    explicit AreaWatcher(QMdiArea* area) : QObject(area), m_area(area), m_areaSize(area->size())
    {
        setObjectName(QLatin1String(kName));
        area->viewport()->installEventFilter(this);
    }

    static AreaWatcher* of(QMdiArea* area)
    {
        auto* watcher = area->findChild<AreaWatcher*>(QLatin1String(kName), Qt::FindDirectChildrenOnly);
        return watcher ? watcher : new AreaWatcher(area);
    }

    void watch(QMdiSubWindow* sub) { sub->installEventFilter(this); }

    void setPending(QMdiSubWindow* sub) { m_pending.push_back(sub); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_area->viewport() && event->type() == QEvent::Resize && m_area->isVisible()) {
            const auto pending = std::move(m_pending);
            m_pending.clear();
            for (const QPointer<QMdiSubWindow>& sub : pending) {
                if (sub && sub->widget()) {
                    place(m_area, sub, sub->widget());
                }
            }
            // The frame was made smaller or larger (not the area's scroll bars coming or going):
            // each window is scaled to it again.
            if (m_area->size() != m_areaSize) {
                m_areaSize = m_area->size();
                // Places are worked out from the area's origin, not from where it was scrolled to.
                m_area->horizontalScrollBar()->setValue(0);
                m_area->verticalScrollBar()->setValue(0);
                for (QMdiSubWindow* sub : m_area->subWindowList()) {
                    if (sub->widget()) {
                        refit(m_area, sub, sub->widget());
                    }
                }
            }
        } else if (event->type() == QEvent::Hide) {
            if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
                remember(sub);
            }
        }
        return QObject::eventFilter(watched, event);
    }

  public:
    static void remember(const QMdiSubWindow* sub)
    {
        const QWidget* window = sub->widget();
        if (!window || window->objectName().isEmpty() || sub->isMinimized() || sub->isMaximized()) {
            return;
        }
        paths::settings()->setValue(childKey(window), sub->geometry());
    }

    static void place(QMdiArea* area, QMdiSubWindow* sub, QWidget* window)
    {
        DesignScale* design = DesignScale::of(window);
        const QSize viewport = roomIn(area);
        const QMargins margins = sub->contentsMargins();
        const QSize room = viewport.shrunkBy(margins);
        if (design) {
            design->apply(scaleFor(design->design(), room));
        }
        const QRect whole(QPoint(0, 0), viewport);
        QRect wanted(sub->pos(), window->size().grownBy(margins));
        const QRect saved = paths::settings()->value(childKey(window)).toRect();
        if (saved.isValid()) {
            wanted.moveTopLeft(saved.topLeft());
            if (window->minimumSize() != window->maximumSize()) {
                wanted.setSize(saved.size());
            }
        }
        const QSize minimum = smallest(sub, window);
        QRect fitted = fitInside(wanted, whole);
        fitted.setSize(fitted.size().expandedTo(minimum));
        sub->setGeometry(fitted);
    }

    static void refit(QMdiArea* area, QMdiSubWindow* sub, QWidget* window)
    {
        DesignScale* design = DesignScale::of(window);
        if (!design || sub->isMinimized() || sub->isMaximized()) {
            return;
        }
        const double before = design->scale();
        const QMargins margins = sub->contentsMargins();
        const QSize room = roomIn(area).shrunkBy(margins);
        design->apply(scaleFor(design->design(), room));
        const QRect whole(QPoint(0, 0), roomIn(area));
        if (design->scale() == before && whole.contains(sub->geometry())) {
            return; // the size the user gave it stays
        }
        const QSize minimum = smallest(sub, window);
        QRect fitted = fitInside(QRect(sub->pos(), design->scaledSize().grownBy(margins)), whole);
        fitted.setSize(fitted.size().expandedTo(minimum));
        sub->setGeometry(fitted);
    }

  private:
    // The scale at which `design` fits `room`, at most 1 (DesignScale keeps it readable).
    static double scaleFor(QSize design, QSize room)
    {
        return std::min({1.0, double(room.width()) / design.width(), double(room.height()) / design.height()});
    }

    // Never smaller than the window can be laid out: where even that does not fit, the work area
    // scrolls to the rest.
    static QSize smallest(const QMdiSubWindow* sub, const QWidget* window)
    {
        return window->minimumSizeHint()
            .expandedTo(window->minimumSize())
            .grownBy(sub->contentsMargins())
            .expandedTo(sub->minimumSize());
    }

    QMdiArea* m_area;
    QSize m_areaSize;
    std::vector<QPointer<QMdiSubWindow>> m_pending;
};

} // namespace

QRect fitInside(QRect rect, const QRect& area)
{
    if (!area.isValid()) {
        return rect;
    }
    rect.setSize(rect.size().boundedTo(area.size()));
    if (rect.right() > area.right()) {
        rect.moveRight(area.right());
    }
    if (rect.bottom() > area.bottom()) {
        rect.moveBottom(area.bottom());
    }
    if (rect.left() < area.left()) {
        rect.moveLeft(area.left());
    }
    if (rect.top() < area.top()) {
        rect.moveTop(area.top());
    }
    return rect;
}

void placeMainWindow(QWidget* frame, QSize designSize)
{
    const QByteArray saved = paths::settings()->value(kFrameKey).toByteArray();
    // A damaged or foreign value is refused by restoreGeometry: the design size then.
    if (!saved.isEmpty() && frame->restoreGeometry(saved)) {
        frame->setProperty(kPlaced, true);
    } else {
        const QRect available = availableFor(frame);
        const QMargins margins = frameMargins(frame);
        QSize size = designSize;
        if (available.isValid()) {
            size = size.boundedTo(available.size().shrunkBy(margins));
        }
        frame->resize(size);
        // Centred at the top of the screen.
        frame->move(available.x() + (available.width() - size.width() - margins.left() - margins.right()) / 2,
                    available.y());
    }
    keepOnScreen(frame);
}

void placeAtTopCentre(QWidget* frame)
{
    if (!frame->property(kPlaced).toBool()) {
        frame->setProperty(kPlaced, true);
        const QRect available = availableFor(frame);
        const QMargins margins = frameMargins(frame);
        const int width = frame->width() + margins.left() + margins.right();
        frame->move(available.x() + (available.width() - width) / 2, available.y());
    }
    keepOnScreen(frame);
}

void keepOnScreen(QWidget* frame)
{
    const QRect available = availableFor(frame);
    if (!available.isValid() || frame->isMaximized() || frame->isFullScreen()) {
        return;
    }
    const QMargins margins = frameMargins(frame);
    const QRect outer(frame->pos(), frame->size().grownBy(margins));
    const QRect fitted = fitInside(outer, available);
    if (fitted == outer) {
        return;
    }
    frame->resize(fitted.size().shrunkBy(margins));
    frame->move(fitted.topLeft());
}

void rememberMainWindow(const QWidget* frame)
{
    paths::settings()->setValue(kFrameKey, frame->saveGeometry());
    if (const auto* area = frame->findChild<QMdiArea*>()) {
        for (const QMdiSubWindow* sub : area->subWindowList()) {
            if (sub->isVisible()) {
                AreaWatcher::remember(sub);
            }
        }
    }
}

void fitChild(QMdiArea* area, QMdiSubWindow* sub, QWidget* window, QSize designSize)
{
    if (!DesignScale::of(window)) {
        window->resize(designSize);
        new DesignScale(window);
    }
    AreaWatcher* watcher = AreaWatcher::of(area);
    watcher->watch(sub);
    if (!area->isVisible()) {
        // The work area has no size yet: the window is fitted once it has one.
        sub->resize(designSize.grownBy(sub->contentsMargins()));
        watcher->setPending(sub);
        return;
    }
    AreaWatcher::place(area, sub, window);
}

double scaleOf(const QWidget* window)
{
    const DesignScale* design = DesignScale::of(window);
    return design ? design->scale() : 1.0;
}

void setScale(QWidget* window, double scale)
{
    DesignScale* design = DesignScale::of(window);
    if (!design) {
        design = new DesignScale(window);
    }
    design->apply(scale);
}

} // namespace screenfit
