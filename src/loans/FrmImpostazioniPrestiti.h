#pragma once

#include "app/LoanSettings.h"

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;

// "Opzioni → Impostazioni prestiti": the loan period, the most books a borrower may hold, the
// library's name and address and the reminder letter's text, shown as saved and saved with
// "Salva". The spin boxes take only what lies in range (1-365 days, 0-999 books, 0 shown as
// "nessun limite"). A save that fails shows its message and keeps the dialog open with what was
// typed; "Annulla" and Esc leave the settings as they were.
class FrmImpostazioniPrestiti : public QDialog {
    Q_OBJECT
  public:
    explicit FrmImpostazioniPrestiti(QWidget* parent = nullptr);

    // Opens the dialog modally over `parent`.
    static void showModal(QWidget* parent);

    // What the fields hold now.
    LoanSettings typed() const;

    QLineEdit* TxtBiblioteca;
    QPlainTextEdit* TxtIndirizzo;
    QSpinBox* TxtGiorni;
    QSpinBox* TxtLibri;
    QPlainTextEdit* TxtLettera;
    QPushButton* CmdTestoPredefinito;
    QPushButton* CmdSalva;
    QPushButton* CmdAnnulla;

  private:
    void fill(const LoanSettings& settings);
    void CmdSalva_Click();
    void CmdTestoPredefinito_Click();
};
