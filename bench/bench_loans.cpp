// Times the loans desk's store calls on a large archive, each beside raw SQLite doing the same work:
//   carteo_bench_loans [archive]
// Without an archive, one of 100,000 books with 5,000 borrowers and 20,000 loans (2,000 overdue)
// is generated into a temporary folder. The overdue list as the window will show it, one scan to a
// finished lend or return (the store's part: one transaction, committed to the disk), the open
// loan of a book (asked at each click of the books window), and the upgrade of an archive of
// version 2 to version 3.
#include "ArchiveGenerator.h"
#include "BenchSupport.h"

#include "store/Archive.h"
#include "store/Loans.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFile>

#include <sqlite3.h>

namespace {

using namespace bench;
namespace loans = store::loans;

constexpr int kRuns = 51;
constexpr double kOverdueTargetMs = 50;
constexpr double kScanTargetMs = 20;
constexpr double kOpenLoanTargetMs = 1;

const QDate kToday(kLoansTodayYear, kLoansTodayMonth, kLoansTodayDay);

// The same text as the store's list: the open loans past due, with titles and names, by due date.
const QString kRawOverdue = QStringLiteral(
    "SELECT p.ID_Prestito, p.id_libro, p.ID_Lettore, l.nome, b.titolo, p.data_prestito, p.data_scadenza, "
    "p.data_restituzione, p.note FROM prestiti p LEFT JOIN lettori l ON l.ID_Lettore = p.ID_Lettore LEFT JOIN "
    "biblio b ON b.id = p.id_libro WHERE p.data_restituzione IS NULL AND p.data_scadenza < ? ORDER BY "
    "p.data_scadenza, l.nome COLLATE ITALIANO, p.ID_Prestito");
const QString kRawOpenLoan = QStringLiteral(
    "SELECT p.ID_Prestito, p.id_libro, p.ID_Lettore, l.nome, b.titolo, p.data_prestito, p.data_scadenza, "
    "p.data_restituzione, p.note FROM prestiti p LEFT JOIN lettori l ON l.ID_Lettore = p.ID_Lettore LEFT JOIN "
    "biblio b ON b.id = p.id_libro WHERE p.id_libro = ? AND p.data_restituzione IS NULL");

template <typename Work> Stats timed(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        work(i);
        times.push_back(msSince(t));
    }
    return stats(times);
}

void execRaw(sqlite3* db, const char* sqlText)
{
    if (sqlite3_exec(db, sqlText, nullptr, nullptr, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string(sqlText) + ": " + sqlite3_errmsg(db));
    }
}

