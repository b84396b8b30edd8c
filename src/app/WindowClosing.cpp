#include "app/WindowClosing.h"

#include "app/Guard.h"
#include "app/Messages.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMdiSubWindow>

namespace windows {
namespace {

class EscapeWatcher : public QObject {
  public:
    EscapeWatcher(QWidget* window, std::function<void()> onEscape)
        : QObject(window), m_onEscape(std::move(onEscape))
    {
        window->installEventFilter(this);
        for (QWidget* child : window->findChildren<QWidget*>()) {
            child->installEventFilter(this);
        }
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
            return QObject::eventFilter(watched, event);
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() != Qt::Key_Escape || key->isAutoRepeat()) {
            return QObject::eventFilter(watched, event);
        }
        if (event->type() == QEvent::KeyPress) {
            m_pressed = true;
            return true;
        }
        const bool mine = m_pressed;
        m_pressed = false;
        if (mine) {
            guard::run(m_onEscape);
        }
        return true;
    }

  private:
    std::function<void()> m_onEscape;
    bool m_pressed = false;
};

} // namespace

bool hasOpenEdit(const QWidget* window)
{
    const auto* editing = dynamic_cast<const EditingWindow*>(window);
    return editing && editing->hasOpenEdit();
}

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

void watchEscape(QWidget* window, std::function<void()> onEscape)
{
    new EscapeWatcher(window, std::move(onEscape));
}

} // namespace windows
