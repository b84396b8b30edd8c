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

// What the markers of a file tell about it: those before the compressed picture data, and the
// headers of all its scans.
struct Markers {
    bool startOfImage = false; // the file starts as every JPEG file does
    int orientation = 1;       // the Exif orientation, 1 (upright) to 8
    bool adobe = false;        // an Adobe APP14 block: CMYK values are stored inverted
    int frameType = -1;        // n of the SOFn marker: 0-2 Huffman, 3 lossless, 9-11 arithmetic...
    int precision = 0;         // bits per sample of the frame
    qsizetype scanStart = -1;  // where the compressed picture data starts, -1 when it was not found
    int scans = 0;             // the scans the codec would decode, up to the end of the picture
    double passes = 0;         // the codec's work on all of them, in passes over the whole picture
};
// Reads the markers as the codec does: bytes that are no marker are passed over, segments are
// skipped by their length, and the picture data of a scan ends at the next marker other than a
// restart marker. Where the codec would stop with an error the walk goes on, so that it never
// counts less than the codec would decode.
Markers readMarkers(const QByteArray& data);

// The work the program lets the scans of one picture ask of the codec. A progressive picture comes
// in scans that each refine every block of the picture, or of one of its colours, a little more;
// the codec goes through every block of a scan however few bytes the scan has, so a small file
// that repeats a scan a thousand times keeps it busy for seconds. Encoders write 1 to 18 scans
// that together ask for about 3 passes over the picture; the codec's own limit, 500 scans, still
// lets a file ask for hundreds of passes.
struct Limits {
    int maxScans = 100;
    double maxPasses = 8;
    // No limit of the program's own: the codec's alone (tests of the codec's limit).
    static Limits codecOnly() { return {1 << 30, 1e30}; }
};
// True when the scans of `markers` ask for more than `limits` let them.
bool tooMuchWork(const Markers& markers, const Limits& limits = {});

// True when an end-of-image marker follows the picture data, so that none of it was cut off.
bool endsWhole(const QByteArray& data, const Markers& markers);
// True when the codec's warning says that the picture data ended before the picture did.
bool cutShort(const QString& codecWords);
// True for a picture larger than the program reads (see PictureFiles.h).
bool tooManyPixels(QSize size, const Markers& markers);

// True when `data` starts with the JPEG start-of-image marker: what the codec, and Qt's own JPEG
// reader, take for a JPEG file. Such files are read by the program's decoding only, under the
// limits above, never by Qt's reader, which has none.
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
    TooMuchWork, // its scans ask for more work than the limits allow, or reach the codec's scan limit
};

struct Outcome {
    Failure failure = Failure::None;
    QString detail; // the codec's own words, for the failures it reports
    QSize size;     // the picture's size as stored, once known
    int scans = 0;  // the scans of its picture data
    bool ok() const { return failure == Failure::None; }
};

// Decodes the whole picture into `buffer`, upright (the Exif orientation applied). Grey pictures
// fill all three channels; CMYK and YCCK pictures are turned into RGB. A picture whose data ends
// early is refused (Damaged); the codec's lesser warnings, such as stray bytes between markers,
// are not. A picture whose scans ask for more than `limits` is refused before anything is decoded,
// and the codec stops at its own scan limit (TooMuchWork both). On failure `buffer` is left as it
// was.
Outcome decode(const QByteArray& data, cDIBSection& buffer, const Limits& limits = {});

// Decodes for display, at the smallest scale the codec offers whose result, upright, is at least
// as large as the picture fitted into `target` (never enlarged); an empty `target` asks for the
// full size. The image is upright, in QImage::Format_RGB32; `natural` receives the picture's own
// upright size. A picture whose data ends early gives what could be read, the rest grey. A null
// image when nothing could be read, and for a picture refused as decode() refuses it.
QImage decodeForDisplay(const QByteArray& data, QSize target, QSize* natural, const Limits& limits = {});

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
