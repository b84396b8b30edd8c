#pragma once

#include "printing/Labels.h"

#include <QDialog>
#include <QList>
#include <array>

class FrmBiblio;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace books {
class LabelSheetPanel;
}

// "Stampa etichette": the labels of the books window's books. Which books ("Corrente", "Elenco":
// the title list as it is shown, "Da codice … a codice …", "Scelti" in a list with check boxes),
// what each label holds, the sheet and its first free label, the copies per book and an outline
// for a test print; "Stampa…" goes through the program's print run (its options, preview, PDF and
// progress window). The dialog stays open after a run, for the next sheet.
class FrmEtichette : public QDialog {
    Q_OBJECT
  public:
    explicit FrmEtichette(FrmBiblio& books);

    // The keys of the books chosen, in the order they are printed.
    QList<qint64> chosenKeys() const;
    // What each label holds and how the run goes, as chosen.
    printing::LabelOptions options() const;

    // "Corrente", "Elenco", "Da codice", "Scelti".
    std::array<QRadioButton*, 4> OptLibri{};
    QSpinBox* TxtDaCodice;
    QSpinBox* TxtACodice;
    QListWidget* LstScelti;
    QCheckBox* ChkCodice;
    QCheckBox* ChkTitolo;
    QCheckBox* ChkPosizione;
    QCheckBox* ChkBiblioteca;
    QLineEdit* TxtBiblioteca;
    QCheckBox* ChkDorso;
    QCheckBox* ChkRuotata;
    books::LabelSheetPanel* FraFoglio;
    QSpinBox* TxtCopie;
    QCheckBox* ChkContorno;
    QPushButton* CmdStampa;
    QPushButton* CmdChiudi;

    void CmdStampa_Click();

  private:
    void OptLibri_Click();
    void ChkDorso_Click();
    // Fills the list of "Scelti" with the books of the title list, none ticked; once.
    void fillChoiceList();

    FrmBiblio& m_books;
    bool m_choiceListFilled = false;
};
