#pragma once

#include "printing/Layouts.h"

#include <QImage>
#include <QSizeF>

#include <functional>

namespace store {
class BookPrintReader;
}

namespace printing {

class PrintSurface;
class Progress;

// The titles a printout of the books window goes through: how many, and each one's key, in the
// title list's order and filter (a book the search lists once per author comes once per author).
struct TitleSource {
    int count = 0;
    std::function<qint64(int row)> id;
};

// A book's photo as a card prints it: the picture, and the size in twips at which the photo viewer
// shows it. No picture when the book has no photo or its file cannot be read.
struct CardPhoto {
    QImage picture;
    QSizeF shown;
};
CardPhoto cardPhoto(qint64 bookId);

// The cards of the titles, one after the other ("Tutti"), or of one ("Corrente": a source of one).
// A title whose book is no longer in the archive (deleted on another computer meanwhile) is left
// out. The current book (Modulo1::IdLibroCorrente) stays as it is: the photo is read here, not
// through the viewer.
void printBookCards(PrintSurface& surface, Progress& progress, store::BookPrintReader& reader,
                    const TitleSource& titles);

// The catalogue list ("Elenco Biblioteca"): the heading, then one row per title (and a line for
// each further author).
void printCatalogue(PrintSurface& surface, Progress& progress, store::BookPrintReader& reader,
                    const TitleSource& titles);

} // namespace printing
