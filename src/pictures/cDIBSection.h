#pragma once

#include <QImage>
#include <QtGlobal>

#include <memory>

namespace pictures {

// An in-memory picture with 24 bits per pixel whose pixels are addressed directly: three bytes per
// pixel in the order blue, green, red; rows stored bottom-up (the first row in memory is the
// bottom row of the picture); each row takes BytesPerScanLine() bytes, that is 3 × width rounded
// up to a multiple of 4, so it ends with 0 to 3 padding bytes (always zero here).
//
// The JPEG reader decodes straight into this layout and the writer encodes from it. Where the
// program draws or reads pictures with Qt, toImage() and fromImage() copy to and from a QImage.
class cDIBSection {
  public:
    // The largest picture a buffer takes: its whole size must fit the signed 32-bit sizes that
    // bitmap headers and the codec's row pitch use.
    static constexpr qint64 kMaxBytes = 0x7fffffff;

    cDIBSection() = default;
    cDIBSection(cDIBSection&& other) noexcept;
    cDIBSection& operator=(cDIBSection&& other) noexcept;
    cDIBSection(const cDIBSection&) = delete;
    cDIBSection& operator=(const cDIBSection&) = delete;
    ~cDIBSection() = default;

    // Makes a picture of `width` × `height` pixels, releasing the one held before. The pixels are
    // undefined until written; the padding bytes are zero. Returns false, leaving the buffer
    // empty, for a size of 0 or less, a size too large for kMaxBytes, or when memory runs out.
    bool Create(int width, int height);
    // Releases the picture; the buffer is empty afterwards. Nothing happens on an empty buffer.
    void ClearUp();

    // Bytes per row for this buffer's width (0 when empty), and for any width (-1 when the row
    // would not fit kMaxBytes).
    int BytesPerScanLine() const { return m_stride; }
    static qint64 scanLineFor(int width);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Start of the pixel memory (the bottom row); null when empty.
    uchar* DIBSectionBitsPtr() { return m_bits.get(); }
    const uchar* DIBSectionBitsPtr() const { return m_bits.get(); }
    bool isEmpty() const { return !m_bits; }

    // The pixels of row `y` counted from the top of the picture, as a viewer sees it.
    uchar* rowFromTop(int y) { return m_bits.get() + qsizetype(m_height - 1 - y) * m_stride; }
    const uchar* rowFromTop(int y) const { return m_bits.get() + qsizetype(m_height - 1 - y) * m_stride; }

    // An upright copy in QImage::Format_RGB32; a null image when the buffer is empty.
    QImage toImage() const;
    // Replaces the picture with a copy of `image`, any format; a transparent picture is laid on
    // white. Returns false, leaving the buffer as it was, for a null image or one too large.
    bool fromImage(const QImage& image);

  private:
    std::unique_ptr<uchar[]> m_bits;
    int m_width = 0;
    int m_height = 0;
    int m_stride = 0;
};

} // namespace pictures
