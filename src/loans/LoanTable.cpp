#include "loans/LoanTable.h"

#include <QBrush>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace loans {

using store::loans::Loan;

LoanTableModel::LoanTableModel(QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns))
{
}

void LoanTableModel::setLoans(QList<Loan> loans, const QDate& today)
{
    beginResetModel();
    m_loans = std::move(loans);
    m_today = today;
    endResetModel();
}

int LoanTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_loans.size());
}

int LoanTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

bool LoanTableModel::isLate(const Loan& loan, const QDate& today)
{
    return loan.isOpen() && loan.due.isValid() && loan.due < today;
}

QString LoanTableModel::heading(Column column)
{
    switch (column) {
    case Column::Title:
        return QStringLiteral("Titolo");
    case Column::Borrower:
        return QStringLiteral("Lettore");
    case Column::Lent:
        return QStringLiteral("Prestato il");
    case Column::Due:
        return QStringLiteral("Da restituire il");
    case Column::Returned:
        return QStringLiteral("Restituito il");
    case Column::DaysLate:
        return QStringLiteral("Giorni di ritardo");
    }
    return {};
}

QString LoanTableModel::text(const Loan& loan, Column column, const QDate& today)
{
    switch (column) {
    case Column::Title:
        return loan.title.isEmpty() ? QStringLiteral("(libro %1 eliminato)").arg(loan.book) : loan.title;
    case Column::Borrower:
        return loan.borrowerName.isEmpty() ? QStringLiteral("(lettore eliminato)") : loan.borrowerName;
    case Column::Lent:
        return store::loans::formatDate(loan.lent);
    case Column::Due:
        return store::loans::formatDate(loan.due);
    case Column::Returned:
        return loan.isOpen() ? QStringLiteral("in prestito") : store::loans::formatDate(loan.returned);
    case Column::DaysLate: {
        const int days = loan.daysLate(today);
        return days > 0 ? QString::number(days) : QString();
    }
    }
    return {};
}

QVariant LoanTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_loans.size() || index.column() >= m_columns.size()) {
        return {};
    }
    const Loan& loan = m_loans[index.row()];
    const Column column = m_columns[index.column()];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return text(loan, column, m_today);
    case Qt::ForegroundRole:
        if (isLate(loan, m_today)) {
            return QBrush(QColor(192, 0, 0));
        }
        return {};
    case Qt::TextAlignmentRole:
        if (column == Column::DaysLate) {
            return int(Qt::AlignRight | Qt::AlignVCenter);
        }
        return {};
    default:
        return {};
    }
}

QVariant LoanTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.size()) {
        return heading(m_columns[section]);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

QTableView* loanTable(QWidget* parent, LoanTableModel* model, const QString& objectName, const QString& accessibleName)
{
    auto* view = new QTableView(parent);
    view->setObjectName(objectName);
    view->setAccessibleName(accessibleName);
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // Widths from the headings and a date, not from the rows: a list of thousands of loans is shown
    // at the cost of the rows on screen.
    QHeaderView* header = view->horizontalHeader();
    header->setStretchLastSection(false);
    const QFontMetrics metrics = view->fontMetrics();
    for (int c = 0; c < model->columnCount(); ++c) {
        const QString heading = model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        if (heading == LoanTableModel::heading(LoanTableModel::Column::Title)) {
            header->setSectionResizeMode(c, QHeaderView::Stretch);
            continue;
        }
        const bool name = heading == LoanTableModel::heading(LoanTableModel::Column::Borrower);
        const int width = std::max(metrics.horizontalAdvance(heading), metrics.horizontalAdvance(QStringLiteral("00/00/0000")));
        header->setSectionResizeMode(c, QHeaderView::Interactive);
        header->resizeSection(c, name ? std::max(width, metrics.horizontalAdvance(QLatin1Char('M')) * 16) : width + 24);
    }
    view->setWordWrap(false);
    return view;
}

} // namespace loans
