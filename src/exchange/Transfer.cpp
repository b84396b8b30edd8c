#include "exchange/Transfer.h"

#include "exchange/JetArchive.h"

#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Backups.h"
#include "store/Catalogue.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "store/Transfer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <chrono>
#include <cmath>
#include <future>

namespace exchange {
namespace {

using store::transfer::Book;
using store::transfer::Importer;

// Rows between two calls of the progress: a few milliseconds of work.
constexpr int kRowsPerReport = 256;

bool sameText(const QString& a, const QString& b)
{
    return store::compareText(a, b) == 0;
}

// ---- Values between the archive and the file -------------------------------------------------

int columnIndex(const FieldInfo& info)
{
    return info.column.isEmpty() ? -1 : int(store::transfer::bookColumns().indexOf(info.column));
}

std::optional<qint64> wholeNumber(const QVariant& value)
{
    if (value.isNull()) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || std::floor(number) != number || std::fabs(number) > 1e15) {
        return std::nullopt;
    }
    return qint64(number);
}

QDate dateOf(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})[/.-](\\d{1,2})[/.-](\\d{4})\\s*$"));
    static const QRegularExpression iso(QStringLiteral("^\\s*(\\d{4})-(\\d{1,2})-(\\d{1,2})\\s*$"));
    if (const QRegularExpressionMatch m = pattern.match(text); m.hasMatch()) {
        return QDate(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    }
    if (const QRegularExpressionMatch m = iso.match(text); m.hasMatch()) {
        return QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    }
    return {};
}

// The cell export writes for a column of the archive.
Cell cellOf(const FieldInfo& info, const QVariant& value)
{
    if (value.isNull()) {
        return {};
    }
    const QString text = value.toString();
    switch (info.kind) {
    case Cell::Kind::Integer:
        if (info.field == Field::Year) {
            static const QRegularExpression year(QStringLiteral("^[1-9]\\d{0,3}$"));
            return year.match(text).hasMatch() ? Cell::ofInteger(text.toLongLong()) : Cell::ofText(text);
        }
        if (const auto whole = wholeNumber(value)) {
            return Cell::ofInteger(*whole);
        }
        return Cell::ofText(text);
    case Cell::Kind::Amount: {
        bool ok = false;
        const double amount = value.toDouble(&ok);
        return ok ? Cell::ofAmount(amount) : Cell::ofText(text);
    }
    case Cell::Kind::Date: {
        const QDate date = dateOf(text);
        // Only a date written as the program writes it goes out as a date: anything else keeps its text.
        return date.isValid() && date.toString(QStringLiteral("dd/MM/yyyy")) == text ? Cell::ofDate(date)
                                                                                     : Cell::ofText(text);
    }
    default:
        return Cell::ofText(text);
    }
}

// A number as typed in a file: "12,50", "12.50", "€ 1.234,56", "1.000" (thousands).
std::optional<double> numberOf(QString text, bool whole)
{
    text.remove(QChar(0x20AC));
    text.remove(QLatin1Char(' '));
    text.remove(QChar(0xA0));
    if (text.isEmpty()) {
        return std::nullopt;
    }
    static const QRegularExpression thousands(QStringLiteral("^-?\\d{1,3}(\\.\\d{3})+$"));
    const int comma = int(text.lastIndexOf(QLatin1Char(',')));
    const int dot = int(text.lastIndexOf(QLatin1Char('.')));
    if (comma >= 0 && dot >= 0) {
        if (comma > dot) {
            text.remove(QLatin1Char('.'));
            text.replace(QLatin1Char(','), QLatin1Char('.'));
        } else {
            text.remove(QLatin1Char(','));
        }
    } else if (comma >= 0) {
        text.replace(QLatin1Char(','), QLatin1Char('.'));
    } else if (whole && thousands.match(text).hasMatch()) {
        text.remove(QLatin1Char('.'));
    }
    static const QRegularExpression plain(QStringLiteral("^-?(\\d+(\\.\\d*)?|\\.\\d+)$"));
    if (!plain.match(text).hasMatch()) {
        return std::nullopt;
    }
    const double number = text.toDouble();
    if (whole && std::floor(number) != number) {
        return std::nullopt;
    }
    return number;
}

