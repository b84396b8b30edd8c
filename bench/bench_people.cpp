// Times the authors and publishers windows on a large archive and compares them with raw SQLite
// running the same queries:
//   carteo_bench_people [archive]
// Without an archive, one of 100,000 books (60,000 authors, 5,000 publishers) is generated into a
// temporary folder. The copy worked on gets one publisher with exactly 2,000 titles.
#include "ArchiveGenerator.h"
#include "BenchSupport.h"

#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "store/Sql.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>

#include <sqlite3.h>

#include <memory>
#include <vector>

namespace {

using namespace bench;

constexpr int kRuns = 7;
constexpr int kClicks = 200;
constexpr int kBigPublisherTitles = 2000;
constexpr double kOpenTargetMs = 300;
constexpr double kClickTargetMs = 10;
constexpr double kPeakTargetMb = 200;

// Raw SQLite: the same two queries of a click, every row stepped through; their row counts.
double rawClickMs(const RawDb& raw, const store::Query& titles, const store::Query& others, int counts[2])
{
    QElapsedTimer t;
    t.start();
    int i = 0;
    for (const store::Query* q : {&titles, &others}) {
        counts[i++] = raw.run(sql::translate(q->text), {}, {q->values.constFirst().toString()});
    }
    return msSince(t);
}

template <typename Window> double openMs(std::unique_ptr<Window>& w)
{
    QElapsedTimer t;
    t.start();
    w = std::make_unique<Window>();
    w->Form_Load();
    w->show();
    QCoreApplication::processEvents();
    return msSince(t);
}

template <typename Window> void close(std::unique_ptr<Window>& w)
{
    w.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

struct Clicks {
    Stats window;
    Stats raw;
    int wrong = 0;
};

// Chooses each key in the window's main list as a click does, lists repainted; `check` tells whether
// the window shows the chosen record.
Clicks clickAll(people::RecordWindow& w, const RawDb& raw, const std::vector<qint64>& keys,
                const std::function<store::Query(qint64)>& titles, const std::function<store::Query(qint64)>& others)
{
    Clicks out;
    std::vector<double> window, rawTimes;
    for (const qint64 key : keys) {
        QElapsedTimer t;
        t.start();
        w.DBList1->setBoundText(QString::number(key));
        w.DBList1_Click();
        QCoreApplication::processEvents();
        window.push_back(msSince(t));
        int counts[2] = {0, 0};
        rawTimes.push_back(rawClickMs(raw, titles(key), others(key), counts));
        // The window shows the chosen record, with the rows raw SQLite finds for it.
        if (w.DBList1->boundText() != QString::number(key) || w.Label2->text().toInt() != counts[0] ||
            w.Label3->text().toInt() != counts[1] || w.DBList2->listModel()->rowCount() != counts[0]) {
            ++out.wrong;
        }
    }
    out.window = stats(window);
    out.raw = stats(rawTimes);
    return out;
}

std::vector<qint64> keysOf(const RawDb& raw, const QString& sqlText)
{
    std::vector<qint64> keys;
    raw.run(sqlText, [&](sqlite3_stmt* st) { keys.push_back(sqlite3_column_int64(st, 0)); });
    return keys;
}

int run(const QString& path)
{
    // One publisher gets exactly 2,000 titles, so the heaviest click is measured.
    {
        const RawDb writer(path, true);
        writer.run(QStringLiteral("UPDATE biblio SET id_edizione=2 WHERE id_edizione=1"));
        writer.run(QStringLiteral("UPDATE biblio SET id_edizione=1 WHERE id IN (SELECT id FROM biblio ORDER BY id "
                                  "LIMIT %1)")
                       .arg(kBigPublisherTitles));
    }
    useArchive(path);
    const RawDb raw(path);
    std::vector<Row> rows;
    linef(QStringLiteral("archive %1; load average %2").arg(path, loadAverage()));

    // a. Opening each window until its first record and both lists are shown.
    std::vector<double> openAuthors, openPublishers;
    for (int i = 0; i < kRuns; ++i) {
        std::unique_ptr<frmAutori> a;
        openAuthors.push_back(openMs(a));
        close(a);
        std::unique_ptr<FrmEditori> p;
        openPublishers.push_back(openMs(p));
        close(p);
    }
    std::vector<double> rawAuthors, rawPublishers;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        raw.run(sql::translate(sql::AllAuthors));
        rawAuthors.push_back(msSince(t));
        t.restart();
        raw.run(sql::translate(sql::AllPublishers));
        rawPublishers.push_back(msSince(t));
    }
    const Stats oa = stats(openAuthors), op = stats(openPublishers);
    const Stats ra = stats(rawAuthors), rp = stats(rawPublishers);
    rows.push_back({QStringLiteral("a. open authors window (median)"), ms(oa.median), ms(ra.median),
                    times(oa.median / ra.median), ms(kOpenTargetMs), verdict(oa.median <= kOpenTargetMs)});
    rows.push_back({QStringLiteral("a. open publishers window (median)"), ms(op.median), ms(rp.median),
                    times(op.median / rp.median), ms(kOpenTargetMs), verdict(op.median <= kOpenTargetMs)});

    // b. Clicks in the authors list: random authors, then the publishers list.
    std::unique_ptr<FrmBiblio> books = std::make_unique<FrmBiblio>();
    books->Form_Load();
    books->show();
    std::unique_ptr<frmAutori> authors;
    openMs(authors);
    std::unique_ptr<FrmEditori> publishers;
    openMs(publishers);
    bench::Random pick(11);
    const std::vector<qint64> allAuthors = keysOf(raw, QStringLiteral("SELECT ID_autore FROM autore"));
    const std::vector<qint64> allPublishers = keysOf(raw, QStringLiteral("SELECT ID_Editore FROM editori"));
    std::vector<qint64> someAuthors, somePublishers;
    for (int i = 0; i < kClicks; ++i) {
        someAuthors.push_back(allAuthors[pick.below(std::uint32_t(allAuthors.size()))]);
        somePublishers.push_back(allPublishers[pick.below(std::uint32_t(allPublishers.size()))]);
    }
    const Clicks ca = clickAll(*authors, raw, someAuthors, sql::titlesOfAuthor, sql::publishersOfAuthor);
    const Clicks cp = clickAll(*publishers, raw, somePublishers, sql::titlesOfPublisher, sql::authorsOfPublisher);
    const Clicks big = clickAll(*publishers, raw, std::vector<qint64>(21, 1), sql::titlesOfPublisher,
                                sql::authorsOfPublisher);
    const int bigTitles = publishers->Label2->text().toInt();
    const int bigAuthors = publishers->Label3->text().toInt();
    rows.push_back({QStringLiteral("b. click in authors list (median)"), ms(ca.window.median), ms(ca.raw.median),
                    times(ca.window.median / ca.raw.median), ms(kClickTargetMs),
                    verdict(ca.window.median <= kClickTargetMs && ca.wrong == 0)});
    rows.push_back({QStringLiteral("b. click in publishers list (median)"), ms(cp.window.median), ms(cp.raw.median),
                    times(cp.window.median / cp.raw.median), ms(kClickTargetMs),
                    verdict(cp.window.median <= kClickTargetMs && cp.wrong == 0)});
    rows.push_back({QStringLiteral("b. click on a publisher of %1 titles (median)").arg(bigTitles),
                    ms(big.window.median), ms(big.raw.median), times(big.window.median / big.raw.median),
                    ms(kClickTargetMs), verdict(big.window.median <= kClickTargetMs && big.wrong == 0)});
    linef(QStringLiteral("b. %1 clicks each; p95/max authors %2/%3 ms, publishers %4/%5 ms; the big publisher: %6 "
                         "titles, %7 author rows, max %8 ms; wrong records %9")
              .arg(kClicks)
              .arg(ca.window.p95, 0, 'f', 2)
              .arg(ca.window.max, 0, 'f', 2)
              .arg(cp.window.p95, 0, 'f', 2)
              .arg(cp.window.max, 0, 'f', 2)
              .arg(bigTitles)
              .arg(bigAuthors)
              .arg(big.window.max, 0, 'f', 2)
              .arg(ca.wrong + cp.wrong + big.wrong));

    // c. Peak memory with the three windows open, after all that browsing.
    const std::optional<double> peak = peakResidentMb();
    rows.push_back({QStringLiteral("c. peak memory, three windows open"), mb(peak), QString(), QString(),
                    QStringLiteral("%1 MB").arg(kPeakTargetMb), verdict(peak && *peak <= kPeakTargetMb)});
    close(publishers);
    close(authors);
    books.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    line("");
    printTable(rows);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return benchMain(argc, argv, "carteo_bench_people", run);
}
