// Times the print runs of the books window on a large archive, to PDF files, and compares them with
// raw SQLite reading the same rows:
//   carteo_bench_printing [archive]
// Without an archive, one of 100,000 books is generated into a temporary folder (by a child
// process, so that the generator's memory does not count towards this process's peak).
//
// Each run goes through the window's print button as a user's would: the options dialog is
// answered with "PDF...", the file name is queued for the save dialog, and the progress window is
// watched from a timer while the run prints.
#include "BenchSupport.h"

#include "app/FileDialogs.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "printing/BookPrintouts.h"
#include "printing/FrmStato.h"
#include "printing/PrintRun.h"
#include "printing/PrintSurface.h"
#include "printing/Progress.h"
#include "store/DataSource.h"
#include "store/PrintReader.h"
#include "store/Recordset.h"
#include "store/Sql.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPageLayout>
#include <QPointer>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

using namespace bench;

constexpr int kListRuns = 3;          // whole catalogue lists to PDF
constexpr int kCardRuns = 3;          // all the cards to PDF
constexpr int kRawRuns = 3;           // raw SQLite reads of every row the printouts read
constexpr int kTickMs = 20;           // the watching timer
constexpr int kInterruptAfterMs = 3000;

constexpr double kListTargetS = 30;
constexpr double kCardsTargetS = 12;
constexpr double kPeakTargetMb = 250;
constexpr double kInterruptTargetMs = 500;

// ---------------------------------------------------------------- messages

// The offscreen platform says, each time the progress window is shown, that it cannot raise a
// window or give it a mask; those lines are counted instead of printed.
int g_platformWarnings = 0;

// "--cards": every card to PDF once and nothing else, for a count of instructions under callgrind
// (see bench/README.md).
bool g_cardsOnly = false;
QtMessageHandler g_nextHandler = nullptr;

void countPlatformWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support raise()")) ||
        message.startsWith(QLatin1String("This plugin does not support setting window masks"))) {
        ++g_platformWarnings;
        return;
    }
    g_nextHandler(type, context, message);
}

// ---------------------------------------------------------------- memory

std::optional<double> statusMb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& l : status.readAll().split('\n')) {
        if (l.startsWith(prefix)) {
            bool ok = false;
            const double kb = l.mid(prefix.size()).trimmed().split(' ').constFirst().toDouble(&ok);
            if (ok) {
                return kb / 1024.0;
            }
        }
    }
    return std::nullopt;
}

// The resident high-water mark (VmHWM).
std::optional<double> highWaterMb()
{
    return statusMb("VmHWM");
}

// Sets the high-water mark back to the memory resident now, so that the next reading is the peak
// of what follows. False where the system does not allow it: the readings are then the process's
// peak so far.
bool resetHighWater()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

// ---------------------------------------------------------------- the PDF

struct PdfFacts {
    bool valid = false;
    int pages = 0;
    qint64 bytes = 0;
    QString problem;
};

