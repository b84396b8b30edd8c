#include "exchange/Sheet.h"
#include "exchange/WorkingFile.h"

#include "store/DbError.h"

#include <QDir>
#include <QFile>

#include <QMap>

#include <array>
#include <cmath>
#include <cstring>

namespace exchange {

using store::DbError;

namespace {

constexpr qsizetype kChunk = 1 << 20;
constexpr qsizetype kFlushAt = 1 << 16;
constexpr int kSniffBytes = 4096;
constexpr int kDetectLines = 50;

bool isFormulaStart(QChar c)
{
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('@');
}

// Apostrophes (none or more) and then =, +, - or @.
bool formulaShaped(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char('\'')) {
        ++i;
    }
    return i < text.size() && isFormulaStart(text.at(i));
}

DbError cannotOpen(const QString& path)
{
    return DbError(store::ErrNotATable,
                   QStringLiteral("Impossibile aprire il file '%1'.").arg(QDir::toNativeSeparators(path)));
}

const std::array<char16_t, 32> kWindows1252High{
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

QString decode(const char* bytes, qsizetype size, Encoding encoding, bool* valid)
{
    if (encoding == Encoding::Utf8) {
        *valid = isUtf8(bytes, size);
        return QString::fromUtf8(bytes, size);
    }
    *valid = true;
    return fromWindows1252(QByteArray::fromRawData(bytes, size));
}

bool needsQuotes(const QString& field)
{
    if (field.isEmpty()) {
        return false;
    }
    if (field.front() == QLatin1Char(' ') || field.back() == QLatin1Char(' ')) {
        return true;
    }
    for (const QChar c : field) {
        switch (c.unicode()) {
        case ';':
        case ',':
        case '\t':
        case '"':
        case '\r':
        case '\n':
            return true;
        default:
            break;
        }
    }
    return false;
}

class CsvWriter : public SheetWriter {
  public:
    explicit CsvWriter(const QString& path) : m_work(path)
    {
        m_file.setFileName(m_work.path());
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            throw m_work.failure();
        }
        m_buffer.append("\xEF\xBB\xBF");
    }

    void writeHeader(const QStringList& headings) override
    {
        QStringList texts;
        texts.reserve(headings.size());
        for (const QString& heading : headings) {
            texts.append(prefixed(heading));
        }
        writeLine(texts);
    }

    void writeRow(const Row& row) override
    {
        QStringList texts;
        texts.reserve(row.size());
        for (const Cell& cell : row) {
            texts.append(cell.csvText());
        }
        writeLine(texts);
    }

    void finish() override
    {
        flush();
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            throw m_work.failure();
        }
        m_work.commit();
    }

  private:
    void writeLine(const QStringList& fields)
    {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0) {
                m_buffer.append(';');
            }
            const QString& field = fields.at(i);
            // A row of one empty field would be an empty line, which readers pass over.
            if (needsQuotes(field) || (fields.size() == 1 && field.isEmpty())) {
                QString quoted = field;
                quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
                m_buffer.append('"').append(quoted.toUtf8()).append('"');
            } else {
                m_buffer.append(field.toUtf8());
            }
        }
        m_buffer.append("\r\n");
        if (m_buffer.size() >= kFlushAt) {
            flush();
        }
    }

    void flush()
    {
        if (m_buffer.isEmpty()) {
            return;
        }
        if (m_file.write(m_buffer) != m_buffer.size()) {
            m_file.close();
            throw m_work.failure();
        }
        m_buffer.clear();
    }

    detail::WorkingFile m_work;
    QFile m_file;
    QByteArray m_buffer;
};

// The separator as a byte: ';', ',' or tab; ';' for anything else (a quote or a line break would
// split nothing, a letter beyond ASCII could not be found among the bytes).
char separatorOf(const CsvFormat& format)
{
    const char16_t c = format.separator.unicode();
    return c == u',' || c == u'\t' ? char(c) : ';';
}

