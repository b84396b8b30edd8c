#include "books/PublishersPanel.h"

#include "app/Guard.h"
#include "app/Modulo1.h"
#include "books/BookFields.h"
#include "books/PanelFrame.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/DataSource.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace books {

using controls::captionFor;
using controls::named;

PublishersPanel::PublishersPanel(QWidget* parent, store::DataSource* publishers, BookFields* fields)
    : RecordPanel(parent), m_fields(fields)
{
    setObjectName(QStringLiteral("Frame2"));
    setRecords(publishers, QStringLiteral("ID_Editore"), QStringLiteral("nome"));
    build();
    connectHandlers();
    hide();
}

void PublishersPanel::build()
{
    framePanel(this);
    DBList4 = named(new controls::DBList(this), QStringLiteral("DBList4"));
    DBList4->setAccessibleName(QStringLiteral("Editori"));
    setList(DBList4);
    Command14 = panelButton(this, QStringLiteral("Command14"), QStringLiteral("X"));
    Command14->setAccessibleName(QStringLiteral("Chiudi"));
    Command14->setFixedWidth(28);
    Text1_5 = addField(QStringLiteral("Text1_5"), QStringLiteral("nome"), 0, true);
    Text1_4 = addField(QStringLiteral("Text1_4"), QStringLiteral("residenza"), 0, false);
    Text1_3 = addField(QStringLiteral("Text1_3"), QStringLiteral("note"), 0, false);
    Command12 = panelButton(this, QStringLiteral("Command12"), QString());
    Command11 = panelButton(this, QStringLiteral("Command11"), QString());
    Command10 = panelButton(this, QStringLiteral("Command10"), QStringLiteral("Elimina"));
    Command9 = panelButton(this, QStringLiteral("Command9"), QStringLiteral("Chiudi"));
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
}

void PublishersPanel::connectHandlers()
{
    guard::connect(Command9, &QPushButton::clicked, this, [this] { Command9_Click(); });
    guard::connect(Command10, &QPushButton::clicked, this, [this] { Command10_Click(); });
    guard::connect(Command11, &QPushButton::clicked, this, [this] { Command11_Click(); });
    guard::connect(Command12, &QPushButton::clicked, this, [this] { Command12_Click(); });
    guard::connect(Command14, &QPushButton::clicked, this, [this] { Command14_Click(); });
    guard::connect(DBList4, &controls::DBList::entryClicked, this, [this] { DBList4_Click(); });
    guard::connect(DBList4, &controls::DBList::keyReleased, this, [this] { DBList4_Click(); });
    guard::connect(m_fields->Command13, &QPushButton::clicked, this, [this] { Command13_Click(); });
    guard::connect(m_fields->DBCombo3, &QComboBox::activated, this, [this] { DBCombo3_Click(); });
}

void PublishersPanel::DBCombo3_Click()
{
    // For a new book the place of printing is the chosen publisher's town. Any failure leaves the
    // place as it was, silently.
    try {
        const QString key = m_fields->DBCombo3->boundText();
        if (!Modulo1::NuovoRecord || key.isEmpty()) {
            return;
        }
        const store::Recordset& publishers = source()->rs();
        // Read from the list without moving it: a publisher edit may be open in the panel.
        const int row = m_fields->DBCombo3->listModel()->rowOfKey(key);
        if (row >= 0) {
            m_fields->TxtFields[4]->setTextToStore(
                publishers.valueAt(row, publishers.columnIndex(QStringLiteral("residenza"))).toString());
        }
    } catch (...) {
    }
}

void PublishersPanel::Command9_Click()
{
    Command14_Click();
}

void PublishersPanel::Command10_Click()
{
    remove(QStringLiteral("Eliminare il Nominativo "), QStringLiteral(" dall'elenco?"));
}

void PublishersPanel::Command11_Click()
{
    editOrSave();
}

void PublishersPanel::Command12_Click()
{
    newOrCancel();
}

QList<QWidget*> PublishersPanel::readingOrder() const
{
    return {Command14, DBList4, Text1_5, Text1_4, Text1_3, Command12, Command11, Command10, Command9};
}

void PublishersPanel::Command13_Click()
{
    show();
    raise();
    DBList4->setFocus(); // the keyboard goes on in the panel
}

void PublishersPanel::Command14_Click()
{
    // Closing the panel drops a publisher being typed.
    cancelEdit();
    hide();
}

void PublishersPanel::DBList4_Click()
{
    showSelected();
}

} // namespace books
