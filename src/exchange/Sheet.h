#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// Tables in files: the rows that export writes and import reads, as CSV text or Excel workbooks.
// Every failure is a store::DbError with an Italian description (3921 for a file that cannot be
// read as a table, 3923 for a workbook that cannot be written, 61/75/3901 for the disk).
namespace exchange {

// One value of a row written to a file. A CSV file writes every kind as text; a workbook keeps
// integers, amounts (two decimals) and dates as numbers and dates a spreadsheet can compute with.
struct Cell {
    enum class Kind { Empty, Text, Integer, Amount, Date };
    Kind kind = Kind::Empty;
    QString text;     // Text
    qint64 integer = 0; // Integer
    double amount = 0;  // Amount
    QDate date;         // Date

    static Cell ofText(const QString& text);
    static Cell ofInteger(qint64 value);
    static Cell ofAmount(double value);
    static Cell ofDate(const QDate& date);

    // The cell as a CSV file writes it: integers as digits, amounts with two decimals and a
    // comma ("12,50"), dates as dd/MM/yyyy; a text that a spreadsheet would run as a formula (it
    // starts with =, +, -, @) gets a leading apostrophe.
    QString csvText() const;
};
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
// rows, fields with a ";", a quote or a line break between quotes (inner quotes doubled).
std::unique_ptr<SheetWriter> csvWriter(const QString& path);
// An Excel workbook (.xlsx) with one sheet named `sheetName`: the header row bold and frozen,
// column widths fitted to their texts (within bounds), integers and amounts as numbers (amounts
// shown with two decimals), dates as dates (dd/mm/yyyy).
std::unique_ptr<SheetWriter> xlsxWriter(const QString& path, const QString& sheetName);
// By the file's extension: ".xlsx" (any letter case) a workbook, anything else CSV.
std::unique_ptr<SheetWriter> writerFor(const QString& path, const QString& sheetName);

// How a CSV file's bytes are read.
enum class Encoding { Utf8, Windows1252 };
struct CsvFormat {
    Encoding encoding = Encoding::Utf8;
    QChar separator = QLatin1Char(';'); // ';', ',' or '\t'
};

// The format that fits the file's first bytes: UTF-8 when they are valid UTF-8 (a byte-order mark
// is skipped either way), Windows-1252 otherwise; the separator among ';', ',' and tab that splits
// the first lines (quotes respected) into the same number of fields, ';' when in doubt.
CsvFormat detectCsv(const QByteArray& head);

// Windows-1252 bytes as text (the bytes the code page leaves undefined become U+FFFD).
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

// A CSV file read with `format`. Line endings CR LF, LF and CR are all taken; a byte-order mark is
// skipped; a NUL byte makes its row a discarded one; a quote left open takes the row to the end of
// the file, and that row is discarded. Throws 3921 when the file cannot be opened.
std::unique_ptr<SheetReader> csvReader(const QString& path, const CsvFormat& format);
// The first sheet of an Excel 97-2003 workbook (.xls): texts as they are, numbers without
// trailing zeros ("1998", "12.5"), dates as dd/MM/yyyy. Throws 3921 when it is not such a workbook
// (or is protected by a password).
std::unique_ptr<SheetReader> xlsReader(const QString& path);

// What a file to import looks like, judged from its first bytes.
enum class FileKind {
    Csv,       // text
    Xls,       // an Excel 97-2003 workbook
    Xlsx,      // an Excel 2007 workbook (not read: the user is asked to save it as .xls or CSV)
    Empty,     // 0 bytes
    NotTable,  // anything else (a picture, an archive, a program)
};
FileKind kindOf(const QString& path);

} // namespace exchange
