// Times the photo viewer following the books window on a large archive:
//   carteo_bench_viewer [archive]
// 1,000 books in a row of the title list each get a 1-megapixel photo; the down arrow moves
// through them with the viewer open (and, to compare, closed). Also: how long one photo takes to
// show, for a 1- and a 12-megapixel photo, and the resident memory as the photos go by, which must
// not grow with the number of photos seen. Last, hostile files: how long a photo, and a floor plan
// at the books window's start, whose scans ask the codec for minutes of work hold the window.
#include "BenchSupport.h"

#include "ArchiveGenerator.h"

#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "books/FloorPlan.h"
#include "pictures/Photos.h"
#include "pictures/PictureLoader.h"
#include "pictures/PictureReader.h"
#include "pictures/frmpicture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <turbojpeg.h>
#include <vector>

namespace {

using namespace bench;

constexpr int kBooks = 1000;           // books moved through, each with its photo
constexpr int kFirstRow = 5000;        // where in the title list they start
constexpr int kDistinctPhotos = 40;    // different pictures, shared out among the books
constexpr QSize kPhotoSize(1155, 866); // one megapixel
constexpr QSize kLargePhotoSize(4000, 3000);
constexpr int kPhotoRuns = 15;
constexpr double kArrowTargetMs = 50;
constexpr double kLargePhotoTargetMs = 40;
constexpr double kGrowthTargetMb = 8;

// A photo-like picture: soft colours with shapes and some grain, so that it compresses as a photo
// does rather than as a flat fill.
QImage photoLike(QSize size, std::uint64_t variant)
{
    bench::Random random(variant);
    QImage image(size, QImage::Format_RGB32);
    QLinearGradient background(0, 0, size.width(), size.height());
    background.setColorAt(0, QColor::fromHsv(random.between(0, 359), 80, 230));
    background.setColorAt(1, QColor::fromHsv(random.between(0, 359), 160, 90));
    QPainter p(&image);
    p.fillRect(image.rect(), background);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 60; ++i) {
        p.setBrush(QColor::fromHsv(random.between(0, 359), random.between(40, 255), random.between(40, 255),
                                   random.between(60, 200)));
        p.setPen(Qt::NoPen);
        const int w = random.between(20, size.width() / 3);
        const int h = random.between(20, size.height() / 3);
        p.drawEllipse(random.between(0, size.width() - w), random.between(0, size.height() - h), w, h);
    }
    p.end();
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int(random.below(17)) - 8;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + grain, 0, 255), std::clamp(qGreen(c) + grain, 0, 255),
                           std::clamp(qBlue(c) + grain, 0, 255));
        }
    }
    return image;
}

