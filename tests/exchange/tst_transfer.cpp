// Export and import of the catalogue on real archives: a round trip that keeps every field, the
// preview's counts and reasons, names matched as the archive compares them, fields changed since
// the last import, a stop and a kill that leave the archive as it was, and the command line.
#include "exchange/Transfer.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Schema.h"
#include "store/Transfer.h"
#include "support/Restrictions.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QtTest>

using testsupport::errorOf;
using testsupport::scalar;

namespace {

// Books whose texts a spreadsheet tends to spoil: accents, apostrophes, quotes, separators,
// line breaks, a leading "=", amounts and dates.
QString hostileCatalogue()
{
    return QStringLiteral(
        "INSERT INTO autore (ID_autore, nome, data_nascita) VALUES (1, 'ALESSANDRO MANZONI', '1785'), "
        "(2, 'ITALO CALVINO', NULL), (3, 'CARLO D''ANGELO', NULL);"
        "INSERT INTO editori (ID_Editore, nome, residenza) VALUES (1, 'EINAUDI', 'TORINO'), (2, 'L''ARCO; \"NUOVO\"', NULL);"
        "INSERT INTO biblio (id, titolo, posizione, genere, anno, data_acquisto, costo_L, costo_E, id_edizione, note, "
        "cod_biblio, num_pag, posx, posy) VALUES "
        "(10, 'I PROMESSI SPOSI', 'ARM. 1', 'ROMANZO', '1840', '05/07/2014', 25000, 12.5, 1, "
        "'NOTA CON \"VIRGOLETTE\"; PUNTO E VIRGOLA' || char(13, 10) || 'E UNA SECONDA RIGA', 'INV. 1', 720, 100, 200),"
        "(20, 'LE CITTÀ INVISIBILI', NULL, NULL, '1972', NULL, NULL, 9.99, 1, 'È ù à ò €', NULL, NULL, NULL, NULL),"
        "(30, '=SOMMA(A1:A2)', ' SPAZI ', NULL, 'S.D.', '31/12/1999', NULL, NULL, 2, char(10) || 'A CAPO', NULL, 3, NULL, NULL),"
        "(40, 'L''ULTIMO GIORNO', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (10, 1), (20, 2), (30, 3), (30, 2);");
}

QList<store::transfer::Book> booksOf(const QString& path)
{
    const auto archive = store::Archive::open(path);
    QList<store::transfer::Book> books;
    store::transfer::forEachBook(*archive, nullptr, [&books](const store::transfer::Book& book) {
        books << book;
        return true;
    });
    return books;
}

// The book's fields as texts a comparison can show (amounts to their cents).
QStringList textsOf(const store::transfer::Book& book)
{
    QStringList texts{QString::number(book.id), book.authors.join(QLatin1Char('|')), book.publisher};
    for (int i = 0; i < book.values.size(); ++i) {
        const QVariant& value = book.values.at(i);
        if (value.isNull() || value.toString().isEmpty()) {
            texts << QString();
        } else if (store::transfer::bookColumns().at(i) == QLatin1String("costo_E")) {
            texts << QString::number(value.toDouble(), 'f', 2);
        } else {
            texts << value.toString();
        }
    }
    return texts;
}

bool writeText(const QString& path, const QByteArray& bytes)
{
    return testsupport::writeFile(path, bytes);
}

struct Run {
    exchange::Source source;
    std::unique_ptr<exchange::SheetReader> reader;
    exchange::Mapping mapping;
};

Run openFile(const QString& path, bool splitOnE = false)
{
    Run run;
    run.source = exchange::detectSource(path);
    run.reader = exchange::openSource(run.source);
    exchange::ReadRow header;
    run.reader->next(header);
    run.mapping = exchange::guessMapping(header.fields);
    run.mapping.splitOnE = splitOnE;
    return run;
}

exchange::Preview previewOf(const QString& archivePath, const QString& file, bool splitOnE = false)
{
    Run run = openFile(file, splitOnE);
    const auto archive = store::Archive::open(archivePath);
    return exchange::preview(*archive, *run.reader, run.mapping);
}

exchange::ImportResult importInto(const QString& archivePath, const QString& file,
                                  const exchange::ImportOptions& options = {}, const exchange::Progress& progress = {},
                                  bool splitOnE = false)
{
    Run run = openFile(file, splitOnE);
    const auto archive = store::Archive::open(archivePath);
    return exchange::importRows(*archive, *run.reader, run.mapping, options, progress);
}

const exchange::Entry* entryAt(const exchange::Preview& preview, int line)
{
    for (const exchange::Entry& entry : preview.entries) {
        if (entry.line == line) {
            return &entry;
        }
    }
    return nullptr;
}

// The catalogue's content, whatever the order of its pages.
QString contentOf(const QString& path)
{
    return scalar(path, QStringLiteral("SELECT (SELECT count(*) FROM biblio) || '/' || (SELECT count(*) FROM autore) "
                                       "|| '/' || (SELECT count(*) FROM editori) || '/' || (SELECT count(*) FROM "
                                       "autbiblio) || '/' || (SELECT total(costo_E) FROM biblio) || '/' || "
                                       "(SELECT group_concat(titolo, '|') FROM (SELECT titolo FROM biblio ORDER BY id))"))
        .toString();
}

} // namespace

