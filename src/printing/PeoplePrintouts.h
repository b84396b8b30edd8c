#pragma once

#include "printing/Layouts.h"

#include <functional>

namespace printing {

class PrintSurface;
class Progress;

// The records of an authors' or publishers' window that a printout goes through, in the window's
// order: how many, and a value of a record by column.
struct RecordSource {
    int count = 0;
    std::function<QVariant(int row, const QString& column)> value;
};

// The list of every record ("ELENCO AUTORI ", "ELENCO EDITORI "): the heading, then a row each.
void printRecordList(PrintSurface& surface, Progress& progress, const QString& title,
                     const QList<ListColumn>& columns, const RecordSource& records);

// The cards of the records (`card` reads the record of a row).
void printRecordCards(PrintSurface& surface, Progress& progress, int count,
                      const std::function<PersonCard(int row)>& card);

} // namespace printing
