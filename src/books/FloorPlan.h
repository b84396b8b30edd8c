#pragma once

#include <QObject>
#include <QPoint>

class QFrame;
class QLabel;
class QPushButton;
class QWidget;

namespace books {

// Converts the window's design units (twips) to pixels and back; 15 twips make a pixel on a
// standard screen.
inline constexpr int kTwipsPerPixel = 15;
inline int twipsToPixels(double twips)
{
    return int(twips / kTwipsPerPixel + (twips >= 0 ? 0.5 : -0.5));
}

// The two views of the archive's floor plan in the books window, with the shelf marker of the
// current book. Marker positions are kept in twips, the unit stored in the book's posx and posy.
class FloorPlan : public QObject {
    Q_OBJECT
  public:
    // Builds the small view inside `smallParent` and the large view (hidden) inside `window`.
    FloorPlan(QWidget* smallParent, QWidget* window);

    QFrame* Picture5;       // small-plan panel
    QLabel* Image1;         // small plan picture
    QLabel* Image2;         // small marker
    QFrame* Picture8;       // large view, hidden at first
    QFrame* Picture7;       // large-plan panel
    QLabel* Image4;         // large plan picture
    QLabel* Image5;         // large marker
    QPushButton* Command16; // "Chiudi"
    QPushButton* Command17; // opens the large view

    // Loads the plan file into both views; a missing file leaves them as they were.
    void load(const QString& planFile);

    // Marker positions in twips.
    QPoint smallMarker() const { return m_small; }
    QPointF largeMarker() const { return m_large; }
    void placeSmallMarker(QPoint twips);
    void placeLargeMarker(QPointF twips);
    void setMarkersVisible(bool visible);
    // The blink of the marker of a book that has a place on the plan.
    void blink();

    void openLargeView();  // Command17_Click, Image1_DblClick
    void closeLargeView(); // Command16_Click

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    static void fitPicture(QLabel* picture, QWidget* panel, const QPixmap& plan);

    QPoint m_small{10, 10};
    QPointF m_large{22.2, 22.8};
};

} // namespace books
