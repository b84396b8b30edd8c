#include "books/TitleList.h"

#include "controls/BoundControls.h"
#include "controls/DBList.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace books {

using controls::named;

TitleList::TitleList(QWidget* parent, store::DataSource* titles) : QWidget(parent)
{
    DBList1 = named(new controls::DBList(this), QStringLiteral("DBList1"));
    DBList1->setAccessibleName(QStringLiteral("Titoli"));
    DBList1->setRowSource(titles);
    DBList1->setListField(QStringLiteral("titolo"));
    DBList1->setBoundColumn(QStringLiteral("id"));
    Label2 = named(new QLabel(this), QStringLiteral("Label2"));
    showCount(0);
    const char* const optionCaptions[3] = {"TITOLO", "GENERE", "ANNO"};
    auto* options = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        Option2[i] =
            named(new QRadioButton(QString::fromLatin1(optionCaptions[i]), this), QStringLiteral("Option2_%1").arg(i));
        options->addWidget(Option2[i]);
    }
    Option2[0]->setChecked(true);
    CmdNuovo = named(new QPushButton(QStringLiteral("Nuovo"), this), QStringLiteral("CmdNuovo"));
    CmdModifica = named(new QPushButton(QStringLiteral("Modifica"), this), QStringLiteral("CmdModifica"));
    Cmdelimina = named(new QPushButton(QStringLiteral("Elimina"), this), QStringLiteral("Cmdelimina"));
    auto* editButtons = new QHBoxLayout;
    editButtons->addWidget(CmdNuovo);
    editButtons->addWidget(CmdModifica);
    editButtons->addWidget(Cmdelimina);
    Command1[0] = named(new QPushButton(QStringLiteral("STAMPA SCHEDA"), this), QStringLiteral("Command1_0"));
    Command1[1] = named(new QPushButton(QStringLiteral("STAMPA ELENCO"), this), QStringLiteral("Command1_1"));
    Command1[2] = named(new QPushButton(QStringLiteral("STAMPA ETICHETTE"), this), QStringLiteral("Command1_2"));
    auto* printButtons = new QHBoxLayout;
    for (QPushButton* button : Command1) {
        printButtons->addWidget(button);
    }
    auto* countRow = new QHBoxLayout;
    auto* countCaption = new QLabel(QStringLiteral("TITOLI:"), this);
    countCaption->setBuddy(DBList1);
    countRow->addWidget(countCaption);
    countRow->addWidget(Label2);
    countRow->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(countRow);
    layout->addWidget(DBList1, 1);
    layout->addLayout(options);
    layout->addLayout(editButtons);
    layout->addLayout(printButtons);
}

QList<QWidget*> TitleList::readingOrder() const
{
    return {DBList1, Option2[0], Option2[1], Option2[2], CmdNuovo, CmdModifica, Cmdelimina, Command1[0], Command1[1], Command1[2]};
}

void TitleList::showCount(int count)
{
    Label2->setText(QString::number(count));
    Label2->setAccessibleName(QStringLiteral("Numero dei titoli: ") + Label2->text());
}

} // namespace books
