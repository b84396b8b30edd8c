// Tables in files: CSV written and read back exactly, its encoding and separator found, hostile
// rows discarded one by one, workbooks written (.xlsx, checked inside) and read (.xls), and files
// that cannot be written or are not tables at all.
#include "exchange/Sheet.h"
#include "store/DbError.h"
#include "support/Restrictions.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

using exchange::Cell;
using exchange::CsvFormat;
using exchange::Encoding;
using exchange::FileKind;
using exchange::ReadRow;
using exchange::Row;
using testsupport::errorOf;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Every row of a reader, the header first.
QList<ReadRow> readAll(exchange::SheetReader& reader)
{
    QList<ReadRow> rows;
    ReadRow row;
    while (reader.next(row)) {
        rows.append(row);
    }
    return rows;
}

QList<ReadRow> readCsv(const QString& path)
{
    const auto reader = exchange::csvReader(path, exchange::detectCsvFile(path));
    return readAll(*reader);
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A part of a workbook, as unzip gives it.
QString unzipped(const QString& path, const QString& part)
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), path, part});
    if (!unzip.waitForFinished(30000) || unzip.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(unzip.readAllStandardOutput());
}

// ---- The smallest Excel 97-2003 workbook: a compound file holding one BIFF8 stream ----------

void put16(QByteArray& out, int value)
{
    out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, int(value & 0xFFFF));
    put16(out, int(value >> 16));
}

void record(QByteArray& out, int type, const QByteArray& body)
{
    put16(out, type);
    put16(out, int(body.size()));
    out.append(body);
}

QByteArray utf16(const QString& text)
{
    QByteArray out;
    for (const QChar c : text) {
        put16(out, c.unicode());
    }
    return out;
}

QByteArray bof(int kind)
{
    QByteArray body;
    put16(body, 0x0600);
    put16(body, kind);
    put16(body, 0x0DBB);
    put16(body, 0x07CC);
    put32(body, 0);
    put32(body, 6);
    return body;
}

struct XlsCell {
    int row = 0;
    int column = 0;
    enum { Text, Number, Date } kind = Text;
    QString text;
    double number = 0;
};

// The BIFF8 stream: XF 0 general, XF 1 a date (format 14); texts in the shared strings.
QByteArray workbookStream(const QList<XlsCell>& cells, bool password)
{
    QStringList strings;
    for (const XlsCell& cell : cells) {
        if (cell.kind == XlsCell::Text && !strings.contains(cell.text)) {
            strings.append(cell.text);
        }
    }
    QByteArray globals;
    record(globals, 0x0809, bof(0x0005));
    if (password) {
        QByteArray body;
        put16(body, 0); // XOR obfuscation
        put16(body, 0x1234);
        put16(body, 0x5678);
        record(globals, 0x002F, body);
    }
    // Padding, so the stream is past the compound file's small-stream limit (4096 bytes).
    record(globals, 0x0160, QByteArray(4200, '\0'));
    {
        QByteArray body;
        put16(body, 0x04B0);
        record(globals, 0x0042, body);
        body.clear();
        put16(body, 0);
        record(globals, 0x0022, body);
    }
    for (int format : {0, 14}) {
        QByteArray xf;
        put16(xf, 0);
        put16(xf, format);
        put16(xf, 0x0001);
        xf.append(QByteArray(14, '\0'));
        record(globals, 0x00E0, xf);
    }
    {
        QByteArray sst;
        put32(sst, quint32(strings.size()));
        put32(sst, quint32(strings.size()));
        for (const QString& text : strings) {
            put16(sst, int(text.size()));
            sst.append(char(1));
            sst.append(utf16(text));
        }
        record(globals, 0x00FC, sst);
    }
    const qsizetype sheetNameAt = globals.size();
    {
        QByteArray body;
        put32(body, 0); // the sheet's offset, set below
        put16(body, 0);
        body.append(char(6)).append(char(1)).append(utf16(QStringLiteral("Foglio")));
        record(globals, 0x0085, body);
    }
    record(globals, 0x000A, {});
    const quint32 sheetAt = quint32(globals.size());
    for (int i = 0; i < 4; ++i) {
        globals[sheetNameAt + 4 + i] = char((sheetAt >> (8 * i)) & 0xFF);
    }

    int rows = 0;
    int columns = 0;
    for (const XlsCell& cell : cells) {
        rows = std::max(rows, cell.row + 1);
        columns = std::max(columns, cell.column + 1);
    }
    QByteArray sheet;
    record(sheet, 0x0809, bof(0x0010));
    {
        QByteArray body;
        put32(body, 0);
        put32(body, quint32(rows));
        put16(body, 0);
        put16(body, columns);
        put16(body, 0);
        record(sheet, 0x0200, body);
    }
    for (const XlsCell& cell : cells) {
        QByteArray body;
        put16(body, cell.row);
        put16(body, cell.column);
        put16(body, cell.kind == XlsCell::Date ? 1 : 0);
        if (cell.kind == XlsCell::Text) {
            put32(body, quint32(strings.indexOf(cell.text)));
            record(sheet, 0x00FD, body);
        } else {
            char bytes[8];
            std::memcpy(bytes, &cell.number, 8);
            body.append(bytes, 8);
            record(sheet, 0x0203, body);
        }
    }
    record(sheet, 0x000A, {});
    return globals + sheet;
}

