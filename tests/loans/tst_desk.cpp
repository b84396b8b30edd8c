// The loans window in the frame: the desk strip driven by the keys a scanner sends, the borrowers'
// record, the overdue list, the status line's count; and the loans as the books window shows them.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "app/Today.h"
#include "books/FrmBiblio.h"
#include "books/QuickFind.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "loans/DeskStrip.h"
#include "loans/FrmPrestiti.h"
#include "loans/LoanTable.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "store/Loans.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

using testsupport::scalar;

namespace {

constexpr qint64 Zeta = 500, Alfa = 600, Elefanti = 300;

// Three books; three borrowers in name order: ANNA ROSSI (1), BRUNO BIANCHI (2), CARLA ROSSINI (3).
// Bruno has ALFA since 01/10/2026, due 31/10/2026, and CARLA ELEFANTI, due 30/11/2026: on 09/12/2026
// both are late, by 39 and 9 days.
QString catalogue()
{
    return QStringLiteral(
        "INSERT INTO biblio (id, titolo) VALUES (500, 'ZETA'), (600, 'ALFA'), (300, 'ELEFANTI');"
        "INSERT INTO lettori (ID_Lettore, nome, indirizzo, gruppo) VALUES (1, 'ANNA ROSSI', 'VIA ROMA 1', '3B'),"
        " (2, 'BRUNO BIANCHI', NULL, NULL), (3, 'CARLA ROSSINI', NULL, NULL);"
        "INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza) VALUES"
        " (600, 2, '2026-10-01', '2026-10-31'), (300, 3, '2026-11-15', '2026-11-30');");
}

const QDate kToday(2026, 12, 9);

// The program in a temporary program folder, started on an archive of its own, on 09/12/2026.
class Frame : public testsupport::ProgramFrame {
  public:
    explicit Frame(const QString& populateSql = catalogue())
        : ProgramFrame(populateSql, [] { today::setForTests(kToday); }, [] { today::setForTests({}); })
    {
    }
    FrmPrestiti& loans()
    {
        main->MnuVisualPrestiti_Click();
        if (!main->loansWindow()) {
            throw std::runtime_error("the loans window did not open");
        }
        return *main->loansWindow();
    }
    FrmBiblio& books()
    {
        if (!main->booksWindow()) {
            throw std::runtime_error("the books window is not open");
        }
        return *main->booksWindow();
    }
    qint64 openLoans() const
    {
        return scalar(path, QStringLiteral("select count(*) from prestiti where data_restituzione is null")).toLongLong();
    }
    QVariant borrowerOf(qint64 book) const
    {
        return scalar(path, QStringLiteral("select ID_Lettore from prestiti where data_restituzione is null and "
                                           "id_libro = %1").arg(book));
    }

};

// What a keyboard-wedge scanner sends for a label: the characters, then Enter.
void scan(FrmPrestiti& w, const QString& read)
{
    QLineEdit* field = w.Desk->TxtCodiceLibro;
    field->setFocus();
    QTest::keyClicks(field, read);
    QTest::keyClick(field, Qt::Key_Return);
}

QString lastLogLine(FrmPrestiti& w)
{
    QListWidget* log = w.Desk->LstRegistro;
    return log->count() == 0 ? QString() : log->item(log->count() - 1)->text();
}

bool lastLogLineRed(FrmPrestiti& w)
{
    QListWidget* log = w.Desk->LstRegistro;
    return log->count() > 0 && log->item(log->count() - 1)->foreground().color() == QColor(192, 0, 0);
}

QStringList column(QTableView* table, int c)
{
    QStringList texts;
    for (int r = 0; r < table->model()->rowCount(); ++r) {
        texts << table->model()->index(r, c).data().toString();
    }
    return texts;
}

void choose(FrmPrestiti& w, const QString& name)
{
    controls::DBList* list = w.DBList1;
    int row = -1;
    for (int r = 0; r < list->listModel()->rowCount(); ++r) {
        if (list->listModel()->textAt(r) == name) {
            row = r;
        }
    }
    QVERIFY2(row >= 0, qPrintable(name));
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
}

QStringList entries(controls::DBList* list)
{
    QStringList texts;
    for (int r = 0; r < list->listModel()->rowCount(); ++r) {
        texts << list->listModel()->textAt(r);
    }
    return texts;
}

} // namespace

