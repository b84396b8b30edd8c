#include "loans/LoanPrinting.h"

namespace loans {

void printLetters(QWidget*, store::Archive&, const QDate&) {}

} // namespace loans