// A lend or a return as the store does it, by hand: the write lock, the look-ups, the write, the
// commit.
void rawScan(sqlite3* db, qint64 book, qint64 borrower, const QString& day)
{
    const auto one = [db](const char* sqlText, const std::function<void(sqlite3_stmt*)>& bind) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sqlText, -1, &st, nullptr);
        bind(st);
        const bool row = sqlite3_step(st) == SQLITE_ROW;
        const qint64 value = row ? sqlite3_column_int64(st, 0) : 0;
        sqlite3_finalize(st);
        return value;
    };
    const QByteArray date = day.toUtf8();
    execRaw(db, "BEGIN IMMEDIATE");
    one("SELECT titolo FROM biblio WHERE id = ?", [&](sqlite3_stmt* st) { sqlite3_bind_int64(st, 1, book); });
    const qint64 open = one("SELECT ID_Prestito FROM prestiti WHERE id_libro = ? AND data_restituzione IS NULL",
                            [&](sqlite3_stmt* st) { sqlite3_bind_int64(st, 1, book); });
    if (open != 0) {
        one("UPDATE prestiti SET data_restituzione = ? WHERE ID_Prestito = ?", [&](sqlite3_stmt* st) {
            sqlite3_bind_text(st, 1, date.constData(), int(date.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(st, 2, open);
        });
    } else {
        one("SELECT nome FROM lettori WHERE ID_Lettore = ?",
            [&](sqlite3_stmt* st) { sqlite3_bind_int64(st, 1, borrower); });
        one("INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza) VALUES (?, ?, ?, ?)",
            [&](sqlite3_stmt* st) {
                sqlite3_bind_int64(st, 1, book);
                sqlite3_bind_int64(st, 2, borrower);
                sqlite3_bind_text(st, 3, date.constData(), int(date.size()), SQLITE_TRANSIENT);
                sqlite3_bind_text(st, 4, date.constData(), int(date.size()), SQLITE_TRANSIENT);
            });
    }
    execRaw(db, "COMMIT");
}

int runBenchmark(const QString& path)
{
    std::vector<qint64> books;
    {
        const RawDb raw(path);
        raw.run(QStringLiteral("SELECT id FROM biblio ORDER BY id"),
                [&](sqlite3_stmt* st) { books.push_back(sqlite3_column_int64(st, 0)); });
        linef(QStringLiteral("archive: %1 books, %2 borrowers, %3 loans, %4 open")
                  .arg(books.size())
                  .arg(raw.run(QStringLiteral("SELECT 1 FROM lettori")))
                  .arg(raw.run(QStringLiteral("SELECT 1 FROM prestiti")))
                  .arg(raw.run(QStringLiteral("SELECT 1 FROM prestiti WHERE data_restituzione IS NULL"))));
    }
    if (books.empty()) {
        throw std::runtime_error("no books in the archive");
    }
    std::vector<Row> rows;

    // The overdue list, whole, as the window will show it.
    {
        const auto archive = store::Archive::open(path);
        const RawDb raw(path);
        int listed = 0;
        const Stats store = timed(kRuns, [&](int) { listed = int(loans::overdue(*archive, kToday).size()); });
        int rawListed = 0;
        const Stats rawStats =
            timed(kRuns, [&](int) { rawListed = raw.run(kRawOverdue, {}, {kToday.toString(Qt::ISODate)}); });
        linef(QStringLiteral("overdue loans listed: %1 (raw %2)").arg(listed).arg(rawListed));
        rows.push_back({QStringLiteral("overdue list, %1 loans").arg(listed), ms(store.median), ms(rawStats.median),
                        times(store.median / rawStats.median), QStringLiteral("<= %1 ms").arg(kOverdueTargetMs),
                        verdict(store.median <= kOverdueTargetMs && listed == rawListed)});
        const Stats count = timed(kRuns, [&](int) { loans::overdueCount(*archive, kToday); });
        rows.push_back({QStringLiteral("overdue count"), ms(count.median), QStringLiteral("-"), QStringLiteral("-"),
                        QStringLiteral("-"), QStringLiteral("-")});
    }

    // The open loan of a book, for books all over the catalogue (most not on loan).
    {
        const auto archive = store::Archive::open(path);
        const RawDb raw(path);
        const auto bookOf = [&](int i) { return books[std::size_t((i * 7919) % int(books.size()))]; };
        const int runs = 2001;
        int found = 0;
        const Stats store = timed(runs, [&](int i) { found += loans::openLoanOf(*archive, bookOf(i)) ? 1 : 0; });
        const Stats rawStats = timed(runs, [&](int i) { raw.run(kRawOpenLoan, {}, {QString::number(bookOf(i))}); });
        linef(QStringLiteral("open loan of a book: %1 of %2 books asked were on loan").arg(found).arg(runs));
        rows.push_back({QStringLiteral("open loan of a book"), ms(store.median), ms(rawStats.median),
                        times(store.median / rawStats.median), QStringLiteral("<= %1 ms").arg(kOpenLoanTargetMs),
                        verdict(store.median <= kOpenLoanTargetMs)});
    }

    // One scan to a finished lend or return: the same books lent, then returned, in turn.
    {
        const auto archive = store::Archive::open(path);
        std::vector<qint64> free;
        for (std::size_t i = 0; i < books.size() && free.size() < std::size_t(kRuns); i += 97) {
            if (!loans::openLoanOf(*archive, books[i])) {
                free.push_back(books[i]);
            }
        }
        int done = 0;
        const Stats lend = timed(kRuns, [&](int i) {
            done += loans::scan(*archive, QString::number(free[std::size_t(i)]), 1 + i, kToday, 30, 0).done();
        });
        const Stats back = timed(kRuns, [&](int i) {
            done += loans::scan(*archive, QString::number(free[std::size_t(i)]), 0, kToday, 30, 0).done();
        });
        const RawDb raw(path, true);
        const QString day = kToday.toString(Qt::ISODate);
        const Stats rawLend = timed(kRuns, [&](int i) { rawScan(raw.handle(), free[std::size_t(i)], 1 + i, day); });
        const Stats rawBack = timed(kRuns, [&](int i) { rawScan(raw.handle(), free[std::size_t(i)], 0, day); });
        linef(QStringLiteral("scans done: %1 of %2").arg(done).arg(2 * kRuns));
        rows.push_back({QStringLiteral("scan to a finished lend"), ms(lend.median), ms(rawLend.median),
                        times(lend.median / rawLend.median), QStringLiteral("<= %1 ms").arg(kScanTargetMs),
                        verdict(lend.median <= kScanTargetMs && done == 2 * kRuns)});
        rows.push_back({QStringLiteral("scan to a finished return"), ms(back.median), ms(rawBack.median),
                        times(back.median / rawBack.median), QStringLiteral("<= %1 ms").arg(kScanTargetMs),
                        verdict(back.median <= kScanTargetMs && done == 2 * kRuns)});
    }

    // The upgrade of the same archive taken back to version 2: the quick check of the file, then
    // the new tables, in one transaction.
    {
        const QString older = path + QStringLiteral(".v2");
        QFile::remove(older);
        QFile::copy(path, older);
        {
            const RawDb raw(older, true);
            execRaw(raw.handle(), "DROP TRIGGER biblio_in_prestito; DROP TRIGGER biblio_elimina_prestiti; DROP TABLE "
                                  "prestiti; DROP TABLE lettori; PRAGMA user_version = 2; VACUUM;");
        }
        QElapsedTimer t;
        t.start();
        const auto upgraded = store::Archive::open(older);
        const double upgrade = msSince(t);
        t.start();
        store::Archive::open(older);
        const double plain = msSince(t);
        rows.push_back({QStringLiteral("opening an archive of version 2 (upgrade)"), ms(upgrade),
                        ms(plain) + QStringLiteral(" (opened again)"), times(upgrade / plain), QStringLiteral("-"),
                        loans::available(*upgraded) ? QStringLiteral("done") : QStringLiteral("NOT DONE")});
        QFile::remove(older);
    }

    printTable(rows);
    linef(QStringLiteral("load average at the end: %1").arg(loadAverage()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return bench::benchMain(argc, argv, "carteo_bench_loans", runBenchmark);
}
