#pragma once

#include <QLabel>

namespace store {
class Archive;
}

namespace books {

// The line under the book record while the book is on loan: "In prestito a NOME dal 01/12/2026, da
// restituire il 31/12/2026", red once the day is past; empty when the book is on the shelf (or the
// archive has no loans).
class LoanLine : public QLabel {
    Q_OBJECT
  public:
    explicit LoanLine(QWidget* parent);
    // The loan of the book `book` (0: no book) as the archive holds it now.
    void showLoanOf(store::Archive& archive, qint64 book);
};

} // namespace books
