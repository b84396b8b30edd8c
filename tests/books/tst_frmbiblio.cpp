// The books window driven as a user drives it, on real archives in a temporary folder.
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "controls/Barcode.h"
#include "controls/DBList.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "store/Archive.h"
#include "support/TestSupport.h"

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

class TestFrmBiblio : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    int m_count = 0;

    // A fresh archive with the given SQL run on it; Modulo1 points at it.
    QString archive(const QString& populate = {})
    {
        const QString path = m_dir.filePath(QStringLiteral("archivio%1.mdb").arg(++m_count));
        store::Archive::create(path);
        if (!populate.isEmpty()) {
            store::Archive::open(path)->exec(populate);
        }
        Modulo1::PercorsoArchivio = path;
        Modulo1::CartellaArchivio = m_dir.path() + QLatin1Char('/');
        Modulo1::FileArchivio = QFileInfo(path).fileName();
        return path;
    }

    static QString catalogue()
    {
        return QStringLiteral(
            "INSERT INTO editori (ID_Editore, nome, residenza) VALUES (1, 'MONDADORI', 'MILANO'), (2, 'EINAUDI', "
            "'TORINO');"
            "INSERT INTO biblio (id, titolo, genere, anno, id_edizione, argomento, costo_E, posx, posy) VALUES"
            " (500, 'Zeta', 'ROMANZO', '1990', 1, 'MARE', 12.5, 900, 600),"
            " (700, 'Èlite', 'SAGGIO', '1980', NULL, 'POTERE', NULL, 5, 5),"
            " (900, 'edera', NULL, '2001', 77, 'PIANTE', 1, 0, 0),"
            " (300, 'Elefanti', '', '1975', 2, 'ANIMALI', 0, 10, 10);"
            "INSERT INTO autore (ID_autore, nome) VALUES (1, 'DANTE ALIGHIERI'), (2, 'ITALO CALVINO');"
            "INSERT INTO autbiblio VALUES (500, 1), (500, 2), (300, 2);");
    }

    template <typename T> static T* child(QWidget* w, const QString& name)
    {
        T* c = w->findChild<T*>(name);
        if (!c) {
            qFatal("missing control %s", qPrintable(name));
        }
        return c;
    }

    static QStringList listTexts(controls::DBList* list)
    {
        QStringList texts;
        for (int r = 0; r < list->model()->rowCount(); ++r) {
            texts << list->model()->index(r, 0).data().toString();
        }
        return texts;
    }

    static void select(FrmBiblio& w, const QString& key)
    {
        child<controls::DBList>(&w, QStringLiteral("DBList1"))->setBoundText(key);
        w.DBList1_Click();
    }

    static QString title(FrmBiblio& w) { return child<QLineEdit>(&w, QStringLiteral("TxtFields_0"))->text(); }

  private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        msg::clearQueuedAnswers();
    }

    void init() { testsupport::resetShellState(); }

    void emptyArchiveShowsNothing()
    {
        archive();
        FrmBiblio w;
        w.Form_Load();
        w.show();
        QCOMPARE(child<controls::DBList>(&w, QStringLiteral("DBList1"))->model()->rowCount(), 0);
        QCOMPARE(child<QLabel>(&w, QStringLiteral("Label2"))->text(), QStringLiteral("0"));
        QVERIFY(title(w).isEmpty());
        QVERIFY(child<QLineEdit>(&w, QStringLiteral("TxtCodice"))->text().isEmpty());
        QCOMPARE(child<controls::DBList>(&w, QStringLiteral("DBList2"))->model()->rowCount(), 0);
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void listsTitlesInReadersOrderAndShowsTheFirst()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        auto* list = child<controls::DBList>(&w, QStringLiteral("DBList1"));
        QCOMPARE(listTexts(list), (QStringList{"edera", "Elefanti", "Èlite", "Zeta"}));
        QCOMPARE(child<QLabel>(&w, QStringLiteral("Label2"))->text(), QStringLiteral("4"));
        QCOMPARE(list->boundText(), QStringLiteral("900"));
        QCOMPARE(title(w), QStringLiteral("edera"));
        QCOMPARE(Modulo1::IdLibroCorrente, 900);
        QCOMPARE(child<QLineEdit>(&w, QStringLiteral("TxtFields_3"))->text(), QStringLiteral("PIANTE"));
        QAbstractItemModelTester tester(list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void showsAuthorsPublisherAndCode()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        select(w, QStringLiteral("500"));
        QCOMPARE(title(w), QStringLiteral("Zeta"));
        QCOMPARE(child<QComboBox>(&w, QStringLiteral("DBCombo2"))->currentText(), QStringLiteral("ROMANZO"));
        QCOMPARE(child<QComboBox>(&w, QStringLiteral("DBCombo3"))->currentText(), QStringLiteral("MONDADORI"));
        QCOMPARE(Modulo1::IdEditoreCorrente, 1);
        auto* authors = child<controls::DBList>(&w, QStringLiteral("DBList2"));
        QCOMPARE(listTexts(authors), (QStringList{"DANTE ALIGHIERI", "ITALO CALVINO"}));
        QCOMPARE(child<QLineEdit>(&w, QStringLiteral("TxtCodice"))->text(), QStringLiteral("500"));
        QCOMPARE(child<controls::BarcodeLabel>(&w, QStringLiteral("Label4"))->code(), QStringLiteral("500"));
        QVERIFY(!child<controls::BarcodeLabel>(&w, QStringLiteral("Label4"))->pixmap().isNull());

        // A book without publisher and authors, then one whose publisher no longer exists.
        select(w, QStringLiteral("700"));
        QCOMPARE(title(w), QStringLiteral("Èlite"));
        QVERIFY(child<QComboBox>(&w, QStringLiteral("DBCombo3"))->currentText().isEmpty());
        QCOMPARE(Modulo1::IdEditoreCorrente, 0);
        QCOMPARE(authors->model()->rowCount(), 0);
        QVERIFY(child<QLineEdit>(&w, QStringLiteral("TxtFields_8"))->text().isEmpty());
        select(w, QStringLiteral("900"));
        QVERIFY(child<QComboBox>(&w, QStringLiteral("DBCombo3"))->currentText().isEmpty());
        QCOMPARE(Modulo1::IdEditoreCorrente, 77);
        QVERIFY(child<QComboBox>(&w, QStringLiteral("DBCombo2"))->currentText().isEmpty());
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void genreAndYearKeepTitleOrder()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        auto* list = child<controls::DBList>(&w, QStringLiteral("DBList1"));
        QTest::mouseClick(child<QRadioButton>(&w, QStringLiteral("Option2_1")), Qt::LeftButton);
        QCOMPARE(listTexts(list), (QStringList{"", "", "SAGGIO", "ROMANZO"}));
        QTest::mouseClick(child<QRadioButton>(&w, QStringLiteral("Option2_2")), Qt::LeftButton);
        QCOMPARE(listTexts(list), (QStringList{"2001", "1975", "1980", "1990"}));
        // Choosing an entry still shows that book.
        const QRect third = list->visualRect(list->model()->index(2, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third.center());
        QCOMPARE(title(w), QStringLiteral("Èlite"));
        QTest::mouseClick(child<QRadioButton>(&w, QStringLiteral("Option2_0")), Qt::LeftButton);
        QCOMPARE(listTexts(list).at(2), QStringLiteral("Èlite"));
        w.Option2_Click(7); // any other index changes nothing
        QCOMPARE(listTexts(list).at(2), QStringLiteral("Èlite"));
    }

    void arrowKeysShowEachBookInTurn()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        auto* list = child<controls::DBList>(&w, QStringLiteral("DBList1"));
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(title(w), QStringLiteral("Elefanti"));
        QCOMPARE(Modulo1::IdLibroCorrente, 300);
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Down);
        QCOMPARE(title(w), QStringLiteral("Zeta"));
        QCOMPARE(child<controls::DBList>(&w, QStringLiteral("DBList2"))->model()->rowCount(), 2);
        QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(title(w), QStringLiteral("Èlite"));
    }

    void escapeHidesPanelsThenCloses()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        auto* authors = child<QFrame>(&w, QStringLiteral("Frame1"));
        auto* publishers = child<QFrame>(&w, QStringLiteral("Frame2"));
        authors->show();
        publishers->show();
        auto* list = child<controls::DBList>(&w, QStringLiteral("DBList1"));
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
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        child<QPushButton>(&w, QStringLiteral("CmdNuovo"))->setText(QStringLiteral("Annulla"));
        QVERIFY(w.isEditing());
        msg::queueAnswer(msg::Answer::Ok);
        QTest::keyClick(child<controls::DBList>(&w, QStringLiteral("DBList1")), Qt::Key_Escape);
        QVERIFY(w.isVisible());
        const QString expected =
            QStringLiteral("E' in corso una modifica del record!!!\rPrima di uscire dal programma, "
                           "occorre Salvare o Annullare l'operazione");
        QCOMPARE(msg::shownTexts(), QStringList{expected});
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(!w.close());
        QCOMPARE(msg::shownTexts().size(), 2);
        child<QPushButton>(&w, QStringLiteral("CmdNuovo"))->setText(QStringLiteral("Nuovo"));
        QVERIFY(w.close());
    }

    void markerBlinksOnlyWhenPlaced()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        books::FloorPlan* plan = w.floorPlan();
        select(w, QStringLiteral("300")); // at 10, 10: not placed
        QCOMPARE(plan->smallMarker(), QPoint(10, 10));
        QVERIFY(plan->Image2->isVisible());
        w.Timer1_Timer();
        QVERIFY(plan->Image2->isVisible());
        select(w, QStringLiteral("500"));
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
        select(w, QStringLiteral("700"));
        QVERIFY(plan->Image2->isVisible());
    }

    void floorPlanIsLoadedAndFitted()
    {
        archive(catalogue());
        QImage plan(2000, 100, QImage::Format_RGB32);
        plan.fill(Qt::white);
        const QString name = Modulo1::FileArchivio;
        QVERIFY(plan.save(Modulo1::CartellaArchivio + QStringLiteral("pianta") + name.left(name.size() - 4) +
                          QStringLiteral(".jpg")));
        FrmBiblio w;
        w.Form_Load();
        w.show();
        books::FloorPlan* p = w.floorPlan();
        // Wider than the panel: squeezed to its inner width; lower than the panel: kept.
        QCOMPARE(p->Image1->width(), p->Picture5->contentsRect().width());
        QCOMPARE(p->Image1->height(), 100);
        QVERIFY(p->Image1->isVisible());
        QVERIFY(!p->Picture8->isVisible());
        QTest::mouseClick(child<QPushButton>(&w, QStringLiteral("Command17")), Qt::LeftButton);
        QVERIFY(p->Picture8->isVisible());
        QCOMPARE(p->Image4->width(), p->Picture7->contentsRect().width());
        QTest::mouseClick(child<QPushButton>(&w, QStringLiteral("Command16")), Qt::LeftButton);
        QVERIFY(!p->Picture8->isVisible());
    }

    void recordPanelIsClosedWhileBrowsingAndNamedForReaders()
    {
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        QVERIFY(!child<QWidget>(&w, QStringLiteral("Picture2"))->isEnabled());
        QVERIFY(!child<QWidget>(&w, QStringLiteral("Frame1"))->isVisible());
        QVERIFY(!child<QWidget>(&w, QStringLiteral("Frame2"))->isVisible());
        QVERIFY(!child<QWidget>(&w, QStringLiteral("Picture6"))->isVisible());
        QVERIFY(!child<QWidget>(&w, QStringLiteral("Picture8"))->isVisible());
        QCOMPARE(child<QPushButton>(&w, QStringLiteral("Command1_0"))->text(), QStringLiteral("STAMPA SCHEDA"));
        QCOMPARE(child<QPushButton>(&w, QStringLiteral("Command1_1"))->text(), QStringLiteral("STAMPA ELENCO"));
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
        QCOMPARE(child<QWidget>(&w, QStringLiteral("TxtFields_0"))->accessibleName(), QStringLiteral("TITOLO"));
        QCOMPARE(child<QWidget>(&w, QStringLiteral("DBCombo3"))->accessibleName(), QStringLiteral("EDITORE"));
        // Lists, options and buttons take the focus from the keyboard.
        for (QWidget* control : w.findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QAbstractItemView*>(control)) {
                QVERIFY2(control->focusPolicy() & Qt::TabFocus, qPrintable(control->objectName()));
            }
        }
    }

    void barcodeReadsBackAsTheKey()
    {
        const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (zbarimg.isEmpty()) {
            QSKIP("zbarimg is not installed");
        }
        archive(catalogue());
        FrmBiblio w;
        w.Form_Load();
        w.show();
        for (const QString key : {QStringLiteral("500"), QStringLiteral("300")}) {
            select(w, key);
            const QString file = m_dir.filePath(QStringLiteral("codice%1.png").arg(key));
            QVERIFY(child<controls::BarcodeLabel>(&w, QStringLiteral("Label4"))->pixmap().save(file));
            QProcess reader;
            reader.start(zbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), file});
            QVERIFY(reader.waitForFinished(20000));
            QCOMPARE(QString::fromLatin1(reader.readAllStandardOutput()).trimmed(), key);
        }
    }

    void unreadableArchiveIsReported()
    {
        const QString path = m_dir.filePath(QStringLiteral("testo.mdb"));
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

QTEST_MAIN(TestFrmBiblio)
#include "tst_frmbiblio.moc"