// A compound file (512-byte sectors) holding `stream` under `name`: sector 0 the allocation
// table, sector 1 the directory, the stream from sector 2.
QByteArray compoundFile(const QString& name, const QByteArray& stream)
{
    const int sectors = int((stream.size() + 511) / 512);
    QByteArray out;
    out.append(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    out.append(QByteArray(16, '\0'));
    put16(out, 0x003E);
    put16(out, 0x0003);
    put16(out, 0xFFFE);
    put16(out, 9);
    put16(out, 6);
    out.append(QByteArray(6, '\0'));
    put32(out, 0); // directory sectors (version 3: none counted)
    put32(out, 1); // allocation table sectors
    put32(out, 1); // the directory's first sector
    put32(out, 0);
    put32(out, 0x1000);     // small-stream limit
    put32(out, 0xFFFFFFFE); // no small-stream table
    put32(out, 0);
    put32(out, 0xFFFFFFFE); // no further table sectors
    put32(out, 0);
    put32(out, 0); // the table's sector
    for (int i = 1; i < 109; ++i) {
        put32(out, 0xFFFFFFFF);
    }
    QByteArray fat;
    put32(fat, 0xFFFFFFFD);
    put32(fat, 0xFFFFFFFE);
    for (int i = 0; i < sectors; ++i) {
        put32(fat, i + 1 < sectors ? quint32(i + 3) : 0xFFFFFFFE);
    }
    while (fat.size() < 512) {
        put32(fat, 0xFFFFFFFF);
    }
    out.append(fat);
    auto entry = [](const QString& entryName, int type, quint32 child, quint32 start, quint32 size) {
        QByteArray e = utf16(entryName);
        e.append(QByteArray(64 - e.size(), '\0'));
        QByteArray rest;
        put16(rest, entryName.isEmpty() ? 0 : int(entryName.size() + 1) * 2);
        rest.append(char(type)).append(char(1));
        put32(rest, 0xFFFFFFFF);
        put32(rest, 0xFFFFFFFF);
        put32(rest, child);
        rest.append(QByteArray(16 + 4 + 16, '\0'));
        put32(rest, start);
        put32(rest, size);
        put32(rest, 0);
        return e + rest;
    };
    out.append(entry(QStringLiteral("Root Entry"), 5, 1, 0xFFFFFFFE, 0));
    out.append(entry(name, 2, 0xFFFFFFFF, 2, quint32(stream.size())));
    out.append(entry({}, 0, 0xFFFFFFFF, 0, 0));
    out.append(entry({}, 0, 0xFFFFFFFF, 0, 0));
    QByteArray body = stream;
    body.append(QByteArray(sectors * 512 - stream.size(), '\0'));
    return out + body;
}

QByteArray xlsFile(const QList<XlsCell>& cells, bool password = false)
{
    return compoundFile(QStringLiteral("Workbook"), workbookStream(cells, password));
}

double excelSerial(const QDate& date)
{
    return double(QDate(1899, 12, 30).daysTo(date));
}

} // namespace

class TestFormats : public QObject {
    Q_OBJECT

  private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void csvRoundTripKeepsEveryText();
    void csvCellsAndFormulaPrefix();
    void encodingsAreDetected();
    void separatorsAreDetected();
    void hostileRowsAreDiscardedOneByOne();
    void longRowsAndFieldsAreDiscardedAndReadingGoesOn();
    void filesThatAreNotTables();
    void halfAMillionRowsAreReadOneByOne();
    void failedWritesLeaveNothing();
    void workbookHoldsNumbersDatesAndStyles();
    void oldWorkbookIsRead();
    void damagedAndForeignWorkbooksAreRefused();

