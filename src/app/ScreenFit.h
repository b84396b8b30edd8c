#pragma once

#include <QRect>
#include <QSize>

#include <memory>

class QMdiArea;
class QMdiSubWindow;
class QSettings;
class QWidget;

// Every window fits the screen it is on, and comes back where the user left it.
//
// The main window opens inside the screen's available geometry (panels and docks left out), its
// title bar and frame included. A record window keeps its design (its layout in twips, or its
// layouts at their design size) and is scaled down as a whole, fonts included, when the frame's
// work area is smaller; fonts never go below kMinimumPoints, and below kMinimumScale the work area
// scrolls to what does not fit. Sizes and places of the main window and of each record window are
// remembered in the program's settings, and brought back inside the screen when it shrank.
namespace screenfit {

inline constexpr double kMinimumPoints = 8.0;
inline constexpr double kMinimumScale = 0.8;

// `rect` made to fit `area`: no larger than it, and moved inside it.
QRect fitInside(QRect rect, const QRect& area);

// The main window: its remembered geometry, or `designSize` at the top centre of its screen; in
// either case whole inside the screen's available geometry, frame included.
void placeMainWindow(QWidget* frame, QSize designSize);
// The first time, unless a remembered place was restored: the main window at the top centre of its
// screen's available geometry. Always: whole inside it.
void placeAtTopCentre(QWidget* frame);
// Makes sure the main window is still whole inside its screen's available geometry.
void keepOnScreen(QWidget* frame);
void rememberMainWindow(const QWidget* frame);

// A record window `window` just put into the sub-window `sub` of `area`, with its design size:
// scaled to the area when needed, sized and placed as remembered, whole inside the area. Its
// size and place are remembered from then on, under the window's object name.
void fitChild(QMdiArea* area, QMdiSubWindow* sub, QWidget* window, QSize designSize);

// The scale a record window is shown at (1 at its design size).
double scaleOf(const QWidget* window);
// Shows a record window at `scale` of its design (clamped to kMinimumScale .. 1): the geometry of
// every control placed by position, and every font, never below kMinimumPoints. A window built
// with layouts keeps them: its fonts and its size are scaled, the layouts place the controls.
void setScale(QWidget* window, double scale);

} // namespace screenfit
