#pragma once

#include "printing/PrintSurface.h"

#include <QList>
#include <QSize>

namespace printing {

// A print surface that keeps everything laid out on it, with its place: what the tests read to
// check a printout exactly. It measures fonts as the printer does, so the twips are the ones the
// printer gets.
class RecordingSurface : public PrintSurface {
  public:
    struct Text {
        int document = 0; // from 1
        int page = 0;     // from 1, within the document
        QPointF at;       // the top-left of the text, in twips
        QString text;
        QString font;
        qreal size = 0;
        bool bold = false;
        bool turned = false; // drawn turned 90° anticlockwise about `at` (drawText)
    };
    struct Picture {
        int document = 0;
        int page = 0;
        QRectF twips;
        QSize pixels;
    };
    // A black rectangle, or a rectangle's outline (pen > 0).
    struct Rect {
        int document = 0;
        int page = 0;
        QRectF twips;
        qreal pen = 0;
    };
    struct Document {
        Orientation orientation = Orientation::Portrait;
        int pages = 0;
    };

    // The printable area in portrait; A4 less 10-point margins unless told otherwise.
    explicit RecordingSurface(QSizeF portraitPage = QSizeF(11506, 16438),
                              QString name = QStringLiteral("Stampante di prova"));

    // The paper's corner from the printable area's, in portrait (the printer's margins: 10 points
    // unless told otherwise); in landscape the same margins, turned.
    QPointF portraitPaperCorner{-200, -200};

    QString deviceName() const override { return m_name; }

    QList<Text> texts;
    QList<Picture> pictures;
    QList<Rect> rects;    // filled
    QList<Rect> outlines;
    QList<Document> documents; // finished documents
    int abandoned = 0;         // documents left unfinished by a failed run
    bool documentOpen() const { return m_open; }

    // The texts of one document, or of one line (the texts whose top is `y`).
    QList<Text> textsOf(int document) const;
    // Every text printed with its top at `y` (within half a twip) in `document`, left to right.
    QList<Text> lineAt(int document, int page, qreal y) const;

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
    QSizeF m_portrait;
    QString m_name;
    bool m_open = false;
    Document m_current;
};

} // namespace printing
