// Times the daily copy of a large archive with its photos, and the books window's clicks and quick
// find while a copy runs in the background, beside the same figures without it:
//   carteo_bench_backup [archive] [photos=10000] [KB per photo=50]
// Without an archive, one of 100,000 books is generated into a temporary folder.
#include "BenchSupport.h"

#include "app/DailyBackup.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/Backups.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/Recordset.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <sqlite3.h>

#include <cstdio>

namespace {

using namespace bench;

int g_photos = 10000;
int g_photoKb = 50;
constexpr int kClicks = 200;
constexpr int kSearches = 21;
// What a copy in the background may cost the window: a click still within its target, a search
// at most this much slower than without it.
constexpr double kClickTargetMs = 5;
constexpr double kSearchSlowdown = 2;
constexpr double kFirstCopyTargetS = 30;
constexpr double kPeakTargetMb = 60;

qint64 folderBytes(const QString& folder)
{
    qint64 bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        bytes += QFileInfo(it.next()).size();
    }
    return bytes;
}

void makePhotos(const QString& folder)
{
    QDir().mkpath(folder);
    QRandomGenerator random(19);
    QByteArray bytes(g_photoKb * 1024, Qt::Uninitialized);
    for (int i = 1; i <= g_photos; ++i) {
        // Random bytes: nothing on the way can make them smaller than a real photo would be.
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        QFile file(QDir(folder).filePath(QStringLiteral("%1.jpg").arg(i)));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            throw std::runtime_error("cannot write the photos");
        }
    }
}

// The child process: one daily copy and its mirror, as the program's thread makes them, with
// its time and the process's memory high-water mark on one line.
int copyHere(const QString& archive, const QString& photos, const QDate& day)
{
    QElapsedTimer t;
    t.start();
    const store::backups::Outcome outcome = store::backups::makeCopy(archive, day);
    const double copyMs = msSince(t);
    const int mirrored = store::backups::mirrorPhotos(archive, photos);
    const double totalMs = msSince(t);
    std::printf("%d %.1f %.1f %d %.1f\n", int(outcome), copyMs, totalMs, mirrored, peakResidentMb().value_or(-1));
    return outcome == store::backups::Outcome::Made ? 0 : 1;
}

struct CopyRun {
    double copyMs = 0;
    double totalMs = 0;
    double wallMs = 0;
    int mirrored = 0;
    double peakMb = 0;
};

CopyRun copyInChild(const QString& archive, const QString& photos, const QDate& day)
{
    QProcess child;
    QElapsedTimer t;
    t.start();
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--copia"), archive, photos, day.toString(Qt::ISODate)});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        throw std::runtime_error("the copy failed: " + child.readAllStandardError().toStdString() +
                                 child.readAllStandardOutput().toStdString());
    }
    CopyRun run;
    run.wallMs = msSince(t);
    const QStringList figures = QString::fromLatin1(child.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    if (figures.size() != 5) {
        throw std::runtime_error("the copy said something else");
    }
    run.copyMs = figures.at(1).toDouble();
    run.totalMs = figures.at(2).toDouble();
    run.mirrored = figures.at(3).toInt();
    run.peakMb = figures.at(4).toDouble();
    return run;
}

// The copy under way in the background while the window is used: started again, for the next
// day, whenever the last one has ended, so that every measure meets one.
class Background {
  public:
    Background(QString archive, QString photos) : m_archive(std::move(archive)), m_photos(std::move(photos)) {}
    void keepGoing()
    {
        if (!m_backup.running()) {
            m_day = m_day.addDays(1);
            if (m_backup.start(m_archive, m_photos, m_day)) {
                ++m_started;
            }
        }
        if (m_backup.running()) {
            ++m_during;
        }
    }
    void stop() { m_backup.stop(); }
    int started() const { return m_started; }
    int during() const { return m_during; }

  private:
    QString m_archive;
    QString m_photos;
    QDate m_day = QDate(2031, 1, 1);
    DailyBackup m_backup;
    int m_started = 0;
    int m_during = 0; // measures taken while a copy was running
};

