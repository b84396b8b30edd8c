// The cover window as splash and as about window, and the user guide beside the program.

// Mouse events go through the window system as a user's would, so a move reaches the control
// under the pointer (moves without a button pressed are not delivered otherwise offscreen).
#define QTEST_QPA_MOUSE_HANDLING

#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <cmath>
#include <limits>

#include <memory>

namespace {

// Stands in for the desktop's browser: remembers the pages the program asks to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// A point of the window's own background, between the cover picture and the texts.
const QPoint kBackground(226, 160);

const QColor kYellow(255, 255, 0);
const QColor kLightGrey(224, 224, 224);

QLabel* label(const QWidget& window, const char* name)
{
    return window.findChild<QLabel*>(QLatin1String(name));
}

QTimer* timer1(const QWidget& window)
{
    return window.findChild<QTimer*>(QStringLiteral("Timer1"));
}

QColor linkColour(const QWidget& window)
{
    return label(window, "Label4")->palette().color(QPalette::WindowText);
}

// Delivers one tick through the timer's own signal, as the running timer would.
void tick(QTimer* timer)
{
    QVERIFY(QMetaObject::invokeMethod(timer, "timeout"));
}

// Keeps the timer running but never due while the test ticks by hand: a busy machine that stalls
// for a second must not add a tick of its own.
void holdTimer(QTimer* timer)
{
    QVERIFY(timer);
    timer->start(std::numeric_limits<int>::max());
}

bool anyMainWindow()
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    return std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<MDIForm1*>(w); });
}

} // namespace

