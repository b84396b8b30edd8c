// The books window driven as a user drives it, on real archives in a temporary folder.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "controls/Barcode.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

using testsupport::BooksWindow;

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

class TestFrmBiblio : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void init() { testsupport::resetShellState(); }

    void emptyArchiveShowsNothing()
    {
        BooksWindow books{QString()};
        FrmBiblio& w = books.window();
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->model()->rowCount(), 0);
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("0"));
        QVERIFY(books.text(QStringLiteral("TxtFields_0")).isEmpty());
        QVERIFY(books.control<QLineEdit>(QStringLiteral("TxtCodice"))->text().isEmpty());
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList2"))->model()->rowCount(), 0);
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void listsTitlesInReadersOrderAndShowsTheFirst()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        QCOMPARE(books.entries(QStringLiteral("DBList1")), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
        QCOMPARE(books.control<QLabel>(QStringLiteral("Label2"))->text(), QStringLiteral("4"));
        QCOMPARE(list->boundText(), QStringLiteral("900"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("edera"));
        QCOMPARE(Modulo1::IdLibroCorrente, 900);
        QCOMPARE(books.control<QLineEdit>(QStringLiteral("TxtFields_3"))->text(), QStringLiteral("PIANTE"));
        QAbstractItemModelTester tester(list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void showsAuthorsPublisherAndCode()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        books.select(QStringLiteral("500"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QCOMPARE(books.control<QComboBox>(QStringLiteral("DBCombo2"))->currentText(), QStringLiteral("ROMANZO"));
        QCOMPARE(books.control<QComboBox>(QStringLiteral("DBCombo3"))->currentText(), QStringLiteral("MONDADORI"));
        QCOMPARE(Modulo1::IdEditoreCorrente, 1);
        auto* authors = books.control<controls::DBList>(QStringLiteral("DBList2"));
        QCOMPARE(books.entries(QStringLiteral("DBList2")), (QStringList{"DANTE ALIGHIERI", "ITALO CALVINO"}));
        QCOMPARE(books.control<QLineEdit>(QStringLiteral("TxtCodice"))->text(), QStringLiteral("500"));
        QCOMPARE(books.control<controls::BarcodeLabel>(QStringLiteral("Label4"))->code(), QStringLiteral("500"));
        QVERIFY(!books.control<controls::BarcodeLabel>(QStringLiteral("Label4"))->pixmap().isNull());

        // A book without publisher and authors, then one whose publisher no longer exists.
        books.select(QStringLiteral("700"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Èlite"));
        QVERIFY(books.control<QComboBox>(QStringLiteral("DBCombo3"))->currentText().isEmpty());
        QCOMPARE(Modulo1::IdEditoreCorrente, 0);
        QCOMPARE(authors->model()->rowCount(), 0);
        QVERIFY(books.control<QLineEdit>(QStringLiteral("TxtFields_8"))->text().isEmpty());
        books.select(QStringLiteral("900"));
        QVERIFY(books.control<QComboBox>(QStringLiteral("DBCombo3"))->currentText().isEmpty());
        QCOMPARE(Modulo1::IdEditoreCorrente, 77);
        QVERIFY(books.control<QComboBox>(QStringLiteral("DBCombo2"))->currentText().isEmpty());
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void genreAndYearKeepTitleOrder()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        QTest::mouseClick(books.control<QRadioButton>(QStringLiteral("Option2_1")), Qt::LeftButton);
        QCOMPARE(books.entries(QStringLiteral("DBList1")), (QStringList{"", "", "SAGGIO", "ROMANZO"}));
        QTest::mouseClick(books.control<QRadioButton>(QStringLiteral("Option2_2")), Qt::LeftButton);
        QCOMPARE(books.entries(QStringLiteral("DBList1")), (QStringList{"2001", "1975", "1980", "1990"}));
        // Choosing an entry still shows that book.
        const QRect third = list->visualRect(list->model()->index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Èlite"));
        QTest::mouseClick(books.control<QRadioButton>(QStringLiteral("Option2_0")), Qt::LeftButton);
        QCOMPARE(books.entries(QStringLiteral("DBList1")).at(2), QStringLiteral("Èlite"));
        w.Option2_Click(7); // any other index changes nothing
        QCOMPARE(books.entries(QStringLiteral("DBList1")).at(2), QStringLiteral("Èlite"));
    }

    void arrowKeysShowEachBookInTurn()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Elefanti"));
        QCOMPARE(Modulo1::IdLibroCorrente, 300);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList2"))->model()->rowCount(), 2);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Èlite"));
    }

    void escapeHidesPanelsThenCloses()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        auto* authors = books.control<QFrame>(QStringLiteral("Frame1"));
        auto* publishers = books.control<QFrame>(QStringLiteral("Frame2"));
        authors->show();
        publishers->show();
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!authors->isVisible());
        QVERIFY(publishers->isVisible());
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!publishers->isVisible());
        QVERIFY(w.isVisible());
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!w.isVisible());
    }

    void closeGuardKeepsAnOpenEdit()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
        QVERIFY(w.isEditing());
        msg::queueAnswer(msg::Answer::Ok);
        QTest::keyClick(books.control<QLineEdit>(QStringLiteral("TxtFields_0")), Qt::Key_Escape);
        QVERIFY(w.isVisible());
        const QString expected =
            QStringLiteral("E' in corso una modifica del record!!!\rPrima di uscire dal programma, "
                           "occorre Salvare o Annullare l'operazione");
        QCOMPARE(msg::shownTexts(), QStringList{expected});
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(!w.close());
        QCOMPARE(msg::shownTexts().size(), 2);
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
        QVERIFY(w.close());
    }

    void markerBlinksOnlyWhenPlaced()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        books::FloorPlan* plan = w.floorPlan();
        // The blink is driven by hand here: the window's own timer is kept from coming due.
        auto* timer = w.findChild<QTimer*>(QStringLiteral("Timer1"));
        QVERIFY(timer && timer->isActive());
        timer->start(std::numeric_limits<int>::max());
        books.select(QStringLiteral("300")); // at 10, 10: not placed
        QCOMPARE(plan->smallMarker(), QPoint(10, 10));
        QVERIFY(plan->Image2->isVisible());
        w.Timer1_Timer();
        QVERIFY(plan->Image2->isVisible());
        books.select(QStringLiteral("500"));
        QCOMPARE(plan->smallMarker(), QPoint(900, 600));
        QCOMPARE(plan->largeMarker(), QPointF(900 * 2.22, 600 * 2.28));
        QCOMPARE(plan->Image2->pos(), QPoint(60, 40));
        w.Timer1_Timer();
        QVERIFY(!plan->Image2->isVisible());
        QVERIFY(!plan->Image5->isVisibleTo(plan->Picture7));
        w.Timer1_Timer();
        QVERIFY(plan->Image2->isVisible());
        // Showing a book always shows its marker, whatever the blink had done.
        w.Timer1_Timer();
        books.select(QStringLiteral("700"));
        QVERIFY(plan->Image2->isVisible());
    }

    void floorPlanIsLoadedAndFitted()
    {
        BooksWindow books(BooksWindow::catalogue(), false);
        QImage plan(2000, 100, QImage::Format_RGB32);
        plan.fill(Qt::white);
        const QString name = Modulo1::FileArchivio;
        QVERIFY(plan.save(Modulo1::CartellaArchivio + QStringLiteral("pianta") + name.left(name.size() - 4) +
                          QStringLiteral(".jpg")));
        books.load();
        books::FloorPlan* p = books.window().floorPlan();
        // Wider than the panel: squeezed to its inner width; lower than the panel: kept. The picture
        // held is read no larger than the views need.
        QCOMPARE(p->Image1->width(), p->Picture5->contentsRect().width());
        QCOMPARE(p->Image1->height(), 100);
        QVERIFY(p->Image4->pixmap().width() < 2000);
        QVERIFY(p->Image4->pixmap().width() >= p->Picture7->contentsRect().width());
        QVERIFY(p->Image1->isVisible());
        QVERIFY(!p->Picture8->isVisible());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("Command17")), Qt::LeftButton);
        QVERIFY(p->Picture8->isVisible());
        QCOMPARE(p->Image4->width(), p->Picture7->contentsRect().width());
        QTest::mouseClick(books.control<QPushButton>(QStringLiteral("Command16")), Qt::LeftButton);
        QVERIFY(!p->Picture8->isVisible());
    }

    void emptyArchiveHasNoCurrentBook()
    {
        // The book of the archive shown before is no book of this one: no photo is shown or
        // imported for it.
        Modulo1::IdLibroCorrente = 900;
        BooksWindow books(QString{});
        QCOMPARE(Modulo1::IdLibroCorrente, 0);
    }

    void recordPanelIsClosedWhileBrowsingAndNamedForReaders()
    {
        BooksWindow books;
        FrmBiblio& w = books.window();
        QVERIFY(!books.control<QWidget>(QStringLiteral("Picture2"))->isEnabled());
        QVERIFY(!books.control<QWidget>(QStringLiteral("Frame1"))->isVisible());
        QVERIFY(!books.control<QWidget>(QStringLiteral("Frame2"))->isVisible());
        QVERIFY(!books.control<QWidget>(QStringLiteral("Picture6"))->isVisible());
        QVERIFY(!books.control<QWidget>(QStringLiteral("Picture8"))->isVisible());
        QCOMPARE(books.control<QPushButton>(QStringLiteral("Command1_0"))->text(), QStringLiteral("STAMPA SCHEDA"));
        QCOMPARE(books.control<QPushButton>(QStringLiteral("Command1_1"))->text(), QStringLiteral("STAMPA ELENCO"));
        // Every shown text box and combo is named by the caption beside it.
        QHash<QWidget*, QString> buddies;
        for (QLabel* label : w.findChildren<QLabel*>()) {
            if (label->buddy()) {
                buddies.insert(label->buddy(), label->text());
            }
        }
        QStringList unnamed;
        for (QWidget* field : w.findChildren<QWidget*>()) {
            if ((qobject_cast<QLineEdit*>(field) || qobject_cast<QComboBox*>(field)) && field->isVisibleTo(&w) &&
                !qobject_cast<QComboBox*>(field->parentWidget())) {
                if (!buddies.contains(field) || field->accessibleName() != buddies.value(field)) {
                    unnamed << field->objectName();
                }
            }
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char(' '))));
        QCOMPARE(books.control<QWidget>(QStringLiteral("TxtFields_0"))->accessibleName(), QStringLiteral("TITOLO"));
        QCOMPARE(books.control<QWidget>(QStringLiteral("DBCombo3"))->accessibleName(), QStringLiteral("EDITORE"));
        // Lists, options and buttons take the focus from the keyboard.
        for (QWidget* control : w.findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractItemView*>(control)) {
                QVERIFY2(control->focusPolicy() & Qt::TabFocus, qPrintable(control->objectName()));
            }
        }
    }

    void longNotesShowTheirStartAndKeepEveryCharacter()
    {
        BooksWindow books(BooksWindow::catalogue(), false);
        // A note of 20,000 characters with line breaks as the program stores them, and one longer
        // than a line edit holds by itself (32,767 characters).
        QString note;
        for (int i = 0; note.size() < 20000; ++i) {
            note +=
                i % 40 == 39 ? QStringLiteral("FINE RIGA\r\n") : QStringLiteral("PERCHÉ LA NOTA %1 È LUNGA ").arg(i);
        }
        QString longest;
        for (int i = 0; longest.size() < 40000; ++i) {
            longest += QStringLiteral("%1 CITTÀ ").arg(i);
        }
        {
            auto archive = store::Archive::open(books.path());
            for (const auto& [id, text] : {std::pair{500, note}, std::pair{300, longest}}) {
                store::Statement st = archive->prepare(QStringLiteral("UPDATE biblio SET note = ? WHERE id = ?"));
                st.bind(1, text);
                st.bindInt(2, id);
                st.step();
            }
        }
        books.load();
        FrmBiblio& w = books.window();
        auto* field = books.control<controls::BoundLineEdit>(QStringLiteral("TxtFields_13"));
        const auto covered = [field] {
            return field->fontMetrics().horizontalAdvance(field->text()) >= field->width();
        };

        // Browsing: the field holds the whole note and lays out only the start that shows.
        books.select(QStringLiteral("500"));
        QVERIFY(!field->isEnabled());
        QCOMPARE(field->fieldValueForUpdate().toString(), note);
        QVERIFY(field->text().size() < note.size());
        QVERIFY(note.startsWith(field->text()));
        QVERIFY(covered());
        w.resize(w.width() * 3, w.height());
        QCoreApplication::processEvents();
        QVERIFY(covered());
        QVERIFY(note.startsWith(field->text()));
        books.select(QStringLiteral("700"));
        QVERIFY(field->text().isEmpty());
        QVERIFY(field->fieldValueForUpdate().isNull());

        // Editing: the whole note is in the field; typed text is upper case and every character is saved.
        const auto editAndType = [&](const QString& key, const QString& typed) {
            books.select(key);
            QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
            QVERIFY(field->isEnabled());
            field->setFocus();
            field->end(false);
            for (const QChar c : typed) {
                // As a keyboard sends it, accented letters too.
                if (c == QLatin1Char('\b')) {
                    QTest::keyClick(field, Qt::Key_Backspace);
                } else {
                    QTest::sendKeyEvent(QTest::Click, field, Qt::Key(c.toUpper().unicode()), QString(c),
                                        Qt::NoModifier);
                }
            }
            QTest::mouseClick(books.control<QPushButton>(QStringLiteral("CmdModifica")), Qt::LeftButton);
            QVERIFY(!w.isEditing());
        };
        editAndType(QStringLiteral("500"), QStringLiteral(" fine"));
        QCOMPARE(testsupport::scalar(books.path(), QStringLiteral("SELECT note FROM biblio WHERE id=500")).toString(),
                 note + QStringLiteral(" FINE"));
        // The longest note stands at its own length: its last character is replaced.
        editAndType(QStringLiteral("300"), QStringLiteral("\bù"));
        const QString stored =
            testsupport::scalar(books.path(), QStringLiteral("SELECT note FROM biblio WHERE id=300")).toString();
        QCOMPARE(stored.size(), longest.size());
        QCOMPARE(stored, longest.chopped(1) + QStringLiteral("Ù"));
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void barcodeReadsBackAsTheKey()
    {
        const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (zbarimg.isEmpty()) {
            QSKIP("zbarimg is not installed");
        }
        BooksWindow books;
        FrmBiblio& w = books.window();
        for (const QString key : {QStringLiteral("500"), QStringLiteral("300")}) {
            books.select(key);
            const QString file = books.folder().filePath(QStringLiteral("codice%1.png").arg(key));
            QVERIFY(books.control<controls::BarcodeLabel>(QStringLiteral("Label4"))->pixmap().save(file));
            QProcess reader;
            reader.start(zbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), file});
            QVERIFY(reader.waitForFinished(20000));
            QCOMPARE(QString::fromLatin1(reader.readAllStandardOutput()).trimmed(), key);
        }
    }

    void unreadableArchiveIsReported()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.filePath(QStringLiteral("testo.mdb"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("questo non è un archivio\n");
        f.close();
        Modulo1::PercorsoArchivio = path;
        FrmBiblio w;
        try {
            w.Form_Load();
            QFAIL("a text file opened as an archive");
        } catch (const store::DbError& e) {
            QCOMPARE(e.number(), int(store::ErrFileNotArchive));
            QVERIFY(!e.description().isEmpty());
        }
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("questo non è un archivio\n"));
    }
};

CARTEO_TEST_MAIN(TestFrmBiblio)
#include "tst_frmbiblio.moc"
