#include "exchange/Sheet.h"

namespace exchange {

Cell Cell::ofText(const QString& text)
{
    Cell cell;
    cell.kind = text.isEmpty() ? Kind::Empty : Kind::Text;
    cell.text = text;
    return cell;
}

Cell Cell::ofInteger(qint64 value)
{
    Cell cell;
    cell.kind = Kind::Integer;
    cell.integer = value;
    return cell;
}

Cell Cell::ofAmount(double value)
{
    Cell cell;
    cell.kind = Kind::Amount;
    cell.amount = value;
    return cell;
}

Cell Cell::ofDate(const QDate& date)
{
    Cell cell;
    cell.kind = date.isValid() ? Kind::Date : Kind::Empty;
    cell.date = date;
    return cell;
}

} // namespace exchange
