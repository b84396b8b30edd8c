#pragma once

#include "store/Loans.h"

#include <QFrame>
#include <QList>

#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace store {
class Archive;
}

namespace loans {

// The desk: the field "Codice libro" that a scanner types into (the digits of the book's key, then
// Enter), the borrower the books are lent to, and the log of what each scan did, with "Annulla
// ultimo" taking back the latest lend or return. A book on loan is returned, a book on the shelf is
// lent to the chosen borrower for the loan period of the settings; with no borrower chosen ("Solo
// restituzioni") books are only taken back.
//
// A refused scan (an unknown key, letters, a book out to someone else) is a red line in the log and
// a beep, never a dialog: the next scan goes on without a key pressed in between. A store error
// (a busy archive) is thrown to the handler's guard and leaves what was read in the field.
class DeskStrip : public QFrame {
    Q_OBJECT
  public:
    explicit DeskStrip(QWidget* parent);
    ~DeskStrip() override;

    void setArchive(std::shared_ptr<store::Archive> archive) { m_archive = std::move(archive); }
    // The borrower the next books are lent to; 0 for none.
    void setBorrower(qint64 id, const QString& name);
    qint64 borrower() const { return m_borrower; }

    // Enter in "Codice libro": the text read, without the Enter, is scanned.
    void TxtCodiceLibro_Enter();
    void CmdAnnullaUltimo_Click();
    void CmdSoloRestituzioni_Click();

    QLineEdit* TxtCodiceLibro;
    QLabel* LblLettore;
    QPushButton* CmdSoloRestituzioni;
    QListWidget* LstRegistro;
    QPushButton* CmdAnnullaUltimo;

  signals:
    // A loan was made, returned or taken back.
    void loansChanged();
    // "Solo restituzioni": the window lets its borrower go.
    void borrowerCleared();

  private:
    void log(const store::loans::Result& result);

    std::shared_ptr<store::Archive> m_archive;
    qint64 m_borrower = 0;
    QList<store::loans::Action> m_done; // what "Annulla ultimo" takes back, the latest last
};

} // namespace loans
