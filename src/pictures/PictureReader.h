#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

struct DisplayPicture {
    QImage image;
    QSize naturalSize; // the picture's own size, upright
};

// Reads `path` for display so that it still fills `target` once fitted (never enlarged):
// JPEG files are decoded with TurboJPEG at the smallest scale factor whose result is at least
// the fitted size; other formats via QImageReader (with setScaledSize). Never throws, never shows
// a message: an unreadable or missing file gives a null image and an empty naturalSize.
//
// The image is upright (Exif orientation applied). An empty `target` asks for the full size. A
// JPEG file cut short shows what could be read, the rest grey.
DisplayPicture readForDisplay(const QString& path, QSize target);

} // namespace pictures