  private:
    QString path(const QString& name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFormats::csvRoundTripKeepsEveryText()
{
    const QStringList texts{
        QStringLiteral("L'isola di \"Arturo\""),
        QStringLiteral("uno;due;tre"),
        QStringLiteral("virgola, e\ttab"),
        QStringLiteral("prima riga\nseconda riga\r\nterza\rquarta"),
        QStringLiteral("è à ù ò é ì € «»"),
        QStringLiteral("  spazi intorno  "),
        QStringLiteral("=SOMMA(A1:A2)"),
        QStringLiteral("+39 333"),
        QStringLiteral("-5"),
        QStringLiteral("@utente"),
        QStringLiteral("'=già prefissato"),
        QStringLiteral("''+due"),
        QStringLiteral("'apostrofo"),
        QStringLiteral("\""),
        QStringLiteral("\"\"\""),
        QStringLiteral("fine con virgolette\""),
        QStringLiteral("😀 fuori dal piano base"),
    };
    const QString file = path(QStringLiteral("libri.csv"));
    {
        const auto writer = exchange::csvWriter(file);
        writer->writeHeader({QStringLiteral("Testo"), QStringLiteral("Altro")});
        for (const QString& text : texts) {
            writer->writeRow({Cell::ofText(text), Cell::ofText(QStringLiteral("x"))});
        }
        // A row of one empty cell is kept as a row.
        writer->writeRow({Cell()});
        writer->finish();
    }
    QCOMPARE(filesIn(m_dir->path()), QStringList{QStringLiteral("libri.csv")});
    const QByteArray bytes = readFile(file);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBFTesto;Altro\r\n"));

    const CsvFormat format = exchange::detectCsvFile(file);
    QCOMPARE(format.encoding, Encoding::Utf8);
    QCOMPARE(format.separator, QLatin1Char(';'));
    const QList<ReadRow> rows = readCsv(file);
    QCOMPARE(rows.size(), texts.size() + 2);
    QCOMPARE(rows.at(0).fields, (QStringList{QStringLiteral("Testo"), QStringLiteral("Altro")}));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const ReadRow& row = rows.at(i + 1);
        QVERIFY2(row.problem.isEmpty(), qPrintable(row.problem));
        QCOMPARE(row.fields.size(), 2);
        QCOMPARE(exchange::unprefixed(row.fields.at(0)), texts.at(i));
        QCOMPARE(row.fields.at(1), QStringLiteral("x"));
    }
    QCOMPARE(rows.last().fields, QStringList{QString()});
    // Lines count the line breaks inside quotes: the row after the note with three breaks.
    QCOMPARE(rows.at(3).line, 4);
    QCOMPARE(rows.at(4).line, 5);
    QCOMPARE(rows.at(5).line, 9);
}

void TestFormats::csvCellsAndFormulaPrefix()
{
    QCOMPARE(Cell::ofInteger(1998).csvText(), QStringLiteral("1998"));
    QCOMPARE(Cell::ofAmount(12.5).csvText(), QStringLiteral("12,50"));
    QCOMPARE(Cell::ofAmount(-0.001).csvText(), QStringLiteral("0,00"));
    QCOMPARE(Cell::ofAmount(1234567.891).csvText(), QStringLiteral("1234567,89"));
    QCOMPARE(Cell::ofDate(QDate(1998, 3, 5)).csvText(), QStringLiteral("05/03/1998"));
    QCOMPARE(Cell::ofText(QStringLiteral("=1+1")).csvText(), QStringLiteral("'=1+1"));
    QCOMPARE(Cell::ofText(QStringLiteral("'=1+1")).csvText(), QStringLiteral("''=1+1"));
    QCOMPARE(Cell::ofText(QStringLiteral("'abc")).csvText(), QStringLiteral("'abc"));
    QCOMPARE(Cell().csvText(), QString());

    // The prefix goes back exactly, and texts never prefixed come back unchanged.
    for (const QString& text :
         {QStringLiteral("="), QStringLiteral("'"), QStringLiteral("''"), QStringLiteral("'-"), QStringLiteral("'''@x"),
          QStringLiteral("a=b"), QStringLiteral(""), QStringLiteral(" =spazio")}) {
        QCOMPARE(exchange::unprefixed(exchange::prefixed(text)), text);
    }
    QCOMPARE(exchange::unprefixed(QStringLiteral("'apostrofo")), QStringLiteral("'apostrofo"));
    QCOMPARE(exchange::unprefixed(QStringLiteral("'=A1")), QStringLiteral("=A1"));
    QCOMPARE(exchange::unprefixed(QStringLiteral("=A1")), QStringLiteral("=A1"));
}

void TestFormats::encodingsAreDetected()
{
    const QString accents = QStringLiteral("è à ù ò €");
    const QByteArray windows = "Titolo;Prezzo\r\n\xE8 \xE0 \xF9 \xF2 \x80;12,50\r\n";
    const QByteArray utf8 = "Titolo;Prezzo\r\n" + accents.toUtf8() + ";12,50\r\n";
    const QList<std::pair<QByteArray, Encoding>> files{
        {windows, Encoding::Windows1252},
        {utf8, Encoding::Utf8},
        {"\xEF\xBB\xBF" + utf8, Encoding::Utf8},
    };
    int n = 0;
    for (const auto& [bytes, encoding] : files) {
        const QString file = path(QStringLiteral("e%1.csv").arg(++n));
        QVERIFY(writeFile(file, bytes));
        QCOMPARE(exchange::kindOf(file), FileKind::Csv);
        const CsvFormat format = exchange::detectCsvFile(file);
        QCOMPARE(format.encoding, encoding);
        const QList<ReadRow> rows = readCsv(file);
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).fields.at(0), QStringLiteral("Titolo"));
        QCOMPARE(rows.at(1).fields, (QStringList{accents, QStringLiteral("12,50")}));
    }

    // The code page's own characters, and the bytes it leaves undefined.
    QCOMPARE(exchange::fromWindows1252("\x80\x85\x8A\x91\x92\x93\x94\x96\x97\x99\x9C\x9F\xA0\xFF"),
             QStringLiteral("€…Š‘’“”–—™œŸ\u00A0ÿ"));
    QCOMPARE(exchange::fromWindows1252("\x81\x8D\x8F\x90\x9D"), QString(5, QChar(0xFFFD)));

    // A head cut inside a character is still UTF-8; a stray byte is not; nor are overlong forms
    // or surrogates.
    QByteArray cut = QByteArray(exchange::kDetectBytes - 1, 'a') + "\xE2\x82\xAC";
    QCOMPARE(exchange::detectCsv(cut.left(exchange::kDetectBytes)).encoding, Encoding::Utf8);
    QCOMPARE(exchange::detectCsv("caff\xE8\n").encoding, Encoding::Windows1252);
    QVERIFY(!exchange::isUtf8("\xC0\xAF", 2));
    QVERIFY(!exchange::isUtf8("\xED\xA0\x80", 3));
    QVERIFY(!exchange::isUtf8("\xF4\x90\x80\x80", 4));
    QVERIFY(exchange::isUtf8("\xF0\x9F\x98\x80", 4));
    QVERIFY(!exchange::isUtf8("\xE2\x82", 2));
    QVERIFY(exchange::isUtf8("\xE2\x82", 2, true));

    // Taken as UTF-8 from its first megabyte, a file with a stray byte further on loses that row
    // only, with its reason.
    const QString late = path(QStringLiteral("tardi.csv"));
    QByteArray bytes = "Titolo;Anno\n";
    while (bytes.size() < exchange::kDetectBytes + 10) {
        bytes += "Libro;1998\n";
    }
    const int goodRows = int(bytes.count('\n')) - 1;
    bytes += "Caff\xE8;2001\nUltimo;2002\n";
    QVERIFY(writeFile(late, bytes));
    QCOMPARE(exchange::detectCsvFile(late).encoding, Encoding::Utf8);
    const QList<ReadRow> rows = readCsv(late);
    QCOMPARE(rows.size(), goodRows + 3);
    QCOMPARE(rows.at(rows.size() - 2).problem, QStringLiteral("caratteri non validi"));
    QCOMPARE(rows.last().fields, (QStringList{QStringLiteral("Ultimo"), QStringLiteral("2002")}));
    QVERIFY(rows.last().problem.isEmpty());
}

