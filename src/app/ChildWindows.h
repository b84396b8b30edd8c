#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

class QMdiArea;

// The record windows of the frame (books, authors, publishers, loans): at most one of each kind is
// open.
// The frame says how each kind is made and where windows live; any window can then find, load
// or show another one (the cross-reference buttons), without knowing the frame.
namespace childwindows {

enum class Kind { Books, Authors, Publishers, Loans };

// Makes a window of its kind and loads it (its data shown); throws what its load throws.
using Factory = std::function<std::unique_ptr<QWidget>()>;

// The frame's area for child windows; with none, windows are shown as windows of their own.
void setArea(QMdiArea* area);
void setFactory(Kind kind, Factory factory);
// Forgets the area, the factories and the open windows (the frame is going away; tests).
void reset();

// The window of this kind while it is open, or nullptr.
QWidget* find(Kind kind);

// A window of this kind ready to be worked on: the open one, or a new one made and loaded but not
// shown yet (`made` owns it until `show` takes it; dropping `made` discards it unseen).
struct Loaded {
    QWidget* window = nullptr;
    std::unique_ptr<QWidget> made;
};
Loaded load(Kind kind);

// Shows the window of this kind and brings it to the front: the open one, or `made` (a window from
// `load`), or a new one. Returns it. Throws what the load of a new one throws.
QWidget* show(Kind kind, std::unique_ptr<QWidget> made = {});

// Closes the window of this kind, if open, through its own close guard. False when it stays open.
bool close(Kind kind);

// Whether any open window of these kinds has an edit open, of its record or of a panel inside it.
bool anyEditOpen();

} // namespace childwindows
