#pragma once

#include "controls/RecordListModel.h"

#include <QComboBox>
#include <QListView>

namespace controls {

// What a bound list and a bound combo share: the rows of a data source, the field each entry
// shows and the field whose value is the entry's key (the bound column).
class BoundRows {
  public:
    void setRowSource(store::DataSource* source) { m_model->setSource(source); }
    void setListField(const QString& field) { m_model->setListField(field); }
    void setBoundColumn(const QString& field) { m_model->setBoundColumn(field); }
    RecordListModel* listModel() const { return m_model; }

  protected:
    explicit BoundRows(RecordListModel* model) : m_model(model) {}
    ~BoundRows() = default;
    RecordListModel* m_model;
};

// A list bound to a data source: shows one field of each row and carries another as its key.
// The selected key (BoundText) can be read and set; setting a key no row has clears the selection,
// so the key read back differs from the one set.
class DBList : public QListView, public BoundRows {
    Q_OBJECT
  public:
    explicit DBList(QWidget* parent = nullptr);

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
};

// A combo box bound to a data source in the same way; free text may be typed when editable.
// Its accessible name stays its caption whatever it shows. When its rows are read again (a new
// publisher saved, a genre added) it keeps the key chosen, or the text typed.
class DBCombo : public QComboBox, public BoundRows {
    Q_OBJECT
  public:
    explicit DBCombo(QWidget* parent = nullptr);

    // Keeps the text shown while the rows change.
    void setRowSource(store::DataSource* source);

    QString boundText() const;
    void setBoundText(const QString& key);
    QString text() const { return currentText(); }
    void setText(const QString& text);

  private:
    QString m_keptKey;
    QString m_keptText;
};

} // namespace controls
