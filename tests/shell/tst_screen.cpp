// Every window fits the screen it is on, and sizes and places are remembered: run offscreen on a
// screen of the size CARTEO_TEST_SCREEN names (the offscreen platform's configuration file gives
// it, see CMakeLists.txt), with the main window's frame margins on; without it, on the platform's
// own screen.
#include "app/ChildWindows.h"
#include "app/Messages.h"
#include "app/Paths.h"
#include "app/ScreenFit.h"
#include "books/AuthorsPanel.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "books/PublishersPanel.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

QSize screenUnderTest()
{
    const QList<QByteArray> parts = qgetenv("CARTEO_TEST_SCREEN").split('x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

QRect available()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// Scrolls the frame's work area until `widget` shows, as far as its scroll bars go; returns the
// widget's rectangle in the area's viewport.
QRect reveal(QMdiArea* area, QWidget* widget)
{
    QWidget* viewport = area->viewport();
    // The area works out its scroll range when it gets to it, as it does before the user scrolls.
    QCoreApplication::processEvents();
    const auto place = [&] { return QRect(widget->mapTo(viewport, QPoint(0, 0)), widget->size()); };
    QRect r = place();
    const auto scrollBy = [](QScrollBar* bar, int by) { bar->setValue(bar->value() + by); };
    if (r.right() > viewport->rect().right()) {
        scrollBy(area->horizontalScrollBar(), r.right() - viewport->rect().right());
    }
    if (place().left() < 0) {
        scrollBy(area->horizontalScrollBar(), place().left());
    }
    if (place().bottom() > viewport->rect().bottom()) {
        scrollBy(area->verticalScrollBar(), place().bottom() - viewport->rect().bottom());
    }
    if (place().top() < 0) {
        scrollBy(area->verticalScrollBar(), place().top());
    }
    return place();
}

} // namespace

class TestScreen : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;

    void start(MDIForm1& main)
    {
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));
        main.MDIForm_Load();
        QVERIFY(main.booksWindow());
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    // The frame whole inside the screen's available geometry, title bar and frame included.
    static void checkFrame(const MDIForm1& main)
    {
        QVERIFY2(available().contains(main.frameGeometry()), qPrintable(QStringLiteral("frame %1,%2 %3x%4")
                                                                            .arg(main.frameGeometry().x())
                                                                            .arg(main.frameGeometry().y())
                                                                            .arg(main.frameGeometry().width())
                                                                            .arg(main.frameGeometry().height())));
        QVERIFY(main.frameGeometry().top() >= available().top());
    }

    // Every button of `window` that shows is inside the work area (after scrolling it), and the
    // work area is on the screen; no font is below 8 points.
    static void checkReachable(MDIForm1& main, QWidget* window, const QStringList& mustBeThere)
    {
        QMdiArea* area = main.mdiArea();
        QWidget* viewport = area->viewport();
        const QRect onScreen(viewport->mapToGlobal(QPoint(0, 0)), viewport->size());
        QVERIFY(available().contains(onScreen));
        QStringList seen;
        for (QPushButton* button : window->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(window)) {
                continue;
            }
            const QRect r = reveal(area, button);
            // Not cut off by the window's own frame either.
            const QWidget* sub = window->parentWidget();
            const QRect inside(sub->mapTo(viewport, sub->contentsRect().topLeft()), sub->contentsRect().size());
            QVERIFY2(viewport->rect().contains(r) && inside.contains(r),
                     qPrintable(window->objectName() + QLatin1Char('/') + button->objectName() + QLatin1Char(' ') +
                                button->text() +
                                QStringLiteral(" at %1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()) +
                                QStringLiteral(" in %1,%2 %3x%4")
                                    .arg(inside.x())
                                    .arg(inside.y())
                                    .arg(inside.width())
                                    .arg(inside.height()) +
                                QStringLiteral(" viewport %1x%2").arg(viewport->width()).arg(viewport->height())));
            seen << button->objectName();
        }
        for (const QString& name : mustBeThere) {
            QVERIFY2(seen.contains(name), qPrintable(name));
        }
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->font().pointSizeF() > 0) {
                QVERIFY2(w->font().pointSizeF() >= screenfit::kMinimumPoints - 0.01, qPrintable(w->objectName()));
            }
        }
    }

  private slots:
    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE')"));
    }

    void cleanup()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    void everyButtonIsWithinReach()
    {
        // The platform was given the screen this run is about (without one, its own 800×800).
        if (!screenUnderTest().isEmpty()) {
            QCOMPARE(QGuiApplication::primaryScreen()->size(), screenUnderTest());
        }

        MDIForm1 main;
        start(main);
        checkFrame(main);
        FrmBiblio* books = main.booksWindow();
        const QStringList editAndPrint{QStringLiteral("CmdNuovo"), QStringLiteral("CmdModifica"),
                                       QStringLiteral("Cmdelimina"), QStringLiteral("Command1_0"),
                                       QStringLiteral("Command1_1")};
        checkReachable(main, books, editAndPrint + QStringList{QStringLiteral("Command1_2")});
        // The books window's own panels, at the scale it is shown at.
        books->authorsPanel()->show();
        checkReachable(main, books, {});
        books->authorsPanel()->hide();
        books->publishersPanel()->show();
        checkReachable(main, books, {});
        books->publishersPanel()->hide();
        books->floorPlan()->openLargeView();
        checkReachable(main, books, {QStringLiteral("Command16")});
        books->floorPlan()->closeLargeView();

        main.MnuVisualAutori_Click();
        QVERIFY(main.authorsWindow());
        checkReachable(main, main.authorsWindow(),
                       editAndPrint + QStringList{QStringLiteral("Command2_0"), QStringLiteral("Command2_1")});
        main.MnuVisualEditori_Click();
        QVERIFY(main.publishersWindow());
        checkReachable(main, main.publishersWindow(),
                       editAndPrint + QStringList{QStringLiteral("Command2_0"), QStringLiteral("Command2_1")});
        checkFrame(main);

        // The frame made smaller: the windows are scaled to it again (down to the smallest
        // readable scale, then the area scrolls), and nothing goes out of reach; made as large as
        // the screen again, they come back to the scale they had.
        main.MnuVisualBiblio_Click();
        const double booksScale = screenfit::scaleOf(books);
        const QSize frameSize = main.size();
        main.resize(frameSize * 0.7);
        QVERIFY(screenfit::scaleOf(books) < booksScale || booksScale == screenfit::kMinimumScale);
        QVERIFY(screenfit::scaleOf(books) >= screenfit::kMinimumScale);
        checkReachable(main, books, editAndPrint + QStringList{QStringLiteral("Command1_2")});
        main.resize(frameSize);
        QCOMPARE(screenfit::scaleOf(books), booksScale);
        checkReachable(main, books, editAndPrint);
    }

    void scalingKeepsTheDesignAndThePlanCoordinates()
    {
        // A record window placed by twips: every control scaled as a whole, fonts never below 8
        // points, and back to its design at 1.
        frmAutori authors;
        const QSize design = authors.size();
        auto* nuovo = authors.findChild<QPushButton*>(QStringLiteral("CmdNuovo"));
        const QRect nuovoAtDesign = nuovo->geometry();
        auto* title = authors.findChild<QWidget*>(QStringLiteral("LabelTitolo"));
        const qreal titlePoints = title->font().pointSizeF();
        screenfit::setScale(&authors, 0.8);
        QCOMPARE(screenfit::scaleOf(&authors), 0.8);
        QCOMPARE(authors.size(), QSize(qRound(design.width() * 0.8), qRound(design.height() * 0.8)));
        QVERIFY(qAbs(nuovo->geometry().width() - nuovoAtDesign.width() * 0.8) <= 1);
        QVERIFY(qAbs(nuovo->geometry().left() - nuovoAtDesign.left() * 0.8) <= 1);
        QCOMPARE(title->font().pointSizeF(), titlePoints * 0.8);
        for (QWidget* w : authors.findChildren<QWidget*>()) {
            if (w->font().pointSizeF() > 0) {
                QVERIFY(w->font().pointSizeF() >= screenfit::kMinimumPoints);
            }
        }
        // Never smaller than the smallest readable scale: the work area scrolls instead.
        screenfit::setScale(&authors, 0.3);
        QCOMPARE(screenfit::scaleOf(&authors), screenfit::kMinimumScale);
        screenfit::setScale(&authors, 1);
        QCOMPARE(authors.size(), design);
        QCOMPARE(nuovo->geometry(), nuovoAtDesign);
        QCOMPARE(title->font().pointSizeF(), titlePoints);

        // The books window at a smaller scale: a marker dragged onto the plan is stored in the plan's
        // own coordinates, as at its design size.
        testsupport::BooksWindow books;
        FrmBiblio& window = books.window();
        books::FloorPlan* plan = window.floorPlan();
        const QSize planAtDesign = plan->Picture5->size();
        screenfit::setScale(&window, 0.8);
        QCOMPARE(plan->Picture5->size(), planAtDesign);
        books.select(QStringLiteral("500"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QWidget* top = plan->Image2->window();
        QWindow* handle = top->windowHandle();
        QVERIFY(handle);
        const QPoint from = plan->Image2->mapTo(top, plan->Image2->rect().center());
        const QPoint to = plan->Image1->mapTo(top, QPoint(150, 100));
        QTest::mousePress(handle, Qt::LeftButton, {}, from);
        for (int step = 1; step <= 4; ++step) {
            QTest::mouseMove(handle, from + (to - from) * step / 4);
        }
        QTest::mouseRelease(handle, Qt::LeftButton, {}, to);
        // The marker's centre on the point released over: 150, 100 pixels of the plan, in twips.
        const QPoint landed(150 * 15 - 240, 100 * 15 - 240);
        QCOMPARE(plan->smallMarker(), landed);
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(testsupport::scalar(books.path(), QStringLiteral("SELECT posx FROM biblio WHERE id=500")).toInt(),
                 landed.x());
        QCOMPARE(testsupport::scalar(books.path(), QStringLiteral("SELECT posy FROM biblio WHERE id=500")).toInt(),
                 landed.y());
    }

    void placesAreRememberedAndComeBackOnScreen()
    {
        const QRect screen = available();
        QRect frameWanted;
        QRect booksWanted;
        QRect authorsWanted;
        {
            MDIForm1 main;
            start(main);
            // The user makes the frame smaller and moves it, then opens the record windows again
            // and moves them (as far as the work area lets them: otherwise the area scrolls).
            main.resize(main.width() - 60, main.height() - 50);
            main.move(screen.x() + 20, screen.y() + 30);
            frameWanted = main.geometry();
            QVERIFY(childwindows::close(childwindows::Kind::Books));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            main.MnuVisualBiblio_Click();
            const QSize room = main.mdiArea()->viewport()->size();
            const auto moveWithin = [&](QWidget* sub, QPoint to) {
                sub->move(std::clamp(to.x(), 0, std::max(0, room.width() - sub->width())),
                          std::clamp(to.y(), 0, std::max(0, room.height() - sub->height())));
                return sub->geometry();
            };
            booksWanted = moveWithin(main.mdiArea()->subWindowList().constFirst(), QPoint(7, 5));
            main.MnuVisualAutori_Click();
            auto* authorsSub = qobject_cast<QMdiSubWindow*>(main.authorsWindow()->parentWidget());
            authorsWanted = moveWithin(authorsSub, QPoint(11, 13));
            QVERIFY(authorsWanted.topLeft() != QPoint(0, 0) || room.width() < authorsWanted.width());
            // Closed: its place is kept.
            QVERIFY(authorsSub->close());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        {
            // A new run: the frame and the windows where they were left.
            MDIForm1 main;
            start(main);
            QCOMPARE(main.geometry(), frameWanted);
            QCOMPARE(main.mdiArea()->subWindowList().constFirst()->geometry(), booksWanted);
            main.MnuVisualAutori_Click();
            QCOMPARE(main.authorsWindow()->parentWidget()->geometry(), authorsWanted);
        }
        {
            // Places left on a larger screen come back whole inside this one.
            MDIForm1 large;
            large.show();
            large.setGeometry(screen.x() - 400, screen.y() + 300, screen.width() + 900, screen.height() + 700);
            const QByteArray frameOnALargerScreen = large.saveGeometry();
            large.hide();
            std::unique_ptr<QSettings> settings = paths::settings();
            settings->clear();
            settings->setValue(QStringLiteral("finestre/MDIForm1"), frameOnALargerScreen);
            settings->setValue(QStringLiteral("finestre/FrmBiblio"), QRect(2500, 1800, 2400, 1900));
            settings->setValue(QStringLiteral("finestre/frmAutori"), QRect(-900, -700, 300, 200));
            settings->sync();
        }
        {
            MDIForm1 main;
            start(main);
            checkFrame(main);
            const QRect viewport = main.mdiArea()->viewport()->rect();
            const QRect booksSub = main.mdiArea()->subWindowList().constFirst()->geometry();
            QVERIFY(viewport.contains(booksSub) || booksSub.topLeft() == QPoint(0, 0));
            main.MnuVisualAutori_Click();
            // Whole inside the area's room (its scroll bars, there for the books window, aside).
            const QRect room(QPoint(0, 0), main.mdiArea()->contentsRect().size());
            QVERIFY(room.contains(main.authorsWindow()->parentWidget()->geometry()));
        }
        {
            // Damaged or foreign values are passed over: the design places.
            std::unique_ptr<QSettings> settings = paths::settings();
            settings->setValue(QStringLiteral("finestre/MDIForm1"), QByteArray("non una geometria"));
            settings->setValue(QStringLiteral("finestre/FrmBiblio"), QStringLiteral("rotto"));
            settings->setValue(QStringLiteral("finestre/frmAutori"), 12);
            settings->sync();
            MDIForm1 main;
            start(main);
            checkFrame(main);
            QCOMPARE(main.frameGeometry().top(), available().top());
            checkReachable(main, main.booksWindow(), {QStringLiteral("CmdNuovo")});
        }
    }
};

CARTEO_TEST_MAIN(TestScreen)
#include "tst_screen.moc"
