// The shelf marker on the books window's floor plan: drops on the small and the large plan with
// their limits and scales, real mouse drags, when a drag counts (only while a book is edited), and
// the place a saved book keeps.
#include "PictureTests.h"

#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "support/TestSupport.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRubberBand>
#include <QTimer>
#include <QWindow>
#include <QtTest>

using testsupport::BooksWindow;

namespace {

constexpr int kTwips = 15; // twips per pixel

QVariant stored(const BooksWindow& books, const char* column, qint64 id)
{
    return testsupport::scalar(
        books.path(), QStringLiteral("SELECT %1 FROM biblio WHERE id=%2").arg(QString::fromLatin1(column)).arg(id));
}

QPoint storedPlace(const BooksWindow& books, qint64 id)
{
    return QPoint(stored(books, "posx", id).toInt(), stored(books, "posy", id).toInt());
}

QPoint panelSize(const QWidget* panel)
{
    return QPoint(panel->width() * kTwips, panel->height() * kTwips);
}

} // namespace

class TestFloorPlanDrag : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

    static void click(const BooksWindow& books, const char* button)
    {
        QTest::mouseClick(books.control<QPushButton>(QString::fromLatin1(button)), Qt::LeftButton);
    }

    // Presses on the middle of `marker`, moves in a few steps as a hand does and releases at
    // `at` in the coordinates of `over`, through the window system as the user's mouse does.
    static void drag(QWidget* marker, QWidget* over, QPoint at, bool* outlineSeen = nullptr)
    {
        QWidget* top = marker->window();
        QWindow* handle = top->windowHandle();
        if (!handle) {
            throw std::runtime_error("the window is not shown");
        }
        const QPoint start = marker->mapTo(top, marker->rect().center());
        const QPoint end = over->mapTo(top, at);
        QTest::mousePress(handle, Qt::LeftButton, {}, start);
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(handle, start + (end - start) * step / 4);
        }
        if (outlineSeen) {
            const auto* outline = top->findChild<QRubberBand*>(QStringLiteral("MarkerOutline"));
            *outlineSeen = outline && outline->isVisible() && outline->geometry().center() == end;
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, end);
    }

    // Where a marker lands when released at pixel `at` of a plan: its centre on the point.
    static QPoint landing(QPoint at) { return QPoint(at.x() * kTwips - 240, at.y() * kTwips - 240); }

  private slots:
    void init() { testsupport::resetShellState(); }

    void dropsOnTheSmallPlanStayOnIt()
    {
        picturetests::body([&] {
            BooksWindow books;
            books.select(QStringLiteral("500")); // Zeta, at 900, 600
            click(books, "CmdModifica");
            books::FloorPlan* plan = books.window().floorPlan();
            const QPoint edge = panelSize(plan->Picture5);

            plan->Image1_DragDrop(QPointF(2000, 1500));
            QCOMPARE(plan->smallMarker(), QPoint(1760, 1260));
            QCOMPARE(plan->Image2->pos(), QPoint(117, 84));
            // Half the marker would lie above or left of the panel: 10.
            plan->Image1_DragDrop(QPointF(100, 100));
            QCOMPARE(plan->smallMarker(), QPoint(10, 10));
            plan->Image1_DragDrop(QPointF(239, 1500));
            QCOMPARE(plan->smallMarker(), QPoint(10, 1260));
            plan->Image1_DragDrop(QPointF(1500, 240));
            QCOMPARE(plan->smallMarker(), QPoint(1260, 0));
            // Beyond the bottom-right corner: the panel's height and width.
            plan->Image1_DragDrop(QPointF(99999, 99999));
            QCOMPARE(plan->smallMarker(), edge);
            plan->Image1_DragDrop(QPointF(edge.x() + 239, edge.y() + 241));
            QCOMPARE(plan->smallMarker(), QPoint(edge.x() - 1, edge.y()));
            // The large marker dropped here moves the small one all the same.
            plan->Image1_DragDrop(QPointF(3000, 2000), plan->Image5);
            QCOMPARE(plan->smallMarker(), QPoint(2760, 1760));

            click(books, "CmdModifica");
            QCOMPARE(msg::shownTexts(), QStringList());
            QCOMPARE(storedPlace(books, 500), QPoint(2760, 1760));
            QCOMPARE(storedPlace(books, 900), QPoint(0, 0));
        });
    }

    void theLargePlanCarriesThePlaceBack()
    {
        picturetests::body([&] {
            BooksWindow books;
            books.select(QStringLiteral("500"));
            click(books, "CmdModifica");
            books::FloorPlan* plan = books.window().floorPlan();
            QTest::mouseClick(plan->Command17, Qt::LeftButton);
            QVERIFY(plan->Picture8->isVisible());
            QCOMPARE(plan->largeMarker(), QPointF(1998, 1368));

            // The marker put at left 2195, top 2260 on the large plan: the small one at 1000, 1000.
            plan->Image4_DragDrop(QPointF(2195 + 240, 2260 + 240));
            QCOMPARE(plan->largeMarker(), QPointF(2195, 2260));
            QCOMPARE(plan->smallMarker(), QPoint(1000, 1000));
            QCOMPARE(plan->Image2->pos(), QPoint(67, 67));
            // Opened again, the large view derives its marker from the small one.
            QTest::mouseClick(plan->Command16, Qt::LeftButton);
            QVERIFY(!plan->Picture8->isVisible());
            QTest::mouseClick(plan->Command17, Qt::LeftButton);
            QCOMPARE(plan->largeMarker(), QPointF(2220, 2280));

            // The large plan's own limits.
            const QPoint edge = panelSize(plan->Picture7);
            plan->Image4_DragDrop(QPointF(99999, 99999));
            QCOMPARE(plan->largeMarker(), QPointF(edge));
            QCOMPARE(plan->smallMarker(), QPoint(qRound(edge.x() / 2.195), qRound(edge.y() / 2.26)));
            plan->Image4_DragDrop(QPointF(100, 100));
            QCOMPARE(plan->largeMarker(), QPointF(10, 10));
            QCOMPARE(plan->smallMarker(), QPoint(5, 4));

            plan->Image4_DragDrop(QPointF(2195 + 240, 2260 + 240));
            click(books, "CmdModifica");
            QCOMPARE(storedPlace(books, 500), QPoint(1000, 1000));
            // Shown again after the save, and read again by the next edit.
            QCOMPARE(plan->smallMarker(), QPoint(1000, 1000));
            books.select(QStringLiteral("300"));
            books.select(QStringLiteral("500"));
            click(books, "CmdModifica");
            QCOMPARE(plan->smallMarker(), QPoint(1000, 1000));
            click(books, "CmdNuovo");
        });
    }

    void aBookWithoutAPlaceShowsTheLargeMarkerInTheCorner()
    {
        picturetests::body([&] {
            BooksWindow books;
            books.select(QStringLiteral("300")); // at 10, 10
            books::FloorPlan* plan = books.window().floorPlan();
            QTest::mouseDClick(plan->Image1, Qt::LeftButton);
            QVERIFY(plan->Picture8->isVisible());
            QCOMPARE(plan->largeMarker(), QPointF(22.2, 22.8));
            QVERIFY(plan->Image5->isVisible());
            QCOMPARE(plan->Image5->pos(), QPoint(1, 2));
        });
    }

    void aMouseDragMovesTheMarkerAndSalvaStoresIt()
    {
        picturetests::body([&] {
            BooksWindow books;
            books.select(QStringLiteral("500"));
            books::FloorPlan* plan = books.window().floorPlan();
            click(books, "CmdModifica");

            bool outlineSeen = false;
            drag(plan->Image2, plan->Image1, QPoint(150, 100), &outlineSeen);
            QVERIFY(outlineSeen);
            QCOMPARE(plan->smallMarker(), landing({150, 100}));
            QVERIFY(!books.window().findChild<QRubberBand*>(QStringLiteral("MarkerOutline"))->isVisible());
            // Released over the marker itself, the marker moves by the little it was dragged.
            const QPoint nudged = plan->Image2->geometry().center() + QPoint(8, 6); // the plan sits at 0, 0
            drag(plan->Image2, plan->Image2, plan->Image2->rect().center() + QPoint(8, 6));
            QCOMPARE(plan->smallMarker(), landing(nudged));
            click(books, "CmdModifica");
            QCOMPARE(msg::shownTexts(), QStringList());
            QCOMPARE(storedPlace(books, 500), landing(nudged));

            // On the large plan, carried back to the small marker.
            click(books, "CmdModifica");
            QTest::mouseClick(plan->Command17, Qt::LeftButton);
            drag(plan->Image5, plan->Image4, QPoint(300, 200));
            QCOMPARE(plan->largeMarker(), QPointF(landing({300, 200})));
            const QPoint small(qRound(landing({300, 200}).x() / 2.195), qRound(landing({300, 200}).y() / 2.26));
            QCOMPARE(plan->smallMarker(), small);
            click(books, "CmdModifica");
            QCOMPARE(storedPlace(books, 500), small);
            // Nothing else in the row, nor in another row, changed.
            QCOMPARE(stored(books, "titolo", 500).toString(), QStringLiteral("Zeta"));
            QCOMPARE(storedPlace(books, 900), QPoint(0, 0));
        });
    }

    void dragsThatDoNotMoveTheBooksPlace()
    {
        picturetests::body([&] {
            // A plan smaller than the panel: the rest of the panel is no drop target.
            QImage planImage(120, 80, QImage::Format_RGB32);
            planImage.fill(Qt::white);
            BooksWindow books(BooksWindow::catalogue(), false);
            QVERIFY(planImage.save(Modulo1::CartellaArchivio + QStringLiteral("piantabiblioteca.jpg")));
            books.load();
            FrmBiblio& w = books.window();
            books::FloorPlan* plan = w.floorPlan();
            QCOMPARE(plan->Image1->size(), QSize(120, 80));
            books.select(QStringLiteral("500"));
            // Still, so that a blink does not hide it under the pointer.
            w.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
            plan->Image2->show();
            const QPoint place(900, 600);

            // While browsing no marker moves: a book shows the place it has.
            drag(plan->Image2, plan->Image1, QPoint(100, 50));
            QCOMPARE(plan->smallMarker(), place);
            QVERIFY(!plan->isMovable());
            plan->openLargeView();
            QVERIFY(!plan->Picture7->isEnabled());
            QCOMPARE(plan->Image4->size(), QSize(120, 80));
            drag(plan->Image5, plan->Image4, QPoint(60, 40));
            drag(plan->Image5, plan->Image1, QPoint(100, 20));
            // Nor the small marker dropped on the large plan (which leaves the small marker uncovered).
            QCOMPARE(w.childAt(plan->Image2->mapTo(&w, plan->Image2->rect().center())), plan->Image2);
            drag(plan->Image2, plan->Image4, QPoint(60, 40));
            QCOMPARE(plan->largeMarker(), QPointF(1998, 1368));
            QCOMPARE(plan->smallMarker(), place);
            plan->closeLargeView();
            QCOMPARE(storedPlace(books, 500), place);

            // While the book is edited: a click is no drag; a release off the plan, on the panel
            // beside it or on the list, does nothing.
            click(books, "CmdModifica");
            QVERIFY(plan->isMovable());
            QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, plan->Image2->mapTo(&w, QPoint(16, 16)));
            drag(plan->Image2, plan->Picture5, QPoint(200, 100));
            drag(plan->Image2, books.widget(QStringLiteral("DBList1")), QPoint(20, 20));
            QCOMPARE(plan->smallMarker(), place);
            // The small marker released on the large plan moves the large one, and the place
            // comes back to the small one.
            plan->openLargeView();
            drag(plan->Image2, plan->Image4, QPoint(60, 40));
            QCOMPARE(plan->largeMarker(), QPointF(landing({60, 40})));
            QCOMPARE(plan->smallMarker(),
                     QPoint(qRound(landing({60, 40}).x() / 2.195), qRound(landing({60, 40}).y() / 2.26)));
            plan->closeLargeView();

            // "Annulla" forgets a drag, and browsing again the markers stay put.
            drag(plan->Image2, plan->Image1, QPoint(100, 50));
            QCOMPARE(plan->smallMarker(), landing({100, 50}));
            click(books, "CmdNuovo");
            QCOMPARE(plan->smallMarker(), place);
            QCOMPARE(storedPlace(books, 500), place);
            QVERIFY(!plan->isMovable());
            w.findChild<QTimer*>(QStringLiteral("Timer1"))->stop();
            plan->Image2->show();
            drag(plan->Image2, plan->Image1, QPoint(100, 50));
            QCOMPARE(plan->smallMarker(), place);
            QCOMPARE(msg::shownTexts(), QStringList());
        });
    }
};

namespace picturetests {

std::unique_ptr<QObject> makeFloorPlanDragTests()
{
    return std::make_unique<TestFloorPlanDrag>();
}

} // namespace picturetests

#include "tst_floorplan_drag.moc"
