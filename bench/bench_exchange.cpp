// Times export and import of a large catalogue, each stage in a child process of its own so that
// its peak memory is its own, beside raw SQLite loops doing the same reads and inserts:
//   carteo_bench_exchange [archive]
// Without an archive, one of 100,000 books is generated into a temporary folder.
#include "BenchSupport.h"

#include "exchange/Transfer.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Transfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sqlite3.h>

#include <cstdio>
#include <string>

namespace {

using namespace bench;

constexpr double kPreviewTargetMs = 5000;

// ---- The stages, each run in a child --------------------------------------------------------

void report(double elapsed)
{
    std::printf("risultato %.1f %s\n", elapsed, qPrintable(mb(peakResidentMb())));
    std::fflush(stdout);
}

int exportStage(const QString& archivePath, const QString& file)
{
    const auto archive = store::Archive::open(archivePath);
    QElapsedTimer t;
    t.start();
    exchange::exportBooks(*archive, file, std::nullopt);
    report(msSince(t));
    return 0;
}

exchange::Mapping mappingOf(exchange::SheetReader& reader)
{
    exchange::ReadRow header;
    reader.next(header);
    return exchange::guessMapping(header.fields);
}

int previewStage(const QString& archivePath, const QString& file)
{
    const auto archive = store::Archive::open(archivePath);
    QElapsedTimer t;
    t.start();
    const auto reader = exchange::openSource(exchange::detectSource(file));
    const exchange::Preview preview = exchange::preview(*archive, *reader, mappingOf(*reader));
    const double elapsed = msSince(t);
    std::printf("anteprima %s\n", qPrintable(preview.summary()));
    report(elapsed);
    return 0;
}

int importStage(const QString& archivePath, const QString& file)
{
    const auto archive = store::Archive::open(archivePath);
    QElapsedTimer t;
    t.start();
    const auto reader = exchange::openSource(exchange::detectSource(file));
    exchange::ImportOptions options;
    options.copyFolder = QFileInfo(archivePath).absolutePath() + QStringLiteral("/copie");
    const exchange::ImportResult result = exchange::importRows(*archive, *reader, mappingOf(*reader), options);
    const double elapsed = msSince(t);
    std::printf("importati %lld\n", static_cast<long long>(result.added));
    report(elapsed);
    return 0;
}

// The same reads as export, written as plain text with no quoting, no typing, no spreadsheet rules.
int rawExportStage(const QString& archivePath, const QString& file)
{
    QElapsedTimer t;
    t.start();
    const RawDb db(archivePath);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        return 1;
    }
    sqlite3_stmt* authors = nullptr;
    sqlite3_prepare_v2(db.handle(),
                       "SELECT a.nome FROM autbiblio l JOIN autore a ON a.ID_autore = l.ID_autore WHERE l.ID_biblio = ?1 "
                       "ORDER BY l.rowid",
                       -1, &authors, nullptr);
    db.run(QStringLiteral("SELECT b.*, e.nome FROM biblio b LEFT JOIN editori e ON e.ID_Editore = b.id_edizione ORDER "
                          "BY b.titolo COLLATE ITALIANO, b.id"),
           [&](sqlite3_stmt* st) {
               QByteArray line;
               const int columns = sqlite3_column_count(st);
               for (int i = 0; i < columns; ++i) {
                   line += reinterpret_cast<const char*>(sqlite3_column_text(st, i) ? sqlite3_column_text(st, i) : (const unsigned char*)"");
                   line += ';';
               }
               sqlite3_reset(authors);
               sqlite3_bind_int64(authors, 1, sqlite3_column_int64(st, 0));
               while (sqlite3_step(authors) == SQLITE_ROW) {
                   line += reinterpret_cast<const char*>(sqlite3_column_text(authors, 0));
                   line += ',';
               }
               line += '\n';
               out.write(line);
           });
    sqlite3_finalize(authors);
    out.close();
    report(msSince(t));
    return 0;
}

