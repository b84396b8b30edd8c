#pragma once

#include "printing/PrintSurface.h"

#include <QPageLayout>

#include <memory>
#include <vector>

class QSaveFile;

class QPrinter;

namespace printing {

// Printer errors, with the numbers the program shows.
inline constexpr int kErrPrinter = 482;

// The print surface of real output: each document is either a print job on a printer (or the
// pages of a print preview), or a PDF file. A PDF is written beside its name and put in its place
// only when every copy of the run was written whole (completeRun), so a full disk or a run that
// fails leaves the files that were there before. Copies after the first go to "name (2).pdf",
// "name (3).pdf", ...
//
// Texts are drawn as few at a time as their faces allow: the texts in one fixed-pitch face that
// follow each other, line after line, are drawn together as one run of glyphs, each glyph where
// drawing the texts one by one puts it, until the face changes or a picture, a page or the
// document's end comes; a PDF costs about the same to write for one text as for a whole page of
// them. A text that needs more than one glyph per character in order (marks, right-to-left
// scripts, control characters, a character the face lacks) is drawn on its own, as the system lays
// it out.
//
// Failures throw store::DbError with a message that names the printer or the file.
class PrinterSurface : public PrintSurface {
  public:
    explicit PrinterSurface(QPrinter& printer);
    PrinterSurface(const QString& pdfPath, const QPageLayout& layout);
    // A document still open is abandoned: a PDF file is not written; the pages already sent to a
    // printer stay with it.
    ~PrinterSurface() override;

    QString deviceName() const override;
    void completeRun() override;
    // The file of the document `n` (from 1) of a PDF output.
    static QString pdfFileOf(const QString& pdfPath, int n);

  protected:
    QSizeF printableSize(Orientation orientation) const override;
    void beginDocument(Orientation orientation) override;
    void beginPage() override;
    void place(const QPointF& topLeft, qreal baseline, const QString& text, const QFont& font) override;
    void placePicture(const QImage& picture, const QRectF& twips) override;
    void finishDocument() override;
    void discardDocument() noexcept override;

  private:
    struct Open;
    struct Face;
    struct Run;
    void prepareDevice();
    QPageLayout layoutOf(Orientation orientation) const;
    const Face& faceOf(const QFont& font);
    bool addToRun(const Face& face, const QPointF& origin, const QString& text);
    void drawRun();

    QPrinter* m_printer = nullptr;
    QString m_pdfPath;
    QPageLayout m_layout;
    int m_documentNumber = 0;
    std::unique_ptr<Open> m_open;
    std::vector<std::unique_ptr<Face>> m_faces;        // the faces met so far, each prepared once
    std::unique_ptr<Run> m_run;                        // texts placed, not yet drawn
    std::vector<std::unique_ptr<QSaveFile>> m_written; // PDF copies written whole, not yet in place
};

} // namespace printing
