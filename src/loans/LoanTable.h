#pragma once

#include "store/Loans.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QList>

class QTableView;
class QWidget;

namespace loans {

// The loans of a list (a borrower's open loans or history, the library's overdue loans), held in
// memory as the store read them: the model never reads the archive, so it never throws. An open
// loan past its due date is red, with its days late.
class LoanTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum class Column { Title, Borrower, Lent, Due, Returned, DaysLate };

    LoanTableModel(QList<Column> columns, QObject* parent);

    void setLoans(QList<store::loans::Loan> loans, const QDate& today);
    const QList<store::loans::Loan>& loans() const { return m_loans; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static QString heading(Column column);
    // The text of a cell, as the list shows it.
    static QString text(const store::loans::Loan& loan, Column column, const QDate& today);
    static bool isLate(const store::loans::Loan& loan, const QDate& today);

  private:
    QList<Column> m_columns;
    QList<store::loans::Loan> m_loans;
    QDate m_today;
};

// A read-only table of loans over `model`, rows selected whole, named for screen readers.
QTableView* loanTable(QWidget* parent, LoanTableModel* model, const QString& objectName, const QString& accessibleName);

} // namespace loans
