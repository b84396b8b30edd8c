#pragma once

#include "printing/PrintSurface.h"

#include <QPageLayout>

#include <memory>

class QPrinter;

namespace printing {

// Printer errors, with the numbers the program shows.
inline constexpr int kErrPrinter = 482;

// The print surface of a printer (or of the pages of a print preview): each document is a print
// job, drawn through the system's painter one text at a time. PDF files are written by PdfSurface.
//
// Failures throw store::DbError with a message that names the printer.
class PrinterSurface : public PrintSurface {
  public:
    explicit PrinterSurface(QPrinter& printer);
    // A document still open is abandoned: the pages already sent to the printer stay with it.
    ~PrinterSurface() override;

    QString deviceName() const override;

  protected:
    QSizeF printableSize(Orientation orientation) const override;
    void beginDocument(Orientation orientation) override;
    void beginPage() override;
    void place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font) override;
    void placePicture(const QImage& picture, const QRectF& twips) override;
    void placeRect(const QRectF& twips) override;
    void placeOutline(const QRectF& twips, qreal pen) override;
    void placeTurned(const QPointF& pivot, qreal ascent, const QString& text, const QFont& font) override;
    QPointF paperCornerOf(Orientation orientation) const override;
    void finishDocument() override;
    void discardDocument() noexcept override;

  private:
    struct Open;
    void prepareDevice();

    QPrinter* m_printer = nullptr;
    QPageLayout m_layout;
    std::unique_ptr<Open> m_open;
};

} // namespace printing
