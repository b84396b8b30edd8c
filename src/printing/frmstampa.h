#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QPushButton;
class QRadioButton;

// The print options dialog: "Imposta" (the printer set-up), "Stampa", "Annulla", "Anteprima" (the
// print preview), "PDF" (a PDF file instead of the printer), the "logo" box and, for a card,
// "Tutti"/"Corrente". Its caption names the printer. Each closing leaves the answer in
// Modulo1::SceltaStampa (0 give up, 1 print, 2 set-up, 3 preview, 4 PDF), the choice of
// cards in StampaTutti and the logo box in StampaLogo; closing it any other way gives up.
class frmstampa : public QDialog {
    Q_OBJECT
  public:
    // `cardChoice`: the "Tutti"/"Corrente" panel is shown. `printerCaption`: the caption.
    frmstampa(QWidget* parent, bool cardChoice, const QString& printerCaption);
    ~frmstampa() override;

    void Form_Load(const QString& printerCaption);
    void Option1_Click(int index);
    void Command1_Click(); // "Imposta"
    void Command2_Click(); // "Stampa"
    void Command3_Click(); // "Annulla"
    void Command4_Click(); // "Anteprima"
    void Command5_Click(); // "PDF"

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QPushButton* Command4;
    QPushButton* Command5;
    QCheckBox* Check1;
    QWidget* Picture1;
    std::array<QRadioButton*, 2> Option1{};

  public slots:
    void done(int result) override;
    void reject() override;

  private:
    void choose(int answer);
};
