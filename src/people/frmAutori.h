#pragma once

#include "people/RecordWindow.h"

// The authors window "Autori": every author in name order, the selected author's record, the
// titles by that author and the publishers of those titles (one entry per title).
class frmAutori : public people::RecordWindow {
    Q_OBJECT
  public:
    explicit frmAutori(QWidget* parent = nullptr);

    // The publisher chosen in the publishers list becomes the one "EDITORE" shows.
    void DBList3_Click() override;

  protected:
    void setCurrentRecord(qint64 key) override;
    childwindows::Kind otherKind() const override { return childwindows::Kind::Publishers; }
    QString missingOther() const override { return QStringLiteral("Nessun Editore corrispondente presente!"); }
};
