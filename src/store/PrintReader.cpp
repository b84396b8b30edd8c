#include "store/PrintReader.h"

#include "store/Sql.h"

#include <sqlite3.h>

namespace store {
namespace {

// A read transaction around a few look-ups, when none is open on the connection: the engine takes
// the archive's shared lock once for all of them. It is ended whatever happens.
class ReadTogether {
  public:
    explicit ReadTogether(Archive& archive) : m_db(archive.inTransaction() ? nullptr : archive.handle())
    {
        if (m_db && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
            m_db = nullptr;
        }
        // On a server one snapshot serves the look-ups alike.
        if (archive.onServer() && !archive.inTransaction()) {
            try {
                archive.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
                m_server = &archive;
            } catch (const DbError&) {
            }
        }
    }
    ~ReadTogether()
    {
        if (m_db && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        if (m_server) {
            try {
                m_server->exec(QStringLiteral("ROLLBACK"));
            } catch (const DbError&) {
            }
        }
    }
    ReadTogether(const ReadTogether&) = delete;
    ReadTogether& operator=(const ReadTogether&) = delete;

  private:
    sqlite3* m_db;
    Archive* m_server = nullptr;
};

} // namespace

QVariant RowValues::value(const QString& column) const
{
    if (!m_names) {
        return {};
    }
    for (int i = 0; i < m_names->size(); ++i) {
        if (m_names->at(i).compare(column, Qt::CaseInsensitive) == 0) {
            return m_values[size_t(i)];
        }
    }
    return {};
}

BookPrintReader::BookPrintReader(std::shared_ptr<Archive> archive)
    : m_archive(std::move(archive)),
      m_book(m_archive->prepare(QStringLiteral("select * from biblio where id=?"))),
      m_authors(m_archive->prepare(sql::AuthorsOfBookPrefix + QStringLiteral("?"))),
      m_publisher(m_archive->prepare(QStringLiteral("select nome from editori where id_editore=?")))
{
    QStringList names;
    for (int i = 0; i < m_book.columnCount(); ++i) {
        names.append(m_book.columnName(i));
    }
    m_bookColumns = std::make_shared<const QStringList>(std::move(names));
}

BookPrintReader::~BookPrintReader() = default;

std::optional<BookPrintReader::Book> BookPrintReader::read(qint64 id)
{
    const ReadTogether together(*m_archive);
    std::optional<RowValues> row = book(id);
    if (!row) {
        return std::nullopt;
    }
    Book b;
    b.authors = authorNames(id);
    b.publisher = publisherName(row->value(QStringLiteral("id_edizione")));
    b.row = std::move(*row);
    return b;
}

std::optional<RowValues> BookPrintReader::book(qint64 id)
{
    m_book.reset();
    m_book.bindInt(1, id);
    if (!m_book.step()) {
        m_book.reset();
        return std::nullopt;
    }
    std::vector<QVariant> values;
    values.reserve(size_t(m_book.columnCount()));
    for (int i = 0; i < m_book.columnCount(); ++i) {
        values.push_back(m_book.value(i));
    }
    m_book.reset();
    return RowValues(m_bookColumns, std::move(values));
}

QStringList BookPrintReader::authorNames(qint64 bookId)
{
    m_authors.reset();
    m_authors.bindInt(1, bookId);
    QStringList names;
    while (m_authors.step()) {
        names.append(m_authors.value(2).toString());
    }
    m_authors.reset();
    return names;
}

std::optional<QString> BookPrintReader::publisherName(const QVariant& publisherKey)
{
    if (publisherKey.isNull() || publisherKey.toString().trimmed().isEmpty()) {
        return std::nullopt;
    }
    m_publisher.reset();
    m_publisher.bind(1, publisherKey);
    std::optional<QString> name;
    if (m_publisher.step()) {
        name = m_publisher.value(0).toString();
    }
    m_publisher.reset();
    return name;
}

} // namespace store
