#include "books/AuthorsPanel.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/BookFields.h"
#include "books/PanelFrame.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/Catalogue.h"
#include "store/DataSource.h"
#include "store/Sql.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace books {

using controls::captionFor;
using controls::named;

AuthorsPanel::AuthorsPanel(QWidget* parent, store::DataSource* authors, store::DataSource* bookAuthors,
                           store::DataSource* book, BookFields* fields)
    : RecordPanel(parent), m_bookAuthors(bookAuthors), m_book(book), m_fields(fields)
{
    setObjectName(QStringLiteral("Frame1"));
    setRecords(authors, QStringLiteral("ID_Autore"), QStringLiteral("nome"));
    build();
    connectHandlers();
    hide();
}

void AuthorsPanel::build()
{
    framePanel(this);
    DBList3 = named(new controls::DBList(this), QStringLiteral("DBList3"));
    DBList3->setAccessibleName(QStringLiteral("Autori"));
    setList(DBList3);
    Command15 = panelButton(this, QStringLiteral("Command15"), QStringLiteral("X"));
    Command15->setAccessibleName(QStringLiteral("Chiudi"));
    Command15->setFixedWidth(28);
    Text1[0] = addField(QStringLiteral("Text1_0"), QStringLiteral("nome"), 100, true);
    Text1[1] = addField(QStringLiteral("Text1_1"), QStringLiteral("luogo_nascita"), 50, false);
    Text1[2] = addField(QStringLiteral("Text1_2"), QStringLiteral("data_nascita"), 0, false);
    Command3 = panelButton(this, QStringLiteral("Command3"), QString());
    Command4 = panelButton(this, QStringLiteral("Command4"), QString());
    Command5 = panelButton(this, QStringLiteral("Command5"), QStringLiteral("Elimina"));
    Command6 = panelButton(this, QStringLiteral("Command6"), QStringLiteral("Inserisci"));
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
}

void AuthorsPanel::connectHandlers()
{
    guard::connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
    guard::connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
    guard::connect(Command5, &QPushButton::clicked, this, [this] { Command5_Click(); });
    guard::connect(Command6, &QPushButton::clicked, this, [this] { Command6_Click(); });
    guard::connect(Command15, &QPushButton::clicked, this, [this] { Command15_Click(); });
    guard::connect(DBList3, &controls::DBList::entryClicked, this, [this] { DBList3_Click(); });
    guard::connect(m_fields->Command7, &QPushButton::clicked, this, [this] { Command7_Click(); });
    guard::connect(m_fields->Command8, &QPushButton::clicked, this, [this] { Command8_Click(); });
    guard::connect(m_fields->DBList2, &controls::DBList::entryClicked, this, [this] { DBList2_Click(); });
    guard::connect(m_fields->DBList2, &controls::DBList::keyReleased, this, [this] { DBList2_Click(); });
}

qint64 AuthorsPanel::bookKey() const
{
    return m_book->rs().value(QStringLiteral("ID")).toLongLong();
}

void AuthorsPanel::showAuthorsOf(qint64 bookId)
{
    m_bookAuthors->setRecordSource(sql::authorsOfBook(bookId));
    m_bookAuthors->refresh();
}

void AuthorsPanel::Command3_Click()
{
    newOrCancel();
}

void AuthorsPanel::Command4_Click()
{
    editOrSave();
    if (!isEditing()) {
        // A new name shows among the book's authors too.
        m_bookAuthors->refresh();
    }
}

void AuthorsPanel::Command5_Click()
{
    if (remove(QStringLiteral("Eliminare il Nominativo "), QStringLiteral(" dall'elenco?"))) {
        // The archive removed the author's links with it: the book's list no longer names it.
        m_bookAuthors->refresh();
    }
}

void AuthorsPanel::Command6_Click()
{
    const QString author = DBList3->boundText();
    if (author.isEmpty()) {
        return;
    }
    const QString name = DBList3->text();
    const qint64 book = bookKey();
    switch (store::catalogue::linkAuthor(*m_bookAuthors->archive(), book, author.toLongLong())) {
    case store::catalogue::LinkOutcome::Linked:
        break;
    case store::catalogue::LinkOutcome::AlreadyLinked:
        msg::show(QStringLiteral("L'autore è già tra gli autori di questo libro."), msg::Icon::Information);
        break;
    case store::catalogue::LinkOutcome::AuthorGone:
        // Deleted on another computer since the list was read: the list is read again and the panel
        // stays open for another choice.
        msg::show(QStringLiteral("L'autore %1 non è più nell'archivio: è stato eliminato da un altro utente.")
                      .arg(name),
                  msg::Icon::Information);
        if (!isEditing()) {
            source()->refresh();
            DBList3_Click();
        }
        showAuthorsOf(book);
        return;
    case store::catalogue::LinkOutcome::BookGone:
        msg::show(QStringLiteral("Il libro non è più nell'archivio: è stato eliminato da un altro utente."),
                  msg::Icon::Information);
        showAuthorsOf(book);
        return;
    }
    hide();
    showAuthorsOf(book);
}

void AuthorsPanel::Command7_Click()
{
    controls::DBList* list = m_fields->DBList2;
    const QString author = list->boundText();
    if (author.isEmpty()) {
        return;
    }
    if (msg::show(QStringLiteral("Si vuole eliminare l'autore ") + list->text() + QStringLiteral("?"), msg::Icon::None,
                  msg::Buttons::YesNo) == msg::Answer::No) {
        return;
    }
    // The link removed is the one of the author named in the question, whatever row was current.
    if (m_bookAuthors->findFirst(QStringLiteral("autbiblio.id_autore"), author.toLongLong())) {
        m_bookAuthors->deleteCurrent();
    }
    m_bookAuthors->refresh();
}

QList<QWidget*> AuthorsPanel::readingOrder() const
{
    return {Command15, DBList3, Text1[0], Text1[1], Text1[2], Command3, Command4, Command5, Command6};
}

void AuthorsPanel::Command8_Click()
{
    show();
    raise();
    DBList3->setFocus(); // the keyboard goes on in the panel
}

void AuthorsPanel::Command15_Click()
{
    // An open author edit stays open for when the panel is shown again.
    hide();
}

void AuthorsPanel::DBList2_Click()
{
    const qint64 author = m_fields->DBList2->boundText().toLongLong();
    m_bookAuthors->findFirst(QStringLiteral("autbiblio.id_autore"), author);
    Modulo1::IdAutoreCorrente = author;
}

void AuthorsPanel::DBList3_Click()
{
    showSelected();
}

} // namespace books
