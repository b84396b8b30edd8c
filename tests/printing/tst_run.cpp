// The print run as the user meets it: the options dialog, the printer set-up, copies and logo, the
// cards and the catalogue list of the books window, and the run's failures. The recording surface
// stands in for the printer.
#include "PrintTests.h"

#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "people/frmAutori.h"
#include "printing/FrmStato.h"
#include "printing/PrintRun.h"
#include "printing/frmstampa.h"
#include "store/Archive.h"
#include "store/DataSource.h"
#include "support/ServerSupport.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QRadioButton>
#include <QTest>

#include <sqlite3.h>

using printing::RecordingSurface;
using printtests::Fixture;
using printtests::press;

namespace {

// The list of the four test books, rule to last row.
const QStringList kHeadings{"Cod.Bib.", "TITOLO", "AUTORE", "EDITORE", "ANNO", "COSTO L.", "COSTO \u20AC"};

QStringList cardTitles(const QStringList& texts)
{
    QStringList titles;
    for (const QString& t : texts) {
        if (t.startsWith(QLatin1String("Scheda di "))) {
            titles << t.mid(10);
        }
    }
    return titles;
}

// The progress window of the run under way.
FrmStato* shownProgress()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* progress = qobject_cast<FrmStato*>(w); progress && progress->isVisible()) {
            return progress;
        }
    }
    return nullptr;
}

// Reads `source` again at least twice, and on until its new recordset lies where `old` lay (as
// freed memory is soon given out again), at most `most` times.
int readAgainOverTheOldPlace(store::DataSource& source, const store::Recordset* old, int most = 50)
{
    int times = 0;
    do {
        source.refresh();
        ++times;
    } while (times < 2 || (source.recordset() != old && times < most));
    return times;
}

// Counts the archive's waits for another user's lock while it lives.
struct WaitCounter {
    QList<bool> waits;
    WaitCounter()
    {
        store::setWaitNotifier([this](bool waiting) { waits << waiting; });
    }
    ~WaitCounter() { store::setWaitNotifier({}); }
};

// `count` books titled "LIBRO 00001", ... with an author each.
QString manyBooks(int count)
{
    return QStringLiteral("INSERT INTO autore (ID_autore, nome) VALUES (1, 'AUTORE');"
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo) SELECT i, printf('LIBRO %05d', i) FROM n;"
                          "INSERT INTO autbiblio SELECT id, 1 FROM biblio;")
        .arg(count);
}

} // namespace

class TestRun : public QObject {
    Q_OBJECT
  private slots:
    void init() { testsupport::resetShellState(); }

    void theDialogOpensWithItsDefaultsEveryTime();
    void escapeAndAnnullaPrintNothing();
    void cancellingTheSetUpShowsItsMessageAndPrintsNothing();
    void copiesAreDocumentsOfTheirOwnEachWithItsLogo();
    void withoutLogoFileTheTextStillBeginsAt1234();
    void currentCardIsTheBookShownAndTheWindowStaysOnIt();
    void allCardsFollowTheFilteredListOncePerListing();
    void catalogueListsEveryTitleInLandscape();
    void aRoleThatMayOnlyReadPrints();
    void anEmptyCatalogueListsItsHeadingsOnly();
    void aBookDeletedMeanwhileIsLeftOut();
    void interrompiEndsTheDocumentAndSkipsFurtherCopies();
    void aClickAsACopyEndsStopsTheRunBeforeTheNextCopy();
    void aListReadAgainMidRunStopsTheRun();
    void anAuthorsListReadAgainMidRunStopsTheRun();
    void aBusyArchiveEndsTheRunWithItsMessage();
    void withoutAPrinterTheRunSaysSo();

  private:
    testsupport::ModalWatchdog m_watchdog;
};

void TestRun::theDialogOpensWithItsDefaultsEveryTime()
{
    Fixture f;
    QVERIFY(f.print(0, [](frmstampa& d) {
        QCOMPARE(d.windowTitle(), printing::printerCaption());
        QVERIFY(d.Option1[0]->isChecked());
        QVERIFY(d.Check1->isChecked());
        QVERIFY(d.Picture1->isVisible());
        QTest::mouseClick(d.Option1[1], Qt::LeftButton);
        QCOMPARE(Modulo1::StampaTutti, false);
        d.Check1->setChecked(false);
        press(&d, QStringLiteral("Command3"));
    }));
    QCOMPARE(Modulo1::SceltaStampa, 0);
    QCOMPARE(Modulo1::StampaLogo, false);
    QVERIFY(f.print(1, [](frmstampa& d) {
        QVERIFY(d.Option1[0]->isChecked());
        QVERIFY(d.Check1->isChecked());
        QCOMPARE(Modulo1::StampaTutti, true);
        QVERIFY(!d.Picture1->isVisible());
        press(&d, QStringLiteral("Command3"));
    }));
    QCOMPARE(Modulo1::StampaLogo, true);
    QVERIFY(f.surface.texts.isEmpty());
}

