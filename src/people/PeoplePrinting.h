#pragma once

namespace people {

class RecordWindow;

// The print buttons of the authors and publishers windows, in portrait: "STAMPA ELENCO" (1) prints
// the list of every record in name order; "STAMPA SCHEDA" (0) prints the card of the selected
// record ("Corrente") or of every record ("Tutti"): its fields, its notes and its titles. The
// window's list and record are not moved.
void printFromWindow(RecordWindow& window, int index);

} // namespace people