struct WindowFigures {
    Stats click;
    Stats search;
    int wrong = 0;
    int during = 0;
    int copies = 0;
};

WindowFigures useWindow(FrmBiblio& w, const std::vector<qint64>& ids, const QStringList& words, Background* background)
{
    auto* list = child<controls::DBList>(&w, "DBList1");
    auto* titleBox = child<QLineEdit>(&w, "TxtFields_0");
    books::SearchPanel* panel = w.searchPanel();
    std::vector<double> clicks, searches;
    WindowFigures f;
    for (const qint64 id : ids) {
        if (background) {
            background->keepGoing();
        }
        QElapsedTimer t;
        t.start();
        list->setBoundText(QString::number(id));
        w.DBList1_Click();
        QCoreApplication::processEvents();
        clicks.push_back(msSince(t));
        if (titleBox->text() != list->text()) {
            ++f.wrong;
        }
    }
    for (const QString& word : words) {
        if (background) {
            background->keepGoing();
        }
        panel->setWords(word);
        QElapsedTimer t;
        t.start();
        panel->Aggiorna();
        QCoreApplication::processEvents();
        searches.push_back(msSince(t));
        if (w.Data6->rs().recordCount() == 0) {
            ++f.wrong;
        }
    }
    panel->setWords(QString());
    panel->Aggiorna();
    f.click = stats(clicks);
    f.search = stats(searches);
    if (background) {
        f.during = background->during();
        f.copies = background->started();
        background->stop();
    }
    return f;
}