// A text cell's formula prefix, put by export, taken off again.
QString unprefixedText(const QString& text)
{
    return unprefixed(text);
}

// A field's text from the file as the archive keeps it; nothing with `problem` set when it cannot be.
QVariant archiveValue(const FieldInfo& info, const QString& raw, QString& problem)
{
    const QString text = info.kind == Cell::Kind::Text ? unprefixedText(raw) : raw.trimmed();
    if (text.isEmpty()) {
        return {};
    }
    switch (info.field) {
    case Field::Year: {
        // A year, or a text with no figure at all ("S.D.", "s.a.": undated, as catalogues write
        // it); "19x8" or "1O98" is a mistake to be told.
        static const QRegularExpression year(QStringLiteral("^\\d{1,4}$"));
        static const QRegularExpression figure(QStringLiteral("\\d"));
        if (!year.match(text).hasMatch() && figure.match(text).hasMatch()) {
            problem = QStringLiteral("anno non valido: %1").arg(text);
        }
        return text;
    }
    case Field::PurchaseDate: {
        const QDate date = dateOf(text);
        if (!date.isValid()) {
            problem = QStringLiteral("data di acquisto non valida: %1").arg(text);
            return text;
        }
        return date.toString(QStringLiteral("dd/MM/yyyy"));
    }
    case Field::CostEuro: {
        const auto number = numberOf(text, false);
        if (!number) {
            problem = QStringLiteral("costo in euro non valido: %1").arg(text);
            return text;
        }
        return *number;
    }
    case Field::CostLire:
    case Field::Pages:
    case Field::PlanX:
    case Field::PlanY: {
        const auto number = numberOf(text, true);
        if (!number) {
            problem = QStringLiteral("numero non valido in «%1»: %2").arg(info.heading, text);
            return text;
        }
        return qint64(*number);
    }
    default:
        return text;
    }
}

// The value as the preview shows it and the import remembers it.
QString shown(const FieldInfo& info, const QVariant& value)
{
    if (value.isNull()) {
        return {};
    }
    if (info.field == Field::CostEuro) {
        return QString::number(value.toDouble(), 'f', 2).replace(QLatin1Char('.'), QLatin1Char(','));
    }
    if (info.kind == Cell::Kind::Integer && info.field != Field::Year) {
        if (const auto whole = wholeNumber(value)) {
            return QString::number(*whole);
        }
    }
    return value.toString();
}

bool sameValue(const FieldInfo& info, const QVariant& a, const QVariant& b)
{
    const bool emptyA = a.isNull() || a.toString().isEmpty();
    const bool emptyB = b.isNull() || b.toString().isEmpty();
    if (emptyA || emptyB) {
        return emptyA == emptyB;
    }
    if (info.field == Field::CostEuro) {
        bool okA = false, okB = false;
        const double x = a.toDouble(&okA), y = b.toDouble(&okB);
        if (okA && okB) {
            return std::fabs(x - y) < 0.005;
        }
    }
    if (info.kind == Cell::Kind::Integer && info.field != Field::Year) {
        const auto x = wholeNumber(a), y = wholeNumber(b);
        if (x && y) {
            return *x == *y;
        }
    }
    return sameText(a.toString(), b.toString());
}

bool sameNames(const QStringList& a, const QStringList& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (int i = 0; i < a.size(); ++i) {
        if (!sameText(a.at(i), b.at(i))) {
            return false;
        }
    }
    return true;
}

// The names once each, as the archive compares them (one author for "ROSSI; Rossi"), empty ones left out.
QStringList distinctNames(const QStringList& names)
{
    QStringList distinct;
    for (const QString& name : names) {
        if (!name.isEmpty() &&
            std::none_of(distinct.cbegin(), distinct.cend(), [&name](const QString& d) { return sameText(d, name); })) {
            distinct << name;
        }
    }
    return distinct;
}

QStringList authorsOf(const QString& text, bool splitOnE)
{
    QString all = unprefixedText(text);
    if (splitOnE) {
        static const QRegularExpression andWord(QStringLiteral("\\s+[eE]\\s+"));
        all.replace(andWord, QStringLiteral(";"));
    }
    QStringList names;
    for (const QString& part : all.split(QLatin1Char(';'))) {
        names << part.trimmed();
    }
    return distinctNames(names);
}

