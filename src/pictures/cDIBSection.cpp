#include "pictures/cDIBSection.h"

#include <cstring>
#include <new>
#include <utility>

namespace pictures {

cDIBSection::cDIBSection(cDIBSection&& other) noexcept
    : m_bits(std::move(other.m_bits)), m_width(std::exchange(other.m_width, 0)),
      m_height(std::exchange(other.m_height, 0)), m_stride(std::exchange(other.m_stride, 0))
{
}

cDIBSection& cDIBSection::operator=(cDIBSection&& other) noexcept
{
    if (this != &other) {
        m_bits = std::move(other.m_bits);
        m_width = std::exchange(other.m_width, 0);
        m_height = std::exchange(other.m_height, 0);
        m_stride = std::exchange(other.m_stride, 0);
    }
    return *this;
}

qint64 cDIBSection::scanLineFor(int width)
{
    if (width <= 0) {
        return 0;
    }
    const qint64 bytes = (qint64(width) * 3 + 3) & ~qint64(3);
    return bytes > kMaxBytes ? -1 : bytes;
}

bool cDIBSection::Create(int width, int height)
{
    ClearUp();
    const qint64 stride = scanLineFor(width);
    if (stride <= 0 || height <= 0 || stride * height > kMaxBytes) {
        return false;
    }
    // Uninitialised on purpose: a 12-megapixel photo is 36 MB that the decoder writes anyway.
    uchar* bits = new (std::nothrow) uchar[size_t(stride * height)];
    if (!bits) {
        return false;
    }
    m_bits.reset(bits);
    m_width = width;
    m_height = height;
    m_stride = int(stride);
    // The codec leaves the padding at the end of each row alone; zero it so that what the buffer
    // holds never depends on earlier contents of the memory.
    const int padding = m_stride - 3 * m_width;
    if (padding > 0) {
        for (int y = 0; y < m_height; ++y) {
            std::memset(m_bits.get() + qsizetype(y) * m_stride + 3 * m_width, 0, size_t(padding));
        }
    }
    return true;
}

void cDIBSection::ClearUp()
{
    m_bits.reset();
    m_width = 0;
    m_height = 0;
    m_stride = 0;
}

QImage cDIBSection::toImage() const
{
    if (isEmpty()) {
        return {};
    }
    QImage image(m_width, m_height, QImage::Format_RGB32);
    if (image.isNull()) {
        return {};
    }
    for (int y = 0; y < m_height; ++y) {
        const uchar* src = rowFromTop(y);
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < m_width; ++x, src += 3) {
            dst[x] = qRgb(src[2], src[1], src[0]);
        }
    }
    return image;
}

bool cDIBSection::fromImage(const QImage& image)
{
    if (image.isNull()) {
        return false;
    }
    const bool transparent = image.hasAlphaChannel();
    const QImage source = image.convertToFormat(transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (source.isNull()) {
        return false;
    }
    cDIBSection made;
    if (!made.Create(source.width(), source.height())) {
        return false;
    }
    for (int y = 0; y < source.height(); ++y) {
        const auto* src = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        uchar* dst = made.rowFromTop(y);
        for (int x = 0; x < source.width(); ++x, dst += 3) {
            int r = qRed(src[x]);
            int g = qGreen(src[x]);
            int b = qBlue(src[x]);
            if (transparent) {
                // Laid on white, as the picture would look on a page.
                const int a = qAlpha(src[x]);
                r = (r * a + 255 * (255 - a) + 127) / 255;
                g = (g * a + 255 * (255 - a) + 127) / 255;
                b = (b * a + 255 * (255 - a) + 127) / 255;
            }
            dst[0] = uchar(b);
            dst[1] = uchar(g);
            dst[2] = uchar(r);
        }
    }
    *this = std::move(made);
    return true;
}

} // namespace pictures
