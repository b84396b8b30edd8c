// Tables in files: 100,000 book rows written as CSV and as a workbook, the CSV read back and a
// file of 500,000 short rows read through; times and the process's peak memory after each step.
// Needs the exchange library only (no archive, no windows).
#include "exchange/Sheet.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

#include <sys/resource.h>

namespace {

double peakMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

void report(const char* what, const QElapsedTimer& timer, const QString& file = {})
{
    std::printf("%-44s %8.0f ms   peak %6.1f MB%s\n", what, double(timer.nsecsElapsed()) / 1e6, peakMb(),
                file.isEmpty()
                    ? ""
                    : qPrintable(QStringLiteral("   file %1 MB").arg(QFileInfo(file).size() / 1048576.0, 0, 'f', 1)));
}

exchange::Row bookRow(int i)
{
    using exchange::Cell;
    exchange::Row row;
    row << Cell::ofInteger(i) << Cell::ofText(QStringLiteral("L'ISOLA DELL'AMORE È PERDUTA, VOLUME %1").arg(i))
        << Cell::ofText(QStringLiteral("ROSSI MARIO; BIANCHI LUCÌA"))
        << Cell::ofText(QStringLiteral("EDITORE %1").arg(i % 500))
        << Cell::ofText(QStringLiteral("SC. %1 P. %2").arg(i % 30).arg(i % 7))
        << Cell::ofText(QStringLiteral("ROMANZO")) << Cell::ofText(QStringLiteral("STORIA"))
        << Cell::ofText(QStringLiteral("MILANO")) << Cell::ofInteger(1850 + i % 175)
        << Cell::ofText(QStringLiteral("II")) << Cell::ofDate(QDate(1990, 1, 1).addDays(i % 12000))
        << Cell::ofAmount(i % 100000) << Cell::ofAmount((i % 5000) / 100.0) << Cell() << Cell() << Cell()
        << Cell::ofText(QStringLiteral("SC. 1")) << Cell::ofText(QStringLiteral("BUONO"))
        << Cell::ofText(i % 10 ? QString() : QStringLiteral("Nota su due righe;\ncon \"virgolette\" e €"))
        << Cell::ofText(QStringLiteral("B%1").arg(i)) << Cell::ofInteger(100 + i % 900) << Cell::ofInteger(i % 3600)
        << Cell::ofInteger(i % 2500);
    return row;
}

// The time the writer's finish() took, in milliseconds, for the last file written: a workbook is
// compressed there, in one go, so it is the longest the window waits without being answered.
double g_finishMs = 0;

void write(const QString& file, int rows)
{
    const auto writer = exchange::writerFor(file, QStringLiteral("Libri"));
    QStringList header;
    for (int c = 0; c < 23; ++c) {
        header << QStringLiteral("Colonna %1").arg(c + 1);
    }
    writer->writeHeader(header);
    for (int i = 1; i <= rows; ++i) {
        writer->writeRow(bookRow(i));
    }
    QElapsedTimer finishing;
    finishing.start();
    writer->finish();
    g_finishMs = double(finishing.nsecsElapsed()) / 1e6;
}

qint64 readThrough(const QString& file, double* slowestMs)
{
    const auto reader = exchange::csvReader(file, exchange::detectCsvFile(file));
    exchange::ReadRow row;
    qint64 rows = 0;
    QElapsedTimer each;
    *slowestMs = 0;
    for (;;) {
        each.start();
        if (!reader->next(row)) {
            break;
        }
        *slowestMs = std::max(*slowestMs, double(each.nsecsElapsed()) / 1e6);
        ++rows;
    }
    return rows;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int books = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    std::printf("peak at start: %.1f MB\n", peakMb());

    const QString csv = dir.filePath(QStringLiteral("libri.csv"));
    QElapsedTimer timer;
    timer.start();
    write(csv, books);
    report("CSV written (books)", timer, csv);

    timer.start();
    double slowest = 0;
    const qint64 read = readThrough(csv, &slowest);
    report("CSV read back (detect + every row)", timer);
    std::printf("  rows %lld, slowest row %.2f ms\n", static_cast<long long>(read), slowest);

    const QString xlsx = dir.filePath(QStringLiteral("libri.xlsx"));
    timer.start();
    write(xlsx, books);
    report("workbook written (books)", timer, xlsx);
    std::printf("  of which the closing (compression, in one go) %.0f ms\n", g_finishMs);

    const QString big = dir.filePath(QStringLiteral("grande.csv"));
    {
        QFile out(big);
        if (!out.open(QIODevice::WriteOnly)) {
            return 1;
        }
        QByteArray block;
        for (int i = 1; i <= 500000; ++i) {
            block += QByteArray::number(i) + ";Libro " + QByteArray::number(i) + "\r\n";
            if (block.size() > (1 << 20)) {
                out.write(block);
                block.clear();
            }
        }
        out.write(block);
    }
    timer.start();
    const qint64 many = readThrough(big, &slowest);
    report("500,000 short rows read", timer, big);
    std::printf("  rows %lld, slowest row %.2f ms\n", static_cast<long long>(many), slowest);
    return 0;
}
