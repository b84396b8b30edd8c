// The books window on a server archive beside the same catalogue in a file, and several program
// instances writing to one archive at once:
//   carteo_bench_server <archive.mdb> <address> [runs=7]
//       times the books window on both engines: the first book shown, a click in the list, a
//       quick-find keystroke and a save (median and worst of the runs), with the ratio server/file.
//       The file is worked on as a copy; an empty server database is filled from it first.
//   carteo_bench_server --carico <archive or address> [seconds=60] [instances=8]
//       that many instances of this program, each in its own process, save books, search and lend
//       for the given time; then the saves per second, the refusals by number and the check that
//       no save was lost (see StoreLoad.h). A file archive is worked on as a copy.
//   carteo_bench_server --istanza <plan> <index>
//       one instance of the load (started by --carico).
#include "BenchSupport.h"
#include "StoreLoad.h"

#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/Recordset.h"
#include "store/Server.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace bench;

constexpr int kClicks = 200;
constexpr int kKeystrokes = 21;
constexpr int kSaves = 50;
constexpr double kFirstBookTargetMs = 300;
constexpr double kClickTargetMs = 5;
constexpr double kKeystrokeTargetMs = 30; // a rare word of the quick find
constexpr double kSaveTargetMs = 20;
constexpr double kServerRatio = 2; // the server against the file

struct Figures {
    std::vector<double> firstBook, click, clickPainted, keystroke, save;
    int wrong = 0; // clicks, keystrokes or saves that did not show or store what they should
};

struct Catalogue {
    std::vector<qint64> clicked;
    QStringList words;
};

// The books of the clicks and the words of the quick finds, the same on both engines.
Catalogue chooseCatalogue(const QString& archive)
{
    Catalogue c;
    const auto a = store::Archive::open(archive, store::Archive::Presence::None);
    std::vector<qint64> ids;
    store::Statement all = a->prepare(QStringLiteral("SELECT id FROM biblio ORDER BY id"));
    while (all.step()) {
        ids.push_back(all.int64(0));
    }
    if (ids.empty()) {
        throw std::runtime_error("the archive has no books");
    }
    std::mt19937 r(7);
    for (int i = 0; i < kClicks; ++i) {
        c.clicked.push_back(ids[r() % ids.size()]);
    }
    // Words held by few books: the index's cost with a short list to show.
    const load::Plan plan = load::choose(archive, 1, 1);
    c.words = plan.words;
    return c;
}

std::unique_ptr<FrmBiblio> openWindow(double* ms)
{
    QElapsedTimer t;
    t.start();
    auto w = std::make_unique<FrmBiblio>();
    w->Form_Load();
    w->show();
    QCoreApplication::processEvents();
    *ms = msSince(t);
    if (child<QLineEdit>(w.get(), "TxtFields_0")->text().isEmpty()) {
        throw std::runtime_error("the first book's title is not shown");
    }
    return w;
}

Figures measure(const QString& archive, const Catalogue& c, int runs)
{
    Modulo1::PercorsoArchivio = archive;
    if (!store::server::isAddress(archive)) {
        const QFileInfo info(archive);
        Modulo1::CartellaArchivio = info.absolutePath() + QLatin1Char('/');
        Modulo1::FileArchivio = info.fileName();
    }
    Figures f;
    double ms = 0;
    std::unique_ptr<FrmBiblio> w = openWindow(&ms); // the first window also pays for fonts and style
    discard(w);
    for (int i = 0; i < runs; ++i) {
        w = openWindow(&ms);
        f.firstBook.push_back(ms);
        if (i + 1 < runs) {
            discard(w);
        }
    }
    auto* list = child<controls::DBList>(w.get(), "DBList1");
    for (const qint64 id : c.clicked) {
        QElapsedTimer t;
        t.start();
        list->setBoundText(QString::number(id));
        w->DBList1_Click();
        f.click.push_back(msSince(t));
        QCoreApplication::processEvents();
        f.clickPainted.push_back(msSince(t));
        if (Modulo1::IdLibroCorrente != id) {
            ++f.wrong;
        }
    }
    auto* title = child<QLineEdit>(w.get(), "TxtFields_0");
    const int allRows = w->Data6->rs().recordCount();
    for (int k = 0; k < kKeystrokes && !c.words.isEmpty(); ++k) {
        QElapsedTimer t;
        t.start();
        w->searchPanel()->setWords(c.words.at(k % c.words.size()));
        w->searchPanel()->Aggiorna();
        QCoreApplication::processEvents();
        f.keystroke.push_back(msSince(t));
        const int rows = w->Data6->rs().recordCount();
        if (rows <= 0 || rows >= allRows || title->text().isEmpty()) {
            ++f.wrong;
        }
    }
    w->searchPanel()->setWords(QString());
    w->searchPanel()->Aggiorna();
    auto* noteBox = child<QLineEdit>(w.get(), "TxtFields_13");
    for (int i = 0; i < kSaves; ++i) {
        const qint64 id = c.clicked[std::size_t(i)];
        list->setBoundText(QString::number(id));
        w->DBList1_Click();
        // A note of this process's own: a server database kept from an earlier run already holds
        // that run's notes, and a save of what is stored writes nothing.
        const QString note = QStringLiteral("NOTA SERVER %1 %2").arg(QCoreApplication::applicationPid()).arg(i);
        QElapsedTimer t;
        t.start();
        w->Data1->edit();
        noteBox->setText(note);
        noteBox->setModified(true);
        w->Data1->updateRecord();
        f.save.push_back(msSince(t));
        if (w->Data1->rs().value(QStringLiteral("note")).toString() != note) {
            ++f.wrong;
        }
    }
    discard(w);
    return f;
}

