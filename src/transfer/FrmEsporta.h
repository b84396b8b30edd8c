#pragma once

#include <QDialog>
#include <QList>

#include <memory>

class QLabel;
class QPushButton;
class QRadioButton;

namespace store {
class Archive;
}

// "File → Esporta…": what the window in front lists (the books window's titles as shown or the
// whole catalogue, the authors, the publishers; the whole catalogue with no window), then the
// file (CSV or an Excel workbook), then the run with the progress window and "Interrompi". A
// failure or a stop leaves no file; the dialog stays open with the choice made.
class FrmEsporta : public QDialog {
    Q_OBJECT
  public:
    enum class What { Books, Authors, Publishers, Catalogue };

    // `shownKeys`: the books window's list as shown, for What::Books.
    FrmEsporta(QWidget* parent, What what, const QList<qint64>& shownKeys = {});
    ~FrmEsporta() override;

    // Opens the dialog modally over `parent`.
    static void showModal(QWidget* parent, What what, const QList<qint64>& shownKeys = {});

    // "Esporta…": the save dialog, the run, the message.
    void CmdEsporta_Click();

    QLabel* LblCosa;
    QRadioButton* OptLibri_0 = nullptr; // the books of the list as shown
    QRadioButton* OptLibri_1 = nullptr; // the whole catalogue
    QPushButton* CmdEsporta;
    QPushButton* CmdAnnulla;

  private:
    QString suggestedName() const;

    What m_what;
    QList<qint64> m_shownKeys;
    std::shared_ptr<store::Archive> m_archive;
};
