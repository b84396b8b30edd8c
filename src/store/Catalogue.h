#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace store {

class Archive;

namespace catalogue {

// Book keys are chosen by the program, from 1 to this number.
inline constexpr qint64 kHighestBookKey = 200000;

// A book key that no book has. Random keys (from `random`, in [1, kHighestBookKey]) are tried,
// each with one look-up of the key; in a nearly full catalogue the first free key in key order is
// taken instead. Nothing when every key is taken.
std::optional<qint64> freeBookKey(Archive& archive, const std::function<qint64()>& random);

enum class LinkOutcome { Linked, AlreadyLinked, BookGone, AuthorGone };

// Links the book `book` to the author `author`. The archive itself does not refuse a link to a
// book or an author that is not there, so both are looked up first in the transaction that
// writes the link, and no other computer can delete either in between.
LinkOutcome linkAuthor(Archive& archive, qint64 book, qint64 author);

// The title of the book `book`; nothing when there is no such book.
std::optional<QString> bookTitle(Archive& archive, qint64 book);

// The keys of the books from `first` to `last` (both included), in key order.
QList<qint64> bookKeysBetween(Archive& archive, qint64 first, qint64 last);

} // namespace catalogue
} // namespace store
