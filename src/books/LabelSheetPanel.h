#pragma once

#include "printing/Labels.h"

#include <QGroupBox>
#include <QList>
#include <array>

class QComboBox;
class QDoubleSpinBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSpinBox;
class QToolButton;
class QWidget;

namespace books {

// The sheet of the labels dialog: the stock (the standard ones, then those the user saved, then
// "Personalizzato…", which shows the measures to type), the saving of a custom stock under a
// name and its deletion, and the first free label of a part-used sheet, chosen on a small grid of
// the sheet's labels.
class LabelSheetPanel : public QGroupBox {
    Q_OBJECT
  public:
    explicit LabelSheetPanel(QWidget* parent);

    // The stock chosen, with the measures typed when it is custom or saved; may be unsound (see
    // LabelStock::problem()).
    printing::LabelStock stock() const;
    // The first free label of the first sheet (0-based).
    int start() const { return m_start; }
    // Makes label `index` the first free one (clamped to the sheet).
    void setStart(int index);

    QComboBox* CboFoglio;
    QWidget* FraMisure; // the measures, shown for a custom or saved stock
    // Page width and height, left and top margins, horizontal and vertical pitch, label width and
    // height, in millimetres.
    std::array<QDoubleSpinBox*, 8> TxtMisure{};
    QSpinBox* TxtColonne;
    QSpinBox* TxtRighe;
    QPushButton* CmdSalvaFoglio;
    QPushButton* CmdEliminaFoglio;
    QWidget* GrdInizio;
    QLabel* LblInizio;
    QList<QToolButton*> CmdEtichetta; // the grid's labels, CmdEtichetta_<index>

  private:
    enum Kind { Standard, Saved, Custom };
    // Fills the combo: the standard stocks, the saved ones, "Personalizzato…"; selects the saved
    // stock `select` when given.
    void fillStocks(const QString& select = {});
    Kind kind() const;
    void CboFoglio_Change();
    void CmdSalvaFoglio_Click();
    void CmdEliminaFoglio_Click();
    void showMeasures(const printing::LabelStock& stock);
    // Builds the grid again for the stock's columns and rows.
    void rebuildGrid();
    void showStart();

    QList<printing::LabelStock> m_saved;
    QGridLayout* m_grid;
    int m_start = 0;
    int m_gridColumns = 1;
    // The stock shown before the combo changed, and its kind.
    printing::LabelStock m_shown;
    Kind m_shownKind = Standard;
    bool m_filling = false;
};

} // namespace books
