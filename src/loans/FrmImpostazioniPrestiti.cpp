#include "loans/FrmImpostazioniPrestiti.h"

#include "app/Guard.h"
#include "controls/BoundControls.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using controls::captionFor;
using controls::named;

FrmImpostazioniPrestiti::FrmImpostazioniPrestiti(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrmImpostazioniPrestiti"));
    setWindowTitle(QStringLiteral("Impostazioni prestiti"));
    setModal(true);

    TxtBiblioteca = named(new QLineEdit(this), QStringLiteral("TxtBiblioteca"));
    TxtIndirizzo = named(new QPlainTextEdit(this), QStringLiteral("TxtIndirizzo"));
    TxtIndirizzo->setTabChangesFocus(true);
    TxtIndirizzo->setFixedHeight(TxtIndirizzo->fontMetrics().lineSpacing() * 4 + 12);
    TxtGiorni = named(new QSpinBox(this), QStringLiteral("TxtGiorni"));
    TxtGiorni->setRange(1, LoanSettings::kMaxLoanDays);
    // "0" typed in the days, or the box left empty, becomes the nearest day allowed.
    TxtGiorni->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    TxtLibri = named(new QSpinBox(this), QStringLiteral("TxtLibri"));
    TxtLibri->setRange(0, LoanSettings::kMaxBooksLimit);
    TxtLibri->setSpecialValueText(QStringLiteral("nessun limite"));
    TxtLibri->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    TxtLettera = named(new QPlainTextEdit(this), QStringLiteral("TxtLettera"));
    TxtLettera->setTabChangesFocus(true);
    TxtLettera->setMinimumSize(480, 160);
    CmdTestoPredefinito =
        named(new QPushButton(QStringLiteral("&Testo predefinito"), this), QStringLiteral("CmdTestoPredefinito"));
    CmdTestoPredefinito->setToolTip(QStringLiteral("Rimette il testo della lettera com'era all'inizio"));
    CmdTestoPredefinito->setAutoDefault(false);
    CmdSalva = named(new QPushButton(QStringLiteral("&Salva"), this), QStringLiteral("CmdSalva"));
    CmdAnnulla = named(new QPushButton(QStringLiteral("Annulla"), this), QStringLiteral("CmdAnnulla"));
    CmdAnnulla->setAutoDefault(false);
    CmdSalva->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(
        captionFor(this, QStringLiteral("LblBiblioteca"), QStringLiteral("Nome della biblioteca"), TxtBiblioteca), 0,
        0);
    grid->addWidget(TxtBiblioteca, 0, 1, 1, 2);
    grid->addWidget(captionFor(this, QStringLiteral("LblIndirizzo"), QStringLiteral("Indirizzo"), TxtIndirizzo), 1, 0,
                    Qt::AlignTop);
    grid->addWidget(TxtIndirizzo, 1, 1, 1, 2);
    grid->addWidget(
        captionFor(this, QStringLiteral("LblGiorni"), QStringLiteral("Durata del prestito (giorni)"), TxtGiorni), 2, 0);
    grid->addWidget(TxtGiorni, 2, 1);
    grid->addWidget(captionFor(this, QStringLiteral("LblLibri"), QStringLiteral("Libri per lettore"), TxtLibri), 3, 0);
    grid->addWidget(TxtLibri, 3, 1);
    grid->addWidget(captionFor(this, QStringLiteral("LblLettera"), QStringLiteral("Testo della lettera"), TxtLettera),
                    4, 0, Qt::AlignTop);
    grid->addWidget(TxtLettera, 4, 1, 1, 2);
    grid->addWidget(CmdTestoPredefinito, 5, 1, Qt::AlignLeft);
    grid->setColumnStretch(2, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CmdSalva);
    buttons->addWidget(CmdAnnulla);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    guard::connect(CmdSalva, &QPushButton::clicked, this, [this] { CmdSalva_Click(); });
    guard::connect(CmdAnnulla, &QPushButton::clicked, this, [this] { reject(); });
    guard::connect(CmdTestoPredefinito, &QPushButton::clicked, this, [this] { CmdTestoPredefinito_Click(); });

    fill(LoanSettings::load());
}

void FrmImpostazioniPrestiti::showModal(QWidget* parent)
{
    FrmImpostazioniPrestiti dialog(parent);
    dialog.exec();
}

void FrmImpostazioniPrestiti::fill(const LoanSettings& settings)
{
    TxtBiblioteca->setText(settings.libraryName);
    TxtIndirizzo->setPlainText(settings.libraryAddress);
    TxtGiorni->setValue(settings.loanDays);
    TxtLibri->setValue(settings.maxBooks);
    TxtLettera->setPlainText(settings.letterText);
}

LoanSettings FrmImpostazioniPrestiti::typed() const
{
    // A number still being typed counts as typed (corrected into its range).
    TxtGiorni->interpretText();
    TxtLibri->interpretText();
    LoanSettings s;
    s.libraryName = TxtBiblioteca->text().trimmed();
    s.libraryAddress = TxtIndirizzo->toPlainText();
    s.loanDays = TxtGiorni->value();
    s.maxBooks = TxtLibri->value();
    s.letterText = TxtLettera->toPlainText();
    return s;
}

void FrmImpostazioniPrestiti::CmdSalva_Click()
{
    // A save that fails throws before the dialog closes: the message is shown and what was typed
    // stays in the fields.
    typed().save();
    accept();
}

void FrmImpostazioniPrestiti::CmdTestoPredefinito_Click()
{
    TxtLettera->setPlainText(LoanSettings::defaultLetterText());
    TxtLettera->setFocus();
}
