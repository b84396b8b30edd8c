#include "books/LoanLine.h"

#include "app/Today.h"
#include "store/DbError.h"
#include "store/Loans.h"

namespace books {

LoanLine::LoanLine(QWidget* parent) : QLabel(parent)
{
    setObjectName(QStringLiteral("LblPrestito"));
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
}

void LoanLine::showLoanOf(store::Archive& archive, qint64 book)
{
    std::optional<store::loans::Loan> loan;
    try {
        if (book != 0) {
            loan = store::loans::openLoanOf(archive, book);
        }
    } catch (const store::DbError&) {
        // A hint under the record: an archive busy or damaged right now is reported by what the
        // window reads next, not twice.
    }
    if (!loan) {
        clear();
        setAccessibleName(QString());
        return;
    }
    const bool late = loan->due.isValid() && loan->due < today::date();
    setText(store::loans::onLoanLine(*loan));
    setAccessibleName(late ? text() + QStringLiteral(" (in ritardo)") : text());
    QPalette p = palette();
    p.setColor(QPalette::WindowText, late ? QColor(192, 0, 0) : QColor(0, 0, 128));
    setPalette(p);
}

} // namespace books
