#pragma once

#include <QDate>

// The day the program works on: what loans are due and late, the date of a loan. Tests set it, so
// nothing they check depends on the day they run.
namespace today {

QDate date();
// A fixed day for tests; a null date goes back to the system's clock.
void setForTests(const QDate& day);

} // namespace today
