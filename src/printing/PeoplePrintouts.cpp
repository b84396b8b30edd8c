#include "printing/PeoplePrintouts.h"

#include "printing/Progress.h"

namespace printing {

void printRecordList(PrintSurface& surface, Progress& progress, const QString& title,
                     const QList<ListColumn>& columns, const RecordSource& records)
{
    printListHeading(surface, title, columns);
    progress.begin(records.count);
    for (int row = 0; row < records.count; ++row) {
        printListRow(surface, columns, [&](const QString& column) { return records.value(row, column); });
        progress.step();
    }
}

void printRecordCards(PrintSurface& surface, Progress& progress, int count,
                      const std::function<PersonCard(int row)>& card)
{
    progress.begin(count);
    for (int row = 0; row < count; ++row) {
        printPersonCard(surface, card(row));
        progress.step();
    }
}

} // namespace printing
