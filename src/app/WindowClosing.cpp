#include "app/WindowClosing.h"

#include "app/Guard.h"
#include "app/Messages.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiSubWindow>

namespace windows {

bool closeWindow(QWidget* window)
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget())) {
        return sub->close();
    }
    return window->close();
}

void guardClose(QCloseEvent* event, bool editing)
{
    if (editing) {
        guard::run([] { msg::show(msg::kEditingOpen, msg::Icon::Information); });
        event->ignore();
        return;
    }
    event->accept();
}

Escape escapeKey(const QEvent* event, bool& pressed)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
        return Escape::Other;
    }
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() != Qt::Key_Escape || key->isAutoRepeat()) {
        return Escape::Other;
    }
    if (event->type() == QEvent::KeyPress) {
        pressed = true;
        return Escape::Consumed;
    }
    const bool mine = pressed;
    pressed = false;
    return mine ? Escape::Released : Escape::Consumed;
}

} // namespace windows
