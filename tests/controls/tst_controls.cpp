// The bound widgets that every window shares, on a real archive.
#include "controls/Barcode.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/DataSource.h"
#include "support/TestMain.h"

#include <QAbstractItemModelTester>
#include <QAccessible>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QtTest>

class TestControls : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_path;

  private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("c.mdb"));
        store::Archive::create(m_path);
        auto archive = store::Archive::open(m_path);
        archive->exec(QStringLiteral("BEGIN"));
        for (int i = 1; i <= 3000; ++i) {
            archive->exec(QStringLiteral("INSERT INTO editori (ID_Editore, nome) VALUES (%1, 'EDITORE %2')")
                              .arg(i * 3)
                              .arg(i, 5, 10, QLatin1Char('0')));
        }
        archive->exec(QStringLiteral("COMMIT"));
    }

    void listFollowsItsSourceLazily()
    {
        store::DataSource source;
        source.setDatabaseName(m_path);
        source.setRecordSource(QStringLiteral("Select * from editori order by nome"));
        source.refresh();
        controls::DBList list;
        list.setRowSource(&source);
        list.setListField(QStringLiteral("nome"));
        list.setBoundColumn(QStringLiteral("ID_editore"));
        QAbstractItemModelTester tester(list.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(list.model()->rowCount(), 3000);
        QCOMPARE(list.model()->index(2999, 0).data().toString(), QStringLiteral("EDITORE 03000"));
        QCOMPARE(list.listModel()->keyAt(1999), QStringLiteral("6000"));

        list.setBoundText(QStringLiteral("4500"));
        QCOMPARE(list.boundText(), QStringLiteral("4500"));
        QCOMPARE(list.text(), QStringLiteral("EDITORE 01500"));
        // A key that no row has: the key read back differs from the one set.
        list.setBoundText(QStringLiteral("4501"));
        QVERIFY(list.boundText().isEmpty());
        list.setBoundText(QString());
        QVERIFY(list.boundText().isEmpty());

        // A refreshed source after a new row shows it in its place.
        store::Archive::open(m_path)->exec(
            QStringLiteral("INSERT INTO editori (ID_Editore, nome) VALUES (1, 'EDITORE 00000')"));
        source.refresh();
        QCOMPARE(list.model()->rowCount(), 3001);
        QCOMPARE(list.model()->index(0, 0).data().toString(), QStringLiteral("EDITORE 00000"));
        list.setListField(QStringLiteral("ID_Editore"));
        QCOMPARE(list.model()->index(0, 0).data().toString(), QStringLiteral("1"));
        store::Archive::open(m_path)->exec(QStringLiteral("DELETE FROM editori WHERE ID_Editore = 1"));
    }

    void comboSelectsByKey()
    {
        store::DataSource source;
        source.setDatabaseName(m_path);
        source.setRecordSource(QStringLiteral("Select ID_Editore, nome, residenza from Editori order by nome"));
        source.refresh();
        controls::DBCombo combo;
        combo.setRowSource(&source);
        combo.setListField(QStringLiteral("nome"));
        combo.setBoundColumn(QStringLiteral("id_editore"));
        combo.setBoundText(QStringLiteral("30"));
        QCOMPARE(combo.currentText(), QStringLiteral("EDITORE 00010"));
        QCOMPARE(combo.boundText(), QStringLiteral("30"));
        combo.setBoundText(QStringLiteral("31"));
        QVERIFY(combo.currentText().isEmpty());
        QVERIFY(combo.boundText().isEmpty());
    }

    void textBoxShowsAndWritesItsField()
    {
        store::DataSource source;
        source.setDatabaseName(m_path);
        source.setRecordSource(QStringLiteral("Select * from editori order by nome"));
        source.refresh();
        controls::BoundLineEdit name;
        name.bindTo(&source, QStringLiteral("NOME"));
        controls::BoundLineEdit town;
        town.bindTo(&source, QStringLiteral("residenza"));
        source.findFirst(QStringLiteral("ID_Editore"), qint64(9));
        QCOMPARE(name.text(), QStringLiteral("EDITORE 00003"));
        QVERIFY(town.text().isEmpty());
        // What the box shows is what a save stores, however the text got there.
        town.setText(QStringLiteral("MILANO"));
        source.updateRecord();
        source.refresh();
        source.findFirst(QStringLiteral("ID_Editore"), qint64(9));
        QCOMPARE(town.text(), QStringLiteral("MILANO"));
        town.setTextToStore(QStringLiteral("ROMA"));
        source.updateRecord();
        source.refresh();
        source.findFirst(QStringLiteral("ID_Editore"), qint64(9));
        QCOMPARE(town.text(), QStringLiteral("ROMA"));
        // An emptied text box stores no value.
        town.setTextToStore(QString());
        source.updateRecord();
        auto check = store::Archive::open(m_path)->prepare(
            QStringLiteral("SELECT residenza IS NULL FROM editori WHERE ID_Editore = 9"));
        QVERIFY(check.step());
        QCOMPARE(check.int64(0), 1);
    }

    void textFromAssistiveTechnologyIsStoredInCapitals()
    {
        // Dictation and screen readers put text into a field through its accessibility interface,
        // not through key presses.
        store::DataSource source;
        source.setDatabaseName(m_path);
        source.setRecordSource(QStringLiteral("Select * from editori order by nome"));
        source.refresh();
        controls::BoundLineEdit town;
        town.setUpperCase(true);
        town.bindTo(&source, QStringLiteral("residenza"));
        controls::BoundTextEdit notes;
        notes.setUpperCase(true);
        notes.bindTo(&source, QStringLiteral("note"));
        const auto stored = [this](const char* column, int key) {
            auto st = store::Archive::open(m_path)->prepare(
                QStringLiteral("SELECT %1 FROM editori WHERE ID_Editore = %2").arg(QLatin1String(column)).arg(key));
            return st.step() ? st.value(0) : QVariant();
        };
        source.findFirst(QStringLiteral("ID_Editore"), 12);

        QAccessibleInterface* line = QAccessible::queryAccessibleInterface(&town);
        QVERIFY(line);
        line->setText(QAccessible::Value, QStringLiteral("la spezia"));
        QCOMPARE(town.text(), QStringLiteral("LA SPEZIA"));
        QAccessibleEditableTextInterface* editable = line->editableTextInterface();
        QVERIFY(editable);
        editable->insertText(int(town.text().size()), QStringLiteral(" est"));
        QCOMPARE(town.text(), QStringLiteral("LA SPEZIA EST"));
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(&notes);
        QVERIFY(box);
        box->setText(QAccessible::Value, QStringLiteral("prima riga\nè seconda"));
        QCOMPARE(notes.text(), QStringLiteral("PRIMA RIGA\nÈ SECONDA"));
        // Moving to another record stores what the fields show, as typing would have.
        source.findFirst(QStringLiteral("ID_Editore"), 15);
        QCOMPARE(stored("residenza", 12), QVariant(QStringLiteral("LA SPEZIA EST")));
        QCOMPARE(stored("note", 12), QVariant(QStringLiteral("PRIMA RIGA\r\nÈ SECONDA")));
        QVERIFY(town.text().isEmpty());

        // And "Salva" of an open edit.
        source.edit();
        line->setText(QAccessible::Value, QStringLiteral("bra"));
        source.updateRecord();
        QCOMPARE(stored("residenza", 15), QVariant(QStringLiteral("BRA")));

        // A note stored in small letters keeps them where nothing was typed: only what comes in
        // is put in capitals.
        notes.showFieldValue(QStringLiteral("scritta a mano\r\nstraße"));
        notes.show();
        notes.setFocus();
        notes.moveCursor(QTextCursor::End);
        QTest::keyClicks(&notes, QStringLiteral(" x"));
        QCOMPARE(notes.text(), QStringLiteral("scritta a mano\nstraße X"));
        box->editableTextInterface()->insertText(0, QStringLiteral("nota: "));
        QCOMPARE(notes.text(), QStringLiteral("NOTA: scritta a mano\nstraße X"));
        notes.hide();
    }

    void typingIsUpperCasedWithTheCaretKept()
    {
        controls::BoundLineEdit edit;
        edit.setUpperCase(true);
        edit.show();
        QTest::keyClicks(&edit, QStringLiteral("la cit"));
        QTest::sendKeyEvent(QTest::Click, &edit, Qt::Key_unknown, QStringLiteral("à"), Qt::NoModifier);
        QCOMPARE(edit.text(), QStringLiteral("LA CITÀ"));
        edit.setCursorPosition(2);
        QTest::keyClicks(&edit, QStringLiteral("x"));
        QCOMPARE(edit.text(), QStringLiteral("LAX CITÀ"));
        QCOMPARE(edit.cursorPosition(), 3);
        // Values shown from the archive are shown as stored.
        edit.showFieldValue(QStringLiteral("minuscolo"));
        QCOMPARE(edit.text(), QStringLiteral("minuscolo"));
    }

    void acceptedCharactersFilterTyping()
    {
        controls::BoundLineEdit pages;
        pages.setAcceptedCharacters(QStringLiteral("0123456789"));
        pages.show();
        QTest::keyClicks(&pages, QStringLiteral("1a2-3"));
        QCOMPARE(pages.text(), QStringLiteral("123"));
        QTest::keyClick(&pages, Qt::Key_Backspace);
        QCOMPARE(pages.text(), QStringLiteral("12"));
    }

    void focusChangesTheBackground()
    {
        QWidget window;
        auto* first = new controls::BoundLineEdit(&window);
        auto* second = new controls::BoundLineEdit(&window);
        second->move(0, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(second->palette().color(QPalette::Base), controls::kFieldBackground);
        first->setFocus();
        QCOMPARE(first->palette().color(QPalette::Base), controls::kFocusBackground);
        second->setFocus();
        QCOMPARE(first->palette().color(QPalette::Base), controls::kFieldBackground);
        QCOMPARE(second->palette().color(QPalette::Base), controls::kFocusBackground);
    }

    void barcodeOfKeys()
    {
        const QImage code = controls::code39Image(QStringLiteral("123456"));
        QVERIFY(!code.isNull());
        // Quiet zones: the first and last columns are white.
        QCOMPARE(code.pixelColor(0, code.height() / 2), QColor(Qt::white));
        QCOMPARE(code.pixelColor(code.width() - 1, code.height() / 2), QColor(Qt::white));
        QVERIFY(controls::code39Image(QString()).isNull());
        QVERIFY(code.width() < controls::code39Image(QStringLiteral("1234567")).width());
    }
};

CARTEO_TEST_MAIN(TestControls)
#include "tst_controls.moc"
