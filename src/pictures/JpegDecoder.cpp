#include "pictures/JpegDecoder.h"

#include "pictures/PictureFiles.h"

#include "pictures/cDIBSection.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace pictures::jpeg {
namespace {

struct HandleDeleter {
    void operator()(void* handle) const
    {
        if (handle) {
            tjDestroy(handle);
        }
    }
};
using Handle = std::unique_ptr<void, HandleDeleter>;

// Four bytes per pixel in the memory order of QImage::Format_RGB32, alpha always 0xff.
constexpr int kDisplayFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRA : TJPF_ARGB;

const unsigned char* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

QString lastError(tjhandle handle)
{
    return QString::fromLocal8Bit(tjGetErrorStr2(handle));
}

int read16(const uchar* p, bool bigEndian)
{
    return bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
}

quint32 read32(const uchar* p, bool bigEndian)
{
    return bigEndian ? (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]
                     : (quint32(p[3]) << 24) | (quint32(p[2]) << 16) | (quint32(p[1]) << 8) | p[0];
}

// The orientation tag (0x0112) of the first directory of an Exif block's TIFF structure; 1 when
// it is missing or makes no sense.
int exifOrientation(const uchar* tiff, qsizetype size)
{
    if (size < 8) {
        return 1;
    }
    bool bigEndian;
    if (tiff[0] == 'M' && tiff[1] == 'M') {
        bigEndian = true;
    } else if (tiff[0] == 'I' && tiff[1] == 'I') {
        bigEndian = false;
    } else {
        return 1;
    }
    if (read16(tiff + 2, bigEndian) != 42) {
        return 1;
    }
    const quint32 directory = read32(tiff + 4, bigEndian);
    if (directory > quint64(size) - 2) {
        return 1;
    }
    const int entries = read16(tiff + directory, bigEndian);
    for (int i = 0; i < entries; ++i) {
        const quint64 entry = quint64(directory) + 2 + quint64(i) * 12;
        if (entry + 12 > quint64(size)) {
            break;
        }
        const uchar* e = tiff + entry;
        if (read16(e, bigEndian) == 0x0112 && read16(e + 2, bigEndian) == 3 /* SHORT */) {
            const int value = read16(e + 8, bigEndian);
            return value >= 1 && value <= 8 ? value : 1;
        }
    }
    return 1;
}

Failure headerFailure(const Markers& markers)
{
    if (!markers.startOfImage) {
        return Failure::NotJpeg;
    }
    if (markers.precision > 8) {
        return Failure::Precision;
    }
    if (markers.frameType == 3 || markers.frameType == 7 || markers.frameType == 11 || markers.frameType == 15) {
        return Failure::Lossless;
    }
    if (markers.frameType >= 9) {
        return Failure::Arithmetic;
    }
    return Failure::NotJpeg;
}

// CMYK as the codec hands it over. Files with an Adobe block (nearly all CMYK files: that is what
// image editors write) store each ink inverted, 255 meaning no ink.
void cmykToRgb(const uchar* cmyk, bool inverted, int& r, int& g, int& b)
{
    int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
    }
    r = (c * k + 127) / 255;
    g = (m * k + 127) / 255;
    b = (y * k + 127) / 255;
}

