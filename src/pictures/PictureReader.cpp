#include "pictures/PictureReader.h"

#include "pictures/JpegDecoder.h"
#include "pictures/PictureFiles.h"

#include <QBuffer>
#include <QImageReader>

namespace pictures {
namespace {

DisplayPicture readWithQt(QByteArray& data, const QString& path, QSize target)
{
    QBuffer device(&data);
    device.open(QIODevice::ReadOnly);
    QImageReader reader(&device, pictureFormat(device, path));
    prepareReader(reader);
    const QSize stored = reader.size();
    if (tooManyPixels(stored)) {
        return {};
    }
    if (!stored.isValid()) {
        // A format that tells its size only by reading the whole picture.
        QImage image = reader.read();
        if (image.isNull()) {
            return {};
        }
        const QSize natural = image.size();
        const QSize wanted = jpeg::fitted(natural, target);
        if (wanted != natural) {
            image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        return {image, natural};
    }
    // The reader scales before it turns the picture upright.
    const bool swap = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize natural = swap ? stored.transposed() : stored;
    const QSize wanted = jpeg::fitted(natural, target);
    if (wanted != natural) {
        reader.setScaledSize(swap ? wanted.transposed() : wanted);
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        return {};
    }
    return {image, natural};
}

} // namespace

DisplayPicture readForDisplay(const QString& path, QSize target)
{
    try {
        QByteArray data;
        if (readWholeFile(path, data) != ReadProblem::None || data.isEmpty()) {
            return {};
        }
        if (jpeg::looksLikeJpeg(data)) {
            QSize natural;
            QImage image = jpeg::decodeForDisplay(data, target, &natural);
            if (image.isNull()) {
                return {};
            }
            return {image, natural};
        }
        return readWithQt(data, path, target);
    } catch (...) {
        // Out of memory for a huge file: shown as no picture, like any other unreadable file.
        return {};
    }
}

} // namespace pictures
