#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace store {

class Archive;

// What export reads and import writes: whole books with their authors and publisher, the authors'
// and publishers' lists, and the values each book had when it was last imported.
namespace transfer {

// The books table's columns but its key and the publisher's link, in table order.
const QStringList& bookColumns();

struct Book {
    qint64 id = 0;
    QVariantList values;  // by bookColumns()
    QStringList authors;  // names, in the order they were linked
    QString publisher;    // the publisher's name; empty when none
    qint64 publisherId = 0; // 0 when none
};

// Calls `each` for the books with the keys `keys`, in that order (a key no book has is passed
// over), or for every book in title order when `keys` is null; stops when `each` returns false.
void forEachBook(Archive& archive, const QList<qint64>* keys, const std::function<bool(const Book&)>& each);
qint64 bookCount(Archive& archive);

enum class List { Authors, Publishers };
// The list's columns (key aside) and its rows in name order, the values by those columns.
QStringList listColumns(List list);
void forEachListRow(Archive& archive, List list, const std::function<bool(const QVariantList&)>& each);
qint64 listCount(Archive& archive, List list);

// Look-ups and writes of an import, inside the caller's transaction. Names and titles compare as
// the archive compares texts (case never counts, accents do); what was looked up is remembered
// for the rest of the import.
class Importer {
  public:
    explicit Importer(Archive& archive);
    ~Importer();
    Importer(const Importer&) = delete;
    Importer& operator=(const Importer&) = delete;

    std::optional<Book> bookByKey(qint64 key);
    // Books with that title, in key order.
    QList<Book> booksTitled(const QString& title);

    // The first author (in key order) with that name; nothing when none.
    std::optional<qint64> authorNamed(const QString& name);
    qint64 addAuthor(const QString& name);
    std::optional<qint64> publisherNamed(const QString& name);
    qint64 addPublisher(const QString& name);

    // Adds a book with the key `key`, or a free key the program chooses when none; `values` by
    // bookColumns() (null for an empty field). Throws 3022 when the key is taken, 3021 when every
    // key is taken.
    qint64 addBook(std::optional<qint64> key, const QVariantList& values, qint64 publisherId);
    // Writes the columns given (by index of bookColumns()) into the book.
    void updateBook(qint64 id, const QList<std::pair<int, QVariant>>& columns);
    // Links the book to its publisher (0 for none).
    void setPublisher(qint64 id, qint64 publisherId);
    // Makes the book's authors exactly `authors`, in that order.
    void setAuthors(qint64 id, const QList<qint64>& authors);

    // A long import: the word index's triggers are left out until refreshWords(), which writes the
    // entries of the books added or changed meanwhile (one each, rather than one per author linked)
    // and puts the triggers back, all inside the caller's transaction.
    void suspendWords();
    void refreshWords();

    // The fields as the last import wrote or found them ({} when the book was never imported), and
    // their recording. Keys are the import's own field names.
    QVariantMap lastImported(qint64 id);
    void rememberImported(qint64 id, const QVariantMap& fields);

  private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace transfer
} // namespace store