// The server database holds the catalogue: filled from the file when it is empty.
void fillServer(const QString& file, const QString& address)
{
    try {
        store::Archive::open(address, store::Archive::Presence::None);
        linef(QStringLiteral("server archive ") + store::server::shown(address) +
              QStringLiteral(" already holds an archive: used as it is"));
        return;
    } catch (const store::DbError& e) {
        if (e.number() != 3343) {
            throw;
        }
    }
    QElapsedTimer t;
    t.start();
    store::transferArchive(file, address);
    // An address holds percent signs of its own: it goes last, never through arg().
    linef(QStringLiteral("filled from the file in %1 s: server archive ").arg(msSince(t) / 1000, 0, 'f', 1) +
          store::server::shown(address));
}

qint64 bookCount(const QString& archive)
{
    const auto a = store::Archive::open(archive, store::Archive::Presence::None);
    store::Statement st = a->prepare(QStringLiteral("SELECT count(*) FROM biblio"));
    return st.step() ? st.int64(0) : 0;
}

int windowBench(const QString& given, const QString& address, int runs)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("archivio.mdb"));
    if (!QFileInfo(given).isFile() || !QFile::copy(given, file)) {
        std::fprintf(stderr, "no such archive: %s\n", qPrintable(given));
        return 1;
    }
    fillServer(file, address);
    const qint64 fileBooks = bookCount(file);
    const qint64 serverBooks = bookCount(address);
    linef(QStringLiteral("file: %1 books; server: %2 books; Qt %3, %4 cores, load average %5; %6 runs; file ")
              .arg(fileBooks)
              .arg(serverBooks)
              .arg(QString::fromLatin1(qVersion()))
              .arg(QThread::idealThreadCount())
              .arg(loadAverage())
              .arg(runs) +
          given + QStringLiteral(", server ") + store::server::shown(address));
    if (fileBooks != serverBooks) {
        line("WARNING: the two archives do not hold the same catalogue");
    }
    const Catalogue c = chooseCatalogue(file);
    const Figures onFile = measure(file, c, runs);
    linef(QStringLiteral("file measured; load average %1").arg(loadAverage()));
    const Figures onServer = measure(address, c, runs);
    linef(QStringLiteral("server measured; load average %1").arg(loadAverage()));
    line("");

    std::vector<Row> rows;
    const auto add = [&](const QString& what, const std::vector<double>& file, const std::vector<double>& server,
                         double target) {
        const Stats f = stats(file);
        const Stats s = stats(server);
        rows.push_back({what, ms(s.median) + QStringLiteral(" (worst ") + ms(s.max) + QStringLiteral(")"),
                        ms(f.median) + QStringLiteral(" (worst ") + ms(f.max) + QStringLiteral(")"),
                        times(s.median / f.median), QStringLiteral("< %1 ms, <= %2x").arg(target).arg(kServerRatio),
                        verdict(s.median < target && s.median <= kServerRatio * f.median)});
    };
    add(QStringLiteral("first book shown"), onFile.firstBook, onServer.firstBook, kFirstBookTargetMs);
    add(QStringLiteral("click in the list (setBoundText + DBList1_Click)"), onFile.click, onServer.click,
        kClickTargetMs);
    add(QStringLiteral("click in the list with the repaint"), onFile.clickPainted, onServer.clickPainted,
        kClickTargetMs * 2);
    add(QStringLiteral("quick find keystroke, list filtered and shown"), onFile.keystroke, onServer.keystroke,
        kKeystrokeTargetMs);
    add(QStringLiteral("save of an edited book"), onFile.save, onServer.save, kSaveTargetMs);
    line("columns: figure = server, raw SQLite = the file archive, ratio = server / file");
    printTable(rows);
    if (onFile.wrong || onServer.wrong) {
        linef(
            QStringLiteral("WARNING: %1 steps on the file and %2 on the server did not show or store what they should")
                .arg(onFile.wrong)
                .arg(onServer.wrong));
    }
    linef(QStringLiteral("load average at the end: %1").arg(loadAverage()));
    return onFile.wrong || onServer.wrong ? 1 : 0;
}

