#include "BenchSupport.h"

#include "ArchiveGenerator.h"

#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "store/Collation.h"
#include "store/DbError.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sqlite3.h>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace bench {
namespace {

// The offscreen platform warns once per shown window that it cannot propagate size hints; the
// benchmarks show hundreds of windows, so those lines are counted instead of printed.
int g_sizeHintWarnings = 0;
QtMessageHandler g_previousHandler = nullptr;

void filterMessages(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QLatin1String("does not support propagateSizeHints"))) {
        ++g_sizeHintWarnings;
        return;
    }
    g_previousHandler(type, context, message);
}

int generateInChild(const QString& path)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--generate"), path});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit) {
        return 1;
    }
    return p.exitCode();
}

int generateHere(const QString& path)
{
    try {
        const GeneratedArchive a = generateArchive(path, ArchiveSize{});
        std::printf("generated %lld books, %lld authors, %lld links, %lld publishers in %.2f s\n", a.books, a.authors,
                    a.links, a.publishers, a.seconds);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "generation failed: %s\n", e.what());
        return 1;
    }
}

} // namespace

int pagesReadSince(sqlite3* db)
{
    int current = 0;
    int highest = 0;
    sqlite3_db_status(db, SQLITE_DBSTATUS_CACHE_MISS, &current, &highest, 1);
    return current;
}

Stats stats(std::vector<double> v)
{
    Stats s;
    if (v.empty()) {
        return s;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    s.median = n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    s.p95 = v[std::min(n - 1, std::size_t(std::ceil(0.95 * double(n))) - 1)];
    s.min = v.front();
    s.max = v.back();
    return s;
}

double msSince(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

std::optional<double> peakResidentMb()
{
#ifdef Q_OS_LINUX
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0) {
        return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    }
#endif
    return std::nullopt;
}

std::optional<double> residentMb()
{
#ifdef Q_OS_LINUX
    // The second field of statm: resident pages.
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (statm.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 pages = QString::fromLatin1(statm.readAll()).section(QLatin1Char(' '), 1, 1).toLongLong(&ok);
        if (ok) {
            return double(pages) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
        }
    }
#endif
    return std::nullopt;
}

QString mb(std::optional<double> v)
{
    return v ? QString::number(*v, 'f', 1) + QStringLiteral(" MB") : QStringLiteral("n/a");
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly)) {
        return QStringLiteral("n/a");
    }
    return QString::fromLatin1(f.readLine()).section(QLatin1Char(' '), 0, 2);
}

void line(const char* text)
{
    std::printf("%s\n", text);
}

void linef(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
}

RawDb::RawDb(const QString& path, bool writable)
{
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY,
                        nullptr) != SQLITE_OK) {
        throw std::runtime_error("cannot open " + path.toStdString());
    }
    store::registerCollation(m_db);
}

RawDb::~RawDb()
{
    sqlite3_close(m_db);
}

int RawDb::run(const QString& sqlText, const std::function<void(sqlite3_stmt*)>& row, const QStringList& values) const
{
    sqlite3_stmt* st = nullptr;
    const QByteArray text = sqlText.toUtf8();
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &st, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("prepare: ") + sqlite3_errmsg(m_db));
    }
    for (int i = 0; i < values.size(); ++i) {
        const QByteArray v = values.at(i).toUtf8();
        sqlite3_bind_text(st, i + 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
    }
    int rows = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        ++rows;
        if (row) {
            row(st);
        }
    }
    sqlite3_finalize(st);
    return rows;
}

QString columnText(sqlite3_stmt* st, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, column)),
                             sqlite3_column_bytes(st, column));
}

QString ms(double v)
{
    return QString::number(v, 'f', v < 10 ? 3 : 1) + QStringLiteral(" ms");
}

QString times(double v)
{
    return QString::number(v, 'f', v < 10 ? 2 : 1) + QStringLiteral("x");
}

QString verdict(bool pass)
{
    return pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

void printTable(const std::vector<Row>& rows)
{
    const QStringList head{QStringLiteral("measure"), QStringLiteral("figure"), QStringLiteral("raw SQLite"),
                           QStringLiteral("ratio"),   QStringLiteral("target"), QStringLiteral("result")};
    std::vector<int> width(6);
    for (int c = 0; c < 6; ++c) {
        width[c] = int(head[c].size());
    }
    for (const Row& r : rows) {
        const QString cells[6] = {r.what, r.figure, r.raw, r.ratio, r.target, r.verdict};
        for (int c = 0; c < 6; ++c) {
            width[c] = std::max(width[c], int(cells[c].size()));
        }
    }
    auto print = [&](const QStringList& cells) {
        QString out;
        for (int c = 0; c < 6; ++c) {
            out += (c ? QStringLiteral(" | ") : QString()) + cells[c].leftJustified(width[c]);
        }
        linef(out.trimmed());
    };
    print(head);
    QString rule;
    for (int c = 0; c < 6; ++c) {
        rule += (c ? QStringLiteral("-+-") : QString()) + QString(width[c], QLatin1Char('-'));
    }
    linef(rule);
    for (const Row& r : rows) {
        print({r.what, r.figure, r.raw, r.ratio, r.target, r.verdict});
    }
}

QWidget* findControl(QWidget* window, const char* name)
{
    QWidget* c = window->findChild<QWidget*>(QString::fromLatin1(name));
    if (!c) {
        throw std::runtime_error(std::string("missing control ") + name);
    }
    return c;
}

void discard(std::unique_ptr<FrmBiblio>& w)
{
    w.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void useArchive(const QString& path)
{
    const QFileInfo info(path);
    Modulo1::PercorsoArchivio = info.absoluteFilePath();
    Modulo1::CartellaArchivio = info.absolutePath() + QLatin1Char('/');
    Modulo1::FileArchivio = info.fileName();
}

void countSizeHintWarnings()
{
    if (!g_previousHandler) {
        g_previousHandler = qInstallMessageHandler(filterMessages);
    }
}

int sizeHintWarnings()
{
    return g_sizeHintWarnings;
}

int benchMain(int argc, char** argv, const char* name, const std::function<int(const QString& path)>& run)
{
    // Internal: the child process that builds the archive.
    if (argc == 3 && std::string(argv[1]) == "--generate") {
        QCoreApplication app(argc, argv);
        return generateHere(QString::fromLocal8Bit(argv[2]));
    }
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: %s [archive]\n", name);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    g_previousHandler = qInstallMessageHandler(filterMessages);
    QApplication app(argc, argv);
    try {
        QTemporaryDir dir;
        if (!dir.isValid()) {
            std::fprintf(stderr, "cannot make a temporary folder\n");
            return 1;
        }
        const QString path = dir.filePath(QStringLiteral("archivio.mdb"));
        if (argc == 2) {
            // Benchmarks that save change the archive: they work on a copy, never on the one given.
            const QString given = QString::fromLocal8Bit(argv[1]);
            if (!QFileInfo(given).isFile() || !QFile::copy(given, path)) {
                std::fprintf(stderr, "no such archive: %s\n", argv[1]);
                return 1;
            }
            return run(path);
        }
        line("generating a benchmark archive (child process)...");
        std::fflush(stdout);
        if (const int rc = generateInChild(path); rc != 0) {
            return rc;
        }
        line("");
        return run(path);
    } catch (const store::DbError& e) {
        std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
    }
    return 1;
}

} // namespace bench
