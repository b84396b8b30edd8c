#pragma once

class FrmBiblio;

namespace controls {
class DBList;
}

namespace books {

// The print buttons of the books window: "STAMPA SCHEDA" (0) prints the card of the book shown or
// of every title of the list, "STAMPA ELENCO" (1) the catalogue list of the titles, in landscape.
// The window's list and record are not moved; afterwards the window shows again the book selected
// in its list (unless an edit is open, which is left as it is).
void printFromBooksWindow(FrmBiblio& window, controls::DBList* titles, int index);

} // namespace books
