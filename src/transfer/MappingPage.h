#pragma once

#include "exchange/Transfer.h"

#include <QList>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QTableWidget;

namespace transfer {

// The second step of an import: the first rows of the file with, over each column, the field it
// goes to (guessed from its heading; "(non importare)" leaves it out), and whether the authors'
// column splits on " e " as well as on ";".
class MappingPage : public QWidget {
    Q_OBJECT
  public:
    explicit MappingPage(QWidget* parent);

    // Shows the file's header and rows, with the guessed fields; the same header shown again keeps
    // the user's choices.
    void show(const QStringList& header, const QList<QStringList>& rows);
    exchange::Mapping mapping() const;
    // Why the mapping cannot be used (no column to the title or the key, a field chosen for two
    // columns); empty when it can.
    QString refusal() const;

    QTableWidget* GrdColonne;   // the combos in its first row, the file's rows below
    QList<QComboBox*> CboCampo; // one a column, named CboCampo_<column>
    QCheckBox* ChkSeparaE;

  private:
    QStringList m_header;
};

} // namespace transfer
