#include "PictureTests.h"

#include "pictures/Photos.h"

#include <QBuffer>
#include <QFile>
#include <QImage>

namespace picturetests {

QByteArray jpeg(QSize size, QColor colour, bool quarterTurned)
{
    QImage image(quarterTurned ? size.transposed() : size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPG", 90)) {
        throw std::runtime_error("cannot write a JPEG");
    }
    if (quarterTurned) {
        // An Exif block right after the start of image: one entry, orientation 6 (the stored rows
        // are the upright picture turned a quarter to the left).
        static const char exif[] = "\xFF\xE1\x00\x22"
                                   "Exif\x00\x00"
                                   "MM\x00\x2A\x00\x00\x00\x08"
                                   "\x00\x01"
                                   "\x01\x12\x00\x03\x00\x00\x00\x01\x00\x06\x00\x00"
                                   "\x00\x00\x00\x00";
        bytes.insert(2, QByteArray(exif, sizeof(exif) - 1));
    }
    return bytes;
}

QString writePhoto(qint64 id, const QByteArray& content)
{
    const QString path = pictures::photoFile(id);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size()) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
    return path;
}

} // namespace picturetests
