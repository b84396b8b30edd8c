#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// Tables in files: the rows that export writes and import reads, as CSV text or Excel workbooks.
// Every failure is a store::DbError with an Italian description: 3921 for a file that cannot be
// read as a table, 3923 for a workbook that cannot be written; for the disk 61 (full), 70 (a folder
// that cannot be written: permissions, a read-only medium), 76 (a folder that is not there) and 75
// (any other failure to write or read the file).
namespace exchange {

// One value of a row written to a file. A CSV file writes every kind as text; a workbook keeps
// integers, amounts (two decimals) and dates as numbers and dates a spreadsheet can compute with.
struct Cell {
    enum class Kind { Empty, Text, Integer, Amount, Date };
    Kind kind = Kind::Empty;
    QString text;       // Text
    qint64 integer = 0; // Integer
    double amount = 0;  // Amount
    QDate date;         // Date

    static Cell ofText(const QString& text);
    static Cell ofInteger(qint64 value);
    static Cell ofAmount(double value);
    static Cell ofDate(const QDate& date);

    // The cell as a CSV file writes it: integers as digits, amounts with two decimals and a
    // comma ("12,50"), dates as dd/MM/yyyy; a text that a spreadsheet would run as a formula (it
    // starts with =, +, -, @) gets a leading apostrophe (see prefixed()).
    QString csvText() const;
};

// The formula guard of CSV texts. A text made of apostrophes (none or more) followed by =, +, -
// or @ is written with one more apostrophe in front: "=A1" as "'=A1", "-" as "'-", "'=A1" as
// "''=A1"; any other text is written as it is. So a text read back that is one or more
// apostrophes followed by =, +, -, @ was prefixed, and unprefixed() takes one apostrophe away:
// unprefixed(prefixed(t)) == t for every text t, and a text that was never prefixed (it does not
// have that shape) comes back unchanged. Workbooks keep texts as texts and need no prefix.
QString prefixed(const QString& text);
QString unprefixed(const QString& text);
using Row = QList<Cell>;

// A file written row by row: the header first, then the rows, then finish(). Nothing is left at
// `path` when finish() was not reached (the writer is destroyed first, an error was thrown): the
// rows go to a working file that finish() renames.
class SheetWriter {
  public:
    virtual ~SheetWriter() = default;
    virtual void writeHeader(const QStringList& headings) = 0;
    virtual void writeRow(const Row& row) = 0;
    virtual void finish() = 0;
};

// CSV for Italian spreadsheets: UTF-8 with a byte-order mark, ";" between fields, CR LF between
// rows. A field is put between quotes (inner quotes doubled) when it holds a ";", a ",", a tab, a
// quote, a CR or LF, or begins or ends with a space; its text is written exactly as it is, so the
// reader gives it back unchanged (line breaks inside a field included, as they were).
std::unique_ptr<SheetWriter> csvWriter(const QString& path);
// An Excel workbook (.xlsx) with one sheet named `sheetName`: the header row bold and frozen,
// column widths fitted to their texts (within bounds), integers and amounts as numbers (amounts
// shown with two decimals), dates as dates (dd/mm/yyyy).
// The sheet's name is made one a workbook takes (see sheetName()). Rows stream to the disk as they
// come (the library's constant-memory mode, its working files in the target's folder), so 100,000
// rows take little memory; the column widths are counted over every row written and set by
// finish(): the longest text of the column in characters plus one, within 6 and 60. Dates before
// 1900, which a workbook cannot keep as dates, are written as dd/MM/yyyy texts. A text longer
// than a cell takes (32,767 characters) or a row past the sheet's last (1,048,576) stops the
// writing with 3923, so nothing is silently cut.
std::unique_ptr<SheetWriter> xlsxWriter(const QString& path, const QString& sheetName);
// A name a workbook takes for a sheet: the characters []:*?/\ become "_", leading and trailing
// apostrophes go, at most 31 characters, "Foglio1" when nothing is left.
QString sheetName(const QString& name);
// By the file's extension: ".xlsx" (any letter case) a workbook, anything else CSV.
std::unique_ptr<SheetWriter> writerFor(const QString& path, const QString& sheetName);

// How a CSV file's bytes are read.
enum class Encoding { Utf8, Windows1252 };
struct CsvFormat {
    Encoding encoding = Encoding::Utf8;
    QChar separator = QLatin1Char(';'); // ';', ',' or '\t' (the reader takes anything else as ';')
};

// The format that fits the file's first bytes: UTF-8 when they are valid UTF-8 (a byte-order mark
// is skipped either way; a sequence cut by the end of `head` does not count against it; plain
// ASCII is UTF-8), Windows-1252 otherwise. The separator is found over the first 50 complete lines
// (quotes respected, so a quoted ";" or a line break inside quotes does not count): for each of
// ';', tab and ',' the number of fields most lines have, and how many lines have it; the one that
// splits the most lines alike into more than one field wins, then the one giving more fields,
// then ';' before tab before ','. ';' when none splits anything.
CsvFormat detectCsv(const QByteArray& head);
// How many first bytes of a file detectCsv() is meant to see.
inline constexpr qint64 kDetectBytes = 1 << 20;
// detectCsv() of the file's first kDetectBytes. Throws 3921 when the file cannot be opened.
CsvFormat detectCsvFile(const QString& path);

// True when `bytes` are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF); with `cutAtEnd`, a sequence begun in the last three bytes and cut short is accepted.
bool isUtf8(const char* bytes, qsizetype size, bool cutAtEnd = false);

// Windows-1252 bytes as text (the bytes the code page leaves undefined, 81 8D 8F 90 9D, become
// U+FFFD). The program's own table for 80-9F; the rest is Latin-1.
QString fromWindows1252(const QByteArray& bytes);

// One row read from a file. A row that cannot be taken as it is keeps its line and says why, in
// Italian, in `problem` ("virgolette non chiuse", "più di 256 colonne", "caratteri non validi");
// import lists it among the discarded rows.
struct ReadRow {
    QStringList fields;
    int line = 0; // the file's line (CSV) or the sheet's row (workbook) where the row starts, from 1
    QString problem;
};

// Reads a table row by row, the first row being the header. Rows are read from the file as they
// are asked for, so a file of 500,000 rows is never held whole.
class SheetReader {
  public:
    virtual ~SheetReader() = default;
    // The next row; false at the end of the file.
    virtual bool next(ReadRow& row) = 0;
    // How far the reading has gone, 0 to 1000 (for progress bars).
    virtual int progress() const = 0;
    // Starts again from the first row.
    virtual void rewind() = 0;
};

// The most fields a row may have, and the longest a field may be (characters), before the row is
// discarded.
inline constexpr int kMostFields = 256;
inline constexpr int kLongestField = 65536;

// A CSV file read with `format`. Line endings CR LF, LF and CR are all taken (a line break inside
// quotes stays in the field as it was written); a byte-order mark is skipped; an empty line gives
// no row; a NUL byte, or bytes that are not UTF-8 in a UTF-8 file, make their row a discarded one
// ("caratteri non validi"); a quote left open takes the row to the end of the file, and that row
// is discarded ("virgolette non chiuse"); a row with more than kMostFields fields ("più di 256
// colonne") or a field longer than kLongestField ("campo più lungo di 65536 caratteri") is
// discarded without being held, and the next row is read as usual. A field that begins with a
// quote ends at the quote that closes it; what follows up to the separator is added as it is.
// progress() is the bytes read over the file's size at the start. Throws 3921 when the file cannot
// be opened, is empty or is not text (see kindOf(); the description says which).
std::unique_ptr<SheetReader> csvReader(const QString& path, const CsvFormat& format);
// The first sheet of an Excel 97-2003 workbook (.xls): texts as they are, numbers without
// trailing zeros and with a point ("1998", "12.5", "-0.25"), dates and dates with a time as
// dd/MM/yyyy, times as HH:mm:ss. Trailing empty cells of a row are left out and a row without any
// value gives no row; `line` is the sheet's row. The workbook is read whole when opened (the
// format holds at most 65,536 rows); progress() is the rows read over the sheet's rows. Throws
// 3921 when it is not such a workbook, is damaged, or is protected by a password (the description
// says which).
std::unique_ptr<SheetReader> xlsReader(const QString& path);

// What a file to import looks like, judged from its first bytes.
enum class FileKind {
    Csv,      // text
    Xls,      // an Excel 97-2003 workbook
    Xlsx,     // an Excel 2007 workbook (not read: the user is asked to save it as .xls or CSV)
    Empty,    // 0 bytes
    NotTable, // anything else (a picture, an archive, a program)
    Legacy,   // an archive of the earlier engine (Microsoft Jet), read through legacyReader()
};
// By the first bytes: "Standard Jet DB" or "Standard ACE DB" at byte 4 Legacy, D0 CF 11 E0 A1 B1
// 1A E1 (a compound file) Xls, "PK" 03 04 Xlsx, no bytes
// Empty; a NUL byte in the first 4 KB, or more than one control character (other than tab, CR, LF,
// form feed) in every 100 bytes of them, NotTable; anything else Csv. A compound file that is not
// a workbook is told by xlsReader(). Throws 3921 when the file cannot be opened.
FileKind kindOf(const QString& path);
// Why a file of that kind cannot be read as a table, as 3921's description says it ("Il file è
// vuoto." ...); empty for Csv, Xls and Legacy.
QString kindProblem(FileKind kind);

} // namespace exchange
