#include "app/ChildWindows.h"

#include "app/ScreenFit.h"
#include "app/WindowClosing.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <array>
#include <stdexcept>

namespace childwindows {
namespace {

constexpr int kKinds = 4;

struct Registry {
    QPointer<QMdiArea> area;
    std::array<Factory, kKinds> factories;
    std::array<QPointer<QWidget>, kKinds> open;
};

Registry& registry()
{
    static Registry r;
    return r;
}

int indexOf(Kind kind)
{
    return static_cast<int>(kind);
}

QMdiSubWindow* subWindowOf(const QWidget* window)
{
    return window ? qobject_cast<QMdiSubWindow*>(window->parentWidget()) : nullptr;
}

// The widget that stands for the window on screen: its sub-window in the frame, or itself.
QWidget* frameOf(QWidget* window)
{
    QMdiSubWindow* sub = subWindowOf(window);
    return sub ? static_cast<QWidget*>(sub) : window;
}

std::unique_ptr<QWidget> make(Kind kind)
{
    const Factory& factory = registry().factories[indexOf(kind)];
    if (!factory) {
        throw std::logic_error("no window of this kind can be made here");
    }
    return factory();
}

void bringForward(QWidget* window)
{
    if (QMdiSubWindow* sub = subWindowOf(window)) {
        if (sub->isMinimized()) {
            sub->showNormal();
        }
        sub->show();
        if (QMdiArea* area = sub->mdiArea()) {
            area->setActiveSubWindow(sub);
        }
        sub->raise();
        return;
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

void setArea(QMdiArea* area)
{
    registry().area = area;
}

void setFactory(Kind kind, Factory factory)
{
    registry().factories[indexOf(kind)] = std::move(factory);
}

void reset()
{
    registry() = Registry{};
}

QWidget* find(Kind kind)
{
    QWidget* window = registry().open[indexOf(kind)];
    // A closed window is deleted only when control returns to the event loop; until then it no
    // longer counts as open.
    if (!window || frameOf(window)->isHidden()) {
        return nullptr;
    }
    return window;
}

Loaded load(Kind kind)
{
    Loaded loaded;
    loaded.window = find(kind);
    if (!loaded.window) {
        loaded.made = make(kind);
        loaded.window = loaded.made.get();
    }
    return loaded;
}

QWidget* show(Kind kind, std::unique_ptr<QWidget> made)
{
    if (QWidget* window = find(kind)) {
        bringForward(window);
        return window;
    }
    if (!made) {
        made = make(kind);
    }
    const QSize designSize = made->size();
    QWidget* window = made.get();
    if (QMdiArea* area = registry().area) {
        QMdiSubWindow* sub = area->addSubWindow(made.release()); // owned by its sub-window from here on
        // Closing the sub-window (its close box, or Escape in the window) deletes both.
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setWindowTitle(window->windowTitle());
        registry().open[indexOf(kind)] = window;
        bringForward(window);
        // Scaled to the work area when it is smaller than the window's design, and placed where
        // the user left it, whole inside the area.
        screenfit::fitChild(area, sub, window, designSize);
        return window;
    }
    window->setAttribute(Qt::WA_DeleteOnClose);
    made.release(); // deleted when closed
    registry().open[indexOf(kind)] = window;
    bringForward(window);
    return window;
}

bool close(Kind kind)
{
    QWidget* window = find(kind);
    if (!window) {
        return true;
    }
    if (!frameOf(window)->close()) {
        return false;
    }
    registry().open[indexOf(kind)] = nullptr;
    return true;
}

bool anyEditOpen()
{
    for (Kind kind : {Kind::Books, Kind::Authors, Kind::Publishers, Kind::Loans}) {
        if (windows::hasOpenEdit(find(kind))) {
            return true;
        }
    }
    return false;
}

} // namespace childwindows
