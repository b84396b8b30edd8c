// The authors and publishers of a book: the two panels of the books window, the book's author list
// and the publisher chooser, on real archives.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/AuthorsPanel.h"
#include "books/FrmBiblio.h"
#include "books/PublishersPanel.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using testsupport::BooksWindow;
using testsupport::scalar;

namespace {

int count(const BooksWindow& books, const QString& sqlText)
{
    return scalar(books.path(), sqlText).toInt();
}

} // namespace

class TestBiblioPanels : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

    static void click(const BooksWindow& books, const QString& button)
    {
        QTest::mouseClick(books.control<QPushButton>(button), Qt::LeftButton);
    }
    static void clickEntry(const BooksWindow& books, const QString& list, int row)
    {
        auto* l = books.control<controls::DBList>(list);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualRect(l->model()->index(row, 0)).center());
    }
    static void typeInto(const BooksWindow& books, const QString& name, const QString& text)
    {
        auto* f = books.control<QLineEdit>(name);
        f->setFocus();
        f->end(false);
        QTest::keyClicks(f, text);
    }
    // Opens the edit of the book `key` in the window.
    static void editBook(const BooksWindow& books, const QString& key)
    {
        books.select(key);
        click(books, QStringLiteral("CmdModifica"));
        QVERIFY(books.window().isEditing());
    }

  private slots:
    void init() { testsupport::resetShellState(); }

    void authorsCreatedEditedLinkedAndUnlinked()
    {
        BooksWindow books;
        editBook(books, QStringLiteral("300")); // Elefanti: ITALO CALVINO
        auto* panel = books.control<books::AuthorsPanel>(QStringLiteral("Frame1"));
        QVERIFY(!panel->isVisible());
        click(books, QStringLiteral("Command8"));
        QVERIFY(panel->isVisible());

        // A new author: the name field opens, the list and "Elimina" close; saved, it is selected.
        click(books, QStringLiteral("Command3"));
        QCOMPARE(panel->Command3->text(), QStringLiteral("Annulla"));
        QCOMPARE(panel->Command4->text(), QStringLiteral("Salva"));
        QVERIFY(panel->Text1[0]->isEnabled());
        QCOMPARE(QApplication::focusWidget(), panel->Text1[0]);
        QVERIFY(!panel->DBList3->isEnabled());
        QVERIFY(!panel->Command5->isEnabled());
        typeInto(books, QStringLiteral("Text1_0"), QStringLiteral("umberto eco"));
        typeInto(books, QStringLiteral("Text1_1"), QStringLiteral("alessandria"));
        click(books, QStringLiteral("Command4"));
        QCOMPARE(panel->Command3->text(), QStringLiteral("Nuovo"));
        QVERIFY(!panel->Text1[0]->isEnabled());
        QCOMPARE(count(books, "SELECT count(*) FROM autore WHERE nome='UMBERTO ECO' AND luogo_nascita='ALESSANDRIA'"),
                 1);
        const QString eco = scalar(books.path(), "SELECT ID_autore FROM autore WHERE nome='UMBERTO ECO'").toString();
        QCOMPARE(panel->DBList3->boundText(), eco);
        QCOMPARE(panel->Text1[0]->text(), QStringLiteral("UMBERTO ECO"));

        // Linked to the book with "Inserisci": the panel closes and the book lists the author.
        click(books, QStringLiteral("Command6"));
        QVERIFY(!panel->isVisible());
        QCOMPARE(books.entries(QStringLiteral("DBList2")), (QStringList{"ITALO CALVINO", "UMBERTO ECO"}));
        QCOMPARE(count(books,
                       QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_biblio=300 AND ID_autore=%1").arg(eco)),
                 1);
        // Linked again: one link stays, and the user is told.
        click(books, QStringLiteral("Command8"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command6"));
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("L'autore è già tra gli autori di questo libro.")});
        QCOMPARE(count(books,
                       QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_biblio=300 AND ID_autore=%1").arg(eco)),
                 1);
        QCOMPARE(books.entries(QStringLiteral("DBList2")).size(), 2);

        // "Inserisci" with no author chosen does nothing and leaves the panel open.
        click(books, QStringLiteral("Command8"));
        panel->DBList3->setBoundText(QString());
        click(books, QStringLiteral("Command6"));
        QVERIFY(panel->isVisible());

        // Changing an author: the book's list shows the new name.
        clickEntry(books, QStringLiteral("DBList3"), 2); // DANTE, ITALO, UMBERTO
        QCOMPARE(panel->Text1[0]->text(), QStringLiteral("UMBERTO ECO"));
        click(books, QStringLiteral("Command4"));
        typeInto(books, QStringLiteral("Text1_0"), QStringLiteral(" jr"));
        click(books, QStringLiteral("Command4"));
        QCOMPARE(books.entries(QStringLiteral("DBList2")), (QStringList{"ITALO CALVINO", "UMBERTO ECO JR"}));

        // "X" hides the panel and leaves an author edit open.
        click(books, QStringLiteral("Command3"));
        click(books, QStringLiteral("Command15"));
        QVERIFY(!panel->isVisible());
        QCOMPARE(panel->Command3->text(), QStringLiteral("Annulla"));
        click(books, QStringLiteral("Command8"));
        click(books, QStringLiteral("Command3"));
        QCOMPARE(panel->Command3->text(), QStringLiteral("Nuovo"));

        // Unlinking: the question names the author as listed; the author stays in the catalogue.
        clickEntry(books, QStringLiteral("DBList2"), 1);
        QCOMPARE(Modulo1::IdAutoreCorrente, eco.toLongLong());
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::No);
        click(books, QStringLiteral("Command7"));
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Si vuole eliminare l'autore UMBERTO ECO JR?")});
        QCOMPARE(books.entries(QStringLiteral("DBList2")).size(), 2);
        // The link removed is the chosen one, even when another row was current.
        books.window().Data3->findFirst(QStringLiteral("autbiblio.id_autore"), 2);
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command7"));
        QCOMPARE(books.entries(QStringLiteral("DBList2")), QStringList{"ITALO CALVINO"});
        QCOMPARE(count(books, QStringLiteral("SELECT count(*) FROM autore WHERE ID_autore=%1").arg(eco)), 1);
        QCOMPARE(count(books, "SELECT count(*) FROM autbiblio WHERE ID_biblio=300"), 1);

        // Links and authors were written at once: cancelling the book keeps them.
        click(books, QStringLiteral("CmdNuovo"));
        QCOMPARE(count(books, "SELECT count(*) FROM autbiblio WHERE ID_biblio=300"), 1);
    }

    void deletingAnAuthorTakesItsLinks()
    {
        BooksWindow books;
        editBook(books, QStringLiteral("500")); // DANTE ALIGHIERI and ITALO CALVINO
        auto* panel = books.control<books::AuthorsPanel>(QStringLiteral("Frame1"));
        click(books, QStringLiteral("Command8"));
        clickEntry(books, QStringLiteral("DBList3"), 1); // ITALO CALVINO, on two books
        msg::queueAnswer(msg::Answer::No);
        click(books, QStringLiteral("Command5"));
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Eliminare il Nominativo ITALO CALVINO dall'elenco?")});
        QCOMPARE(count(books, "SELECT count(*) FROM autore"), 2);
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command5"));
        QCOMPARE(count(books, "SELECT count(*) FROM autore"), 1);
        // No link to the deleted author is left, and the book no longer lists it.
        QCOMPARE(count(books, "SELECT count(*) FROM autbiblio WHERE ID_autore=2"), 0);
        QCOMPARE(books.entries(QStringLiteral("DBList2")), QStringList{"DANTE ALIGHIERI"});
        // It was the last by name: nothing is selected.
        QCOMPARE(panel->DBList3->boundText(), QString());
        // The first by name, deleted: the next one is selected and shown.
        clickEntry(books, QStringLiteral("DBList3"), 0);
        store::Archive::open(books.path())->exec(QStringLiteral("INSERT INTO autore (nome) VALUES ('ZENO COSINI')"));
        books.window().Data2->refresh();
        clickEntry(books, QStringLiteral("DBList3"), 0);
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command5"));
        QCOMPARE(panel->Text1[0]->text(), QStringLiteral("ZENO COSINI"));
    }

    void publishersCreatedChosenAndDeleted()
    {
        BooksWindow books;
        auto* panel = books.control<books::PublishersPanel>(QStringLiteral("Frame2"));
        auto* chooser = books.control<QComboBox>(QStringLiteral("DBCombo3"));

        // For a new book, the chosen publisher's town fills the place of printing, each time.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
        typeInto(books, QStringLiteral("TxtFields_4"), QStringLiteral("napoli"));
        chooser->setCurrentIndex(1); // MONDADORI
        emit chooser->activated(1);
        QCOMPARE(books.text(QStringLiteral("TxtFields_4")), QStringLiteral("MILANO"));
        chooser->setCurrentIndex(0); // EINAUDI
        emit chooser->activated(0);
        QCOMPARE(books.text(QStringLiteral("TxtFields_4")), QStringLiteral("TORINO"));

        // A new publisher, saved: the chooser offers it at once and keeps the one chosen.
        click(books, QStringLiteral("Command13"));
        QVERIFY(panel->isVisible());
        click(books, QStringLiteral("Command12"));
        QVERIFY(panel->Text1_5->isEnabled());
        typeInto(books, QStringLiteral("Text1_5"), QStringLiteral("sellerio"));
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral("palermo"));
        typeInto(books, QStringLiteral("Text1_3"), QStringLiteral("dal 1969"));
        click(books, QStringLiteral("Command11"));
        QCOMPARE(count(books, "SELECT count(*) FROM editori WHERE nome='SELLERIO' AND residenza='PALERMO' AND "
                              "note='DAL 1969'"),
                 1);
        QVERIFY(chooser->findText(QStringLiteral("SELLERIO")) >= 0);
        QCOMPARE(chooser->currentText(), QStringLiteral("EINAUDI"));
        QCOMPARE(panel->DBList4->listModel()->textAt(panel->DBList4->currentIndex().row()), QStringLiteral("SELLERIO"));
        // The book saved with the publisher chosen.
        const qint64 id = books.text(QStringLiteral("TxtCodice")).toLongLong();
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QCOMPARE(scalar(books.path(), QStringLiteral("SELECT id_edizione FROM biblio WHERE id=%1").arg(id)).toInt(), 2);

        // "Chiudi" drops a publisher being typed; Esc hides the panel and keeps the edit open.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        click(books, QStringLiteral("Command12"));
        typeInto(books, QStringLiteral("Text1_5"), QStringLiteral("mai"));
        click(books, QStringLiteral("Command9"));
        QVERIFY(!panel->isVisible());
        QCOMPARE(panel->Command12->text(), QStringLiteral("Nuovo"));
        QCOMPARE(count(books, "SELECT count(*) FROM editori"), 3);
        click(books, QStringLiteral("Command13"));
        click(books, QStringLiteral("Command12"));
        QTest::keyClick(panel->Text1_5, Qt::Key_Escape);
        QVERIFY(!panel->isVisible());
        QCOMPARE(panel->Command12->text(), QStringLiteral("Annulla"));
        // While a publisher edit is open, showing a book does not move it.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton); // Annulla book
        books.select(QStringLiteral("500"));
        QCOMPARE(chooser->currentText(), QStringLiteral("MONDADORI"));
        QVERIFY(books.window().Data5->isEditing());
        // "X" drops it.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        click(books, QStringLiteral("Command14"));
        QCOMPARE(panel->Command12->text(), QStringLiteral("Nuovo"));
        QVERIFY(!books.window().Data5->isEditing());

        // For an existing book the place of printing is left alone.
        chooser->setCurrentIndex(0);
        emit chooser->activated(0);
        QVERIFY(books.text(QStringLiteral("TxtFields_4")).isEmpty());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);

        // Deleting a publisher leaves its books' key as it was; the last by name leaves none
        // selected.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 1); // EINAUDI, MONDADORI, SELLERIO
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command10"));
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Eliminare il Nominativo MONDADORI dall'elenco?"));
        QCOMPARE(scalar(books.path(), "SELECT id_edizione FROM biblio WHERE id=500").toInt(), 1);
        QCOMPARE(panel->DBList4->boundText(),
                 scalar(books.path(), "SELECT ID_Editore FROM editori WHERE nome='SELLERIO'").toString());
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command10"));
        QCOMPARE(panel->DBList4->boundText(), QString());
        QCOMPARE(books.entries(QStringLiteral("DBList4")), QStringList{"EINAUDI"});
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void theChooserKeepsItsPublisherWhenTheListChanges()
    {
        BooksWindow books;
        books.select(QStringLiteral("500")); // MONDADORI
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        auto* chooser = books.control<QComboBox>(QStringLiteral("DBCombo3"));
        // A new publisher that sorts before the chosen one.
        click(books, QStringLiteral("Command13"));
        click(books, QStringLiteral("Command12"));
        typeInto(books, QStringLiteral("Text1_5"), QStringLiteral("adelphi"));
        click(books, QStringLiteral("Command11"));
        QCOMPARE(chooser->currentText(), QStringLiteral("MONDADORI"));
        // And one deleted before it.
        clickEntry(books, QStringLiteral("DBList4"), 0); // ADELPHI
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command10"));
        QCOMPARE(chooser->currentText(), QStringLiteral("MONDADORI"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QCOMPARE(scalar(books.path(), "SELECT id_edizione FROM biblio WHERE id=500").toInt(), 1);
    }

    void aTownTypedWhileBrowsingIsStoredWhenAnotherPublisherIsChosen()
    {
        BooksWindow books;
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 0); // EINAUDI, TORINO
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral(" nord"));
        clickEntry(books, QStringLiteral("DBList4"), 1); // MONDADORI
        QCOMPARE(scalar(books.path(), "SELECT residenza FROM editori WHERE ID_Editore=2").toString(),
                 QStringLiteral("TORINO NORD"));
        QCOMPARE(books.text(QStringLiteral("Text1_4")), QStringLiteral("MILANO"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void aTownTypedWhileBrowsingNeverOverwritesAnotherUsersChange()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 0); // EINAUDI, TORINO
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral(" nord"));
        other->exec(QStringLiteral("UPDATE editori SET residenza='NAPOLI' WHERE ID_Editore=2"));
        msg::queueAnswer(msg::Answer::Ok);
        clickEntry(books, QStringLiteral("DBList4"), 1); // MONDADORI
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        QCOMPARE(scalar(books.path(), "SELECT residenza FROM editori WHERE ID_Editore=2").toString(),
                 QStringLiteral("NAPOLI"));
        // What was typed stays, with the publisher it was typed for.
        QCOMPARE(books.text(QStringLiteral("Text1_4")), QStringLiteral("TORINO NORD"));
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList4"))->boundText(), QStringLiteral("2"));
        // Told of the other change, the user chooses again: what they typed replaces it, as a second
        // "Salva" does.
        clickEntry(books, QStringLiteral("DBList4"), 1);
        QCOMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(scalar(books.path(), "SELECT residenza FROM editori WHERE ID_Editore=2").toString(),
                 QStringLiteral("TORINO NORD"));
        QCOMPARE(books.text(QStringLiteral("Text1_4")), QStringLiteral("MILANO"));

        // The same for a birthplace typed in the authors panel, this time with a note changed by
        // the other user: any change since the author was shown.
        click(books, QStringLiteral("Command8"));
        clickEntry(books, QStringLiteral("DBList3"), 0); // DANTE ALIGHIERI
        typeInto(books, QStringLiteral("Text1_1"), QStringLiteral("firenze"));
        other->exec(QStringLiteral("UPDATE autore SET note='ALTRO' WHERE ID_autore=1"));
        msg::queueAnswer(msg::Answer::Ok);
        clickEntry(books, QStringLiteral("DBList3"), 1);
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrRecordChanged));
        QVERIFY(scalar(books.path(), "SELECT luogo_nascita FROM autore WHERE ID_autore=1").isNull());
        QCOMPARE(books.text(QStringLiteral("Text1_1")), QStringLiteral("FIRENZE"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void theWindowsOwnMovesNeverStoreATownTypedWhileBrowsing()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 0); // EINAUDI, TORINO
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral(" nord"));
        other->exec(QStringLiteral("UPDATE editori SET residenza='NAPOLI' WHERE ID_Editore=2"));
        // The book saved and shown again: showing its publisher does not move the panel's record,
        // so nothing typed there is stored over the other user's change, nor lost.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(scalar(books.path(), "SELECT residenza FROM editori WHERE ID_Editore=2").toString(),
                 QStringLiteral("NAPOLI"));
        QCOMPARE(books.text(QStringLiteral("Text1_4")), QStringLiteral("TORINO NORD"));

        // A publisher deleted with text typed for it: that text is never stored in another one.
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        msg::queueAnswer(msg::Answer::Yes);
        click(books, QStringLiteral("Command10"));
        QCOMPARE(count(books, "SELECT count(*) FROM editori WHERE ID_Editore=2"), 0);
        QCOMPARE(scalar(books.path(), "SELECT residenza FROM editori WHERE ID_Editore=1").toString(),
                 QStringLiteral("MILANO"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void annullaAfterARefusedSaveShowsTheOtherUsersPublisher()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 0); // EINAUDI
        click(books, QStringLiteral("Command11"));
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral(" centro"));
        // The list is drawn while the publisher is edited, as it is on screen.
        QCOMPARE(books.entries(QStringLiteral("DBList4")), (QStringList{"EINAUDI", "MONDADORI"}));
        other->exec(QStringLiteral("UPDATE editori SET nome='EINAUDI EDITORE', residenza='ROMA' WHERE ID_Editore=2"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command11"));
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        click(books, QStringLiteral("Command12")); // Annulla
        QCOMPARE(books.text(QStringLiteral("Text1_5")), QStringLiteral("EINAUDI EDITORE"));
        QCOMPARE(books.text(QStringLiteral("Text1_4")), QStringLiteral("ROMA"));
        QCOMPARE(books.entries(QStringLiteral("DBList4")), (QStringList{"EINAUDI EDITORE", "MONDADORI"}));
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList4"))->boundText(), QStringLiteral("2"));
        auto* chooser = books.control<QComboBox>(QStringLiteral("DBCombo3"));
        QCOMPARE(chooser->findText(QStringLiteral("EINAUDI EDITORE")), 0);
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void anAuthorOrBookDeletedMeanwhileIsNeverLinked()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        editBook(books, QStringLiteral("700")); // Èlite: no authors
        click(books, QStringLiteral("Command8"));
        clickEntry(books, QStringLiteral("DBList3"), 0); // DANTE ALIGHIERI
        other->exec(QStringLiteral("DELETE FROM autore WHERE ID_autore=1"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command6"));
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY2(msg::shownTexts().constFirst().contains(QStringLiteral("DANTE ALIGHIERI")),
                 qPrintable(msg::shownTexts().constFirst()));
        QCOMPARE(count(books, "SELECT count(*) FROM autbiblio WHERE ID_biblio=700"), 0);
        // The panel stays open with its list read again: the author is no longer offered.
        QVERIFY(books.widget(QStringLiteral("Frame1"))->isVisible());
        QCOMPARE(books.entries(QStringLiteral("DBList3")), QStringList{"ITALO CALVINO"});
        QVERIFY(books.entries(QStringLiteral("DBList2")).isEmpty());

        // A book deleted meanwhile gets no authors either.
        clickEntry(books, QStringLiteral("DBList3"), 0); // ITALO CALVINO
        other->exec(QStringLiteral("DELETE FROM biblio WHERE id=700"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command6"));
        QCOMPARE(msg::shownTexts().size(), 2);
        QCOMPARE(count(books, "SELECT count(*) FROM autbiblio WHERE ID_biblio=700"), 0);
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }

    void anotherUsersChangeToAPublisherIsRefused()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        auto* panel = books.control<books::PublishersPanel>(QStringLiteral("Frame2"));
        click(books, QStringLiteral("Command13"));
        clickEntry(books, QStringLiteral("DBList4"), 0); // EINAUDI
        click(books, QStringLiteral("Command11"));
        typeInto(books, QStringLiteral("Text1_4"), QStringLiteral(" CENTRO"));
        other->exec(QStringLiteral("UPDATE editori SET residenza='Torino' WHERE ID_Editore=2"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command11"));
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        QCOMPARE(panel->Command11->text(), QStringLiteral("Salva"));
        QCOMPARE(panel->Text1_4->text(), QStringLiteral("TORINO CENTRO"));
        other->exec(QStringLiteral("DELETE FROM editori WHERE ID_Editore=2"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, QStringLiteral("Command11"));
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrRecordDeleted));
        QCOMPARE(count(books, "SELECT count(*) FROM editori WHERE ID_Editore=2"), 0);
        click(books, QStringLiteral("Command12"));
        QCOMPARE(panel->Command11->text(), QStringLiteral("Modifica"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
    }
};

CARTEO_TEST_MAIN(TestBiblioPanels)
#include "tst_biblio_panels.moc"
