// The loans window on the 100,000-book archive with 5,000 borrowers and 20,000 loans (2,000
// overdue): the "In ritardo" page shown, and a scan typed at the desk to a finished lend or return,
// each with the window repainted; beside the same queries on a raw SQLite connection.
#include "BenchSupport.h"

#include "app/Today.h"
#include "loans/DeskStrip.h"
#include "loans/FrmPrestiti.h"
#include "store/Archive.h"
#include "store/Loans.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

#include <sqlite3.h>

namespace {

constexpr int kRuns = 40;
constexpr double kOverdueTargetMs = 50;
constexpr double kScanTargetMs = 20;

int runBenchmark(const QString& path)
{
    bench::useArchive(path);
    const QDate day(2026, 12, 9);
    today::setForTests(day);
    FrmPrestiti w;
    w.resize(1100, 760);
    w.Form_Load();
    w.show();
    QApplication::processEvents();

    // The overdue page: the list read and shown, the window painted.
    std::vector<double> shown;
    for (int i = 0; i < kRuns; ++i) {
        w.Schede->setCurrentIndex(0);
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        w.Schede->setCurrentIndex(1);
        w.repaint();
        shown.push_back(bench::msSince(t));
    }
    const int listed = w.TblRitardo->model()->rowCount();
    bench::RawDb raw(path);
    std::vector<double> rawShown;
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer t;
        t.start();
        raw.run(QStringLiteral("select p.ID_Prestito, b.titolo, l.nome, p.data_prestito, p.data_scadenza from prestiti p "
                               "left join biblio b on b.id = p.id_libro left join lettori l on l.ID_Lettore = "
                               "p.ID_Lettore where p.data_restituzione is null and p.data_scadenza < ? order by "
                               "p.data_scadenza, l.nome, p.ID_Prestito"),
                {}, {day.toString(Qt::ISODate)});
        rawShown.push_back(bench::msSince(t));
    }

    // Scans at the desk: books on the shelf lent to the first borrower, then returned.
    w.Schede->setCurrentIndex(0);
    w.DBList1_Click();
    QStringList shelf;
    raw.run(QStringLiteral("select id from biblio where id not in (select id_libro from prestiti where "
                           "data_restituzione is null) order by id limit %1").arg(kRuns),
            [&](sqlite3_stmt* st) { shelf << bench::columnText(st, 0); });
    std::vector<double> lend, back;
    QLineEdit* field = w.Desk->TxtCodiceLibro;
    for (std::vector<double>* run : {&lend, &back}) {
        for (const QString& key : shelf) {
            field->setText(key);
            QElapsedTimer t;
            t.start();
            w.Desk->TxtCodiceLibro_Enter();
            w.repaint();
            run->push_back(bench::msSince(t));
        }
    }
    const bench::Stats s = bench::stats(shown), r = bench::stats(rawShown), l = bench::stats(lend),
                       b = bench::stats(back);
    std::vector<bench::Row> rows;
    rows.push_back({QStringLiteral("In ritardo shown, %1 loans").arg(listed), bench::ms(s.median), bench::ms(r.median),
                    bench::times(s.median / r.median), QStringLiteral("<= %1 ms").arg(kOverdueTargetMs),
                    bench::verdict(s.median <= kOverdueTargetMs)});
    rows.push_back({QStringLiteral("scan to a lend, repainted"), bench::ms(l.median), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("<= %1 ms").arg(kScanTargetMs),
                    bench::verdict(l.median <= kScanTargetMs)});
    rows.push_back({QStringLiteral("scan to a return, repainted"), bench::ms(b.median), QStringLiteral("-"),
                    QStringLiteral("-"), QStringLiteral("<= %1 ms").arg(kScanTargetMs),
                    bench::verdict(b.median <= kScanTargetMs)});
    bench::printTable(rows);
    bench::linef(QStringLiteral("p95: overdue %1, lend %2, return %3; load %4")
                     .arg(bench::ms(s.p95), bench::ms(l.p95), bench::ms(b.p95), bench::loadAverage()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    return bench::benchMain(argc, argv, "carteo_bench_desk", runBenchmark);
}
