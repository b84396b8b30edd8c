// The authors and publishers windows in the frame: their lists and counters, the record's fields,
// creating, changing and deleting records, the cross-references between the windows, the close
// and quit guards, and two users on one archive.
#include "app/ChildWindows.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "pictures/PictureLoader.h"
#include "pictures/frmpicture.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QtTest>

using testsupport::scalar;

namespace {

// Authors in name order: MANZONI (3, one title shared with CALVINO), DANTE (1, two titles of
// MONDADORI), CALVINO (2), ECO (4, no titles). Publishers in name order: ADELPHI (3, no books),
// EINAUDI (2, one book of two authors), MONDADORI (1, two books of one author).
QString catalogue()
{
    return QStringLiteral(
        "INSERT INTO editori (ID_Editore, nome, residenza, telefono) VALUES (1, 'MONDADORI', 'MILANO', '02 1234'),"
        " (2, 'EINAUDI', 'TORINO', NULL), (3, 'ADELPHI', 'MILANO', NULL);"
        "INSERT INTO biblio (id, titolo, id_edizione) VALUES (500, 'ZETA', 1), (600, 'ALFA', 1),"
        " (300, 'ELEFANTI', 2);"
        "INSERT INTO autore (ID_autore, nome, data_nascita, note) VALUES (1, 'DANTE ALIGHIERI', '1265',"
        " 'POETA\r\nFIORENTINO'), (2, 'ITALO CALVINO', NULL, NULL), (3, 'ALESSANDRO MANZONI', NULL, NULL),"
        " (4, 'UMBERTO ECO', NULL, NULL);"
        "INSERT INTO autbiblio VALUES (500, 1), (600, 1), (300, 2), (300, 3);");
}

QStringList entries(const controls::DBList* list)
{
    QStringList texts;
    for (int row = 0; row < list->listModel()->rowCount(); ++row) {
        texts << list->listModel()->textAt(row);
    }
    return texts;
}

// A click on the entry with `text`, as the user makes it.
void clickEntry(controls::DBList* list, const QString& text)
{
    const int row = int(entries(list).indexOf(text));
    QVERIFY2(row >= 0, qPrintable(text));
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

// The program in a temporary program folder, started on an archive of its own.
class Frame : public testsupport::ProgramFrame {
  public:
    explicit Frame(const QString& populateSql = catalogue()) : ProgramFrame(populateSql) {}

    frmAutori& authors()
    {
        if (!main->authorsWindow()) {
            main->MnuVisualAutori_Click();
        }
        return window(main->authorsWindow());
    }
    FrmEditori& publishers()
    {
        if (!main->publishersWindow()) {
            main->MnuVisualEditori_Click();
        }
        return window(main->publishersWindow());
    }
    template <typename W> static W& window(W* w)
    {
        if (!w) {
            throw std::runtime_error("the window did not open");
        }
        return *w;
    }

};

template <typename T> T* control(QWidget& window, const QString& name)
{
    auto* c = window.findChild<T*>(name);
    if (!c) {
        throw std::runtime_error("no control " + name.toStdString());
    }
    return c;
}

QString counter(QWidget& window, int index)
{
    return control<QLabel>(window, QStringLiteral("Label%1").arg(index))->text();
}

void click(QWidget& window, const char* button)
{
    QTest::mouseClick(control<QPushButton>(window, QString::fromLatin1(button)), Qt::LeftButton);
}

QLineEdit* field(QWidget& window, int index)
{
    return control<QLineEdit>(window, QStringLiteral("Text1_%1").arg(index));
}

} // namespace

class TestPeople : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void initTestCase() { MDIForm1::setEndProgram([] {}); }
    void init() { testsupport::resetShellState(); }

    void emptyArchiveShowsEmptyWindows()
    {
        Frame frame(QString{});
        for (people::RecordWindow* w : std::initializer_list<people::RecordWindow*>{&frame.authors(), &frame.publishers()}) {
            for (int i = 1; i <= 3; ++i) {
                QCOMPARE(counter(*w, i), QStringLiteral("0"));
                QVERIFY(entries(w->findChild<controls::DBList*>(QStringLiteral("DBList%1").arg(i))).isEmpty());
            }
            // Nothing to change or delete.
            click(*w, "CmdModifica");
            click(*w, "Cmdelimina");
            QCOMPARE(w->CmdModifica->text(), QStringLiteral("Modifica"));
            QVERIFY(!field(*w, 0)->isEnabled());
        }
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void authorShowsTitlesAndPublishers()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        QAbstractItemModelTester tester(authors.DBList1->model());
        QCOMPARE(entries(authors.DBList1),
                 (QStringList{"ALESSANDRO MANZONI", "DANTE ALIGHIERI", "ITALO CALVINO", "UMBERTO ECO"}));
        QCOMPARE(counter(authors, 1), QStringLiteral("4"));
        // The first author is shown at opening.
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("ALESSANDRO MANZONI"));
        QCOMPARE(entries(authors.DBList2), QStringList{"ELEFANTI"});

