#pragma once

class QCloseEvent;
class QEvent;
class QWidget;

// What the record windows share about closing: the close box of the frame's sub-window, the guard
// that keeps a window with an edit open, and Escape.
namespace windows {

// Closes a record window: its sub-window when it lives in the frame, or the window itself. The
// window's close guard decides; false when it stays open.
bool closeWindow(QWidget* window);

// The close guard: while an edit is open the window stays, and the user is told why.
void guardClose(QCloseEvent* event, bool editing);

// Escape in a record window. Only an Escape pressed in the window acts on its release: the release
// of one that closed a message box is not for the window. `pressed` is the window's memory of the
// press. The press and release of Escape are consumed.
enum class Escape { Other, Consumed, Released };
Escape escapeKey(const QEvent* event, bool& pressed);

} // namespace windows
