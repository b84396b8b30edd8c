#include "books/LoanLine.h"

#include "app/Today.h"
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
    const std::optional<store::loans::Loan> loan =
        book == 0 ? std::nullopt : store::loans::openLoanOf(archive, book);
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
