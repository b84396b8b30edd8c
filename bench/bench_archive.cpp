// Times the whole-archive commands on a large archive and compares them with a plain file copy:
//   carteo_bench_archive [archive]
// Without an archive, one of 100,000 books is generated into a temporary folder. The archive
// given is never changed: every operation runs on copies of it.
#include "ArchiveGenerator.h"

#include "store/ArchiveFiles.h"
#include "store/DbError.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRuns = 5;

double medianMs(const std::function<void()>& prepare, const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void report(const char* what, double ms, double baseMs)
{
    std::printf("%-44s %9.1f ms   %5.1fx a file copy\n", what, ms, ms / baseMs);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    try {
        QString source;
        if (argc > 1) {
            source = QString::fromLocal8Bit(argv[1]);
        } else {
            source = dir.filePath(QStringLiteral("generato.mdb"));
            const bench::GeneratedArchive made = bench::generateArchive(source, bench::ArchiveSize{});
            std::printf("generated %lld books, %lld authors, %lld links, %lld publishers in %.1f s\n", made.books,
                        made.authors, made.links, made.publishers, made.seconds);
        }
        const QString work = dir.filePath(QStringLiteral("lavoro.mdb"));
        const QString copy = dir.filePath(QStringLiteral("copia.mdb"));
        const QString program = dir.filePath(QStringLiteral("programma"));
        QDir().mkpath(program);
        std::printf("archive: %s, %.1f MB\n", qPrintable(source), double(QFileInfo(source).size()) / 1048576.0);

        const auto fresh = [&] {
            QFile::remove(work);
            QFile::copy(source, work);
        };
        const auto noCopy = [&] { QFile::remove(copy); };
        const double fileCopy = medianMs(noCopy, [&] { QFile::copy(source, copy); });
        report("plain file copy (base)", fileCopy, fileCopy);
        report("\"Crea Copia\" (online backup) to a new file",
               medianMs(noCopy, [&] { store::files::copyArchive(source, copy); }), fileCopy);
        report("\"Crea Copia\" over an existing archive",
               medianMs([] {}, [&] { store::files::copyArchive(source, copy); }), fileCopy);
        report("repair of a healthy archive (integrity check)",
               medianMs(fresh,
                        [&] {
                            const store::files::ExclusiveUse use(work);
                            store::files::repair(use);
                        }),
               fileCopy);
        report("compaction",
               medianMs(fresh,
                        [&] {
                            const store::files::ExclusiveUse use(work);
                            store::files::compact(use, program);
                        }),
               fileCopy);

        // A damaged archive: one page in every hundred overwritten in its second half.
        const auto damaged = [&] {
            fresh();
            QFile file(work);
            file.open(QIODevice::ReadWrite);
            const qint64 pages = file.size() / 4096;
            const QByteArray garbage(4096, '\x5a');
            for (qint64 p = pages / 2; p < pages; p += 100) {
                file.seek(p * 4096);
                file.write(garbage);
            }
        };
        // What the start-up does before it offers the repair of an archive it cannot open: the
        // same damage, and the first page too.
        const auto unopenable = [&] {
            damaged();
            QFile file(work);
            file.open(QIODevice::ReadWrite);
            file.write(QByteArray(4096, '\x5a'));
        };
        bool salvageable = false;
        report("start-up check of an archive it cannot open",
               medianMs(unopenable, [&] { salvageable = store::files::salvageable(work); }), fileCopy);
        std::printf("  a repair is offered: %s\n", salvageable ? "yes" : "NO");
        store::files::RepairOutcome outcome;
        const double salvage = medianMs(damaged, [&] {
            const store::files::ExclusiveUse use(work);
            outcome = store::files::repair(use);
            QFile::remove(outcome.keptAs);
        });
        report("repair of a damaged archive (salvage)", salvage, fileCopy);
        std::printf("  rows saved: %lld, left out as unreadable: %lld, links to lost rows left out: %lld\n",
                    outcome.rowsSaved, outcome.rowsUnreadable, outcome.linksDropped);
        for (auto it = outcome.leftOut.cbegin(); it != outcome.leftOut.cend(); ++it) {
            std::printf("  %s: %s%lld left out\n", qPrintable(it.key()), it->exact ? "" : "at least ", it->rows);
        }
    } catch (const store::DbError& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), qPrintable(e.description()));
        return 1;
    }
    return 0;
}