class TestTransfer : public QObject {
    Q_OBJECT

  private slots:
    void roundTripKeepsEveryField()
    {
        testsupport::ArchiveFolder folder;
        const QString source = folder.create(QStringLiteral("origine.mdb"), hostileCatalogue());
        const QString empty = folder.create(QStringLiteral("vuoto.mdb"));
        const QString file = folder.filePath(QStringLiteral("catalogo.csv"));
        {
            const auto archive = store::Archive::open(source);
            const exchange::ExportResult result = exchange::exportBooks(*archive, file, std::nullopt);
            QCOMPARE(result.rows, 4);
            QVERIFY(!result.stopped);
        }
        // Italian spreadsheets: a byte-order mark and ";"; the formula kept from running.
        const QByteArray bytes = testsupport::readFile(file);
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF" "Codice;Titolo;Autori;Editore;"));
        QVERIFY(bytes.contains(";'=SOMMA(A1:A2);"));

        const exchange::ImportResult imported = importInto(empty, file);
        QCOMPARE(imported.preview.summary(), QStringLiteral("4 nuovi, 0 da aggiornare, 0 uguali, 0 scartati"));
        QCOMPARE(imported.added, 4);
        const QList<store::transfer::Book> before = booksOf(source), after = booksOf(empty);
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < before.size(); ++i) {
            QCOMPARE(textsOf(after.at(i)), textsOf(before.at(i)));
        }
        QCOMPARE(scalar(empty, QStringLiteral("SELECT count(*) FROM autore")).toInt(), 3);
        // The quick find knows the books imported, and its triggers are back.
        QVERIFY(store::schema::wordIndexInStep(store::Archive::open(empty)->handle()));
        QCOMPARE(scalar(empty, QStringLiteral("SELECT count(*) FROM editori")).toInt(), 2);

