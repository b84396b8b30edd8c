// The books window when the archive fails under it: a lock held by another user, a damaged file;
// one connection per window; what a screen reader reads.
#include "app/Messages.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "store/Archive.h"
#include "store/DbError.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <sqlite3.h>

using testsupport::BooksWindow;

namespace {

// 600 books, so that the title list reads most of them only when scrolled to.
QString largeCatalogue()
{
    return BooksWindow::catalogue() +
           QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
                          "INSERT INTO biblio (id, titolo, genere) SELECT 1000 + i, printf('TITOLO %04d', i), "
                          "'VARIO' FROM n;");
}

// Another program holding the archive locked for writing, as a long save on another computer does.
class Locker {
  public:
    explicit Locker(const QString& path)
    {
        sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr);
        m_locked = sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Locker()
    {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(m_db);
    }
    bool locked() const { return m_locked; }

  private:
    sqlite3* m_db = nullptr;
    bool m_locked = false;
};

} // namespace

class TestBiblioSafety : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void init() { testsupport::resetShellState(); }

    void oneConnectionPerWindow()
    {
        const int before = store::openConnectionCount();
        {
            BooksWindow books;
            // The archive and its presence lock, shared by all six data sources; on a server, the
            // one connection (a server has no lock file).
            const int own = testsupport::onServer() ? 1 : 2;
            QCOMPARE(store::openConnectionCount(), before + own);
            books.select(QStringLiteral("500"));
            books.select(QStringLiteral("300"));
            QCOMPARE(store::openConnectionCount(), before + own);
            QCOMPARE(books.window().Data1->archive(), books.window().archive());
            QCOMPARE(books.window().Data5->archive(), books.window().archive());
        }
        QCOMPARE(store::openConnectionCount(), before);
    }

    void lockedArchiveUnderAnOpenWindow()
    {
        CARTEO_FILE_ONLY("a reader of a server archive never waits for a writer");
        BooksWindow books(largeCatalogue());
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        const QString last = list->listModel()->keyAt(list->model()->rowCount() - 1);
        {
            Locker other(books.path());
            QVERIFY(other.locked());
            // A click on a title whose row has not been read yet: the window waits a moment, says
            // that the record is locked, and stays up. (The list itself may say it once too.)
            msg::queueAnswer(msg::Answer::Ok);
            msg::queueAnswer(msg::Answer::Ok);
            list->setBoundText(last);
            list->scrollToBottom();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                              list->visualRect(list->model()->index(list->model()->rowCount() - 1, 0)).center());
            QTRY_VERIFY(!msg::shownTexts().isEmpty());
            // Whatever else the click and the list's painting had to say is said by now.
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
            for (const QString& text : msg::shownTexts()) {
                QCOMPARE(text, store::DbError::describe(store::ErrLocked));
            }
            QVERIFY(books.window().isVisible());
            msg::clearQueuedAnswers();
        }
        // Once the other program lets go, the same click shows the book.
        msg::shownTexts().clear();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualRect(list->model()->index(list->model()->rowCount() - 1, 0)).center());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
        QCOMPARE(msg::shownTexts(), QStringList());
    }

    void damagedArchiveUnderAnOpenWindow()
    {
        CARTEO_FILE_ONLY("the bytes of the archive file itself");
        BooksWindow books(largeCatalogue());
        auto* list = books.control<controls::DBList>(QStringLiteral("DBList1"));
        const QByteArray whole = testsupport::readFile(books.path());
        QVERIFY(whole.size() > 8 * 4096);
        // The file is overwritten with noise while the window shows it (a share gone bad).
        QVERIFY(testsupport::writeFile(books.path(), testsupport::randomBytes(int(whole.size()))));

        // Scrolling to rows not read yet: empty entries, one message, no end of the program.
        msg::queueAnswer(msg::Answer::Ok);
        list->scrollToBottom();
        list->viewport()->repaint();
        QTRY_COMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(msg::shownTexts().constFirst(), store::DbError::describe(store::ErrFileNotArchive));
        QVERIFY(list->model()->index(list->model()->rowCount() - 1, 0).data().toString().isEmpty());
        list->scrollToTop();
        list->scrollToBottom();
        list->viewport()->repaint();
        QCoreApplication::processEvents();
        QCOMPARE(msg::shownTexts().size(), 1); // reported once, not for every row painted

        // Moving to a book not read yet is reported by the handler's guard.
        msg::queueAnswer(msg::Answer::Ok);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_End);
        QTRY_COMPARE(msg::shownTexts().size(), 2);
        QCOMPARE(msg::shownTexts().at(1), store::DbError::describe(store::ErrFileNotArchive));
        QVERIFY(books.window().isVisible());

        // The file back as it was: the window works again, on the book it could not read.
        QVERIFY(testsupport::writeFile(books.path(), whole));
        books.select(QStringLiteral("500"));
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")), QStringLiteral("Zeta"));
    }

    void namesThatAScreenReaderReads()
    {
        BooksWindow books;
        books.select(QStringLiteral("500"));
        // A filled combo keeps its caption as its name; what it shows is its value.
        const auto name = [&](const QString& control, QAccessible::Text which) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(books.widget(control));
            return a ? a->text(which) : QStringLiteral("(nessuna interfaccia)");
        };
        QCOMPARE(name(QStringLiteral("DBCombo3"), QAccessible::Name), QStringLiteral("EDITORE"));
        QCOMPARE(name(QStringLiteral("DBCombo3"), QAccessible::Value), QStringLiteral("MONDADORI"));
        QCOMPARE(name(QStringLiteral("DBCombo2"), QAccessible::Name), QStringLiteral("GENERE"));
        QCOMPARE(name(QStringLiteral("DBCombo2"), QAccessible::Value), QStringLiteral("ROMANZO"));
        QCOMPARE(name(QStringLiteral("Combo1"), QAccessible::Name), QStringLiteral("STATO CONSERVAZ."));
        // The text boxes inside the genre and state combos are named too.
        QCOMPARE(books.control<QComboBox>(QStringLiteral("DBCombo2"))->lineEdit()->accessibleName(),
                 QStringLiteral("GENERE"));
        QCOMPARE(books.control<QComboBox>(QStringLiteral("Combo1"))->lineEdit()->accessibleName(),
                 QStringLiteral("STATO CONSERVAZ."));
        // The title count reads with its meaning.
        QCOMPARE(name(QStringLiteral("Label2"), QAccessible::Name), QStringLiteral("Numero dei titoli: 4"));
        // The button that opens the large plan shows something.
        auto* large = books.control<QPushButton>(QStringLiteral("Command17"));
        QVERIFY(!large->icon().isNull() || !large->text().isEmpty());
        QCOMPARE(large->accessibleName(), QStringLiteral("Ingrandisci pianta"));
    }
};

CARTEO_TEST_MAIN(TestBiblioSafety)
#include "tst_biblio_safety.moc"
