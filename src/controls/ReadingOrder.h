#pragma once

#include <QList>

class QWidget;

namespace controls {

// Tab visits `order` one after the other: a window lists its controls as they are read, row by
// row and left to right, whatever order they were made in. Hidden and disabled controls are passed
// over by Tab as usual, so one list serves while browsing and while editing.
void setReadingOrder(const QList<QWidget*>& order);

// A field that takes no typing (a key the program gives, a path it shows) is not a Tab stop; a click
// still puts the caret in it, to select and copy its text.
void notTabStop(QWidget* field);

} // namespace controls