// ---- One row of the file, as import reads it -------------------------------------------------

struct RowData {
    QHash<Field, QVariant> values; // mapped book fields (the key, authors and publisher aside)
    std::optional<qint64> key;
    QString title;
    QStringList authors;
    QString publisher;
};

// What a row would do, with what is needed to do it.
struct Plan {
    Entry entry;
    RowData data;
    std::optional<Book> book; // the matched book
};

class Classifier {
  public:
    Classifier(Importer& importer, const Mapping& mapping) : m_importer(importer), m_mapping(mapping) {}

    Plan classify(const ReadRow& row);

  private:
    bool read(const ReadRow& row, Plan& plan);
    std::optional<Book> match(const RowData& data);
    void compare(Plan& plan);

    Importer& m_importer;
    const Mapping& m_mapping;
    QHash<qint64, int> m_keys;        // key → line of the row that named it
    QHash<QString, int> m_signatures; // title, first author and year → line
};

bool Classifier::read(const ReadRow& row, Plan& plan)
{
    Entry& entry = plan.entry;
    if (!row.problem.isEmpty()) {
        entry.reason = row.problem;
        return false;
    }
    QString problem;
    for (int column = 0; column < m_mapping.columns.size(); ++column) {
        const Field field = m_mapping.columns.at(column);
        if (field == Field::Ignore) {
            continue;
        }
        const QString text = column < row.fields.size() ? row.fields.at(column) : QString();
        switch (field) {
        case Field::Key: {
            const QString typed = text.trimmed();
            if (typed.isEmpty()) {
                break;
            }
            bool ok = false;
            const qint64 key = typed.toLongLong(&ok);
            if (!ok || key < 1 || key > store::catalogue::kHighestBookKey) {
                entry.reason = QStringLiteral("codice non valido: %1").arg(typed);
                return false;
            }
            plan.data.key = key;
            break;
        }
        case Field::Authors:
            plan.data.authors = authorsOf(text, m_mapping.splitOnE);
            break;
        case Field::Publisher:
            plan.data.publisher = unprefixedText(text).trimmed();
            break;
        default: {
            const FieldInfo& info = infoOf(field);
            const QVariant value = archiveValue(info, text, problem);
            plan.data.values.insert(field, value);
            if (field == Field::Title) {
                plan.data.title = value.toString();
                entry.title = plan.data.title;
            }
            break;
        }
        }
    }
    if (!problem.isEmpty()) {
        entry.reason = problem;
        return false;
    }
    return true;
}

std::optional<Book> Classifier::match(const RowData& data)
{
    if (data.key) {
        return m_importer.bookByKey(*data.key);
    }
    if (data.title.isEmpty()) {
        return std::nullopt;
    }
    const QString year = data.values.value(Field::Year).toString();
    for (const Book& book : m_importer.booksTitled(data.title)) {
        if (m_mapping.maps(Field::Year)) {
            const int index = columnIndex(infoOf(Field::Year));
            if (!sameValue(infoOf(Field::Year), book.values.at(index), year)) {
                continue;
            }
        }
        if (m_mapping.maps(Field::Authors)) {
            if (data.authors.isEmpty() != book.authors.isEmpty()) {
                continue;
            }
            if (!data.authors.isEmpty() &&
                std::none_of(book.authors.cbegin(), book.authors.cend(),
                             [&](const QString& name) { return sameText(name, data.authors.first()); })) {
                continue;
            }
        }
        return book;
    }
    return std::nullopt;
}