class CsvReader : public SheetReader {
  public:
    CsvReader(const QString& path, const CsvFormat& format)
        : m_file(path), m_encoding(format.encoding), m_separator(separatorOf(format))
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            throw cannotOpen(path);
        }
        m_size = m_file.size();
        rewind();
    }

    bool next(ReadRow& row) override
    {
        row = ReadRow();
        // Empty lines give no row.
        for (;;) {
            const int c = peek();
            if (c == -1) {
                return false;
            }
            if (c != '\r' && c != '\n') {
                break;
            }
            lineBreak();
        }
        row.line = m_line;
        bool open = false;
        bool invalid = false;
        bool tooMany = false;
        bool tooLong = false;
        QByteArray field;
        for (;;) {
            field.clear();
            bool fieldTooLong = false;
            if (peek() == '"') {
                ++m_pos;
                open = !quoted(field, fieldTooLong, invalid);
            }
            if (!open) {
                plain(field, fieldTooLong, invalid);
            }
            if (row.fields.size() < kMostFields) {
                bool valid = true;
                QString text = decode(field.constData(), field.size(), m_encoding, &valid);
                invalid = invalid || !valid;
                fieldTooLong = fieldTooLong || text.size() > kLongestField;
                row.fields.append(fieldTooLong ? QString() : text);
            } else {
                tooMany = true;
            }
            tooLong = tooLong || fieldTooLong;
            const int c = peek();
            if (c == m_separator) {
                ++m_pos;
                continue;
            }
            if (c == '\r' || c == '\n') {
                lineBreak();
            }
            break;
        }
        if (open) {
            row.problem = QStringLiteral("virgolette non chiuse");
        } else if (invalid) {
            row.problem = QStringLiteral("caratteri non validi");
        } else if (tooMany) {
            row.problem = QStringLiteral("più di %1 colonne").arg(kMostFields);
        } else if (tooLong) {
            row.problem = QStringLiteral("campo più lungo di %1 caratteri").arg(kLongestField);
        }
        return true;
    }

    int progress() const override
    {
        if (m_size <= 0) {
            return 1000;
        }
        return int(std::min<qint64>(1000, (m_consumed + m_pos) * 1000 / m_size));
    }

    void rewind() override
    {
        if (!m_file.seek(0)) {
            throw readError();
        }
        m_buffer.clear();
        m_pos = 0;
        m_consumed = 0;
        m_line = 1;
        if (fill() && m_buffer.startsWith("\xEF\xBB\xBF")) {
            m_pos = 3;
        }
    }

  private:
    DbError readError() const
    {
        return DbError(
            store::ErrPathFileAccess,
            QStringLiteral("Impossibile leggere il file '%1'.").arg(QDir::toNativeSeparators(m_file.fileName())));
    }

    // Makes a byte available at m_pos; false at the end of the file.
    bool fill()
    {
        if (m_pos < m_buffer.size()) {
            return true;
        }
        m_consumed += m_buffer.size();
        m_buffer.resize(kChunk);
        const qint64 read = m_file.read(m_buffer.data(), kChunk);
        if (read < 0) {
            throw readError();
        }
        m_buffer.resize(read);
        m_pos = 0;
        return read > 0;
    }

    int peek() { return fill() ? uchar(m_buffer.at(m_pos)) : -1; }

    // Takes CR LF, LF or CR.
    void lineBreak()
    {
        const int c = peek();
        ++m_pos;
        if (c == '\r' && peek() == '\n') {
            ++m_pos;
        }
        ++m_line;
    }

    void append(QByteArray& field, const char* bytes, qsizetype size, bool& tooLong)
    {
        // Characters are at most four bytes: past that many the field is too long anyway.
        if (field.size() + size > qsizetype(kLongestField) * 4) {
            tooLong = true;
            return;
        }
        field.append(bytes, size);
    }

    // The rest of a quoted field, its opening quote taken; false when the file ends first.
    bool quoted(QByteArray& field, bool& tooLong, bool& invalid)
    {
        for (;;) {
            if (!fill()) {
                return false;
            }
            const char* data = m_buffer.constData();
            const qsizetype end = m_buffer.size();
            qsizetype stop = m_pos;
            while (stop < end && data[stop] != '"' && data[stop] != '\r' && data[stop] != '\n' && data[stop] != 0) {
                ++stop;
            }
            append(field, data + m_pos, stop - m_pos, tooLong);
            m_pos = stop;
            if (stop == end) {
                continue;
            }
            const char c = data[stop];
            ++m_pos;
            if (c == '"') {
                if (peek() == '"') {
                    ++m_pos;
                    append(field, "\"", 1, tooLong);
                    continue;
                }
                return true;
            }
            if (c == 0) {
                invalid = true;
                continue;
            }
            append(field, &c, 1, tooLong);
            // A line break inside quotes belongs to the field, but the file's lines still count.
            if (c == '\n' || peek() != '\n') {
                ++m_line;
            }
        }
    }

    // Bytes up to the separator or the line's end.
    void plain(QByteArray& field, bool& tooLong, bool& invalid)
    {
        while (fill()) {
            const char* data = m_buffer.constData();
            const qsizetype end = m_buffer.size();
            qsizetype stop = m_pos;
            while (stop < end && data[stop] != m_separator && data[stop] != '\r' && data[stop] != '\n' &&
                   data[stop] != 0) {
                ++stop;
            }
            append(field, data + m_pos, stop - m_pos, tooLong);
            m_pos = stop;
            if (stop < end) {
                if (data[stop] != 0) {
                    return;
                }
                invalid = true;
                ++m_pos;
            }
        }
    }

    QFile m_file;
    Encoding m_encoding;
    char m_separator;
    qint64 m_size = 0;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    qint64 m_consumed = 0; // bytes of the file before m_buffer
    int m_line = 1;
};

