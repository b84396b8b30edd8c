#pragma once

#include <QDate>

class QWidget;

namespace store {
class Archive;
}

namespace loans {

// "Lettera": a reminder letter for every borrower with overdue books, through the print run.
void printLetters(QWidget* window, store::Archive& archive, const QDate& today);

} // namespace loans