class TestCopertina : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    UrlCatcher m_browser;
    int m_mainShown = 0;

    // A splash as the program starts it, on screen.
    void startSplash(FrmCopertina& splash)
    {
        splash.setShowMainWindow([this] { ++m_mainShown; });
        splash.Form_Load();
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
    }

  private slots:
    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        m_browser.opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_browser, "open");
        m_mainShown = 0;
    }

    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        m_folder.reset();
    }

    void splashLeavesAtTheFourthTick()
    {
        FrmCopertina splash;
        startSplash(splash);
        QTimer* timer = timer1(splash);
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 1000);
        QVERIFY(timer->isActive());
        holdTimer(timer);
        QCOMPARE(splash.ticks(), 0);
        QVERIFY(splash.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
        QVERIFY(label(splash, "Label6")->isVisible());
        QVERIFY(!label(splash, "Label5")->isVisible());

        for (int i = 1; i <= 3; ++i) {
            tick(timer);
            QCOMPARE(splash.ticks(), i);
        }
        QCOMPARE(m_mainShown, 0);
        QVERIFY(splash.isVisible());

        tick(timer);
        QCOMPARE(m_mainShown, 1);
        QVERIFY(!splash.isVisible());
        QVERIFY(!timer->isActive());
        QCOMPARE(splash.ticks(), 0);

        // Late ticks or clicks never show a second main window.
        for (int i = 0; i < 5; ++i) {
            splash.Timer1_Timer();
        }
        splash.Form_Click();
        QCOMPARE(m_mainShown, 1);
    }

    void clickLeavesTheSplashAtOnce_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("background") << QString();
        QTest::newRow("picture") << QStringLiteral("Image1");
        QTest::newRow("name") << QStringLiteral("Label1");
        QTest::newRow("description") << QStringLiteral("Label6");
        QTest::newRow("maker") << QStringLiteral("Label3");
    }

    void clickLeavesTheSplashAtOnce()
    {
        QFETCH(QString, target);
        FrmCopertina splash;
        startSplash(splash);
        QWidget* widget = target.isEmpty() ? &splash : splash.findChild<QWidget*>(target);
        QVERIFY(widget);
        const QPoint where = target.isEmpty() ? kBackground : widget->rect().center();
        holdTimer(timer1(splash));
        tick(timer1(splash));

        // Only the left button clicks.
        QTest::mouseClick(widget, Qt::RightButton, {}, where);
        QCOMPARE(m_mainShown, 0);
        QVERIFY(splash.isVisible());

        QTest::mouseClick(widget, Qt::LeftButton, {}, where);
        QCOMPARE(m_mainShown, 1);
        QVERIFY(!splash.isVisible());
        QVERIFY(!timer1(splash)->isActive());
        QCOMPARE(splash.ticks(), 0);
    }

    void escapeStillLeadsToTheMainWindow()
    {
        // Without the main window nothing could end the program.
        FrmCopertina splash;
        startSplash(splash);
        QTest::keyClick(&splash, Qt::Key_Escape);
        QVERIFY(!splash.isVisible());
        QCOMPARE(m_mainShown, 1);
    }

    void aboutWindowStaysUntilClicked_data()
    {
        QTest::addColumn<QString>("target");
        QTest::newRow("background") << QString();
        QTest::newRow("information") << QStringLiteral("Label5");
        QTest::newRow("picture") << QStringLiteral("Image1");
    }

    void aboutWindowStaysUntilClicked()
    {
        QFETCH(QString, target);
        FrmCopertina about;
        about.setShowMainWindow([this] { ++m_mainShown; });
        bool label6Hidden = false, label5Shown = false, timerStopped = false, onTop = true, oval = false;
        bool openAfterTicks = false, openAfterLink = false;
        testsupport::NextModal answer([&](QWidget* modal) {
            label6Hidden = !label(about, "Label6")->isVisible();
            label5Shown = label(about, "Label5")->isVisible();
            timerStopped = !timer1(about)->isActive();
            onTop = about.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            oval = !about.mask().isEmpty();
            for (int i = 0; i < 6; ++i) {
                tick(timer1(about));
            }
            openAfterTicks = about.isVisible();
            QTest::mouseClick(label(about, "Label4"), Qt::LeftButton);
            openAfterLink = about.isVisible();
            QWidget* widget = target.isEmpty() ? modal : modal->findChild<QWidget*>(target);
            QTest::mouseClick(widget, Qt::LeftButton, {}, target.isEmpty() ? kBackground : widget->rect().center());
        });
        about.showAsAbout();

        QVERIFY(answer.answered());
        QVERIFY(label6Hidden);
        QVERIFY(label5Shown);
        QVERIFY(timerStopped);
        QVERIFY(!onTop);
        QVERIFY(oval);
        QVERIFY(openAfterTicks);
        QVERIFY(openAfterLink);
        QCOMPARE(m_browser.opened.size(), 1);
        QVERIFY(!about.isVisible());
        QCOMPARE(m_mainShown, 0);
        QVERIFY(!anyMainWindow());
    }

    void versionShowsInTheAboutWindowOnly()
    {
        const QString expected = QStringLiteral("versione " CARTEO_EXPECTED_VERSION);
        FrmCopertina splash;
        startSplash(splash);
        QVERIFY(label(splash, "LblVersione"));
        QVERIFY(!label(splash, "LblVersione")->isVisible());

        FrmCopertina about;
        bool shown = false;
        QString text;
        testsupport::NextModal answer([&](QWidget*) {
            shown = label(about, "LblVersione")->isVisible();
            text = label(about, "LblVersione")->text();
            QTest::mouseClick(&about, Qt::LeftButton, {}, kBackground);
        });
        about.showAsAbout();
        QVERIFY(answer.answered());
        QVERIFY(shown);
        QCOMPARE(text, expected);
    }

    void versionOptionAnswersWithoutADisplay()
    {
        // No platform and no display: a window or the application object would fail here.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
            environment.remove(QLatin1String(name));
        }
        // In a program folder of its own with nothing in it: the option opens no archive.
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString program = folder.filePath(QStringLiteral("carteo"));
        QVERIFY(QFile::copy(QStringLiteral(CARTEO_PROGRAM), program));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(program, {QStringLiteral("--version")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardOutput(), QByteArray("Carteo " CARTEO_EXPECTED_VERSION "\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{QStringLiteral("carteo")});
    }

    void programIconAndDesktopEntry()
    {
        shell::setProgramIcon();
        QCOMPARE(QGuiApplication::desktopFileName(), shell::kDesktopId);
        // Every size the package installs, built into the program: a window shows it with no
        // icon theme and no SVG reader.
        const QIcon icon = QApplication::windowIcon();
        for (int size : {16, 32, 48, 64, 128, 256}) {
            QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
            const QImage image = icon.pixmap(QSize(size, size)).toImage();
            QCOMPARE(image.size(), QSize(size, size));
            // The drawing, not an empty square: the book's red cover, left of the card.
            const QColor middle = image.pixelColor(size / 4, size / 2);
            QVERIFY2(middle.alpha() == 255 && middle.red() > 2 * middle.green(), qPrintable(middle.name()));
        }
        FrmCopertina splash;
        QCOMPARE(splash.windowIcon().cacheKey(), icon.cacheKey());
        // The desktop entry and the metadata that desktops match the windows with bear the same id.
        for (const QString& file : {QStringLiteral("data/%1.desktop"), QStringLiteral("data/%1.metainfo.xml")}) {
            QVERIFY2(QFileInfo::exists(QStringLiteral(CARTEO_SOURCE_DIR "/") + file.arg(shell::kDesktopId)),
                     qPrintable(file.arg(shell::kDesktopId)));
        }
    }

    void linkLightsAndOpensTheGuide()
    {
        FrmCopertina splash;
        startSplash(splash);
        QLabel* link = label(splash, "Label4");
        QCOMPARE(link->text(), QStringLiteral("Progetto Carteo · guida"));
        QCOMPARE(linkColour(splash), kLightGrey);
        // Each move goes to a new point: a move to where the pointer already is does not count.
        QTest::mouseMove(&splash, kBackground);
        QTest::mouseMove(link, QPoint(4, link->height() / 2));
        QCOMPARE(linkColour(splash), kYellow);
        QTest::mouseMove(&splash, kBackground);
        QCOMPARE(linkColour(splash), kLightGrey);
        QTest::mouseMove(link);
        QCOMPARE(linkColour(splash), kYellow);
        QTest::mouseMove(label(splash, "Image1"));
        QCOMPARE(linkColour(splash), kLightGrey);

        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_browser.opened.size(), 1);
        QCOMPARE(m_browser.opened.first(), QUrl::fromLocalFile(m_folder->filePath(QStringLiteral("guida.html"))));
        // The splash goes on counting towards the main window.
        QVERIFY(splash.isVisible());
        QVERIFY(timer1(splash)->isActive());
        QCOMPARE(m_mainShown, 0);
    }

    void windowIsAnOval()
    {
        FrmCopertina splash;
        splash.Form_Load();
        const QRegion mask = splash.mask();
        const int w = splash.width();
        const int h = splash.height();
        for (const QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)}) {
            QVERIFY2(!mask.contains(corner),
                     qPrintable(QStringLiteral("corner %1,%2").arg(corner.x()).arg(corner.y())));
        }
        QVERIFY(mask.contains(QPoint(w / 2, h / 2)));
        // The oval reaches beyond the edges, so the middle of every edge is still shown.
        for (const QPoint edge : {QPoint(w / 2, 0), QPoint(w / 2, h - 1), QPoint(0, h / 2), QPoint(w - 1, h / 2)}) {
            QVERIFY2(mask.contains(edge), qPrintable(QStringLiteral("edge %1,%2").arg(edge.x()).arg(edge.y())));
        }
        // Along the top edge the oval starts where an ellipse 60 pixels beyond every edge crosses it:
        // a few pixels either side of that point tell a margin of 60 from 50 or 70.
        const double a = w / 2.0 + 60, b = h / 2.0 + 60;
        const int cross = int(std::lround(w / 2.0 - a * std::sqrt(1 - (h / 2.0) * (h / 2.0) / (b * b))));
        QVERIFY2(!mask.contains(QPoint(cross - 4, 0)), qPrintable(QString::number(cross)));
        QVERIFY2(mask.contains(QPoint(cross + 4, 0)), qPrintable(QString::number(cross)));
        // Every control stands inside the oval.
        for (const QLabel* control : splash.findChildren<QLabel*>()) {
            const QRect r = control->geometry();
            for (const QPoint p : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
                QVERIFY2(mask.contains(p), qPrintable(control->objectName()));
            }
        }
    }

    void guideLiesInTheBuiltProgramFolder()
    {
        // The build lays out the program folder at <build>/carteo; this test runs in <build>/tests/shell.
        const QString built =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../../carteo/guida.html"));
        QVERIFY2(QFileInfo::exists(built), qPrintable(built));
        const QString source = QFINDTESTDATA("../../doc/guida.html");
        QVERIFY(!source.isEmpty());
        const QByteArray bytes = testsupport::readFile(built);
        QCOMPARE(bytes, testsupport::readFile(source));

        const QString page = QString::fromUtf8(bytes);
        QVERIFY(page.contains(QStringLiteral("lang=\"it\"")));
        QVERIFY(page.contains(QStringLiteral("charset=\"utf-8\""), Qt::CaseInsensitive));
        // Self-contained: it opens without a network and without scripts.
        for (const char* outside : {"http:", "https:", "<script", "<link", "<img", "@import"}) {
            QVERIFY2(!page.contains(QLatin1String(outside), Qt::CaseInsensitive), outside);
        }

        QStringList headings;
        const QRegularExpression heading(QStringLiteral("<h2[^>]*>(.*?)</h2>"));
        for (auto it = heading.globalMatch(page); it.hasNext();) {
            headings << it.next().captured(1);
        }
        QCOMPARE(headings, QStringList({QStringLiteral("Che cos'è Carteo"), QStringLiteral("L'archivio"),
                                        QStringLiteral("I libri"), QStringLiteral("Autori ed editori"),
                                        QStringLiteral("La ricerca"), QStringLiteral("Le foto"),
                                        QStringLiteral("La piantina"), QStringLiteral("I prestiti"),
                                    QStringLiteral("Esportare e importare il catalogo"), QStringLiteral("L'archivio su un server"), QStringLiteral("La stampa"),
                                        QStringLiteral("Tastiera, lettori di schermo e schermi piccoli")}));
        for (const char* term : {"Apri Archivio", "Nuovo Archivio", "Crea Copia", "Ripara e Compatta", "avvio.ini",
                                 "Salva", "Annulla", "Elimina", "lire", "euro", "dieci", "foto", "Inserisci Piantina",
                                 "STAMPA SCHEDA", "STAMPA ELENCO", "logo.jpg"}) {
            QVERIFY2(page.contains(QString::fromUtf8(term)), term);
        }
    }
};

CARTEO_TEST_MAIN(TestCopertina)
#include "tst_copertina.moc"
