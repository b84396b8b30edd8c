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

// Every decode of the program goes through here, with the codec's own limit on the number of
// scans (see Limits in JpegDecoder.h).
int decompress(tjhandle handle, const QByteArray& data, uchar* pixels, int width, int pitch, int height, int format,
               int flags)
{
    return tjDecompress2(handle, bytesOf(data), static_cast<unsigned long>(data.size()), pixels, width, pitch, height,
                         format, flags | TJFLAG_LIMITSCANS);
}

// Reads the picture's size and colours. The codec reports stray bytes between the markers as a
// warning, with the header read all the same.
bool readHeader(tjhandle handle, const QByteArray& data, int& width, int& height, int& subsampling, int& colorspace)
{
    const int result = tjDecompressHeader3(handle, bytesOf(data), static_cast<unsigned long>(data.size()), &width,
                                           &height, &subsampling, &colorspace);
    return (result == 0 || tjGetErrorCode(handle) == TJERR_WARNING) && width > 0 && height > 0;
}

// True when the codec stopped at its scan limit.
bool reachedScanLimit(tjhandle handle)
{
    return tjGetErrorCode(handle) == TJERR_FATAL && lastError(handle).contains(QLatin1String("scans"));
}

// The codec's work on a block costs about as much as on 8 of its coefficients, whatever the scan.
constexpr double kBlockWork = 8;

struct Component {
    int id = 0;
    int h = 1; // sampling factors
    int v = 1;
};

struct Frame {
    int width = 0;
    int height = 0;
    int hMax = 1;
    int vMax = 1;
    bool progressive = false;
    std::vector<Component> components;

    // The blocks of `c`, as a scan of that component alone goes through them.
    double blocksOf(const Component& c) const
    {
        const qint64 w = (qint64(width) * c.h + hMax - 1) / hMax;
        const qint64 h = (qint64(height) * c.v + vMax - 1) / vMax;
        return double((w + 7) / 8) * double((h + 7) / 8);
    }
    // The data units of a scan of several components; each holds h × v blocks of each component.
    double unitsOfInterleavedScan() const
    {
        return double((qint64(width) + 8 * hMax - 1) / (8 * hMax)) *
               double((qint64(height) + 8 * vMax - 1) / (8 * vMax));
    }
    double onePass() const
    {
        double work = 0;
        for (const Component& c : components) {
            work += blocksOf(c) * (64 + kBlockWork);
        }
        return work;
    }
    const Component* component(int id) const
    {
        for (const Component& c : components) {
            if (c.id == id) {
                return &c;
            }
        }
        return nullptr;
    }
};

Frame readFrame(const uchar* segment, qsizetype size, int type)
{
    Frame frame;
    frame.progressive = type == 2 || type == 6 || type == 10 || type == 14;
    if (size < 6) {
        return frame;
    }
    frame.height = (segment[1] << 8) | segment[2];
    frame.width = (segment[3] << 8) | segment[4];
    const int count = segment[5];
    for (int i = 0; i < count && 6 + 3 * i + 2 < size; ++i) {
        const uchar* c = segment + 6 + 3 * i;
        // Sampling factors outside 1 to 4 stop the codec; clamped, they keep the sums here in bounds.
        const Component component{c[0], std::clamp(c[1] >> 4, 1, 4), std::clamp(c[1] & 15, 1, 4)};
        frame.hMax = std::max(frame.hMax, component.h);
        frame.vMax = std::max(frame.vMax, component.v);
        frame.components.push_back(component);
    }
    return frame;
}

