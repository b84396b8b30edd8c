#pragma once

#include <functional>

class QCloseEvent;
class QEvent;
class QWidget;

// What the record windows share about editing and closing: the edit state others ask, the close
// box of the frame's sub-window, the guard that keeps a window with an edit open, and Escape.
namespace windows {

// A record window that can hold an open edit: of its record, or of a panel inside it whose edit
// outlives the record's. The frame's quit guard, "Apri Archivio" and the cross-references ask the
// window itself; its buttons' captions follow its state but are never read for it.
class EditingWindow {
  public:
    virtual ~EditingWindow() = default;
    virtual bool hasOpenEdit() const = 0;
};

// Whether `window` holds an open edit (false for a window that holds none, or none at all).
bool hasOpenEdit(const QWidget* window);

// Closes a record window: its sub-window when it lives in the frame, or the window itself. The
// window's close guard decides; false when it stays open.
bool closeWindow(QWidget* window);

// The close guard: while an edit is open the window stays, and the user is told why.
void guardClose(QCloseEvent* event, bool editing);

// Escape in a record window: the window sees the key before its controls do (it watches itself
// and every control in it), and runs `onEscape` through the handler guard on the release of an
// Escape pressed in the window; the release of one that closed a message box is not for the
// window. The press and release of Escape are consumed.
void watchEscape(QWidget* window, std::function<void()> onEscape);

} // namespace windows
