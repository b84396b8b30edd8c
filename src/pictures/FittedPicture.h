#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace pictures {

// Shows the picture file `path` in `picture`, a label inside `frame`: fitted into the frame's
// inner size (fittedSize: never enlarged, its proportions kept) and centred in the frame. When the
// file is missing or cannot be read the label is left hidden and empty, and false is returned.
// Never shows a message, never throws.
bool showFitted(QLabel* picture, const QWidget* frame, const QString& path);

} // namespace pictures
