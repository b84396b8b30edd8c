#pragma once

#include "printing/PrintSurface.h"

#include <QPageLayout>

#include <memory>
#include <vector>

class QSaveFile;

namespace printing {

class PdfDocument;

// The print surface of the "PDF..." output: each document is a PDF file that the program writes
// itself (see PdfDocument), page by page, in the size, orientation and margins of the page layout
// it is given. A file is written beside its name and put in its place only when every copy of the
// run was written whole (completeRun), so a full disk or a run that fails leaves the files that were
// there before. Copies after the first go to "name (2).pdf", "name (3).pdf", ...
//
// Failures throw store::DbError with a message that names the file.
class PdfSurface : public PrintSurface {
  public:
    PdfSurface(const QString& pdfPath, const QPageLayout& layout);
    // A document still open is abandoned, and copies not yet put in place are dropped.
    ~PdfSurface() override;

    QString deviceName() const override;
    void completeRun() override;
    // The file of the document `n` (from 1).
    static QString pdfFileOf(const QString& pdfPath, int n);

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
    // Throws the file's error once a write to it failed.
    void checkWritten();

    QString m_pdfPath;
    QPageLayout m_layout;
    int m_documentNumber = 0;
    std::unique_ptr<QSaveFile> m_file;
    std::unique_ptr<PdfDocument> m_document;
    std::vector<std::unique_ptr<QSaveFile>> m_written; // copies written whole, not yet in place
};

} // namespace printing
