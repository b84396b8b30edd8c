// The image buffer, the JPEG reader and writer, the import of pictures and their reading for
// display, on pictures made here and files in a temporary folder.
#include "PictureMaker.h"

#include "app/Messages.h"
#include "pictures/ImageImport.h"
#include "pictures/JpegCodec.h"
#include "pictures/JpegDecoder.h"
#include "pictures/Photos.h"
#include "pictures/PictureFiles.h"
#include "pictures/PictureReader.h"
#include "pictures/cDIBSection.h"
#include "store/DbError.h"
#include "support/TestMain.h"
#include "support/Restrictions.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <optional>

using namespace testpictures;
using pictures::cDIBSection;

namespace {

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);

// The colour at the centre of each quadrant: top left, top right, bottom left, bottom right.
QList<QRgb> quadrantColours(const QImage& image)
{
    const int w = image.width(), h = image.height();
    return {image.pixel(w / 4, h / 4), image.pixel(3 * w / 4, h / 4), image.pixel(w / 4, 3 * h / 4),
            image.pixel(3 * w / 4, 3 * h / 4)};
}

bool sameColours(const QList<QRgb>& a, const QList<QRgb>& b, int tolerance)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (distance(a[i], b[i]) > tolerance) {
            qWarning("colour %lld: %08x against %08x", qlonglong(i), a[i], b[i]);
            return false;
        }
    }
    return true;
}

// The largest difference between two images of the same size, -1 for different sizes.
int largestDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) {
        return -1;
    }
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            worst = std::max(worst, distance(a.pixel(x, y), b.pixel(x, y)));
        }
    }
    return worst;
}

// The texts of the messages that `call` shows; each is answered with OK.
QStringList messagesOf(const std::function<void()>& call)
{
    msg::shownTexts().clear();
    msg::shownIcons().clear();
    for (int i = 0; i < 4; ++i) {
        msg::queueAnswer(msg::Answer::Ok);
    }
    call();
    msg::clearQueuedAnswers();
    return msg::shownTexts();
}

// The error that `call` throws; any exception is turned into one, so that a fault fails the check
// instead of ending the test program.
std::optional<store::DbError> errorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const store::DbError& e) {
        return e;
    } catch (const std::exception& e) {
        return store::DbError(-1, QString::fromLocal8Bit(e.what()));
    }
    return std::nullopt;
}

// The same picture data under a frame header that claims another size.
QByteArray claimingSize(const QByteArray& jpeg, int width, int height, uchar frameMarker = 0xc0)
{
    QByteArray changed = jpeg;
    const qsizetype frame = segmentAt(jpeg, frameMarker);
    if (frame >= 0) {
        changed[frame + 5] = char(height >> 8);
        changed[frame + 6] = char(height & 0xff);
        changed[frame + 7] = char(width >> 8);
        changed[frame + 8] = char(width & 0xff);
    }
    return changed;
}

QImage noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = random->generate() | 0xff000000u;
        }
    }
    return image;
}

} // namespace

