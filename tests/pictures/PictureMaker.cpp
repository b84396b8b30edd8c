#include "PictureMaker.h"

#include <QFile>

#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace testpictures {
namespace {

struct LibjpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void jumpOut(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<LibjpegError*>(info->err)->jump, 1);
}

// The inks of an RGB colour, the simple way: black as the common part, the rest in each ink.
void inksOf(QRgb rgb, uchar* cmyk)
{
    const int c = 255 - qRed(rgb), m = 255 - qGreen(rgb), y = 255 - qBlue(rgb);
    const int k = std::min({c, m, y});
    const int rest = 255 - k;
    cmyk[0] = uchar(rest ? (c - k) * 255 / rest : 0);
    cmyk[1] = uchar(rest ? (m - k) * 255 / rest : 0);
    cmyk[2] = uchar(rest ? (y - k) * 255 / rest : 0);
    cmyk[3] = uchar(k);
}

std::vector<uchar> cmykPixels(const QImage& image, bool inverted)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::vector<uchar> pixels(size_t(rgb.width()) * rgb.height() * 4);
    uchar* out = pixels.data();
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x, out += 4) {
            inksOf(line[x], out);
            if (inverted) {
                for (int i = 0; i < 4; ++i) {
                    out[i] = uchar(255 - out[i]);
                }
            }
        }
    }
    return pixels;
}

// Through the plain JPEG library, for what the codec's own interface does not write.
QByteArray libjpegEncode(int width, int height, const uchar* pixels, int components, J_COLOR_SPACE space, bool adobe,
                         bool arithmetic)
{
    jpeg_compress_struct info{};
    LibjpegError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jumpOut;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(out);
        return {};
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    if (space == JCS_CMYK) {
        jpeg_set_colorspace(&info, JCS_CMYK);
        info.write_Adobe_marker = adobe ? TRUE : FALSE;
    }
    info.arith_code = arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar*>(pixels + size_t(info.next_scanline) * width * components);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

QByteArray compressed(const uchar* pixels, int width, int pitch, int height, int format, int subsampling, int flags,
                      int quality)
{
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    QByteArray bytes;
    if (tjCompress2(handle, pixels, width, pitch, height, format, &out, &size, subsampling, quality, flags) == 0) {
        bytes = QByteArray(reinterpret_cast<const char*>(out), qsizetype(size));
    }
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

} // namespace

QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2, top = y < height / 2;
            line[x] = top ? (left ? qRgb(255, 0, 0) : qRgb(0, 255, 0)) : (left ? qRgb(0, 0, 255) : qRgb(255, 255, 255));
        }
    }
    return image;
}

QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = qRgb(width > 1 ? x * 255 / (width - 1) : 128, height > 1 ? y * 255 / (height - 1) : 128, 128);
        }
    }
    return image;
}

QByteArray jpegOf(const QImage& image, int quality, bool progressive, bool subsample)
{
    const int flags = progressive ? TJFLAG_PROGRESSIVE : 0;
    if (image.format() == QImage::Format_Grayscale8) {
        return compressed(image.constBits(), image.width(), int(image.bytesPerLine()), image.height(), TJPF_GRAY,
                          TJSAMP_GRAY, flags, quality);
    }
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const int format = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    return compressed(rgb.constBits(), rgb.width(), int(rgb.bytesPerLine()), rgb.height(), format,
                      subsample ? TJSAMP_420 : TJSAMP_444, flags, quality);
}

QByteArray cmykJpegOf(const QImage& image, Cmyk kind)
{
    const std::vector<uchar> pixels = cmykPixels(image, kind != Cmyk::CmykPlain);
    if (kind == Cmyk::YcckAdobe) {
        return compressed(pixels.data(), image.width(), image.width() * 4, image.height(), TJPF_CMYK, TJSAMP_444, 0,
                          95);
    }
    return libjpegEncode(image.width(), image.height(), pixels.data(), 4, JCS_CMYK, kind == Cmyk::CmykAdobe, false);
}

QByteArray arithmeticJpegOf(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    std::vector<uchar> pixels(size_t(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y) {
        std::copy_n(rgb.constScanLine(y), rgb.width() * 3, pixels.data() + size_t(y) * rgb.width() * 3);
    }
    return libjpegEncode(rgb.width(), rgb.height(), pixels.data(), 3, JCS_RGB, false, true);
}

qsizetype segmentAt(const QByteArray& jpeg, uchar marker)
{
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xff) {
        if (uchar(jpeg[pos + 1]) == marker) {
            return pos;
        }
        if (uchar(jpeg[pos + 1]) == 0xda) {
            return -1;
        }
        pos += 2 + ((uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]));
    }
    return -1;
}

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation)
{
    // Big-endian TIFF structure: header, one directory with one entry (orientation, SHORT, 1).
    QByteArray tiff("MM\x00\x2a\x00\x00\x00\x08", 8);
    tiff += QByteArray("\x00\x01", 2);
    tiff += QByteArray("\x01\x12\x00\x03\x00\x00\x00\x01", 8);
    tiff += char(0);
    tiff += char(orientation);
    tiff += QByteArray(2, '\0');
    tiff += QByteArray(4, '\0'); // no next directory
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xff\xe1", 2);
    segment += char((body.size() + 2) >> 8);
    segment += char((body.size() + 2) & 0xff);
    segment += body;
    // After the JFIF block, where cameras put it.
    qsizetype at = 2;
    if (segmentAt(jpeg, 0xe0) == 2) {
        at = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    }
    return jpeg.left(at) + segment + jpeg.mid(at);
}

QByteArray withPrecision(const QByteArray& jpeg, int bits)
{
    QByteArray changed = jpeg;
    const qsizetype frame = segmentAt(jpeg, 0xc0);
    if (frame >= 0) {
        changed[frame + 4] = char(bits);
    }
    return changed;
}

namespace {

// Where the last scan starts (its 0xff byte) and how long its header is.
std::pair<qsizetype, qsizetype> lastScan(const QByteArray& jpeg)
{
    qsizetype last = -1, header = 0;
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size()) {
        if (uchar(jpeg[pos]) != 0xff) {
            ++pos;
            continue;
        }
        const uchar marker = uchar(jpeg[pos + 1]);
        if (marker == 0xd9) {
            break;
        }
        if (marker == 0x00 || marker == 0xff || (marker >= 0xd0 && marker <= 0xd7)) {
            pos += marker == 0xff ? 1 : 2;
            continue;
        }
        const qsizetype length = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        if (marker == 0xda) {
            last = pos;
            header = 2 + length;
        }
        pos += 2 + length;
    }
    return {last, header};
}

QByteArray repeated(const QByteArray& jpeg, bool whole, int times)
{
    const auto [at, header] = lastScan(jpeg);
    if (at < 0 || !jpeg.endsWith("\xff\xd9")) {
        return {};
    }
    const QByteArray body = jpeg.left(jpeg.size() - 2);
    const QByteArray scan = whole ? body.mid(at) : body.mid(at, header);
    QByteArray out = body;
    out.reserve(body.size() + scan.size() * times + 2);
    for (int i = 0; i < times; ++i) {
        out += scan;
    }
    return out + QByteArray("\xff\xd9", 2);
}

} // namespace

QByteArray withLastScanRepeated(const QByteArray& progressive, int times)
{
    return repeated(progressive, true, times);
}

QByteArray withEmptyScans(const QByteArray& progressive, int count)
{
    return repeated(progressive, false, count);
}

QByteArray flatProgressiveJpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(120, 130, 140));
    return jpegOf(image, 90, true, true);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int distance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

} // namespace testpictures