        // Two titles of one publisher: the publisher is listed once for each.
        Modulo1::IdLibroCorrente = 99;
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("DANTE ALIGHIERI"));
        QCOMPARE(field(authors, 1)->text(), QStringLiteral("1265"));
        QCOMPARE(control<controls::BoundTextEdit>(authors, QStringLiteral("Text1_3"))->toPlainText(),
                 QStringLiteral("POETA\nFIORENTINO"));
        QCOMPARE(entries(authors.DBList2), (QStringList{"ALFA", "ZETA"}));
        QCOMPARE(entries(authors.DBList3), (QStringList{"MONDADORI", "MONDADORI"}));
        QCOMPARE(counter(authors, 2), QStringLiteral("2"));
        QCOMPARE(counter(authors, 3), QStringLiteral("2"));
        QCOMPARE(Modulo1::IdAutoreCorrente, 1);
        QCOMPARE(Modulo1::IdLibroCorrente, 0);
        QCOMPARE(Modulo1::IdEditoreCorrente, 0);
        clickEntry(authors.DBList2, QStringLiteral("ZETA"));
        QCOMPARE(Modulo1::IdLibroCorrente, 500);
        clickEntry(authors.DBList3, QStringLiteral("MONDADORI"));
        QCOMPARE(Modulo1::IdEditoreCorrente, 1);

        // No titles: both lower lists empty.
        clickEntry(authors.DBList1, QStringLiteral("UMBERTO ECO"));
        QVERIFY(entries(authors.DBList2).isEmpty());
        QVERIFY(entries(authors.DBList3).isEmpty());
        QCOMPARE(counter(authors, 2), QStringLiteral("0"));
        QCOMPARE(counter(authors, 3), QStringLiteral("0"));
        // Fields are read-only while browsing; texts have their captions for screen readers.
        QVERIFY(!field(authors, 0)->isEnabled());
        QCOMPARE(field(authors, 2)->accessibleName(), QStringLiteral("LUOGO DI NASCITA"));
        QCOMPARE(control<QPushButton>(authors, QStringLiteral("Command2_0"))->toolTip(), QStringLiteral("Biblioteca"));
    }

    void publisherShowsTitlesAndAuthors()
    {
        Frame frame;
        FrmEditori& publishers = frame.publishers();
        QCOMPARE(entries(publishers.DBList1), (QStringList{"ADELPHI", "EINAUDI", "MONDADORI"}));
        QVERIFY(entries(publishers.DBList2).isEmpty());
        // One book of two authors: one title, two authors.
        clickEntry(publishers.DBList1, QStringLiteral("EINAUDI"));
        QCOMPARE(entries(publishers.DBList2), QStringList{"ELEFANTI"});
        QStringList names = entries(publishers.DBList3);
        names.sort();
        QCOMPARE(names, (QStringList{"ALESSANDRO MANZONI", "ITALO CALVINO"}));
        QCOMPARE(counter(publishers, 2), QStringLiteral("1"));
        QCOMPARE(counter(publishers, 3), QStringLiteral("2"));
        QCOMPARE(Modulo1::IdEditoreCorrente, 2);
        // Two books by one author: the author once per title, in title order.
        clickEntry(publishers.DBList1, QStringLiteral("MONDADORI"));
        QCOMPARE(entries(publishers.DBList2), (QStringList{"ALFA", "ZETA"}));
        QCOMPARE(entries(publishers.DBList3), (QStringList{"DANTE ALIGHIERI", "DANTE ALIGHIERI"}));
        QCOMPARE(field(publishers, 3)->text(), QStringLiteral("02 1234"));
        clickEntry(publishers.DBList3, QStringLiteral("DANTE ALIGHIERI"));
        QCOMPARE(Modulo1::IdAutoreCorrente, 1);
    }

    void typingFollowsTheFieldRules()
    {
        Frame frame;
        FrmEditori& publishers = frame.publishers();
        click(publishers, "CmdNuovo");
        QLineEdit* name = field(publishers, 0);
        QCOMPARE(QApplication::focusWidget(), name);
        QCOMPARE(name->palette().color(QPalette::Base), QColor(255, 255, 192));
        QTest::keyClicks(name, QStringLiteral("adlphi"));
        QCOMPARE(name->text(), QStringLiteral("ADLPHI"));
        QCOMPARE(name->cursorPosition(), 6);
        // Typing in the middle of a word keeps the caret at the insertion point.
        name->setCursorPosition(2);
        QTest::keyClicks(name, QStringLiteral("e"));
        QCOMPARE(name->text(), QStringLiteral("ADELPHI"));
        QCOMPARE(name->cursorPosition(), 3);

        // The length limits hold for typed and pasted text.
        QLineEdit* phone = field(publishers, 3);
        phone->setFocus();
        QCOMPARE(name->palette().color(QPalette::Base), QColor(192, 255, 255));
        QTest::keyClicks(phone, QStringLiteral("0123456789012345"));
        QCOMPARE(phone->text(), QStringLiteral("012345678901"));
        phone->clear();
        QApplication::clipboard()->setText(QStringLiteral("+39 02 1234 5678 99"));
        phone->paste();
        QCOMPARE(phone->text().size(), 12);
        name->selectAll();
        QApplication::clipboard()->setText(QString(80, QLatin1Char('a')));
        name->paste();
        QCOMPARE(name->text(), QString(50, QLatin1Char('A')));

        // Letters that grow in capitals keep the caret after them and never push text out.
        phone->clear();
        QTest::keyClicks(phone, QStringLiteral("12345678901"));
        phone->setCursorPosition(0);
        QTest::keyClicks(phone, QStringLiteral("ß"));
        QCOMPARE(phone->text(), QStringLiteral("S12345678901"));
        QCOMPARE(phone->cursorPosition(), 1);
        QLineEdit* town = field(publishers, 1);
        town->setFocus();
        QTest::keyClicks(town, QStringLiteral("straße"));
        QCOMPARE(town->text(), QStringLiteral("STRASSE"));

        // Notes take several lines, in capitals, pasted text too.
        auto* notes = control<controls::BoundTextEdit>(publishers, QStringLiteral("Text1_4"));
        notes->setFocus();
        QTest::keyClicks(notes, QStringLiteral("prima"));
        QTest::keyClick(notes, Qt::Key_Return);
        QApplication::clipboard()->setText(QStringLiteral("seconda"));
        notes->paste();
        QCOMPARE(notes->toPlainText(), QStringLiteral("PRIMA\nSECONDA"));
        name->selectAll();
        QTest::keyClicks(name, QStringLiteral("adelphi due"));
        click(publishers, "CmdModifica");
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT note FROM editori WHERE nome='ADELPHI DUE'")).toString(),
                 QStringLiteral("PRIMA\r\nSECONDA"));
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT length(telefono) FROM editori WHERE nome='ADELPHI DUE'")),
                 QVariant(12));
    }

    void storedTextLongerThanItsFieldIsKept()
    {
        // Rows written by the books window's panels (or by an older program) may pass the limits.
        const QString longName = QStringLiteral("MONDADORI EDITORE SPA DIVISIONE LIBRI E PERIODICI PER RAGAZZI E SCUOLE");
        Frame frame(catalogue() + QStringLiteral("UPDATE editori SET nome='%1' WHERE ID_Editore=1;").arg(longName));
        FrmEditori& publishers = frame.publishers();
        clickEntry(publishers.DBList1, longName);
        QLineEdit* name = field(publishers, 0);
        QCOMPARE(name->text(), longName);
        click(publishers, "CmdModifica");
        name->setFocus();
        name->setCursorPosition(0);
        QTest::keyClick(name, Qt::Key_Delete);
        QTest::keyClicks(name, QStringLiteral("n"));
        QTest::keyClicks(name, QStringLiteral("xyz")); // no room left
        click(publishers, "CmdModifica");
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT nome FROM editori WHERE ID_Editore=1")).toString(),
                 QStringLiteral("N") + longName.mid(1));
        // The next record gets the field's own limit back.
        clickEntry(publishers.DBList1, QStringLiteral("ADELPHI"));
        QCOMPARE(name->maxLength(), 50);
    }

    void newAuthorSavedIsSelected()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        click(authors, "CmdNuovo");
        QCOMPARE(authors.CmdNuovo->text(), QStringLiteral("Annulla"));
        QCOMPARE(authors.CmdModifica->text(), QStringLiteral("Salva"));
        QVERIFY(!authors.Cmdelimina->isEnabled());
        QVERIFY(!authors.DBList1->isEnabled());
        QVERIFY(field(authors, 0)->text().isEmpty());
        QTest::keyClicks(field(authors, 0), QStringLiteral("zeno cosini"));
        click(authors, "CmdModifica");
        QCOMPARE(authors.CmdNuovo->text(), QStringLiteral("Nuovo"));
        QVERIFY(authors.DBList1->isEnabled());
        QVERIFY(!field(authors, 0)->isEnabled());
        QCOMPARE(authors.DBList1->text(), QStringLiteral("ZENO COSINI"));
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("ZENO COSINI"));
        QVERIFY(entries(authors.DBList2).isEmpty());
        QVERIFY(entries(authors.DBList3).isEmpty());
        QCOMPARE(counter(authors, 1), QStringLiteral("5"));
        const qint64 key = scalar(frame.path, QStringLiteral("SELECT ID_autore FROM autore WHERE nome='ZENO COSINI'"))
                               .toLongLong();
        QCOMPARE(authors.DBList1->boundText(), QString::number(key));
        QCOMPARE(Modulo1::IdAutoreCorrente, key);

        // "Annulla" drops a change and shows the stored record again, the selection untouched.
        click(authors, "CmdModifica");
        QTest::keyClicks(field(authors, 0), QStringLiteral(" x"));
        click(authors, "CmdNuovo");
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("ZENO COSINI"));
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT count(*) FROM autore")), QVariant(5));
    }

    void deletingRecords()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        // Deleting an author takes its links with it and selects the next author.
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        msg::queueAnswer(msg::Answer::Yes);
        click(authors, "Cmdelimina");
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Eliminare l'autore DANTE ALIGHIERI dall'elenco?"));
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_autore=1")), QVariant(0));
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("ITALO CALVINO"));
        QCOMPARE(entries(authors.DBList2), QStringList{"ELEFANTI"});
        // No keeps it.
        msg::queueAnswer(msg::Answer::No);
        click(authors, "Cmdelimina");
        QCOMPARE(counter(authors, 1), QStringLiteral("3"));
        // The last in name order: nothing selected afterwards, lists empty.
        clickEntry(authors.DBList1, QStringLiteral("UMBERTO ECO"));
        msg::queueAnswer(msg::Answer::Yes);
        click(authors, "Cmdelimina");
        QCOMPARE(counter(authors, 1), QStringLiteral("2"));
        QVERIFY(authors.DBList1->boundText().isEmpty());
        QVERIFY(field(authors, 0)->text().isEmpty());
        QVERIFY(entries(authors.DBList2).isEmpty());
        QCOMPARE(Modulo1::IdAutoreCorrente, 0);
        // With nothing selected there is nothing to change or delete.
        click(authors, "CmdModifica");
        QCOMPARE(authors.CmdModifica->text(), QStringLiteral("Modifica"));

        // A deleted publisher leaves its books pointing at it; the books window shows them without
        // a publisher.
        FrmEditori& publishers = frame.publishers();
        clickEntry(publishers.DBList1, QStringLiteral("EINAUDI"));
        msg::queueAnswer(msg::Answer::Yes);
        click(publishers, "Cmdelimina");
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Eliminare L'Editore EINAUDI dall'elenco?"));
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT id_edizione FROM biblio WHERE id=300")), QVariant(2));
        QCOMPARE(field(publishers, 0)->text(), QStringLiteral("MONDADORI"));
        FrmBiblio* books = frame.main->booksWindow();
        QVERIFY(books->showTitle(300));
        QCOMPARE(control<QComboBox>(*books, QStringLiteral("DBCombo3"))->currentIndex(), -1);
        const int shown = int(msg::shownTexts().size());
        QVERIFY(books->showTitle(500));
        QCOMPARE(msg::shownTexts().size(), shown);
    }

    void crossReferences()
    {
        Frame frame;
        FrmBiblio* books = frame.main->booksWindow();
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));

        // "TITOLO" shows the chosen title's book in the books window, in front.
        clickEntry(authors.DBList2, QStringLiteral("ZETA"));
        click(authors, "Command2_0");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(control<QLineEdit>(*books, QStringLiteral("TxtFields_0"))->text(), QStringLiteral("ZETA"));
        QCOMPARE(frame.main->mdiArea()->activeSubWindow()->widget(), books);

        // A title the books list does not hold (a search hides it): a message, the books window as
        // it was.
        books::SearchPanel* search = books->searchPanel();
        search->Text2[4]->setText(QStringLiteral("EINAUDI"));
        if (!search->Check1[4]->isVisibleTo(search)) {
            QTest::mouseClick(search->Command2, Qt::LeftButton);
        }
        QTest::mouseClick(search->Check1[4], Qt::LeftButton);
        QCOMPARE(control<QLineEdit>(*books, QStringLiteral("TxtFields_0"))->text(), QStringLiteral("ELEFANTI"));
        clickEntry(authors.DBList2, QStringLiteral("ALFA"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "Command2_0");
        QCOMPARE(msg::shownTexts(), QStringList{"Nessun Titolo corrispondente presente!"});
        QCOMPARE(control<QLineEdit>(*books, QStringLiteral("TxtFields_0"))->text(), QStringLiteral("ELEFANTI"));
        QCOMPARE(books->findChild<controls::DBList*>(QStringLiteral("DBList1"))->boundText(), QStringLiteral("300"));
        msg::shownTexts().clear();

        // "EDITORE" with no publisher chosen (choosing an author clears the choice): a message, and
        // no publishers window is left open.
        clickEntry(authors.DBList1, QStringLiteral("UMBERTO ECO"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "Command2_1");
        QCOMPARE(msg::shownTexts(), QStringList{"Nessun Editore corrispondente presente!"});
        QVERIFY(!frame.main->publishersWindow());
        msg::shownTexts().clear();

        // "EDITORE" and "AUTORE" take the user from window to window.
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        clickEntry(authors.DBList3, QStringLiteral("MONDADORI"));
        click(authors, "Command2_1");
        FrmEditori* publishers = frame.main->publishersWindow();
        QVERIFY(publishers);
        QCOMPARE(field(*publishers, 0)->text(), QStringLiteral("MONDADORI"));
        QCOMPARE(publishers->DBList1->boundText(), QStringLiteral("1"));
        QCOMPARE(entries(publishers->DBList2), (QStringList{"ALFA", "ZETA"}));
        clickEntry(authors.DBList1, QStringLiteral("UMBERTO ECO"));
        clickEntry(publishers->DBList3, QStringLiteral("DANTE ALIGHIERI"));
        click(*publishers, "Command2_1");
        QCOMPARE(frame.main->authorsWindow(), &authors);
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("DANTE ALIGHIERI"));
        QCOMPARE(frame.main->mdiArea()->activeSubWindow()->widget(), &authors);
        QCOMPARE(msg::shownTexts(), QStringList());

        // A target window with an edit open keeps its record.
        click(*publishers, "CmdModifica");
        clickEntry(authors.DBList3, QStringLiteral("MONDADORI"));
        clickEntry(authors.DBList1, QStringLiteral("ITALO CALVINO"));
        clickEntry(authors.DBList3, QStringLiteral("EINAUDI"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "Command2_1");
        QCOMPARE(msg::shownTexts(), QStringList{"E' in corso una modifica del record!!!"});
        QCOMPARE(field(*publishers, 0)->text(), QStringLiteral("MONDADORI"));
        click(*publishers, "CmdNuovo");
    }

    void crossReferencesGoToTheEntryChosenInTheirWindow()
    {
        Frame frame;
        FrmBiblio* books = frame.main->booksWindow();
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("ITALO CALVINO"));
        clickEntry(authors.DBList2, QStringLiteral("ELEFANTI"));
        clickEntry(authors.DBList3, QStringLiteral("EINAUDI"));
        // Other books and publishers chosen in the other windows meanwhile.
        clickEntry(books->findChild<controls::DBList*>(QStringLiteral("DBList1")), QStringLiteral("ZETA"));
        FrmEditori& publishers = frame.publishers();
        clickEntry(publishers.DBList1, QStringLiteral("MONDADORI"));
        clickEntry(publishers.DBList2, QStringLiteral("ALFA"));
        clickEntry(publishers.DBList3, QStringLiteral("DANTE ALIGHIERI"));

        click(authors, "Command2_0");
        QCOMPARE(control<QLineEdit>(*books, QStringLiteral("TxtFields_0"))->text(), QStringLiteral("ELEFANTI"));
        click(authors, "Command2_1");
        QCOMPARE(field(publishers, 0)->text(), QStringLiteral("EINAUDI"));
        // The publishers window now shows EINAUDI: its authors are CALVINO and MANZONI.
        clickEntry(publishers.DBList3, QStringLiteral("ALESSANDRO MANZONI"));
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        click(publishers, "Command2_1");
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("ALESSANDRO MANZONI"));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void anEditInABooksPanelKeepsTheProgramOpen()
    {
        Frame frame;
        FrmBiblio& books = Frame::window(frame.main->booksWindow());
        click(books, "CmdModifica");
        click(books, "Command8");  // Aggiungi: the authors panel
        click(books, "Command3");  // Nuovo author
        QTest::keyClicks(control<QLineEdit>(books, QStringLiteral("Text1_0")), QStringLiteral("nuovo autore"));
        click(books, "Command15"); // X: the panel hides, its edit stays open
        click(books, "CmdNuovo");  // Annulla: the book's edit ends
        QVERIFY(!books.isEditing());
        // The author being typed is never lost without a word.
        for (int i = 0; i < 3; ++i) {
            msg::queueAnswer(msg::Answer::Ok);
        }
        QVERIFY(!frame.main->close());
        QVERIFY(!books.closeWindow());
        frame.main->MnuFileApri_Click();
        QCOMPARE(msg::shownTexts(), (QStringList{msg::kEditingOpen, msg::kEditingOpen, msg::kEditingOpen}));
        QVERIFY(dialogs::requests().isEmpty());
        QCOMPARE(frame.main->booksWindow(), &books);
        // Back in the panel, the author's edit is there to be ended.
        click(books, "CmdModifica");
        click(books, "Command8");
        QCOMPARE(control<QLineEdit>(books, QStringLiteral("Text1_0"))->text(), QStringLiteral("NUOVO AUTORE"));
        click(books, "Command3"); // Annulla
        click(books, "CmdNuovo");
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::No);
        QVERIFY(!frame.main->close());
        QCOMPARE(msg::shownTexts(), QStringList{"Si vuole uscire dal programma?"});
    }

    void crossReferencesLeaveNoTrace()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        QVERIFY(frame.main->booksWindow()->closeWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A title of nobody's choosing: the books window loaded for the look-up goes unseen, and the
        // current book stays none, so a second press does not show the first book of the list.
        clickEntry(authors.DBList1, QStringLiteral("ITALO CALVINO"));
        for (int press = 0; press < 2; ++press) {
            msg::queueAnswer(msg::Answer::Ok);
            click(authors, "Command2_0");
            QCOMPARE(Modulo1::IdLibroCorrente, 0);
            QCOMPARE(Modulo1::IdAutoreCorrente, 2);
            QVERIFY(!frame.main->booksWindow());
        }
        QCOMPARE(msg::shownTexts(), (QStringList{"Nessun Titolo corrispondente presente!",
                                                 "Nessun Titolo corrispondente presente!"}));
        msg::shownTexts().clear();

        // An author added meanwhile on another computer is found by "AUTORE".
        FrmEditori& publishers = frame.publishers();
        auto other = store::Archive::open(frame.path);
        other->exec(QStringLiteral("INSERT INTO autore (ID_autore, nome) VALUES (9, 'CESARE PAVESE');"
                                   "INSERT INTO autbiblio VALUES (300, 9);"));
        clickEntry(publishers.DBList1, QStringLiteral("EINAUDI"));
        clickEntry(publishers.DBList3, QStringLiteral("CESARE PAVESE"));
        click(publishers, "Command2_1");
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("CESARE PAVESE"));
        QCOMPARE(counter(authors, 1), QStringLiteral("5"));

        // One deleted meanwhile: the message, and the authors window keeps its author.
        clickEntry(publishers.DBList1, QStringLiteral("EINAUDI"));
        clickEntry(publishers.DBList3, QStringLiteral("ALESSANDRO MANZONI"));
        other->exec(QStringLiteral("DELETE FROM autore WHERE ID_autore=3"));
        msg::queueAnswer(msg::Answer::Ok);
        click(publishers, "Command2_1");
        QCOMPARE(msg::shownTexts(), QStringList{"Nessun Autore corrispondente presente!"});
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("CESARE PAVESE"));
        QCOMPARE(authors.DBList1->text(), QStringLiteral("CESARE PAVESE"));
    }

    void longListsReadInPagesStayTrue()
    {
        // A publisher of 150 titles, more than a page of rows; each book with one or two authors.
        QString sql = catalogue();
        for (int i = 0; i < 150; ++i) {
            sql += QStringLiteral("INSERT INTO biblio (id, titolo, id_edizione) VALUES (%1, 'T%2', 3);"
                                  "INSERT INTO autbiblio VALUES (%1, %3);")
                       .arg(1000 + i)
                       .arg(i, 3, 10, QLatin1Char('0'))
                       .arg(1 + i % 2);
            if (i % 3 == 0) {
                sql += QStringLiteral("INSERT INTO autbiblio VALUES (%1, 4);").arg(1000 + i);
            }
        }
        Frame frame(sql);
        FrmEditori& publishers = frame.publishers();
        clickEntry(publishers.DBList1, QStringLiteral("ADELPHI"));
        QCOMPARE(counter(publishers, 2), QStringLiteral("150"));
        QCOMPARE(counter(publishers, 3), QStringLiteral("200"));
        const QStringList authorsListed = entries(publishers.DBList3);
        QCOMPARE(authorsListed.size(), 200);
        QVERIFY(!authorsListed.contains(QString()));
        // In title order, each book's authors together: T000 by DANTE (1) and ECO (4).
        QStringList first{authorsListed[0], authorsListed[1]};
        first.sort();
        QCOMPARE(first, (QStringList{"DANTE ALIGHIERI", "UMBERTO ECO"}));
        QCOMPARE(authorsListed[2], QStringLiteral("ITALO CALVINO"));

        // Another user moves a book to another publisher after the list was read: its row shows
        // empty, never under the publisher it left.
        store::Archive::open(frame.path)->exec(QStringLiteral("UPDATE biblio SET id_edizione=1 WHERE id=1100"));
        QCOMPARE(publishers.DBList2->listModel()->textAt(100), QString());
        QCOMPARE(publishers.DBList2->listModel()->textAt(99), QStringLiteral("T099"));
    }

    void menuReopensAndGuardsKeepEdits()
    {
        Frame frame;
        QPointer<frmAutori> first = &frame.authors();
        // "Autori" again: the window is opened anew, once.
        frame.main->findChild<QAction*>(QStringLiteral("Toolbar1_3"))->trigger();
        QTRY_VERIFY(first.isNull());
        frmAutori& authors = frame.authors();
        QCOMPARE(frame.main->mdiArea()->subWindowList().size(), 2);

        // Escape, the close box and the quit guard all keep an open edit, with what was typed.
        click(authors, "CmdModifica");
        QTest::keyClicks(field(authors, 2), QStringLiteral("lecco"));
        for (int i = 0; i < 4; ++i) {
            msg::queueAnswer(msg::Answer::Ok);
        }
        QTest::keyClick(field(authors, 2), Qt::Key_Escape);
        QVERIFY(frame.main->authorsWindow());
        QCOMPARE(msg::shownTexts().constLast(), msg::kEditingOpen);
        QVERIFY(!frame.main->mdiArea()->subWindowList().constLast()->close());
        frame.main->findChild<QAction*>(QStringLiteral("MnuVisualAutori"))->trigger();
        QCOMPARE(frame.main->authorsWindow(), &authors);
        msg::shownTexts().clear();
        QVERIFY(!frame.main->close());
        QCOMPARE(msg::shownTexts(), QStringList{msg::kEditingOpen});
        QCOMPARE(field(authors, 2)->text(), QStringLiteral("LECCO"));
        QCOMPARE(authors.CmdModifica->text(), QStringLiteral("Salva"));

        // Another archive cannot be opened meanwhile: this window would go on writing to this one.
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Ok);
        frame.main->MnuFileApri_Click();
        QCOMPARE(msg::shownTexts(), QStringList{msg::kEditingOpen});
        QVERIFY(dialogs::requests().isEmpty());

        // Saved, the window closes with Escape and the program asks before quitting.
        click(authors, "CmdModifica");
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT luogo_nascita FROM autore WHERE ID_autore=3")),
                 QVariant(QStringLiteral("LECCO")));
        QTest::keyClick(authors.DBList1, Qt::Key_Escape);
        QVERIFY(!frame.main->authorsWindow());
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::No);
        QVERIFY(!frame.main->close());
        QCOMPARE(msg::shownTexts(), QStringList{"Si vuole uscire dal programma?"});
    }

    void viewerFollowsTheChosenTitle()
    {
        Frame frame;
        // A wide red photo for ALFA (600), none for ZETA (500).
        QImage photo(400, 100, QImage::Format_RGB32);
        photo.fill(Qt::red);
        QVERIFY(photo.save(frame.folder.filePath(QStringLiteral("foto/600.jpg")), "JPG"));
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        frmpicture* viewer = frmpicture::showViewer(frame.main.get());
        QVERIFY(viewer);
        clickEntry(authors.DBList2, QStringLiteral("ALFA"));
        pictures::PictureLoader::finishAll(); // photos are read on a thread of their own
        QVERIFY(!viewer->Image1->pixmap().isNull());
        QVERIFY(qAbs(viewer->Image1->width() - 4 * viewer->Image1->height()) <= 4);
        clickEntry(authors.DBList2, QStringLiteral("ZETA"));
        pictures::PictureLoader::finishAll();
        QVERIFY(viewer->Image1->pixmap().isNull() || viewer->Image1->isHidden());
        viewer->close();
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void annullaAfterARefusedSaveShowsTheOtherUsersRecord()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        click(authors, "CmdModifica");
        QTest::keyClicks(field(authors, 2), QStringLiteral("firenze"));
        // The list is drawn while the record is edited, as it is on screen.
        QVERIFY(entries(authors.DBList1).contains(QStringLiteral("DANTE ALIGHIERI")));
        store::Archive::open(frame.path)->exec(
            QStringLiteral("UPDATE autore SET nome='DANTE ALIGHIERO', data_nascita='1266' WHERE ID_autore=1"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordChanged)});
        click(authors, "CmdNuovo"); // Annulla: the message promised the new data
        QCOMPARE(field(authors, 0)->text(), QStringLiteral("DANTE ALIGHIERO"));
        QCOMPARE(field(authors, 1)->text(), QStringLiteral("1266"));
        QVERIFY(field(authors, 2)->text().isEmpty());
        QVERIFY(entries(authors.DBList1).contains(QStringLiteral("DANTE ALIGHIERO")));
        QVERIFY(!entries(authors.DBList1).contains(QStringLiteral("DANTE ALIGHIERI")));
        QCOMPARE(authors.DBList1->boundText(), QStringLiteral("1"));
        QCOMPARE(entries(authors.DBList2), (QStringList{"ALFA", "ZETA"}));
    }

    void saveOverAnotherUsersChange()
    {
        Frame frame;
        frmAutori& authors = frame.authors();
        clickEntry(authors.DBList1, QStringLiteral("DANTE ALIGHIERI"));
        click(authors, "CmdModifica");
        QTest::keyClicks(field(authors, 2), QStringLiteral("firenze"));
        auto other = store::Archive::open(frame.path);
        other->exec(QStringLiteral("UPDATE autore SET data_nascita='1266' WHERE ID_autore=1"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "CmdModifica");
        QCOMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(msg::shownTexts().constFirst(), store::DbError::describe(store::ErrRecordChanged));
        QCOMPARE(authors.CmdModifica->text(), QStringLiteral("Salva"));
        QCOMPARE(field(authors, 2)->text(), QStringLiteral("FIRENZE"));
        // The second "Salva" writes what this user changed and keeps the other user's change.
        click(authors, "CmdModifica");
        QCOMPARE(authors.CmdModifica->text(), QStringLiteral("Modifica"));
        QCOMPARE(scalar(frame.path, QStringLiteral("SELECT luogo_nascita || '/' || data_nascita FROM autore WHERE "
                                                   "ID_autore=1")),
                 QVariant(QStringLiteral("FIRENZE/1266")));

        // Deleted meanwhile: refused, the edit stays open.
        msg::shownTexts().clear();
        click(authors, "CmdModifica");
        other->exec(QStringLiteral("DELETE FROM autore WHERE ID_autore=1"));
        msg::queueAnswer(msg::Answer::Ok);
        click(authors, "CmdModifica");
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrRecordDeleted)});
        QCOMPARE(authors.CmdNuovo->text(), QStringLiteral("Annulla"));
        click(authors, "CmdNuovo");
    }
};

CARTEO_TEST_MAIN(TestPeople)
#include "tst_people.moc"
