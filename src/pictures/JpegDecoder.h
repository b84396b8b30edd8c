#pragma once

// The JPEG decoding that the reader, the import and the display share. Nothing here shows a
// message or throws: each caller words the failure for its own user (see JpegCodec.h,
// ImageImport.h, PictureReader.h).

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace pictures {

class cDIBSection;

namespace jpeg {

// What the markers before the compressed picture data tell about a file.
struct Markers {
    bool startOfImage = false; // the file starts as every JPEG file does
    int orientation = 1;       // the Exif orientation, 1 (upright) to 8
    bool adobe = false;        // an Adobe APP14 block: CMYK values are stored inverted
    int frameType = -1;        // n of the SOFn marker: 0-2 Huffman, 3 lossless, 9-11 arithmetic...
    int precision = 0;         // bits per sample of the frame
    qsizetype scanStart = -1;  // where the compressed picture data starts, -1 when it was not found
};
Markers readMarkers(const QByteArray& data);

// True when an end-of-image marker follows the picture data, so that none of it was cut off.
bool endsWhole(const QByteArray& data, const Markers& markers);
// True when the codec's warning says that the picture data ended before the picture did.
bool cutShort(const QString& codecWords);
// True for a picture larger than the program reads (see PictureFiles.h).
bool tooManyPixels(QSize size, const Markers& markers);

// True when `data` starts with the JPEG start-of-image marker.
bool looksLikeJpeg(const QByteArray& data);

// True for the Exif orientations that turn the picture a quarter turn (5 to 8).
inline bool swapsAxes(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

enum class Failure {
    None,
    CodecInit,  // the codec could not be started
    NotJpeg,    // the file's header cannot be read as a JPEG picture
    Precision,  // 12- or 16-bit samples
    Lossless,   // lossless JPEG
    Arithmetic, // arithmetic coding, where the codec was built without it
    TooLarge,   // no memory for a picture of this size
    Damaged,    // the picture data is damaged or cut short
};

struct Outcome {
    Failure failure = Failure::None;
    QString detail; // the codec's own words, for the failures it reports
    QSize size;     // the picture's size as stored, once known
    bool ok() const { return failure == Failure::None; }
};

// Decodes the whole picture into `buffer`, upright (the Exif orientation applied). Grey pictures
// fill all three channels; CMYK and YCCK pictures are turned into RGB. A picture whose data ends
// early is refused (Damaged); the codec's lesser warnings, such as stray bytes between markers,
// are not. On failure `buffer` is left as it was.
Outcome decode(const QByteArray& data, cDIBSection& buffer);

// Decodes for display, at the smallest scale the codec offers whose result, upright, is at least
// as large as the picture fitted into `target` (never enlarged); an empty `target` asks for the
// full size. The image is upright, in QImage::Format_RGB32; `natural` receives the picture's own
// upright size. A picture whose data ends early gives what could be read, the rest grey. A null
// image when nothing could be read.
QImage decodeForDisplay(const QByteArray& data, QSize target, QSize* natural);

// The size of `natural` fitted into `frame` keeping its proportions, never enlarged; `natural`
// itself when `frame` is empty.
QSize fitted(QSize natural, QSize frame);

// Copies a picture of `width` × `height` pixels of `bytesPerPixel` bytes (3 or 4) from `src` to
// `dst`, turning it upright as Exif `orientation` says; `dst` must hold the upright size (width
// and height exchanged for orientations 5 to 8). Rows of each side are stored top-down or
// bottom-up as their flags say.
void reorient(const uchar* src, qsizetype srcStride, bool srcBottomUp, int width, int height, int bytesPerPixel,
              uchar* dst, qsizetype dstStride, bool dstBottomUp, int orientation);

} // namespace jpeg
} // namespace pictures