void TestFormats::separatorsAreDetected()
{
    const QList<std::pair<QByteArray, char>> cases{
        {"Titolo;Autore;Anno\nIl nome;Eco, Umberto;1980\nBaudolino;Eco, Umberto;2000\n", ';'},
        {"Titolo,Autore,Anno\nIl nome,Eco,1980\nBaudolino,Eco,2000\n", ','},
        {"Titolo\tAutore\tAnno\nIl nome, la rosa\tEco; Umberto\t1980\n", '\t'},
        // The separators inside quotes do not count, nor do line breaks inside them.
        {"Titolo,Note,Anno\n\"Uno;due;tre\",\"a;b\nc;d\",1980\n\"Quattro;cinque\",\"e;f;g\",1981\n", ','},
        {"\"Titolo;Autore\"\tAnno\n\"Uno;due\"\t1980\n", '\t'},
        // One column only, or nothing to go by: ';'.
        {"Titolo\nUno\nDue\n", ';'},
        {"", ';'},
        // A last line without a line break counts when the head is the whole file.
        {"Titolo,Anno\nUno,1980", ','},
    };
    for (const auto& [bytes, separator] : cases) {
        QCOMPARE(exchange::detectCsv(bytes).separator, QLatin1Char(separator));
    }
    // The file read with it: quoted separators and line breaks stay in their fields.
    const QString file = path(QStringLiteral("virgole.csv"));
    QVERIFY(writeFile(file, cases.at(3).first));
    const QList<ReadRow> rows = readCsv(file);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(1).fields,
             (QStringList{QStringLiteral("Uno;due;tre"), QStringLiteral("a;b\nc;d"), QStringLiteral("1980")}));
    QCOMPARE(rows.at(2).line, 4);

    // A separator the reader cannot use is taken as ';'.
    const QString semicolons = path(QStringLiteral("punti.csv"));
    QVERIFY(writeFile(semicolons, "Titolo;Anno\nUno;1980\n"));
    const auto reader = exchange::csvReader(semicolons, {Encoding::Utf8, QLatin1Char('"')});
    QCOMPARE(readAll(*reader).at(1).fields, (QStringList{QStringLiteral("Uno"), QStringLiteral("1980")}));
}

void TestFormats::hostileRowsAreDiscardedOneByOne()
{
    // Mixed line endings, empty lines, a quote in the middle of a field, text after a closing
    // quote.
    const QString mixed = path(QStringLiteral("misto.csv"));
    QVERIFY(writeFile(mixed, "Titolo;Anno\r\nUno;1\nDue;2\rTre;3\r\n\r\n\nQuat\"tro;4\n\"Cin\"que;5\r\n\"Sei\"\r"));
    {
        const auto reader = exchange::csvReader(mixed, exchange::detectCsvFile(mixed));
        const QList<ReadRow> rows = readAll(*reader);
        QCOMPARE(reader->progress(), 1000);
        QStringList firsts;
        QList<int> lines;
        for (const ReadRow& row : rows) {
            QVERIFY(row.problem.isEmpty());
            firsts.append(row.fields.first());
            lines.append(row.line);
        }
        QCOMPARE(firsts, (QStringList{QStringLiteral("Titolo"), QStringLiteral("Uno"), QStringLiteral("Due"),
                                      QStringLiteral("Tre"), QStringLiteral("Quat\"tro"), QStringLiteral("Cinque"),
                                      QStringLiteral("Sei")}));
        QCOMPARE(lines, (QList<int>{1, 2, 3, 4, 7, 8, 9}));
        // Read again from the start, the same rows.
        reader->rewind();
        QCOMPARE(reader->progress(), 0);
        QCOMPARE(readAll(*reader).size(), rows.size());
    }

    // A quote left open: the rows before it as they were, the rest of the file one discarded row.
    const QString open = path(QStringLiteral("aperte.csv"));
    QVERIFY(writeFile(open, "Titolo;Anno\nUno;1\nDue;2\n\"Tre;3\nQuattro;4\nCinque;5\n"));
    {
        const QList<ReadRow> rows = readCsv(open);
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(2).fields, (QStringList{QStringLiteral("Due"), QStringLiteral("2")}));
        QVERIFY(rows.at(2).problem.isEmpty());
        QCOMPARE(rows.at(3).line, 4);
        QCOMPARE(rows.at(3).problem, QStringLiteral("virgolette non chiuse"));
    }

    // A NUL byte past the first 4 KB: its row discarded, the others read.
    const QString nul = path(QStringLiteral("nul.csv"));
    QByteArray bytes = "Titolo;Anno\n";
    for (int i = 0; i < 400; ++i) {
        bytes += "Libro qualunque;1998\n";
    }
    bytes += QByteArray("Rot\0to;1999\nDopo;2000\n", 22);
    QVERIFY(writeFile(nul, bytes));
    QCOMPARE(exchange::kindOf(nul), FileKind::Csv);
    {
        const QList<ReadRow> rows = readCsv(nul);
        QCOMPARE(rows.size(), 403);
        QCOMPARE(rows.at(401).problem, QStringLiteral("caratteri non validi"));
        QCOMPARE(rows.at(401).line, 402);
        QCOMPARE(rows.at(402).fields, (QStringList{QStringLiteral("Dopo"), QStringLiteral("2000")}));
        QVERIFY(rows.at(402).problem.isEmpty());
    }
}