void Classifier::compare(Plan& plan)
{
    const Book& book = *plan.book;
    Entry& entry = plan.entry;
    // Read only for a book that differs: most rows of a file imported again are equal.
    std::optional<QVariantMap> memory;
    // A field changed in the archive since the last import: what the archive has is not what that
    // import wrote.
    const auto editedSince = [&](const FieldInfo& info, const QString& now) {
        if (!memory) {
            memory = m_importer.lastImported(book.id);
        }
        const auto found = memory->constFind(info.heading);
        if (found == memory->cend()) {
            return false;
        }
        return !sameValue(info, found->toString(), now);
    };
    const auto note = [&](const FieldInfo& info, const QString& before, const QString& after) {
        Change change{info.field, before, after};
        (editedSince(info, before) ? entry.conflicts : entry.changes) << change;
    };
    for (auto it = plan.data.values.cbegin(); it != plan.data.values.cend(); ++it) {
        const FieldInfo& info = infoOf(it.key());
        const QVariant& before = book.values.at(columnIndex(info));
        if (!sameValue(info, before, it.value())) {
            note(info, shown(info, before), shown(info, it.value()));
        }
    }
    if (m_mapping.maps(Field::Authors) && !sameNames(distinctNames(book.authors), plan.data.authors)) {
        note(infoOf(Field::Authors), book.authors.join(QStringLiteral("; ")), plan.data.authors.join(QStringLiteral("; ")));
    }
    if (m_mapping.maps(Field::Publisher) && !sameValue(infoOf(Field::Publisher), book.publisher, plan.data.publisher)) {
        note(infoOf(Field::Publisher), book.publisher, plan.data.publisher);
    }
    if (!entry.changes.isEmpty()) {
        entry.status = Entry::Status::Update;
    } else if (!entry.conflicts.isEmpty()) {
        entry.status = Entry::Status::Conflict;
    } else {
        entry.status = Entry::Status::Same;
    }
}

Plan Classifier::classify(const ReadRow& row)
{
    Plan plan;
    plan.entry.line = row.line;
    plan.entry.status = Entry::Status::Discarded;
    if (!read(row, plan)) {
        return plan;
    }
    RowData& data = plan.data;
    // A row that repeats one above it (by key, or by title, first author and year) is left out.
    const QString signature = data.title.toCaseFolded() + QChar(0x1F) +
                              (data.authors.isEmpty() ? QString() : data.authors.first().toCaseFolded()) +
                              QChar(0x1F) + data.values.value(Field::Year).toString();
    if (data.key) {
        if (const int line = m_keys.value(*data.key); line > 0) {
            plan.entry.reason = QStringLiteral("codice già usato alla riga %1").arg(line);
            return plan;
        }
    } else if (!data.title.isEmpty()) {
        if (const int line = m_signatures.value(signature); line > 0) {
            plan.entry.reason = QStringLiteral("uguale alla riga %1").arg(line);
            return plan;
        }
    }
    plan.book = match(data);
    if (plan.book) {
        if (m_mapping.maps(Field::Title) && data.title.isEmpty()) {
            plan.entry.reason = QStringLiteral("riga senza titolo");
            return plan;
        }
        // Books matched by key: a second row with the same title is another book, not a repeat.
        m_keys.insert(plan.book->id, row.line);
        if (!data.key && !data.title.isEmpty()) {
            m_signatures.insert(signature, row.line);
        }
        plan.entry.book = plan.book->id;
        if (plan.entry.title.isEmpty()) {
            plan.entry.title = plan.book->values.at(0).toString();
        }
        compare(plan);
        return plan;
    }
    if (data.title.isEmpty()) {
        plan.entry.reason = QStringLiteral("riga senza titolo");
        return plan;
    }
    if (data.key) {
        m_keys.insert(*data.key, row.line);
    }
    m_signatures.insert(signature, row.line);
    plan.entry.status = Entry::Status::New;
    return plan;
}

bool allEmpty(const ReadRow& row)
{
    if (!row.problem.isEmpty()) {
        return false;
    }
    return std::all_of(row.fields.cbegin(), row.fields.cend(), [](const QString& f) { return f.trimmed().isEmpty(); });
}

void count(Preview& preview, const Entry& entry)
{
    switch (entry.status) {
    case Entry::Status::New:
        ++preview.news;
        break;
    case Entry::Status::Update:
        ++preview.updates;
        if (!entry.conflicts.isEmpty()) {
            ++preview.conflicting;
        }
        break;
    case Entry::Status::Same:
        ++preview.same;
        return; // not kept: the list would hold the whole file
    case Entry::Status::Discarded:
        ++preview.discarded;
        break;
    case Entry::Status::Conflict:
        ++preview.conflicting;
        break;
    }
    preview.entries << entry;
}

