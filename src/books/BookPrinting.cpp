#include "books/BookPrinting.h"

#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "printing/BookPrintouts.h"
#include "printing/PrintRun.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/PrintReader.h"

#include <memory>

namespace books {
namespace {

// The titles of the list, read from its rows as the run reaches them.
printing::TitleSource listedTitles(store::DataSource* titles)
{
    store::Recordset* rs = titles->recordset();
    if (!rs) {
        return {};
    }
    const int column = rs->columnIndex(QStringLiteral("id"));
    if (column < 0) {
        return {};
    }
    // The run lets the window's timers run: should anything read the list again meanwhile, the run
    // stops rather than read rows that are gone.
    const quint64 generation = titles->generation();
    return printing::TitleSource{rs->recordCount(), [titles, rs, column, generation](int row) {
                                     if (titles->generation() != generation) {
                                         throw store::DbError(store::ErrObjectInvalid, printing::kListReadAgain);
                                     }
                                     return rs->valueAt(row, column).toLongLong();
                                 }};
}

// The book the window shows, or none.
printing::TitleSource shownTitle(store::DataSource* books)
{
    const store::Recordset* rs = books->recordset();
    if (!rs || !rs->hasCurrent()) {
        return {};
    }
    const qint64 id = rs->value(QStringLiteral("id")).toLongLong();
    return printing::TitleSource{1, [id](int) { return id; }};
}

} // namespace

void printFromBooksWindow(FrmBiblio& window, controls::DBList* titles, int index)
{
    printing::PrintRequest request;
    request.window = &window;
    request.list = titles;
    request.nothingSelected = titles->boundText().isEmpty();
    request.cardChoice = index == 0;
    request.orientation = index == 1 ? printing::PrintSurface::Orientation::Landscape
                                     : printing::PrintSurface::Orientation::Portrait;
    request.documentName = index == 0 ? QStringLiteral("Schede") : QStringLiteral("Elenco Biblioteca");
    FrmBiblio* w = &window;
    request.content = [w, index](printing::PrintSurface& surface, printing::Progress& progress) {
        store::BookPrintReader reader(w->archive());
        if (index == 1) {
            printing::printCatalogue(surface, progress, reader, listedTitles(w->Data6));
        } else {
            printing::printBookCards(surface, progress, reader,
                                     Modulo1::StampaTutti ? listedTitles(w->Data6) : shownTitle(w->Data1));
        }
    };
    request.after = [w] {
        if (!w->isEditing()) {
            w->DBList1_Click();
        }
    };
    printing::runPrint(request);
}

} // namespace books
