#include "controls/DBList.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>

namespace controls {

DBList::DBList(QWidget* parent) : QListView(parent), BoundRows(new RecordListModel(this))
{
    // Every entry has the same height, so the view never asks for rows it does not show.
    setUniformItemSizes(true);
    setLayoutMode(QListView::SinglePass);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    setModel(m_model);
}

QString DBList::boundText() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() && selectionModel()->isSelected(current) ? m_model->keyAt(current.row()) : QString();
}

void DBList::setBoundText(const QString& key)
{
    const int row = m_model->rowOfKey(key);
    if (row < 0) {
        selectionModel()->clearSelection();
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    const QModelIndex index = m_model->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

QString DBList::text() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? m_model->textAt(current.row()) : QString();
}

void DBList::keyReleaseEvent(QKeyEvent* event)
{
    QListView::keyReleaseEvent(event);
    if (!event->isAutoRepeat()) {
        emit keyReleased(event->key());
    }
}

void DBList::mouseReleaseEvent(QMouseEvent* event)
{
    QListView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && indexAt(event->position().toPoint()).isValid()) {
        emit entryClicked();
    }
}

void DBList::mouseMoveEvent(QMouseEvent* event)
{
    QListView::mouseMoveEvent(event);
    emit mouseMoved();
}

DBCombo::DBCombo(QWidget* parent) : QComboBox(parent), BoundRows(new RecordListModel(this))
{
    setModel(m_model);
    setInsertPolicy(QComboBox::NoInsert);
    // Sizing from the contents would read every row; the lists can hold thousands.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(12);
    if (auto* popup = qobject_cast<QListView*>(view())) {
        popup->setUniformItemSizes(true);
    }
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_keptText = currentText();
        try {
            m_keptKey = boundText();
        } catch (...) {
            m_keptKey.clear(); // a list that cannot be read keeps the text only
        }
    });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        try {
            if (!m_keptKey.isEmpty() && m_model->rowOfKey(m_keptKey) >= 0) {
                setBoundText(m_keptKey);
                return;
            }
        } catch (...) {
            // A list that cannot be read keeps the text, as below.
        }
        setText(m_keptText);
    });
}

void DBCombo::setRowSource(store::DataSource* source)
{
    const QString kept = currentText();
    m_model->setSource(source);
    setText(kept);
}

QString DBCombo::boundText() const
{
    const int row = currentIndex();
    if (row < 0 || (isEditable() && m_model->textAt(row) != currentText())) {
        return QString();
    }
    return m_model->keyAt(row);
}

void DBCombo::setBoundText(const QString& key)
{
    const int row = m_model->rowOfKey(key);
    setCurrentIndex(row);
    if (row < 0 && isEditable()) {
        setEditText(QString());
    }
}

void DBCombo::setText(const QString& text)
{
    if (isEditable()) {
        setCurrentIndex(-1);
        setEditText(text);
        return;
    }
    setCurrentIndex(text.isEmpty() ? -1 : findText(text, Qt::MatchFixedString));
}

} // namespace controls