void TestRun::escapeAndAnnullaPrintNothing()
{
    Fixture f;
    Modulo1::SceltaStampa = 1; // the last run printed
    QVERIFY(f.print(1, [](frmstampa& d) { QTest::keyClick(&d, Qt::Key_Escape); }));
    QCOMPARE(Modulo1::SceltaStampa, 0);
    // The close box gives up too.
    QVERIFY(f.print(1, [](frmstampa& d) { d.close(); }));
    QCOMPARE(f.surface.documentCount(), 0);
    QCOMPARE(msg::shownTexts(), QStringList());
}

void TestRun::cancellingTheSetUpShowsItsMessageAndPrintsNothing()
{
    Fixture f;
    dialogs::queuePrinterChoice({false, 1, {}});
    msg::queueAnswer(msg::Answer::Ok);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command1")); }));
    QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("È stato scelto Annulla.")});
    QCOMPARE(f.surface.documentCount(), 0);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestRun::copiesAreDocumentsOfTheirOwnEachWithItsLogo()
{
    Fixture f;
    f.makeLogo(40, 20);
    const QString chosen = f.folder.filePath(QStringLiteral("scelto.pdf"));
    dialogs::queuePrinterChoice({true, 3, chosen});
    std::unique_ptr<testsupport::NextModal> second;
    QString secondCaption;
    QVERIFY(f.print(1, [&](frmstampa& d) {
        second = printtests::onPrintDialog([&](frmstampa& again) {
            secondCaption = again.windowTitle();
            press(&again, QStringLiteral("Command2"));
        });
        press(&d, QStringLiteral("Command1"));
    }));
    QVERIFY(second && second->answered());
    QVERIFY(secondCaption.endsWith(QStringLiteral("scelto.pdf")));
    QCOMPARE(f.surface.documents.size(), 3);
    QCOMPARE(f.surface.pictures.size(), 3);
    for (int copy = 1; copy <= 3; ++copy) {
        const auto& logo = f.surface.pictures.at(copy - 1);
        QCOMPARE(logo.document, copy);
        QCOMPARE(logo.twips, QRectF(800, 50, 600, 300));
        QCOMPARE(f.surface.documents.at(copy - 1).orientation, printing::PrintSurface::Orientation::Landscape);
        const auto texts = f.surface.textsOf(copy);
        QCOMPARE(texts.at(0).at.y(), 1234.0);
        QCOMPARE(texts.at(0).text, QString(140, QLatin1Char('_')));
        QCOMPARE(texts.at(1).text, QStringLiteral("Elenco Biblioteca "));
        QCOMPARE(f.texts(copy).mid(2, 7), kHeadings);
        // The first copy's rule is in the run's "Arial" 8; the later ones in the font the list left.
        QCOMPARE(texts.at(0).font, copy == 1 ? QStringLiteral("Arial") : QStringLiteral("Courier New"));
    }
    QCOMPARE(printing::copies(), 3);
}

void TestRun::withoutLogoFileTheTextStillBeginsAt1234()
{
    Fixture f;
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QVERIFY(f.surface.pictures.isEmpty());
    QCOMPARE(f.surface.texts.at(0).at.y(), 1234.0);

    RecordingSurface unticked;
    printing::setSurfaceForTests(&unticked);
    QVERIFY(f.print(1, [](frmstampa& d) {
        d.Check1->setChecked(false);
        press(&d, QStringLiteral("Command2"));
    }));
    QCOMPARE(unticked.texts.at(0).at.y(), 0.0);
    printing::setSurfaceForTests(&f.surface);
}