void writeJpeg(const QImage& image, const QString& path)
{
    if (!image.save(path, "JPG", 85)) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

// The same file under another name: a hard link where the file system has them, a copy elsewhere.
void sameFile(const QString& from, const QString& to)
{
    std::error_code error;
    std::filesystem::create_hard_link(from.toStdString(), to.toStdString(), error);
    if (error && !QFile::copy(from, to)) {
        throw std::runtime_error("cannot write " + to.toStdString());
    }
}

// How long the open viewer takes to show the photo of `id`: CercaFoto, the photo read (on the
// picture pool's thread) and handed over, and the repaint.
std::vector<double> showTimes(frmpicture* viewer, qint64 id)
{
    std::vector<double> times;
    Modulo1::IdLibroCorrente = id;
    for (int i = 0; i < kPhotoRuns; ++i) {
        QElapsedTimer t;
        t.start();
        viewer->CercaFoto();
        pictures::PictureLoader::finishAll();
        QCoreApplication::processEvents();
        times.push_back(msSince(t));
    }
    return times;
}

// A progressive JPEG of a flat picture: its scans carry almost no data.
QByteArray flatProgressiveJpeg(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(120, 130, 140));
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long bytes = 0;
    QByteArray jpeg;
    if (tjCompress2(handle, image.constBits(), image.width(), int(image.bytesPerLine()), image.height(),
                    Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB, &out, &bytes, TJSAMP_420, 90,
                    TJFLAG_PROGRESSIVE) == 0) {
        jpeg = QByteArray(reinterpret_cast<const char*>(out), qsizetype(bytes));
    }
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

// The file with its last scan repeated `times` times more (`whole`), or followed by `times` scan
// headers without data: each costs the file a few bytes and the codec a pass over the picture.
QByteArray withScansRepeated(const QByteArray& jpeg, bool whole, int times)
{
    qsizetype last = -1, header = 0, pos = 2;
    while (pos + 4 <= jpeg.size()) {
        const uchar marker = uchar(jpeg[pos + 1]);
        if (uchar(jpeg[pos]) != 0xff || marker == 0x00 || marker == 0xff || (marker >= 0xd0 && marker <= 0xd7)) {
            ++pos;
            continue;
        }
        if (marker == 0xd9) {
            break;
        }
        const qsizetype length = (uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]);
        if (marker == 0xda) {
            last = pos;
            header = 2 + length;
        }
        pos += 2 + length;
    }
    if (last < 0) {
        throw std::runtime_error("no scan in the picture");
    }
    const QByteArray body = jpeg.left(jpeg.size() - 2);
    const QByteArray scan = whole ? body.mid(last) : body.mid(last, header);
    QByteArray out = body;
    for (int i = 0; i < times; ++i) {
        out += scan;
    }
    return out + QByteArray("\xff\xd9", 2);
}

struct Held {
    double held = 0;     // the window held by the call that shows the picture
    double answered = 0; // until the picture, or its refusal, has been handed over
};

// The open viewer on the photo of `id`.
Held viewerOn(frmpicture* viewer, qint64 id)
{
    Modulo1::IdLibroCorrente = id;
    QElapsedTimer t;
    t.start();
    viewer->CercaFoto();
    QCoreApplication::processEvents();
    Held figures;
    figures.held = msSince(t);
    pictures::PictureLoader::finishAll();
    QCoreApplication::processEvents();
    figures.answered = msSince(t);
    return figures;
}

// A books window opened with `plan` as the archive's floor plan: until it shows its first book,
// then until the plan has been read.
Held booksWindowWithPlan(const QByteArray& plan)
{
    const QString file = pictures::planFile(Modulo1::CartellaArchivio, Modulo1::FileArchivio);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(plan) != plan.size()) {
        throw std::runtime_error("cannot write " + file.toStdString());
    }
    out.close();
    QElapsedTimer t;
    t.start();
    auto w = std::make_unique<FrmBiblio>();
    w->Form_Load();
    w->show();
    QCoreApplication::processEvents();
    Held figures;
    figures.held = msSince(t);
    pictures::PictureLoader::finishAll();
    QCoreApplication::processEvents();
    figures.answered = msSince(t);
    if (child<QLineEdit>(w.get(), "TxtFields_0")->text().isEmpty()) {
        throw std::runtime_error("the books window shows no book");
    }
    discard(w);
    QFile::remove(file);
    return figures;
}

double readWholeMs(const QString& path)
{
    QElapsedTimer t;
    t.start();
    const QImage whole(path);
    if (whole.isNull()) {
        throw std::runtime_error("cannot read " + path.toStdString());
    }
    return msSince(t);
}

struct Walk {
    std::vector<double> keys;    // key press and release: the window held (the release shows the book and asks
                                 // for its photo)
    std::vector<double> painted; // the same until the photo is read and painted
    std::vector<std::optional<double>> resident; // after 0, 250, 500, 750, 1000 books
    int wrong = 0;                               // books or photos not shown as they should be
};

