#include "people/PeoplePrinting.h"

#include "app/Modulo1.h"
#include "controls/DBList.h"
#include "people/RecordWindow.h"
#include "printing/PeoplePrintouts.h"
#include "printing/PrintRun.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/Recordset.h"

namespace people {
namespace {

// The records of the window's list, read from its rows as the run reaches them; with
// `selectedOnly`, the record selected in the list alone (none when nothing is selected).
struct Rows {
    store::DataSource* source = nullptr;
    store::Recordset* records = nullptr;
    quint64 generation = 0; // the source's, when `records` was taken
    QList<int> only; // the rows to print when not all of them
    bool all = true;

    int count() const { return all ? (records ? records->recordCount() : 0) : int(only.size()); }
    int rowAt(int i) const { return all ? i : only[i]; }
    QVariant value(int i, const QString& column) const
    {
        // Should anything read the list again while the run prints, the run stops rather than read
        // rows that are gone.
        if (source->generation() != generation) {
            throw store::DbError(store::ErrObjectInvalid, printing::kListReadAgain);
        }
        const int c = records->columnIndex(column);
        return c < 0 ? QVariant() : records->valueAt(rowAt(i), c);
    }
};

Rows rowsOf(RecordWindow& w, bool selectedOnly)
{
    Rows rows;
    rows.source = w.Data1;
    rows.records = w.Data1->recordset();
    rows.generation = w.Data1->generation();
    rows.all = !selectedOnly;
    if (selectedOnly && rows.records) {
        const qint64 key = w.DBList1->boundText().toLongLong();
        const int row = key == 0 ? -1 : rows.records->findRow(w.description().keyField, key);
        if (row >= 0) {
            rows.only.append(row);
        }
    }
    return rows;
}

printing::PersonCard cardOf(RecordWindow& w, const Rows& rows, int i)
{
    const RecordWindow::Description& d = w.description();
    printing::PersonCard card;
    card.name = rows.value(i, d.nameField).toString();
    for (const RecordWindow::Field& f : d.fields) {
        if (f.column == d.nameField) {
            continue;
        }
        if (f.column.compare(QLatin1String("note"), Qt::CaseInsensitive) == 0) {
            card.notes = rows.value(i, f.column);
        } else {
            card.fields.append({f.caption, rows.value(i, f.column)});
        }
    }
    const qint64 key = rows.value(i, d.keyField).toLongLong();
    store::Recordset titles(w.archive(), d.titlesOf(key));
    const int column = titles.columnIndex(d.titles.listField);
    for (int r = 0; column >= 0 && r < titles.recordCount(); ++r) {
        card.titles.append(titles.valueAt(r, column).toString());
    }
    return card;
}

} // namespace

void printFromWindow(RecordWindow& window, int index)
{
    printing::PrintRequest request;
    request.window = &window;
    request.list = window.DBList1;
    request.nothingSelected = window.DBList1->boundText().isEmpty();
    request.cardChoice = index == 0;
    request.documentName = window.description().printName;
    RecordWindow* w = &window;
    request.content = [w, index](printing::PrintSurface& surface, printing::Progress& progress) {
        const Rows rows = rowsOf(*w, index == 0 && !Modulo1::StampaTutti);
        if (!rows.records) {
            return;
        }
        if (index == 1) {
            printing::printRecordList(surface, progress, w->description().listTitle, w->description().listColumns,
                                      printing::RecordSource{rows.count(), [&rows](int row, const QString& column) {
                                                                 return rows.value(row, column);
                                                             }});
        } else {
            printing::printRecordCards(surface, progress, rows.count(),
                                       [&](int row) { return cardOf(*w, rows, row); });
        }
    };
    printing::runPrint(request);
}

} // namespace people
