// The image import dialog: a photo imported through the viewer's "Inserisci" and a floor plan
// through the menu, modally over the real frame; pictures of other kinds written as JPEG; what is
// refused and what a failed write leaves; the preview and the file lists. Real files in a
// temporary program folder, real archives.
#include "PictureMaker.h"
#include "PictureTests.h"

#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "pictures/ImageImport.h"
#include "pictures/Photos.h"
#include "pictures/PictureLoader.h"
#include "pictures/frminserisci.h"
#include "pictures/frmpicture.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAbstractProxyModel>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileSystemModel>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTreeView>
#include <QUrl>
#include <QtTest>

#include <memory>

using picturetests::child;
using picturetests::kBlue;
using picturetests::kGreen;
using picturetests::kRed;
using picturetests::near;
using testsupport::digest;
using testsupport::NextModal;

namespace {

QImage solid(QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The picture in `path` when it is a JPEG file, whatever its name; a null image otherwise.
QImage jpegAt(const QString& path)
{
    const QByteArray bytes = testsupport::readFile(path);
    return bytes.startsWith("\xFF\xD8\xFF") ? QImage::fromData(bytes, "JPEG") : QImage();
}

QColor centreOf(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

QModelIndex listed(const frminserisci& d, const QString& name)
{
    const QAbstractItemModel* model = d.File1->model();
    for (int row = 0; row < model->rowCount(d.File1->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, d.File1->rootIndex());
        if (index.data().toString() == name) {
            return index;
        }
    }
    return {};
}

// The names File1 lists, once it lists `count` of them.
QStringList listedNames(const frminserisci& d, int count)
{
    const QAbstractItemModel* model = d.File1->model();
    (void)QTest::qWaitFor([&] { return model->rowCount(d.File1->rootIndex()) >= count; }, 30000);
    QStringList names;
    for (int row = 0; row < model->rowCount(d.File1->rootIndex()); ++row) {
        names << model->index(row, 0, d.File1->rootIndex()).data().toString();
    }
    names.sort(Qt::CaseInsensitive);
    return names;
}

// Shows `folder` and clicks the file `name` in File1, as the user does.
void choose(frminserisci& d, const QString& folder, const QString& name)
{
    d.setFolder(folder);
    if (!QTest::qWaitFor([&] { return listed(d, name).isValid(); }, 30000)) {
        throw std::runtime_error(name.toStdString() + " is not listed");
    }
    const QModelIndex index = listed(d, name);
    d.File1->scrollTo(index);
    QTest::mouseClick(d.File1->viewport(), Qt::LeftButton, {}, d.File1->visualRect(index).center());
    if (d.fileName() != name) {
        throw std::runtime_error("the click did not choose " + name.toStdString());
    }
    pictures::PictureLoader::finishAll(); // the preview, read on a thread of its own
}

void press(frminserisci& d, int index)
{
    QTest::mouseClick(d.Command1.at(index), Qt::LeftButton);
}

// Runs `steps` on the import dialog once it is open modally; a step that throws fails the test,
// and a dialog the steps leave open is closed.
std::unique_ptr<NextModal> onImportDialog(std::function<void(frminserisci&)> steps)
{
    return std::make_unique<NextModal>([steps = std::move(steps)](QWidget* modal) {
        auto* d = qobject_cast<frminserisci*>(modal);
        try {
            if (!d) {
                throw std::runtime_error("the modal window is not the import dialog");
            }
            steps(*d);
        } catch (const std::exception& e) {
            QTest::qFail(e.what(), __FILE__, __LINE__);
        }
        if (d && d->isVisible()) {
            d->reject();
        }
    });
}

// Types `text` in the path box and presses Enter, as the user does.
void typeIn(frminserisci& d, const QString& text)
{
    d.TxtPercorso->selectAll();
    QTest::keyClicks(d.TxtPercorso, text);
    QTest::keyClick(d.TxtPercorso, Qt::Key_Return);
}

// The name a screen reader says for `widget`.
QString spokenName(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

// The names a screen reader hears for the items of `view`, and the names the view shows.
QStringList heardItems(QAbstractItemView* view)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(view);
    QStringList heard;
    for (int i = 0; face && i < face->childCount(); ++i) {
        QAccessibleInterface* item = face->child(i);
        if (item && item->role() != QAccessible::ColumnHeader && item->role() != QAccessible::RowHeader) {
            heard << item->text(QAccessible::Name);
        }
    }
    return heard;
}

QStringList shownItems(QAbstractItemView* view)
{
    QStringList shown;
    if (auto* tree = qobject_cast<QTreeView*>(view)) {
        for (QModelIndex i = tree->model()->index(0, 0, tree->rootIndex()); i.isValid(); i = tree->indexBelow(i)) {
            shown << i.data().toString();
        }
        return shown;
    }
    for (int row = 0; row < view->model()->rowCount(view->rootIndex()); ++row) {
        shown << view->model()->index(row, 0, view->rootIndex()).data().toString();
    }
    return shown;
}

// Drags `data` over `target` and drops it there, as a file manager does; whether the drop was taken.
bool dropOn(QWidget* target, const QMimeData& data)
{
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

bool dropFile(QWidget* target, const QString& path)
{
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    return dropOn(target, data);
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    std::unique_ptr<QTemporaryDir> m_pictures; // where the user keeps the pictures to import

    QString picture(const QString& name, const QImage& image, const char* format) const
    {
        const QString path = m_pictures->filePath(name);
        if (!image.save(path, format)) {
            throw std::runtime_error("cannot write " + path.toStdString());
        }
        return path;
    }
    QString file(const QString& name, const QByteArray& content) const
    {
        const QString path = m_pictures->filePath(name);
        testsupport::writeFile(path, content);
        return path;
    }
    // A dialog of its own, without modality, for the test to drive directly.
    static std::unique_ptr<frminserisci> dialog(std::function<void()> planImported = {})
    {
        auto d = std::make_unique<frminserisci>(nullptr, std::move(planImported));
        d->setModal(false);
        d->show();
        return d;
    }

  private slots:
    void init()
    {
        testsupport::resetShellState();
        frminserisci::forgetLastFolder();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        m_pictures = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid() && m_pictures->isValid());
    }

    void cleanup()
    {
        if (frmpicture* v = frmpicture::openViewer()) {
            v->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!QGuiApplication::overrideCursor());
        m_folder.reset();
    }

    void importsAPhotoThroughTheViewer()
    {
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (17, 'IL BARONE RAMPANTE')"));
        // Stored turned a quarter, as a camera held upright writes it: 400 x 300 upright.
        file(QStringLiteral("copertina.jpg"), picturetests::jpeg({400, 300}, kGreen, true));
        QVERIFY(QDir(pictures::photoFolder()).removeRecursively());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(Modulo1::IdLibroCorrente, 17);
        child<QAction>(&main, QStringLiteral("Toolbar1_7"))->trigger();
        frmpicture* viewer = frmpicture::openViewer();
        QVERIFY(viewer);
        auto* inserisci = child<QPushButton>(viewer, QStringLiteral("Command2"));

        // "Annulla": nothing written, and the viewer, hidden while the dialog ran, comes back.
        bool looked = false;
        auto cancel = onImportDialog([&](frminserisci& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Inserisci Immagine"));
            QVERIFY(d.isModal());
            QCOMPARE(child<QPushButton>(&d, QStringLiteral("Command1_0"))->text(), QStringLiteral("Inserisci"));
            QCOMPARE(child<QPushButton>(&d, QStringLiteral("Command1_1"))->text(), QStringLiteral("Annulla"));
            QVERIFY(!viewer->isVisible() && Modulo1::FotoAperta && Modulo1::ImportaFoto);
            choose(d, m_pictures->path(), QStringLiteral("copertina.jpg"));
            press(d, 1);
            QVERIFY(!d.isVisible());
            looked = true;
        });
        QTest::mouseClick(inserisci, Qt::LeftButton);
        QVERIFY(looked);
        QVERIFY(viewer->isVisible());
        QVERIFY(!QFileInfo::exists(pictures::photoFolder()));

        // "Inserisci": the missing photo folder is made, the photo written, the dialog closed and
        // the viewer shows the new photo.
        auto import = onImportDialog([&](frminserisci& d) {
            // The dialog starts where the last one was left.
            QCOMPARE(d.folder(), QDir::cleanPath(m_pictures->path()));
            choose(d, m_pictures->path(), QStringLiteral("copertina.jpg"));
            QVERIFY(d.Image1->isVisible());
            press(d, 0);
            QVERIFY(!d.isVisible());
        });
        QTest::mouseClick(inserisci, Qt::LeftButton);
        QVERIFY(import->answered());
        const QImage written = jpegAt(m_folder->filePath(QStringLiteral("foto/17.jpg")));
        QCOMPARE(written.size(), QSize(400, 300));
        QVERIFY(near(centreOf(written), kGreen));
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(frmpicture::openViewer(), viewer);
        QVERIFY(viewer->isVisible());
        pictures::PictureLoader::finishAll();
        auto* shown = child<QLabel>(viewer, QStringLiteral("Image1"));
        const QSize inner = child<QFrame>(viewer, QStringLiteral("Picture1"))->contentsRect().size();
        QVERIFY(shown->isVisible());
        QCOMPARE(shown->size(), pictures::fittedSize({400, 300}, inner));
        QVERIFY(near(centreOf(shown->pixmap().toImage()), kGreen));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void writesOtherKindsAsJpegKeepingAReplacedPhotosTimes()
    {
        const QString old = picturetests::writePhoto(5, picturetests::jpeg({50, 50}, kBlue));
        const QDateTime time(QDate(2001, 2, 3), QTime(10, 20, 30));
        {
            QFile f(old);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime));
        }
        picture(QStringLiteral("rossa.png"), solid({300, 200}, kRed), "PNG");
        picture(QStringLiteral("blu.bmp"), solid({120, 90}, kBlue), "BMP");
        Modulo1::ImportaFoto = true;
        Modulo1::IdLibroCorrente = 5;
        const auto d = dialog();

        choose(*d, m_pictures->path(), QStringLiteral("rossa.png"));
        press(*d, 0);
        QVERIFY(!d->isVisible());
        QCOMPARE(d->result(), int(QDialog::Accepted));
        const QImage five = jpegAt(old);
        QCOMPARE(five.size(), QSize(300, 200));
        QVERIFY(near(centreOf(five), kRed));
        QCOMPARE(QFileInfo(old).lastModified(), time);
        // The viewer was closed: it opens on the new photo.
        frmpicture* viewer = frmpicture::openViewer();
        QVERIFY(viewer && viewer->isVisible());
        pictures::PictureLoader::finishAll();
        QCOMPARE(
            child<QLabel>(viewer, QStringLiteral("Image1"))->size(),
            pictures::fittedSize({300, 200}, child<QFrame>(viewer, QStringLiteral("Picture1"))->contentsRect().size()));

        // The same dialog again (its picture buffer kept) for another book and another kind.
        Modulo1::IdLibroCorrente = 6;
        d->show();
        choose(*d, m_pictures->path(), QStringLiteral("blu.bmp"));
        press(*d, 0);
        const QImage six = jpegAt(pictures::photoFile(6));
        QCOMPARE(six.size(), QSize(120, 90));
        QVERIFY(near(centreOf(six), kBlue));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void importsThePlanFromTheMenuAndTheBooksWindowShowsIt()
    {
        const QString archive = m_folder->createArchive(
            QStringLiteral("archivio/prova.mdb"),
            QStringLiteral("INSERT INTO biblio (id, titolo, posx, posy) VALUES (1, 'UNO', 900, 600)"));
        paths::writeStartupFile(archive);
        // Two plans whose JPEG files come out the same size: only their content tells them apart.
        picture(QStringLiteral("scura.png"), solid({400, 300}, QColor(80, 80, 80)), "PNG");
        picture(QStringLiteral("chiara.png"), solid({400, 300}, QColor(160, 160, 160)), "PNG");
        const QString plan = QFileInfo(archive).dir().filePath(QStringLiteral("piantaprova.jpg"));
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QVERIFY(main.booksWindow());
        books::FloorPlan* shown = main.booksWindow()->floorPlan();
        const auto shownColour = [&] {
            pictures::PictureLoader::finishAll(); // the plan, read on a thread of its own
            return shown->Image1->pixmap().toImage().pixelColor(5, 5);
        };
        Modulo1::ImportaFoto = true; // left by an earlier photo import

        auto steps = onImportDialog([&](frminserisci& d) {
            QVERIFY(!Modulo1::ImportaFoto);
            choose(d, m_pictures->path(), QStringLiteral("scura.png"));
            press(d, 0);
            QVERIFY(d.isVisible());
            QCOMPARE(jpegAt(plan).size(), QSize(400, 300));
            QVERIFY(near(shownColour(), QColor(80, 80, 80)));
            QCOMPARE(shown->Image1->size(), QSize(std::min(400, shown->Picture5->contentsRect().width()),
                                                  std::min(300, shown->Picture5->contentsRect().height())));
            const qint64 size = QFileInfo(plan).size();

            // Replaced: the new plan is shown, although the file keeps its time and its size.
            choose(d, m_pictures->path(), QStringLiteral("chiara.png"));
            press(d, 0);
            QCOMPARE(QFileInfo(plan).size(), size);
            QVERIFY(near(centreOf(jpegAt(plan)), QColor(160, 160, 160)));
            QVERIFY(near(shownColour(), QColor(160, 160, 160)));
            QVERIFY(d.isVisible());
            press(d, 1);
        });
        child<QAction>(&main, QStringLiteral("MnuOpzionInserisci"))->trigger();
        QVERIFY(steps->answered());
        QVERIFY(!QApplication::activeModalWidget());
        // The marker stays where the book has it.
        QCOMPARE(shown->smallMarker(), QPoint(900, 600));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void refusesWithOneMessageAndLeavesThePhoto()
    {
        const QString photo = picturetests::writePhoto(5, picturetests::jpeg({50, 50}, kBlue));
        const QByteArray before = digest(photo);
        file(QStringLiteral("rotta.jpg"), "not a picture at all");
        picture(QStringLiteral("buona.png"), solid({40, 30}, kRed), "PNG");
        Modulo1::ImportaFoto = true;
        Modulo1::IdLibroCorrente = 5;
        const auto d = dialog();

        // A file that is no picture: its click says so, then "Inserisci" says so once more, once,
        // with the normal pointer over the busy work.
        msg::queueAnswer(msg::Answer::Ok);
        choose(*d, m_pictures->path(), QStringLiteral("rotta.jpg"));
        const QString rotta = QDir(d->folder()).filePath(QStringLiteral("rotta.jpg"));
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Formato immagine non valido: '%1'").arg(rotta)});
        bool normalPointer = false;
        NextModal box([&](QWidget* w) {
            normalPointer = !QGuiApplication::overrideCursor();
            static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        press(*d, 0);
        QVERIFY(box.answered());
        QVERIFY(normalPointer);
        QCOMPARE(box.seenText(), pictures::invalidFormatOf(rotta));
        QCOMPARE(msg::shownTexts().size(), 2);
        QVERIFY(d->isVisible());
        QCOMPARE(digest(photo), before);

        // No book, or a new book not saved yet (the current book is still the one shown before).
        msg::shownTexts().clear();
        choose(*d, m_pictures->path(), QStringLiteral("buona.png"));
        Modulo1::IdLibroCorrente = 0;
        msg::queueAnswer(msg::Answer::Ok);
        press(*d, 0);
        Modulo1::IdLibroCorrente = 5;
        Modulo1::NuovoRecord = true;
        msg::queueAnswer(msg::Answer::Ok);
        press(*d, 0);
        QCOMPARE(msg::shownTexts(),
                 (QStringList{QStringLiteral("Nessun libro scelto: scegliere nella finestra Biblioteca il libro a "
                                             "cui inserire la foto."),
                              QStringLiteral("Il nuovo libro non è ancora salvato: premere Salva prima di inserirne "
                                             "la foto.")}));
        QVERIFY(!QFileInfo::exists(pictures::photoFile(0)));
        QCOMPARE(digest(photo), before);
        QVERIFY(d->isVisible());
    }

    void everyRefusalIsToldInItalianNamingTheFile()
    {
        const QString photo = picturetests::writePhoto(5, picturetests::jpeg({50, 50}, kBlue));
        const QByteArray before = digest(photo);
        // A picture no JPEG file can hold, and one whose scans would keep the program busy.
        picture(QStringLiteral("striscia.png"), solid({1, 100000}, kRed), "PNG");
        file(QStringLiteral("ripetuta.jpg"),
             testpictures::withLastScanRepeated(testpictures::flatProgressiveJpeg({1000, 1000}), 1000));
        Modulo1::ImportaFoto = true;
        Modulo1::IdLibroCorrente = 5;
        const auto d = dialog();
        const QDir folder(QDir::cleanPath(m_pictures->path()));
        const QString strip = folder.filePath(QStringLiteral("striscia.png"));
        const QString repeated = folder.filePath(QStringLiteral("ripetuta.jpg"));

        choose(*d, m_pictures->path(), QStringLiteral("striscia.png"));
        QVERIFY(d->Image1->isVisible());
        msg::queueAnswer(msg::Answer::Ok);
        press(*d, 0);
        QCOMPARE(msg::shownTexts(),
                 QStringList{pictures::invalidFormatOf(strip) +
                             QStringLiteral("\rL'immagine misura 1 x 100000 pixel: un file JPEG non può superare "
                                            "65500 pixel di larghezza né di altezza.")});

        // Its preview refused as an unreadable file is, its import saying why.
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Ok);
        choose(*d, m_pictures->path(), QStringLiteral("ripetuta.jpg"));
        QVERIFY(!d->Image1->isVisible());
        QCOMPARE(msg::shownTexts(), QStringList{pictures::invalidFormatOf(repeated)});
        msg::queueAnswer(msg::Answer::Ok);
        press(*d, 0);
        QCOMPARE(msg::shownTexts().size(), 2);
        QVERIFY2(msg::shownTexts().constLast().startsWith(pictures::invalidFormatOf(repeated) + QLatin1Char('\r')) &&
                     msg::shownTexts().constLast().contains(QStringLiteral("scansioni")),
                 qPrintable(msg::shownTexts().constLast()));
        QVERIFY(d->isVisible());
        QCOMPARE(digest(photo), before);
    }

    void aPhotoThatCannotBeWrittenKeepsTheOldOne()
    {
        const QString photo = picturetests::writePhoto(5, picturetests::jpeg({50, 50}, kBlue));
        const QByteArray before = digest(photo);
        picture(QStringLiteral("buona.png"), solid({40, 30}, kRed), "PNG");
        Modulo1::ImportaFoto = true;
        Modulo1::IdLibroCorrente = 5;
        const auto d = dialog();
        choose(*d, m_pictures->path(), QStringLiteral("buona.png"));
        testsupport::ReadOnlyFolder readOnly(pictures::photoFolder(), testsupport::ReadOnlyFolder::Way::Permissions);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        bool normalPointer = false;
        NextModal box([&](QWidget* w) {
            normalPointer = !QGuiApplication::overrideCursor();
            static_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        press(*d, 0);
        QVERIFY(box.answered());
        QVERIFY(normalPointer);
        // The writer's own message, naming the file and why.
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY2(msg::shownTexts().constFirst().startsWith(
                     QStringLiteral("Impossibile salvare l'immagine nel file '%1'").arg(photo)) &&
                     msg::shownTexts().constFirst().contains(QStringLiteral("sola lettura")),
                 qPrintable(msg::shownTexts().constFirst()));
        QVERIFY(d->isVisible());
        QVERIFY(!frmpicture::openViewer());
        QCOMPARE(digest(photo), before);
        QCOMPARE(QDir(pictures::photoFolder()).entryList(QDir::Files), QStringList{QStringLiteral("5.jpg")});
    }

    void listsPicturesAndPreviewsThem()
    {
        picture(QStringLiteral("larga.png"), solid({1600, 400}, kRed), "PNG");
        picture(QStringLiteral("piccola.bmp"), solid({60, 40}, kGreen), "BMP");
        file(QStringLiteral("rotta.png"), "not a picture at all");
        file(QStringLiteral("nota.txt"), "text");
        file(QStringLiteral("GRANDE.JPG"), picturetests::jpeg({30, 30}, kBlue));
        QVERIFY(QDir(m_pictures->path()).mkdir(QStringLiteral("vecchie")));
        picture(QStringLiteral("vecchie/fiume.png"), solid({20, 20}, kBlue), "PNG");
        const auto d = dialog();
        // The place the folder is in.
        const QString place = d->Drive1->currentData().toString();
        QVERIFY(d->folder() == place || d->folder().startsWith(place.endsWith('/') ? place : place + '/'));

        // Pictures only, whatever the case of their extension.
        d->setFolder(m_pictures->path());
        QCOMPARE(listedNames(*d, 4), (QStringList{"GRANDE.JPG", "larga.png", "piccola.bmp", "rotta.png"}));

        // Fitted into the frame by the viewer's rule, centred.
        const QSize inner = d->Picture1->contentsRect().size();
        choose(*d, m_pictures->path(), QStringLiteral("larga.png"));
        QVERIFY(d->Image1->isVisible());
        QCOMPARE(d->Image1->width(), inner.width());
        QVERIFY(std::abs(d->Image1->height() - inner.width() / 4.0) <= 0.5);
        QCOMPARE(d->Image1->geometry().center(), d->Picture1->rect().center());
        QVERIFY(near(centreOf(d->Image1->pixmap().toImage()), kRed));
        choose(*d, m_pictures->path(), QStringLiteral("piccola.bmp"));
        QCOMPARE(d->Image1->size(), QSize(60, 40));

        // The arrow keys preview quietly; a click on a file that cannot be shown says so.
        d->File1->setFocus();
        const QModelIndex broken = listed(*d, QStringLiteral("rotta.png"));
        d->File1->setCurrentIndex(listed(*d, QStringLiteral("piccola.bmp")));
        while (d->File1->currentIndex() != broken) {
            QTest::keyClick(d->File1, broken.row() > d->File1->currentIndex().row() ? Qt::Key_Down : Qt::Key_Up);
        }
        pictures::PictureLoader::finishAll();
        QVERIFY(!d->Image1->isVisible());
        QCOMPARE(msg::shownTexts(), QStringList());
        msg::queueAnswer(msg::Answer::Ok);
        QTest::mouseClick(d->File1->viewport(), Qt::LeftButton, {}, d->File1->visualRect(broken).center());
        QCOMPARE(msg::shownTexts(), QStringList{pictures::invalidFormatOf(QDir(d->folder()).filePath("rotta.png"))});
        // Clicked while it is still being read: said once its reading ends.
        d->File1->setCurrentIndex(listed(*d, QStringLiteral("piccola.bmp")));
        QTest::keyClick(d->File1, broken.row() > d->File1->currentIndex().row() ? Qt::Key_Down : Qt::Key_Up);
        msg::queueAnswer(msg::Answer::Ok);
        QTest::mouseClick(d->File1->viewport(), Qt::LeftButton, {}, d->File1->visualRect(broken).center());
        pictures::PictureLoader::finishAll();
        QCOMPARE(msg::shownTexts().size(), 2);

        // A folder chosen in the folder list lists its own pictures.
        d->Dir1->expand(d->Dir1->currentIndex());
        QModelIndex sub;
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QAbstractItemModel* folders = d->Dir1->model();
                const QModelIndex here = d->Dir1->currentIndex();
                for (int row = 0; row < folders->rowCount(here); ++row) {
                    if (folders->index(row, 0, here).data().toString() == QStringLiteral("vecchie")) {
                        sub = folders->index(row, 0, here);
                    }
                }
                return sub.isValid();
            },
            5000));
        d->Dir1->scrollTo(sub);
        QTest::mouseClick(d->Dir1->viewport(), Qt::LeftButton, {}, d->Dir1->visualRect(sub).center());
        QCOMPARE(d->folder(), QDir(m_pictures->path()).filePath(QStringLiteral("vecchie")));
        QCOMPARE(listedNames(*d, 1), QStringList{QStringLiteral("fiume.png")});
        QVERIFY(!d->Image1->isVisible());
        QCOMPARE(d->fileName(), QString());
    }

    void screenReadersHearEveryFileListed()
    {
        const QStringList names{"a.png", "b.png", "c.jpg", "d.bmp", "e.png"};
        for (const QString& name : names) {
            picture(name, solid({8, 8}, kRed), name.endsWith(QLatin1String(".jpg")) ? "JPG" : "PNG");
        }
        const auto d = dialog();
        d->setFolder(m_pictures->path());
        QCOMPARE(listedNames(*d, 5), names);

        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(d->File1);
        QVERIFY(list && list->tableInterface());
        QCOMPARE(list->tableInterface()->rowCount(), 5);
        QStringList heard;
        for (int row = 0; row < list->tableInterface()->rowCount(); ++row) {
            QAccessibleInterface* cell = list->tableInterface()->cellAt(row, 0);
            QVERIFY(cell);
            heard << cell->text(QAccessible::Name);
        }
        heard.sort(Qt::CaseInsensitive);
        QCOMPARE(heard, names);

        // Another folder: its own files, however many.
        QVERIFY(QDir(m_pictures->path()).mkdir(QStringLiteral("una")));
        picture(QStringLiteral("una/sola.png"), solid({8, 8}, kRed), "PNG");
        d->setFolder(m_pictures->filePath(QStringLiteral("una")));
        QCOMPARE(listedNames(*d, 1), QStringList{QStringLiteral("sola.png")});
        QCOMPARE(QAccessible::queryAccessibleInterface(d->File1)->tableInterface()->rowCount(), 1);
    }

    void startsInTheLastFolderAndGoesWhereThePathBoxSays()
    {
        const QDir top(QDir::cleanPath(m_pictures->path()));
        QVERIFY(top.mkpath(QStringLiteral("viaggi/2024")));
        const QString trip = top.filePath(QStringLiteral("viaggi"));
        const QString year = top.filePath(QStringLiteral("viaggi/2024"));
        picture(QStringLiteral("viaggi/2024/mare.png"), solid({40, 30}, kRed), "PNG");
        picture(QStringLiteral("lago.png"), solid({40, 30}, kGreen), "PNG");
        file(QStringLiteral("viaggi/nota.txt"), "testo");
        // What the dialog remembers is kept in the test's own settings, never the user's.
        QVERIFY(paths::settings()->fileName().startsWith(m_folder->path()));
        Modulo1::ImportaFoto = true;
        Modulo1::IdLibroCorrente = 5;
        {
            const auto d = dialog();
            QCOMPARE(d->folder(), frminserisci::startFolder());
            // A folder typed: listed, named in the box; Enter does not press "Inserisci".
            typeIn(*d, year);
            QCOMPARE(d->folder(), year);
            QCOMPARE(d->TxtPercorso->text(), QDir::toNativeSeparators(year));
            QCOMPARE(listedNames(*d, 1), QStringList{QStringLiteral("mare.png")});
            // A picture file typed, or pasted as a file address: its folder, the file chosen.
            typeIn(*d, top.filePath(QStringLiteral("lago.png")));
            QCOMPARE(d->folder(), top.path());
            QVERIFY(QTest::qWaitFor([&] { return d->fileName() == QStringLiteral("lago.png"); }, 30000));
            typeIn(*d, QUrl::fromLocalFile(top.filePath(QStringLiteral("viaggi/2024/mare.png"))).toString());
            QVERIFY(QTest::qWaitFor([&] { return d->fileName() == QStringLiteral("mare.png"); }, 30000));
            QCOMPARE(d->folder(), year);
            // A path that is not there, or a file that is no picture: said, and nothing changes.
            const QString missing = top.filePath(QStringLiteral("viaggi/2025"));
            msg::queueAnswer(msg::Answer::Ok);
            typeIn(*d, missing);
            msg::queueAnswer(msg::Answer::Ok);
            typeIn(*d, top.filePath(QStringLiteral("viaggi/nota.txt")));
            // A device that would never end is no picture either.
            msg::queueAnswer(msg::Answer::Ok);
            typeIn(*d, QStringLiteral("/dev/zero"));
            // A hidden picture, which the file list could not show.
            picture(QStringLiteral(".nascosta.png"), solid({8, 8}, kRed), "PNG");
            msg::queueAnswer(msg::Answer::Ok);
            typeIn(*d, top.filePath(QStringLiteral(".nascosta.png")));
            QCOMPARE(msg::shownTexts(),
                     (QStringList{QStringLiteral("La cartella o il file '%1' non esiste.").arg(missing),
                                  QStringLiteral("Il file '%1' non è un'immagine che il programma sa inserire.")
                                      .arg(top.filePath(QStringLiteral("viaggi/nota.txt"))),
                                  QStringLiteral("Il file '/dev/zero' non è un'immagine che il programma sa inserire."),
                                  QStringLiteral("Il file '%1' è nascosto: l'elenco dei file non lo mostra.")
                                      .arg(top.filePath(QStringLiteral(".nascosta.png")))}));
            QCOMPARE(d->folder(), year);
            QCOMPARE(d->fileName(), QStringLiteral("mare.png"));
            QVERIFY(d->isVisible());
            QVERIFY(!QFileInfo::exists(pictures::photoFile(5)));
            // A path relative to the folder shown.
            typeIn(*d, QStringLiteral(".."));
            QCOMPARE(d->folder(), trip);
            typeIn(*d, QStringLiteral("2024"));
            QCOMPARE(d->folder(), year);
        }
        // The next dialog, in this run or the next, starts there.
        QCOMPARE(paths::settings()->value(QStringLiteral("InserisciImmagine/Cartella")).toString(), year);
        QCOMPARE(dialog()->folder(), year);
        // Deleted since: the nearest folder above it that is left; none but the root: home.
        QVERIFY(QDir(year).removeRecursively());
        QCOMPARE(dialog()->folder(), trip);
        paths::settings()->setValue(QStringLiteral("InserisciImmagine/Cartella"), QStringLiteral("/carteo-non-c-e/foto"));
        QCOMPARE(dialog()->folder(), QDir::cleanPath(QDir::homePath()));
        QCOMPARE(msg::shownTexts().size(), 4);
    }

    void offersPlacesAndNamesEveryControlForScreenReaders()
    {
        const QStringList names{"a.png", "b.png", "c.jpg"};
        for (const QString& name : names) {
            picture(name, solid({8, 8}, kRed), name.endsWith(QLatin1String(".jpg")) ? "JPG" : "PNG");
        }
        QVERIFY(QDir(m_pictures->path()).mkdir(QStringLiteral("sotto")));
        const auto d = dialog();

        // Places: home, the pictures folder, the drives; not the system's own file systems.
        const QStringList places = d->places();
        QVERIFY(places.contains(QDir::cleanPath(QDir::homePath())));
        QVERIFY(places.contains(QStringLiteral("/")));
        const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        QCOMPARE(places.contains(QDir::cleanPath(pictures)), QFileInfo(pictures).isDir());
        const QList<QByteArray> pseudo{"proc", "sysfs", "tmpfs", "devtmpfs", "cgroup2", "overlay", "devpts", "mqueue"};
        for (const QString& place : places) {
            const QStorageInfo volume(place);
            const bool systemOwn =
                !volume.isRoot() && volume.rootPath() == place && pseudo.contains(volume.fileSystemType());
            QVERIFY2(!systemOwn, qPrintable(place));
        }
        QVERIFY(!places.contains(QStringLiteral("/proc")) && !places.contains(QStringLiteral("/sys")));
        d->setFolder(m_pictures->path());
        d->Drive1->setCurrentIndex(places.indexOf(QDir::cleanPath(QDir::homePath())));
        emit d->Drive1->activated(d->Drive1->currentIndex());
        QCOMPARE(d->folder(), QDir::cleanPath(QDir::homePath()));

        // Every control says what it is; Tab goes through them in reading order.
        QCOMPARE(spokenName(d->Dir1), QStringLiteral("Cartelle"));
        QCOMPARE(spokenName(d->File1), QStringLiteral("File"));
        QCOMPARE(spokenName(d->TxtPercorso), QStringLiteral("Percorso"));
        // A list of choices says the choice made, and is named by its label.
        QCOMPARE(d->Drive1->accessibleName(), QStringLiteral("Luoghi"));
        const auto labels = QAccessible::queryAccessibleInterface(d->Drive1)->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("Luoghi:"));
        for (QWidget* control : d->findChildren<QWidget*>()) {
            if (control->isVisible() && control->focusPolicy() != Qt::NoFocus) {
                QVERIFY2(!spokenName(control).isEmpty(), qPrintable(control->objectName()));
            }
        }
        QStringList order;
        QWidget* at = d->TxtPercorso;
        do {
            if ((at->focusPolicy() & Qt::TabFocus) && at->isVisible() && at->isEnabled() && at->window() == d.get()) {
                order << at->objectName();
            }
            at = at->nextInFocusChain();
        } while (at != d->TxtPercorso);
        QCOMPARE(order, (QStringList{"TxtPercorso", "Drive1", "Dir1", "File1", "Command1_0", "Command1_1"}));

        // The items say their own names: the files listed, and the folders shown.
        d->setFolder(m_pictures->path());
        QCOMPARE(listedNames(*d, 3), names);
        QCOMPARE(heardItems(d->File1), shownItems(d->File1));
        QCOMPARE(heardItems(d->File1).size(), 3);
        QVERIFY(QTest::qWaitFor(
            [&] {
                d->Dir1->expand(d->Dir1->currentIndex());
                return shownItems(d->Dir1).contains(QStringLiteral("sotto"));
            },
            30000));
        QCOMPARE(heardItems(d->Dir1), shownItems(d->Dir1));
    }

    void theViewerNamesTheBookAndTakesDroppedPictures()
    {
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (17, 'IL BARONE RAMPANTE'), "
                                  "(18, 'LE CITTA INVISIBILI')"));
        const QString cover = picture(QStringLiteral("copertina.png"), solid({300, 200}, kGreen), "PNG");
        const QString text = file(QStringLiteral("nota.txt"), "testo");
        const QString hostile =
            file(QStringLiteral("ripetuta.jpg"),
                 testpictures::withLastScanRepeated(testpictures::flatProgressiveJpeg({1000, 1000}), 1000));
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(Modulo1::IdLibroCorrente, 17);
        child<QAction>(&main, QStringLiteral("Toolbar1_7"))->trigger();
        frmpicture* viewer = frmpicture::openViewer();
        QVERIFY(viewer);
        pictures::PictureLoader::finishAll();

        // Titled with the book; no photo yet: said, with "Inserisci" at hand.
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Foto \u2013 IL BARONE RAMPANTE"));
        QVERIFY(viewer->LblNessunaFoto->isVisible());
        QCOMPARE(viewer->LblNessunaFoto->text(), QStringLiteral("Nessuna foto"));
        QVERIFY(viewer->Command2->isVisible() && viewer->Command2->isEnabled());
        QCOMPARE(viewer->Command2->text(), QStringLiteral("Inserisci"));
        for (QWidget* control : viewer->findChildren<QWidget*>()) {
            if (control->isVisible() && control->focusPolicy() != Qt::NoFocus) {
                QVERIFY2(!spokenName(control).isEmpty(), qPrintable(control->objectName()));
            }
        }
        QVERIFY(!spokenName(viewer->Picture1).isEmpty());

        // Anything but a file is refused without a word.
        QMimeData words;
        words.setText(QStringLiteral("una foto"));
        QVERIFY(!dropOn(viewer, words));
        QMimeData web;
        web.setUrls({QUrl(QStringLiteral("https://example.org/foto.jpg"))});
        QVERIFY(!dropOn(viewer, web));
        QVERIFY(!dropFile(viewer, m_pictures->path()));
        QMimeData two;
        two.setUrls({QUrl::fromLocalFile(cover), QUrl::fromLocalFile(text)});
        QVERIFY(!dropOn(viewer, two));
        QCOMPARE(msg::shownTexts(), QStringList());
        QVERIFY(!QFileInfo::exists(pictures::photoFile(17)));

        // A picture dropped is the book's photo, written as "Inserisci Immagine" writes it.
        QVERIFY(dropFile(viewer, cover));
        const QString photo = pictures::photoFile(17);
        QCOMPARE(jpegAt(photo).size(), QSize(300, 200));
        pictures::PictureLoader::finishAll();
        QVERIFY(viewer->Image1->isVisible());
        QVERIFY(!viewer->LblNessunaFoto->isVisible());
        QVERIFY(near(centreOf(viewer->Image1->pixmap().toImage()), kGreen));
        const QByteArray before = digest(photo);

        // A file that is no picture, or one made to keep the program busy: named, nothing stored.
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(dropFile(viewer, text));
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(dropFile(viewer, hostile));
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(dropFile(viewer, QStringLiteral("/dev/zero")));
        QCOMPARE(msg::shownTexts().size(), 3);
        QCOMPARE(msg::shownTexts().at(0), pictures::invalidFormatOf(text));
        QVERIFY(msg::shownTexts().at(1).startsWith(pictures::invalidFormatOf(hostile)));
        QVERIFY(msg::shownTexts().at(2).contains(QStringLiteral("'/dev/zero'")));
        QCOMPARE(digest(photo), before);
        QCOMPARE(QDir(pictures::photoFolder()).entryList(QDir::Files), QStringList{QStringLiteral("17.jpg")});

        // Another book: its title, and its photo missing.
        child<controls::DBList>(main.booksWindow(), QStringLiteral("DBList1"))->setBoundText(QStringLiteral("18"));
        main.booksWindow()->DBList1_Click();
        pictures::PictureLoader::finishAll();
        QCOMPARE(viewer->windowTitle(), QStringLiteral("Foto \u2013 LE CITTA INVISIBILI"));
        QVERIFY(viewer->LblNessunaFoto->isVisible());
        QVERIFY(!viewer->Image1->isVisible());

        // A photo that cannot be written is told by the writer, naming the file; the viewer goes on.
        testsupport::ReadOnlyFolder readOnly(pictures::photoFolder(), testsupport::ReadOnlyFolder::Way::Permissions);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(dropFile(viewer, cover));
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY2(msg::shownTexts().constFirst().startsWith(
                     QStringLiteral("Impossibile salvare l'immagine nel file '%1'").arg(pictures::photoFile(18))),
                 qPrintable(msg::shownTexts().constFirst()));
        QVERIFY(!QFileInfo::exists(pictures::photoFile(18)));
        QVERIFY(viewer->isVisible() && viewer->LblNessunaFoto->isVisible());
        QVERIFY(!QGuiApplication::overrideCursor());
    }

    void aPictureDroppedOnTheFloorPlanIsThePlan()
    {
        const QString archive = m_folder->createArchive(
            QStringLiteral("archivio/prova.mdb"), QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (1, 'UNO')"));
        paths::writeStartupFile(archive);
        const QString plan = QFileInfo(archive).dir().filePath(QStringLiteral("piantaprova.jpg"));
        const QString drawn = picture(QStringLiteral("sala.png"), solid({400, 300}, QColor(80, 80, 80)), "PNG");
        const QString text = file(QStringLiteral("sala.txt"), "testo");
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QVERIFY(main.booksWindow());
        books::FloorPlan* shown = main.booksWindow()->floorPlan();

        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(dropFile(shown->Picture5, text));
        QCOMPARE(msg::shownTexts(), QStringList{pictures::invalidFormatOf(text)});
        QVERIFY(!QFileInfo::exists(plan));

        QVERIFY(dropFile(shown->Picture5, drawn));
        QCOMPARE(jpegAt(plan).size(), QSize(400, 300));
        pictures::PictureLoader::finishAll();
        QVERIFY(near(shown->Image1->pixmap().toImage().pixelColor(5, 5), QColor(80, 80, 80)));
        QCOMPARE(msg::shownTexts().size(), 1);
    }

    void theFolderListShowsTheFolderListed()
    {
        // Enough folders beside the ones listed that the folder list has to scroll to show them.
        for (int i = 0; i < 40; ++i) {
            QVERIFY(QDir(m_pictures->path()).mkpath(QStringLiteral("anno %1/mese").arg(i, 2, 10, QLatin1Char('0'))));
        }
        const QString deep = QDir::cleanPath(m_pictures->filePath(QStringLiteral("archivio/2023/ottobre")));
        const QString other = QDir::cleanPath(m_pictures->filePath(QStringLiteral("scansioni/piante")));
        QVERIFY(QDir().mkpath(deep) && QDir().mkpath(other));
        picture(QStringLiteral("archivio/2023/ottobre/gita.png"), solid({8, 8}, kRed), "PNG");
        picture(QStringLiteral("scansioni/piante/sala.png"), solid({8, 8}, kRed), "PNG");
        const auto d = dialog();
        const auto* folders = d->findChild<const QFileSystemModel*>(QStringLiteral("Dir1Model"));
        const auto* shownFolders = qobject_cast<const QAbstractProxyModel*>(d->Dir1->model());
        QVERIFY(folders && shownFolders && shownFolders->sourceModel() == folders);
        // The folder list has the folder listed as its current entry, opened down to it and in view.
        const auto showsInTheTree = [&](const QString& folder) {
            const QModelIndex current = d->Dir1->currentIndex();
            if (!current.isValid() ||
                QDir::cleanPath(folders->filePath(shownFolders->mapToSource(current))) != folder) {
                return false;
            }
            for (QModelIndex up = current.parent(); up.isValid() && up != d->Dir1->rootIndex(); up = up.parent()) {
                if (!d->Dir1->isExpanded(up)) {
                    return false;
                }
            }
            const QRect where = d->Dir1->visualRect(current);
            return !where.isEmpty() && d->Dir1->viewport()->rect().contains(where);
        };
        // Once the folder list has read and sorted the folders around them, after the forty others.
        const QModelIndex top = folders->index(m_pictures->path());
        const auto settled = [&] {
            return folders->rowCount(top) == 42 && folders->index(m_pictures->filePath("archivio")).row() == 40 &&
                   folders->index(m_pictures->filePath("scansioni")).row() == 41;
        };
        for (const QString& folder : {deep, other, deep}) {
            d->setFolder(folder);
            QCOMPARE(listedNames(*d, 1).size(), 1);
            QVERIFY2(QTest::qWaitFor([&] { return settled() && showsInTheTree(folder); }, 30000), qPrintable(folder));
            QCOMPARE(d->folder(), folder);
        }
    }
};

CARTEO_TEST_MAIN(TestImport)

#include "tst_import.moc"
