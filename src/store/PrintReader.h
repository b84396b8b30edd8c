#pragma once

#include "store/Archive.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <vector>

namespace store {

// One stored row, its values by column name (case never counts).
class RowValues {
  public:
    RowValues() = default;
    RowValues(std::shared_ptr<const QStringList> names, std::vector<QVariant> values)
        : m_names(std::move(names)), m_values(std::move(values))
    {
    }
    // Null for a column the row does not have.
    QVariant value(const QString& column) const;

  private:
    std::shared_ptr<const QStringList> m_names;
    std::vector<QVariant> m_values;
};

// What the book printouts read for each book, by key, on the window's own connection: the book's
// row, the names of its authors (in the order the books window lists them) and its publisher's
// name. The statements are prepared once, so a run over the whole catalogue reads each book with
// three look-ups by key. Reads only; throws DbError when the archive cannot be read.
class BookPrintReader {
  public:
    explicit BookPrintReader(std::shared_ptr<Archive> archive);
    ~BookPrintReader();
    BookPrintReader(const BookPrintReader&) = delete;
    BookPrintReader& operator=(const BookPrintReader&) = delete;

    // A book as a printout prints it: its row, its authors' names and its publisher's name, read
    // together under one read lock of the archive (taken and given back once per book, not once
    // per look-up; nothing is held from one book to the next). Nothing when no book has this key.
    struct Book {
        RowValues row;
        QStringList authors;
        std::optional<QString> publisher;
    };
    std::optional<Book> read(qint64 id);

    // Nothing when no book has this key (deleted meanwhile, perhaps on another computer).
    std::optional<RowValues> book(qint64 id);
    QStringList authorNames(qint64 bookId);
    // Nothing for an empty key or a key no publisher has.
    std::optional<QString> publisherName(const QVariant& publisherKey);

  private:
    std::shared_ptr<Archive> m_archive;
    Statement m_book;
    Statement m_authors;
    Statement m_publisher;
    std::shared_ptr<const QStringList> m_bookColumns;
};

} // namespace store
