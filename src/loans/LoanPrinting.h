#pragma once

#include <QDate>

class QWidget;

namespace store {
class Archive;
}

namespace loans {

// "Lettera": a reminder letter for every borrower with books overdue on `today`, through the
// program's print run (options dialog, preview, PDF, progress with "Interrompi"), the document
// named "Lettere di sollecito". The overdue loans and the loan settings are read once, before the
// run, so the preview and the print show the same letters. When nobody is late it says so and
// prints nothing. Throws store::DbError when the archive cannot be read (shown by the guard).
void printLetters(QWidget* window, store::Archive& archive, const QDate& today);

} // namespace loans