class TestDesk : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void initTestCase() { MDIForm1::setEndProgram([] {}); }
    void init()
    {
        testsupport::resetShellState();
        msg::setRecording(true);
    }

    void menuAndToolbarOpenTheWindow()
    {
        Frame frame;
        auto* item = frame.main->findChild<QAction*>(QStringLiteral("MnuVisualPrestiti"));
        QVERIFY(item);
        QCOMPARE(item->text(), QStringLiteral("&Prestiti"));
        item->trigger();
        QVERIFY(frame.main->loansWindow());
        QCOMPARE(frame.main->loansWindow()->windowTitle(), QStringLiteral("Prestiti"));
        auto* button = frame.main->findChild<QAction*>(QStringLiteral("Toolbar1_11"));
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("Prestiti"));
        FrmPrestiti* before = frame.main->loansWindow();
        button->trigger();
        QCOMPARE(frame.main->loansWindow(), before); // the open one, brought forward
        // The field a scanner types into is named for screen readers and has the focus.
        QCOMPARE(before->Desk->TxtCodiceLibro->accessibleName(), QStringLiteral("Codice libro"));
    }

    // Lend, lend, return, undo, all from the keys a scanner sends; each a line in the log.
    void deskLendsAndReturnsByScan()
    {
        Frame frame;
        FrmPrestiti& w = frame.loans();
        choose(w, QStringLiteral("ANNA ROSSI"));
        QCOMPARE(w.Desk->borrower(), 1);

        scan(w, QStringLiteral("500"));
        QCOMPARE(lastLogLine(w), QStringLiteral("Prestato a ANNA ROSSI fino al 08/01/2027"));
        QVERIFY(!lastLogLineRed(w));
        QCOMPARE(frame.borrowerOf(Zeta), QVariant(1));
        QCOMPARE(w.Desk->TxtCodiceLibro->text(), QString()); // ready for the next book
        QCOMPARE(column(w.TblInCorso, 0), QStringList{"ZETA"});

        // Books in a row, no key pressed in between.
        scan(w, QStringLiteral("300"));
        QVERIFY(lastLogLineRed(w)); // ELEFANTI is Carla's
        QCOMPARE(lastLogLine(w), QStringLiteral("Il libro è già in prestito a CARLA ROSSINI."));
        QCOMPARE(frame.borrowerOf(Elefanti), QVariant(3));

        // The book on loan to the chosen borrower comes back.
        scan(w, QStringLiteral("500"));
        QCOMPARE(lastLogLine(w), QStringLiteral("Restituito: ZETA"));
        QVERIFY(!frame.borrowerOf(Zeta).isValid());
        QCOMPARE(column(w.TblInCorso, 0), QStringList{});
        QCOMPARE(column(w.TblStorico, 0), QStringList{"ZETA"});

        // "Annulla ultimo" takes back the return, then the lend.
        QVERIFY(w.Desk->CmdAnnullaUltimo->isEnabled());
        QTest::mouseClick(w.Desk->CmdAnnullaUltimo, Qt::LeftButton);
        QCOMPARE(frame.borrowerOf(Zeta), QVariant(1));
        QTest::mouseClick(w.Desk->CmdAnnullaUltimo, Qt::LeftButton);
        QVERIFY(!frame.borrowerOf(Zeta).isValid());
        QCOMPARE(scalar(frame.path, QStringLiteral("select count(*) from prestiti where id_libro = 500")), QVariant(0));
        QVERIFY(!w.Desk->CmdAnnullaUltimo->isEnabled());

        // With no borrower chosen, a book out is taken back whoever has it; one on the shelf is not lent.
        QTest::mouseClick(w.Desk->CmdSoloRestituzioni, Qt::LeftButton);
        QCOMPARE(w.Desk->borrower(), 0);
        scan(w, QStringLiteral("300"));
        QCOMPARE(lastLogLine(w), QStringLiteral("Restituito: ELEFANTI (9 giorni di ritardo)"));
        scan(w, QStringLiteral("500"));
        QVERIFY(lastLogLineRed(w));
        QVERIFY(!frame.borrowerOf(Zeta).isValid());
        QCOMPARE(msg::shownTexts(), QStringList()); // a refusal never stops the desk with a dialog
    }

    // What a scanner or a hand may send that is not a key: a red line, nothing changed.
    void deskRefusesWhatIsNotAKey()
    {
        Frame frame;
        FrmPrestiti& w = frame.loans();
        choose(w, QStringLiteral("ANNA ROSSI"));
        const qint64 before = frame.openLoans();
        const QList<QString> reads{QStringLiteral("12a"), QStringLiteral("500 "), QStringLiteral(" 500"),
                                   QStringLiteral("0500"), QStringLiteral("999"), QStringLiteral("-500"),
                                   QString()};
        for (const QString& read : reads) {
            const int lines = w.Desk->LstRegistro->count();
            scan(w, read);
            QCOMPARE(w.Desk->LstRegistro->count(), lines + 1);
            QVERIFY2(lastLogLineRed(w), qPrintable(read));
            QVERIFY2(!lastLogLine(w).isEmpty(), qPrintable(read));
        }
        QCOMPARE(frame.openLoans(), before);
        QVERIFY(!frame.borrowerOf(Zeta).isValid());
        QVERIFY(!w.Desk->CmdAnnullaUltimo->isEnabled());
    }

    // The most books one borrower may hold, from the settings.
    void deskKeepsToTheMostBooks()
    {
        Frame frame;
        {
            auto ini = paths::settings();
            ini->setValue(QStringLiteral("Prestiti/massimo"), 1);
            ini->setValue(QStringLiteral("Prestiti/giorni"), 14);
        }
        FrmPrestiti& w = frame.loans();
        choose(w, QStringLiteral("ANNA ROSSI"));
        scan(w, QStringLiteral("500"));
        QCOMPARE(lastLogLine(w), QStringLiteral("Prestato a ANNA ROSSI fino al 23/12/2026"));
        scan(w, QStringLiteral("600"));
        QVERIFY(lastLogLineRed(w));
        QCOMPARE(frame.borrowerOf(Alfa), QVariant(2));
    }

    void overdueListAndStatusLine()
    {
        Frame frame;
        auto* status = frame.main->findChild<QLabel*>(QStringLiteral("LblRitardi"));
        QVERIFY(status);
        QCOMPARE(status->text(), QStringLiteral("2 prestiti in ritardo"));
        FrmPrestiti& w = frame.loans();
        w.Schede->setCurrentIndex(1);
        QCOMPARE(w.Schede->tabText(1), QStringLiteral("In ritardo (2)"));
        QCOMPARE(w.LblRitardo->text(), QStringLiteral("2 prestiti in ritardo."));
        // By due date, with the borrower and the days late, in red.
        QCOMPARE(column(w.TblRitardo, 0), (QStringList{"ALFA", "ELEFANTI"}));
        QCOMPARE(column(w.TblRitardo, 1), (QStringList{"BRUNO BIANCHI", "CARLA ROSSINI"}));
        QCOMPARE(column(w.TblRitardo, 3), (QStringList{"31/10/2026", "30/11/2026"}));
        QCOMPARE(column(w.TblRitardo, 4), (QStringList{"39", "9"}));
        QCOMPARE(w.TblRitardo->model()->index(0, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(192, 0, 0));
        QVERIFY(w.CmdLettera->isEnabled());

        // A return at the desk: the list and the status line follow.
        QTest::mouseClick(w.Desk->CmdSoloRestituzioni, Qt::LeftButton);
        scan(w, QStringLiteral("600"));
        QCOMPARE(column(w.TblRitardo, 0), QStringList{"ELEFANTI"});
        QCOMPARE(status->text(), QStringLiteral("1 prestito in ritardo"));
        scan(w, QStringLiteral("300"));
        QCOMPARE(w.LblRitardo->text(), QStringLiteral("Nessun prestito in ritardo."));
        QVERIFY(!w.CmdLettera->isEnabled());
        QCOMPARE(status->text(), QString());
    }

    void borrowerRecordAndFilter()
    {
        Frame frame;
        FrmPrestiti& w = frame.loans();
        QCOMPARE(entries(w.DBList1), (QStringList{"ANNA ROSSI", "BRUNO BIANCHI", "CARLA ROSSINI"}));
        QCOMPARE(w.Label1->text(), QStringLiteral("3"));
        // The filter keeps the names that hold what is typed, whatever the case; % is a letter.
        QTest::keyClicks(w.TxtFiltro, QStringLiteral("ross"));
        QCOMPARE(entries(w.DBList1), (QStringList{"ANNA ROSSI", "CARLA ROSSINI"}));
        QTest::keyClicks(w.TxtFiltro, QStringLiteral("%"));
        QCOMPARE(entries(w.DBList1), QStringList{});
        w.TxtFiltro->clear();
        QCOMPARE(entries(w.DBList1).size(), 3);

        // A new borrower, typed and saved: listed in name order and chosen at the desk.
        QTest::mouseClick(w.CmdNuovo, Qt::LeftButton);
        QCOMPARE(w.CmdNuovo->text(), QStringLiteral("Annulla"));
        QVERIFY(!w.TxtFiltro->isEnabled());
        auto* name = qobject_cast<QLineEdit*>(w.Text1[0]);
        auto* mail = qobject_cast<QLineEdit*>(w.Text1[3]);
        QTest::keyClicks(name, QStringLiteral("dario verdi"));
        QTest::keyClicks(mail, QStringLiteral("dario@esempio.it"));
        // The window keeps an open edit.
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(!w.closeWindow());
        QTest::mouseClick(w.CmdModifica, Qt::LeftButton);
        QCOMPARE(w.CmdModifica->text(), QStringLiteral("Modifica"));
        QCOMPARE(entries(w.DBList1), (QStringList{"ANNA ROSSI", "BRUNO BIANCHI", "CARLA ROSSINI", "DARIO VERDI"}));
        QCOMPARE(scalar(frame.path, QStringLiteral("select email from lettori where nome = 'DARIO VERDI'")),
                 QVariant(QStringLiteral("dario@esempio.it")));
        QCOMPARE(w.Desk->LblLettore->text().contains(QStringLiteral("DARIO VERDI")), true);

        // A borrower with a book out cannot be deleted; the message names the loan.
        choose(w, QStringLiteral("BRUNO BIANCHI"));
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        QTest::mouseClick(w.Cmdelimina, Qt::LeftButton);
        QCOMPARE(msg::shownTexts().constLast(),
                 QStringLiteral("Il lettore BRUNO BIANCHI ha 1 libro in prestito: non può essere eliminato."));
        QCOMPARE(scalar(frame.path, QStringLiteral("select count(*) from lettori where ID_Lettore = 2")), QVariant(1));
        // One with none can.
        choose(w, QStringLiteral("ANNA ROSSI"));
        msg::queueAnswer(msg::Answer::Yes);
        QTest::mouseClick(w.Cmdelimina, Qt::LeftButton);
        QCOMPARE(scalar(frame.path, QStringLiteral("select count(*) from lettori where ID_Lettore = 1")), QVariant(0));
        QCOMPARE(entries(w.DBList1), (QStringList{"BRUNO BIANCHI", "CARLA ROSSINI", "DARIO VERDI"}));
    }

    // The books window: the loan line under the record, the key field taking a scan, and no
    // deletion of a book on loan.
    void booksWindowShowsTheLoan()
    {
        Frame frame;
        FrmBiblio& books = frame.books();
        auto* line = books.findChild<QLabel*>(QStringLiteral("LblPrestito"));
        QVERIFY(line);
        QVERIFY(books.showTitle(Alfa));
        QCOMPARE(line->text(), QStringLiteral("In prestito a BRUNO BIANCHI dal 01/10/2026, da restituire il 31/10/2026"));
        QCOMPARE(line->palette().color(QPalette::WindowText), QColor(192, 0, 0)); // late
        QVERIFY(books.showTitle(Zeta));
        QCOMPARE(line->text(), QString());

        // A scan into the key field: that book is shown, whatever "Trova" held.
        QLineEdit* trova = books.quickFind()->TxtTrova;
        QTest::keyClicks(trova, QStringLiteral("zeta"));
        auto* key = books.findChild<QLineEdit*>(QStringLiteral("TxtCodice"));
        QVERIFY(key);
        key->setFocus();
        QTest::keyClicks(key, QStringLiteral("300"));
        QCOMPARE(trova->text(), QStringLiteral("300")); // the digits went on to "Trova"
        QTest::keyClick(trova, Qt::Key_Return);
        QCOMPARE(Modulo1::IdLibroCorrente, Elefanti);
        QCOMPARE(trova->text(), QString());
        QCOMPARE(line->text(), QStringLiteral("In prestito a CARLA ROSSINI dal 15/11/2026, da restituire il 30/11/2026"));
        // A key no book has: said, and the book shown stays.
        msg::queueAnswer(msg::Answer::Ok);
        QTest::keyClicks(trova, QStringLiteral("4242"));
        QTest::keyClick(trova, Qt::Key_Return);
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Nessun libro con il codice 4242 nell'elenco."));
        QCOMPARE(Modulo1::IdLibroCorrente, Elefanti);

        // Deleting the lent book is refused, naming the loan.
        trova->clear();
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        auto* remove = books.findChild<QPushButton*>(QStringLiteral("Cmdelimina"));
        QVERIFY(remove);
        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY2(msg::shownTexts().constLast().contains(QStringLiteral("CARLA ROSSINI")),
                 qPrintable(msg::shownTexts().constLast()));
        QCOMPARE(scalar(frame.path, QStringLiteral("select count(*) from biblio where id = 300")), QVariant(1));
    }
};

CARTEO_TEST_MAIN(TestDesk)
#include "tst_desk.moc"