        // The file just exported, imported again, changes nothing: into the copy and into the original.
        for (const QString& archive : {empty, source}) {
            const QString content = contentOf(archive);
            const exchange::ImportResult again = importInto(archive, file);
            QCOMPARE(again.preview.summary(), QStringLiteral("0 nuovi, 0 da aggiornare, 4 uguali, 0 scartati"));
            QCOMPARE(again.added + again.updated, 0);
            QCOMPARE(contentOf(archive), content);
        }
        // The copy made before the import sits among the archive's copies.
        QVERIFY(QFileInfo(imported.copyPath).isFile());
        QCOMPARE(QFileInfo(imported.copyPath).absolutePath(), QDir(folder.path()).filePath(QStringLiteral("copie")));
    }

    void listsAndChosenBooksAreExported()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("a.mdb"), hostileCatalogue());
        const auto archive = store::Archive::open(path);
        const QString books = folder.filePath(QStringLiteral("scelti.csv"));
        // The list as shown: one row per book and author, so a key comes twice; a key gone is passed over.
        QCOMPARE(exchange::exportBooks(*archive, books, QList<qint64>{30, 30, 10, 999}).rows, 2);
        const QStringList lines = QString::fromUtf8(testsupport::readFile(books)).split(QStringLiteral("\r\n"));
        QVERIFY(lines.at(1).startsWith(QStringLiteral("30;'=SOMMA(A1:A2);CARLO D'ANGELO; ITALO CALVINO;")) ||
                lines.at(1).startsWith(QStringLiteral("30;'=SOMMA(A1:A2);\"CARLO D'ANGELO; ITALO CALVINO\";")));
        QVERIFY(lines.at(2).startsWith(QStringLiteral("10;I PROMESSI SPOSI;")));

        const QString authors = folder.filePath(QStringLiteral("autori.csv"));
        QCOMPARE(exchange::exportAuthors(*archive, authors).rows, 3);
        QVERIFY(QString::fromUtf8(testsupport::readFile(authors))
                    .contains(QStringLiteral("Nome;Data di nascita;Luogo di nascita;Note\r\nALESSANDRO MANZONI;1785;;")));
        const QString publishers = folder.filePath(QStringLiteral("editori.xlsx"));
        QCOMPARE(exchange::exportPublishers(*archive, publishers).rows, 2);
        QVERIFY(testsupport::readFile(publishers).startsWith("PK"));
    }

    // A workbook is closed on a thread of its own while the window is answered: a disk that fills
    // up there is still told (61), and nothing is left.
    void aWorkbookClosedWhileAnsweringStillTellsAFullDisk()
    {
        testsupport::ArchiveFolder folder;
        QString many = QStringLiteral("BEGIN;");
        // Rows that fit on the disk, while the workbook made of them at the closing does not.
        for (int i = 1; i <= 800; ++i) {
            many += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', '%2');")
                        .arg(i)
                        .arg(QString(200, QLatin1Char('A' + i % 26)));
        }
        const QString path = folder.create(QStringLiteral("a.mdb"), many + QStringLiteral("COMMIT;"));
        const QString small = folder.filePath(QStringLiteral("piccolo"));
        QVERIFY(QDir().mkpath(small));
        const testsupport::SmallDisk disk(small, 256 * 1024);
        if (!disk.isValid()) {
            QSKIP(qPrintable(disk.whyNot()));
        }
        const auto archive = store::Archive::open(path);
        int reports = 0;
        const auto counting = [&reports](qint64, qint64) {
            ++reports;
            return true;
        };
        QCOMPARE(errorOf([&] {
                     exchange::exportBooks(*archive, QDir(small).filePath(QStringLiteral("libri.xlsx")), std::nullopt,
                                           counting);
                 }),
                 int(store::ErrDiskFull));
        QVERIFY(reports > 0);
        QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList());
        // On a disk with room, the same run writes the workbook.
        const QString roomy = folder.filePath(QStringLiteral("libri.xlsx"));
        QCOMPARE(exchange::exportBooks(*archive, roomy, std::nullopt, counting).rows, 800);
        QVERIFY(testsupport::readFile(roomy).startsWith("PK"));
    }

    void previewCountsAndReasons()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(
            QStringLiteral("a.mdb"),
            QStringLiteral("INSERT INTO autore (ID_autore, nome) VALUES (1, 'MARIO ROSSI');"
                           "INSERT INTO editori (ID_Editore, nome) VALUES (1, 'EINAUDI');"
                           "INSERT INTO biblio (id, titolo, anno, costo_E, id_edizione) VALUES "
                           "(5, 'IL BOSCO', '1990', 10, 1), (6, 'IL MARE', '1991', 8, 1);"
                           "INSERT INTO autbiblio VALUES (5, 1), (6, 1);"));
        const QString file = folder.filePath(QStringLiteral("elenco.csv"));
        // Windows-1252, as Italian spreadsheets save it; headings as people write them.
        QVERIFY(writeText(file, QByteArray("TITOLO;Autore;Casa editrice;Anno di pubblicazione;Prezzo\r\n"
                                           "Il bosco;mario rossi;einaudi;1990;10,00\r\n"     // 2 equal (case)
                                           "Il mare;Mario Rossi;Einaudi;1991;9,50\r\n"       // 3 to update
                                           "Città nuova;Mario Rossi e Anna Bianchi;Sellerio;2001;\r\n" // 4 new
                                           ";Luca Verdi;;2000;\r\n"                          // 5 no title
                                           "Il fiume;Luca Verdi;;19x8;\r\n"                  // 6 year
                                           "Città nuova;MARIO ROSSI;;2001;\r\n"              // 7 repeats 4
                                           "\r\n"                                            // empty: not a row
                                           "Il lago;Luca Verdi;;2002;abc\r\n")));            // 9 price
        const exchange::Preview preview = previewOf(path, file, true);
        QCOMPARE(preview.summary(), QStringLiteral("1 nuovi, 1 da aggiornare, 1 uguali, 4 scartati"));
        QCOMPARE(entryAt(preview, 3)->changes.size(), 1);
        QCOMPARE(entryAt(preview, 3)->changes.first().before, QStringLiteral("8,00"));
        QCOMPARE(entryAt(preview, 3)->changes.first().after, QStringLiteral("9,50"));
        QCOMPARE(entryAt(preview, 4)->status, exchange::Entry::Status::New);
        QCOMPARE(entryAt(preview, 4)->title, QStringLiteral("Città nuova"));
        QCOMPARE(entryAt(preview, 5)->reason, QStringLiteral("riga senza titolo"));
        QCOMPARE(entryAt(preview, 6)->reason, QStringLiteral("anno non valido: 19x8"));
        QCOMPARE(entryAt(preview, 7)->reason, QStringLiteral("uguale alla riga 4"));
        QVERIFY(entryAt(preview, 9)->reason.startsWith(QStringLiteral("costo in euro non valido")));
        QCOMPARE(testsupport::rowCount(path, QStringLiteral("biblio")), 2); // the preview wrote nothing

        const exchange::ImportResult result = importInto(path, file, {}, {}, true);
        QCOMPARE(result.added, 1);
        QCOMPARE(result.updated, 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT costo_E FROM biblio WHERE id = 6")).toDouble(), 9.5);
        // "mario rossi" is the author already there, "Anna Bianchi" is new; so is the publisher Sellerio.
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autore WHERE nome = 'MARIO ROSSI' COLLATE NOCASE")).toInt(), 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autore")).toInt(), 2);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM editori")).toInt(), 2);
        QCOMPARE(scalar(path, QStringLiteral("SELECT e.nome FROM biblio b JOIN editori e ON e.ID_Editore = "
                                             "b.id_edizione WHERE b.titolo = 'Città nuova'"))
                     .toString(),
                 QStringLiteral("Sellerio"));
    }

    void namesMatchAsTheArchiveCompares()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("a.mdb"),
                                           QStringLiteral("INSERT INTO autore (ID_autore, nome) VALUES (1, 'NICCOLÒ "
                                                          "AMMANITI'), (2, 'NICCOLÒ AMMANITI');"));
        const QString file = folder.filePath(QStringLiteral("a.csv"));
        QVERIFY(writeText(file, "Titolo;Autori\nUNO;niccolò ammaniti\nDUE;\"NICCOLO AMMANITI; NICCOLÒ AMMANITI\"\n"));
        importInto(path, file);
        // Case never counts (the first of two equal names is taken), accents do.
        QCOMPARE(scalar(path, QStringLiteral("SELECT group_concat(ID_autore) FROM autbiblio JOIN biblio ON id = "
                                             "ID_biblio WHERE titolo = 'UNO'"))
                     .toString(),
                 QStringLiteral("1"));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autore")).toInt(), 3);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autbiblio JOIN biblio ON id = ID_biblio WHERE "
                                             "titolo = 'DUE'"))
                     .toInt(),
                 2);

        // A book linked to two authors of the same name goes out with both names and comes back equal.
        store::Archive::open(path)->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (99, 'TRE'); "
                                                        "INSERT INTO autbiblio VALUES (99, 1), (99, 2);"));
        const QString exported = folder.filePath(QStringLiteral("tre.csv"));
        exchange::exportBooks(*store::Archive::open(path), exported, QList<qint64>{99});
        QVERIFY(testsupport::readFile(exported).contains("NICCOLÒ AMMANITI; NICCOLÒ AMMANITI"));
        QCOMPARE(previewOf(path, exported).summary(), QStringLiteral("0 nuovi, 0 da aggiornare, 1 uguali, 0 scartati"));
    }

    void fieldsChangedSinceTheLastImportAreNotOverwritten()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("a.mdb"));
        const QString first = folder.filePath(QStringLiteral("primo.csv"));
        const QString second = folder.filePath(QStringLiteral("secondo.csv"));
        QVERIFY(writeText(first, "Codice;Titolo;Prezzo;Note\n7;IL BOSCO;10,00;PRIMA\n"));
        QVERIFY(writeText(second, "Codice;Titolo;Prezzo;Note\n7;IL BOSCO;15,00;DOPO\n"));
        importInto(path, first);
        // Someone changes the price in the archive; the next file changes the price and the note.
        store::Archive::open(path)->exec(QStringLiteral("UPDATE biblio SET costo_E = 12 WHERE id = 7"));

        const exchange::Preview preview = previewOf(path, second);
        QCOMPARE(preview.summary(), QStringLiteral("0 nuovi, 1 da aggiornare, 0 uguali, 0 scartati"));
        const exchange::Entry* entry = entryAt(preview, 2);
        QCOMPARE(entry->changes.size(), 1);
        QCOMPARE(entry->changes.first().field, exchange::Field::Notes);
        QCOMPARE(entry->conflicts.size(), 1);
        QCOMPARE(entry->conflicts.first().field, exchange::Field::CostEuro);
        QCOMPARE(entry->conflicts.first().before, QStringLiteral("12,00"));

        importInto(path, second);
        QCOMPARE(scalar(path, QStringLiteral("SELECT note FROM biblio WHERE id = 7")).toString(), QStringLiteral("DOPO"));
        QCOMPARE(scalar(path, QStringLiteral("SELECT costo_E FROM biblio WHERE id = 7")).toDouble(), 12.0);
        // Still a conflict the next time: only the price is left, and it is told apart.
        QCOMPARE(previewOf(path, second).summary(),
                 QStringLiteral("0 nuovi, 0 da aggiornare, 0 uguali, 0 scartati, 1 in conflitto"));
        // Asked for, it is written.
        exchange::ImportOptions overwrite;
        overwrite.overwriteConflicts = true;
        QCOMPARE(importInto(path, second, overwrite).updated, 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT costo_E FROM biblio WHERE id = 7")).toDouble(), 15.0);
        QCOMPARE(previewOf(path, second).summary(), QStringLiteral("0 nuovi, 0 da aggiornare, 1 uguali, 0 scartati"));

        // Books left as they were when the user says so.
        QVERIFY(writeText(second, "Codice;Titolo;Prezzo\n7;IL BOSCO;20,00\n"));
        exchange::ImportOptions skip;
        skip.updateMatched = false;
        QCOMPARE(importInto(path, second, skip).updated, 0);
        QCOMPARE(scalar(path, QStringLiteral("SELECT costo_E FROM biblio WHERE id = 7")).toDouble(), 15.0);
    }

    void aStopOrAKillLeavesTheArchiveAsItWas()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("a.mdb"), hostileCatalogue());
        const QString file = folder.filePath(QStringLiteral("molti.csv"));
        QByteArray rows = "Titolo;Autori;Editore;Anno\n";
        for (int i = 0; i < 3000; ++i) {
            rows += "LIBRO " + QByteArray::number(i) + ";AUTORE " + QByteArray::number(i % 50) + ";EDITORE " +
                    QByteArray::number(i % 7) + ";" + QByteArray::number(1900 + i % 100) + "\n";
        }
        QVERIFY(writeText(file, rows));
        const QString before = contentOf(path);

        // "Interrompi" at the second report: rows were written in the transaction by then.
        int reports = 0;
        const exchange::ImportResult stopped = importInto(path, file, {}, [&reports](qint64 done, qint64) {
            return done == 0 || ++reports < 2; // the rows' reports; the copy before them tells 0
        });
        QVERIFY(stopped.stopped);
        QCOMPARE(contentOf(path), before);
        QVERIFY(stopped.copyPath.isEmpty()); // no copy left of an archive the import did not change
        QCOMPARE(QDir(QDir(folder.path()).filePath(QStringLiteral("copie"))).entryList(QDir::Files), QStringList());

        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled({QStringLiteral("importa"), file, path, QStringLiteral("uccidi")}),
                 qPrintable(killed.output()));
        store::Archive::open(path); // the journal rolls back what the killed one wrote
        QCOMPARE(contentOf(path), before);
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        QCOMPARE(importInto(path, file).added, 3000);
    }

    void headingsAreGuessed()
    {
        using exchange::Field;
        const QList<std::pair<QString, Field>> cases{
            {QStringLiteral("Titolo"), Field::Title},          {QStringLiteral("TITOLO"), Field::Title},
            {QStringLiteral("titolo del libro"), Field::Title}, {QStringLiteral("Autore"), Field::Authors},
            {QStringLiteral("Autori"), Field::Authors},        {QStringLiteral("Editore"), Field::Publisher},
            {QStringLiteral("Casa editrice"), Field::Publisher}, {QStringLiteral("Anno"), Field::Year},
            {QStringLiteral("Anno di pubblicazione"), Field::Year}, {QStringLiteral("Prezzo"), Field::CostEuro},
            {QStringLiteral("Prezzo (€)"), Field::CostEuro},   {QStringLiteral("Costo in lire"), Field::CostLire},
            {QStringLiteral("Annata"), Field::Issue},          {QStringLiteral("Edizione"), Field::Edition},
            {QStringLiteral("Posizione attuale"), Field::CurrentPosition}, {QStringLiteral("Codice"), Field::Key},
            {QStringLiteral("Codice biblioteca"), Field::LibraryCode}, {QStringLiteral("Data acquisto"), Field::PurchaseDate},
            {QStringLiteral("N. pagine"), Field::Pages},       {QStringLiteral("Città"), Field::PrintPlace},
            {QStringLiteral("Colore"), Field::Ignore},         {QString(), Field::Ignore}};
        for (const auto& [heading, field] : cases) {
            QVERIFY2(exchange::guessField(heading) == field, qPrintable(heading));
        }
        // A field named twice goes to the first column.
        const exchange::Mapping mapping = exchange::guessMapping({QStringLiteral("Titolo"), QStringLiteral("TITOLO")});
        QCOMPARE(mapping.columns, (QList<Field>{Field::Title, Field::Ignore}));
    }

    void commandLine()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("a.mdb"), hostileCatalogue());
        const QString file = folder.filePath(QStringLiteral("tutto.csv"));
        const auto carteo = [](const QStringList& arguments, QString* out = nullptr, QString* err = nullptr) {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("DISPLAY"));
            environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
            environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // no display is needed
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(CARTEO_PROGRAM), arguments);
            if (!process.waitForFinished(60000)) {
                return -1;
            }
            if (out) {
                *out = QString::fromLocal8Bit(process.readAllStandardOutput());
            }
            if (err) {
                *err = QString::fromLocal8Bit(process.readAllStandardError());
            }
            return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        };
        QString out, err;
        QCOMPARE(carteo({QStringLiteral("--esporta"), file, QStringLiteral("--archivio"), path}, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("Esportati 4 libri")), qPrintable(out));
        QCOMPARE(carteo({QStringLiteral("--importa"), file, QStringLiteral("--archivio"), path,
                         QStringLiteral("--anteprima")},
                        &out),
                 0);
        QCOMPARE(out.trimmed(), QStringLiteral("0 nuovi, 0 da aggiornare, 4 uguali, 0 scartati"));

        const QString other = folder.create(QStringLiteral("b.mdb"));
        QCOMPARE(carteo({QStringLiteral("--importa"), file, QStringLiteral("--archivio"), other}, &out), 0);
        QVERIFY2(out.startsWith(QStringLiteral("4 nuovi, 0 da aggiornare, 0 uguali, 0 scartati")), qPrintable(out));
        QCOMPARE(testsupport::rowCount(other, QStringLiteral("biblio")), 4);

        // Failures: an Italian message and a non-zero exit.
        QCOMPARE(carteo({QStringLiteral("--importa"), file, QStringLiteral("--archivio"),
                         folder.filePath(QStringLiteral("manca.mdb"))},
                        nullptr, &err),
                 1);
        QVERIFY2(err.contains(QStringLiteral("non esiste")), qPrintable(err));
        const QString picture = folder.filePath(QStringLiteral("foto.csv"));
        QVERIFY(writeText(picture, QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x02\0\0\x01\0\x01\0\0", 20)));
        QCOMPARE(carteo({QStringLiteral("--importa"), picture, QStringLiteral("--archivio"), other}, nullptr, &err), 1);
        QVERIFY2(err.contains(QStringLiteral("non è un testo CSV")), qPrintable(err));
        QCOMPARE(carteo({QStringLiteral("--importa"), file}, nullptr, &err), 2);
        QVERIFY(err.contains(QStringLiteral("Uso: carteo")));
        {
            // A repair or a compaction under way holds the archive: the command waits for nobody.
            const store::files::ExclusiveUse repairing(other);
            QCOMPARE(carteo({QStringLiteral("--esporta"), file, QStringLiteral("--archivio"), other}, nullptr, &err), 1);
            QVERIFY2(!err.trimmed().isEmpty(), "no message");
        }
    }
};

CARTEO_TEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