// The preview's reads in short read transactions: one lock and one page cache for a few hundred
// rows instead of one per look-up, released often enough that another desk can save meanwhile.
class ReadSpan {
  public:
    explicit ReadSpan(store::Archive& archive) : m_archive(archive), m_own(!archive.inTransaction())
    {
        // The file's rows are looked up in the file's order, not the archive's: a larger page cache
        // for the run keeps the catalogue's pages read once.
        store::Statement size = m_archive.prepareExact(QStringLiteral("PRAGMA cache_size"));
        m_cacheSize = size.step() ? size.int64(0) : 0;
        m_archive.exec(QStringLiteral("PRAGMA cache_size = -32768"));
        begin();
    }
    ~ReadSpan()
    {
        try {
            m_archive.exec(QStringLiteral("PRAGMA cache_size = %1").arg(m_cacheSize));
        } catch (...) {
        }
        if (m_open) {
            try {
                m_archive.exec(QStringLiteral("COMMIT"));
            } catch (...) {
            }
        }
    }
    ReadSpan(const ReadSpan&) = delete;
    ReadSpan& operator=(const ReadSpan&) = delete;

    // Lets other desks in between two spans.
    void breathe()
    {
        if (m_open) {
            m_open = false;
            m_archive.exec(QStringLiteral("COMMIT"));
            begin();
        }
    }

  private:
    void begin()
    {
        if (m_own) {
            m_archive.exec(QStringLiteral("BEGIN"));
            m_open = true;
        }
    }

    store::Archive& m_archive;
    const bool m_own;
    bool m_open = false;
    qint64 m_cacheSize = 0;
};

// Reads the header and then every row, calling `each` with the row's plan; false when stopped.
bool walk(store::Archive& archive, SheetReader& reader, const Mapping& mapping, const Progress& progress,
          Preview& preview, const std::function<void(Plan&)>& each)
{
    reader.rewind();
    ReadRow row;
    if (!reader.next(row)) {
        throw store::DbError(store::ErrNotATable, QStringLiteral("Il file non contiene righe."));
    }
    ReadSpan span(archive);
    Importer importer(archive);
    Classifier classifier(importer, mapping);
    qint64 read = 0;
    while (reader.next(row)) {
        if (++read % kRowsPerReport == 0) {
            span.breathe();
            if (progress && !progress(reader.progress(), 1000)) {
                preview.stopped = true;
                return false;
            }
        }
        if (allEmpty(row)) {
            continue;
        }
        ++preview.rows;
        Plan plan = classifier.classify(row);
        each(plan);
        count(preview, plan.entry);
    }
    if (progress) {
        progress(1000, 1000);
    }
    return true;
}

// ---- Writing ---------------------------------------------------------------------------------

class Writer {
  public:
    Writer(store::Archive& archive, const Mapping& mapping, const ImportOptions& options)
        : m_importer(archive), m_mapping(mapping), m_options(options)
    {
        m_importer.suspendWords();
    }

    void write(Plan& plan, ImportResult& result);
    // The quick find's entries of the books written, before the commit.
    void finish() { m_importer.refreshWords(); }

  private:
    qint64 authorId(const QString& name)
    {
        const auto found = m_importer.authorNamed(name);
        return found ? *found : m_importer.addAuthor(name);
    }
    qint64 publisherId(const QString& name)
    {
        if (name.isEmpty()) {
            return 0;
        }
        const auto found = m_importer.publisherNamed(name);
        return found ? *found : m_importer.addPublisher(name);
    }
    QList<qint64> authorIds(const QStringList& names)
    {
        QList<qint64> ids;
        for (const QString& name : names) {
            const qint64 id = authorId(name);
            if (!ids.contains(id)) {
                ids << id;
            }
        }
        return ids;
    }
    QVariantMap memoryOf(const RowData& data) const;

    Importer m_importer;
    const Mapping& m_mapping;
    const ImportOptions& m_options;
};