// The number of fields of each complete line of `body` split by `separator` (quotes respected),
// the empty lines passed over.
QList<int> fieldCounts(const QByteArray& body, char separator, bool whole)
{
    QList<int> counts;
    const qsizetype size = body.size();
    qsizetype i = 0;
    while (i < size && counts.size() < kDetectLines) {
        if (body[i] == '\r' || body[i] == '\n') {
            ++i;
            continue;
        }
        int fields = 1;
        bool atStart = true;
        bool inQuotes = false;
        bool ended = false;
        for (; i < size; ++i) {
            const char c = body[i];
            if (inQuotes) {
                if (c == '"') {
                    if (i + 1 < size && body[i + 1] == '"') {
                        ++i;
                    } else {
                        inQuotes = false;
                    }
                }
                continue;
            }
            if (c == '"' && atStart) {
                inQuotes = true;
                atStart = false;
            } else if (c == separator) {
                ++fields;
                atStart = true;
            } else if (c == '\r' || c == '\n') {
                ended = true;
                break;
            } else {
                atStart = false;
            }
        }
        if (ended || (whole && !inQuotes)) {
            counts.append(fields);
        }
    }
    return counts;
}

} // namespace

QString prefixed(const QString& text)
{
    return formulaShaped(text) ? QLatin1Char('\'') + text : text;
}

QString unprefixed(const QString& text)
{
    return text.startsWith(QLatin1Char('\'')) && formulaShaped(text) ? text.mid(1) : text;
}

QString Cell::csvText() const
{
    switch (kind) {
    case Kind::Empty:
        return {};
    case Kind::Text:
        return prefixed(text);
    case Kind::Integer:
        return QString::number(integer);
    case Kind::Amount: {
        if (!std::isfinite(amount)) {
            return {};
        }
        QString digits = QString::number(amount, 'f', 2);
        if (digits == QLatin1String("-0.00")) {
            digits = QStringLiteral("0.00");
        }
        return digits.replace(QLatin1Char('.'), QLatin1Char(','));
    }
    case Kind::Date:
        return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString();
    }
    return {};
}

std::unique_ptr<SheetWriter> csvWriter(const QString& path)
{
    return std::make_unique<CsvWriter>(path);
}

std::unique_ptr<SheetWriter> writerFor(const QString& path, const QString& sheetName)
{
    if (path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)) {
        return xlsxWriter(path, sheetName);
    }
    return csvWriter(path);
}

bool isUtf8(const char* bytes, qsizetype size, bool cutAtEnd)
{
    const auto* s = reinterpret_cast<const uchar*>(bytes);
    qsizetype i = 0;
    while (i < size) {
        // Plain ASCII, eight bytes at a time.
        while (i + 8 <= size) {
            quint64 word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) {
                break;
            }
            i += 8;
        }
        if (i >= size) {
            break;
        }
        const uchar c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        uchar low = 0x80;
        uchar high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) {
                low = 0xA0; // overlong
            } else if (c == 0xED) {
                high = 0x9F; // surrogates
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) {
                low = 0x90; // overlong
            } else if (c == 0xF4) {
                high = 0x8F; // past U+10FFFF
            }
        } else {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= size) {
                return cutAtEnd;
            }
            const uchar next = s[i + k];
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

