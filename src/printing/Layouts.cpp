#include "printing/Layouts.h"

#include "printing/PrintSurface.h"
#include "printing/PrintText.h"

namespace printing {
namespace {

const QString kCourier = QStringLiteral("Courier New");

void emptyLine(PrintSurface& s)
{
    s.printLine({});
}

void setFont(PrintSurface& s, qreal points, bool bold)
{
    s.setFontName(kCourier);
    s.setFontSize(points);
    s.setFontBold(bold);
}

// A caption at column 10 and a value at column 30.
void labelled(PrintSurface& s, const QString& caption, const QString& value)
{
    s.printLine({col(10), txt(caption), col(30), txt(value)});
}

} // namespace

void printRule(PrintSurface& surface, int underscores)
{
    surface.printLine({col(5), txt(QString(underscores, QLatin1Char('_')))});
}

void printNotes(PrintSurface& surface, const QVariant& notes)
{
    for (const QString& line : noteLines(QStringLiteral("NOTE: ") + fieldText(notes))) {
        surface.printLine({col(10), txt(line)});
    }
}

void printBookCard(PrintSurface& s, const BookCard& card)
{
    const RowValue& v = card.book;
    printRule(s, 110);
    emptyLine(s);
    const qreal y = s.currentY();
    if (!card.photo.isNull() && !card.photoShown.isEmpty()) {
        const QSizeF half = card.photoShown / 2.0;
        s.paintPicture(card.photo, QRectF(QPointF(400, y), half));
        emptyLine(s);
        s.setCurrentY(y + half.height() + 100);
    }
    setFont(s, 12, true);
    emptyLine(s);
    s.printLine({col(10), txt(QStringLiteral("Scheda di ") + firstChars(v(QStringLiteral("titolo")))), col(65),
                 txt(QStringLiteral("POSIZ.: ") + fieldText(v(QStringLiteral("posizione"))))});
    setFont(s, 10, false);
    emptyLine(s);
    for (int i = 0; i < card.authors.size(); ++i) {
        if (i == 0) {
            labelled(s, QStringLiteral("AUTORE: "), card.authors[i]);
        } else {
            s.printLine({col(30), txt(card.authors[i])});
        }
    }
    s.printLine({col(10), txt(QStringLiteral("COD.BIB.: ")), col(30), txt(fieldText(v(QStringLiteral("cod_biblio")))),
                 col(63), txt(QStringLiteral("NUM.PAG.: ") + fieldText(v(QStringLiteral("num_pag"))))});
    emptyLine(s);
    labelled(s, QStringLiteral("GENERE: "), firstChars(v(QStringLiteral("genere"))));
    labelled(s, QStringLiteral("ARGOMENTO: "), fieldText(v(QStringLiteral("argomento"))));
    emptyLine(s);
    if (card.publisher) {
        labelled(s, QStringLiteral("EDITORE: "), *card.publisher);
    } else {
        s.printLine({col(10), txt(QStringLiteral("EDITORE: "))});
    }
    labelled(s, QStringLiteral("LUOGO DI STAMPA: "), fieldText(v(QStringLiteral("luogo_stampa"))));
    s.printLine({col(10), txt(QStringLiteral("ANNO DI STAMPA: ")), col(30), txt(fieldText(v(QStringLiteral("anno")))),
                 col(43), txt(QStringLiteral("EDIZIONE: ") + fieldText(v(QStringLiteral("edizione"))))});
    emptyLine(s);
    labelled(s, QStringLiteral("DATA ACQUISTO: "), fieldText(v(QStringLiteral("data_acquisto"))));
    emptyLine(s);
    labelled(s, QStringLiteral("INSERITO IN: "), fieldText(v(QStringLiteral("inserito_in"))));
    labelled(s, QStringLiteral("PERIODICI: "), fieldText(v(QStringLiteral("periodico"))));
    labelled(s, QStringLiteral("ANNATA/NUM.: "), fieldText(v(QStringLiteral("annata_num"))));
    emptyLine(s);
    labelled(s, QStringLiteral("POSIZIONE ATTUALE: "), fieldText(v(QStringLiteral("posizione_attuale"))));
    labelled(s, QStringLiteral("STATO CONS.: "), fieldText(v(QStringLiteral("stato"))));
    emptyLine(s);
    printNotes(s, v(QStringLiteral("note")));
    emptyLine(s);
    emptyLine(s);
}

void printListHeading(PrintSurface& s, const QString& title, const QList<ListColumn>& columns)
{
    printRule(s, 140);
    setFont(s, 12, true);
    emptyLine(s);
    s.printLine({col(10), txt(title)});
    emptyLine(s);
    s.setFontSize(8);
    QList<PrintItem> headings;
    for (const ListColumn& c : columns) {
        headings << col(c.column) << txt(c.heading);
    }
    s.printLine(headings);
    s.setFontBold(false);
    emptyLine(s);
}

void printListRow(PrintSurface& s, const QList<ListColumn>& columns, const RowValue& row)
{
    QList<PrintItem> items;
    for (const ListColumn& c : columns) {
        const QVariant value = row(c.field);
        items << col(c.column) << txt(c.cut > 0 ? firstChars(value, c.cut) : fieldText(value));
    }
    s.printLine(items);
}

const QList<ListColumn>& catalogueColumns()
{
    static const QList<ListColumn> columns{
        {10, QStringLiteral("Cod.Bib."), QStringLiteral("cod_biblio"), 0},
        {20, QStringLiteral("TITOLO"), QStringLiteral("titolo"), 50},
        {60, QStringLiteral("AUTORE"), QStringLiteral("autore"), 50},
        {100, QStringLiteral("EDITORE"), QStringLiteral("editore"), 50},
        {140, QStringLiteral("ANNO"), QStringLiteral("anno"), 0},
        {148, QStringLiteral("COSTO L."), QStringLiteral("costo_L"), 0},
        {160, QStringLiteral("COSTO \u20AC"), QStringLiteral("costo_E"), 0},
    };
    return columns;
}

void printCatalogueRow(PrintSurface& s, const RowValue& book, const QStringList& authors,
                       const std::optional<QString>& publisher)
{
    const RowValue row = [&](const QString& column) -> QVariant {
        if (column == QLatin1String("autore")) {
            return authors.isEmpty() ? QVariant() : QVariant(authors.constFirst());
        }
        if (column == QLatin1String("editore")) {
            return publisher ? QVariant(*publisher) : QVariant();
        }
        return book(column);
    };
    printListRow(s, catalogueColumns(), row);
    for (int i = 1; i < authors.size(); ++i) {
        s.printLine({col(60), txt(authors[i].left(50))});
    }
}

const QList<ListColumn>& authorColumns()
{
    static const QList<ListColumn> columns{
        {10, QStringLiteral("NOME AUTORE"), QStringLiteral("nome"), 0},
        {60, QStringLiteral("DATA"), QStringLiteral("data_nascita"), 0},
        {80, QStringLiteral("LOCALITA'"), QStringLiteral("luogo_nascita"), 50},
    };
    return columns;
}

const QList<ListColumn>& publisherColumns()
{
    static const QList<ListColumn> columns{
        {10, QStringLiteral("NOME EDITORE"), QStringLiteral("nome"), 0},
        {50, QStringLiteral("INDIRIZZO"), QStringLiteral("indirizzo"), 30},
        {80, QStringLiteral("LOCALITA'"), QStringLiteral("residenza"), 20},
        {100, QStringLiteral("TELEFONO"), QStringLiteral("telefono"), 0},
    };
    return columns;
}

void printPersonCard(PrintSurface& s, const PersonCard& card)
{
    printRule(s, 110);
    emptyLine(s);
    setFont(s, 12, true);
    emptyLine(s);
    s.printLine({col(10), txt(QStringLiteral("Scheda di ") + card.name.left(50))});
    setFont(s, 10, false);
    emptyLine(s);
    for (const auto& [caption, value] : card.fields) {
        labelled(s, caption + QStringLiteral(": "), fieldText(value));
    }
    emptyLine(s);
    printNotes(s, card.notes);
    emptyLine(s);
    if (card.titles.isEmpty()) {
        s.printLine({col(10), txt(QStringLiteral("TITOLI: "))});
    }
    for (int i = 0; i < card.titles.size(); ++i) {
        if (i == 0) {
            labelled(s, QStringLiteral("TITOLI: "), card.titles[i].left(50));
        } else {
            s.printLine({col(30), txt(card.titles[i].left(50))});
        }
    }
    emptyLine(s);
    emptyLine(s);
}

} // namespace printing
