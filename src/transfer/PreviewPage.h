#pragma once

#include "exchange/Transfer.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;
class QTreeWidget;

namespace transfer {

// The last step of an import, before anything is written: what the file would do ("N nuovi, M da
// aggiornare, K uguali, J scartati"), the rows of each group with their reasons or changes, and
// what becomes of the books already in the archive.
class PreviewPage : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewPage(QWidget* parent);

    void show(const exchange::Preview& preview);
    exchange::ImportOptions options() const;

    // The groups of CboGruppo, in order.
    enum Group { News, Updates, Discarded, Conflicts };
    // Lists the entries of the group chosen.
    void CboGruppo_Click();

    QLabel* LblRiepilogo;
    QComboBox* CboGruppo;        // "Nuovi", "Da aggiornare", "Scartati", "In conflitto"
    QTreeWidget* LstVoci;        // the file's line, the title, the reason or the changes
    QRadioButton* OptAggiorna_0; // "Aggiorna i libri già presenti (solo i campi diversi)"
    QRadioButton* OptAggiorna_1; // "Lascia com'erano i libri già presenti"
    QCheckBox* ChkSovrascrivi;

  private:
    exchange::Preview m_preview;
};

// "ANNO: 1998 → 1999; AUTORI: ROSSI → BIANCHI".
QString changesText(const QList<exchange::Change>& changes);

} // namespace transfer
