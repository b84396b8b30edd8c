#pragma once

#include "app/WindowClosing.h"
#include "controls/RecordPanel.h"

#include <QList>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableView;

namespace store {
class Archive;
class DataSource;
} // namespace store

namespace loans {
class DeskStrip;
class LoanTableModel;
} // namespace loans

// The loans window "Prestiti": the desk strip across the top (a scanner lends and takes back
// books), then two pages. "Lettori": the borrowers in name order with a filter, the chosen
// borrower's record with Nuovo/Annulla · Modifica/Salva · Elimina, their open loans and their
// history. "In ritardo": the overdue loans of the whole library by due date, in red with the days
// late, and "Lettera", the reminder letters.
//
// The window refuses to close while a borrower's edit is open; a failed save keeps what was typed.
class FrmPrestiti : public controls::RecordPanel, public windows::EditingWindow {
    Q_OBJECT
  public:
    explicit FrmPrestiti(QWidget* parent = nullptr);
    ~FrmPrestiti() override;

    // Opens the archive named by Modulo1::PercorsoArchivio, lists the borrowers and shows the
    // first, and the overdue loans. Throws store::DbError when the archive cannot be read, and 3911
    // when it has no loans (an older archive that could not be upgraded).
    void Form_Load();

    void DBList1_Click();
    void TxtFiltro_Change();
    void CmdNuovo_Click();
    void CmdModifica_Click();
    void Cmdelimina_Click();
    // "Lettera": the reminder letters of every borrower with overdue books.
    void CmdLettera_Click();
    void Form_KeyUp(int keyCode);
    bool closeWindow();

    // The borrower's loans and the overdue list read again (after a scan here or at another desk).
    void showLoans();

    void showSelected() override;
    bool hasOpenEdit() const override { return isEditing(); }

    store::DataSource* Data1;
    controls::DBList* DBList1;
    QLineEdit* TxtFiltro;
    QLabel* Label1; // how many borrowers the list holds
    QPushButton* CmdNuovo;
    QPushButton* CmdModifica;
    QPushButton* Cmdelimina;
    QList<QWidget*> Text1; // nome, indirizzo, telefono, email, gruppo, note
    loans::DeskStrip* Desk;
    QTabWidget* Schede;
    QTableView* TblInCorso;
    QTableView* TblStorico;
    QTableView* TblRitardo;
    QLabel* LblRitardo;
    QPushButton* CmdLettera;

    const std::shared_ptr<store::Archive>& archive() const { return m_archive; }

  signals:
    // Loans were made, returned or taken back here.
    void loansChanged();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* buildBorrowersPage();
    QWidget* buildOverduePage();
    void connectHandlers();
    void showCount();
    // The desk lends to the borrower shown, none when none is.
    void showBorrowerLoans(qint64 key);
    void showOverdue();

    std::shared_ptr<store::Archive> m_archive;
    loans::LoanTableModel* m_open;
    loans::LoanTableModel* m_history;
    loans::LoanTableModel* m_overdue;
};