PdfFacts pdfFacts(const QString& path)
{
    PdfFacts f;
    f.bytes = QFileInfo(path).size();
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdfinfo"));
    if (tool.isEmpty()) {
        f.problem = QStringLiteral("pdfinfo not found");
        return f;
    }
    QProcess p;
    p.start(tool, {path});
    if (!p.waitForFinished(300000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        f.problem = QStringLiteral("pdfinfo: ") + QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        return f;
    }
    const QRegularExpression pages(QStringLiteral("^Pages:\\s+(\\d+)"), QRegularExpression::MultilineOption);
    const QRegularExpressionMatch m = pages.match(QString::fromLocal8Bit(p.readAllStandardOutput()));
    if (m.hasMatch()) {
        f.valid = true;
        f.pages = m.captured(1).toInt();
    } else {
        f.problem = QStringLiteral("pdfinfo gave no page count");
    }
    return f;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

// ---------------------------------------------------------------- a surface that only counts

// Lays the pages out as the PDF output does (same page, same font measures) and only counts what
// would be drawn: the printouts' own cost without any output.
class CountingSurface : public printing::PrintSurface {
  public:
    explicit CountingSurface(const QPageLayout& layout) : m_layout(layout) {}
    QString deviceName() const override { return QStringLiteral("conteggio"); }

    int documents = 0;
    int pages = 0;
    qint64 texts = 0;
    qint64 characters = 0; // in the texts
    qint64 blanks = 0;     // of those, spaces
    qint64 pictures = 0;

  protected:
    QSizeF printableSize(Orientation orientation) const override
    {
        QPageLayout layout = m_layout;
        layout.setOrientation(orientation == Orientation::Landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        return layout.paintRect(QPageLayout::Point).size() * 20.0;
    }
    void beginDocument(Orientation) override
    {
        ++documents;
        ++pages;
    }
    void beginPage() override { ++pages; }
    void place(const QPointF&, qreal, const QString& text, const QFont&) override
    {
        ++texts;
        characters += text.size();
        blanks += text.count(QLatin1Char(' '));
    }
    void placePicture(const QImage&, const QRectF&) override { ++pictures; }
    void placeRect(const QRectF&) override {}
    void placeOutline(const QRectF&, qreal) override {}
    void placeTurned(const QPointF&, qreal, const QString& text, const QFont&) override
    {
        ++texts;
        characters += text.size();
    }
    QPointF paperCornerOf(Orientation) const override { return {}; }
    void finishDocument() override {}
    void discardDocument() noexcept override {}

  private:
    QPageLayout m_layout;
};

// The window's title list as its print buttons go through it.
printing::TitleSource listedTitles(FrmBiblio& w)
{
    store::Recordset* rs = w.Data6->recordset();
    const int column = rs->columnIndex(QStringLiteral("id"));
    return printing::TitleSource{rs->recordCount(),
                                 [rs, column](int row) { return rs->valueAt(row, column).toLongLong(); }};
}

// What the print runs read, through the program's reader, with nothing laid out: book, authors,
// publisher for every title of the list.
struct ReadCounts {
    qint64 books = 0;
    qint64 authorRows = 0;
    qint64 publishers = 0;
};

// The keys of the title list alone, as the runs take them from the window's list.
double titleKeysMs(FrmBiblio& w)
{
    QElapsedTimer t;
    t.start();
    const printing::TitleSource titles = listedTitles(w);
    qint64 sum = 0;
    for (int row = 0; row < titles.count; ++row) {
        sum += titles.id(row);
    }
    const double elapsed = msSince(t);
    if (sum == 0 && titles.count > 0) {
        throw std::runtime_error("the title list has no keys");
    }
    return elapsed;
}

double readerOnlyMs(FrmBiblio& w, ReadCounts* counts)
{
    QElapsedTimer t;
    t.start();
    store::BookPrintReader reader(w.archive());
    const printing::TitleSource titles = listedTitles(w);
    ReadCounts c;
    for (int row = 0; row < titles.count; ++row) {
        if (const std::optional<store::BookPrintReader::Book> book = reader.read(titles.id(row))) {
            ++c.books;
            c.authorRows += book->authors.size();
            if (book->publisher) {
                ++c.publishers;
            }
        }
    }
    *counts = c;
    return msSince(t);
}

// One copy of a printout on the counting surface, set up as the run sets up its surface.
double layoutOnlyMs(FrmBiblio& w, int index, CountingSurface& surface)
{
    QElapsedTimer t;
    t.start();
    surface.setFontName(QStringLiteral("Arial"));
    surface.setFontBold(false);
    surface.setFontSize(8);
    surface.setOrientation(index == 1 ? printing::PrintSurface::Orientation::Landscape
                                      : printing::PrintSurface::Orientation::Portrait);
    printing::PrintRequest request;
    request.content = [&w, index](printing::PrintSurface& s, printing::Progress& progress) {
        store::BookPrintReader reader(w.archive());
        if (index == 1) {
            printing::printCatalogue(s, progress, reader, listedTitles(w));
        } else {
            printing::printBookCards(s, progress, reader, listedTitles(w));
        }
    };
    printing::SilentProgress silent;
    printing::printCopy(surface, request, silent);
    return msSince(t);
}

// ---------------------------------------------------------------- raw SQLite

struct RawRead {
    double listMs = 0;  // the title list in title order
    double booksMs = 0; // then, for each title: the row, the authors, the publisher's name
    qint64 titles = 0;
    qint64 books = 0;
    qint64 authorRows = 0;
    qint64 publishers = 0;
};

void touchColumns(sqlite3_stmt* st)
{
    for (int c = 0, n = sqlite3_column_count(st); c < n; ++c) {
        switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
            (void)sqlite3_column_int64(st, c);
            break;
        case SQLITE_FLOAT:
            (void)sqlite3_column_double(st, c);
            break;
        case SQLITE_NULL:
            break;
        default:
            (void)sqlite3_column_text(st, c);
            (void)sqlite3_column_bytes(st, c);
        }
    }
}

sqlite3_stmt* prepare(sqlite3* db, const QString& text)
{
    sqlite3_stmt* st = nullptr;
    const QByteArray utf8 = text.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &st, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("prepare: ") + sqlite3_errmsg(db));
    }
    return st;
}