void TestFormats::longRowsAndFieldsAreDiscardedAndReadingGoesOn()
{
    const QString file = path(QStringLiteral("lunghe.csv"));
    QByteArray bytes = "Titolo;Anno\nPrima;1\n";
    QByteArray wide;
    for (int i = 0; i < 10000; ++i) {
        wide += (i ? ";" : "") + QByteArray::number(i);
    }
    bytes += wide + "\nSeconda;2\n";
    bytes += "\"" + QByteArray(exchange::kLongestField + 1, 'x') + "\";3\nTerza;4\n";
    bytes += QByteArray(exchange::kLongestField, 'y') + ";5\n";
    QVERIFY(writeFile(file, bytes));
    const QList<ReadRow> rows = readCsv(file);
    QCOMPARE(rows.size(), 7);
    QCOMPARE(rows.at(2).problem, QStringLiteral("più di 256 colonne"));
    QVERIFY(rows.at(2).fields.size() <= exchange::kMostFields);
    QCOMPARE(rows.at(3).fields, (QStringList{QStringLiteral("Seconda"), QStringLiteral("2")}));
    QCOMPARE(rows.at(4).problem, QStringLiteral("campo più lungo di 65536 caratteri"));
    QCOMPARE(rows.at(5).fields, (QStringList{QStringLiteral("Terza"), QStringLiteral("4")}));
    QVERIFY(rows.at(6).problem.isEmpty());
    QCOMPARE(rows.at(6).fields.first().size(), exchange::kLongestField);
}