template <int Bytes>
void reorientPixels(const uchar* src, qsizetype srcStride, bool srcBottomUp, int width, int height, uchar* dst,
                    qsizetype dstStride, bool dstBottomUp, int orientation)
{
    const bool swap = swapsAxes(orientation);
    const int outWidth = swap ? height : width;
    const int outHeight = swap ? width : height;
    // The stored pixel shown at upright (x, y): sx = a0 + ax·x + ay·y, sy = b0 + bx·x + by·y.
    int a0 = 0, ax = 1, ay = 0, b0 = 0, bx = 0, by = 1;
    switch (orientation) {
    case 2: // mirrored left to right
        a0 = width - 1, ax = -1;
        break;
    case 3: // upside down
        a0 = width - 1, ax = -1, b0 = height - 1, by = -1;
        break;
    case 4: // mirrored top to bottom
        b0 = height - 1, by = -1;
        break;
    case 5: // mirrored along the main diagonal
        ax = 0, ay = 1, bx = 1, by = 0;
        break;
    case 6: // to be turned a quarter clockwise
        ax = 0, ay = 1, b0 = height - 1, bx = -1, by = 0;
        break;
    case 7: // mirrored along the other diagonal
        a0 = width - 1, ax = 0, ay = -1, b0 = height - 1, bx = -1, by = 0;
        break;
    case 8: // to be turned a quarter anticlockwise
        a0 = width - 1, ax = 0, ay = -1, bx = 1, by = 0;
        break;
    default:
        break;
    }
    const qsizetype srcRowStep = srcBottomUp ? -srcStride : srcStride;
    const uchar* srcOrigin = srcBottomUp ? src + qsizetype(height - 1) * srcStride : src;
    const qsizetype stepX = qsizetype(ax) * Bytes + qsizetype(bx) * srcRowStep;
    // In tiles, so that a quarter turn reads each source row while it is still in the cache.
    constexpr int kTile = 64;
    for (int ty = 0; ty < outHeight; ty += kTile) {
        const int yEnd = std::min(ty + kTile, outHeight);
        for (int tx = 0; tx < outWidth; tx += kTile) {
            const int xEnd = std::min(tx + kTile, outWidth);
            for (int y = ty; y < yEnd; ++y) {
                uchar* out = dst + qsizetype(dstBottomUp ? outHeight - 1 - y : y) * dstStride + qsizetype(tx) * Bytes;
                const uchar* in = srcOrigin + qsizetype(a0 + ax * tx + ay * y) * Bytes +
                                  qsizetype(b0 + bx * tx + by * y) * srcRowStep;
                for (int x = tx; x < xEnd; ++x, out += Bytes, in += stepX) {
                    std::memcpy(out, in, Bytes);
                }
            }
        }
    }
}

// A CMYK pixel buffer, or none when memory runs out.
std::unique_ptr<uchar[]> cmykBuffer(int width, int height)
{
    return std::unique_ptr<uchar[]>(new (std::nothrow) uchar[size_t(width) * 4 * size_t(height)]);
}

bool isCmyk(int colorspace)
{
    return colorspace == TJCS_CMYK || colorspace == TJCS_YCCK;
}

} // namespace

bool looksLikeJpeg(const QByteArray& data)
{
    return data.size() >= 3 && uchar(data[0]) == 0xff && uchar(data[1]) == 0xd8 && uchar(data[2]) == 0xff;
}

Markers readMarkers(const QByteArray& data)
{
    Markers markers;
    if (!looksLikeJpeg(data)) {
        return markers;
    }
    markers.startOfImage = true;
    const auto* p = bytesOf(data);
    const qsizetype size = data.size();
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (p[pos] != 0xff) {
            return markers; // not a marker where one should be: leave the verdict to the codec
        }
        const uchar marker = p[pos + 1];
        if (marker == 0xff) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) { // markers without a segment
            pos += 2;
            continue;
        }
        if (marker == 0xd9) {
            return markers;
        }
        const qsizetype length = (qsizetype(p[pos + 2]) << 8) | p[pos + 3];
        if (length < 2 || pos + 2 + length > size) {
            return markers;
        }
        const uchar* segment = p + pos + 4;
        const qsizetype segmentSize = length - 2;
        if (marker == 0xda) { // start of scan: the picture data follows, up to the end marker
            markers.scanStart = pos + 2 + length;
            return markers;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            if (markers.frameType < 0 && segmentSize >= 1) {
                markers.frameType = marker - 0xc0;
                markers.precision = segment[0];
            }
        } else if (marker == 0xee && segmentSize >= 12 && std::memcmp(segment, "Adobe", 5) == 0) {
            markers.adobe = true;
        } else if (marker == 0xe1 && segmentSize >= 6 && std::memcmp(segment, "Exif\0\0", 6) == 0) {
            markers.orientation = exifOrientation(segment + 6, segmentSize - 6);
        }
        pos += 2 + length;
    }
    return markers;
}