// kBooks presses of the down arrow in the focused title list, from the first of `ids`.
Walk walk(FrmBiblio& w, const std::vector<qint64>& ids, bool viewerOpen)
{
    auto* list = child<controls::DBList>(&w, "DBList1");
    list->setBoundText(QString::number(ids.front()));
    w.DBList1_Click();
    list->setFocus();
    QCoreApplication::processEvents();
    Walk result;
    result.resident.push_back(residentMb());
    for (int i = 1; i <= kBooks; ++i) {
        QElapsedTimer t;
        t.start();
        QTest::keyClick(list, Qt::Key_Down);
        result.keys.push_back(msSince(t));
        pictures::PictureLoader::finishAll();
        QCoreApplication::processEvents();
        result.painted.push_back(msSince(t));
        bool right = Modulo1::IdLibroCorrente == ids[std::size_t(i)];
        if (viewerOpen) {
            const auto* photo = child<QLabel>(frmpicture::openViewer(), "Image1");
            right = right && photo->isVisibleTo(photo->parentWidget()) && !photo->pixmap().isNull();
        }
        result.wrong += right ? 0 : 1;
        if (i % 250 == 0) {
            result.resident.push_back(residentMb());
        }
    }
    return result;
}

QString residentSeries(const std::vector<std::optional<double>>& v)
{
    QStringList parts;
    for (const auto& r : v) {
        parts << mb(r);
    }
    return parts.join(QStringLiteral(", "));
}

