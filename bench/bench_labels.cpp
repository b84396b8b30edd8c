// Times the labels of 10,000 books written to a PDF file, barcodes, titles, shelf marks and the
// library's name on each, on the A4 sheets of 24 and of 40 labels:
//   carteo_bench_labels [books]
// The books are made up in memory (the labels' printout reads no archive); the figure is the
// printout and the PDF writer's, on the program's own page of a label run.
#include "BenchSupport.h"

#include "printing/Labels.h"
#include "printing/PdfSurface.h"
#include "printing/Progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr double kTargetSeconds = 10;
constexpr double kTargetMb = 150;

QList<printing::LabelBook> madeUpBooks(int count)
{
    static const QStringList words{
        QStringLiteral("storia"),   QStringLiteral("della"), QStringLiteral("letteratura"), QStringLiteral("italiana"),
        QStringLiteral("racconti"), QStringLiteral("del"),   QStringLiteral("mare"),        QStringLiteral("poesie"),
        QStringLiteral("scelte"),   QStringLiteral("città"), QStringLiteral("perché"),      QStringLiteral("guida")};
    QList<printing::LabelBook> books;
    books.reserve(count);
    for (int i = 0; i < count; ++i) {
        QString title;
        for (int w = 0; w < 3 + i % 9; ++w) {
            title += (w ? QStringLiteral(" ") : QString()) + words.at((i * 7 + w * 5) % words.size());
        }
        books.append(printing::LabelBook{100000 + qint64(i) * 37, title,
                                         QStringLiteral("%1.%2.%3").arg(QChar(u'A' + i % 26)).arg(i % 40).arg(i % 7)});
    }
    return books;
}

struct Measure {
    double seconds = 0;
    qint64 bytes = 0;
    int labels = 0;
};

Measure labelsToPdf(const QString& pdf, const printing::LabelStock& stock, const QList<printing::LabelBook>& books)
{
    printing::LabelOptions options;
    options.libraryName = QStringLiteral("Biblioteca parrocchiale di prova");
    QElapsedTimer timer;
    timer.start();
    {
        printing::PdfSurface surface(pdf, printing::labelPage(stock));
        printing::SilentProgress progress;
        printing::printLabels(surface, progress, stock, options, books);
        surface.endDoc();
        surface.completeRun();
    }
    Measure m;
    m.seconds = msSince(timer) / 1000;
    m.bytes = QFileInfo(pdf).size();
    m.labels = int(books.size());
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    QTemporaryDir folder;
    const QList<printing::LabelBook> books = madeUpBooks(count);

    std::vector<Row> rows;
    bool pass = true;
    for (const int index : {0, 3}) {
        const printing::LabelStock& stock = printing::standardStocks().at(index);
        const Measure m = labelsToPdf(folder.filePath(QStringLiteral("etichette-%1.pdf").arg(index)), stock, books);
        const bool ok = m.seconds <= kTargetSeconds;
        pass = pass && ok;
        rows.push_back(Row{QStringLiteral("%1 labels, %2, to PDF").arg(m.labels).arg(stock.name),
                           QString::number(m.seconds, 'f', 2) + QStringLiteral(" s"),
                           QString::number(double(m.bytes) / (1024 * 1024), 'f', 1) + QStringLiteral(" MB of PDF"),
                           QString(), QStringLiteral("≤ %1 s").arg(kTargetSeconds), verdict(ok)});
    }
    const std::optional<double> peak = peakResidentMb();
    const bool memoryOk = peak && *peak <= kTargetMb;
    pass = pass && memoryOk;
    rows.push_back(Row{QStringLiteral("peak resident memory of the process"), mb(peak), QString(), QString(),
                       QStringLiteral("≤ %1 MB").arg(kTargetMb), verdict(memoryOk)});
    printTable(rows);
    linef(QStringLiteral("load average at the end: %1").arg(loadAverage()));
    return pass ? 0 : 1;
}
