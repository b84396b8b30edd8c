#include "printing/BookPrintouts.h"

#include "pictures/Photos.h"
#include "pictures/PictureReader.h"
#include "pictures/frmpicture.h"
#include "printing/PrintSurface.h"
#include "printing/Progress.h"
#include "store/PrintReader.h"

#include "app/Twips.h"

#include <QFileInfo>

namespace printing {
namespace {

RowValue valuesOf(const store::RowValues& row)
{
    return [&row](const QString& column) { return row.value(column); };
}

} // namespace

CardPhoto cardPhoto(qint64 bookId)
{
    const QString file = pictures::photoFile(bookId);
    if (!QFileInfo(file).isFile()) {
        return {};
    }
    const QSize area = frmpicture::photoAreaSize();
    // Read at twice the size shown on screen: a card prints it at half that size, so the printer
    // gets about four times the screen's detail.
    const pictures::DisplayPicture read = pictures::readForDisplay(file, area * 2);
    if (read.image.isNull()) {
        return {};
    }
    const QSize shown = pictures::fittedSize(read.naturalSize, area);
    return CardPhoto{read.image, QSizeF(shown) * twips::kPerPixel};
}

void printBookCards(PrintSurface& surface, Progress& progress, store::BookPrintReader& reader,
                    const TitleSource& titles)
{
    progress.begin(titles.count);
    for (int row = 0; row < titles.count; ++row) {
        const qint64 id = titles.id(row);
        if (const std::optional<store::BookPrintReader::Book> book = reader.read(id)) {
            BookCard card;
            card.book = valuesOf(book->row);
            card.authors = book->authors;
            card.publisher = book->publisher;
            const CardPhoto photo = cardPhoto(id);
            card.photo = photo.picture;
            card.photoShown = photo.shown;
            printBookCard(surface, card);
        }
        progress.step();
    }
}

void printCatalogue(PrintSurface& surface, Progress& progress, store::BookPrintReader& reader,
                    const TitleSource& titles)
{
    printListHeading(surface, QStringLiteral("Elenco Biblioteca "), catalogueColumns());
    progress.begin(titles.count);
    for (int row = 0; row < titles.count; ++row) {
        if (const std::optional<store::BookPrintReader::Book> book = reader.read(titles.id(row))) {
            printCatalogueRow(surface, valuesOf(book->row), book->authors, book->publisher);
        }
        progress.step();
    }
}

} // namespace printing