// What the codec does for one scan, from its header.
double scanWork(const Frame& frame, const uchar* segment, qsizetype size)
{
    if (frame.components.empty()) {
        return 0; // no frame before it: the codec stops there
    }
    const int count = size >= 1 ? segment[0] : 0;
    if (count < 1 || size < 1 + 2 * qsizetype(count) + 3) {
        return frame.onePass(); // a header the codec refuses; counted as a whole pass all the same
    }
    int band = 64;
    if (frame.progressive) {
        const int first = segment[1 + 2 * count];
        const int last = segment[2 + 2 * count];
        band = first <= last && last <= 63 ? last - first + 1 : 64;
    }
    double blocks = 0;
    if (count == 1) {
        if (const Component* c = frame.component(segment[1])) {
            blocks = frame.blocksOf(*c);
        }
    } else {
        double perUnit = 0;
        for (int i = 0; i < count; ++i) {
            if (const Component* c = frame.component(segment[1 + 2 * i])) {
                perUnit += c->h * c->v;
            }
        }
        blocks = frame.unitsOfInterleavedScan() * perUnit;
    }
    return blocks * (band + kBlockWork);
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
    return data.size() >= 2 && uchar(data[0]) == 0xff && uchar(data[1]) == 0xd8;
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
    Frame frame;
    double work = 0;
    qsizetype pos = 2;
    while (pos < size) {
        // The next marker; the codec passes over whatever else comes first (stray bytes between
        // segments, the picture data of a scan).
        const void* found = std::memchr(p + pos, 0xff, size_t(size - pos));
        if (!found) {
            break;
        }
        pos = static_cast<const uchar*>(found) - p;
        while (pos + 1 < size && p[pos + 1] == 0xff) { // fill bytes
            ++pos;
        }
        if (pos + 1 >= size) {
            break;
        }
        const uchar marker = p[pos + 1];
        pos += 2;
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {
            continue; // a 0xff byte of picture data, or a marker without a segment
        }
        if (marker == 0xd9) {
            break; // end of image: the codec reads no further
        }
        if (pos + 2 > size) {
            break;
        }
        const qsizetype length = (qsizetype(p[pos]) << 8) | p[pos + 1];
        if (length < 2) {
            pos += 2; // the codec skips nothing more either
            continue;
        }
        if (pos + length > size) {
            break; // the file ends inside the segment, and so does the codec's reading
        }
        const uchar* segment = p + pos + 2;
        const qsizetype segmentSize = length - 2;
        if (marker == 0xda) {
            if (markers.scanStart < 0) {
                markers.scanStart = pos + length;
            }
            ++markers.scans;
            work += scanWork(frame, segment, segmentSize);
        } else if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc) {
            if (markers.frameType < 0 && segmentSize >= 1) {
                markers.frameType = marker - 0xc0;
                markers.precision = segment[0];
                frame = readFrame(segment, segmentSize, markers.frameType);
            }
        } else if (markers.scanStart < 0) {
            if (marker == 0xee && segmentSize >= 12 && std::memcmp(segment, "Adobe", 5) == 0) {
                markers.adobe = true;
            } else if (marker == 0xe1 && segmentSize >= 6 && std::memcmp(segment, "Exif\0\0", 6) == 0) {
                markers.orientation = exifOrientation(segment + 6, segmentSize - 6);
            }
        }
        pos += length;
    }
    const double pass = frame.onePass();
    markers.passes = pass > 0 ? work / pass : 0;
    return markers;
}

bool tooMuchWork(const Markers& markers, const Limits& limits)
{
    return markers.scans > limits.maxScans || markers.passes > limits.maxPasses;
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

Outcome decode(const QByteArray& data, cDIBSection& buffer, const Limits& limits)
{
    const Handle handle(tjInitDecompress());
    if (!handle) {
        return {Failure::CodecInit, lastError(nullptr), {}};
    }
    const Markers markers = readMarkers(data);
    // Width and height stay unset when the header ends early: start them at 0 and refuse that.
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!readHeader(handle.get(), data, width, height, subsampling, colorspace)) {
        return {headerFailure(markers), lastError(handle.get()), {}};
    }
    const QSize size(width, height);
    if (tooManyPixels(size, markers)) {
        return {Failure::TooLarge, {}, size, markers.scans};
    }
    if (tooMuchWork(markers, limits)) {
        return {Failure::TooMuchWork, {}, size, markers.scans};
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
        result = decompress(handle.get(), data, cmyk.get(), width, width * 4, height, TJPF_CMYK, 0);
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
        result = decompress(handle.get(), data, decoded.DIBSectionBitsPtr(), width, decoded.BytesPerScanLine(), height,
                            TJPF_BGR, TJFLAG_BOTTOMUP);
    }
    if (result != 0 && reachedScanLimit(handle.get())) {
        return {Failure::TooMuchWork, lastError(handle.get()), size, markers.scans};
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

QImage decodeForDisplay(const QByteArray& data, QSize target, QSize* natural, const Limits& limits)
{
    if (natural) {
        *natural = QSize();
    }
    const Handle handle(tjInitDecompress());
    if (!handle) {
        return {};
    }
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (!readHeader(handle.get(), data, width, height, subsampling, colorspace)) {
        return {};
    }
    const Markers markers = readMarkers(data);
    if (tooManyPixels(QSize(width, height), markers) || tooMuchWork(markers, limits)) {
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
        result = decompress(handle.get(), data, cmyk.get(), scaledWidth, scaledWidth * 4, scaledHeight, TJPF_CMYK, 0);
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
        result = decompress(handle.get(), data, image.bits(), scaledWidth, int(image.bytesPerLine()), scaledHeight,
                            kDisplayFormat, 0);
    }
    // After a warning what could be read is shown, even when the data was cut short; the codec's
    // scan limit is an error.
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
