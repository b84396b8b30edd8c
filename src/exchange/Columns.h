#pragma once

#include "exchange/Sheet.h"

#include <QList>
#include <QString>

// The columns of the catalogue in a file: what export writes and what import can fill.
namespace exchange {

enum class Field {
    Ignore, // a column of the file that import leaves out
    Key,    // the book's key ("Codice")
    Title,
    Authors,   // the book's authors, joined by "; "
    Publisher, // the publisher's name
    Position,
    Genre,
    Subject,
    PrintPlace,
    Year,
    Edition,
    PurchaseDate,
    CostLire,
    CostEuro,
    ContainedIn,
    Periodical,
    Issue,
    CurrentPosition,
    State,
    Notes,
    LibraryCode,
    Pages,
    PlanX,
    PlanY,
};

struct FieldInfo {
    Field field;
    QString heading; // as export writes it and the mapping step shows it
    QString column;  // the books table's column; empty for the key, authors and publisher
    Cell::Kind kind; // how a workbook keeps it
};

// Every field but Ignore, in the order export writes them: the key first.
const QList<FieldInfo>& bookFields();
const FieldInfo& infoOf(Field field);

// The field a column heading names ("Titolo", "TITOLO", "titolo del libro", "Autore", "Autori",
// "Casa editrice", "Anno di pubblicazione", "Prezzo"...): letter case, accents, spaces and
// punctuation do not count. Ignore when the heading names none.
Field guessField(const QString& heading);

// The headings of the authors' and the publishers' lists as export writes them.
QStringList authorHeadings();
QStringList publisherHeadings();

} // namespace exchange