class TestPictures : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<QTemporaryDir> m_dir;

    QString path(const QString& name) const { return m_dir->filePath(name); }
    QString fileWith(const QString& name, const QByteArray& bytes) const
    {
        const QString p = path(name);
        return writeFile(p, bytes) ? p : QString();
    }

  private slots:
    void init()
    {
        testsupport::resetShellState();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void bufferLayout()
    {
        cDIBSection buffer;
        const int expected[] = {4, 8, 12, 12, 16};
        for (int width = 1; width <= 5; ++width) {
            QVERIFY(buffer.Create(width, 2));
            QCOMPARE(buffer.BytesPerScanLine(), expected[width - 1]);
            QCOMPARE(buffer.Width(), width);
            QCOMPARE(buffer.Height(), 2);
        }
        // A second Create replaces the picture, padding cleared.
        QVERIFY(buffer.Create(7, 3));
        QVERIFY(buffer.Create(2, 5));
        QCOMPARE(buffer.BytesPerScanLine(), 8);
        for (int y = 0; y < 5; ++y) {
            QCOMPARE(buffer.DIBSectionBitsPtr()[y * 8 + 6], uchar(0));
            QCOMPARE(buffer.DIBSectionBitsPtr()[y * 8 + 7], uchar(0));
        }
        // Sizes that cannot be held are refused and leave the buffer empty.
        for (const QSize size : {QSize(0, 4), QSize(4, -1), QSize(800'000'000, 1), QSize(40'000, 40'000)}) {
            QVERIFY(buffer.Create(3, 3));
            QVERIFY2(!buffer.Create(size.width(), size.height()), qPrintable(QString::number(size.width())));
            QVERIFY(buffer.isEmpty());
            QCOMPARE(buffer.Width(), 0);
            QCOMPARE(buffer.BytesPerScanLine(), 0);
        }
        cDIBSection empty;
        empty.ClearUp();
        empty.ClearUp();
        QVERIFY(!empty.DIBSectionBitsPtr());
        QCOMPARE(empty.Height(), 0);
        QVERIFY(empty.toImage().isNull());
    }

    void bufferMatchesQImage()
    {
        // Each pixel different, width 5 (one padding byte per row).
        QImage image(5, 3, QImage::Format_RGB32);
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                image.setPixel(x, y, qRgb(10 * x, 100 + 10 * y, 200 + x + y));
            }
        }
        cDIBSection buffer;
        QVERIFY(buffer.fromImage(image));
        QCOMPARE(buffer.BytesPerScanLine(), 16);
        // Bottom row first in memory, blue-green-red.
        const uchar* bits = buffer.DIBSectionBitsPtr();
        QCOMPARE(bits[3 * 1 + 0], uchar(200 + 1 + 2));
        QCOMPARE(bits[3 * 1 + 1], uchar(100 + 20));
        QCOMPARE(bits[3 * 1 + 2], uchar(10));
        QCOMPARE(bits[2 * 16 + 3 * 4 + 2], uchar(40)); // top row, last pixel
        QCOMPARE(bits[15], uchar(0));
        QCOMPARE(largestDifference(buffer.toImage(), image), 0);

        // A transparent picture is laid on white; a null one changes nothing.
        QImage clear(2, 2, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        clear.setPixel(0, 0, qRgba(0, 0, 255, 255));
        QVERIFY(buffer.fromImage(clear));
        QCOMPARE(buffer.toImage().pixel(1, 1), kWhite);
        QCOMPARE(buffer.toImage().pixel(0, 0), kBlue);
        QVERIFY(!buffer.fromImage(QImage()));
        QCOMPARE(buffer.Width(), 2);
    }

    void writtenAndReadBack_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("width 1") << 1 << 9;
        QTest::newRow("width 37") << 37 << 21;
        QTest::newRow("width 4001") << 4001 << 64;
    }

    void writtenAndReadBack()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        const QImage picture = gradient(width, height);
        cDIBSection buffer;
        QVERIFY(buffer.fromImage(picture));
        const QString file = path(QStringLiteral("prova.jpg"));
        const auto error = errorOf([&] { QVERIFY(pictures::SalvaJpeg(buffer, file, 95)); });
        QVERIFY2(!error, error ? qPrintable(error->description()) : "");

        cDIBSection read;
        QVERIFY(messagesOf([&] { QVERIFY(pictures::CaricaJpeg(read, file)); }).isEmpty());
        QCOMPARE(read.Width(), width);
        QCOMPARE(read.Height(), height);
        QVERIFY2(largestDifference(read.toImage(), picture) <= 16,
                 qPrintable(QString::number(largestDifference(read.toImage(), picture))));
        const int padding = read.BytesPerScanLine() - 3 * width;
        for (int y = 0; y < height; ++y) {
            for (int i = 0; i < padding; ++i) {
                QCOMPARE(read.DIBSectionBitsPtr()[y * read.BytesPerScanLine() + 3 * width + i], uchar(0));
            }
        }
    }

    void readsWhatCamerasAndEditorsWrite_data()
    {
        QTest::addColumn<QByteArray>("jpeg");
        const QImage picture = quadrants(64, 48);
        QTest::newRow("baseline 4:2:0") << jpegOf(picture, 95, false, true);
        QTest::newRow("progressive") << jpegOf(picture, 95, true);
        QTest::newRow("arithmetic") << arithmeticJpegOf(picture);
        QTest::newRow("YCCK, Adobe") << cmykJpegOf(picture, Cmyk::YcckAdobe);
        QTest::newRow("CMYK, Adobe") << cmykJpegOf(picture, Cmyk::CmykAdobe);
        QTest::newRow("CMYK, no Adobe block") << cmykJpegOf(picture, Cmyk::CmykPlain);
        // Stray bytes before the end marker: the codec warns, the picture is whole.
        QByteArray stray = jpegOf(picture);
        QTest::newRow("stray bytes") << stray.insert(stray.size() - 2, QByteArray(3, '\0'));
    }

    void readsWhatCamerasAndEditorsWrite()
    {
        QFETCH(QByteArray, jpeg);
        QVERIFY(!jpeg.isEmpty());
        const QString file = fileWith(QStringLiteral("camera.jpg"), jpeg);
        const QList<QRgb> expected{kRed, kGreen, kBlue, kWhite};
        cDIBSection buffer;
        QVERIFY(messagesOf([&] { QVERIFY(pictures::CaricaJpeg(buffer, file)); }).isEmpty());
        QCOMPARE(buffer.Width(), 64);
        QVERIFY(sameColours(quadrantColours(buffer.toImage()), expected, 24));

        const pictures::DisplayPicture shown = pictures::readForDisplay(file, QSize(32, 32));
        QCOMPARE(shown.naturalSize, QSize(64, 48));
        QCOMPARE(shown.image.size(), QSize(32, 24));
        QVERIFY(sameColours(quadrantColours(shown.image), expected, 24));
    }

    void greyPictureFillsThreeChannels()
    {
        const QImage grey = gradient(40, 30).convertToFormat(QImage::Format_Grayscale8);
        const QString file = fileWith(QStringLiteral("grigio.jpg"), jpegOf(grey));
        cDIBSection buffer;
        QVERIFY(pictures::CaricaJpeg(buffer, file));
        for (int y = 0; y < buffer.Height(); ++y) {
            const uchar* row = buffer.rowFromTop(y);
            for (int x = 0; x < buffer.Width(); ++x) {
                QVERIFY(row[3 * x] == row[3 * x + 1] && row[3 * x + 1] == row[3 * x + 2]);
                QVERIFY(std::abs(row[3 * x] - qGray(grey.pixel(x, y))) <= 6);
            }
        }
    }

    void unreadableFilesAreReported_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("importable");
        const QByteArray jpeg = jpegOf(quadrants(64, 64));
        QByteArray png;
        QBuffer device(&png);
        device.open(QIODevice::WriteOnly);
        quadrants(8, 8).save(&device, "PNG");
        QTest::newRow("PNG named .jpg") << png << "Failed to read JPG" << true;
        QTest::newRow("cut in the header") << jpeg.left(100) << "Failed to read JPG" << false;
        QTest::newRow("12-bit samples")
            << withPrecision(jpeg, 12)
            << "Failed to read JPG\rThe picture has more than 8 bits per sample, which cannot be read." << false;
        const QByteArray noisy = jpegOf(noise(64, 64));
        const qsizetype scan = segmentAt(noisy, 0xda);
        QTest::newRow("cut in the picture data")
            << noisy.left((scan + noisy.size()) / 2) << "Cannot read Image Data from file." << false;
        QTest::newRow("empty") << QByteArray() << "Failed to read JPG" << false;
    }

    void unreadableFilesAreReported()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        QFETCH(bool, importable);
        const QString file = fileWith(QStringLiteral("rotto.jpg"), bytes);
        cDIBSection buffer;
        QVERIFY(buffer.Create(3, 2));
        const QStringList shown = messagesOf([&] { QVERIFY(!pictures::CaricaJpeg(buffer, file)); });
        QCOMPARE(shown, QStringList{message});
        QCOMPARE(msg::shownIcons().value(0), msg::Icon::Exclamation);
        QCOMPARE(buffer.Width(), 3); // left as it was

        // The import goes by the content: it takes a PNG whatever its name, and shows one message
        // of its own for what it cannot read.
        const QStringList imported = messagesOf([&] { QCOMPARE(pictures::CaricaImmagine(buffer, file), importable); });
        if (importable) {
            QVERIFY(imported.isEmpty());
            QCOMPARE(buffer.Width(), 8);
        } else {
            QCOMPARE(imported.size(), 1);
            QVERIFY2(imported.first().startsWith(pictures::kInvalidFormat), qPrintable(imported.first()));
            QCOMPARE(buffer.Width(), 3);
        }
    }

    void picturesCutShort()
    {
        // Top half red, bottom half blue; the file cut in the bottom half.
        QImage picture(64, 256, QImage::Format_RGB32);
        picture.fill(kRed);
        for (int y = 128; y < 256; ++y) {
            for (int x = 0; x < 64; ++x) {
                picture.setPixel(x, y, kBlue);
            }
        }
        const QByteArray jpeg = jpegOf(picture);
        const qsizetype scan = segmentAt(jpeg, 0xda);
        QVERIFY(scan > 0);
        const QString file = fileWith(QStringLiteral("tagliato.jpg"), jpeg.left(scan + (jpeg.size() - scan) * 2 / 5));
        const QStringList imported = messagesOf([&] {
            cDIBSection b;
            QVERIFY(!pictures::CaricaImmagine(b, file));
        });
        QCOMPARE(imported, QStringList{pictures::invalidFormatOf(file) +
                                       QStringLiteral("\rIl file è incompleto o danneggiato.")});
        // For display: what could be read, the rest grey.
        const pictures::DisplayPicture shown = pictures::readForDisplay(file, QSize());
        QCOMPARE(shown.image.size(), QSize(64, 256));
        QVERIFY(distance(shown.image.pixel(32, 10), kRed) <= 8);
        QVERIFY(distance(shown.image.pixel(32, 255), qRgb(128, 128, 128)) <= 8);
    }

    void exifOrientation_data()
    {
        QTest::addColumn<int>("orientation");
        for (int o = 1; o <= 8; ++o) {
            QTest::addRow("orientation %d", o) << o;
        }
    }

    void exifOrientation()
    {
        QFETCH(int, orientation);
        const QByteArray jpeg = withExifOrientation(jpegOf(quadrants(48, 32)), orientation);
        const QString file = fileWith(QStringLiteral("telefono.jpg"), jpeg);
        const QSize upright = orientation >= 5 ? QSize(32, 48) : QSize(48, 32);
        // Qt's own reader turns pictures upright the same way.
        QBuffer device(const_cast<QByteArray*>(&jpeg));
        QImageReader reader(&device, "jpeg");
        reader.setAutoTransform(true);
        const QImage expected = reader.read();
        QCOMPARE(expected.size(), upright);

        cDIBSection buffer;
        QVERIFY(pictures::CaricaJpeg(buffer, file));
        QCOMPARE(buffer.toImage().size(), upright);
        QVERIFY(sameColours(quadrantColours(buffer.toImage()), quadrantColours(expected), 24));
        if (orientation == 6) { // a quarter turn clockwise: the bottom left comes to the top left
            QVERIFY(sameColours(quadrantColours(buffer.toImage()), {kBlue, kRed, kWhite, kGreen}, 24));
        }
        const pictures::DisplayPicture shown = pictures::readForDisplay(file, QSize(193, 193));
        QCOMPARE(shown.naturalSize, upright);
        QVERIFY(sameColours(quadrantColours(shown.image), quadrantColours(expected), 24));

        // Written back upright, the photo needs no Exif block any more.
        QVERIFY(!errorOf([&] { pictures::SalvaJpeg(buffer, path(QStringLiteral("diritta.jpg")), 90); }));
        QCOMPARE(QImage(path(QStringLiteral("diritta.jpg"))).size(), upright);
    }

    void importsOtherFormats_data()
    {
        QTest::addColumn<QString>("format");
        QTest::newRow("PNG") << "png";
        QTest::newRow("BMP") << "bmp";
        QTest::newRow("PPM") << "ppm";
    }

    void importsOtherFormats()
    {
        QFETCH(QString, format);
        const QString source = path(QStringLiteral("scansione è.") + format);
        QVERIFY(quadrants(64, 48).save(source, qPrintable(format)));
        cDIBSection buffer;
        QVERIFY(messagesOf([&] { QVERIFY(pictures::CaricaImmagine(buffer, source)); }).isEmpty());
        const QString target = path(QStringLiteral("17.jpg"));
        QVERIFY(!errorOf([&] { pictures::SalvaJpeg(buffer, target, 50); }));
        QVERIFY(readFile(target).startsWith("\xff\xd8\xff"));
        const pictures::DisplayPicture shown = pictures::readForDisplay(target, QSize(200, 200));
        QCOMPARE(shown.naturalSize, QSize(64, 48));
        QVERIFY(sameColours(quadrantColours(shown.image), {kRed, kGreen, kBlue, kWhite}, 40));
    }

    void importRefusesWhatIsNoPicture()
    {
        const QString target = path(QStringLiteral("17.jpg"));
        const QByteArray photo = jpegOf(quadrants(16, 16));
        QVERIFY(writeFile(target, photo));
        cDIBSection buffer;
        QVERIFY(pictures::CaricaImmagine(buffer, target));

        const QString text = fileWith(QStringLiteral("appunti.bmp"), "Non è un'immagine.\n");
        QCOMPARE(messagesOf([&] { QVERIFY(!pictures::CaricaImmagine(buffer, text)); }),
                 QStringList{QStringLiteral("Formato immagine non valido: '%1'").arg(text)});
        const QString missing = path(QStringLiteral("manca.jpg"));
        QCOMPARE(messagesOf([&] { QVERIFY(!pictures::CaricaImmagine(buffer, missing)); }),
                 QStringList{QStringLiteral("Il file '%1' non esiste.").arg(missing)});
        // The buffer and the photo on disk are as they were.
        QCOMPARE(buffer.Width(), 16);
        QCOMPARE(readFile(target), photo);
    }

    void hostileFilesAreRefusedBeforeDecoding()
    {
        // A few hundred bytes that claim 65,000 by 65,000 pixels (progressive: 40,000 by 40,000)
        // are refused from their header, without memory for the picture.
        const QByteArray small = jpegOf(quadrants(16, 16));
        const QString huge = fileWith(QStringLiteral("enorme.jpg"), claimingSize(small, 65000, 65000));
        const QString progressive = fileWith(
            QStringLiteral("progressivo.jpg"), claimingSize(jpegOf(quadrants(16, 16), 90, true), 40000, 40000, 0xc2));
        for (const QString& file : {huge, progressive}) {
            QVERIFY(pictures::readForDisplay(file, QSize(193, 193)).image.isNull());
            cDIBSection buffer;
            const QStringList shown = messagesOf([&] { QVERIFY(!pictures::CaricaImmagine(buffer, file)); });
            QCOMPARE(shown.size(), 1);
            QVERIFY2(shown.constFirst().contains(QStringLiteral("troppo grande")) && shown.constFirst().contains(file),
                     qPrintable(shown.constFirst()));
            QVERIFY(buffer.isEmpty());
        }

        // Data that ends long before the size it claims is damaged, not a grey photo.
        const QString inflated = fileWith(QStringLiteral("gonfiato.jpg"), claimingSize(small, 2000, 2000));
        cDIBSection buffer;
        QCOMPARE(messagesOf([&] { QVERIFY(!pictures::CaricaImmagine(buffer, inflated)); }).size(), 1);
        QVERIFY(buffer.isEmpty());

        // A folder named like a photo is no picture; a link is never written through.
        QVERIFY(QDir().mkpath(path(QStringLiteral("cartella.jpg"))));
        QVERIFY(pictures::readForDisplay(path(QStringLiteral("cartella.jpg")), QSize(193, 193)).image.isNull());
        const QString elsewhere = fileWith(QStringLiteral("altro.txt"), "testo");
        QVERIFY(QFile::link(elsewhere, path(QStringLiteral("18.jpg"))));
        cDIBSection photo;
        QVERIFY(photo.Create(8, 8));
        const auto linkError = errorOf([&] { pictures::SalvaJpeg(photo, path(QStringLiteral("18.jpg")), 50); });
        QVERIFY(linkError);
        QCOMPARE(linkError->number(), int(store::ErrPermissionDenied));
        QCOMPARE(readFile(elsewhere), QByteArray("testo"));
    }

    void planFileNames()
    {
        QCOMPARE(pictures::planFile(QStringLiteral("/lib/"), QStringLiteral("prova.mdb")),
                 QStringLiteral("/lib/piantaprova.jpg"));
        QCOMPARE(pictures::planFile(QStringLiteral("/lib/"), QStringLiteral("ARCHIVIO.MDB")),
                 QStringLiteral("/lib/piantaARCHIVIO.jpg"));
        // Other names: their own extension goes, so two archives never share a plan.
        QCOMPARE(pictures::planFile(QStringLiteral("/lib/"), QStringLiteral("libri.db")),
                 QStringLiteral("/lib/piantalibri.jpg"));
        QCOMPARE(pictures::planFile(QStringLiteral("/lib/"), QStringLiteral("abc")), QStringLiteral("/lib/piantaabc.jpg"));
        QVERIFY(pictures::planFile(QStringLiteral("/lib/"), QString()).isEmpty());
    }

    void replaceKeepsTheOldFilesTimesAndPermissions()
    {
        const QString target = path(QStringLiteral("Città/17.jpg"));
        QVERIFY(!errorOf([&] { pictures::ensureFolder(path(QStringLiteral("Città"))); }));
        QVERIFY(writeFile(target, "vecchia foto"));
        const QDateTime modified(QDate(2001, 2, 3), QTime(4, 5, 6, 700));
        const QDateTime accessed(QDate(2002, 3, 4), QTime(5, 6, 7));
        {
            QFile old(target);
            QVERIFY(old.open(QIODevice::Append));
            QVERIFY(old.setFileTime(modified, QFileDevice::FileModificationTime));
            QVERIFY(old.setFileTime(accessed, QFileDevice::FileAccessTime));
        }
        const auto permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(target, permissions));

        cDIBSection buffer;
        QVERIFY(buffer.fromImage(quadrants(32, 32)));
        QVERIFY(!errorOf([&] { QVERIFY(pictures::SalvaJpeg(buffer, target, 50)); }));
        const QFileInfo written(target);
        QCOMPARE(written.lastModified(), modified);
        QCOMPARE(written.lastRead(), accessed);
        QCOMPARE(written.permissions() & 0x7077, permissions);
        QVERIFY(readFile(target).startsWith("\xff\xd8\xff"));
        // Nothing left beside it.
        QCOMPARE(QDir(path(QStringLiteral("Città"))).entryList(QDir::Files | QDir::Hidden), QStringList{"17.jpg"});

        // A new file gets the times of a new file.
        const QString fresh = path(QStringLiteral("Città/18.jpg"));
        QVERIFY(!errorOf([&] { pictures::SalvaJpeg(buffer, fresh, 50); }));
        QVERIFY(QFileInfo(fresh).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
    }

    void failedReplaceKeepsTheOldPhoto()
    {
        cDIBSection buffer;
        QVERIFY(buffer.fromImage(quadrants(32, 32)));
        const QByteArray old = "vecchia foto";

        // Read-only photo.
        const QString locked = fileWith(QStringLiteral("5.jpg"), old);
        QVERIFY(QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        auto error = errorOf([&] { pictures::SalvaJpeg(buffer, locked, 50); });
        QVERIFY(error);
        QCOMPARE(error->number(), int(store::ErrPermissionDenied));
        QVERIFY2(error->description().contains(locked), qPrintable(error->description()));
        QCOMPARE(readFile(locked), old);

        // Nothing to write.
        cDIBSection empty;
        error = errorOf([&] { pictures::SalvaJpeg(empty, path(QStringLiteral("6.jpg")), 50); });
        QVERIFY(error);
        QCOMPARE(error->number(), pictures::kErrJpegWrite);
        QVERIFY(error->description().startsWith(QStringLiteral("Failed to save to JPG ")));
        QVERIFY(!QFile::exists(path(QStringLiteral("6.jpg"))));

        // A folder that takes no new files.
        const QString folder = path(QStringLiteral("foto"));
        QVERIFY(QDir().mkpath(folder));
        const QString photo = folder + QStringLiteral("/17.jpg");
        QVERIFY(writeFile(photo, old));
        {
            testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Permissions);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(readOnly.whyNot()));
            }
            error = errorOf([&] { pictures::SalvaJpeg(buffer, photo, 50); });
            const auto folderError = errorOf([&] { pictures::ensureFolder(folder); });
            QVERIFY(error);
            QCOMPARE(error->number(), int(store::ErrPermissionDenied));
            QCOMPARE(error->description(),
                     QStringLiteral("Impossibile salvare l'immagine nel file '%1': la cartella '%2' è di sola "
                                    "lettura.")
                         .arg(photo, folder));
            QVERIFY(folderError);
            QVERIFY2(folderError->description().contains(folder), qPrintable(folderError->description()));
        }
        QCOMPARE(readFile(photo), old);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"17.jpg"});
    }

    void fullDiskKeepsTheOldPhoto()
    {
        const QString folder = path(QStringLiteral("piccolo"));
        testsupport::SmallDisk disk(folder, 64 * 1024);
        if (!disk.isValid()) {
            QSKIP(qPrintable(disk.whyNot()));
        }
        const QString photo = folder + QStringLiteral("/17.jpg");
        const QByteArray old = jpegOf(quadrants(16, 16));
        QVERIFY(writeFile(photo, old));
        cDIBSection buffer;
        QVERIFY(buffer.fromImage(noise(512, 512)));
        const auto error = errorOf([&] { pictures::SalvaJpeg(buffer, photo, 100); });
        QVERIFY(error);
        QCOMPARE(error->number(), int(store::ErrDiskFull));
        QVERIFY2(error->description().contains(photo), qPrintable(error->description()));
        QCOMPARE(readFile(photo), old);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"17.jpg"});
    }

    void ensureFolderMakesMissingFolders()
    {
        const QString folder = path(QStringLiteral("programma/foto"));
        QVERIFY(!errorOf([&] { pictures::ensureFolder(folder); }));
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY(!errorOf([&] { pictures::ensureFolder(folder); })); // already there
        const QString file = fileWith(QStringLiteral("unfile"), "x");
        const auto error = errorOf([&] { pictures::ensureFolder(file); });
        QVERIFY(error);
        QVERIFY(error->description().contains(file));
    }

    void displayDecodesAtTheSmallestScaleThatFills()
    {
        // 4000 × 3000 in a 193 × 193 frame is fitted to 193 × 144: an eighth (500 × 375) still fills it.
        const QByteArray big = jpegOf(gradient(4000, 3000), 80, false, true);
        const QString file = fileWith(QStringLiteral("grande.jpg"), big);
        pictures::DisplayPicture shown = pictures::readForDisplay(file, QSize(193, 193));
        QCOMPARE(shown.image.size(), QSize(500, 375));
        QCOMPARE(shown.naturalSize, QSize(4000, 3000));
        QVERIFY(distance(shown.image.pixel(499, 0), qRgb(255, 0, 128)) <= 8);
        // 1000 × 750 needs a quarter; 1001 × 751 takes three eighths.
        QCOMPARE(pictures::readForDisplay(file, QSize(1000, 1000)).image.size(), QSize(1000, 750));
        QCOMPARE(pictures::readForDisplay(file, QSize(1001, 1001)).image.size(), QSize(1500, 1125));
        QCOMPARE(pictures::readForDisplay(file, QSize()).image.size(), QSize(4000, 3000));

        // Turned by its Exif block: sizes upright.
        const QString turned = fileWith(QStringLiteral("girata.jpg"), withExifOrientation(big, 6));
        shown = pictures::readForDisplay(turned, QSize(193, 193));
        QCOMPARE(shown.naturalSize, QSize(3000, 4000));
        QCOMPARE(shown.image.size(), QSize(375, 500));

        // Never enlarged.
        const QString small = fileWith(QStringLiteral("piccola.jpg"), jpegOf(gradient(100, 50)));
        shown = pictures::readForDisplay(small, QSize(193, 193));
        QCOMPARE(shown.image.size(), QSize(100, 50));
    }

    void displayReadsOtherFormatsAndRefusesGarbage()
    {
        const QString png = path(QStringLiteral("pianta.png"));
        QVERIFY(quadrants(800, 600).save(png));
        const pictures::DisplayPicture shown = pictures::readForDisplay(png, QSize(193, 193));
        QCOMPARE(shown.naturalSize, QSize(800, 600));
        QCOMPARE(shown.image.size(), QSize(193, 144));
        QVERIFY(sameColours(quadrantColours(shown.image), {kRed, kGreen, kBlue, kWhite}, 8));

        QByteArray jpegThenGarbage = jpegOf(quadrants(64, 64)).left(100);
        jpegThenGarbage += QByteArray(2000, '\x5a');
        for (const QString& file :
             {fileWith(QStringLiteral("rumore.jpg"), QByteArray(5000, '\x11')),
              fileWith(QStringLiteral("rovinata.jpg"), jpegThenGarbage),
              fileWith(QStringLiteral("vuota.png"), QByteArray()), path(QStringLiteral("non-esiste.jpg"))}) {
            const pictures::DisplayPicture nothing = pictures::readForDisplay(file, QSize(193, 193));
            QVERIFY2(nothing.image.isNull(), qPrintable(file));
            QVERIFY(nothing.naturalSize.isEmpty());
        }
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void scansThatAskTooMuchAreRefused()
    {
        namespace jpeg = pictures::jpeg;
        // What encoders write asks for a few passes over the picture, well within the limits.
        const QImage picture = gradient(200, 120);
        const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
        for (const QByteArray& usual : {jpegOf(picture, 90, true), jpegOf(picture, 90, true, true),
                                        jpegOf(grey, 90, true), jpegOf(picture), arithmeticJpegOf(picture)}) {
            const jpeg::Markers markers = jpeg::readMarkers(usual);
            QVERIFY(markers.scans >= 1 && markers.scans <= 10);
            QVERIFY2(markers.passes >= 1 && markers.passes <= jpeg::Limits{}.maxPasses / 2,
                     qPrintable(QString::number(markers.passes)));
            cDIBSection buffer;
            QVERIFY(jpeg::decode(usual, buffer).ok());
        }

        // A flat 4000 x 3000 picture whose last scan comes 1,000 times more (under 100 KB), or
        // followed by 20,000 scans without data (under 300 KB): the codec goes through every
        // block of the picture for each. Twelve repeats are few scans, but a dozen passes.
        // The same behind two stray bytes, which Qt's reader would take for a JPEG file.
        const QByteArray flat = flatProgressiveJpeg({4000, 3000});
        const QByteArray repeats = withLastScanRepeated(flat, 1000);
        QVERIFY(repeats.size() < 100 * 1024);
        const QByteArray empty = withEmptyScans(flat, 20000);
        QVERIFY(empty.size() < 300 * 1024);
        const QList<std::pair<QString, QByteArray>> hostile{
            {QStringLiteral("ripetuta.jpg"), repeats},
            {QStringLiteral("vuote.jpg"), empty},
            {QStringLiteral("dodici.jpg"), withLastScanRepeated(flat, 12)},
            {QStringLiteral("sporca.jpg"), flat.left(2) + QByteArray(2, '\0') + repeats.mid(2)},
        };
        for (const auto& [name, bytes] : hostile) {
            QVERIFY(!bytes.isEmpty());
            const jpeg::Markers markers = jpeg::readMarkers(bytes);
            QVERIFY2(jpeg::tooMuchWork(markers), qPrintable(name));
            cDIBSection buffer;
            QVERIFY(buffer.Create(3, 2));
            const jpeg::Outcome outcome = jpeg::decode(bytes, buffer);
            QCOMPARE(outcome.failure, jpeg::Failure::TooMuchWork);
            QVERIFY(outcome.detail.isEmpty()); // refused from the scans' headers: the codec never ran
            QCOMPARE(outcome.scans, markers.scans);
            QCOMPARE(buffer.Width(), 3);

            // Every reader refuses it: for display as an unreadable file, the import saying why
            // and naming the file, the JPEG reader as damaged data.
            const QString file = fileWith(name, bytes);
            QVERIFY(pictures::readForDisplay(file, QSize(193, 193)).image.isNull());
            const QStringList imported = messagesOf([&] { QVERIFY(!pictures::CaricaImmagine(buffer, file)); });
            QCOMPARE(imported.size(), 1);
            QVERIFY2(imported.constFirst().startsWith(pictures::invalidFormatOf(file) + QLatin1Char('\r')) &&
                         imported.constFirst().contains(QStringLiteral("%1 scansioni").arg(markers.scans)),
                     qPrintable(imported.constFirst()));
            QCOMPARE(messagesOf([&] { QVERIFY(!pictures::CaricaJpeg(buffer, file)); }),
                     QStringList{QStringLiteral("Cannot read Image Data from file.")});
            QCOMPARE(buffer.Width(), 3);
        }

        // Past the program's limits the codec's own stops the decoding.
        const QByteArray small = withLastScanRepeated(flatProgressiveJpeg({64, 64}), 1000);
        cDIBSection buffer;
        const jpeg::Outcome codec = jpeg::decode(small, buffer, jpeg::Limits::codecOnly());
        QCOMPARE(codec.failure, jpeg::Failure::TooMuchWork);
        QVERIFY2(codec.detail.contains(QLatin1String("scans")), qPrintable(codec.detail));
        QVERIFY(buffer.isEmpty());
        QVERIFY(jpeg::decodeForDisplay(small, QSize(193, 193), nullptr, jpeg::Limits::codecOnly()).isNull());

        // Stray bytes after the start marker are passed over, as the codec does.
        const QString strayFile = fileWith(QStringLiteral("sporca-buona.jpg"), flat.left(2) + QByteArray(2, '\0') +
                                                                                  jpegOf(quadrants(64, 48)).mid(2));
        const pictures::DisplayPicture shown = pictures::readForDisplay(strayFile, QSize(64, 48));
        QCOMPARE(shown.naturalSize, QSize(64, 48));
        QVERIFY(sameColours(quadrantColours(shown.image), {kRed, kGreen, kBlue, kWhite}, 24));
    }
};

CARTEO_TEST_MAIN(TestPictures)
#include "tst_pictures.moc"
