// The photo viewer: where and how it opens, how a photo is fitted into its frame, how it follows
// the current book through the books window, photos that cannot be read, "Inserisci", and the
// main window's "Anteprima" button. Real windows offscreen, real archives and photo files in a
// temporary program folder.
#include "PictureMaker.h"
#include "PictureTests.h"

#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "pictures/Photos.h"
#include "pictures/PictureLoader.h"
#include "pictures/PictureReader.h"
#include "pictures/frmpicture.h"
#include "printing/BookPrintouts.h"
#include "printing/PrintRun.h"
#include "printing/RecordingSurface.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "store/Catalogue.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using picturetests::child;
using picturetests::jpeg;
using picturetests::kBlue;
using picturetests::kGreen;
using picturetests::kRed;
using picturetests::near;
using picturetests::writePhoto;
using testsupport::BooksWindow;

namespace {

QString describe(QColor c)
{
    return QStringLiteral("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// Every frmpicture window there is, open or hidden.
QList<frmpicture*> viewers()
{
    QList<frmpicture*> all;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* v = qobject_cast<frmpicture*>(w)) {
            all << v;
        }
    }
    return all;
}

} // namespace

class TestViewer : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;

    static frmpicture* viewer()
    {
        frmpicture* v = frmpicture::openViewer();
        if (!v) {
            throw std::runtime_error("the viewer is not open");
        }
        return v;
    }
    // The photo once it has been read (photos are read on a thread of their own).
    static QLabel* image()
    {
        pictures::PictureLoader::finishAll();
        return child<QLabel>(viewer(), QStringLiteral("Image1"));
    }
    static QFrame* frame() { return child<QFrame>(viewer(), QStringLiteral("Picture1")); }

    // The size of the photo shown, or an empty size for an empty frame.
    static QSize shownSize()
    {
        QLabel* picture = image();
        return picture->isVisibleTo(frame()) && !picture->pixmap().isNull() ? picture->size() : QSize();
    }
    // What the frame shows at the centre of the photo (or of the frame when it shows none).
    static QColor shownColour()
    {
        pictures::PictureLoader::finishAll();
        const QImage drawn = frame()->grab().toImage();
        const QPoint centre = shownSize().isEmpty() ? frame()->rect().center() : image()->geometry().center();
        return drawn.pixelColor(centre);
    }
    // True when no photo is shown: the frame says why ("Nessuna foto", or "Foto non leggibile"
    // for a file that cannot be read), and nothing but white is drawn inside its border besides.
    static bool frameIsEmpty()
    {
        pictures::PictureLoader::finishAll();
        QLabel* why = viewer()->LblNessunaFoto;
        if (!why->isVisible() ||
            (why->text() != QStringLiteral("Nessuna foto") && why->text() != QStringLiteral("Foto non leggibile"))) {
            return false;
        }
        why->hide();
        const QImage drawn = frame()->grab().toImage();
        why->show();
        const QRect inner = frame()->contentsRect();
        for (int y = inner.top(); y <= inner.bottom(); y += 3) {
            for (int x = inner.left(); x <= inner.right(); x += 3) {
                if (drawn.pixelColor(x, y) != QColor(Qt::white)) {
                    return false;
                }
            }
        }
        return true;
    }
    static void click(QWidget* window, const char* name)
    {
        QTest::mouseClick(child<QPushButton>(window, QString::fromLatin1(name)), Qt::LeftButton);
    }
    // The down arrow in the focused title list, as the user presses it.
    static void arrowDown(const BooksWindow& books)
    {
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
    }

  private slots:
    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
    }

    void cleanup()
    {
        frmpicture::setImportDialog({});
        if (frmpicture* v = frmpicture::openViewer()) {
            v->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(viewers().isEmpty());
        m_folder.reset();
    }

    void readsPicturesForDisplayAsPromised()
    {
        picturetests::body([&] {
            const QSize frameInner(189, 189);
            // Missing, empty and garbage files: nothing, and nothing said.
            for (const QByteArray& content :
                 {QByteArray(), testsupport::randomBytes(5000), jpeg({400, 300}, kRed).left(100)}) {
                const QString path = writePhoto(1, content);
                const pictures::DisplayPicture p = pictures::readForDisplay(path, frameInner);
                QVERIFY(p.image.isNull());
                QVERIFY(p.naturalSize.isEmpty());
            }
            QVERIFY(pictures::readForDisplay(pictures::photoFile(2), frameInner).image.isNull());

            // A large photo comes no smaller than it is shown, and no larger than it is.
            const pictures::DisplayPicture wide =
                pictures::readForDisplay(writePhoto(3, jpeg({1600, 400}, kRed)), frameInner);
            QCOMPARE(wide.naturalSize, QSize(1600, 400));
            QVERIFY2(wide.image.width() >= 189 && wide.image.height() >= 47 && wide.image.width() <= 1600,
                     qPrintable(QStringLiteral("%1 x %2").arg(wide.image.width()).arg(wide.image.height())));
            // A photo stored turned, as a camera held upright writes it, is read upright.
            const pictures::DisplayPicture turned =
                pictures::readForDisplay(writePhoto(4, jpeg({1600, 400}, kRed, true)), frameInner);
            QCOMPARE(turned.naturalSize, QSize(1600, 400));
            QVERIFY(turned.image.width() > turned.image.height());
            // A small one as it is.
            const pictures::DisplayPicture small =
                pictures::readForDisplay(writePhoto(5, jpeg({60, 40}, kRed)), frameInner);
            QCOMPARE(small.naturalSize, QSize(60, 40));
            QCOMPARE(small.image.size(), QSize(60, 40));
            QVERIFY(msg::shownTexts().isEmpty());
        });
    }

    void fitsThePhotoIntoTheFrame()
    {
        picturetests::body([&] {
            writePhoto(10, jpeg({1600, 400}, kRed));        // four times as wide as high, larger than the frame
            writePhoto(11, jpeg({1600, 400}, kBlue, true)); // the same, stored turned
            writePhoto(12, jpeg({60, 40}, kGreen));         // smaller than the frame
            writePhoto(13, jpeg({300, 1200}, kRed));        // four times as high as wide
            Modulo1::IdLibroCorrente = 10;
            frmpicture::showViewer(nullptr);
            const QRect inner = frame()->contentsRect();
            const QSize outer = frame()->size();
            QCOMPARE(inner.width(), inner.height());

            for (qint64 id : {10, 11}) {
                Modulo1::IdLibroCorrente = id;
                viewer()->CercaFoto();
                const QRect shown = image()->geometry();
                QVERIFY(image()->isVisibleTo(frame()));
                QCOMPARE(shown.width(), inner.width());
                QVERIFY2(std::abs(shown.height() - inner.width() / 4.0) <= 0.5,
                         qPrintable(QString::number(shown.height())));
                // Centred: vertically in the frame, and across it since it fills its width.
                QCOMPARE(shown.top(), (outer.height() - shown.height()) / 2);
                QCOMPARE(shown.left(), (outer.width() - shown.width()) / 2);
                QVERIFY2(near(shownColour(), id == 10 ? kRed : kBlue), qPrintable(describe(shownColour())));
                // White above and below the photo.
                const QImage drawn = frame()->grab().toImage();
                QCOMPARE(drawn.pixelColor(outer.width() / 2, shown.top() - 3), QColor(Qt::white));
                QCOMPARE(drawn.pixelColor(outer.width() / 2, shown.bottom() + 3), QColor(Qt::white));
            }

            Modulo1::IdLibroCorrente = 12;
            viewer()->CercaFoto();
            QCOMPARE(image()->geometry(),
                     QRect(QPoint((outer.width() - 60) / 2, (outer.height() - 40) / 2), QSize(60, 40)));
            QVERIFY(near(shownColour(), kGreen));

            Modulo1::IdLibroCorrente = 13;
            viewer()->CercaFoto();
            QCOMPARE(image()->height(), inner.height());
            QVERIFY(std::abs(image()->width() - inner.height() / 4.0) <= 0.5);
            QCOMPARE(image()->x(), (outer.width() - image()->width()) / 2);

            // The rule itself, on sizes in both directions.
            QCOMPARE(pictures::fittedSize({400, 100}, {200, 200}), QSize(200, 50));
            QCOMPARE(pictures::fittedSize({100, 400}, {200, 200}), QSize(50, 200));
            QCOMPARE(pictures::fittedSize({300, 250}, {200, 200}), QSize(200, 167)); // by width, then by height
            QCOMPARE(pictures::fittedSize({250, 300}, {200, 200}), QSize(167, 200));
            QCOMPARE(pictures::fittedSize({200, 200}, {200, 200}), QSize(200, 200));
            QCOMPARE(pictures::fittedSize({10, 10}, {200, 200}), QSize(10, 10));
            QCOMPARE(pictures::fittedSize({}, {200, 200}), QSize());
        });
    }

    void opensOnceInFrontAndClosesForGood()
    {
        picturetests::body([&] {
            BooksWindow books;
            FrmBiblio& w = books.window();
            QVERIFY(!Modulo1::FotoAperta);
            QPointer<frmpicture> v = frmpicture::showViewer(&w);
            QVERIFY(v);
            QCOMPARE(frmpicture::openViewer(), v.data());
            QVERIFY(Modulo1::FotoAperta);
            QVERIFY(v->isVisible());
            QVERIFY(v->isWindow());
            QVERIFY(v->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
            QCOMPARE(v->windowType(), Qt::Tool);
            QVERIFY(v->testAttribute(Qt::WA_ShowWithoutActivating));
            // The caption names the current book.
            const auto archive = store::Archive::open(books.path(), store::Archive::Presence::None);
            QCOMPARE(v->windowTitle(), QStringLiteral("Foto \u2013 ") +
                                           store::catalogue::bookTitle(*archive, Modulo1::IdLibroCorrente).value());
            QCOMPARE(v->frameGeometry(), QRect(500, 20, 290, 230));
            QCOMPARE(child<QPushButton>(v, QStringLiteral("Command2"))->text(), QStringLiteral("Inserisci"));
            QCOMPARE(child<QPushButton>(v, QStringLiteral("Command1"))->text(), QStringLiteral("Chiudi"));
            QCOMPARE(frame()->geometry(), QRect(8, 8, 193, 193));
            QCOMPARE(frame()->palette().color(QPalette::Window), QColor(Qt::white));
            // The title list keeps the focus for the arrow keys.
            QTRY_COMPARE(QApplication::focusWidget(), books.widget(QStringLiteral("DBList1")));

            // Once only: a second call shows the same viewer.
            QCOMPARE(frmpicture::showViewer(&w), v.data());
            QCOMPARE(viewers().size(), 1);

            click(v, "Command1");
            QVERIFY(!Modulo1::FotoAperta);
            QVERIFY(!frmpicture::openViewer());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(v.isNull());
            // Following the books costs nothing while it is closed.
            books.select(QStringLiteral("500"));
            QVERIFY(!Modulo1::FotoAperta);

            // Opened again; the window that owns it takes it along when it goes.
            v = frmpicture::showViewer(&w);
            QVERIFY(Modulo1::FotoAperta);
            QVERIFY(v != nullptr);
            delete v.data();
            QVERIFY(!Modulo1::FotoAperta);
            QVERIFY(!frmpicture::openViewer());
            QVERIFY(msg::shownTexts().isEmpty());
        });
    }

    void followsTheBooksWindow()
    {
        picturetests::body([&] {
            // In title order: edera 900 (no photo), Elefanti 300, Èlite 700, Zeta 500.
            writePhoto(300, jpeg({60, 40}, kBlue));
            writePhoto(500, jpeg({1600, 400}, kRed));
            BooksWindow books;
            FrmBiblio& w = books.window();
            frmpicture::showViewer(&w);
            QCOMPARE(Modulo1::IdLibroCorrente, 900);
            QCOMPARE(shownSize(), QSize());

            arrowDown(books);
            QCOMPARE(Modulo1::IdLibroCorrente, 300);
            QCOMPARE(shownSize(), QSize(60, 40));
            QVERIFY(near(shownColour(), kBlue));
            arrowDown(books);
            QCOMPARE(Modulo1::IdLibroCorrente, 700);
            QCOMPARE(shownSize(), QSize());
            QVERIFY(frameIsEmpty());
            arrowDown(books);
            QCOMPARE(Modulo1::IdLibroCorrente, 500);
            QCOMPARE(shownSize().width(), frame()->contentsRect().width());
            QVERIFY(near(shownColour(), kRed));
            // A click in the list.
            auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
            const QModelIndex elefanti = list->model()->index(1, 0);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(elefanti).center());
            QCOMPARE(Modulo1::IdLibroCorrente, 300);
            QCOMPARE(shownSize(), QSize(60, 40));

            // While the book is edited the photo stays; "Salva" shows it as it is then.
            click(&w, "CmdModifica");
            writePhoto(300, jpeg({80, 20}, kGreen));
            QCOMPARE(shownSize(), QSize(60, 40));
            click(&w, "CmdModifica");
            QVERIFY(!w.isEditing());
            QCOMPARE(shownSize(), QSize(80, 20));
            QVERIFY(near(shownColour(), kGreen));

            // A deleted book gives way to the next title and its photo.
            msg::queueAnswer(msg::Answer::Yes);
            click(&w, "Cmdelimina");
            QCOMPARE(Modulo1::IdLibroCorrente, 700);
            QCOMPARE(shownSize(), QSize());

            // The books window opened again on another archive: the viewer goes on following.
            writePhoto(41, jpeg({100, 100}, kBlue));
            BooksWindow other(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (41, 'ALTRO')"));
            QVERIFY(Modulo1::FotoAperta);
            QCOMPARE(Modulo1::IdLibroCorrente, 41);
            QCOMPARE(shownSize(), QSize(100, 100));
            QCOMPARE(viewers().size(), 1);
            QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Eliminare il titolo Elefanti dall'elenco?")});
        });
    }

    void unreadablePhotosShowAnEmptyFrame()
    {
        picturetests::body([&] {
            writePhoto(300, testsupport::randomBytes(20000));
            writePhoto(700, QByteArray());
            writePhoto(500, jpeg({400, 300}, kRed).left(120));
            writePhoto(900, jpeg({100, 50}, kRed));
            BooksWindow books;
            frmpicture::showViewer(&books.window());
            QCOMPARE(shownSize(), QSize(100, 50));
            for (qint64 id : {300, 700, 500}) {
                arrowDown(books);
                QCOMPARE(Modulo1::IdLibroCorrente, id);
                QCOMPARE(shownSize(), QSize());
                QVERIFY(frameIsEmpty());
            }
            QVERIFY(msg::shownTexts().isEmpty());
            QVERIFY(!QApplication::activeModalWidget());
            for (QWidget* w : QApplication::topLevelWidgets()) {
                QVERIFY(!qobject_cast<QMessageBox*>(w) || !w->isVisible());
            }
        });
    }

    void inserisciHidesTheViewerWhileTheImportDialogRuns()
    {
        picturetests::body([&] {
            writePhoto(900, jpeg({100, 50}, kRed));
            BooksWindow books;
            frmpicture* v = frmpicture::showViewer(&books.window());

            // No import dialog registered (the frame registers one): the flag only.
            click(v, "Command2");
            QVERIFY(Modulo1::ImportaFoto);
            QVERIFY(v->isVisible());

            // The dialog runs with the viewer hidden but still open, then shows the imported photo.
            Modulo1::ImportaFoto = false;
            bool seenHidden = false;
            frmpicture::setImportDialog([&] {
                seenHidden =
                    !v->isVisible() && Modulo1::FotoAperta && frmpicture::openViewer() == v && Modulo1::ImportaFoto;
                writePhoto(Modulo1::IdLibroCorrente, jpeg({70, 70}, kGreen));
                frmpicture::CercaFotoSeAperta();
                frmpicture::openViewer()->show();
            });
            click(v, "Command2");
            QVERIFY(seenHidden);
            QVERIFY(v->isVisible());
            QCOMPARE(shownSize(), QSize(70, 70));

            // A dialog that fails is reported, and the viewer comes back.
            frmpicture::setImportDialog([] { throw std::runtime_error("disco pieno"); });
            msg::queueAnswer(msg::Answer::Ok);
            click(v, "Command2");
            QVERIFY(v->isVisible());
            QCOMPARE(msg::shownTexts().size(), 1);
            QVERIFY(msg::shownTexts().constFirst().contains(QStringLiteral("disco pieno")));
        });
    }

    void hostilePicturesHoldNoWindow()
    {
        picturetests::body([&] {
            // Its last scan a thousand times over: refused by every reader, and read away from the
            // windows all the same.
            const QByteArray hostile =
                testpictures::withLastScanRepeated(testpictures::flatProgressiveJpeg({1000, 1000}), 1000);
            writePhoto(300, hostile);
            writePhoto(700, jpeg({60, 40}, kGreen));

            // The books window opens without reading its plan, and shows none of a refused one.
            BooksWindow books(BooksWindow::catalogue(), false);
            const QString plan = pictures::planFile(Modulo1::CartellaArchivio, Modulo1::FileArchivio);
            QVERIFY(testpictures::writeFile(plan, hostile));
            {
                FrmBiblio w;
                w.Form_Load();
                QVERIFY(w.floorPlan()->planLoader()->isPending());
                QVERIFY(w.floorPlan()->Image1->pixmap().isNull());
                pictures::PictureLoader::finishAll();
                QVERIFY(w.floorPlan()->Image1->pixmap().isNull());
                // A plan that can be read is shown.
                QVERIFY(testpictures::writeFile(plan, jpeg({200, 100}, kBlue)));
                w.CaricaPianta();
                pictures::PictureLoader::finishAll();
                QCOMPARE(w.floorPlan()->Image1->size(), QSize(200, 100));
            }

            // The viewer: the arrow key is over before the photo is read; the photo refused shows an
            // empty frame, as an unreadable one does; the next book's photo shows as usual.
            books.load();
            frmpicture::showViewer(&books.window());
            QCOMPARE(Modulo1::IdLibroCorrente, 900);
            arrowDown(books);
            QCOMPARE(Modulo1::IdLibroCorrente, 300);
            QVERIFY(viewer()->photoLoader()->isPending());
            QVERIFY(!child<QLabel>(viewer(), QStringLiteral("Image1"))->isVisibleTo(frame()));
            QCOMPARE(shownSize(), QSize());
            QVERIFY(frameIsEmpty());
            arrowDown(books);
            QCOMPARE(shownSize(), QSize(60, 40));
            QVERIFY(msg::shownTexts().isEmpty());
        });
    }

    void hostilePicturesPrintNothing()
    {
        picturetests::body([&] {
            const QByteArray hostile =
                testpictures::withLastScanRepeated(testpictures::flatProgressiveJpeg({1000, 1000}), 1000);
            writePhoto(300, hostile);
            writePhoto(700, jpeg({60, 40}, kGreen));
            // A card prints no photo for it, and a printout no logo.
            QVERIFY(printing::cardPhoto(300).picture.isNull());
            QVERIFY(!printing::cardPhoto(700).picture.isNull());
            const QString logo = m_folder->filePath(QStringLiteral("logo.jpg"));
            QVERIFY(testpictures::writeFile(logo, hostile));
            printing::RecordingSurface refused;
            printing::printLogo(refused);
            QVERIFY(refused.pictures.isEmpty());
            QVERIFY(testpictures::writeFile(logo, jpeg({40, 20}, kBlue)));
            printing::RecordingSurface printed;
            printing::printLogo(printed);
            QCOMPARE(printed.pictures.size(), 1);
            QCOMPARE(printed.pictures.constFirst().pixels, QSize(40, 20));
            QVERIFY(msg::shownTexts().isEmpty());
        });
    }

    void theLatestRequestIsTheOneShown()
    {
        picturetests::body([&] {
            const QString red = writePhoto(1, jpeg({120, 80}, kRed));
            const QString blue = writePhoto(2, jpeg({80, 120}, kBlue));
            const QString green = writePhoto(3, jpeg({50, 50}, kGreen));
            pictures::PictureLoader loader;
            QList<std::pair<QString, QSize>> answers;
            connect(&loader, &pictures::PictureLoader::loaded, this,
                    [&](const QString& path, const pictures::DisplayPicture& read) {
                        answers.append({path, read.naturalSize});
                    });
            // Three requests in quick succession: the last one is answered, once.
            for (const QString& path : {red, blue, green}) {
                loader.request(path, QSize(193, 193));
            }
            QVERIFY(loader.isPending());
            loader.finish();
            QCOMPARE(answers, (QList<std::pair<QString, QSize>>{{green, QSize(50, 50)}}));
            QVERIFY(!loader.isPending());
            QCoreApplication::sendPostedEvents();
            QCOMPARE(answers.size(), 1);
            // Through the event loop when nobody waits for it.
            loader.request(red, QSize(193, 193));
            QVERIFY(QTest::qWaitFor([&] { return !loader.isPending(); }, 10000));
            QCOMPARE(answers.size(), 2);
            QCOMPARE(answers.constLast(), (std::pair<QString, QSize>{red, QSize(120, 80)}));
            // Cancelled: never answered.
            loader.request(blue, QSize(193, 193));
            loader.cancel();
            QVERIFY(!loader.isPending());
            loader.finish();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(answers.size(), 2);
            // A loader that goes while it reads hands nothing over.
            int late = 0;
            {
                pictures::PictureLoader gone;
                connect(&gone, &pictures::PictureLoader::loaded, this, [&] { ++late; });
                gone.request(red, QSize(193, 193));
            }
            loader.request(green, QSize(193, 193)); // read by the pool after the one that was left
            loader.finish();
            QCoreApplication::sendPostedEvents();
            QCOMPARE(late, 0);

            // The viewer, as the user goes through the titles faster than photos are read: only
            // the photo of the book reached is read to the end and shown.
            writePhoto(300, jpeg({120, 80}, kRed));
            writePhoto(700, jpeg({80, 120}, kBlue));
            writePhoto(500, jpeg({50, 50}, kGreen));
            BooksWindow books;
            frmpicture::showViewer(&books.window());
            pictures::PictureLoader::finishAll();
            QSignalSpy shown(viewer()->photoLoader(), &pictures::PictureLoader::loaded);
            for (int i = 0; i < 3; ++i) {
                arrowDown(books);
            }
            QCOMPARE(Modulo1::IdLibroCorrente, 500);
            QCOMPARE(shownSize(), QSize(50, 50));
            QVERIFY(near(shownColour(), kGreen));
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown.constFirst().constFirst().toString(), pictures::photoFile(500));
        });
    }

    void anteprimaOpensOneViewerInFrontOfTheFrame()
    {
        picturetests::body([&] {
            store::Archive::open(m_folder->defaultArchive())
                ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE')"));
            writePhoto(42, jpeg({120, 90}, kBlue));
            {
                MDIForm1 main;
                main.show();
                main.MDIForm_Load();
                QVERIFY(main.booksWindow());
                QCOMPARE(Modulo1::IdLibroCorrente, 42);
                QAction* anteprima = child<QAction>(&main, QStringLiteral("Toolbar1_7"));
                QCOMPARE(anteprima->text(), QStringLiteral("Anteprima"));
                anteprima->trigger();
                frmpicture* v = frmpicture::openViewer();
                QVERIFY(v);
                QVERIFY(v->isVisible());
                QCOMPARE(v->parentWidget(), &main);
                QVERIFY(v->isWindow());
                QCOMPARE(shownSize(), QSize(120, 90));
                // A second press: the same viewer, shown again after it was hidden.
                v->hide();
                anteprima->trigger();
                QCOMPARE(frmpicture::openViewer(), v);
                QVERIFY(v->isVisible());
                QCOMPARE(viewers().size(), 1);
                // Not a child window of the frame.
                QCOMPARE(main.mdiArea()->subWindowList().size(), 1);
                QVERIFY(msg::shownTexts().isEmpty());
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!Modulo1::FotoAperta);
            QVERIFY(!frmpicture::openViewer());
        });
    }
};

namespace picturetests {

std::unique_ptr<QObject> makeViewerTests()
{
    return std::make_unique<TestViewer>();
}

} // namespace picturetests

#include "tst_viewer.moc"
