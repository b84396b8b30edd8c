#include "store/Catalogue.h"

#include "store/Archive.h"
#include "store/DbError.h"

namespace store::catalogue {
namespace {

// Random tries before looking for a gap: with the catalogue nine tenths full, 64 misses in a row
// happen about once in a thousand.
constexpr int kRandomTries = 64;

} // namespace

std::optional<qint64> freeBookKey(Archive& archive, const std::function<qint64()>& random)
{
    Statement taken = archive.prepareExact(QStringLiteral("SELECT 1 FROM biblio WHERE id = ?"));
    for (int attempt = 0; attempt < kRandomTries; ++attempt) {
        const qint64 key = random();
        if (key < 1 || key > kHighestBookKey) {
            continue;
        }
        taken.reset();
        taken.bindInt(1, key);
        if (!taken.step()) {
            return key;
        }
    }
    // The first gap, walking the keys in order: key 1, or the key after one whose successor is free.
    taken.reset();
    taken.bindInt(1, 1);
    if (!taken.step()) {
        return 1;
    }
    Statement gap =
        archive.prepareExact(QStringLiteral("SELECT b.id + 1 FROM biblio b WHERE b.id >= 1 AND b.id < ? AND NOT EXISTS "
                                            "(SELECT 1 FROM biblio n WHERE n.id = b.id + 1) ORDER BY b.id LIMIT 1"));
    gap.bindInt(1, kHighestBookKey);
    if (gap.step()) {
        return gap.int64(0);
    }
    return std::nullopt;
}

LinkOutcome linkAuthor(Archive& archive, qint64 book, qint64 author)
{
    Transaction transaction(archive);
    const auto exists = [&archive](const QString& sqlText, qint64 key) {
        Statement st = archive.prepareExact(sqlText);
        st.bindInt(1, key);
        return st.step();
    };
    if (!exists(QStringLiteral("SELECT 1 FROM biblio WHERE id = ?"), book)) {
        return LinkOutcome::BookGone;
    }
    if (!exists(QStringLiteral("SELECT 1 FROM autore WHERE ID_autore = ?"), author)) {
        return LinkOutcome::AuthorGone;
    }
    Statement link = archive.prepareExact(
        QStringLiteral("INSERT OR IGNORE INTO autbiblio (ID_biblio, ID_autore) VALUES (?, ?)"));
    link.bindInt(1, book);
    link.bindInt(2, author);
    link.step();
    const bool added = archive.changes() > 0;
    transaction.commit();
    return added ? LinkOutcome::Linked : LinkOutcome::AlreadyLinked;
}

std::optional<QString> bookTitle(Archive& archive, qint64 book)
{
    Statement title = archive.prepareExact(QStringLiteral("SELECT titolo FROM biblio WHERE id = ?"));
    title.bindInt(1, book);
    if (!title.step()) {
        return std::nullopt;
    }
    return title.value(0).toString();
}

QList<qint64> bookKeysBetween(Archive& archive, qint64 first, qint64 last)
{
    Statement keys = archive.prepareExact(QStringLiteral("SELECT id FROM biblio WHERE id BETWEEN ? AND ? ORDER BY id"));
    keys.bindInt(1, first);
    keys.bindInt(2, last);
    QList<qint64> found;
    while (keys.step()) {
        found << keys.int64(0);
    }
    return found;
}

} // namespace store::catalogue