QString fromWindows1252(const QByteArray& bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char byte : bytes) {
        const uchar c = uchar(byte);
        *out++ = (c >= 0x80 && c < 0xA0) ? QChar(kWindows1252High[c - 0x80]) : QChar(c);
    }
    return text;
}

CsvFormat detectCsv(const QByteArray& head)
{
    CsvFormat format;
    const QByteArray body = head.startsWith("\xEF\xBB\xBF") ? head.mid(3) : head;
    format.encoding = isUtf8(body.constData(), body.size(), true) ? Encoding::Utf8 : Encoding::Windows1252;

    // A head shorter than detectCsv is given is the whole file: its last line counts even without
    // a line break.
    const bool whole = head.size() < kDetectBytes;
    int bestAgree = 0;
    int bestFields = 0;
    for (const char separator : {';', '\t', ','}) {
        const QList<int> counts = fieldCounts(body, separator, whole);
        QMap<int, int> frequency;
        for (const int count : counts) {
            ++frequency[count];
        }
        int agree = 0;
        int fields = 0;
        for (auto it = frequency.cbegin(); it != frequency.cend(); ++it) {
            if (it.key() > 1 && (it.value() > agree || (it.value() == agree && it.key() > fields))) {
                agree = it.value();
                fields = it.key();
            }
        }
        if (agree > bestAgree || (agree == bestAgree && agree > 0 && fields > bestFields)) {
            bestAgree = agree;
            bestFields = fields;
            format.separator = QLatin1Char(separator);
        }
    }
    return format;
}

CsvFormat detectCsvFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw cannotOpen(path);
    }
    return detectCsv(file.read(kDetectBytes));
}

std::unique_ptr<SheetReader> csvReader(const QString& path, const CsvFormat& format)
{
    const FileKind kind = kindOf(path);
    if (kind == FileKind::Xls) {
        throw DbError(store::ErrNotATable,
                      QStringLiteral("Il file è una cartella di Excel 97-2003, non un testo CSV."));
    }
    if (kind != FileKind::Csv) {
        throw DbError(store::ErrNotATable, kindProblem(kind));
    }
    return std::make_unique<CsvReader>(path, format);
}

FileKind kindOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw cannotOpen(path);
    }
    const QByteArray head = file.read(kSniffBytes);
    if (head.isEmpty()) {
        return file.size() == 0 ? FileKind::Empty : FileKind::NotTable;
    }
    if (head.mid(4, 15) == QByteArrayLiteral("Standard Jet DB") || head.mid(4, 15) == QByteArrayLiteral("Standard ACE DB")) {
        return FileKind::Legacy;
    }
    if (head.startsWith(QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8))) {
        return FileKind::Xls;
    }
    if (head.startsWith(QByteArray("PK\x03\x04", 4))) {
        return FileKind::Xlsx;
    }
    int controls = 0;
    for (const char byte : head) {
        const uchar c = uchar(byte);
        if (c == 0) {
            return FileKind::NotTable;
        }
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') || c == 0x7F) {
            ++controls;
        }
    }
    return controls * 100 > head.size() ? FileKind::NotTable : FileKind::Csv;
}

QString kindProblem(FileKind kind)
{
    switch (kind) {
    case FileKind::Empty:
        return QStringLiteral("Il file è vuoto.");
    case FileKind::NotTable:
        return QStringLiteral("Il file non è un testo CSV né una cartella di Excel 97-2003.");
    case FileKind::Xlsx:
        return QStringLiteral("Le cartelle di Excel 2007 e successive (.xlsx) non si possono importare: salvare il "
                              "file in Excel come \"Cartella di lavoro di Excel 97-2003\" (.xls) o come CSV.");
    case FileKind::Csv:
    case FileKind::Xls:
    case FileKind::Legacy:
        break;
    }
    return {};
}

} // namespace exchange
