#pragma once

#include "controls/RecordListModel.h"

#include <QComboBox>
#include <QListView>

namespace controls {

// A list bound to a data source: shows one field of each row and carries another as its key.
// The selected key (BoundText) can be read and set; setting a key no row has clears the selection,
// so the key read back differs from the one set.
class DBList : public QListView {
    Q_OBJECT
  public:
    explicit DBList(QWidget* parent = nullptr);

    void setRowSource(store::DataSource* source);
    void setListField(const QString& field);
    void setBoundColumn(const QString& field);
    RecordListModel* listModel() const { return m_model; }

    QString boundText() const;
    void setBoundText(const QString& key);
    // The text of the current entry.
    QString text() const;

  signals:
    // The user chose an entry with the mouse.
    void entryClicked();
    // A key was released while the list had the focus.
    void keyReleased(int key);
    void mouseMoved();

  protected:
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    RecordListModel* m_model;
};

// A combo box bound to a data source in the same way; free text may be typed when editable.
class DBCombo : public QComboBox {
    Q_OBJECT
  public:
    explicit DBCombo(QWidget* parent = nullptr);

    void setRowSource(store::DataSource* source);
    void setListField(const QString& field);
    void setBoundColumn(const QString& field);
    RecordListModel* listModel() const { return m_model; }

    QString boundText() const;
    void setBoundText(const QString& key);
    QString text() const { return currentText(); }
    void setText(const QString& text);

  private:
    RecordListModel* m_model;
};

} // namespace controls