// A fresh connection; the title list stepped through in the window's order, then each book's row,
// authors and publisher through statements prepared once.
RawRead rawRead(const QString& path)
{
    RawRead r;
    QElapsedTimer t;
    t.start();
    const RawDb db(path);
    std::vector<qint64> ids;
    {
        sqlite3_stmt* st = prepare(db.handle(), sql::translate(sql::AllBooks));
        int idColumn = 0;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            if (QString::fromUtf8(sqlite3_column_name(st, c)).compare(QLatin1String("id"), Qt::CaseInsensitive) == 0) {
                idColumn = c;
            }
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            touchColumns(st);
            ids.push_back(sqlite3_column_int64(st, idColumn));
        }
        sqlite3_finalize(st);
    }
    r.listMs = msSince(t);
    r.titles = qint64(ids.size());
    t.restart();
    sqlite3_stmt* book = prepare(db.handle(), QStringLiteral("select * from biblio where id=?"));
    sqlite3_stmt* authors = prepare(db.handle(), sql::AuthorsOfBookPrefix + QStringLiteral("?"));
    sqlite3_stmt* publisher = prepare(db.handle(), QStringLiteral("select nome from editori where id_editore=?"));
    int publisherColumn = -1;
    for (int c = 0; c < sqlite3_column_count(book); ++c) {
        if (QString::fromUtf8(sqlite3_column_name(book, c)).compare(QLatin1String("id_edizione"), Qt::CaseInsensitive) ==
            0) {
            publisherColumn = c;
        }
    }
    for (const qint64 id : ids) {
        sqlite3_bind_int64(book, 1, id);
        if (sqlite3_step(book) == SQLITE_ROW) {
            ++r.books;
            touchColumns(book);
            sqlite3_bind_int64(authors, 1, id);
            while (sqlite3_step(authors) == SQLITE_ROW) {
                ++r.authorRows;
                (void)sqlite3_column_text(authors, 2);
            }
            sqlite3_reset(authors);
            if (publisherColumn >= 0 && sqlite3_column_type(book, publisherColumn) != SQLITE_NULL) {
                sqlite3_bind_value(publisher, 1, sqlite3_column_value(book, publisherColumn));
                if (sqlite3_step(publisher) == SQLITE_ROW) {
                    ++r.publishers;
                    (void)sqlite3_column_text(publisher, 0);
                }
                sqlite3_reset(publisher);
            }
        }
        sqlite3_reset(book);
    }
    sqlite3_finalize(book);
    sqlite3_finalize(authors);
    sqlite3_finalize(publisher);
    r.booksMs = msSince(t);
    return r;
}

// ---------------------------------------------------------------- one run through the window

struct RunResult {
    double totalMs = 0;     // the button's handler, from the call to its return
    double runMs = 0;       // from the dialog's answer to the return
    double firstTickMs = 0; // from the answer to the first tick with the progress window shown
    double tailMs = 0;      // from the last tick to the return (the document's end, the window closed)
    Stats gaps;             // between ticks while the progress window is shown
    double gapP99 = 0;
    int ticks = 0;
    int labelChanges = 0;
    bool labelForward = true; // "n di N": n never went back
    QString firstLabel;
    QString lastLabel;
    int lastDone = 0;
    int total = 0;
    std::optional<double> rssBefore;
    std::optional<double> rssMaxSeen; // sampled about every half second during the run
    std::optional<double> peak;       // VmHWM at the end (since the reset before the run)
    bool peakSinceReset = false;
    bool interruptClicked = false;
    double clickToReturnMs = 0;
    PdfFacts pdf;
    bool answered = false;
};

double percentile(std::vector<double> v, double p)
{
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(std::ceil(p * double(v.size()))) - 1)];
}

FrmStato* shownProgressWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* s = qobject_cast<FrmStato*>(w); s && s->isVisible()) {
            return s;
        }
    }
    return nullptr;
}

