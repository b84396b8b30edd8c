#pragma once

#include <QImage>
#include <QLabel>
#include <QString>

namespace controls {

// Draws `text` as a Code 39 bar code with quiet zones, `moduleWidth` pixels per narrow bar and
// `height` pixels tall. Returns a null image when the text cannot be encoded.
QImage code39Image(const QString& text, int moduleWidth = 2, int height = 40);

// A label that shows a key as a Code 39 bar code.
class BarcodeLabel : public QLabel {
    Q_OBJECT
  public:
    explicit BarcodeLabel(QWidget* parent = nullptr);
    void setCode(const QString& code);
    const QString& code() const { return m_code; }

  private:
    QString m_code;
};

} // namespace controls