// The same inserts as import (books, their authors and publishers found or added, the links), from
// the rows of the source archive rather than from a file: SQLite's own cost of what import writes.
int rawImportStage(const QString& source, const QString& target)
{
    QList<store::transfer::Book> books;
    {
        const auto archive = store::Archive::open(source);
        store::transfer::forEachBook(*archive, nullptr, [&books](const store::transfer::Book& book) {
            books << book;
            return true;
        });
    }
    QElapsedTimer t;
    t.start();
    const RawDb db(target, true);
    sqlite3* h = db.handle();
    sqlite3_exec(h, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    const auto prepare = [h](const char* sql) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(h, sql, -1, &st, nullptr);
        return st;
    };
    sqlite3_stmt* findAuthor = prepare("SELECT ID_autore FROM autore WHERE nome = ?1 COLLATE ITALIANO LIMIT 1");
    sqlite3_stmt* addAuthor = prepare("INSERT INTO autore (nome) VALUES (?1)");
    sqlite3_stmt* findPublisher = prepare("SELECT ID_Editore FROM editori WHERE nome = ?1 COLLATE ITALIANO LIMIT 1");
    sqlite3_stmt* addPublisher = prepare("INSERT INTO editori (nome) VALUES (?1)");
    const QStringList& columns = store::transfer::bookColumns();
    QByteArray insert = "INSERT INTO biblio (id, " + columns.join(QStringLiteral(", ")).toUtf8() + ", id_edizione) VALUES (?1";
    for (int i = 0; i <= columns.size(); ++i) {
        insert += ", ?" + QByteArray::number(i + 2);
    }
    insert += ")";
    sqlite3_stmt* addBook = prepare(insert.constData());
    sqlite3_stmt* link = prepare("INSERT OR IGNORE INTO autbiblio (ID_biblio, ID_autore) VALUES (?1, ?2)");
    const auto idOf = [](sqlite3_stmt* find, sqlite3_stmt* add, const QByteArray& name, sqlite3* db) {
        sqlite3_reset(find);
        sqlite3_bind_text(find, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(find) == SQLITE_ROW) {
            return sqlite3_column_int64(find, 0);
        }
        sqlite3_reset(add);
        sqlite3_bind_text(add, 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
        sqlite3_step(add);
        return sqlite3_last_insert_rowid(db);
    };
    for (const store::transfer::Book& book : books) {
        sqlite3_reset(addBook);
        sqlite3_bind_int64(addBook, 1, book.id);
        for (int i = 0; i < columns.size(); ++i) {
            const QByteArray text = book.values.at(i).toString().toUtf8();
            if (book.values.at(i).isNull()) {
                sqlite3_bind_null(addBook, i + 2);
            } else {
                sqlite3_bind_text(addBook, i + 2, text.constData(), int(text.size()), SQLITE_TRANSIENT);
            }
        }
        if (book.publisher.isEmpty()) {
            sqlite3_bind_null(addBook, int(columns.size()) + 2);
        } else {
            sqlite3_bind_int64(addBook, int(columns.size()) + 2, idOf(findPublisher, addPublisher, book.publisher.toUtf8(), h));
        }
        sqlite3_step(addBook);
        for (const QString& name : book.authors) {
            const qint64 author = idOf(findAuthor, addAuthor, name.toUtf8(), h);
            sqlite3_reset(link);
            sqlite3_bind_int64(link, 1, book.id);
            sqlite3_bind_int64(link, 2, author);
            sqlite3_step(link);
        }
    }
    for (sqlite3_stmt* st : {findAuthor, addAuthor, findPublisher, addPublisher, addBook, link}) {
        sqlite3_finalize(st);
    }
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    report(msSince(t));
    return 0;
}

// ---- The parent ------------------------------------------------------------------------------

struct Figure {
    double ms = -1;
    QString peak;
    QString output;
};

Figure inChild(const QStringList& arguments)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    Figure figure;
    figure.output = QString::fromLocal8Bit(child.readAllStandardOutput());
    for (const QString& text : figure.output.split(QLatin1Char('\n'))) {
        if (text.startsWith(QLatin1String("risultato "))) {
            const QStringList parts = text.split(QLatin1Char(' '));
            figure.ms = parts.value(1).toDouble();
            figure.peak = parts.mid(2).join(QLatin1Char(' '));
        }
    }
    return figure;
}

