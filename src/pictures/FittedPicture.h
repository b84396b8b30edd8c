#pragma once

#include <QRect>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

namespace pictures {

struct DisplayPicture;

// Shows `read`, a picture file read for display into the frame's inner size, in `picture`, a label
// inside `frame`: fitted into the frame's inner size (fittedSize: never enlarged, its proportions
// kept) and centred in the frame. When nothing could be read (a missing or unreadable file) the
// label is left hidden and empty, and false is returned. Never shows a message, never throws.
bool showFitted(QLabel* picture, const QWidget* frame, const DisplayPicture& read);

// A button of the picture windows: named, captioned, bold, placed at `where` (pixels).
QPushButton* boldButton(QWidget* parent, const QString& name, const QString& caption, QRect where);

} // namespace pictures