bool tooManyPixels(QSize size, const Markers& markers)
{
    const bool progressive = markers.frameType == 2 || markers.frameType == 6 || markers.frameType == 10 ||
                             markers.frameType == 14;
    return pictures::tooManyPixels(size, progressive ? kMaxProgressivePixels : kMaxPicturePixels);
}

bool cutShort(const QString& codecWords)
{
    // The codec's warnings for data that ends before the picture does; stray bytes between
    // markers, which cameras sometimes leave, are not among them.
    return codecWords.contains(QLatin1String("premature end"), Qt::CaseInsensitive);
}

bool endsWhole(const QByteArray& data, const Markers& markers)
{
    // Inside the picture data a 0xff byte is always followed by 0 or a restart marker, so the
    // first end marker after the scan's start is the real one.
    static const QByteArray kEnd("\xff\xd9", 2);
    return markers.scanStart >= 0 && data.indexOf(kEnd, markers.scanStart) >= 0;
}

QSize fitted(QSize natural, QSize frame)
{
    if (frame.width() <= 0 || frame.height() <= 0 || natural.isEmpty()) {
        return natural;
    }
    if (natural.width() <= frame.width() && natural.height() <= frame.height()) {
        return natural;
    }
    const QSize fit = natural.scaled(frame, Qt::KeepAspectRatio);
    return QSize(std::max(1, fit.width()), std::max(1, fit.height()));
}

void reorient(const uchar* src, qsizetype srcStride, bool srcBottomUp, int width, int height, int bytesPerPixel,
              uchar* dst, qsizetype dstStride, bool dstBottomUp, int orientation)
{
    if (bytesPerPixel == 4) {
        reorientPixels<4>(src, srcStride, srcBottomUp, width, height, dst, dstStride, dstBottomUp, orientation);
    } else {
        reorientPixels<3>(src, srcStride, srcBottomUp, width, height, dst, dstStride, dstBottomUp, orientation);
    }
}

Outcome decode(const QByteArray& data, cDIBSection& buffer)
{
    const Handle handle(tjInitDecompress());
    if (!handle) {
        return {Failure::CodecInit, lastError(nullptr), {}};
    }
    const Markers markers = readMarkers(data);
    // Width and height stay unset when the header ends early: start them at 0 and refuse that.
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()), &width, &height,
                            &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return {headerFailure(markers), lastError(handle.get()), {}};
    }
    const QSize size(width, height);
    if (tooManyPixels(size, markers)) {
        return {Failure::TooLarge, {}, size};
    }

    cDIBSection decoded;
    if (!decoded.Create(width, height)) {
        return {Failure::TooLarge, {}, size};
    }
    int result;
    if (isCmyk(colorspace)) {
        // The codec turns these into CMYK only; RGB is worked out here.
        const auto cmyk = cmykBuffer(width, height);
        if (!cmyk) {
            return {Failure::TooLarge, {}, size};
        }
        result = tjDecompress2(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()), cmyk.get(), width,
                               width * 4, height, TJPF_CMYK, 0);
        for (int y = 0; y < height; ++y) {
            const uchar* in = cmyk.get() + qsizetype(y) * width * 4;
            uchar* out = decoded.rowFromTop(y);
            for (int x = 0; x < width; ++x, in += 4, out += 3) {
                int r, g, b;
                cmykToRgb(in, markers.adobe, r, g, b);
                out[0] = uchar(b);
                out[1] = uchar(g);
                out[2] = uchar(r);
            }
        }
    } else {
        // Grey pictures come out with blue, green and red equal.
        result = tjDecompress2(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()),
                               decoded.DIBSectionBitsPtr(), width, decoded.BytesPerScanLine(), height, TJPF_BGR,
                               TJFLAG_BOTTOMUP);
    }
    if (result != 0) {
        // A warning leaves a whole picture: accepted unless the data was cut short, in which case
        // the rest is only filler.
        if (tjGetErrorCode(handle.get()) != TJERR_WARNING || !endsWhole(data, markers) ||
            cutShort(lastError(handle.get()))) {
            return {Failure::Damaged, lastError(handle.get()), size};
        }
    }

    if (markers.orientation != 1) {
        // The file written from this buffer carries no Exif block, so the picture is turned here.
        cDIBSection upright;
        const bool swap = swapsAxes(markers.orientation);
        if (!upright.Create(swap ? height : width, swap ? width : height)) {
            return {Failure::TooLarge, {}, size};
        }
        reorient(decoded.DIBSectionBitsPtr(), decoded.BytesPerScanLine(), true, width, height, 3,
                 upright.DIBSectionBitsPtr(), upright.BytesPerScanLine(), true, markers.orientation);
        decoded = std::move(upright);
    }
    buffer = std::move(decoded);
    return {Failure::None, {}, size};
}

