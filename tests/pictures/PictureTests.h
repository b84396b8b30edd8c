#pragma once

// What the viewer and floor-plan tests share: photo files written into the temporary program
// folder, and each test class's run, called by the one main of the test program.

#include <QByteArray>
#include <QColor>
#include <QSize>
#include <QString>
#include <QTest>
#include <QWidget>

#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace picturetests {

// Colours of the test pictures, and whether two colours are the same within JPEG's tolerance.
inline const QColor kRed(220, 20, 20);
inline const QColor kBlue(20, 20, 220);
inline const QColor kGreen(20, 200, 20);
inline bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

// A JPEG of `size` filled with `colour`. With `quarterTurned` the pixels are stored turned by a
// quarter (height × width) and the file says so, as cameras held upright write it: its upright
// picture is `size`.
QByteArray jpeg(QSize size, QColor colour, bool quarterTurned = false);
// Writes `content` as the photo of book `id` in the program's photo folder; its path.
QString writePhoto(qint64 id, const QByteArray& content);

// A child of `window` by object name and kind; throws (failing the running test only) when it is
// missing or of another kind.
template <typename T> T* child(const QWidget* window, const QString& name)
{
    if (!window) {
        throw std::runtime_error("no window to look for " + name.toStdString() + " in");
    }
    T* c = window->findChild<T*>(name);
    if (!c) {
        throw std::runtime_error("missing control " + name.toStdString());
    }
    return c;
}

// Runs the body of a test function. A missing control throws, and the exception fails the running
// test only: left to Qt Test, an exception from a test function ends the whole program.
template <typename Body> void body(Body&& run)
{
    try {
        run();
    } catch (const std::exception& e) {
        QTest::qFail(e.what(), __FILE__, __LINE__);
    }
}

// The test classes of the program, run one after the other by its main.
std::unique_ptr<QObject> makeViewerTests();
std::unique_ptr<QObject> makeFloorPlanDragTests();

} // namespace picturetests
