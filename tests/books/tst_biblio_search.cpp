// The live search of the books window: ten conditions, OR and AND, the two pages, values typed
// fast, and a book edit that the search must not disturb.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "store/DataSource.h"
#include "store/Sql.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QtTest>

using testsupport::BooksWindow;

namespace {

// The catalogue of the fixture, with every searched column filled for Zeta and Elefanti.
QString searchable()
{
    return BooksWindow::catalogue() +
           QStringLiteral("UPDATE biblio SET posizione='SC. 1', stato='BUONO', periodico='LETTURE', "
                          "inserito_in='RACCOLTA', luogo_stampa='ROMA' WHERE id IN (500, 300);"
                          "UPDATE biblio SET argomento='MARE' WHERE id=300;");
}

} // namespace

class TestBiblioSearch : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

    static books::SearchPanel* panel(const BooksWindow& books) { return books.window().searchPanel(); }
    // Ticks condition `index` with `value` as the user does: the value typed, then the box ticked.
    static void tick(const BooksWindow& books, int index, const QString& value)
    {
        books::SearchPanel* p = panel(books);
        p->Text2[index]->setText(value);
        if (!p->Check1[index]->isVisibleTo(p)) {
            QTest::mouseClick(p->Command2, Qt::LeftButton);
        }
        QTest::mouseClick(p->Check1[index], Qt::LeftButton);
    }
    static QStringList titles(const BooksWindow& books) { return books.entries(QStringLiteral("DBList1")); }

  private slots:
    void init() { testsupport::resetShellState(); }

    void eachConditionNarrowsTheList_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("expected");
        const QStringList both{"Elefanti", "Zeta", "Zeta"};
        QTest::newRow("0 posizione") << 0 << "SC. 1" << both;
        QTest::newRow("1 autore") << 1 << "italo calvino" << QStringList{"Elefanti", "Zeta"};
        QTest::newRow("2 genere") << 2 << "ROMANZO" << QStringList{"Zeta", "Zeta"};
        QTest::newRow("3 argomento") << 3 << "MARE" << both;
        QTest::newRow("4 editore") << 4 << "Einaudi" << QStringList{"Elefanti"};
        QTest::newRow("5 stato") << 5 << "BUONO" << both;
        QTest::newRow("6 periodici") << 6 << "LETTURE" << both;
        QTest::newRow("7 inserito in") << 7 << "RACCOLTA" << both;
        QTest::newRow("8 anno") << 8 << "1980" << QStringList{"Èlite"};
        QTest::newRow("9 luogo") << 9 << "ROMA" << both;
    }

    void eachConditionNarrowsTheList()
    {
        QFETCH(int, index);
        QFETCH(QString, value);
        QFETCH(QStringList, expected);
        BooksWindow books(searchable());
        tick(books, index, value);
        // A book with two authors is listed once for each.
        QCOMPARE(titles(books), expected);
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QString::number(expected.size()));
        // The first title is selected and shown; the focus is in the value box.
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), expected.constFirst());
        QCOMPARE(QApplication::focusWidget(), panel(books)->Text2[index]);
        // Unticking the last box restores the whole catalogue.
        QTest::mouseClick(panel(books)->Check1[index], Qt::LeftButton);
        QCOMPARE(titles(books), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
        QCOMPARE(books.window().Data6->recordSource(), store::Query(sql::AllBooks));
    }

    void orAndInIndexOrder()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        QVERIFY(p->Option1[0]->isChecked());
        // Ticked genre first, then author: the conditions still come in index order.
        tick(books, 2, QStringLiteral("SAGGIO"));
        QCOMPARE(titles(books), QStringList{"Èlite"});
        tick(books, 1, QStringLiteral("DANTE ALIGHIERI"));
        QCOMPARE(titles(books), (QStringList{"Èlite", "Zeta"}));
        QVERIFY(p->lastQuery().text.contains(QStringLiteral(" autore.nome = ? COLLATE ITALIANO OR  genere = ?")));
        QCOMPARE(p->lastQuery().values, (QVariantList{QStringLiteral("DANTE ALIGHIERI"), QStringLiteral("SAGGIO")}));
        // AND narrows two conditions...
        QTest::mouseClick(p->Option1[1], Qt::LeftButton);
        QCOMPARE(titles(books), QStringList());
        QVERIFY(p->lastQuery().text.contains(QStringLiteral(" And ")));
        p->Text2[2]->setText(QStringLiteral("ROMANZO"));
        QTRY_COMPARE(titles(books), QStringList{"Zeta"});
        // ...and gives a single condition the same list as OR.
        QTest::mouseClick(p->Check1[2], Qt::LeftButton);
        const QStringList andList = titles(books);
        QTest::mouseClick(p->Option1[0], Qt::LeftButton);
        QCOMPARE(titles(books), andList);
    }

    void nothingFoundSelectsNothing()
    {
        BooksWindow books(searchable());
        books.select(QStringLiteral("700"));
        tick(books, 2, QStringLiteral("FANTASCIENZA"));
        QCOMPARE(titles(books), QStringList());
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("0"));
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->boundText(), QString());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Èlite"));
        // A ticked box with nothing typed looks for the empty value; a genre left null never matches.
        p(books)->Text2[2]->clear();
        QTRY_COMPARE(titles(books), QStringList{"Elefanti"});
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void valuesAreOnlyValues()
    {
        BooksWindow books(searchable() + QStringLiteral("UPDATE biblio SET genere='IL \"GIALLO\"' WHERE id=900;"));
        tick(books, 2, QStringLiteral("il \"giallo\""));
        QCOMPARE(titles(books), QStringList{"edera"});
        for (const QString& hostile :
             {QStringLiteral("\""), QStringLiteral("x' OR '1'='1"), QStringLiteral("\"; DELETE FROM biblio; --")}) {
            panel(books)->Text2[2]->setText(hostile);
            panel(books)->Aggiorna();
            QCOMPARE(titles(books), QStringList());
        }
        QCOMPARE(testsupport::rowCount(books.path(), "biblio"), 4);
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void pagesOfConditions()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        QCOMPARE(p->Command2->text(), QStringLiteral(">>>"));
        QVERIFY(!p->Picture6->isVisible());
        QVERIFY(p->Check1[0]->isVisible());
        QTest::mouseClick(p->Command2, Qt::LeftButton);
        QCOMPARE(p->Command2->text(), QStringLiteral("<<<"));
        QVERIFY(p->Picture6->isVisible());
        QCOMPARE(p->Label5[8]->text(), QStringLiteral("Anno di Stampa"));
        QTest::mouseClick(p->Check1[8], Qt::LeftButton); // empty year: nothing
        p->Text2[8]->setText(QStringLiteral("1975"));
        QTRY_COMPARE(titles(books), QStringList{"Elefanti"});
        // Back to the first page, the condition of the second stays in force.
        QTest::mouseClick(p->Command2, Qt::LeftButton);
        QVERIFY(!p->Picture6->isVisible());
        tick(books, 2, QStringLiteral("SAGGIO"));
        QCOMPARE(titles(books), (QStringList{"Elefanti", "Èlite"}));
    }

    void fastTypingSearchesOnce()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        QTest::mouseClick(p->Check1[2], Qt::LeftButton);
        QSignalSpy rebuilt(books.window().Data6, &store::DataSource::requeried);
        p->Text2[2]->setFocus();
        QTest::keyClicks(p->Text2[2], QStringLiteral("ROMANZO"));
        QVERIFY(p->rebuildPending());
        QCOMPARE(rebuilt.count(), 0);
        QTRY_COMPARE(rebuilt.count(), 1);
        QCOMPARE(titles(books), (QStringList{"Zeta", "Zeta"}));
        // The value is searched as typed: neither trimmed nor folded by the program.
        QCOMPARE(p->lastQuery().values, QVariantList{QStringLiteral("ROMANZO")});
        QTest::keyClicks(p->Text2[2], QStringLiteral(" "));
        QTRY_COMPARE(titles(books), QStringList());
        QCOMPARE(p->lastQuery().values, QVariantList{QStringLiteral("ROMANZO ")});
        // Typing in a box that is not ticked rebuilds the same list.
        p->Text2[3]->setText(QStringLiteral("MARE"));
        QTRY_COMPARE(rebuilt.count(), 3);
        QCOMPARE(titles(books), QStringList());
    }

    void editingLeavesTheSearchAlone()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        tick(books, 2, QStringLiteral("ROMANZO"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QVERIFY(books.window().isEditing());
        QVERIFY(!p->isEnabled());
        // A value changed just before the edit is searched after it, never during it.
        p->Text2[2]->setText(QStringLiteral("SAGGIO"));
        QVERIFY(p->rebuildPending());
        p->typingPauseEnded();
        QVERIFY(p->rebuildPending());
        QCOMPARE(titles(books), (QStringList{"Zeta", "Zeta"}));
        QVERIFY(books.window().isEditing());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton); // Salva
        QVERIFY(p->isEnabled());
        QTRY_COMPARE(titles(books), QStringList{"Èlite"});
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    // ------------------------------------------------------------ the quick find "Trova"

    void quickFindNarrowsTheListAsTheUserTypes()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        auto* find = books.control<QLineEdit>(QStringLiteral("TxtTrova"));
        QVERIFY(find->accessibleName().startsWith(QStringLiteral("Trova")));
        QVERIFY(find->isEnabled());
        QTest::keyClicks(find, QStringLiteral("calv"));
        QVERIFY(p->rebuildPending());
        p->typingPauseEnded();
        QCOMPARE(titles(books), (QStringList{"Elefanti", "Zeta"}));
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("2"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Elefanti"));
        // Words in any order, of the publisher and the subject too, accents left out.
        find->setText(QStringLiteral("mare MONDADORI"));
        p->typingPauseEnded();
        QCOMPARE(titles(books), QStringList{"Zeta"});
        find->setText(QStringLiteral("elite"));
        p->typingPauseEnded();
        QCOMPARE(titles(books), QStringList{"Èlite"});
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("1"));
        // Esc empties the field and the whole catalogue is back at once; the window stays.
        find->setFocus();
        QTest::keyClick(find, Qt::Key_Escape);
        QCOMPARE(find->text(), QString());
        QVERIFY(!p->rebuildPending());
        QCOMPARE(titles(books), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("4"));
        QVERIFY(books.window().isVisible());
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void quickFindNarrowsTheSearchConditions()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        auto* find = books.control<QLineEdit>(QStringLiteral("TxtTrova"));
        tick(books, 0, QStringLiteral("SC. 1"));
        QCOMPARE(titles(books), (QStringList{"Elefanti", "Zeta", "Zeta"}));
        find->setText(QStringLiteral("einaudi"));
        p->typingPauseEnded();
        QCOMPARE(titles(books), QStringList{"Elefanti"});
        // Syntax of the index typed is taken as words: nothing refused, nothing found.
        find->setText(QStringLiteral("\"einaudi\" OR NEAR(zeta)*"));
        p->typingPauseEnded();
        QCOMPARE(titles(books), QStringList());
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("0"));
        QCOMPARE(msg::shownTexts(), QStringList());
        // The conditions alone again.
        find->clear();
        QCOMPARE(titles(books), (QStringList{"Elefanti", "Zeta", "Zeta"}));
        QCOMPARE(p->lastQuery().values, QVariantList{QStringLiteral("SC. 1")});
    }

    void quickFindWaitsForTheEditToEnd()
    {
        BooksWindow books(searchable());
        books::SearchPanel* p = panel(books);
        auto* find = books.control<QLineEdit>(QStringLiteral("TxtTrova"));
        books.select(QStringLiteral("300"));
        QTest::keyClicks(find, QStringLiteral("bianchi"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QVERIFY(books.window().isEditing());
        QVERIFY(!find->isEnabled());
        // The pause ends during the edit: the list and the book being edited stay.
        p->typingPauseEnded();
        QVERIFY(p->rebuildPending());
        QCOMPARE(titles(books), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Elefanti"));
        auto* title = books.control<QLineEdit>(QStringLiteral("TxtFields_0"));
        title->selectAll();
        QTest::keyClicks(title, QStringLiteral("Elefanti bianchi"));
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton); // Salva
        QVERIFY(!books.window().isEditing());
        QVERIFY(find->isEnabled());
        QCOMPARE(titles(books), QStringList{"ELEFANTI BIANCHI"});
        QCOMPARE(
            testsupport::scalar(books.path(), QStringLiteral("SELECT titolo FROM biblio WHERE id = 300")).toString(),
            QStringLiteral("ELEFANTI BIANCHI"));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

  private:
    static books::SearchPanel* p(const BooksWindow& books) { return panel(books); }
};

CARTEO_TEST_MAIN(TestBiblioSearch)
#include "tst_biblio_search.moc"