// Presses the window's print button `index`, answers the options dialog with "PDF..." and the
// save dialog with `pdfPath`, and watches the progress window from a timer; with `interruptAfterMs`
// it presses "Interrompi" that long after the dialog's answer.
RunResult printThroughWindow(FrmBiblio& w, int index, const QString& pdfPath, int interruptAfterMs = 0)
{
    RunResult r;
    QFile::remove(pdfPath);
    dialogs::clearQueuedChoices();
    dialogs::queueChoice(pdfPath);
    QCoreApplication::processEvents();
    r.rssBefore = residentMb();
    r.peakSinceReset = resetHighWater();

    QElapsedTimer clock;
    double answeredAt = -1;
    double clickedAt = -1;
    std::vector<double> tickTimes;
    QString previousLabel;
    int previousDone = -1;

    QTimer answer;
    answer.setInterval(0);
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal->objectName() != QLatin1String("frmstampa") || !modal->isVisible()) {
            return;
        }
        answer.stop();
        if (auto* pdf = modal->findChild<QPushButton*>(QStringLiteral("Command5"))) {
            answeredAt = msSince(clock);
            pdf->click();
        } else {
            // Nothing printed: the run gives up and the report says the dialog was not answered.
            modal->close();
        }
    });

    QTimer interrupt;
    interrupt.setSingleShot(true);
    interrupt.setTimerType(Qt::PreciseTimer);
    QObject::connect(&interrupt, &QTimer::timeout, &interrupt, [&] {
        if (FrmStato* s = shownProgressWindow()) {
            clickedAt = msSince(clock);
            s->Command1->click();
        }
    });

    QTimer tick;
    tick.setInterval(kTickMs);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        FrmStato* s = shownProgressWindow();
        if (!s) {
            return;
        }
        const double now = msSince(clock);
        if (tickTimes.empty()) {
            r.firstTickMs = now - answeredAt;
            if (interruptAfterMs > 0) {
                interrupt.start(std::max(0, int(answeredAt + interruptAfterMs - now)));
            }
        }
        tickTimes.push_back(now);
        const QString label = s->Label2->text();
        if (r.firstLabel.isEmpty()) {
            r.firstLabel = label;
        }
        if (label != previousLabel) {
            if (!previousLabel.isEmpty()) {
                ++r.labelChanges;
            }
            previousLabel = label;
            const QStringList shown = label.split(QStringLiteral(" di "));
            const int done = shown.value(0).toInt();
            if (done < previousDone) {
                r.labelForward = false;
            }
            previousDone = done;
            r.lastDone = done;
            r.total = shown.value(1).section(QLatin1Char(' '), 0, 0).toInt();
        }
        r.lastLabel = label;
        if (tickTimes.size() % 25 == 1) {
            if (const std::optional<double> rss = residentMb()) {
                r.rssMaxSeen = std::max(r.rssMaxSeen.value_or(0), *rss);
            }
        }
    });

    clock.start();
    answer.start();
    tick.start();
    w.Command1_Click(index);
    const double returnedAt = msSince(clock);
    tick.stop();
    answer.stop();
    interrupt.stop();

    r.answered = answeredAt >= 0;
    r.totalMs = returnedAt;
    r.runMs = returnedAt - std::max(0.0, answeredAt);
    r.peak = highWaterMb();
    r.ticks = int(tickTimes.size());
    if (!tickTimes.empty()) {
        r.tailMs = returnedAt - tickTimes.back();
    }
    std::vector<double> gaps;
    for (std::size_t i = 1; i < tickTimes.size(); ++i) {
        gaps.push_back(tickTimes[i] - tickTimes[i - 1]);
    }
    r.gaps = stats(gaps);
    r.gapP99 = percentile(gaps, 0.99);
    r.interruptClicked = clickedAt >= 0;
    if (r.interruptClicked) {
        r.clickToReturnMs = returnedAt - clickedAt;
    }
    r.pdf = pdfFacts(pdfPath);
    return r;
}