int run(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString photos = QDir(folder).filePath(QStringLiteral("foto"));
    linef(QStringLiteral("archive: %1 (%2 MB); SQLite %3, %4 cores, load average %5")
              .arg(path)
              .arg(QFileInfo(path).size() / 1048576.0, 0, 'f', 1)
              .arg(QString::fromLatin1(sqlite3_libversion()))
              .arg(QThread::idealThreadCount())
              .arg(loadAverage()));
    {
        // Opened once by the program's own code first: an older archive gets its word index here,
        // not in the copy's time.
        store::Archive::open(path);
    }
    QElapsedTimer made;
    made.start();
    makePhotos(photos);
    linef(QStringLiteral("photos: %1 of %2 KB (%3 MB) written in %4 s")
              .arg(g_photos)
              .arg(g_photoKb)
              .arg(folderBytes(photos) / 1048576.0, 0, 'f', 1)
              .arg(msSince(made) / 1000, 0, 'f', 1));

    const CopyRun first = copyInChild(path, photos, QDate(2030, 1, 1));
    const CopyRun second = copyInChild(path, photos, QDate(2030, 1, 2));
    const QString copies = store::backups::folderOf(path);
    linef(QStringLiteral("first daily copy: archive %1 s, with the photos %2 s (%3 photos mirrored), process %4 s, "
                         "peak %5 MB")
              .arg(first.copyMs / 1000, 0, 'f', 2)
              .arg(first.totalMs / 1000, 0, 'f', 2)
              .arg(first.mirrored)
              .arg(first.wallMs / 1000, 0, 'f', 2)
              .arg(first.peakMb, 0, 'f', 1));
    linef(QStringLiteral("second daily copy, photos unchanged: archive %1 s, with the photos %2 s (%3 photos mirrored), "
                         "process %4 s, peak %5 MB")
              .arg(second.copyMs / 1000, 0, 'f', 2)
              .arg(second.totalMs / 1000, 0, 'f', 2)
              .arg(second.mirrored)
              .arg(second.wallMs / 1000, 0, 'f', 2)
              .arg(second.peakMb, 0, 'f', 1));
    linef(QStringLiteral("copie/: %1 MB").arg(folderBytes(copies) / 1048576.0, 0, 'f', 1));

    // The window, without and then with a copy in the background.
    RawDb raw(path);
    std::vector<qint64> ids;
    raw.run(QStringLiteral("select id from biblio order by random() limit %1").arg(kClicks),
            [&](sqlite3_stmt* st) { ids.push_back(sqlite3_column_int64(st, 0)); });
    QStringList words;
    raw.run(QStringLiteral("select substr(titolo, 1, instr(titolo || ' ', ' ') - 1) from biblio where length(titolo) "
                           "> 6 order by random() limit %1")
                .arg(kSearches),
            [&](sqlite3_stmt* st) { words << columnText(st, 0); });
    useArchive(path);
    auto w = std::make_unique<FrmBiblio>();
    w->Form_Load();
    w->show();
    QCoreApplication::processEvents();
    useWindow(*w, ids, words, nullptr); // warms the caches as a user's first minutes do
    const WindowFigures quiet = useWindow(*w, ids, words, nullptr);
    Background background(path, photos);
    const WindowFigures busy = useWindow(*w, ids, words, &background);
    discard(w);
    linef(QStringLiteral("window without a copy: click + repaint median %1 ms, p95 %2; quick find median %3 ms, p95 %4")
              .arg(quiet.click.median, 0, 'f', 2)
              .arg(quiet.click.p95, 0, 'f', 2)
              .arg(quiet.search.median, 0, 'f', 1)
              .arg(quiet.search.p95, 0, 'f', 1));
    linef(QStringLiteral("window during copies: click + repaint median %1 ms, p95 %2; quick find median %3 ms, p95 %4 "
                         "(%5 of %6 measures with a copy running, %7 copies started)")
              .arg(busy.click.median, 0, 'f', 2)
              .arg(busy.click.p95, 0, 'f', 2)
              .arg(busy.search.median, 0, 'f', 1)
              .arg(busy.search.p95, 0, 'f', 1)
              .arg(busy.during)
              .arg(kClicks + kSearches)
              .arg(busy.copies));
    if (quiet.wrong + busy.wrong > 0) {
        linef(QStringLiteral("WRONG: %1 clicks or searches did not show what they should").arg(quiet.wrong + busy.wrong));
    }
    line("");
    const std::vector<Row> rows = {
        {QStringLiteral("first daily copy with photos"), ms(first.totalMs), {}, {}, QStringLiteral("< 30 s"),
         verdict(first.totalMs < kFirstCopyTargetS * 1000)},
        {QStringLiteral("second copy, photos unchanged"), ms(second.totalMs), {}, {}, QStringLiteral("< first"),
         verdict(second.totalMs < first.totalMs && second.mirrored == 0)},
        {QStringLiteral("peak memory of the copy (MB)"), QString::number(std::max(first.peakMb, second.peakMb), 'f', 1),
         {}, {}, QStringLiteral("< 60 MB"), verdict(std::max(first.peakMb, second.peakMb) < kPeakTargetMb)},
        {QStringLiteral("click during a copy, median"), ms(busy.click.median), ms(quiet.click.median),
         times(busy.click.median / std::max(0.01, quiet.click.median)), QStringLiteral("< 5 ms"),
         verdict(busy.click.median < kClickTargetMs && busy.wrong == 0)},
        {QStringLiteral("quick find during a copy, median"), ms(busy.search.median), ms(quiet.search.median),
         times(busy.search.median / std::max(0.01, quiet.search.median)), QStringLiteral("<= 2x without"),
         verdict(busy.search.median <= kSearchSlowdown * quiet.search.median && busy.wrong == 0)},
    };
    printTable(rows);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Internal: the child process that makes one copy.
    if (argc == 5 && std::string(argv[1]) == "--copia") {
        QCoreApplication app(argc, argv);
        try {
            return copyHere(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                            QDate::fromString(QString::fromLatin1(argv[4]), Qt::ISODate));
        } catch (const store::DbError& e) {
            std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
        }
        return 1;
    }
    // The photo count and size come after the archive; benchMain sees the archive alone.
    if (argc >= 3) {
        g_photos = std::atoi(argv[2]);
        g_photoKb = argc >= 4 ? std::atoi(argv[3]) : g_photoKb;
        argc = 2;
    }
    return benchMain(argc, argv, "carteo_bench_backup", run);
}
