#include "printing/frmstampa.h"

#include "app/Guard.h"
#include "app/Twips.h"
#include "app/Modulo1.h"
#include "controls/ReadingOrder.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace {

template <typename T> T* named(T* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

void colour(QWidget* w, const QColor& text)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, text);
    w->setPalette(p);
}

} // namespace

frmstampa::frmstampa(QWidget* parent, bool cardChoice, const QString& printerCaption)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmstampa"));
    setModal(true);
    setFixedSize(twips::rect(0, 0, 3615, 1815).size());
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, QColor(224, 224, 224));
    setPalette(black);

    Command1 = named(new QPushButton(QStringLiteral("Imposta"), this), QStringLiteral("Command1"));
    Command1->setGeometry(twips::rect(120, 120, 975, 375));
    Command2 = named(new QPushButton(QStringLiteral("Stampa"), this), QStringLiteral("Command2"));
    Command2->setGeometry(twips::rect(1320, 120, 975, 375));
    Command3 = named(new QPushButton(QStringLiteral("Annulla"), this), QStringLiteral("Command3"));
    Command3->setGeometry(twips::rect(2520, 120, 975, 375));
    Check1 = named(new QCheckBox(QStringLiteral("logo"), this), QStringLiteral("Check1"));
    Check1->setGeometry(twips::rect(2640, 760, 735, 255));
    Check1->setChecked(true);
    colour(Check1, Qt::yellow);
    Picture1 = named(new QWidget(this), QStringLiteral("Picture1"));
    Picture1->setGeometry(twips::rect(120, 720, 2415, 375));
    Option1[0] = named(new QRadioButton(QStringLiteral("Tutti"), Picture1), QStringLiteral("Option1_0"));
    Option1[0]->setGeometry(twips::rect(120, 0, 1095, 375));
    Option1[1] = named(new QRadioButton(QStringLiteral("Corrente"), Picture1), QStringLiteral("Option1_1"));
    Option1[1]->setGeometry(twips::rect(960, 0, 1095, 375));
    for (QRadioButton* o : Option1) {
        colour(o, Qt::white);
    }
    Option1[0]->setChecked(true);
    Picture1->setVisible(cardChoice);
    Command4 = named(new QPushButton(QStringLiteral("Anteprima"), this), QStringLiteral("Command4"));
    Command4->setGeometry(twips::rect(120, 1320, 975, 375));
    Command5 = named(new QPushButton(QStringLiteral("PDF..."), this), QStringLiteral("Command5"));
    Command5->setGeometry(twips::rect(1320, 1320, 975, 375));
    Command5->setToolTip(QStringLiteral("Salva la stampa in un file PDF"));

    // Row by row, left to right: the choice of cards stands left of the logo box.
    controls::setReadingOrder({Command1, Command2, Command3, Option1[0], Option1[1], Check1, Command4, Command5});

    guard::connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    guard::connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    guard::connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    guard::connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    guard::connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    for (int i = 0; i < 2; ++i) {
        guard::connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    }
    Form_Load(printerCaption);
}

frmstampa::~frmstampa() = default;

void frmstampa::Form_Load(const QString& printerCaption)
{
    setWindowTitle(printerCaption);
    Modulo1::StampaTutti = true;
    // Until a button answers, closing the dialog gives up.
    Modulo1::SceltaStampa = 0;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    Command2->setDefault(true);
}

void frmstampa::Option1_Click(int index)
{
    if (index == 0 && Option1[0]->isChecked()) {
        Modulo1::StampaTutti = true;
    } else if (index == 1 && Option1[1]->isChecked()) {
        Modulo1::StampaTutti = false;
    }
}

void frmstampa::choose(int answer)
{
    Modulo1::SceltaStampa = answer;
    accept();
}

void frmstampa::Command1_Click()
{
    choose(2);
}

void frmstampa::Command2_Click()
{
    choose(1);
}

void frmstampa::Command3_Click()
{
    choose(0);
}

void frmstampa::Command4_Click()
{
    choose(3);
}

void frmstampa::Command5_Click()
{
    choose(4);
}

void frmstampa::reject()
{
    // Esc and the close box give up.
    Modulo1::SceltaStampa = 0;
    QDialog::reject();
}

void frmstampa::done(int result)
{
    Modulo1::StampaLogo = Check1->isChecked();
    QDialog::done(result);
}
