#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>

class QFrame;
class QLabel;
class QPushButton;
class QRubberBand;
class QWidget;

namespace pictures {
class PictureLoader;
struct DisplayPicture;
} // namespace pictures

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
//
// A marker is moved by dragging it with the mouse and releasing it over a plan picture: the marker
// of that plan's view moves there (the small marker follows a drop on the large plan). Markers
// move only while a book is edited (setMovable); while browsing a press on a marker does nothing,
// so a book shows the place it has. A release elsewhere than on a plan picture does nothing.
//
// From the keyboard, while a book is edited, the plan panels take the focus and the arrow keys move
// their marker a short step (a long one with Shift), as a drop of the marker that far away would:
// the same rules at the edges, the same place stored.
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

    // Loads the plan file into both views; a missing or unreadable file leaves them as they were.
    // The plan is read on a thread of its own (planLoader) and shown once read, so that no plan
    // holds the books window; a second load before the first is shown replaces it.
    void load(const QString& planFile);
    pictures::PictureLoader* planLoader() const { return m_loader; }

    // Marker positions in twips.
    QPoint smallMarker() const { return m_small; }
    QPointF largeMarker() const { return m_large; }
    void placeSmallMarker(QPoint twips);
    void placeLargeMarker(QPointF twips);
    // The small marker at `smallTwips` and the large one at the same place of its plan.
    void placeMarkers(QPoint smallTwips);
    void setMarkersVisible(bool visible);
    // Whether the markers can be dragged: while a book is edited. Off at first; turning it off
    // ends a drag under way.
    void setMovable(bool movable);
    bool isMovable() const { return m_movable; }
    // The blink of the marker of a book that has a place on the plan.
    void blink();
    // An arrow key pressed on the small plan (Picture5) or the large one (Picture7); false when it
    // is no arrow key. Steps are in pixels of the plan shown.
    static constexpr int kShortStep = 2;
    static constexpr int kLongStep = 20;
    bool markerKey(const QWidget* panel, int key, Qt::KeyboardModifiers modifiers);
    // The plan's controls as they are read, for the window's Tab order.
    QList<QWidget*> readingOrder() const;

    void openLargeView();  // Command17_Click, Image1_DblClick
    void closeLargeView(); // Command16_Click

    // A marker released over the small plan Image1, or over the large plan Image4. `drop` is the
    // point released over in twips of the plan picture (which sits at 0, 0 of its panel); `source`
    // the marker dragged, by default the marker of that view. The marker's centre lands on the
    // point; a marker that would start above or left of the panel is put at 10, one beyond the
    // panel's height or width at that height or width. A drop on the large plan carries the place
    // back to the small marker, which is what a book stores.
    void Image1_DragDrop(QPointF drop, const QWidget* source = nullptr);
    void Image4_DragDrop(QPointF drop, const QWidget* source = nullptr);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Shows `plan` (read at a reduced size, perhaps) as a picture of `natural` size would be shown.
    static void fitPicture(QLabel* picture, QWidget* panel, const QPixmap& plan, QSize natural);
    void showPlan(const pictures::DisplayPicture& read);
    // Where a marker dropped at `drop` lands in `panel`, clamped as above.
    static QPointF dropPlace(QPointF drop, const QWidget* marker, const QWidget* panel);
    bool dragEvent(QLabel* marker, QEvent* event);
    void moveOutline(QPoint global);
    void dropAt(const QLabel* source, QPoint global);
    void endDrag();

    pictures::PictureLoader* m_loader;
    bool m_movable = false;
    QPoint m_small{10, 10};
    QPointF m_large{22.2, 22.8};

    // The marker being dragged, where the press began, and the outline that follows the pointer.
    QPointer<QLabel> m_dragged;
    QPoint m_pressedAt;
    bool m_dragging = false;
    QPointer<QRubberBand> m_outline;
};

} // namespace books
