#include "books/BiblioPanels.h"

#include "controls/BoundControls.h"
#include "controls/DBList.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace books {
namespace {

using controls::captionFor;
using controls::named;

QPushButton* button(QWidget* parent, const QString& name, const QString& caption)
{
    return named(new QPushButton(caption, parent), name);
}

void framePanel(QFrame* frame)
{
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setAutoFillBackground(true);
}

} // namespace

AuthorsPanel::AuthorsPanel(QWidget* parent, store::DataSource* authors) : RecordPanel(parent)
{
    setObjectName(QStringLiteral("Frame1"));
    framePanel(this);
    setRecords(authors, QStringLiteral("ID_Autore"), QStringLiteral("nome"));
    DBList3 = named(new controls::DBList(this), QStringLiteral("DBList3"));
    DBList3->setAccessibleName(QStringLiteral("Autori"));
    setList(DBList3);
    Command15 = button(this, QStringLiteral("Command15"), QStringLiteral("X"));
    Command15->setAccessibleName(QStringLiteral("Chiudi"));
    Command15->setFixedWidth(28);
    Text1[0] = addField(QStringLiteral("Text1_0"), QStringLiteral("nome"), 100, true);
    Text1[1] = addField(QStringLiteral("Text1_1"), QStringLiteral("luogo_nascita"), 50, false);
    Text1[2] = addField(QStringLiteral("Text1_2"), QStringLiteral("data_nascita"), 0, false);
    Command3 = button(this, QStringLiteral("Command3"), QString());
    Command4 = button(this, QStringLiteral("Command4"), QString());
    Command5 = button(this, QStringLiteral("Command5"), QStringLiteral("Elimina"));
    Command6 = button(this, QStringLiteral("Command6"), QStringLiteral("Inserisci"));
    setButtons(Command3, Command4, Command5);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("AUTORI"), this));
    top->addStretch();
    top->addWidget(Command15);
    auto* fields = new QGridLayout;
    fields->addWidget(captionFor(this, QStringLiteral("Label6_0"), QStringLiteral("Nome"), Text1[0]), 0, 0);
    fields->addWidget(Text1[0], 0, 1, 1, 3);
    fields->addWidget(captionFor(this, QStringLiteral("Label6_1"), QStringLiteral("Nato a"), Text1[1]), 1, 0);
    fields->addWidget(Text1[1], 1, 1);
    fields->addWidget(captionFor(this, QStringLiteral("Label6_2"), QStringLiteral("Il"), Text1[2]), 1, 2);
    fields->addWidget(Text1[2], 1, 3);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Command3, Command4, Command5, Command6}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(DBList3, 1);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    hide();
}

PublishersPanel::PublishersPanel(QWidget* parent, store::DataSource* publishers) : RecordPanel(parent)
{
    setObjectName(QStringLiteral("Frame2"));
    framePanel(this);
    setRecords(publishers, QStringLiteral("ID_Editore"), QStringLiteral("nome"));
    DBList4 = named(new controls::DBList(this), QStringLiteral("DBList4"));
    DBList4->setAccessibleName(QStringLiteral("Editori"));
    setList(DBList4);
    Command14 = button(this, QStringLiteral("Command14"), QStringLiteral("X"));
    Command14->setAccessibleName(QStringLiteral("Chiudi"));
    Command14->setFixedWidth(28);
    Text1_5 = addField(QStringLiteral("Text1_5"), QStringLiteral("nome"), 0, true);
    Text1_4 = addField(QStringLiteral("Text1_4"), QStringLiteral("residenza"), 0, false);
    Text1_3 = addField(QStringLiteral("Text1_3"), QStringLiteral("note"), 0, false);
    Command12 = button(this, QStringLiteral("Command12"), QString());
    Command11 = button(this, QStringLiteral("Command11"), QString());
    Command10 = button(this, QStringLiteral("Command10"), QStringLiteral("Elimina"));
    Command9 = button(this, QStringLiteral("Command9"), QStringLiteral("Chiudi"));
    setButtons(Command12, Command11, Command10);

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("EDITORI"), this));
    top->addStretch();
    top->addWidget(Command14);
    auto* fields = new QGridLayout;
    fields->addWidget(captionFor(this, QStringLiteral("Label7_0"), QStringLiteral("Nome"), Text1_5), 0, 0);
    fields->addWidget(Text1_5, 0, 1);
    fields->addWidget(captionFor(this, QStringLiteral("Label7_1"), QStringLiteral("Località"), Text1_4), 1, 0);
    fields->addWidget(Text1_4, 1, 1);
    fields->addWidget(captionFor(this, QStringLiteral("Label7_2"), QStringLiteral("Note"), Text1_3), 2, 0);
    fields->addWidget(Text1_3, 2, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {Command12, Command11, Command10, Command9}) {
        buttons->addWidget(b);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(DBList4, 1);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    hide();
}

SearchPanel::SearchPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("SearchPanel"));
    setFrameShape(QFrame::StyledPanel);
    static const char* const captions[10] = {
        "Posizione",           "Autore",    "Genere",         "Argomento",      "Editore",
        "Stato conservazione", "Periodici", "Inserito in...", "Anno di Stampa", "Luogo Stampa"};
    auto* firstPage = new QWidget(this);
    firstPage->setObjectName(QStringLiteral("SearchPage1"));
    Picture6 = new QWidget(this);
    Picture6->setObjectName(QStringLiteral("Picture6"));
    auto* grid1 = new QGridLayout(firstPage);
    auto* grid2 = new QGridLayout(Picture6);
    for (int i = 0; i < 10; ++i) {
        QWidget* page = i < 5 ? firstPage : Picture6;
        QGridLayout* grid = i < 5 ? grid1 : grid2;
        Check1[i] = named(new QCheckBox(page), QStringLiteral("Check1_%1").arg(i));
        Text2[i] = named(new QLineEdit(page), QStringLiteral("Text2_%1").arg(i));
        Label5[i] = captionFor(page, QStringLiteral("Label5_%1").arg(i), QString::fromUtf8(captions[i]), Text2[i]);
        Check1[i]->setAccessibleName(QString::fromUtf8(captions[i]));
        grid->addWidget(Check1[i], i % 5, 0);
        grid->addWidget(Label5[i], i % 5, 1);
        grid->addWidget(Text2[i], i % 5, 2);
    }
    Option1[0] = named(new QRadioButton(QStringLiteral("OR"), this), QStringLiteral("Option1_0"));
    Option1[1] = named(new QRadioButton(QStringLiteral("AND"), this), QStringLiteral("Option1_1"));
    Option1[0]->setChecked(true);
    Command2 = button(this, QStringLiteral("Command2"), QStringLiteral(">>>"));
    Command2->setAccessibleName(QStringLiteral("Pagina"));

    auto* pages = new QStackedLayout;
    pages->addWidget(firstPage);
    pages->addWidget(Picture6);
    pages->setCurrentWidget(firstPage);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Option1[0]);
    bottom->addWidget(Option1[1]);
    bottom->addStretch();
    bottom->addWidget(Command2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("RICERCA"), this));
    layout->addLayout(pages);
    layout->addLayout(bottom);
}

} // namespace books
