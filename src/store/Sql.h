#pragma once

#include <QString>

// The SQL texts that the windows send, kept exactly as the program has always written them.
// A key appended to a text is the decimal number, with no quotes and no spaces. A value typed by
// the user never becomes part of an SQL text: it is bound as a parameter.
namespace sql {

inline const QString AllBooks = QStringLiteral("Select * from biblio order by titolo");
inline const QString AllBooksForKey = QStringLiteral("select * from biblio order by titolo");
inline const QString AllAuthors = QStringLiteral("Select * from autore order by nome");
inline const QString AuthorsOfBookPrefix =
    QStringLiteral("Select autbiblio.ID_biblio, autbiblio.ID_autore, autore.nome from autbiblio inner join "
                   "autore on autbiblio.id_autore=autore.id_autore where autbiblio.id_biblio=");
inline const QString PublishersForBooks =
    QStringLiteral("Select ID_Editore, nome, residenza from Editori order by nome");
inline const QString AllPublishers = QStringLiteral("Select * from editori order by nome");
inline const QString DistinctGenres =
    QStringLiteral("Select distinct genere from biblio where isnull(genere)=false and genere<>'") +
    QStringLiteral("'") + QStringLiteral(" order by genere");

inline QString authorsOfBook(qint64 bookId)
{
    return AuthorsOfBookPrefix + QString::number(bookId);
}

// Adapts a program SQL text to the engine: the few words the engine reads otherwise (`isnull` is
// a keyword there) are renamed outside string literals, and text columns in `order by` sort with
// the reader's collation, which the indexes are built with. Everything else passes unchanged.
QString translate(const QString& text);
QString renameFunctions(const QString& text);

} // namespace sql