QImage decodeForDisplay(const QByteArray& data, QSize target, QSize* natural)
{
    if (natural) {
        *natural = QSize();
    }
    const Handle handle(tjInitDecompress());
    if (!handle) {
        return {};
    }
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()), &width, &height,
                            &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return {};
    }
    const Markers markers = readMarkers(data);
    if (tooManyPixels(QSize(width, height), markers)) {
        return {};
    }
    const bool swap = swapsAxes(markers.orientation);
    const QSize upright = swap ? QSize(height, width) : QSize(width, height);
    const QSize wanted = fitted(upright, target);

    // The codec scales by eighths while it decodes, which costs far less than decoding the whole
    // picture and scaling it afterwards.
    int scaledWidth = width, scaledHeight = height;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor f = factors[i];
        if (f.num > f.denom) {
            continue; // never enlarged
        }
        const int w = TJSCALED(width, f);
        const int h = TJSCALED(height, f);
        const QSize shown = swap ? QSize(h, w) : QSize(w, h);
        if (shown.width() >= wanted.width() && shown.height() >= wanted.height() &&
            qint64(w) * h < qint64(scaledWidth) * scaledHeight) {
            scaledWidth = w;
            scaledHeight = h;
        }
    }

    QImage image(scaledWidth, scaledHeight, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    int result;
    if (isCmyk(colorspace)) {
        const auto cmyk = cmykBuffer(scaledWidth, scaledHeight);
        if (!cmyk) {
            return {};
        }
        result = tjDecompress2(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()), cmyk.get(),
                               scaledWidth, scaledWidth * 4, scaledHeight, TJPF_CMYK, 0);
        for (int y = 0; y < scaledHeight; ++y) {
            const uchar* in = cmyk.get() + qsizetype(y) * scaledWidth * 4;
            auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < scaledWidth; ++x, in += 4) {
                int r, g, b;
                cmykToRgb(in, markers.adobe, r, g, b);
                out[x] = qRgb(r, g, b);
            }
        }
    } else {
        result = tjDecompress2(handle.get(), bytesOf(data), static_cast<unsigned long>(data.size()), image.bits(),
                               scaledWidth, int(image.bytesPerLine()), scaledHeight, kDisplayFormat, 0);
    }
    // After a warning what could be read is shown, even when the data was cut short.
    if (result != 0 && tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        return {};
    }
    if (markers.orientation != 1) {
        QImage turned(swap ? scaledHeight : scaledWidth, swap ? scaledWidth : scaledHeight, QImage::Format_RGB32);
        if (turned.isNull()) {
            return {};
        }
        reorient(image.constBits(), image.bytesPerLine(), false, scaledWidth, scaledHeight, 4, turned.bits(),
                 turned.bytesPerLine(), false, markers.orientation);
        image = std::move(turned);
    }
    if (natural) {
        *natural = upright;
    }
    return image;
}

} // namespace pictures::jpeg