void TestFormats::filesThatAreNotTables()
{
    const QString empty = path(QStringLiteral("vuoto.csv"));
    QVERIFY(writeFile(empty, {}));
    QCOMPARE(exchange::kindOf(empty), FileKind::Empty);
    QString description;
    QCOMPARE(errorOf([&] { exchange::csvReader(empty, {}); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("Il file è vuoto."));
    QCOMPARE(errorOf([&] { exchange::xlsReader(empty); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("Il file è vuoto."));

    // A picture: a PNG's first bytes hold NULs.
    const QString picture = path(QStringLiteral("foto.csv"));
    QVERIFY(writeFile(picture, QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) + testsupport::randomBytes(3000)));
    QCOMPARE(exchange::kindOf(picture), FileKind::NotTable);
    QCOMPARE(errorOf([&] { exchange::csvReader(picture, {}); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("Il file non è un testo CSV né una cartella di Excel 97-2003."));
    QCOMPARE(errorOf([&] { exchange::xlsReader(picture); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("Il file non è una cartella di Excel 97-2003."));

    // Control characters without NULs.
    const QString controls = path(QStringLiteral("controlli.csv"));
    QVERIFY(writeFile(controls, QByteArray(100, 'a') + "\x01\x02\x03\x1B"));
    QCOMPARE(exchange::kindOf(controls), FileKind::NotTable);

    const QString zip = path(QStringLiteral("nuovo.xlsx"));
    QVERIFY(writeFile(zip, QByteArray("PK\x03\x04", 4) + QByteArray(100, 'z')));
    QCOMPARE(exchange::kindOf(zip), FileKind::Xlsx);
    QCOMPARE(errorOf([&] { exchange::csvReader(zip, {}); }, &description), int(store::ErrNotATable));
    QVERIFY(description.contains(QStringLiteral(".xlsx")));

    const QString old = path(QStringLiteral("vecchio.xls"));
    QVERIFY(writeFile(old, xlsFile({{0, 0, XlsCell::Text, QStringLiteral("Titolo"), 0}})));
    QCOMPARE(exchange::kindOf(old), FileKind::Xls);
    QCOMPARE(errorOf([&] { exchange::csvReader(old, {}); }), int(store::ErrNotATable));

    QCOMPARE(errorOf([&] { exchange::kindOf(path(QStringLiteral("manca.csv"))); }), int(store::ErrNotATable));
    QCOMPARE(errorOf([&] { exchange::csvReader(path(QStringLiteral("manca.csv")), {}); }), int(store::ErrNotATable));
    QCOMPARE(errorOf([&] { exchange::xlsReader(path(QStringLiteral("manca.xls"))); }), int(store::ErrNotATable));
}

void TestFormats::halfAMillionRowsAreReadOneByOne()
{
    const QString file = path(QStringLiteral("grande.csv"));
    {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        QByteArray block = "Codice;Titolo\r\n";
        for (int i = 1; i <= 500000; ++i) {
            block += QByteArray::number(i) + ";Libro " + QByteArray::number(i) + "\r\n";
            if (block.size() > (1 << 20)) {
                QCOMPARE(out.write(block), block.size());
                block.clear();
            }
        }
        QCOMPARE(out.write(block), block.size());
    }
    const auto reader = exchange::csvReader(file, exchange::detectCsvFile(file));
    ReadRow row;
    ReadRow last;
    qint64 count = 0;
    int halfway = -1;
    while (reader->next(row)) {
        QVERIFY(row.problem.isEmpty());
        last = row;
        ++count;
        if (count == 250000) {
            halfway = reader->progress();
        }
    }
    QCOMPARE(count, 500001);
    QCOMPARE(last.line, 500001);
    QCOMPARE(last.fields, (QStringList{QStringLiteral("500000"), QStringLiteral("Libro 500000")}));
    QVERIFY2(halfway > 400 && halfway < 600, qPrintable(QString::number(halfway)));
    QCOMPARE(reader->progress(), 1000);
}

void TestFormats::failedWritesLeaveNothing()
{
    const auto writeRows = [](const QString& file, int rows) {
        const auto writer = exchange::writerFor(file, QStringLiteral("Libri"));
        writer->writeHeader({QStringLiteral("Codice"), QStringLiteral("Note")});
        for (int i = 0; i < rows; ++i) {
            writer->writeRow({Cell::ofInteger(i), Cell::ofText(QStringLiteral("nota %1 ").arg(i).repeated(20))});
        }
        writer->finish();
    };

    // Not finished: the target is as it was.
    const QString kept = path(QStringLiteral("esistente.csv"));
    QVERIFY(writeFile(kept, "vecchio"));
    for (const QString& name : {kept, path(QStringLiteral("esistente.xlsx"))}) {
        const auto writer = exchange::writerFor(name, QStringLiteral("Libri"));
        writer->writeHeader({QStringLiteral("Codice")});
        writer->writeRow({Cell::ofInteger(1)});
    }
    QCOMPARE(readFile(kept), QByteArray("vecchio"));
    QCOMPARE(filesIn(m_dir->path()), QStringList{QStringLiteral("esistente.csv")});

    // A read-only folder.
    const QString locked = path(QStringLiteral("chiusa"));
    QVERIFY(QDir().mkpath(locked));
    {
        const testsupport::ReadOnlyFolder readOnly(locked, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        for (const QString& name : {QStringLiteral("libri.csv"), QStringLiteral("libri.xlsx")}) {
            QString description;
            QCOMPARE(errorOf([&] { writeRows(QDir(locked).filePath(name), 10); }, &description),
                     int(store::ErrPermissionDenied));
            QVERIFY2(description.contains(QStringLiteral("sola lettura")), qPrintable(description));
        }
        QVERIFY(filesIn(locked).isEmpty());
    }

    // A full disk, filled by the rows themselves.
    const QString small = path(QStringLiteral("piccolo"));
    QVERIFY(QDir().mkpath(small));
    const testsupport::SmallDisk disk(small, 256 * 1024);
    if (!disk.isValid()) {
        QSKIP(qPrintable(disk.whyNot()));
    }
    const qint64 room = QStorageInfo(small).bytesAvailable();
    // 20,000 rows fill the disk on the way; 800 fit, but not twice over as the close of a workbook
    // needs (without room for it the library would leave a cut sheet and report success).
    const QList<std::pair<QString, int>> cases{{QStringLiteral("libri.csv"), 20000},
                                               {QStringLiteral("libri.xlsx"), 20000},
                                               {QStringLiteral("libri.xlsx"), 800}};
    for (const auto& [name, rows] : cases) {
        QString description;
        QCOMPARE(errorOf([&] { writeRows(QDir(small).filePath(name), rows); }, &description), int(store::ErrDiskFull));
        QVERIFY2(description.contains(QStringLiteral("pieno")), qPrintable(description));
        QCOMPARE(filesIn(small), QStringList());
        // No working file is left open holding the disk's room.
        QStorageInfo disk(small);
        disk.refresh();
        QCOMPARE(disk.bytesAvailable(), room);
    }
    // Room for a small one: written whole.
    writeRows(QDir(small).filePath(QStringLiteral("poche.xlsx")), 20);
    QCOMPARE(filesIn(small), QStringList{QStringLiteral("poche.xlsx")});
}

void TestFormats::workbookHoldsNumbersDatesAndStyles()
{
    const QString file = path(QStringLiteral("libri.xlsx"));
    const QString longTitle(200, QLatin1Char('T'));
    {
        const auto writer = exchange::writerFor(file, QStringLiteral("Libri: [tutti]/prestati?"));
        writer->writeHeader({QStringLiteral("Codice"), QStringLiteral("Titolo"), QStringLiteral("Costo euro"),
                             QStringLiteral("Data acquisto"), QStringLiteral("Anno")});
        writer->writeRow({Cell::ofInteger(42), Cell::ofText(QStringLiteral("  =Caffè & \"rose\" <b>  ")),
                          Cell::ofAmount(12.5), Cell::ofDate(QDate(1998, 3, 5)), Cell::ofInteger(1998)});
        writer->writeRow(
            {Cell::ofInteger(43), Cell::ofText(longTitle), Cell(), Cell::ofDate(QDate(1850, 1, 2)), Cell()});
        writer->finish();
    }
    QCOMPARE(filesIn(m_dir->path()), QStringList{QStringLiteral("libri.xlsx")});
    QCOMPARE(exchange::kindOf(file), FileKind::Xlsx);

    const QString sheet = unzipped(file, QStringLiteral("xl/worksheets/sheet1.xml"));
    const QString styles = unzipped(file, QStringLiteral("xl/styles.xml"));
    const QString book = unzipped(file, QStringLiteral("xl/workbook.xml"));
    QVERIFY2(!sheet.isEmpty() && !styles.isEmpty() && !book.isEmpty(), "unzip could not read the workbook");

    // The sheet's name, made one a workbook takes.
    QVERIFY2(book.contains(QStringLiteral("name=\"Libri_ _tutti__prestati_\"")), qPrintable(book));
    // The header frozen.
    QVERIFY2(sheet.contains(QRegularExpression(QStringLiteral("<pane [^>]*ySplit=\"1\"[^>]*state=\"frozen\""))),
             qPrintable(sheet));

    // The styles: the header's bold font, the amount's and the date's formats.
    const auto styleIndex = [&](const QString& cellRef) {
        const QRegularExpression cell(QStringLiteral("<c r=\"%1\"([^>]*)>").arg(cellRef));
        const QRegularExpressionMatch match = cell.match(sheet);
        const QRegularExpressionMatch style =
            QRegularExpression(QStringLiteral("s=\"(\\d+)\"")).match(match.captured(1));
        return style.hasMatch() ? style.captured(1).toInt() : 0;
    };
    const QString xfs = styles.section(QStringLiteral("<cellXfs"), 1).section(QStringLiteral("</cellXfs>"), 0, 0);
    const QStringList xfList = xfs.split(QStringLiteral("<xf "), Qt::SkipEmptyParts).mid(1);
    const auto xfOf = [&](const QString& cellRef) { return xfList.value(styleIndex(cellRef)); };
    const auto formatId = [&](const QString& code) {
        const QRegularExpressionMatch m =
            QRegularExpression(
                QStringLiteral("<numFmt numFmtId=\"(\\d+)\" formatCode=\"%1\"").arg(QRegularExpression::escape(code)))
                .match(styles);
        return m.hasMatch() ? m.captured(1) : QString();
    };
    QVERIFY2(!formatId(QStringLiteral("0.00")).isEmpty() || styles.contains(QStringLiteral("numFmtId=\"2\"")),
             qPrintable(styles));
    QVERIFY2(!formatId(QStringLiteral("dd/mm/yyyy")).isEmpty(), qPrintable(styles));
    QVERIFY2(xfOf(QStringLiteral("C2")).contains(QStringLiteral("numFmtId=\"2\"")) ||
                 xfOf(QStringLiteral("C2"))
                     .contains(QStringLiteral("numFmtId=\"%1\"").arg(formatId(QStringLiteral("0.00")))),
             qPrintable(xfOf(QStringLiteral("C2"))));
    QVERIFY2(xfOf(QStringLiteral("D2"))
                 .contains(QStringLiteral("numFmtId=\"%1\"").arg(formatId(QStringLiteral("dd/mm/yyyy")))),
             qPrintable(xfOf(QStringLiteral("D2"))));
    // The header's font is bold (font 1 after the default font 0).
    const QRegularExpressionMatch font =
        QRegularExpression(QStringLiteral("fontId=\"(\\d+)\"")).match(xfOf(QStringLiteral("A1")));
    QVERIFY(font.hasMatch());
    const QStringList fonts = styles.section(QStringLiteral("<fonts"), 1)
                                  .section(QStringLiteral("</fonts>"), 0, 0)
                                  .split(QStringLiteral("<font>"), Qt::SkipEmptyParts)
                                  .mid(1);
    QVERIFY2(fonts.value(font.captured(1).toInt()).contains(QStringLiteral("<b/>")), qPrintable(styles));
    QVERIFY(!xfOf(QStringLiteral("A2")).contains(QStringLiteral("fontId=\"%1\"").arg(font.captured(1))) ||
            font.captured(1) == QStringLiteral("0"));

    // Keys and years as numbers, the amount as a number, the date as its serial number.
    const auto cellXml = [&](const QString& cellRef) {
        return QRegularExpression(QStringLiteral("<c r=\"%1\"[^>]*>.*?</c>").arg(cellRef)).match(sheet).captured(0);
    };
    QVERIFY2(cellXml(QStringLiteral("A2")).contains(QStringLiteral("<v>42</v>")), qPrintable(cellXml("A2")));
    QVERIFY(!cellXml(QStringLiteral("A2")).contains(QStringLiteral("t=\"")));
    QVERIFY(cellXml(QStringLiteral("E2")).contains(QStringLiteral("<v>1998</v>")));
    QVERIFY(cellXml(QStringLiteral("C2")).contains(QStringLiteral("<v>12.5</v>")));
    QVERIFY2(
        cellXml(QStringLiteral("D2")).contains(QStringLiteral("<v>%1</v>").arg(qint64(excelSerial(QDate(1998, 3, 5))))),
        qPrintable(cellXml(QStringLiteral("D2"))));
    // A text that looks like a formula stays a text, spaces and all; a date before 1900 a text.
    const QString title = cellXml(QStringLiteral("B2"));
    QVERIFY(!title.contains(QStringLiteral("<f>")));
    QVERIFY2(title.contains(QStringLiteral("  =Caffè &amp; &quot;rose&quot; &lt;b&gt;  ")) ||
                 title.contains(QStringLiteral("  =Caffè &amp; \"rose\" &lt;b&gt;  ")),
             qPrintable(title));
    QVERIFY2(title.contains(QStringLiteral("xml:space=\"preserve\"")), qPrintable(title));
    QVERIFY(cellXml(QStringLiteral("D3")).contains(QStringLiteral("02/01/1850")));

    // Widths fitted within bounds: the key's column at the narrowest, the long title's at 60.
    const auto width = [&](int column) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("<col min=\"%1\" max=\"%1\" width=\"([0-9.]+)\"").arg(column))
                .match(sheet);
        return m.hasMatch() ? m.captured(1).toDouble() : -1.0;
    };
    // "Codice" in bold and a space: 8; "Anno": the narrowest, 6; the long title: the widest, 60.
    QVERIFY2(width(1) >= 8 && width(1) < 9, qPrintable(sheet.left(1000)));
    QVERIFY(width(5) >= 6 && width(5) < 7);
    QVERIFY(width(2) >= 60 && width(2) < 61);
    QVERIFY(width(4) >= 15 && width(4) < 16);

    QCOMPARE(exchange::sheetName(QStringLiteral("'citazione'")), QStringLiteral("citazione"));
    QCOMPARE(exchange::sheetName(QString(40, QLatin1Char('a'))).size(), 31);
    QCOMPARE(exchange::sheetName(QStringLiteral("''")), QStringLiteral("Foglio1"));
}

void TestFormats::oldWorkbookIsRead()
{
    const QString file = path(QStringLiteral("catalogo.xls"));
    QVERIFY(writeFile(file, xlsFile({
                                {0, 0, XlsCell::Text, QStringLiteral("Titolo"), 0},
                                {0, 1, XlsCell::Text, QStringLiteral("Anno"), 0},
                                {0, 2, XlsCell::Text, QStringLiteral("Prezzo"), 0},
                                {0, 3, XlsCell::Text, QStringLiteral("Acquisto"), 0},
                                {1, 0, XlsCell::Text, QStringLiteral("Perché l'€ è così"), 0},
                                {1, 1, XlsCell::Number, {}, 1998},
                                {1, 2, XlsCell::Number, {}, 12.5},
                                {1, 3, XlsCell::Date, {}, excelSerial(QDate(1998, 3, 5))},
                                // Row 3 empty; row 4 with a gap and nothing after it.
                                {3, 0, XlsCell::Text, QStringLiteral("Senza anno"), 0},
                                {3, 2, XlsCell::Number, {}, -0.25},
                            })));
    QCOMPARE(exchange::kindOf(file), FileKind::Xls);
    const auto reader = exchange::xlsReader(file);
    const QList<ReadRow> rows = readAll(*reader);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows.at(0).fields, (QStringList{QStringLiteral("Titolo"), QStringLiteral("Anno"), QStringLiteral("Prezzo"),
                                             QStringLiteral("Acquisto")}));
    QCOMPARE(rows.at(1).fields, (QStringList{QStringLiteral("Perché l'€ è così"), QStringLiteral("1998"),
                                             QStringLiteral("12.5"), QStringLiteral("05/03/1998")}));
    QCOMPARE(rows.at(2).fields, (QStringList{QStringLiteral("Senza anno"), QString(), QStringLiteral("-0.25")}));
    QCOMPARE(rows.at(2).line, 4);
    QCOMPARE(reader->progress(), 1000);
    reader->rewind();
    QCOMPARE(readAll(*reader).size(), 3);
}

void TestFormats::damagedAndForeignWorkbooksAreRefused()
{
    const QByteArray whole =
        xlsFile({{0, 0, XlsCell::Text, QStringLiteral("Titolo"), 0}, {1, 0, XlsCell::Text, QStringLiteral("Uno"), 0}});
    QString description;
    // Cut at several places: always refused with a reason, never a crash.
    for (const int size : {8, 100, 512, 1024, 1536, 3000, int(whole.size()) - 600}) {
        const QString file = path(QStringLiteral("tagliato%1.xls").arg(size));
        QVERIFY(writeFile(file, whole.left(size)));
        QCOMPARE(exchange::kindOf(file), FileKind::Xls);
        const int error = errorOf(
            [&] {
                const auto reader = exchange::xlsReader(file);
                readAll(*reader);
            },
            &description);
        QVERIFY2(error == store::ErrNotATable, qPrintable(QStringLiteral("%1: %2").arg(size).arg(error)));
        QVERIFY(!description.isEmpty());
    }

    // A compound file that is not a workbook (a text document's container).
    const QString foreign = path(QStringLiteral("documento.xls"));
    QVERIFY(writeFile(foreign, compoundFile(QStringLiteral("WordDocument"), QByteArray(5000, 'w'))));
    QCOMPARE(exchange::kindOf(foreign), FileKind::Xls);
    QCOMPARE(errorOf([&] { exchange::xlsReader(foreign); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("Il file non è una cartella di Excel 97-2003."));

    // Protected by a password.
    const QString locked = path(QStringLiteral("protetto.xls"));
    QVERIFY(writeFile(locked, xlsFile({{0, 0, XlsCell::Text, QStringLiteral("Titolo"), 0}}, true)));
    QCOMPARE(errorOf([&] { exchange::xlsReader(locked); }, &description), int(store::ErrNotATable));
    QCOMPARE(description, QStringLiteral("La cartella di Excel è protetta da una password."));
}

CARTEO_TEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
