#pragma once

#include "people/RecordWindow.h"

// The publishers window "Editori": every publisher in name order, the selected publisher's
// record, its titles and the authors of those titles (one entry per title and author, in title
// order).
class FrmEditori : public people::RecordWindow {
    Q_OBJECT
  public:
    explicit FrmEditori(QWidget* parent = nullptr);

    // The author chosen in the authors list becomes the one "AUTORE" shows.
    void DBList3_Click() override;

  protected:
    void setCurrentRecord(qint64 key) override;
    childwindows::Kind otherKind() const override { return childwindows::Kind::Authors; }
    QString missingOther() const override { return QStringLiteral("Nessun Autore corrispondente presente!"); }
};