int loadRun(const QString& given, int seconds, int instances)
{
    QTemporaryDir dir;
    QString archive = given;
    if (!store::server::isAddress(given)) {
        archive = dir.filePath(QStringLiteral("archivio.mdb"));
        if (!QFileInfo(given).isFile() || !QFile::copy(given, archive)) {
            std::fprintf(stderr, "no such archive: %s\n", qPrintable(given));
            return 1;
        }
    }
    load::Plan plan = load::choose(archive, instances, 2 * instances);
    plan.seconds = seconds;
    const load::Baseline before = load::prepare(plan);
    linef(QStringLiteral("%1 instances for %2 s: %3 shared books, %4 books to lend; load average %5; on ")
              .arg(instances)
              .arg(seconds)
              .arg(plan.books.size())
              .arg(plan.loanBooks.size())
              .arg(loadAverage()) +
          (store::server::isAddress(given) ? store::server::shown(given) : QStringLiteral("a copy of ") + given));
    const QList<load::InstanceLog> logs =
        load::runInstances(plan, QCoreApplication::applicationFilePath(), {QStringLiteral("--istanza")}, dir.path());
    const QString loadAfter = loadAverage();
    qint64 saves = 0, searches = 0, searchBusy = 0, lends = 0, returns = 0, loanRefused = 0, loanBusy = 0;
    QMap<int, qint64> refusals;
    for (int i = 0; i < logs.size(); ++i) {
        const load::InstanceLog& l = logs.at(i);
        QStringList refused;
        for (auto it = l.refusals.cbegin(); it != l.refusals.cend(); ++it) {
            refused << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
            refusals[it.key()] += it.value();
        }
        linef(QStringLiteral("instance %1: %2 saves in %3 s (%4/s), refused %5; %6 searches (%7 busy); %8 lent, "
                             "%9 returned, %10 already out, %11 busy")
                  .arg(i)
                  .arg(l.saves)
                  .arg(l.seconds, 0, 'f', 1)
                  .arg(l.seconds > 0 ? double(l.saves) / l.seconds : 0, 0, 'f', 1)
                  .arg(refused.isEmpty() ? QStringLiteral("none") : refused.join(QStringLiteral(", ")))
                  .arg(l.searches)
                  .arg(l.searchBusy)
                  .arg(l.lends)
                  .arg(l.returns)
                  .arg(l.loanRefusals)
                  .arg(l.loanBusy));
        saves += l.saves;
        searches += l.searches;
        searchBusy += l.searchBusy;
        lends += l.lends;
        returns += l.returns;
        loanRefused += l.loanRefusals;
        loanBusy += l.loanBusy;
    }
    QStringList refused;
    qint64 totalRefused = 0;
    for (auto it = refusals.cbegin(); it != refusals.cend(); ++it) {
        refused << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
        totalRefused += it.value();
    }
    linef(QStringLiteral("all: %1 saves, %2/s; %3 refused (%4); %5 searches (%6/s, %7 busy); %8 lent, %9 returned, "
                         "%10 already out, %11 busy")
              .arg(saves)
              .arg(double(saves) / seconds, 0, 'f', 1)
              .arg(totalRefused)
              .arg(refused.isEmpty() ? QStringLiteral("none") : refused.join(QStringLiteral(", ")))
              .arg(searches)
              .arg(double(searches) / seconds, 0, 'f', 1)
              .arg(searchBusy)
              .arg(lends)
              .arg(returns)
              .arg(loanRefused)
              .arg(loanBusy));
    const load::Verdict v = load::check(plan, before, logs);
    linef(QStringLiteral("check: %1 (%2 books' counters against the logs, links, loans); load average %3 during, %4 "
                         "now")
              .arg(v.ok ? QStringLiteral("PASS, no save lost") : QStringLiteral("FAIL"))
              .arg(v.checkedBooks)
              .arg(loadAfter)
              .arg(loadAverage()));
    for (const QString& p : v.problems) {
        linef(QStringLiteral("   ") + p);
    }
    return v.ok ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: carteo_bench_server <archive.mdb> <address> [runs=7]\n"
                         "       carteo_bench_server --carico <archive or address> [seconds=60] [instances=8]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::string(argv[1]) == "--istanza") {
        QCoreApplication app(argc, argv);
        return load::instanceMain(app.arguments().mid(2));
    }
    if (argc >= 3 && std::string(argv[1]) == "--carico") {
        QCoreApplication app(argc, argv);
        const QStringList a = app.arguments();
        try {
            return loadRun(a.at(2), a.size() > 3 ? a.at(3).toInt() : 60, a.size() > 4 ? a.at(4).toInt() : 8);
        } catch (const store::DbError& e) {
            std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "error: %s\n", e.what());
        }
        return 1;
    }
    if (argc < 3 || argc > 4 || argv[1][0] == '-') {
        return usage();
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    countSizeHintWarnings();
    QApplication app(argc, argv);
    try {
        return windowBench(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                           argc == 4 ? std::max(1, std::atoi(argv[3])) : 7);
    } catch (const store::DbError& e) {
        std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}
