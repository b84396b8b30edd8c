// Creating, changing, saving, cancelling and deleting books in the books window, with the input
// rules of each field, and two users on one archive.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/BookFields.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "support/ServerSupport.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using testsupport::BooksWindow;
using testsupport::scalar;

namespace {

const QString kZeta = QStringLiteral("500");

QVariant stored(const BooksWindow& books, const QString& column, qint64 id)
{
    return scalar(books.path(), QStringLiteral("SELECT %1 FROM biblio WHERE id=%2").arg(column).arg(id));
}

QColor background(QWidget* w)
{
    return w->palette().color(QPalette::Base);
}

} // namespace

class TestBiblioEditing : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

    static void click(const BooksWindow& books, const char* button)
    {
        QTest::mouseClick(books.control<QPushButton>(QString::fromLatin1(button)), Qt::LeftButton);
    }
    static QString caption(const BooksWindow& books, const char* button)
    {
        return books.control<QPushButton>(QString::fromLatin1(button))->text();
    }
    static QLineEdit* field(const BooksWindow& books, int index)
    {
        return books.control<QLineEdit>(QStringLiteral("TxtFields_%1").arg(index));
    }
    // Types at the end of a field as the user does: the field gets the focus first.
    static void type(const BooksWindow& books, int index, const QString& text)
    {
        QLineEdit* f = field(books, index);
        f->setFocus();
        f->end(false);
        QTest::keyClicks(f, text);
    }

  private slots:
    void initTestCase()
    {
        // Amounts as Italian regional settings write them.
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    }

    void init() { testsupport::resetShellState(); }

    void newBookCancelledLeavesNothing()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        w.activateWindow();
        const qint64 before = testsupport::rowCount(books.path(), "biblio");
        click(books, "CmdNuovo");
        QCOMPARE(caption(books, "CmdNuovo"), QStringLiteral("Annulla"));
        QCOMPARE(caption(books, "CmdModifica"), QStringLiteral("Salva"));
        QVERIFY(w.isEditing());
        QVERIFY(Modulo1::NuovoRecord);
        QVERIFY(!books.widget(QStringLiteral("Cmdelimina"))->isEnabled());
        QVERIFY(!books.widget(QStringLiteral("DBList1"))->isEnabled());
        QVERIFY(!books.widget(QStringLiteral("SearchPanel"))->isEnabled());
        QVERIFY(books.widget(QStringLiteral("Picture2"))->isEnabled());
        QVERIFY(!w.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
        QVERIFY(w.floorPlan()->Image2->isVisible());
        QCOMPARE(w.floorPlan()->smallMarker(), QPoint(10, 10));
        // The new book is stored at once, with its key and nothing else.
        const qint64 id = books.text(QStringLiteral("TxtCodice")).toLongLong();
        QVERIFY(id >= 1 && id <= 200000);
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), before + 1);
        QVERIFY(stored(books, "titolo", id).isNull());
        QVERIFY(books.text(QStringLiteral("TxtFields_0")).isEmpty());
        QVERIFY(books.entries(QStringLiteral("DBList2")).isEmpty());

        // An author linked meanwhile goes with the cancelled book.
        store::Archive::open(books.path())
            ->exec(QStringLiteral("INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (%1, 1)").arg(id));
        type(books, 0, QStringLiteral("mai salvato"));
        click(books, "CmdNuovo");
        QCOMPARE(caption(books, "CmdNuovo"), QStringLiteral("Nuovo"));
        QCOMPARE(caption(books, "CmdModifica"), QStringLiteral("Modifica"));
        QVERIFY(!Modulo1::NuovoRecord);
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), before);
        QCOMPARE(
            scalar(books.path(), QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_biblio=%1").arg(id)).toInt(),
            0);
        QVERIFY(w.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive());
        QVERIFY(books.widget(QStringLiteral("DBList1"))->isEnabled());
        // The title selected before is shown again.
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("edera"));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void newBookSavedWithZerosAndSelected()
    {
        BooksWindow books;
        click(books, "CmdNuovo");
        const qint64 id = books.text(QStringLiteral("TxtCodice")).toLongLong();
        type(books, 0, QStringLiteral("abc"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("ABC"));
        QCOMPARE(field(books, 0)->cursorPosition(), 3);
        auto* genre = books.control<QComboBox>(QStringLiteral("DBCombo2"));
        genre->setFocus();
        QTest::keyClicks(genre, QStringLiteral("fantasy"));
        QCOMPARE(genre->currentText(), QStringLiteral("FANTASY"));
        // A genre chosen from the list shows as listed.
        const QString typedGenre = genre->currentText();
        genre->setCurrentIndex(genre->findText(QStringLiteral("SAGGIO")));
        QCOMPARE(genre->currentText(), QStringLiteral("SAGGIO"));
        genre->setEditText(typedGenre);
        auto* state = books.control<QComboBox>(QStringLiteral("Combo1"));
        state->setFocus();
        QTest::keyClicks(state, QStringLiteral("buono"));
        QCOMPARE(state->currentText(), QStringLiteral("BUONO"));
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(caption(books, "CmdNuovo"), QStringLiteral("Nuovo"));
        QVERIFY(!Modulo1::NuovoRecord);
        // Empty prices and pages are stored as 0; the marker where "Nuovo" put it.
        QCOMPARE(stored(books, "titolo", id).toString(), QStringLiteral("ABC"));
        QCOMPARE(stored(books, "costo_E", id), QVariant(qint64(0)));
        QCOMPARE(stored(books, "costo_L", id), QVariant(qint64(0)));
        QCOMPARE(stored(books, "num_pag", id), QVariant(qint64(0)));
        QCOMPARE(stored(books, "posx", id), QVariant(qint64(10)));
        QCOMPARE(stored(books, "posy", id), QVariant(qint64(10)));
        QCOMPARE(stored(books, "genere", id).toString(), QStringLiteral("FANTASY"));
        QCOMPARE(stored(books, "stato", id).toString(), QStringLiteral("BUONO"));
        QVERIFY(stored(books, "id_edizione", id).isNull());
        // The title is in the list, selected and shown; the genre joined the genre list.
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        QCOMPARE(list->boundText(), QString::number(id));
        QCOMPARE(books.entries(QStringLiteral("DBList1")).constFirst(), QStringLiteral("ABC"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("ABC"));
        QVERIFY(books.window().Data4->rs().findRow(QStringLiteral("genere"), QStringLiteral("FANTASY")) >= 0);
        QCOMPARE(Modulo1::IdLibroCorrente, id);
    }

    void emptyCatalogueTakesTheFirstKeyAndAFullOneNone()
    {
        BooksWindow empty{QString()};
        click(empty, "CmdNuovo");
        QCOMPARE(testsupport::rowCount(empty.path(), "biblio"), 1);
        click(empty, "CmdNuovo"); // Annulla
        QCOMPARE(testsupport::rowCount(empty.path(), "biblio"), 0);

        // What the window says of a full catalogue is the same on either engine, and the store's
        // own tests fill one on both; 200,000 books on a server only take longer to write.
        if (testsupport::onServer()) {
            return;
        }
        BooksWindow full(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                                        "200000) INSERT INTO biblio (id, titolo) SELECT i, 'T' || i FROM n;"));
        msg::queueAnswer(msg::Answer::Ok);
        click(full, "CmdNuovo");
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY(msg::shownTexts().constFirst().contains(QStringLiteral("200.000")));
        QCOMPARE(msg::shownIcons().constFirst(), msg::Icon::Information);
        QCOMPARE(caption(full, "CmdNuovo"), QStringLiteral("Nuovo"));
        QVERIFY(!Modulo1::NuovoRecord);
        QCOMPARE(testsupport::rowCount(full.path(), "biblio"), 200000);
    }

    void editKeepsWhatWasNotChosen()
    {
        BooksWindow books;
        // Edera names a publisher that is not there: with none chosen, the key stays as it was.
        books.select(QStringLiteral("900"));
        click(books, "CmdModifica");
        QVERIFY(!Modulo1::NuovoRecord);
        QCOMPARE(books.window().focusWidget(), field(books, 0));
        type(books, 3, QStringLiteral(" e fiori"));
        click(books, "CmdModifica");
        QCOMPARE(stored(books, "id_edizione", 900), QVariant(qint64(77)));
        QCOMPARE(stored(books, "argomento", 900).toString(), QStringLiteral("PIANTE E FIORI"));
        QCOMPARE(stored(books, "titolo", 900).toString(), QStringLiteral("edera")); // untouched

        // Choosing a publisher for an existing book leaves the place of printing alone, and the
        // chosen key is stored.
        books.select(kZeta);
        click(books, "CmdModifica");
        type(books, 4, QStringLiteral("roma"));
        auto* publisher = books.control<QComboBox>(QStringLiteral("DBCombo3"));
        publisher->setCurrentIndex(0); // EINAUDI, first by name
        emit publisher->activated(0);
        QCOMPARE(books.text(QStringLiteral("TxtFields_4")), QStringLiteral("ROMA"));
        click(books, "CmdModifica");
        QCOMPARE(stored(books, "id_edizione", 500), QVariant(qint64(2)));
        QCOMPARE(stored(books, "luogo_stampa", 500).toString(), QStringLiteral("ROMA"));

        // "Annulla" of an existing book drops the changes and deletes nothing.
        click(books, "CmdModifica");
        type(books, 0, QStringLiteral("XYZ"));
        click(books, "CmdNuovo");
        QCOMPARE(stored(books, "titolo", 500).toString(), QStringLiteral("Zeta"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), 4);
    }

    void eachFieldTakesWhatItShould()
    {
        BooksWindow books;
        books.window().activateWindow();
        books.select(kZeta);
        click(books, "CmdModifica");
        // Letters are refused by the amounts and the pages; "/" only by the purchase date.
        for (int index : {8, 9, 18}) {
            field(books, index)->clear();
            type(books, index, QStringLiteral("a/"));
            QCOMPARE(field(books, index)->text(), QString());
        }
        field(books, 7)->clear();
        type(books, 7, QStringLiteral("12/3/2001x"));
        QCOMPARE(field(books, 7)->text(), QStringLiteral("12/3/2001"));
        type(books, 5, QStringLiteral("/"));
        QCOMPARE(field(books, 5)->text(), QStringLiteral("1990/"));

        // Lire are grouped in thousands as the digits come, the caret at the end; 0 shows empty
        // once the field is left.
        type(books, 9, QStringLiteral("1234567"));
        QCOMPARE(field(books, 9)->text(), QStringLiteral("1.234.567"));
        QCOMPARE(field(books, 9)->cursorPosition(), 9);
        QTest::keyClick(field(books, 9), Qt::Key_Backspace);
        QCOMPARE(field(books, 9)->text(), QStringLiteral("123.456"));
        field(books, 0)->setFocus();
        QCOMPARE(field(books, 9)->text(), QStringLiteral("123.456"));
        field(books, 9)->clear();
        type(books, 9, QStringLiteral("0"));
        field(books, 0)->setFocus();
        QCOMPARE(field(books, 9)->text(), QString());
        type(books, 9, QStringLiteral("2500"));
        // Euro with two decimals once left.
        field(books, 8)->clear();
        type(books, 8, QStringLiteral("12,5"));
        field(books, 0)->setFocus();
        QCOMPARE(field(books, 8)->text(), QStringLiteral("12,50"));
        // Entering an amount or the pages selects its text.
        QTest::keyClick(field(books, 0), Qt::Key_Tab); // onwards through the form
        field(books, 8)->setFocus(Qt::TabFocusReason);
        QCOMPARE(field(books, 8)->selectedText(), QStringLiteral("12,50"));
        // A focused field is light yellow, the others light cyan.
        QCOMPARE(background(field(books, 8)), QColor(255, 255, 192));
        QCOMPARE(background(field(books, 0)), QColor(192, 255, 255));
        auto* publisher = books.widget(QStringLiteral("DBCombo3"));
        publisher->setFocus();
        QCOMPARE(background(publisher), QColor(255, 255, 192));
        QCOMPARE(background(field(books, 8)), QColor(192, 255, 255));

        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(stored(books, "costo_E", 500).toDouble(), 12.5);
        QCOMPARE(stored(books, "costo_L", 500), QVariant(qint64(2500)));
        QCOMPARE(stored(books, "data_acquisto", 500).toString(), QStringLiteral("12/3/2001"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_9")), QStringLiteral("2.500"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_8")), QStringLiteral("12,50"));

        // Pasted text is not filtered; an amount that is not a number is refused at the save and
        // the edit stays open with it.
        click(books, "CmdModifica");
        field(books, 8)->selectAll();
        field(books, 8)->insert(QStringLiteral("dodici")); // as a paste does
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY(msg::shownTexts().constFirst().contains(QStringLiteral("dodici")));
        QVERIFY(books.window().isEditing());
        QCOMPARE(books.text(QStringLiteral("TxtFields_8")), QStringLiteral("dodici"));
        click(books, "CmdNuovo");
        QCOMPARE(stored(books, "costo_E", 500).toDouble(), 12.5);
    }

    void amountsBeyondTheirLimitsAreRefused()
    {
        BooksWindow books;
        books.select(kZeta);
        click(books, "CmdModifica");
        const QString huge = QStringLiteral("99999999999999999999");
        // Shown as typed, never as another number; refused at the save with the field's name, the
        // edit left open with it.
        for (int index : {9, 18, 8}) {
            field(books, index)->clear();
            type(books, index, huge);
            field(books, 0)->setFocus();
            QCOMPARE(field(books, index)->text(), huge);
            msg::queueAnswer(msg::Answer::Ok);
            click(books, "CmdModifica");
            QCOMPARE(msg::shownTexts().size(), 1);
            const QString caption = index == 9    ? QStringLiteral("LIRE")
                                    : index == 18 ? QStringLiteral("PAG.")
                                                  : QStringLiteral("EURO");
            QVERIFY2(msg::shownTexts().constFirst().contains(caption), qPrintable(msg::shownTexts().constFirst()));
            QVERIFY(msg::shownTexts().constFirst().contains(huge));
            QVERIFY(books.window().isEditing());
            QCOMPARE(field(books, index)->text(), huge);
            field(books, index)->clear();
            type(books, index, QStringLiteral("7"));
            msg::shownTexts().clear();
        }
        // The largest amounts are stored exactly.
        field(books, 9)->clear();
        type(books, 9, QStringLiteral("999999999999999"));
        field(books, 8)->clear();
        type(books, 8, QStringLiteral("-9999999999999,99"));
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(stored(books, "costo_L", 500), QVariant(qint64(999999999999999)));
        QCOMPARE(stored(books, "costo_E", 500).toDouble(), -9999999999999.99);
        QCOMPARE(stored(books, "num_pag", 500), QVariant(qint64(7)));
        QCOMPARE(books.text(QStringLiteral("TxtFields_9")), QStringLiteral("999.999.999.999.999"));
    }

    void deletingBooks()
    {
        BooksWindow books(BooksWindow::catalogue() +
                          QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (50, ''), (60, 'ZZZ ULTIMO');"));
        // The question names the title; an empty one leaves two spaces.
        books.select(QStringLiteral("50"));
        msg::queueAnswer(msg::Answer::No);
        click(books, "Cmdelimina");
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Eliminare il titolo  dall'elenco?")});
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>{msg::Icon::None});
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), 6);
        // Yes: the book goes with its links, and the next title is shown.
        books.select(kZeta);
        msg::queueAnswer(msg::Answer::Yes);
        click(books, "Cmdelimina");
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Eliminare il titolo Zeta dall'elenco?"));
        QCOMPARE(stored(books, "count(*)", 500).toInt(), 0);
        QCOMPARE(scalar(books.path(), "SELECT count(*) FROM autbiblio WHERE ID_biblio=500").toInt(), 0);
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->boundText(), QStringLiteral("60"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("ZZZ ULTIMO"));
        // The last title: nothing is selected and no book is shown.
        msg::queueAnswer(msg::Answer::Yes);
        click(books, "Cmdelimina");
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->boundText(), QString());
        QVERIFY(books.text(QStringLiteral("TxtFields_0")).isEmpty());
        QCOMPARE(books.entries(QStringLiteral("DBList1")).size(), 4);
    }

    void anotherUsersChangeIsRefusedAndNothingTypedIsLost()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        books.select(kZeta);
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral("mia nota"));
        other->exec(QStringLiteral("UPDATE biblio SET titolo='ZETA' WHERE id=500"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        QCOMPARE(caption(books, "CmdNuovo"), QStringLiteral("Annulla"));
        QCOMPARE(caption(books, "CmdModifica"), QStringLiteral("Salva"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_13")), QStringLiteral("MIA NOTA"));
        QVERIFY(stored(books, "note", 500).isNull());
        // "Salva" again: the user has seen the warning and overwrites what they changed.
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(stored(books, "note", 500).toString(), QStringLiteral("MIA NOTA"));
        QCOMPARE(stored(books, "titolo", 500).toString(), QStringLiteral("ZETA"));
        QVERIFY(!books.window().isEditing());

        // Deleted meanwhile: refused, the edit stays open; "Annulla" ends it.
        books.select(QStringLiteral("700"));
        click(books, "CmdModifica");
        type(books, 0, QStringLiteral("X"));
        other->exec(QStringLiteral("DELETE FROM biblio WHERE id=700"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrRecordDeleted));
        QVERIFY(books.window().isEditing());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("ÈLITEX")); // all of it upper case
        click(books, "CmdNuovo");
        QVERIFY(!books.window().isEditing());
        QCOMPARE(stored(books, "count(*)", 700).toInt(), 0);

        // Busy: refused after a moment, the edit stays open, and the save goes through later.
        books.select(QStringLiteral("300"));
        click(books, "CmdModifica");
        type(books, 1, QStringLiteral("SC. 9"));
        other->exec(QStringLiteral("BEGIN IMMEDIATE; UPDATE biblio SET note='ALTRO' WHERE id=900;"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrLocked));
        QVERIFY(books.window().isEditing());
        other->exec(QStringLiteral("COMMIT"));
        click(books, "CmdModifica");
        QVERIFY(!books.window().isEditing());
        QCOMPARE(stored(books, "posizione", 300).toString(), QStringLiteral("SC. 9"));

        // "Modifica" of a book deleted since it was shown says so and opens nothing.
        books.select(QStringLiteral("900"));
        other->exec(QStringLiteral("DELETE FROM biblio WHERE id=900"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrRecordDeleted));
        QVERIFY(!books.window().isEditing());
    }

    void aRoleThatMayOnlyReadBrowsesAndIsToldAtEveryChange()
    {
        if (!testsupport::onServer()) {
            QSKIP("i ruoli sono del server: nessun server di prova");
        }
        BooksWindow books(BooksWindow::catalogue(), false);
        const testsupport::pg::ReaderRole reader(books.path());
        QVERIFY2(reader.error().isEmpty(), qPrintable(reader.error()));
        Modulo1::PercorsoArchivio = reader.address();
        books.load();
        QCOMPARE(books.entries(QStringLiteral("DBList1")).size(), 4);
        books.select(kZeta);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));

        // "Modifica", "Nuovo" and "Elimina" each say why at once, and leave the window browsing.
        const auto refusedOnce = [&](int count) {
            QCOMPARE(msg::shownTexts().size(), count);
            const QString text = msg::shownTexts().constLast();
            QVERIFY2(text.startsWith(QStringLiteral("Permesso negato")) && text.contains(reader.name()),
                     qPrintable(text));
            QVERIFY(!books.window().isEditing());
            QVERIFY(!Modulo1::NuovoRecord);
            QCOMPARE(caption(books, "CmdModifica"), QStringLiteral("Modifica"));
            QCOMPARE(caption(books, "CmdNuovo"), QStringLiteral("Nuovo"));
        };
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        refusedOnce(1);
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdNuovo");
        refusedOnce(2);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "Cmdelimina");
        QCOMPARE(msg::shownTexts().at(2), QStringLiteral("Eliminare il titolo Zeta dall'elenco?"));
        refusedOnce(4);
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), 4);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));

        // Browsing and the quick find go on as before.
        books.select(QStringLiteral("300"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Elefanti"));
        QCOMPARE(msg::shownTexts().size(), 4);
    }

    void newBookWhoseSaveFailsIsStillCancelled()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        click(books, "CmdNuovo");
        const qint64 id = books.text(QStringLiteral("TxtCodice")).toLongLong();
        type(books, 0, QStringLiteral("a meta"));
        other->exec(QStringLiteral("BEGIN IMMEDIATE"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().constLast(), store::DbError::describe(store::ErrLocked));
        other->exec(QStringLiteral("COMMIT"));
        // Still a new book: "Annulla" removes it.
        QVERIFY(Modulo1::NuovoRecord);
        click(books, "CmdNuovo");
        QCOMPARE(stored(books, "count(*)", id).toInt(), 0);
    }

    void anotherUsersPublisherAndPlaceAreWhatAnEditStartsFrom()
    {
        BooksWindow books;
        books.select(kZeta); // MONDADORI, at 900, 600
        store::Archive::open(books.path())
            ->exec(QStringLiteral("UPDATE biblio SET id_edizione=2, posx=50, posy=60, genere='' WHERE id=500"));
        click(books, "CmdModifica");
        QCOMPARE(books.control<QComboBox>(QStringLiteral("DBCombo3"))->currentText(), QStringLiteral("EINAUDI"));
        QCOMPARE(books.window().floorPlan()->smallMarker(), QPoint(50, 60));
        type(books, 0, QStringLiteral(" II"));
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(stored(books, "titolo", 500).toString(), QStringLiteral("ZETA II"));
        QCOMPARE(stored(books, "id_edizione", 500), QVariant(qint64(2)));
        QCOMPARE(stored(books, "posx", 500), QVariant(qint64(50)));
        // A field left alone keeps an empty text as it is (not a null, nor a number).
        QCOMPARE(scalar(books.path(), "SELECT count(*) FROM biblio WHERE id=500 AND genere = ''").toInt(), 1);
    }

    void aSecondSaveOverwritesOnlyWhatWasTyped()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        books.select(QStringLiteral("300")); // Elefanti: an empty genre, 0 euro
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral("nota"));
        other->exec(QStringLiteral("UPDATE biblio SET genere='ZOOLOGIA', costo_E=7.25, note='LORO' WHERE id=300"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        click(books, "CmdModifica");
        QCOMPARE(stored(books, "note", 300).toString(), QStringLiteral("NOTA"));
        QCOMPARE(stored(books, "genere", 300).toString(), QStringLiteral("ZOOLOGIA"));
        QCOMPARE(stored(books, "costo_E", 300).toDouble(), 7.25);
    }

    void aSaveWritesNoPlaceOrPublisherTheUserLeftAlone()
    {
        // Elefanti has no place on the plan (no position stored) and a publisher.
        BooksWindow books(BooksWindow::catalogue() +
                          QStringLiteral("UPDATE biblio SET posx=NULL, posy=NULL WHERE id=300;"));
        auto other = store::Archive::open(books.path());
        books.select(QStringLiteral("300"));
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral("nota"));
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(stored(books, "note", 300).toString(), QStringLiteral("NOTA"));
        QVERIFY(stored(books, "posx", 300).isNull());
        QVERIFY(stored(books, "posy", 300).isNull());

        // A save after a refused one writes what this user changed, and no place or publisher of
        // theirs over the other user's.
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral(" bis"));
        other->exec(QStringLiteral("UPDATE biblio SET posx=700, posy=800, id_edizione=1 WHERE id=300"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(stored(books, "note", 300).toString(), QStringLiteral("NOTA BIS"));
        QCOMPARE(stored(books, "posx", 300), QVariant(qint64(700)));
        QCOMPARE(stored(books, "posy", 300), QVariant(qint64(800)));
        QCOMPARE(stored(books, "id_edizione", 300), QVariant(qint64(1)));
    }

    void annullaAfterARefusedSaveShowsTheOtherUsersBook()
    {
        BooksWindow books;
        auto other = store::Archive::open(books.path());
        books.select(kZeta);
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral("mia"));
        other->exec(QStringLiteral("UPDATE biblio SET titolo='ZETA NUOVA', note='LORO' WHERE id=500"));
        msg::queueAnswer(msg::Answer::Ok);
        click(books, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        click(books, "CmdNuovo"); // Annulla: the message promised the new data
        QVERIFY(!books.window().isEditing());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("ZETA NUOVA"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_13")), QStringLiteral("LORO"));
        QVERIFY(books.entries(QStringLiteral("DBList1")).contains(QStringLiteral("ZETA NUOVA")));
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->boundText(), kZeta);
    }

    void savingUnderASearchShowsTheSavedBook()
    {
        BooksWindow books;
        auto* search = books.window().searchPanel();
        search->Text2[2]->setText(QStringLiteral("ROMANZO"));
        QTest::mouseClick(search->Check1[2], Qt::LeftButton);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        click(books, "CmdModifica");
        auto* genre = books.control<QComboBox>(QStringLiteral("DBCombo2"));
        genre->setEditText(QString());
        genre->setFocus();
        QTest::keyClicks(genre, QStringLiteral("saggio"));
        click(books, "CmdModifica");
        // Zeta no longer matches the search: no title is selected, and all of the record shows
        // Zeta, not another book.
        QCOMPARE(books.entries(QStringLiteral("DBList1")), QStringList());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QCOMPARE(books.text(QStringLiteral("TxtCodice")), QStringLiteral("500"));
        QCOMPARE(books.control<QComboBox>(QStringLiteral("DBCombo3"))->currentText(), QStringLiteral("MONDADORI"));
        QCOMPARE(books.entries(QStringLiteral("DBList2")).size(), 2);
        QCOMPARE(Modulo1::IdLibroCorrente, 500);
        // An edit of what is shown writes to Zeta, and to no other book.
        click(books, "CmdModifica");
        type(books, 13, QStringLiteral("x"));
        click(books, "CmdModifica");
        QCOMPARE(stored(books, "note", 500).toString(), QStringLiteral("X"));
        QVERIFY(stored(books, "note", 900).isNull());
        QCOMPARE(stored(books, "id_edizione", 900), QVariant(qint64(77)));
        QCOMPARE(stored(books, "genere", 500).toString(), QStringLiteral("SAGGIO"));
    }

    void deletingDeletesTheBookTheQuestionNamed()
    {
        BooksWindow books;
        books.select(QStringLiteral("300")); // Elefanti
        // A search value typed a moment before: its rebuild comes due while the question waits.
        books.window().searchPanel()->Check1[2]->setChecked(true);
        books.window().searchPanel()->Text2[2]->setText(QStringLiteral("ROMANZO"));
        books::SearchPanel* search = books.window().searchPanel();
        bool waited = false;
        testsupport::NextModal answer([&](QWidget* box) {
            search->typingPauseEnded();
            waited = search->rebuildPending() && books.entries(QStringLiteral("DBList1")).size() == 4;
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        });
        click(books, "Cmdelimina");
        QVERIFY(answer.answered());
        QVERIFY(waited);
        QCOMPARE(answer.seenText(), QStringLiteral("Eliminare il titolo Elefanti dall'elenco?"));
        QCOMPARE(stored(books, "count(*)", 300).toInt(), 0);
        QCOMPARE(stored(books, "count(*)", 500).toInt(), 1);
        QTRY_COMPARE(books.entries(QStringLiteral("DBList1")), (QStringList{"Zeta", "Zeta"}));
    }
};

CARTEO_TEST_MAIN(TestBiblioEditing)
#include "tst_biblio_editing.moc"