void describe(const char* tag, const RunResult& r)
{
    linef(QStringLiteral("%1 handler %2 s (run after the dialog %3 s); progress window first answered %4 ms after "
                         "the dialog; %5 ticks of %6 ms")
              .arg(QLatin1String(tag))
              .arg(r.totalMs / 1000, 0, 'f', 2)
              .arg(r.runMs / 1000, 0, 'f', 2)
              .arg(r.firstTickMs, 0, 'f', 0)
              .arg(r.ticks)
              .arg(kTickMs));
    linef(QStringLiteral("   gaps between ticks (ms): median %1, p99 %2, max %3; after the last tick until the "
                         "return %4 ms")
              .arg(r.gaps.median, 0, 'f', 1)
              .arg(r.gapP99, 0, 'f', 1)
              .arg(r.gaps.max, 0, 'f', 1)
              .arg(r.tailMs, 0, 'f', 0));
    linef(QStringLiteral("   progress: %1 changes of Label2, from \"%2\" to \"%3\"%4")
              .arg(r.labelChanges)
              .arg(r.firstLabel, r.lastLabel)
              .arg(r.labelForward ? QString() : QStringLiteral(" (WENT BACK)")));
    linef(QStringLiteral("   memory: resident %1 before, at most %2 seen during the run, peak %3 (%4)")
              .arg(mb(r.rssBefore), mb(r.rssMaxSeen), mb(r.peak))
              .arg(r.peakSinceReset ? QStringLiteral("VmHWM since the run began")
                                    : QStringLiteral("VmHWM of the process")));
    linef(QStringLiteral("   PDF: %1, %2 pages%3")
              .arg(megabytes(r.pdf.bytes))
              .arg(r.pdf.pages)
              .arg(r.pdf.valid ? QString() : QStringLiteral(" (NOT VALID: ") + r.pdf.problem + QLatin1Char(')')));
    if (!r.answered) {
        line("   WARNING: the options dialog was never answered with \"PDF...\"");
    }
}

// ---------------------------------------------------------------- the benchmark