QVariantMap Writer::memoryOf(const RowData& data) const
{
    QVariantMap memory;
    for (auto it = data.values.cbegin(); it != data.values.cend(); ++it) {
        const FieldInfo& info = infoOf(it.key());
        memory.insert(info.heading, shown(info, it.value()));
    }
    if (m_mapping.maps(Field::Authors)) {
        memory.insert(infoOf(Field::Authors).heading, data.authors.join(QStringLiteral("; ")));
    }
    if (m_mapping.maps(Field::Publisher)) {
        memory.insert(infoOf(Field::Publisher).heading, data.publisher);
    }
    return memory;
}

void Writer::write(Plan& plan, ImportResult& result)
{
    const Entry& entry = plan.entry;
    RowData& data = plan.data;
    if (entry.status == Entry::Status::Discarded) {
        return;
    }
    if (entry.status == Entry::Status::New) {
        QVariantList values(store::transfer::bookColumns().size());
        for (auto it = data.values.cbegin(); it != data.values.cend(); ++it) {
            values[columnIndex(infoOf(it.key()))] = it.value();
        }
        const qint64 id = m_importer.addBook(data.key, values, publisherId(data.publisher));
        if (!data.authors.isEmpty()) {
            m_importer.setAuthors(id, authorIds(data.authors));
        }
        m_importer.rememberImported(id, memoryOf(data));
        ++result.added;
        return;
    }
    const qint64 id = entry.book;
    if (m_options.updateMatched) {
        QList<Change> writing = entry.changes;
        if (m_options.overwriteConflicts) {
            writing << entry.conflicts;
        }
        QList<std::pair<int, QVariant>> columns;
        for (const Change& change : writing) {
            if (change.field == Field::Authors) {
                m_importer.setAuthors(id, authorIds(data.authors));
            } else if (change.field == Field::Publisher) {
                m_importer.setPublisher(id, publisherId(data.publisher));
            } else {
                columns << std::pair{columnIndex(infoOf(change.field)), data.values.value(change.field)};
            }
        }
        m_importer.updateBook(id, columns);
        if (!writing.isEmpty()) {
            ++result.updated;
        }
    }
    // What this file says is remembered even for the books it left as they were, so that a field
    // changed in the archive after today is told apart from a field the next file changes. A field
    // in conflict keeps its earlier memory unless it was written.
    QVariantMap memory = memoryOf(data);
    if (!(m_options.updateMatched && m_options.overwriteConflicts)) {
        const QVariantMap earlier = m_importer.lastImported(id);
        for (const Change& change : entry.conflicts) {
            const QString name = infoOf(change.field).heading;
            if (earlier.contains(name)) {
                memory.insert(name, earlier.value(name));
            }
        }
    }
    if (!m_options.updateMatched) {
        // Nothing was written: what the archive has stays the reference.
        return;
    }
    if (memory != m_importer.lastImported(id)) {
        m_importer.rememberImported(id, memory);
    }
}

// Runs `work`, which cannot be cut in pieces (a workbook compressed at its closing, the archive's
// copy, the commit of an import), on a thread of its own while the progress is told every few
// hundredths of a second, so that a window stays answered. Returns false when the progress asked
// to stop meanwhile (the work was done all the same); the work's errors come back here.
bool answering(const Progress& progress, qint64 done, qint64 total, const std::function<void()>& work)
{
    if (!progress) {
        work();
        return true;
    }
    bool go = true;
    std::future<void> running = std::async(std::launch::async, work);
    while (running.wait_for(std::chrono::milliseconds(40)) != std::future_status::ready) {
        go = progress(done, total) && go;
    }
    running.get();
    return go;
}

void finishAnswering(SheetWriter& writer, const Progress& progress, qint64 total)
{
    answering(progress, total, total, [&writer] { writer.finish(); });
}

QString copyName(const QString& archivePath, const QDateTime& now)
{
    const QFileInfo info(archivePath);
    return info.completeBaseName() + QStringLiteral(" prima dell'importazione ") +
           now.toString(QStringLiteral("yyyy-MM-dd hh-mm-ss")) +
           (info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix());
}

} // namespace

// ---- Export ----------------------------------------------------------------------------------