int runBenchmark(const QString& path)
{
    useArchive(path);
    QTemporaryDir program;
    if (!program.isValid() || !QDir(program.path()).mkpath(QStringLiteral("foto"))) {
        std::fprintf(stderr, "cannot make a program folder\n");
        return 1;
    }
    paths::setProgramFolderForTests(program.path());

    // The books, in title order as the list shows them.
    const RawDb raw(path);
    std::vector<qint64> ids;
    raw.run(QStringLiteral("select id from biblio order by titolo COLLATE ITALIANO limit %1 offset %2")
                .arg(kBooks + 1)
                .arg(kFirstRow),
            [&](sqlite3_stmt* st) { ids.push_back(sqlite3_column_int64(st, 0)); });
    if (int(ids.size()) != kBooks + 1) {
        std::fprintf(stderr, "the archive has fewer than %d books\n", kFirstRow + kBooks + 1);
        return 1;
    }

    QElapsedTimer made;
    made.start();
    std::vector<QString> distinct;
    for (int i = 0; i < kDistinctPhotos; ++i) {
        distinct.push_back(program.filePath(QStringLiteral("modello%1.jpg").arg(i)));
        writeJpeg(photoLike(kPhotoSize, std::uint64_t(i) + 1), distinct.back());
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        sameFile(distinct[i % distinct.size()], pictures::photoFile(ids[i]));
    }
    const qint64 largeId = 999999; // no book: only shown on its own
    writeJpeg(photoLike(kLargePhotoSize, 99), pictures::photoFile(largeId));
    linef(QStringLiteral("archive: %1; %2 photos of %3 x %4 (%5 KB on average, %6 different) and one of %7 x %8 "
                         "(%9 KB) written in %10 s")
              .arg(QFileInfo(path).absoluteFilePath())
              .arg(ids.size())
              .arg(kPhotoSize.width())
              .arg(kPhotoSize.height())
              .arg(QFileInfo(distinct.front()).size() / 1024)
              .arg(kDistinctPhotos)
              .arg(kLargePhotoSize.width())
              .arg(kLargePhotoSize.height())
              .arg(QFileInfo(pictures::photoFile(largeId)).size() / 1024)
              .arg(made.elapsed() / 1000.0, 0, 'f', 1));
    linef(QStringLiteral("Qt %1, platform %2, load average %3")
              .arg(QString::fromLatin1(qVersion()), QGuiApplication::platformName(), loadAverage()));
    line("");

    auto w = std::make_unique<FrmBiblio>();
    w->Form_Load();
    w->show();
    w->activateWindow();
    QApplication::setActiveWindow(w.get());
    QCoreApplication::processEvents();

    // The same walk with the viewer closed: what the arrow costs without photos.
    const Walk closed = walk(*w, ids, false);

    frmpicture* viewer = frmpicture::showViewer(w.get());
    QCoreApplication::processEvents();
    // One photo at a time: a 1-megapixel one, a 12-megapixel one, and the latter read whole.
    const Stats onePhoto = stats(showTimes(viewer, ids.front()));
    const Stats largePhoto = stats(showTimes(viewer, largeId));
    std::vector<double> whole;
    for (int i = 0; i < 5; ++i) {
        whole.push_back(readWholeMs(pictures::photoFile(largeId)));
    }
    const Stats largeWhole = stats(whole);

    // A first walk lets caches and the allocator settle; the second is measured. The archive's pages
    // read for the first time also take memory, which is why the walk with the viewer closed grows.
    const Walk settling = walk(*w, ids, true);
    const Walk open = walk(*w, ids, true);
    const Stats keys = stats(open.keys);
    const Stats painted = stats(open.painted);
    const Stats closedKeys = stats(closed.keys);
    const std::optional<double> first = open.resident.front();
    const std::optional<double> last = open.resident.back();
    const bool measured = first.has_value() && last.has_value();
    const double growth = measured ? *last - *first : 0.0;

    // Hostile files, as photos and as the floor plan when the books window opens.
    const QByteArray flat = flatProgressiveJpeg(kLargePhotoSize);
    const QByteArray repeated = withScansRepeated(flat, true, 1000);
    const QByteArray empty = withScansRepeated(flat, false, 20000);
    const qint64 repeatedId = 999998, emptyId = 999997;
    for (const auto& [id, bytes] : {std::pair{repeatedId, repeated}, std::pair{emptyId, empty}}) {
        QFile out(pictures::photoFile(id));
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
            throw std::runtime_error("cannot write a hostile photo");
        }
    }
    const Held repeatedPhoto = viewerOn(viewer, repeatedId);
    const Held emptyPhoto = viewerOn(viewer, emptyId);
    discard(w);
    const Held noPlan = booksWindowWithPlan(QByteArray());
    const Held repeatedPlan = booksWindowWithPlan(repeated);
    const Held emptyPlan = booksWindowWithPlan(empty);
    paths::setProgramFolderForTests(QString());

    linef(QStringLiteral("one photo shown by the open viewer (CercaFoto + repaint, median of %1): %2 x %3 %4 ms, "
                         "%5 x %6 %7 ms (max %8); the %5 x %6 photo read whole %9 ms")
              .arg(kPhotoRuns)
              .arg(kPhotoSize.width())
              .arg(kPhotoSize.height())
              .arg(onePhoto.median, 0, 'f', 2)
              .arg(kLargePhotoSize.width())
              .arg(kLargePhotoSize.height())
              .arg(largePhoto.median, 0, 'f', 2)
              .arg(largePhoto.max, 0, 'f', 2)
              .arg(largeWhole.median, 0, 'f', 1));
    linef(QStringLiteral("%1 down arrows with the viewer open (ms): key median %2, p95 %3, max %4; until the photo is "
                         "read and painted median %5, p95 %6, max %7")
              .arg(kBooks)
              .arg(keys.median, 0, 'f', 2)
              .arg(keys.p95, 0, 'f', 2)
              .arg(keys.max, 0, 'f', 2)
              .arg(painted.median, 0, 'f', 2)
              .arg(painted.p95, 0, 'f', 2)
              .arg(painted.max, 0, 'f', 2));
    linef(QStringLiteral("   the same with the viewer closed: key median %1, p95 %2, max %3")
              .arg(closedKeys.median, 0, 'f', 2)
              .arg(closedKeys.p95, 0, 'f', 2)
              .arg(closedKeys.max, 0, 'f', 2));
    linef(QStringLiteral("resident memory after 0, 250, 500, 750 and 1000 photos seen: %1")
              .arg(residentSeries(open.resident)));
    linef(QStringLiteral("   the first walk with the viewer open: %1; the walk with the viewer closed (before): %2")
              .arg(residentSeries(settling.resident), residentSeries(closed.resident)));
    linef(QStringLiteral("hostile files, %1 x %2 flat, progressive: its last scan 1000 times more (%3 KB), 20000 scans "
                         "without data (%4 KB)")
              .arg(kLargePhotoSize.width())
              .arg(kLargePhotoSize.height())
              .arg(repeated.size() / 1024)
              .arg(empty.size() / 1024));
    linef(QStringLiteral("   the viewer on them (CercaFoto + one processEvents; then until answered), ms: %1 / %2 and %3 / %4")
              .arg(repeatedPhoto.held, 0, 'f', 1)
              .arg(repeatedPhoto.answered, 0, 'f', 1)
              .arg(emptyPhoto.held, 0, 'f', 1)
              .arg(emptyPhoto.answered, 0, 'f', 1));
    linef(QStringLiteral("   the books window's start with them as its plan (until its first book; then until the plan "
                         "is answered), ms: %1 / %2 and %3 / %4; with an empty plan file %5 / %6")
              .arg(repeatedPlan.held, 0, 'f', 1)
              .arg(repeatedPlan.answered, 0, 'f', 1)
              .arg(emptyPlan.held, 0, 'f', 1)
              .arg(emptyPlan.answered, 0, 'f', 1)
              .arg(noPlan.held, 0, 'f', 1)
              .arg(noPlan.answered, 0, 'f', 1));
    if (open.wrong || settling.wrong || closed.wrong) {
        linef(QStringLiteral("WARNING: %1 steps showed another book or no photo")
                  .arg(open.wrong + settling.wrong + closed.wrong));
    }
    line("");

    std::vector<Row> rows;
    rows.push_back({QStringLiteral("arrow with the viewer open (median)"), ms(keys.median), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("< %1 ms").arg(kArrowTargetMs),
                    verdict(keys.median < kArrowTargetMs && open.wrong == 0)});
    rows.push_back({QStringLiteral("arrow with the viewer open (max)"), ms(keys.max), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("< %1 ms").arg(kArrowTargetMs),
                    verdict(keys.max < kArrowTargetMs && open.wrong == 0)});
    rows.push_back({QStringLiteral("arrow until its photo is painted (max)"), ms(painted.max), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("< %1 ms").arg(kArrowTargetMs),
                    verdict(painted.max < kArrowTargetMs)});
    rows.push_back({QStringLiteral("12-megapixel photo shown (median)"), ms(largePhoto.median), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("<= %1 ms").arg(kLargePhotoTargetMs),
                    verdict(largePhoto.median <= kLargePhotoTargetMs)});
    rows.push_back({QStringLiteral("resident memory growth over 1000 photos"),
                    measured ? QString::number(growth, 'f', 1) + QStringLiteral(" MB") : QStringLiteral("n/a"),
                    QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("< %1 MB").arg(kGrowthTargetMb),
                    measured ? verdict(growth < kGrowthTargetMb) : QStringLiteral("n/a")});
    // The plan's share of the books window's start: its time less that of a start without one.
    const double hostileHeld = std::max({repeatedPhoto.held, emptyPhoto.held, repeatedPlan.held - noPlan.held,
                                         emptyPlan.held - noPlan.held});
    const double hostileAnswered = std::max({repeatedPhoto.answered, emptyPhoto.answered,
                                             repeatedPlan.answered - noPlan.answered,
                                             emptyPlan.answered - noPlan.answered});
    rows.push_back({QStringLiteral("hostile file: window held (worst)"), ms(hostileHeld), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("< %1 ms").arg(kArrowTargetMs),
                    verdict(hostileHeld < kArrowTargetMs)});
    rows.push_back({QStringLiteral("hostile file: refused (worst)"), ms(hostileAnswered), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("< %1 ms").arg(kArrowTargetMs),
                    verdict(hostileAnswered < kArrowTargetMs)});
    printTable(rows);
    linef(QStringLiteral("load average at the end: %1").arg(loadAverage()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return bench::benchMain(argc, argv, "carteo_bench_viewer", runBenchmark);
}
