#pragma once

#include "app/LoanSettings.h"
#include "store/Loans.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace printing {

class PrintSurface;
class Progress;

// The reminder letters ("Lettere di sollecito"), one a borrower, each beginning a page: the
// library's name and address, the borrower's name and address, the date in Italian words, the
// subject, the letter's text, the overdue books with their dates and days late, and the library's
// name as the closing. Laid out from the data given (read once before the run, so the preview and
// the print agree). With `logoOnEachLetter` every letter after the first is headed by the logo as
// the first is by the run. The progress counts letters.
void printReminderLetters(PrintSurface& surface, Progress& progress, const QList<store::loans::BorrowerLoans>& late,
                          const LoanSettings& settings, const QDate& today, bool logoOnEachLetter);

// The date as the letters write it, in Italian whatever the system's language: "9 dicembre 2026".
QString letterDate(const QDate& date);

// `text` cut to fit `width` twips in the surface's current font, ending in "…" when cut.
QString fitted(const PrintSurface& surface, const QString& text, qreal width);

// The lines of `paragraph` in the surface's current font, each at most `width` twips wide: broken
// at spaces, a word wider than the line broken where it reaches the edge. Runs of blanks count as
// one space; an empty paragraph is one empty line.
QStringList wrappedLines(const PrintSurface& surface, const QString& paragraph, qreal width);

} // namespace printing