ExportResult exportBooks(store::Archive& archive, const QString& path, const std::optional<QList<qint64>>& keys,
                         const Progress& progress)
{
    ExportResult result;
    std::unique_ptr<SheetWriter> writer = writerFor(path, QStringLiteral("Libri"));
    QStringList headings;
    for (const FieldInfo& info : bookFields()) {
        headings << info.heading;
    }
    writer->writeHeader(headings);
    QList<qint64> unique;
    if (keys) {
        QSet<qint64> seen;
        for (const qint64 key : *keys) {
            if (!seen.contains(key)) {
                seen.insert(key);
                unique << key;
            }
        }
    }
    const qint64 total = keys ? unique.size() : store::transfer::bookCount(archive);
    store::transfer::forEachBook(archive, keys ? &unique : nullptr, [&](const Book& book) {
        Row row;
        row.reserve(bookFields().size());
        for (const FieldInfo& info : bookFields()) {
            switch (info.field) {
            case Field::Key:
                row << Cell::ofInteger(book.id);
                break;
            case Field::Authors:
                row << Cell::ofText(book.authors.join(QStringLiteral("; ")));
                break;
            case Field::Publisher:
                row << Cell::ofText(book.publisher);
                break;
            default:
                row << cellOf(info, book.values.at(columnIndex(info)));
            }
        }
        writer->writeRow(row);
        if (++result.rows % kRowsPerReport == 0 && progress && !progress(result.rows, total)) {
            result.stopped = true;
            return false;
        }
        return true;
    });
    if (result.stopped) {
        return result; // the writer leaves nothing behind
    }
    finishAnswering(*writer, progress, total);
    if (progress) {
        progress(total, total);
    }
    return result;
}

namespace {

ExportResult exportList(store::Archive& archive, const QString& path, store::transfer::List list,
                        const QStringList& headings, const QString& sheet, const Progress& progress)
{
    ExportResult result;
    std::unique_ptr<SheetWriter> writer = writerFor(path, sheet);
    writer->writeHeader(headings);
    const qint64 total = store::transfer::listCount(archive, list);
    store::transfer::forEachListRow(archive, list, [&](const QVariantList& values) {
        Row row;
        for (const QVariant& value : values) {
            row << Cell::ofText(value.toString());
        }
        writer->writeRow(row);
        if (++result.rows % kRowsPerReport == 0 && progress && !progress(result.rows, total)) {
            result.stopped = true;
            return false;
        }
        return true;
    });
    if (!result.stopped) {
        finishAnswering(*writer, progress, total);
    }
    return result;
}

} // namespace

ExportResult exportAuthors(store::Archive& archive, const QString& path, const Progress& progress)
{
    return exportList(archive, path, store::transfer::List::Authors, authorHeadings(), QStringLiteral("Autori"),
                      progress);
}

ExportResult exportPublishers(store::Archive& archive, const QString& path, const Progress& progress)
{
    return exportList(archive, path, store::transfer::List::Publishers, publisherHeadings(),
                      QStringLiteral("Editori"), progress);
}

// ---- Import ----------------------------------------------------------------------------------

Source detectSource(const QString& path)
{
    Source source;
    source.path = path;
    source.kind = kindOf(path);
    switch (source.kind) {
    case FileKind::Empty:
        throw store::DbError(store::ErrNotATable, QStringLiteral("Il file %1 è vuoto.").arg(QFileInfo(path).fileName()));
    case FileKind::NotTable:
        throw store::DbError(store::ErrNotATable,
                             QStringLiteral("Il file %1 non è un testo CSV, né una cartella di Excel 97-2003 (.xls), "
                                            "né un archivio del programma precedente.")
                                 .arg(QFileInfo(path).fileName()));
    case FileKind::Xlsx:
        throw store::DbError(store::ErrNotATable,
                             QStringLiteral("Il file %1 è una cartella di Excel 2007 o successiva (.xlsx): salvarla "
                                            "da Excel come \"Cartella di lavoro Excel 97-2003 (.xls)\" o come CSV, e "
                                            "importare quel file.")
                                 .arg(QFileInfo(path).fileName()));
    case FileKind::Csv: {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            throw store::DbError(store::ErrNotATable,
                                 QStringLiteral("Il file %1 non può essere letto.").arg(QFileInfo(path).fileName()));
        }
        source.csv = detectCsv(file.read(1 << 20));
        break;
    }
    case FileKind::Xls:
    case FileKind::Legacy:
        break;
    }
    return source;
}

