#pragma once

#include "exchange/Transfer.h"

#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QPushButton;
class QStackedWidget;

namespace store {
class Archive;
}

namespace transfer {
class MappingPage;
class PreviewPage;
class SourcePage;
} // namespace transfer

// "File → Importa…": books from a CSV file or an Excel 97-2003 workbook, in three steps (the file,
// its columns, the preview) with "Indietro", "Avanti", "Importa" and "Annulla". The preview reads
// the file through and writes nothing; "Importa" writes every book in one transaction after a
// copy of the archive, with the progress window and "Interrompi" (which writes nothing). A
// failure shows its message and the window stays on its step with the user's choices.
class FrmImporta : public QDialog {
    Q_OBJECT
  public:
    enum Step { File, Columns, Preview };

    explicit FrmImporta(QWidget* parent = nullptr);
    ~FrmImporta() override;

    // Opens the dialog modally over `parent`; `imported` runs after books were written (the open
    // windows read their lists again).
    static void showModal(QWidget* parent, std::function<void()> imported);
    void setImported(std::function<void()> imported) { m_imported = std::move(imported); }

    Step step() const { return m_step; }
    void CmdIndietro_Click();
    void CmdAvanti_Click();
    void CmdImporta_Click();

    QLabel* LblPasso;
    QStackedWidget* Pagine;
    transfer::SourcePage* Origine;
    transfer::MappingPage* Colonne;
    transfer::PreviewPage* Anteprima;
    QPushButton* CmdIndietro;
    QPushButton* CmdAvanti;
    QPushButton* CmdImporta;
    QPushButton* CmdAnnulla;

  private:
    void goTo(Step step);
    store::Archive& archive();

    Step m_step = File;
    std::shared_ptr<store::Archive> m_archive;
    std::function<void()> m_imported;
};
