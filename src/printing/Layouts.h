#pragma once

#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <optional>

namespace printing {

class PrintSurface;

// The pages of the printouts, laid out on a print surface at its current position. Each printout
// begins with its rule in the font current at that moment, as the run or the card before left it.

// A value of the row being printed, by column name.
using RowValue = std::function<QVariant(const QString& column)>;

// The rule: column 5, then `underscores` underscores.
void printRule(PrintSurface& surface, int underscores);

// The card of one book: its row, its authors' names, its publisher's name when it has one, and its
// photo with the size, in twips, at which the photo viewer shows it (a null picture: no photo).
struct BookCard {
    RowValue book;
    QStringList authors;
    std::optional<QString> publisher;
    QImage photo;
    QSizeF photoShown;
};
void printBookCard(PrintSurface& surface, const BookCard& card);

// The notes of a card: "NOTE: " and the notes in lines of at most 80 characters at column 10.
void printNotes(PrintSurface& surface, const QVariant& notes);

// A column of a list: where it begins, its heading, the field it prints and the characters kept
// (0: all).
struct ListColumn {
    int column = 0;
    QString heading;
    QString field;
    int cut = 0;
};

// A list's beginning: the rule of 140 underscores, the title in "Courier New" 12 bold, the headings
// in 8 bold; it leaves "Courier New" 8 regular for the rows.
void printListHeading(PrintSurface& surface, const QString& title, const QList<ListColumn>& columns);
// One row: each value at its column.
void printListRow(PrintSurface& surface, const QList<ListColumn>& columns, const RowValue& row);

// The catalogue list ("Elenco Biblioteca", landscape): its columns and one title's row with the
// further authors below it at the author's column.
const QList<ListColumn>& catalogueColumns();
void printCatalogueRow(PrintSurface& surface, const RowValue& book, const QStringList& authors,
                       const std::optional<QString>& publisher);

// The authors and publishers lists.
const QList<ListColumn>& authorColumns();
const QList<ListColumn>& publisherColumns();

// The card of an author or a publisher: the rule of 110 underscores, "Scheda di " and the name, each
// other field as caption and value, the notes, and the titles linked to the record.
struct PersonCard {
    QString name;
    QList<std::pair<QString, QVariant>> fields; // caption, value
    QVariant notes;
    QStringList titles;
};
void printPersonCard(PrintSurface& surface, const PersonCard& card);

} // namespace printing