int runBenchmark(const QString& path)
{
    g_nextHandler = qInstallMessageHandler(countPlatformWarnings);
    const QFileInfo info(path);
    useArchive(path);
    QTemporaryDir programFolder;
    if (!programFolder.isValid()) {
        throw std::runtime_error("cannot make a temporary program folder");
    }
    // No logo.jpg and no photos there: the cards print without pictures.
    paths::setProgramFolderForTests(programFolder.path());
    const QString pdfFolder = info.absolutePath();

    qint64 books = 0, authors = 0, links = 0, publishers = 0;
    {
        const RawDb raw(path);
        raw.run(QStringLiteral("select (select count(*) from biblio), (select count(*) from autore), "
                               "(select count(*) from autbiblio), (select count(*) from editori)"),
                [&](sqlite3_stmt* st) {
                    books = sqlite3_column_int64(st, 0);
                    authors = sqlite3_column_int64(st, 1);
                    links = sqlite3_column_int64(st, 2);
                    publishers = sqlite3_column_int64(st, 3);
                });
    }
    linef(QStringLiteral("archive: %1 (%2 books, %3 authors, %4 links, %5 publishers, %6 MB)")
              .arg(info.absoluteFilePath())
              .arg(books)
              .arg(authors)
              .arg(links)
              .arg(publishers)
              .arg(double(info.size()) / (1024.0 * 1024.0), 0, 'f', 1));
    linef(QStringLiteral("Qt %1, SQLite %2, platform %3, %4 cores, load average %5")
              .arg(QString::fromLatin1(qVersion()), QString::fromLatin1(sqlite3_libversion()),
                   QGuiApplication::platformName())
              .arg(QThread::idealThreadCount())
              .arg(loadAverage()));
    linef(QStringLiteral("resident memory before the window: %1").arg(mb(residentMb())));

    auto w = std::make_unique<FrmBiblio>();
    w->Form_Load();
    w->show();
    QCoreApplication::processEvents();
    const std::optional<double> windowRss = residentMb();
    const std::optional<double> windowPeak = highWaterMb();
    linef(QStringLiteral("books window open: resident %1, peak so far %2; %3 titles listed")
              .arg(mb(windowRss), mb(windowPeak))
              .arg(listedTitles(*w).count));
    line("");

    if (g_cardsOnly) {
        const QString cardsPdf = QDir(pdfFolder).filePath(QStringLiteral("schede.pdf"));
        const RunResult once = printThroughWindow(*w, 0, cardsPdf);
        describe("all the cards, once:", once);
        linef(QStringLiteral("   load average %1").arg(loadAverage()));
        CountingSurface layout(printing::currentPrinter().pageLayout());
        const double layoutMs = layoutOnlyMs(*w, 0, layout);
        linef(QStringLiteral("   reader + card layout, no output: %1 s, %2 pages, %3 texts, %4 characters (%5 spaces)")
                  .arg(layoutMs / 1000, 0, 'f', 2)
                  .arg(layout.pages)
                  .arg(layout.texts)
                  .arg(layout.characters)
                  .arg(layout.blanks));
        QFile::remove(cardsPdf);
        discard(w);
        paths::setProgramFolderForTests(QString());
        qInstallMessageHandler(g_nextHandler);
        return once.answered && once.pdf.valid ? 0 : 1;
    }

    // 1. The catalogue list to PDF.
    const QString listPdf = QDir(pdfFolder).filePath(QStringLiteral("elenco.pdf"));
    std::vector<RunResult> lists;
    for (int i = 0; i < kListRuns; ++i) {
        lists.push_back(printThroughWindow(*w, 1, listPdf));
        describe(qPrintable(QStringLiteral("1. catalogue list, run %1/%2:").arg(i + 1).arg(kListRuns)), lists.back());
        linef(QStringLiteral("   load average %1").arg(loadAverage()));
    }
    const PdfFacts listPdfFacts = lists.front().pdf;
    std::vector<double> listTimes, listRunTimes;
    double listPeak = 0;
    double listGapMax = 0;
    double listGapP99 = 0;
    bool listProgress = true;
    for (const RunResult& r : lists) {
        listTimes.push_back(r.totalMs);
        listRunTimes.push_back(r.runMs);
        listPeak = std::max(listPeak, r.peak.value_or(0));
        listGapMax = std::max(listGapMax, r.gaps.max);
        listGapP99 = std::max(listGapP99, r.gapP99);
        listProgress = listProgress && r.labelChanges > 1 && r.labelForward && r.total == listedTitles(*w).count &&
                       r.pdf.valid && r.pdf.pages == listPdfFacts.pages;
    }
    const Stats listStats = stats(listTimes);
    QFile::remove(listPdf);
    line("");

    // 2. "Interrompi" after 3 s.
    const QString cutPdf = QDir(pdfFolder).filePath(QStringLiteral("elenco-interrotto.pdf"));
    const RunResult cut = printThroughWindow(*w, 1, cutPdf, kInterruptAfterMs);
    describe("2. catalogue list interrupted:", cut);
    linef(QStringLiteral("   \"Interrompi\" clicked %1; from the click to the handler's return %2 ms; the PDF has %3 of "
                         "%4 pages")
              .arg(cut.interruptClicked ? QStringLiteral("%1 ms after the dialog").arg(cut.runMs - cut.clickToReturnMs, 0, 'f', 0)
                                        : QStringLiteral("NEVER (the run ended first)"))
              .arg(cut.clickToReturnMs, 0, 'f', 1)
              .arg(cut.pdf.pages)
              .arg(listPdfFacts.pages));
    const bool cutValid = cut.interruptClicked && cut.pdf.valid && cut.pdf.pages > 0 && cut.pdf.pages < listPdfFacts.pages;
    QFile::remove(cutPdf);
    line("");

    // 3. Every card to PDF, "Tutti" left as the dialog chooses it.
    const QString cardsPdf = QDir(pdfFolder).filePath(QStringLiteral("schede.pdf"));
    std::vector<RunResult> cards;
    for (int i = 0; i < kCardRuns; ++i) {
        cards.push_back(printThroughWindow(*w, 0, cardsPdf));
        describe(qPrintable(QStringLiteral("3. all the cards, run %1/%2 (StampaTutti %3):")
                                .arg(i + 1)
                                .arg(kCardRuns)
                                .arg(Modulo1::StampaTutti ? QStringLiteral("true") : QStringLiteral("false"))),
                 cards.back());
        linef(QStringLiteral("   load average %1").arg(loadAverage()));
    }
    std::vector<double> cardTimes, cardRunTimes;
    double cardPeak = 0;
    bool cardProgress = true;
    for (const RunResult& r : cards) {
        cardTimes.push_back(r.totalMs);
        cardRunTimes.push_back(r.runMs);
        cardPeak = std::max(cardPeak, r.peak.value_or(0));
        cardProgress = cardProgress && r.labelChanges > 1 && r.labelForward && r.total == listedTitles(*w).count &&
                       r.pdf.valid;
    }
    const Stats cardStats = stats(cardTimes);
    const PdfFacts cardPdfFacts = cards.front().pdf;
    QFile::remove(cardsPdf);
    line("");

    // Where the time goes: the program's reads alone, then the reads and the layout without output.
    const double keysMs = titleKeysMs(*w);
    ReadCounts readCounts;
    const double readerMs = readerOnlyMs(*w, &readCounts);
    CountingSurface listLayout(printing::currentPrinter().pageLayout());
    const double listLayoutMs = layoutOnlyMs(*w, 1, listLayout);
    CountingSurface cardLayout(printing::currentPrinter().pageLayout());
    const double cardLayoutMs = layoutOnlyMs(*w, 0, cardLayout);
    linef(QStringLiteral("phases: the title list's keys alone %1 ms; the program's reader alone (those keys, then book, "
                         "authors, publisher of every title) %2 s: %3 books, %4 author rows, %5 publishers found")
              .arg(keysMs, 0, 'f', 1)
              .arg(readerMs / 1000, 0, 'f', 2)
              .arg(readCounts.books)
              .arg(readCounts.authorRows)
              .arg(readCounts.publishers));
    linef(QStringLiteral("   reader + list layout, no output: %1 s, %2 pages, %3 texts (%5 characters, %6 of them "
                         "spaces); the PDF run adds %4 s")
              .arg(listLayoutMs / 1000, 0, 'f', 2)
              .arg(listLayout.pages)
              .arg(listLayout.texts)
              .arg((stats(listRunTimes).median - listLayoutMs) / 1000, 0, 'f', 2)
              .arg(listLayout.characters)
              .arg(listLayout.blanks));
    linef(QStringLiteral("   reader + card layout, no output: %1 s, %2 pages, %3 texts (%6 characters, %7 of them "
                         "spaces), %4 pictures; the PDF run adds %5 s")
              .arg(cardLayoutMs / 1000, 0, 'f', 2)
              .arg(cardLayout.pages)
              .arg(cardLayout.texts)
              .arg(cardLayout.pictures)
              .arg((stats(cardRunTimes).median - cardLayoutMs) / 1000, 0, 'f', 2)
              .arg(cardLayout.characters)
              .arg(cardLayout.blanks));
    const bool pagesAgree = listLayout.pages == listPdfFacts.pages && cardLayout.pages == cardPdfFacts.pages;
    if (!pagesAgree) {
        linef(QStringLiteral("   WARNING: the PDF files' pages (%1, %2) differ from the layout's (%3, %4)")
                  .arg(listPdfFacts.pages)
                  .arg(cardPdfFacts.pages)
                  .arg(listLayout.pages)
                  .arg(cardLayout.pages));
    }

    // 4. Raw SQLite reading the same rows.
    std::vector<double> rawTotal, rawList, rawBooks;
    RawRead rr;
    for (int i = 0; i < kRawRuns; ++i) {
        rr = rawRead(path);
        rawTotal.push_back(rr.listMs + rr.booksMs);
        rawList.push_back(rr.listMs);
        rawBooks.push_back(rr.booksMs);
    }
    const Stats rawStats = stats(rawTotal);
    linef(QStringLiteral("4. raw C API, %1 runs (s): median %2 (title list %3, rows + authors + publishers %4); "
                         "%5 titles, %6 books, %7 author rows, %8 publishers found")
              .arg(kRawRuns)
              .arg(rawStats.median / 1000, 0, 'f', 3)
              .arg(stats(rawList).median / 1000, 0, 'f', 3)
              .arg(stats(rawBooks).median / 1000, 0, 'f', 3)
              .arg(rr.titles)
              .arg(rr.books)
              .arg(rr.authorRows)
              .arg(rr.publishers));
    const bool readsAgree = rr.books == readCounts.books && rr.authorRows == readCounts.authorRows &&
                            rr.publishers == readCounts.publishers;
    if (!readsAgree) {
        line("   WARNING: the program's reader and raw SQLite read different rows");
    }
    discard(w);
    paths::setProgramFolderForTests(QString());
    line("");

    const auto seconds = [](double msValue) { return QString::number(msValue / 1000, 'f', 2) + QStringLiteral(" s"); };
    const QString raw = seconds(rawStats.median);
    std::vector<Row> rows;
    rows.push_back({QStringLiteral("1. catalogue list to PDF (median of %1)").arg(kListRuns), seconds(listStats.median),
                    raw, times(listStats.median / rawStats.median), QStringLiteral("<= %1 s").arg(kListTargetS),
                    verdict(listStats.median <= kListTargetS * 1000 && listProgress)});
    rows.push_back({QStringLiteral("1. peak memory during the list"), mb(listPeak), QString(), QString(),
                    QStringLiteral("<= %1 MB").arg(kPeakTargetMb), verdict(listPeak > 0 && listPeak <= kPeakTargetMb)});
    rows.push_back({QStringLiteral("1. list PDF"),
                    QStringLiteral("%1 pages, %2").arg(listPdfFacts.pages).arg(megabytes(listPdfFacts.bytes)), QString(),
                    QString(), QStringLiteral("valid"), verdict(listPdfFacts.valid && pagesAgree)});
    rows.push_back({QStringLiteral("1. gap between 20 ms ticks (max / p99)"),
                    QStringLiteral("%1 / %2").arg(ms(listGapMax), ms(listGapP99)), QString(), QString(),
                    QStringLiteral("(information)"), QString()});
    rows.push_back({QStringLiteral("1. progress shown moving"), listProgress ? QStringLiteral("yes") : QStringLiteral("no"),
                    QString(), QString(), QStringLiteral("yes"), verdict(listProgress)});
    rows.push_back({QStringLiteral("2. Interrompi: click to return"), ms(cut.clickToReturnMs), QString(), QString(),
                    QStringLiteral("<= %1 ms").arg(kInterruptTargetMs),
                    verdict(cutValid && cut.clickToReturnMs <= kInterruptTargetMs)});
    rows.push_back({QStringLiteral("2. interrupted PDF"),
                    QStringLiteral("%1 of %2 pages, %3").arg(cut.pdf.pages).arg(listPdfFacts.pages).arg(megabytes(cut.pdf.bytes)),
                    QString(), QString(), QStringLiteral("valid, shorter"), verdict(cutValid)});
    rows.push_back({QStringLiteral("3. all cards to PDF (median of %1)").arg(kCardRuns), seconds(cardStats.median), raw,
                    times(cardStats.median / rawStats.median), QStringLiteral("<= %1 s").arg(kCardsTargetS),
                    verdict(cardStats.median <= kCardsTargetS * 1000 && cardProgress)});
    rows.push_back({QStringLiteral("3. peak memory during the cards"), mb(cardPeak), QString(), QString(),
                    QStringLiteral("<= %1 MB (the list's)").arg(kPeakTargetMb),
                    verdict(cardPeak > 0 && cardPeak <= kPeakTargetMb)});
    rows.push_back({QStringLiteral("3. cards PDF"),
                    QStringLiteral("%1 pages, %2").arg(cardPdfFacts.pages).arg(megabytes(cardPdfFacts.bytes)), QString(),
                    QString(), QStringLiteral("valid"), verdict(cardPdfFacts.valid && pagesAgree)});
    rows.push_back({QStringLiteral("phase: reader alone"), seconds(readerMs), raw, times(readerMs / rawStats.median),
                    QStringLiteral("(information)"), readsAgree ? QString() : QStringLiteral("rows differ")});
    rows.push_back({QStringLiteral("phase: reader + list layout, no output"), seconds(listLayoutMs), raw,
                    times(listLayoutMs / rawStats.median), QStringLiteral("(information)"), QString()});
    rows.push_back({QStringLiteral("phase: reader + card layout, no output"), seconds(cardLayoutMs), raw,
                    times(cardLayoutMs / rawStats.median), QStringLiteral("(information)"), QString()});
    printTable(rows);
    linef(QStringLiteral("peak resident memory of the process (the window's, then each run's): %1; load average at "
                         "the end: %2")
              .arg(mb(std::max({windowPeak.value_or(0), listPeak, cut.peak.value_or(0), cardPeak})), loadAverage()));
    if (sizeHintWarnings() || g_platformWarnings) {
        linef(QStringLiteral("(%1 harmless \"propagateSizeHints\", \"raise()\" and \"window masks\" warnings of the "
                             "offscreen platform not shown)")
                  .arg(sizeHintWarnings() + g_platformWarnings));
    }
    qInstallMessageHandler(g_nextHandler);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args(argv, argv + argc);
    const auto cards = std::find_if(args.begin() + 1, args.end(),
                                    [](const char* a) { return std::string(a) == "--cards"; });
    if (cards != args.end()) {
        g_cardsOnly = true;
        args.erase(cards);
    }
    const int count = int(args.size());
    args.push_back(nullptr);
    return bench::benchMain(count, args.data(), "carteo_bench_printing", runBenchmark);
}