void TestRun::currentCardIsTheBookShownAndTheWindowStaysOnIt()
{
    Fixture f;
    f.books.select(QStringLiteral("500"));
    QVERIFY(f.print(0, [](frmstampa& d) {
        QTest::mouseClick(d.Option1[1], Qt::LeftButton);
        press(&d, QStringLiteral("Command2"));
    }));
    const QStringList texts = f.texts();
    QCOMPARE(cardTitles(texts), QStringList{QStringLiteral("Zeta")});
    QVERIFY(texts.contains(QStringLiteral("DANTE ALIGHIERI")));
    QVERIFY(texts.contains(QStringLiteral("ITALO CALVINO")));
    QVERIFY(texts.contains(QStringLiteral("MONDADORI")));
    QVERIFY(texts.contains(QStringLiteral(" 12.5 ")) == false); // a card prints no prices
    QCOMPARE(f.surface.documents.size(), 1);
    QCOMPARE(f.surface.documents.at(0).orientation, printing::PrintSurface::Orientation::Portrait);
    QCOMPARE(f.books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
    QCOMPARE(Modulo1::IdLibroCorrente, 500);
    QVERIFY(!QApplication::activeModalWidget());
    for (QWidget* w : QApplication::topLevelWidgets()) {
        QVERIFY(!(qobject_cast<FrmStato*>(w) && w->isVisible()));
    }
}

void TestRun::allCardsFollowTheFilteredListOncePerListing()
{
    Fixture f;
    f.books.select(QStringLiteral("300"));
    QVERIFY(f.print(0, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QCOMPARE(cardTitles(f.texts()), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
    // Èlite has no publisher; edera's publisher does not exist: the label alone each time.
    QCOMPARE(f.texts().count(QStringLiteral("EDITORE: ")), 4);
    QCOMPARE(f.texts().count(QStringLiteral("MONDADORI")), 1);
    QCOMPARE(f.texts().count(QStringLiteral("EINAUDI")), 1);

    // A search that lists Zeta once for each of its two authors: two cards for it.
    books::SearchPanel* search = f.books.window().searchPanel();
    search->Text2[2]->setText(QStringLiteral("ROMANZO"));
    QTest::mouseClick(search->Check1[2], Qt::LeftButton);
    QCOMPARE(f.books.entries(QStringLiteral("DBList1")), (QStringList{"Zeta", "Zeta"}));
    RecordingSurface filtered;
    printing::setSurfaceForTests(&filtered);
    QVERIFY(f.print(0, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QStringList texts;
    for (const auto& t : filtered.texts) {
        texts << t.text;
    }
    QCOMPARE(cardTitles(texts), (QStringList{"Zeta", "Zeta"}));
    printing::setSurfaceForTests(&f.surface);
}

void TestRun::catalogueListsEveryTitleInLandscape()
{
    Fixture f;
    QVERIFY(f.print(1, [](frmstampa& d) {
        d.Check1->setChecked(false);
        press(&d, QStringLiteral("Command2"));
    }));
    const auto& s = f.surface;
    QCOMPARE(s.documents.size(), 1);
    QCOMPARE(s.documents.at(0).orientation, printing::PrintSurface::Orientation::Landscape);
    // Rows in the list's order; Zeta's second author on a line of its own at the author's column.
    const QStringList texts = f.texts();
    const QStringList rows = texts.mid(9);
    QCOMPARE(rows, (QStringList{"edera", "2001", " 1 ",                                   //
                                "Elefanti", "ITALO CALVINO", "EINAUDI", "1975", " 0 ",    //
                                "Èlite", "1980",                                          //
                                "Zeta", "DANTE ALIGHIERI", "MONDADORI", "1990", " 12.5 ", //
                                "ITALO CALVINO"}));
    const auto& last = s.texts.last();
    QCOMPARE(last.at.x(), 59 * 96.0);
}

void TestRun::aRoleThatMayOnlyReadPrints()
{
    if (!testsupport::onServer()) {
        QSKIP("i ruoli sono del server: nessun server di prova");
    }
    Fixture f;
    const testsupport::pg::ReaderRole reader(f.books.path());
    QVERIFY2(reader.error().isEmpty(), qPrintable(reader.error()));
    // The window again, opened by a user who may only read.
    Modulo1::PercorsoArchivio = reader.address();
    f.books.load();
    QVERIFY(f.print(1, [](frmstampa& d) {
        d.Check1->setChecked(false);
        press(&d, QStringLiteral("Command2"));
    }));
    QCOMPARE(msg::shownTexts(), QStringList());
    QCOMPARE(f.surface.documents.size(), 1);
    QCOMPARE(f.texts().mid(9), (QStringList{"edera", "2001", " 1 ",                                   //
                                            "Elefanti", "ITALO CALVINO", "EINAUDI", "1975", " 0 ",    //
                                            "Èlite", "1980",                                          //
                                            "Zeta", "DANTE ALIGHIERI", "MONDADORI", "1990", " 12.5 ", //
                                            "ITALO CALVINO"}));
}

void TestRun::anEmptyCatalogueListsItsHeadingsOnly()
{
    Fixture f(QString{});
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QCOMPARE(f.texts(), QStringList{QString(140, QLatin1Char('_'))} + QStringList{"Elenco Biblioteca "} + kHeadings);
    QVERIFY(f.print(0, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    // No card, no logo file: nothing is sent, not even an empty page.
    QCOMPARE(f.surface.documents.size(), 1);
    QCOMPARE(f.surface.documentCount(), 1);
}

void TestRun::aBookDeletedMeanwhileIsLeftOut()
{
    Fixture f;
    // Deleted on another computer after the list was read: no row for it, the others all there.
    store::Archive::open(f.books.path())->exec(QStringLiteral("DELETE FROM biblio WHERE id=900"));
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    const QStringList texts = f.texts();
    QVERIFY(!texts.contains(QStringLiteral("edera")));
    QVERIFY(texts.contains(QStringLiteral("Elefanti")) && texts.contains(QStringLiteral("Zeta")));
    QCOMPARE(msg::shownTexts(), QStringList());
}

void TestRun::interrompiEndsTheDocumentAndSkipsFurtherCopies()
{
    Fixture f(manyBooks(4000));
    // The run's clock moves on a millisecond each time it is read: the run lets the user in every
    // few dozen rows, however fast the machine prints them.
    qint64 ms = 0;
    FrmStato::setClockForTests([&ms] { return ++ms; });
    struct Restore {
        ~Restore() { FrmStato::setClockForTests({}); }
    } restore;
    dialogs::queuePrinterChoice({true, 2, {}});
    std::unique_ptr<testsupport::NextModal> second;
    QString count;
    bool clicked = false;
    // "Interrompi" pressed while the first copy prints its row 1000.
    f.surface.onText = [&](const RecordingSurface::Text& t) {
        if (t.text == QLatin1String("LIBRO 01000") && t.document == 1) {
            FrmStato* progress = shownProgress();
            QVERIFY(progress);
            QCOMPARE(progress->Command1->text(), QStringLiteral("Interrompi"));
            count = progress->Label2->text();
            printtests::clickWhenTheRunYields(progress->Command1);
            clicked = true;
        }
    };
    QVERIFY(f.print(1, [&](frmstampa& d) {
        second = printtests::onPrintDialog([](frmstampa& again) { press(&again, QStringLiteral("Command2")); });
        press(&d, QStringLiteral("Command1"));
    }));
    QVERIFY(second && second->answered());
    QVERIFY(clicked);
    QVERIFY2(count.endsWith(QStringLiteral(" di 4000 (copia 1 di 2)")), qPrintable(count));
    // The document under way was ended where the run next let the user in; the second copy was
    // not begun.
    QCOMPARE(f.surface.documents.size(), 1);
    QCOMPARE(f.surface.documentCount(), 1);
    const int rows = int(f.texts().filter(QStringLiteral("LIBRO ")).size());
    QVERIFY2(rows >= 1000 && rows <= 1040, qPrintable(QString::number(rows)));
    QCOMPARE(msg::shownTexts(), QStringList());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!shownProgress());
}

void TestRun::aClickAsACopyEndsStopsTheRunBeforeTheNextCopy()
{
    Fixture f(manyBooks(300));
    dialogs::queuePrinterChoice({true, 3, {}});
    std::unique_ptr<testsupport::NextModal> second;
    bool clicked = false;
    // "Interrompi" pressed after the run last let the user in, as the first copy ends.
    f.surface.onDocumentEnd = [&](int document) {
        FrmStato* progress = shownProgress();
        if (document == 1 && progress) {
            printtests::clickWhenTheRunYields(progress->Command1);
            clicked = true;
        }
    };
    QVERIFY(f.print(1, [&](frmstampa& d) {
        second = printtests::onPrintDialog([](frmstampa& again) { press(&again, QStringLiteral("Command2")); });
        press(&d, QStringLiteral("Command1"));
    }));
    QVERIFY(second && second->answered());
    QVERIFY(clicked);
    // The first copy is whole; the second was never begun.
    QCOMPARE(f.surface.documentCount(), 1);
    QCOMPARE(f.surface.documents.size(), 1);
    QCOMPARE(f.texts().filter(QStringLiteral("LIBRO ")).size(), 300);
    QCOMPARE(msg::shownTexts(), QStringList());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!shownProgress());
}

void TestRun::aListReadAgainMidRunStopsTheRun()
{
    Fixture f(manyBooks(300));
    store::DataSource* titles = f.books.window().Data6;
    const store::Recordset* old = titles->recordset();
    int readAgain = 0;
    // Read again while row 100 prints (a search that came due, another window's save).
    f.surface.onText = [&](const RecordingSurface::Text& t) {
        if (t.text == QLatin1String("LIBRO 00100")) {
            readAgain = readAgainOverTheOldPlace(*titles, old);
        }
    };
    msg::queueAnswer(msg::Answer::Ok);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QVERIFY(readAgain >= 2);
    QCOMPARE(msg::shownTexts(), QStringList{printing::kListReadAgain});
    QCOMPARE(f.texts().filter(QStringLiteral("LIBRO ")).size(), 100);
    QVERIFY(!f.surface.documentOpen());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestRun::anAuthorsListReadAgainMidRunStopsTheRun()
{
    Fixture f(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300) "
                             "INSERT INTO autore (ID_autore, nome) SELECT i, printf('AUTORE %05d', i) FROM n;"));
    frmAutori authors;
    authors.Form_Load();
    authors.show();
    const store::Recordset* old = authors.Data1->recordset();
    int readAgain = 0;
    f.surface.onText = [&](const RecordingSurface::Text& t) {
        if (t.text == QLatin1String("AUTORE 00100")) {
            readAgain = readAgainOverTheOldPlace(*authors.Data1, old);
        }
    };
    msg::clearQueuedAnswers();
    msg::queueAnswer(msg::Answer::Ok);
    const auto answer = printtests::onPrintDialog([](frmstampa& d) { press(&d, QStringLiteral("Command2")); });
    authors.Command1[1]->click();
    QVERIFY(answer->answered());
    QVERIFY(readAgain >= 2);
    QCOMPARE(msg::shownTexts(), QStringList{printing::kListReadAgain});
    QCOMPARE(f.texts().filter(QStringLiteral("AUTORE 0")).size(), 100);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestRun::aBusyArchiveEndsTheRunWithItsMessage()
{
    CARTEO_FILE_ONLY("a reader of a server archive never waits for a writer");
    Fixture f;
    f.makeLogo(20, 20);
    WaitCounter counter;
    // Another program holds the archive for writing for longer than the run waits.
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(f.books.path().toUtf8().constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    msg::queueAnswer(msg::Answer::Ok);
    const bool answered = f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); });
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QVERIFY(answered);
    // One wait for the other program, one message: the window is not read again after the failure
    // (the run moved nothing in it), which would only wait once more.
    QCOMPARE(counter.waits, (QList<bool>{true, false}));
    QCOMPARE(msg::shownTexts().size(), 1);
    QVERIFY2(msg::shownTexts().at(0).contains(QStringLiteral("bloccato")), qPrintable(msg::shownTexts().at(0)));
    // The document begun with the logo was abandoned; the progress window is gone.
    QCOMPARE(f.surface.documents.size(), 0);
    QCOMPARE(f.surface.abandoned, 1);
    QVERIFY(!f.surface.documentOpen());
    QVERIFY(!QApplication::activeModalWidget());
    for (QWidget* w : QApplication::topLevelWidgets()) {
        QVERIFY(!(qobject_cast<FrmStato*>(w) && w->isVisible()));
    }
    // The window still shows its book and prints again once the archive is free.
    QCOMPARE(f.books.text(QStringLiteral("TxtFields_0")), QStringLiteral("edera"));
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    QCOMPARE(f.surface.documents.size(), 1);
}

void TestRun::withoutAPrinterTheRunSaysSo()
{
    Fixture f;
    printing::setSurfaceForTests(nullptr);
    if (!printing::currentPrinter().printerName().isEmpty()) {
        QSKIP("this machine has a printer");
    }
    msg::queueAnswer(msg::Answer::Ok);
    QVERIFY(f.print(1, [](frmstampa& d) {
        QCOMPARE(d.windowTitle(), QStringLiteral("Nessuna stampante"));
        press(&d, QStringLiteral("Command2"));
    }));
    QCOMPARE(msg::shownTexts().size(), 1);
    QVERIFY2(msg::shownTexts().at(0).startsWith(QStringLiteral("Nessuna stampante disponibile.")),
             qPrintable(msg::shownTexts().at(0)));
    QVERIFY(!QApplication::activeModalWidget());
}

CARTEO_TEST_MAIN(TestRun)
#include "tst_run.moc"
