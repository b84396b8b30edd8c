#include "controls/Barcode.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <zint.h>

namespace controls {

QImage code39Image(const QString& text, int moduleWidth, int height)
{
    if (text.isEmpty()) {
        return {};
    }
    std::unique_ptr<zint_symbol, decltype(&ZBarcode_Delete)> symbol(ZBarcode_Create(), &ZBarcode_Delete);
    if (!symbol) {
        return {};
    }
    symbol->symbology = BARCODE_CODE39;
    symbol->output_options |= BARCODE_QUIET_ZONES;
    symbol->show_hrt = 0;
    symbol->scale = float(std::max(1, moduleWidth)) / 2.0f; // scale 1 = 2 pixels per module
    symbol->height = float(height) / float(std::max(1, moduleWidth));
    const QByteArray data = text.toLatin1();
    if (ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(data.constData()), int(data.size())) >=
        ZINT_ERROR) {
        return {};
    }
    if (ZBarcode_Buffer(symbol.get(), 0) >= ZINT_ERROR || !symbol->bitmap) {
        return {};
    }
    const int w = symbol->bitmap_width;
    const int h = symbol->bitmap_height;
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        std::memcpy(image.scanLine(y), symbol->bitmap + std::size_t(y) * w * 3, std::size_t(w) * 3);
    }
    return image;
}

BarcodeLabel::BarcodeLabel(QWidget* parent) : QLabel(parent)
{
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void BarcodeLabel::setCode(const QString& code)
{
    m_code = code;
    const QImage image = code39Image(code);
    setPixmap(image.isNull() ? QPixmap() : QPixmap::fromImage(image));
    setAccessibleDescription(code);
    setToolTip(code);
}

} // namespace controls
