#pragma once

#include "printing/Labels.h"

#include <QList>

class FrmBiblio;

namespace store {
class Archive;
}

namespace books {

// The labels of the books with the keys `keys`, in that order (a key no book has is passed over):
// the title, and the shelf mark (POSIZIONE, or POSIZIONE_ATTUALE when the first is empty).
QList<printing::LabelBook> labelBooks(store::Archive& archive, const QList<qint64>& keys);

// "STAMPA ETICHETTE": the labels dialog over the books window, modal, on "Elenco", the first stock
// and the first label.
void openLabels(FrmBiblio& window);

} // namespace books