int run(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const QString csv = QDir(folder).filePath(QStringLiteral("catalogo.csv"));
    const QString xlsx = QDir(folder).filePath(QStringLiteral("catalogo.xlsx"));
    const QString raw = QDir(folder).filePath(QStringLiteral("grezzo.txt"));
    const QString imported = QDir(folder).filePath(QStringLiteral("importato.mdb"));
    const QString rawImported = QDir(folder).filePath(QStringLiteral("grezzo.mdb"));
    store::Archive::create(imported);
    store::Archive::create(rawImported);
    const qint64 books = store::transfer::bookCount(*store::Archive::open(path));
    linef(QStringLiteral("carteo_bench_exchange: %1 books; load %2").arg(books).arg(loadAverage()));

    const Figure exportCsv = inChild({QStringLiteral("--esporta"), path, csv});
    const Figure exportXlsx = inChild({QStringLiteral("--esporta"), path, xlsx});
    const Figure exportRaw = inChild({QStringLiteral("--grezzo-esporta"), path, raw});
    const Figure previewNew = inChild({QStringLiteral("--anteprima"), imported, csv});
    const Figure importCsv = inChild({QStringLiteral("--importa"), imported, csv});
    const Figure importRaw = inChild({QStringLiteral("--grezzo-importa"), path, rawImported});
    const Figure previewSame = inChild({QStringLiteral("--anteprima"), imported, csv});

    linef(QStringLiteral("file sizes: CSV %1 MB, xlsx %2 MB")
              .arg(QFileInfo(csv).size() / 1048576.0, 0, 'f', 1)
              .arg(QFileInfo(xlsx).size() / 1048576.0, 0, 'f', 1));
    for (const Figure* f : {&previewNew, &previewSame}) {
        for (const QString& text : f->output.split(QLatin1Char('\n'))) {
            if (text.startsWith(QLatin1String("anteprima "))) {
                linef(text);
            }
        }
    }
    std::vector<Row> rows;
    const auto ratio = [](const Figure& a, const Figure& b) { return b.ms > 0 ? times(a.ms / b.ms) : QString(); };
    rows.push_back({QStringLiteral("export to CSV (peak %1)").arg(exportCsv.peak), ms(exportCsv.ms),
                    ms(exportRaw.ms), ratio(exportCsv, exportRaw), {}, {}});
    rows.push_back({QStringLiteral("export to xlsx (peak %1)").arg(exportXlsx.peak), ms(exportXlsx.ms),
                    ms(exportRaw.ms), ratio(exportXlsx, exportRaw), {}, {}});
    rows.push_back({QStringLiteral("preview, all new (peak %1)").arg(previewNew.peak), ms(previewNew.ms), {}, {},
                    ms(kPreviewTargetMs), verdict(previewNew.ms >= 0 && previewNew.ms <= kPreviewTargetMs)});
    rows.push_back({QStringLiteral("import into empty archive (peak %1; raw peak %2)").arg(importCsv.peak, importRaw.peak),
                    ms(importCsv.ms), ms(importRaw.ms), ratio(importCsv, importRaw), {}, {}});
    rows.push_back({QStringLiteral("preview, all equal (peak %1)").arg(previewSame.peak), ms(previewSame.ms), {}, {},
                    ms(kPreviewTargetMs), verdict(previewSame.ms >= 0 && previewSame.ms <= kPreviewTargetMs)});
    printTable(rows);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Internal: one stage in this child process.
    if (argc == 4 && argv[1][0] == '-' && argv[1][1] == '-') {
        QCoreApplication app(argc, argv);
        const std::string stage = argv[1];
        const QString a = QString::fromLocal8Bit(argv[2]), b = QString::fromLocal8Bit(argv[3]);
        try {
            if (stage == "--esporta") return exportStage(a, b);
            if (stage == "--anteprima") return previewStage(a, b);
            if (stage == "--importa") return importStage(a, b);
            if (stage == "--grezzo-esporta") return rawExportStage(a, b);
            if (stage == "--grezzo-importa") return rawImportStage(a, b);
        } catch (const store::DbError& e) {
            std::fprintf(stderr, "archive error %d: %s\n", e.number(), qPrintable(e.description()));
        }
        return 1;
    }
    return benchMain(argc, argv, "carteo_bench_exchange", run);
}
