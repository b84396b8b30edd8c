#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

struct DisplayPicture {
    QImage image;
    QSize naturalSize; // the picture's own size, upright
};

// Reads `path` for display so that it still fills `target` once fitted (never enlarged). Never throws,
// never shows a message: an unreadable or missing file gives a null image and an empty naturalSize.
DisplayPicture readForDisplay(const QString& path, QSize target);

} // namespace pictures