std::unique_ptr<SheetReader> openSource(const Source& source)
{
    if (source.kind == FileKind::Xls) {
        return xlsReader(source.path);
    }
    if (source.kind == FileKind::Legacy) {
        return legacyReader(source.path);
    }
    return csvReader(source.path, source.csv);
}

Mapping guessMapping(const QStringList& header)
{
    Mapping mapping;
    for (const QString& heading : header) {
        const Field field = guessField(heading);
        mapping.columns << (field != Field::Ignore && mapping.maps(field) ? Field::Ignore : field);
    }
    return mapping;
}

QString Preview::summary() const
{
    QString text = QStringLiteral("%1 nuovi, %2 da aggiornare, %3 uguali, %4 scartati")
                       .arg(news)
                       .arg(updates)
                       .arg(same)
                       .arg(discarded);
    const qint64 conflictsOnly = conflicting - std::count_if(entries.cbegin(), entries.cend(), [](const Entry& e) {
                                     return e.status == Entry::Status::Update && !e.conflicts.isEmpty();
                                 });
    if (conflictsOnly > 0) {
        text += QStringLiteral(", %1 in conflitto").arg(conflictsOnly);
    }
    return text;
}

Preview preview(store::Archive& archive, SheetReader& reader, const Mapping& mapping, const Progress& progress)
{
    Preview result;
    walk(archive, reader, mapping, progress, result, [](Plan&) {});
    return result;
}

namespace {
// The rows written in one transaction of the archive; `result` is also returned.
ImportResult importInto(store::Archive& archive, SheetReader& reader, const Mapping& mapping,
                        const ImportOptions& options, const Progress& progress, ImportResult& result);
} // namespace

ImportResult importRows(store::Archive& archive, SheetReader& reader, const Mapping& mapping,
                        const ImportOptions& options, const Progress& progress)
{
    ImportResult result;
    if (archive.onServer()) {
        // A server archive has no file to copy beside it: the import is one transaction of the
        // server's, and the server's own backups keep what was before.
        return importInto(archive, reader, mapping, options, progress, result);
    }
    const QString folder =
        options.copyFolder.isEmpty() ? store::backups::folderOf(archive.path()) : options.copyFolder;
    if (!QDir().mkpath(folder)) {
        throw store::DbError(store::ErrArchiveFolderReadOnly,
                             QStringLiteral("La cartella %1, dove si fa la copia dell'archivio prima di importare, "
                                            "non può essere creata: nulla è stato importato.")
                                 .arg(QDir::toNativeSeparators(folder)));
    }
    result.copyPath = QDir(folder).filePath(copyName(archive.path(), QDateTime::currentDateTime()));
    const QString source = archive.path(), copy = result.copyPath;
    const bool goOn = answering(progress, 0, 1000, [&source, &copy] { store::files::copyArchive(source, copy); });
    // Nobody opens the copy now: the lock file its making left beside it goes.
    QFile::remove(store::PresenceLock::lockFilePath(result.copyPath));
    // The copy is kept only beside an archive the import changed.
    const auto dropCopy = [&result] {
        QFile::remove(result.copyPath);
        result.copyPath.clear();
    };
    if (!goOn) {
        result.stopped = true;
        dropCopy();
        return result;
    }
    try {
        importInto(archive, reader, mapping, options, progress, result);
        if (result.stopped) {
            dropCopy();
        }
    } catch (...) {
        dropCopy();
        throw;
    }
    return result;
}

namespace {
ImportResult importInto(store::Archive& archive, SheetReader& reader, const Mapping& mapping,
                        const ImportOptions& options, const Progress& progress, ImportResult& result)
{
    {
        store::Transaction transaction(archive);
        Writer writer(archive, mapping, options);
        const bool done = walk(archive, reader, mapping, progress, result.preview,
                               [&](Plan& plan) { writer.write(plan, result); });
        if (!done) {
            result.stopped = true;
            result.added = result.updated = 0;
            return result; // the transaction is rolled back
        }
        // Past this point the import is written whole: a stop asked now comes too late.
        answering(progress, 1000, 1000, [&writer, &transaction] {
            writer.finish();
            transaction.commit();
        });
    }
    return result;
}

} // namespace

} // namespace exchange
