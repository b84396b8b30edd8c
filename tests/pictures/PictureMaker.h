#pragma once

// Test pictures made on the spot: patterns as QImages and JPEG files of the kinds cameras,
// scanners and image editors write.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>

namespace testpictures {

// Red top left, green top right, blue bottom left, white bottom right: every turn and mirror of
// it looks different.
QImage quadrants(int width, int height);
// Red across, green down, blue constant: smooth, so JPEG keeps it closely.
QImage gradient(int width, int height);

// A baseline JPEG of `image` (grey when the image is QImage::Format_Grayscale8), no chroma
// subsampling unless `subsample`; `progressive` for a progressive file.
QByteArray jpegOf(const QImage& image, int quality = 95, bool progressive = false, bool subsample = false);

enum class Cmyk {
    YcckAdobe, // what image editors write: YCCK with an Adobe block, inks inverted
    CmykAdobe, // plain CMYK with an Adobe block, inks inverted
    CmykPlain, // plain CMYK without an Adobe block, inks as they are
};
// `image` in CMYK (inks worked out from its RGB) as a JPEG file of the given kind.
QByteArray cmykJpegOf(const QImage& image, Cmyk kind);
// A JPEG with arithmetic coding instead of Huffman coding.
QByteArray arithmeticJpegOf(const QImage& image);

// The offset of the first segment with `marker` (its 0xff byte), -1 when none.
qsizetype segmentAt(const QByteArray& jpeg, uchar marker);
// The file with an Exif block that gives `orientation`.
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation);
// The file with its frame header claiming `bits` per sample.
QByteArray withPrecision(const QByteArray& jpeg, int bits);

// Hostile files: a progressive JPEG whose last scan is repeated `times` times more, or followed by
// `count` scan headers with no picture data at all. Each repeat costs the file a few bytes and the
// codec a pass over the whole picture.
QByteArray withLastScanRepeated(const QByteArray& progressive, int times);
QByteArray withEmptyScans(const QByteArray& progressive, int count);
// A JPEG of `size` in one flat colour, progressive, 4:2:0: its scans carry almost no data, so
// repeats of them cost the codec much and the file little.
QByteArray flatProgressiveJpeg(QSize size);

bool writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

// The largest difference of any channel between two colours.
int distance(QRgb a, QRgb b);

} // namespace testpictures
