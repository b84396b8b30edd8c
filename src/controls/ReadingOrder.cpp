#include "controls/ReadingOrder.h"

#include <QWidget>

namespace controls {

void setReadingOrder(const QList<QWidget*>& order)
{
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void notTabStop(QWidget* field)
{
    field->setFocusPolicy(Qt::ClickFocus);
}

} // namespace controls
