// Borrowers and loans: lending and returning at the desk (two desks, a kill half-way, an undo),
// what a scanner may send, the overdue lists, deletes refused while books are out, the borrower's
// record through the record machinery, and the archive's version 3 (upgrade, template, copy,
// compaction, repair).
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/Loans.h"
#include "store/Recordset.h"
#include "store/Schema.h"
#include "store/Sql.h"
#include "support/Restrictions.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QtTest>
#include <sqlite3.h>

namespace loans = store::loans;
using testsupport::errorOf;
using testsupport::scalar;

namespace {

enum : qint64 { Promessi = 10, Oro = 20, Citta = 30, Oriente = 40, Anna = 1, Bruno = 2, Carla = 3 };

QString library()
{
    return QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (10, 'I PROMESSI SPOSI'), (20, 'L''ORO DI NAPOLI'), "
                          "(30, 'LE CITTÀ INVISIBILI'), (40, 'ORIENTE');"
                          "INSERT INTO lettori (ID_Lettore, nome, indirizzo) VALUES (1, 'ANNA ROSSI', 'VIA ROMA 1'), "
                          "(2, 'BRUNO BIANCHI', 'VIA PO 2'), (3, 'CARLA VERDI', NULL);");
}

// Many rows in one commit rather than one each.
QString inOneTransaction(const QString& script)
{
    return QStringLiteral("BEGIN;") + script + QStringLiteral("COMMIT;");
}

QDate day(int y, int m, int d)
{
    return QDate(y, m, d);
}

qint64 openLoans(const QString& path)
{
    return scalar(path, QStringLiteral("SELECT count(*) FROM prestiti WHERE data_restituzione IS NULL")).toLongLong();
}

// Takes an archive back to what a program of `version` (1 or 2) left: no loans' tables, and for
// version 1 no word index either.
void makeVersion(const QString& path, int version)
{
    sqlite3* db = nullptr;
    QVERIFY(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK);
    const QByteArray drop = QStringLiteral("DROP TRIGGER biblio_in_prestito; DROP TRIGGER biblio_elimina_prestiti; "
                                           "DROP TABLE lettori; DROP TABLE prestiti; PRAGMA user_version = %1;")
                                .arg(version)
                                .toUtf8();
    QCOMPARE(sqlite3_exec(db, drop.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    if (version < 2) {
        store::schema::removeFullText(db);
    }
    sqlite3_close(db);
}

} // namespace

class TestStoreLoans : public QObject {
    Q_OBJECT

    testsupport::ArchiveFolder m_dir;

  private slots:
    void lendReturnAndLendAgain()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        QVERIFY(loans::available(*archive));
        QVERIFY(!loans::openLoanOf(*archive, Promessi));

        const loans::Result lent = loans::lend(*archive, Promessi, Anna, day(2026, 12, 1), 30, 0);
        QCOMPARE(lent.outcome, loans::Outcome::Lent);
        QCOMPARE(lent.message, QStringLiteral("Prestato a ANNA ROSSI fino al 31/12/2026"));
        const std::optional<loans::Loan> open = loans::openLoanOf(*archive, Promessi);
        QVERIFY(open);
        QCOMPARE(open->id, lent.loan.id);
        QCOMPARE(open->borrowerName, QStringLiteral("ANNA ROSSI"));
        QCOMPARE(open->title, QStringLiteral("I PROMESSI SPOSI"));
        QCOMPARE(loans::onLoanLine(*open),
                 QStringLiteral("In prestito a ANNA ROSSI dal 01/12/2026, da restituire il 31/12/2026"));
        // Stored as ISO dates.
        QCOMPARE(scalar(path, QStringLiteral("SELECT data_prestito || ' ' || data_scadenza FROM prestiti")).toString(),
                 QStringLiteral("2026-12-01 2026-12-31"));

        // Lent already: a second lend is refused, whoever asks.
        const loans::Result again = loans::lend(*archive, Promessi, Bruno, day(2026, 12, 2), 30, 0);
        QCOMPARE(again.outcome, loans::Outcome::Refused);
        QCOMPARE(again.message, QStringLiteral("Il libro è già in prestito a ANNA ROSSI."));

        const loans::Result back = loans::returnBook(*archive, Promessi, day(2027, 1, 3));
        QCOMPARE(back.outcome, loans::Outcome::Returned);
        QCOMPARE(back.message,
                 QStringLiteral("Restituito: I PROMESSI SPOSI (3 giorni di ritardo)"));
        QVERIFY(!loans::openLoanOf(*archive, Promessi));
        // A return of a book already returned changes nothing and says so.
        const QByteArray before = testsupport::digest(path);
        const loans::Result twice = loans::returnBook(*archive, Promessi, day(2027, 1, 3));
        QCOMPARE(twice.refusal, loans::Refusal::NotOnLoan);
        QCOMPARE(twice.message,
                 QStringLiteral("Il libro «I PROMESSI SPOSI» non è in prestito: è stato restituito il 03/01/2027."));
        QCOMPARE(testsupport::digest(path), before);

        QVERIFY(loans::lend(*archive, Promessi, Bruno, day(2027, 1, 4), 15, 0).done());
        QCOMPARE(loans::openLoanOf(*archive, Promessi)->borrowerName, QStringLiteral("BRUNO BIANCHI"));
        const QList<loans::Loan> history = loans::historyOf(*archive, Anna);
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.first().returned, day(2027, 1, 3));
        QCOMPARE(history.first().daysLate(day(2030, 1, 1)), 3); // late as returned, not as of today
        QCOMPARE(loans::openLoansOf(*archive, Bruno).size(), 1);
        QCOMPARE(loans::openLoansOf(*archive, Anna).size(), 0);
        if (!testsupport::onServer()) { // the file engine's own check of the file
            QCOMPARE(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        }
    }

    void keysAreReadAsTheLabelHoldsThem_data()
    {
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<qint64>("key");
        using R = loans::Refusal;
        QTest::newRow("the label's digits") << "20" << int(R::None) << qint64(20);
        QTest::newRow("the largest key") << "200000" << int(R::None) << qint64(200000);
        QTest::newRow("nothing") << "" << int(R::Empty) << qint64(0);
        QTest::newRow("CR LF after") << "20\r\n" << int(R::Spaces) << qint64(0);
        QTest::newRow("CR after") << "20\r" << int(R::Spaces) << qint64(0);
        QTest::newRow("space after") << "20 " << int(R::Spaces) << qint64(0);
        QTest::newRow("space before") << " 20" << int(R::Spaces) << qint64(0);
        QTest::newRow("tab after") << "20\t" << int(R::Spaces) << qint64(0);
        QTest::newRow("no-break space") << QStringLiteral("20\u00a0") << int(R::Spaces) << qint64(0);
        QTest::newRow("letters") << "ABC" << int(R::NotDigits) << qint64(0);
        QTest::newRow("digits and a letter") << "20A" << int(R::NotDigits) << qint64(0);
        QTest::newRow("Code 39 start and stop") << "*20*" << int(R::NotDigits) << qint64(0);
        QTest::newRow("sign") << "+20" << int(R::NotDigits) << qint64(0);
        QTest::newRow("minus") << "-20" << int(R::NotDigits) << qint64(0);
        QTest::newRow("other digits") << QStringLiteral("\u0662\u0660") << int(R::NotDigits) << qint64(0);
        QTest::newRow("full-width digits") << QStringLiteral("\uff12\uff10") << int(R::NotDigits) << qint64(0);
        QTest::newRow("control character") << QStringLiteral("20\u0004") << int(R::Spaces) << qint64(0);
        QTest::newRow("leading zeros") << "000020" << int(R::LeadingZero) << qint64(0);
        QTest::newRow("zero") << "0" << int(R::LeadingZero) << qint64(0);
        QTest::newRow("too long for a key") << "99999999999999999999" << int(R::UnknownBook) << qint64(0);
    }

    // The books window's label is the key as its record shows it (QString::number of `id`): the
    // scan takes exactly that, and anything else is refused with its reason and changes nothing.
    void keysAreReadAsTheLabelHoldsThem()
    {
        QFETCH(QString, scanned);
        QFETCH(int, refusal);
        QFETCH(qint64, key);
        const loans::ScannedKey read = loans::readKey(scanned);
        QCOMPARE(int(read.refusal), refusal);
        QCOMPARE(read.key, key);
        QCOMPARE(read.message.isEmpty(), refusal == int(loans::Refusal::None));
        if (key != 0) {
            QCOMPARE(QString::number(key), scanned);
        }

        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        const QByteArray before = testsupport::digest(path);
        const loans::Result r = loans::scan(*archive, scanned, Anna, day(2026, 12, 1), 30, 0);
        if (refusal == int(loans::Refusal::None) && key == Oro) {
            QCOMPARE(r.outcome, loans::Outcome::Lent);
        } else {
            QCOMPARE(r.outcome, loans::Outcome::Refused);
            QVERIFY2(!r.message.isEmpty(), qPrintable(scanned));
            QCOMPARE(testsupport::digest(path), before);
        }
        if (refusal == int(loans::Refusal::Spaces) && scanned.contains(QLatin1Char('\r'))) {
            QVERIFY2(r.message.contains(QLatin1String("<CR>")), qPrintable(r.message));
        }
    }

    void scanLendsReturnsAndRefuses()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        const QDate today = day(2026, 3, 10);
        const auto scan = [&](const QString& text, qint64 borrower, int maxBooks = 0) {
            return loans::scan(*archive, text, borrower, today, 14, maxBooks);
        };
        // No borrower chosen, a book not out: nothing to do.
        QCOMPARE(
            scan(QStringLiteral("10"), 0).message,
            QStringLiteral("Il libro «I PROMESSI SPOSI» non è in prestito: scegliere il lettore a cui prestarlo."));
        QCOMPARE(scan(QStringLiteral("11"), Anna).message,
                 QStringLiteral("Nessun libro ha il codice 11: nulla è stato cambiato."));

        const loans::Result lent = scan(QStringLiteral("10"), Anna);
        QCOMPARE(lent.outcome, loans::Outcome::Lent);
        QCOMPARE(lent.loan.due, day(2026, 3, 24));
        QCOMPARE(lent.action.kind, loans::Action::Kind::Lend);
        // Chosen for another borrower: refused, the loan stays with the first.
        const loans::Result other = scan(QStringLiteral("10"), Bruno);
        QCOMPARE(other.refusal, loans::Refusal::AlreadyLent);
        QCOMPARE(other.message, QStringLiteral("Il libro è già in prestito a ANNA ROSSI."));
        QCOMPARE(openLoans(path), 1);
        // The same borrower, or none chosen: the book comes back.
        QCOMPARE(scan(QStringLiteral("10"), Anna).outcome, loans::Outcome::Returned);
        QVERIFY(scan(QStringLiteral("10"), Anna).done());
        QCOMPARE(scan(QStringLiteral("10"), 0).outcome, loans::Outcome::Returned);
        QCOMPARE(openLoans(path), 0);

        // The maximum: two books out, the third refused.
        QVERIFY(scan(QStringLiteral("10"), Bruno, 2).done());
        QVERIFY(scan(QStringLiteral("20"), Bruno, 2).done());
        const loans::Result third = scan(QStringLiteral("30"), Bruno, 2);
        QCOMPARE(third.refusal, loans::Refusal::AtMaximum);
        QCOMPARE(third.message, QStringLiteral("Il lettore BRUNO BIANCHI ha già 2 libri in prestito, il massimo "
                                               "consentito: il libro «LE CITTÀ INVISIBILI» non è stato prestato."));
        QVERIFY(scan(QStringLiteral("30"), Bruno, 3).done());

        // The borrower deleted at another desk meanwhile.
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM lettori WHERE ID_Lettore = 3"));
        const loans::Result gone = scan(QStringLiteral("40"), Carla);
        QCOMPARE(gone.refusal, loans::Refusal::BorrowerGone);
        QVERIFY(!loans::openLoanOf(*archive, Oriente));

        // Wrong terms are the caller's fault, not the user's.
        QCOMPARE(errorOf([&] { loans::scan(*archive, QStringLiteral("40"), Anna, today, -1, 0); }),
                 int(store::ErrInvalidProcedure));
        QCOMPARE(errorOf([&] { loans::scan(*archive, QStringLiteral("40"), Anna, QDate(), 14, 0); }),
                 int(store::ErrInvalidProcedure));
    }

    // The engine itself keeps one open loan per book, whoever writes.
    void aSecondOpenLoanIsRefusedByTheArchive()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        const QString insert =
            QStringLiteral("INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza, "
                           "data_restituzione) VALUES (10, %1, '2026-01-01', '2026-01-31', %2)");
        archive->exec(insert.arg(1).arg(QStringLiteral("'2026-01-10'")));
        archive->exec(insert.arg(2).arg(QStringLiteral("'2026-01-20'")));
        archive->exec(insert.arg(1).arg(QStringLiteral("NULL")));
        QCOMPARE(errorOf([&] { archive->exec(insert.arg(2).arg(QStringLiteral("NULL"))); }),
                 int(store::ErrDuplicateKey));
        QCOMPARE(openLoans(path), 1);
        // Nor is a date other than an ISO date of a day that exists stored.
        for (const char* date : {"'01/12/2026'", "'2026-02-30'", "'2026-13-01'", "'2026-1-5'", "20260101"}) {
            QCOMPARE(errorOf([&] { archive->exec(insert.arg(3).arg(QString::fromLatin1(date))); }),
                     int(store::ErrDuplicateKey));
        }
    }

    // Two desks lend the same book at the same moment: the second waits for the first's
    // transaction, which holds the archive (3260 if it holds it too long), then finds its loan.
    void twoDesksLendTheSameBook()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        testsupport::OtherProcess desk;
        QVERIFY2(
            desk.start({QStringLiteral("presta"), path, QStringLiteral("10"), QStringLiteral("1"),
                        QStringLiteral("2026-12-01"), QStringLiteral("prestito scritto"), QStringLiteral("aspetta")},
                       "fermo"),
            qPrintable(desk.output()));
        QCOMPARE(errorOf([&] { loans::lend(*archive, Promessi, Bruno, day(2026, 12, 1), 30, 0); }),
                 int(store::ErrLocked));
        QVERIFY2(desk.finish(), qPrintable(desk.output()));
        QVERIFY2(desk.output().contains(QStringLiteral("Prestato a ANNA ROSSI")), qPrintable(desk.output()));
        const loans::Result second = loans::lend(*archive, Promessi, Bruno, day(2026, 12, 1), 30, 0);
        QCOMPARE(second.outcome, loans::Outcome::Refused);
        QCOMPARE(second.message, QStringLiteral("Il libro è già in prestito a ANNA ROSSI."));
        QCOMPARE(openLoans(path), 1);

        // Two connections of this process, one after the other: the same.
        const auto other = store::Archive::open(path);
        QVERIFY(loans::lend(*other, Oro, Bruno, day(2026, 12, 1), 30, 0).done());
        QCOMPARE(loans::scan(*archive, QStringLiteral("20"), Carla, day(2026, 12, 1), 30, 0).message,
                 QStringLiteral("Il libro è già in prestito a BRUNO BIANCHI."));
    }

    void killedDuringALendOrAReturn_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("openAfter");
        // The book is on loan before a return, not before a lend.
        QTest::newRow("lend, checks read") << "presta"
                                           << "prestito letto" << false;
        QTest::newRow("lend, loan written") << "presta"
                                            << "prestito scritto" << false;
        QTest::newRow("lend, committed") << "presta"
                                         << "prestito confermato" << true;
        QTest::newRow("return, loan read") << "restituisci"
                                           << "restituzione letta" << true;
        QTest::newRow("return, loan written") << "restituisci"
                                              << "restituzione scritta" << true;
        QTest::newRow("return, committed") << "restituisci"
                                           << "restituzione confermata" << false;
    }

    // kill -9 between the statements of a lend or a return, or after its commit: the loan is
    // wholly done or wholly not, and the archive is sound.
    void killedDuringALendOrAReturn()
    {
        QFETCH(QString, command);
        QFETCH(QString, step);
        QFETCH(bool, openAfter);
        QString populate = library();
        // Enough rows that a few cached pages spill to the file before the commit.
        for (int i = 0; i < 300; ++i) {
            populate += QStringLiteral("INSERT INTO lettori (nome) VALUES ('LETTORE %1');"
                                       "INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza, "
                                       "data_restituzione) VALUES (%2, 1, '2025-01-01', '2025-01-31', '2025-01-20');")
                            .arg(i)
                            .arg(1000 + i);
        }
        const QString path = m_dir.create({}, inOneTransaction(populate));
        const bool lending = command == QLatin1String("presta");
        if (!lending) {
            QVERIFY(loans::lend(*store::Archive::open(path), Promessi, Anna, day(2026, 12, 1), 30, 0).done());
        }
        QStringList args{command, path, QStringLiteral("10")};
        if (lending) {
            args << QStringLiteral("1");
        }
        args << QStringLiteral("2026-12-05") << step << QStringLiteral("uccidi");
        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled(args), qPrintable(killed.output()));

        const auto archive = store::Archive::open(path); // rolls back what the killed one left
        if (!testsupport::onServer()) {                  // the file engine's own check of the file
            QCOMPARE(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        }
        const std::optional<loans::Loan> open = loans::openLoanOf(*archive, Promessi);
        QCOMPARE(bool(open), openAfter);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti WHERE id_libro = 10")).toInt(),
                 lending ? int(openAfter) : 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti")).toInt(),
                 300 + (lending ? int(openAfter) : 1));
        if (!lending) {
            QCOMPARE(scalar(path, QStringLiteral("SELECT data_restituzione FROM prestiti WHERE id_libro = 10")),
                     openAfter ? QVariant() : QVariant(QStringLiteral("2026-12-05")));
        }
    }

    void undoTakesBackTheLastAction()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        const loans::Result lent = loans::lend(*archive, Promessi, Anna, day(2026, 12, 1), 30, 0);
        const loans::Result undone = loans::undo(*archive, lent.action);
        QCOMPARE(undone.outcome, loans::Outcome::Undone);
        QCOMPARE(undone.message, QStringLiteral("Annullato il prestito del libro «I PROMESSI SPOSI» a ANNA ROSSI."));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti")).toInt(), 0);
        // Once only: the loan is gone, and its key is never given to another loan.
        QCOMPARE(loans::undo(*archive, lent.action).refusal, loans::Refusal::Changed);
        const loans::Result next = loans::lend(*archive, Promessi, Bruno, day(2026, 12, 1), 30, 0);
        QVERIFY(next.loan.id != lent.loan.id);
        QCOMPARE(loans::undo(*archive, lent.action).refusal, loans::Refusal::Changed);

        // A return undone: open again.
        const loans::Result back = loans::returnBook(*archive, Promessi, day(2026, 12, 20));
        const loans::Result reopened = loans::undo(*archive, back.action);
        QCOMPARE(reopened.outcome, loans::Outcome::Undone);
        QCOMPARE(reopened.message,
                 QStringLiteral("Annullata la restituzione: il libro «I PROMESSI SPOSI» è di nuovo in prestito a "
                                "BRUNO BIANCHI."));
        QCOMPARE(loans::openLoanOf(*archive, Promessi)->id, next.loan.id);

        // Changed meanwhile at another desk: refused, nothing changed.
        const loans::Result lentAgain = loans::lend(*archive, Oro, Anna, day(2026, 12, 1), 30, 0);
        QVERIFY(loans::returnBook(*store::Archive::open(path), Oro, day(2026, 12, 2)).done());
        const loans::Result late = loans::undo(*archive, lentAgain.action);
        QCOMPARE(late.refusal, loans::Refusal::Changed);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti WHERE id_libro = 20")).toInt(), 1);
        // A return undone after the book went out again: refused, naming who has it.
        const loans::Result returned = loans::returnBook(*archive, Promessi, day(2026, 12, 21));
        QVERIFY(loans::lend(*store::Archive::open(path), Promessi, Carla, day(2026, 12, 22), 30, 0).done());
        const loans::Result refused = loans::undo(*archive, returned.action);
        QCOMPARE(refused.refusal, loans::Refusal::AlreadyLent);
        QCOMPARE(refused.message, QStringLiteral("La restituzione non può essere annullata: il libro è già di nuovo "
                                                 "in prestito a CARLA VERDI."));
        QCOMPARE(loans::undo(*archive, {}).refusal, loans::Refusal::NothingToUndo);
    }

    // The overdue list, by due date, with the days late across a month's end and a leap day; the
    // day is given, never read from the clock.
    void overdueListAcrossMonthEndsAndLeapDays()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        const auto lendOn = [&](qint64 book, qint64 borrower, const QDate& lent, int days) {
            QVERIFY(loans::lend(*archive, book, borrower, lent, days, 0).done());
        };
        lendOn(Promessi, Anna, day(2028, 1, 29), 30); // due 28/02/2028
        lendOn(Oro, Bruno, day(2028, 1, 1), 30);      // due 31/01/2028
        lendOn(Citta, Anna, day(2028, 1, 30), 30);    // due 29/02/2028, the leap day
        lendOn(Oriente, Carla, day(2028, 2, 1), 29);  // due 01/03/2028: not late on that day
        const QDate today = day(2028, 3, 1);
        const QList<loans::Loan> late = loans::overdue(*archive, today);
        QCOMPARE(late.size(), 3);
        QCOMPARE(late.at(0).title, QStringLiteral("L'ORO DI NAPOLI"));
        QCOMPARE(late.at(0).due, day(2028, 1, 31));
        QCOMPARE(late.at(0).daysLate(today), 30);
        QCOMPARE(late.at(0).borrowerName, QStringLiteral("BRUNO BIANCHI"));
        QCOMPARE(late.at(1).due, day(2028, 2, 28));
        QCOMPARE(late.at(1).daysLate(today), 2);
        QCOMPARE(late.at(2).due, day(2028, 2, 29));
        QCOMPARE(late.at(2).daysLate(today), 1);
        QCOMPARE(loans::overdueCount(*archive, today), 3);
        QCOMPARE(loans::overdueCount(*archive, day(2028, 3, 2)), 4);
        QCOMPARE(loans::overdueCount(*archive, day(2028, 1, 31)), 0);
        // In a year without 29 February, the day after the 28th is 1 March.
        loans::Loan common;
        common.lent = day(2027, 1, 29);
        common.due = common.lent.addDays(30);
        QCOMPARE(common.due, day(2027, 2, 28));
        QCOMPARE(common.daysLate(day(2027, 3, 1)), 1);
        QCOMPARE(common.daysLate(day(2027, 2, 28)), 0);

        // Returned books leave the list.
        QVERIFY(loans::returnBook(*archive, Oro, today).done());
        QCOMPARE(loans::overdueCount(*archive, today), 2);

        // Reminder letters: one per borrower, by name, each with their late books.
        lendOn(Oro, Bruno, day(2028, 1, 2), 10);
        const QList<loans::BorrowerLoans> letters = loans::overdueByBorrower(*archive, today);
        QCOMPARE(letters.size(), 2);
        QCOMPARE(letters.at(0).borrower.nome, QStringLiteral("ANNA ROSSI"));
        QCOMPARE(letters.at(0).borrower.indirizzo, QStringLiteral("VIA ROMA 1"));
        QCOMPARE(letters.at(0).loans.size(), 2);
        QCOMPARE(letters.at(0).loans.at(0).due, day(2028, 2, 28));
        QCOMPARE(letters.at(1).borrower.nome, QStringLiteral("BRUNO BIANCHI"));
        QCOMPARE(letters.at(1).loans.size(), 1);
        QCOMPARE(letters.at(1).loans.at(0).daysLate(today), 49); // due 12/01/2028
    }

    // A book on loan and a borrower with books out cannot be deleted, through the record machinery
    // (the books window's "Elimina") or any other way; the refusal names the loan, and sees a loan
    // made at another desk after the window read its list.
    void deletingWhatIsOnLoanIsRefused()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        store::DataSource books;
        books.setArchive(archive);
        books.setRecordSource(sql::AllBooks);
        books.refresh();
        QVERIFY(books.findFirst(QStringLiteral("id"), Promessi));
        {
            const auto desk = store::Archive::open(path);
            QVERIFY(loans::lend(*desk, Promessi, Anna, day(2026, 12, 1), 30, 0).done());
            QVERIFY(loans::lend(*desk, Oro, Anna, day(2026, 12, 1), 30, 0).done());
        }
        QString description;
        QCOMPARE(errorOf([&] { books.deleteCurrent(); }, &description), int(store::ErrBookOnLoan));
        QCOMPARE(description, QStringLiteral("Il libro è in prestito a ANNA ROSSI dal 01/12/2026: non può essere "
                                             "eliminato."));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM biblio WHERE id = 10")).toInt(), 1);
        QVERIFY(books.rs().hasCurrent());
        QCOMPARE(books.rs().value(QStringLiteral("id")).toLongLong(), qint64(Promessi));
        // Another program writing SQL is refused by the archive's own trigger.
        QCOMPARE(errorOf([&] { archive->exec(QStringLiteral("DELETE FROM biblio WHERE id = 10")); }, &description),
                 int(store::ErrRefusedByArchive));
        QCOMPARE(description, QStringLiteral("Il libro è in prestito: non può essere eliminato."));

        QCOMPARE(errorOf([&] { loans::deleteBorrower(*archive, Anna); }, &description),
                 int(store::ErrBorrowerHasLoans));
        QCOMPARE(description,
                 QStringLiteral("Il lettore ANNA ROSSI ha 2 libri in prestito: non può essere eliminato."));
        QCOMPARE(errorOf([&] { archive->exec(QStringLiteral("DELETE FROM lettori WHERE ID_Lettore = 1")); }),
                 int(store::ErrRefusedByArchive));

        // Returned, the book goes, with the record of its loans.
        QVERIFY(loans::returnBook(*archive, Promessi, day(2026, 12, 5)).done());
        books.deleteCurrent();
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti WHERE id_libro = 10")).toInt(), 0);
        QCOMPARE(errorOf([&] { loans::deleteBorrower(*archive, Anna); }, &description),
                 int(store::ErrBorrowerHasLoans));
        QCOMPARE(description,
                 QStringLiteral("Il lettore ANNA ROSSI ha 1 libro in prestito: non può essere eliminato."));
        QVERIFY(loans::returnBook(*archive, Oro, day(2026, 12, 5)).done());
        QVERIFY(loans::deleteBorrower(*archive, Anna));
        QVERIFY(!loans::deleteBorrower(*archive, Anna));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti")).toInt(), 0);
    }

    // The borrowers' record is edited as the authors' and publishers' are: a new record, an edit
    // that refuses another user's change made meanwhile, a delete.
    void borrowersThroughTheRecordMachinery()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        store::Recordset rs(archive, sql::AllBorrowers);
        QCOMPARE(rs.writeTable(), QStringLiteral("lettori"));
        QCOMPARE(testsupport::columnOf(rs, QStringLiteral("nome")),
                 (QStringList{"ANNA ROSSI", "BRUNO BIANCHI", "CARLA VERDI"}));
        rs.addNew();
        rs.setValue(QStringLiteral("nome"), QStringLiteral("ÈLIA NERI"));
        rs.setValue(QStringLiteral("email"), QStringLiteral("elia@example.org"));
        rs.setValue(QStringLiteral("gruppo"), QStringLiteral("3A"));
        rs.update();
        const qint64 elia = rs.lastModified();
        QVERIFY(elia > Carla);
        rs.requery();
        // In the reader's order: È with E, after C.
        QCOMPARE(testsupport::columnOf(rs, QStringLiteral("nome")),
                 (QStringList{"ANNA ROSSI", "BRUNO BIANCHI", "CARLA VERDI", "ÈLIA NERI"}));

        QVERIFY(rs.findFirst(QStringLiteral("ID_Lettore"), elia));
        rs.edit();
        rs.setValue(QStringLiteral("telefono"), QStringLiteral("0123 456"));
        store::Archive::open(path)->exec(
            QStringLiteral("UPDATE lettori SET gruppo = '3B' WHERE ID_Lettore = %1").arg(elia));
        QCOMPARE(errorOf([&] { rs.update(); }), int(store::ErrRecordChanged));
        QCOMPARE(rs.value(QStringLiteral("telefono")).toString(), QStringLiteral("0123 456"));
        rs.update(); // told, the user saves again: only the field changed here is written
        QCOMPARE(scalar(path,
                        QStringLiteral("SELECT telefono || ' ' || gruppo FROM lettori WHERE ID_Lettore = %1").arg(elia))
                     .toString(),
                 QStringLiteral("0123 456 3B"));
        QCOMPARE(loans::borrower(*archive, elia)->email, QStringLiteral("elia@example.org"));

        // A borrower with a book out cannot be deleted from the record either.
        QVERIFY(loans::lend(*archive, Oriente, elia, day(2026, 12, 1), 30, 0).done());
        QVERIFY(rs.findFirst(QStringLiteral("ID_Lettore"), elia));
        QCOMPARE(errorOf([&] { rs.deleteCurrent(); }), int(store::ErrBorrowerHasLoans));
        QVERIFY(loans::returnBook(*archive, Oriente, day(2026, 12, 2)).done());
        rs.deleteCurrent();
        QVERIFY(!loans::borrower(*archive, elia));
    }

    void parsingDatesIsStrict_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QDate>("expected");
        QTest::newRow("a day") << "01/12/2026" << QDate(2026, 12, 1);
        QTest::newRow("the leap day") << "29/02/2028" << QDate(2028, 2, 29);
        QTest::newRow("month 13") << "01/13/2026" << QDate();
        QTest::newRow("31 April") << "31/04/2026" << QDate();
        QTest::newRow("29 February of a common year") << "29/02/2027" << QDate();
        QTest::newRow("day 0") << "00/12/2026" << QDate();
        QTest::newRow("month 0") << "01/00/2026" << QDate();
        QTest::newRow("one digit") << "1/12/2026" << QDate();
        QTest::newRow("two-digit year") << "01/12/26" << QDate();
        QTest::newRow("dashes") << "01-12-2026" << QDate();
        QTest::newRow("ISO") << "2026-12-01" << QDate();
        QTest::newRow("space before") << " 01/12/2026" << QDate();
        QTest::newRow("line break after") << "01/12/2026\n" << QDate();
        QTest::newRow("other digits") << QStringLiteral("\u0660\u0661/12/2026") << QDate();
        QTest::newRow("empty") << "" << QDate();
    }

    void parsingDatesIsStrict()
    {
        QFETCH(QString, typed);
        QFETCH(QDate, expected);
        const std::optional<QDate> parsed = loans::parseDate(typed);
        QCOMPARE(parsed.value_or(QDate()), expected);
        if (expected.isValid()) {
            QCOMPARE(loans::formatDate(*parsed), typed);
        }
    }

    // ---------------------------------------------------------------- the archive, version 3

    void anArchiveOfAnEarlierVersionIsUpgraded_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("version 1") << 1;
        QTest::newRow("version 2") << 2;
    }

    void anArchiveOfAnEarlierVersionIsUpgraded()
    {
        CARTEO_FILE_ONLY("about archive files of earlier versions");
        QFETCH(int, version);
        QCOMPARE(store::kSchemaVersion, 3);
        QString populate = library();
        for (int i = 0; i < 1000; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', 'NOTA');"
                                       "INSERT INTO autore (nome) VALUES ('AUTORE %1');"
                                       "INSERT INTO autbiblio VALUES (%1, %2);")
                            .arg(1000 + i)
                            .arg(1 + i);
        }
        const QString path = m_dir.create({}, inOneTransaction(populate));
        makeVersion(path, version);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('lettori', "
                                             "'prestiti')"))
                     .toInt(),
                 0);
        const QStringList tables{"biblio", "autore", "editori", "autbiblio"};
        QMap<QString, qint64> before;
        for (const QString& t : tables) {
            before[t] = testsupport::rowCount(path, t);
        }
        QCOMPARE(before["biblio"], 1004);

        const auto archive = store::Archive::open(path);
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 3);
        for (const QString& t : tables) {
            QCOMPARE(testsupport::rowCount(path, t), before[t]);
        }
        QVERIFY(archive->hasWordIndex());
        QVERIFY(loans::available(*archive));
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE tbl_name = 'prestiti' AND "
                                             "type IN ('index', 'trigger')"))
                     .toInt(),
                 4);
        QVERIFY(loans::lend(*archive, 1500, Anna, day(2026, 12, 1), 30, 0).refusal ==
                loans::Refusal::BorrowerGone); // no borrowers yet
        archive->exec(QStringLiteral("INSERT INTO lettori (nome) VALUES ('PRIMO LETTORE')"));
        QVERIFY(loans::lend(*archive, 1500, 1, day(2026, 12, 1), 30, 0).done());
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        // Opened again, it is left as it is.
        const QByteArray digest = testsupport::digest(path);
        store::Archive::open(path);
        QCOMPARE(testsupport::digest(path), digest);
    }

    // A damaged archive of an earlier version is not upgraded: nothing is added to it, and it is
    // refused as damaged, so that the start-up offers its repair.
    void aDamagedArchiveIsNotUpgraded()
    {
        CARTEO_FILE_ONLY("about damaged pages of the archive file");
        QString populate = library();
        for (int i = 0; i < 1500; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', '%2');")
                            .arg(1000 + i)
                            .arg(QString(200, QLatin1Char('N')));
        }
        const QString path = m_dir.create({}, inOneTransaction(populate));
        makeVersion(path, 2);
        const QList<int> leaves =
            testsupport::pageNumbers(testsupport::pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(leaves.size() > 20);
        QVERIFY(testsupport::damagePages(path, {leaves.at(leaves.size() / 2)}));
        const QByteArray before = testsupport::digest(path);
        QCOMPARE(errorOf([&] { store::Archive::open(path); }), int(store::ErrFileNotArchive));
        QCOMPARE(testsupport::digest(path), before);
        QVERIFY(store::files::salvageable(path));
        // Its repair makes it anew at this version, with the loans' tables.
        {
            const store::files::ExclusiveUse use(path);
            QVERIFY(store::files::repair(use).damaged);
        }
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 3);
        QVERIFY(loans::available(*store::Archive::open(path)));
    }

    // An archive of version 2 on a read-only medium opens as it is, without loans: the lists are
    // empty and a lend says why it cannot be done.
    void aReadOnlyArchiveOfAnEarlierVersionHasNoLoans()
    {
        CARTEO_FILE_ONLY("about an archive file of an earlier version in a read-only folder");
        const QString folder = m_dir.filePath(QStringLiteral("sola-lettura"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = m_dir.create(QStringLiteral("sola-lettura/vecchio.mdb"), library());
        makeVersion(path, 2);
        const QByteArray before = testsupport::digest(path);
        const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
        }
        const auto archive = store::Archive::open(path);
        QVERIFY(!loans::available(*archive));
        QVERIFY(!loans::openLoanOf(*archive, Promessi));
        QVERIFY(loans::overdue(*archive, day(2026, 1, 1)).isEmpty());
        QCOMPARE(loans::overdueCount(*archive, day(2026, 1, 1)), 0);
        QString description;
        QCOMPARE(errorOf([&] { loans::lend(*archive, Promessi, Anna, day(2026, 1, 1), 30, 0); }, &description),
                 int(store::ErrNoLoans));
        QVERIFY(description.contains(QLatin1String("sola lettura")));
        // A window that asks for the loans' tables anyway is told the same, not that the file is damaged.
        QCOMPARE(errorOf([&] { archive->prepare(QStringLiteral("SELECT * FROM prestiti")); }),
                 int(store::ErrNoLoans));
        QCOMPARE(testsupport::digest(path), before);
    }

    // A program of this version refuses an archive of the next one, as the programs before it
    // refuse this one.
    void anArchiveOfALaterVersionIsRefused()
    {
        CARTEO_FILE_ONLY("about the archive file's version number");
        const QString path = m_dir.create({}, library());
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 3);
        sqlite3* db = nullptr;
        QVERIFY(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 4", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        const QByteArray before = testsupport::digest(path);
        QCOMPARE(errorOf([&] { store::Archive::open(path); }), int(store::ErrNewerArchive));
        QCOMPARE(testsupport::digest(path), before);
        // An archive that says version 3 but lacks the loans' tables is not one.
        const QString lacking = m_dir.create({}, library());
        makeVersion(lacking, 2);
        QVERIFY(sqlite3_open_v2(QFile::encodeName(lacking).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
                SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 3", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
        QCOMPARE(errorOf([&] { store::Archive::open(lacking); }), int(store::ErrFileNotArchive));
    }

    // "Nuovo Archivio" (the template), "Crea Copia" and compaction carry the tables and their rows.
    void templateCopyAndCompactionCarryTheLoans()
    {
        CARTEO_FILE_ONLY("about archive files copied from the template and compacted");
        const QString templ = m_dir.filePath(QStringLiteral("$vuoto$.md$"));
        store::Archive::create(templ);
        const QString fresh = m_dir.filePath(QStringLiteral("nuovo.mdb"));
        store::files::copyTemplate(templ, fresh);
        {
            const auto archive = store::Archive::open(fresh);
            QVERIFY(loans::available(*archive));
            QCOMPARE(scalar(fresh, QStringLiteral("SELECT count(*) FROM lettori")).toInt(), 0);
        }

        const QString path = m_dir.create({}, library());
        {
            const auto archive = store::Archive::open(path);
            QVERIFY(loans::lend(*archive, Promessi, Anna, day(2026, 12, 1), 30, 0).done());
            QVERIFY(loans::lend(*archive, Oro, Bruno, day(2026, 12, 1), 30, 0).done());
            QVERIFY(loans::returnBook(*archive, Oro, day(2026, 12, 3)).done());
        }
        const QString copy = m_dir.filePath(QStringLiteral("copia.mdb"));
        store::files::copyArchive(path, copy);
        const QString work = m_dir.filePath(QStringLiteral("lavoro"));
        QVERIFY(QDir().mkpath(work));
        {
            const store::files::ExclusiveUse use(path);
            store::files::compact(use, work);
        }
        for (const QString& p : {copy, path}) {
            QCOMPARE(testsupport::rowCount(p, QStringLiteral("lettori")), 3);
            QCOMPARE(testsupport::rowCount(p, QStringLiteral("prestiti")), 2);
            const auto archive = store::Archive::open(p);
            QCOMPARE(loans::openLoanOf(*archive, Promessi)->borrowerName, QStringLiteral("ANNA ROSSI"));
            // The rule of one open loan per book came along.
            QCOMPARE(loans::lend(*archive, Promessi, Bruno, day(2026, 12, 4), 30, 0).refusal,
                     loans::Refusal::AlreadyLent);
            QCOMPARE(errorOf([&] {
                         archive->exec(QStringLiteral("INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, "
                                                      "data_scadenza) VALUES (10, 2, '2026-12-04', '2026-12-31')"));
                     }),
                     int(store::ErrDuplicateKey));
        }
    }

    // Compacting an archive of version 2 that could not be upgraded before (it was read-only then)
    // leaves it at version 3 with the loans' tables, never at version 3 without them.
    void compactionOfAnEarlierVersionAddsTheLoans()
    {
        CARTEO_FILE_ONLY("about the compaction of an archive file of an earlier version");
        const QString path = m_dir.create({}, library());
        makeVersion(path, 2);
        const QString work = m_dir.filePath(QStringLiteral("lavoro2"));
        QVERIFY(QDir().mkpath(work));
        {
            const store::files::ExclusiveUse use(path);
            store::files::compact(use, work);
        }
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 3);
        QVERIFY(loans::available(*store::Archive::open(path)));
    }

    // A repair keeps every borrower and loan the damaged file still holds; the loans' rows, read
    // from the pages when their table's tree is broken, are told from the borrowers' by their shape.
    void repairKeepsBorrowersAndLoans_data()
    {
        QTest::addColumn<QString>("damaged");
        QTest::newRow("a page of the books") << "biblio";
        QTest::newRow("the root of the loans") << "prestiti";
        QTest::newRow("the root of the borrowers") << "lettori";
    }

    void repairKeepsBorrowersAndLoans()
    {
        CARTEO_FILE_ONLY("about damaged pages of the archive file");
        QFETCH(QString, damaged);
        QString populate = library();
        for (int i = 0; i < 1500; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', '%2');"
                                       "INSERT INTO lettori (nome, indirizzo, telefono, email, gruppo) VALUES "
                                       "('LETTORE %1', 'VIA %1', '0%1', 'l%1@example.org', 'GRUPPO %3');"
                                       "INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza, "
                                       "data_restituzione, note) VALUES (%1, %4, '2026-01-01', '2026-01-31', %5, "
                                       "'NOTA %1');")
                            .arg(1000 + i)
                            .arg(QString(100, QLatin1Char('N')))
                            .arg(i % 7)
                            .arg(4 + i)
                            .arg(i % 3 == 0 ? QStringLiteral("NULL") : QStringLiteral("'2026-01-20'"));
        }
        const QString path = m_dir.create({}, inOneTransaction(populate));
        const qint64 borrowers = testsupport::rowCount(path, QStringLiteral("lettori"));
        const qint64 loansBefore = testsupport::rowCount(path, QStringLiteral("prestiti"));
        const qint64 open = openLoans(path);
        QCOMPARE(borrowers, 1503);
        QCOMPARE(loansBefore, 1500);
        QList<int> pages;
        if (damaged == QLatin1String("biblio")) {
            const QList<int> leaves =
                testsupport::pageNumbers(testsupport::pagesOf(path, damaged, QStringLiteral("leaf")));
            pages = {leaves.at(leaves.size() / 2)};
        } else {
            const QList<int> inner =
                testsupport::pageNumbers(testsupport::pagesOf(path, damaged, QStringLiteral("internal")));
            QVERIFY(!inner.isEmpty());
            pages = {inner.first()};
        }
        QVERIFY(testsupport::damagePages(path, pages));
        store::files::RepairOutcome outcome;
        {
            const store::files::ExclusiveUse use(path);
            outcome = store::files::repair(use);
        }
        QVERIFY(outcome.damaged);
        QCOMPARE(outcome.rowsPerTable.value(QStringLiteral("lettori")), borrowers);
        QCOMPARE(outcome.rowsPerTable.value(QStringLiteral("prestiti")), loansBefore);
        QCOMPARE(testsupport::rowCount(path, QStringLiteral("lettori")), borrowers);
        QCOMPARE(testsupport::rowCount(path, QStringLiteral("prestiti")), loansBefore);
        QCOMPARE(openLoans(path), open);
        // Each row in its own table, whole.
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM lettori WHERE nome LIKE 'LETTORE %' AND email "
                                             "LIKE 'l%@example.org'"))
                     .toLongLong(),
                 borrowers - 3);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM prestiti WHERE ID_Lettore = id_libro - 996 AND "
                                             "note = 'NOTA ' || id_libro"))
                     .toLongLong(),
                 loansBefore);
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA integrity_check")).toString(), QStringLiteral("ok"));
        const auto archive = store::Archive::open(path);
        // Where the book was lost with the damaged page, its loan is still known by its key.
        const std::optional<loans::Loan> first = loans::openLoanOf(*archive, 1000);
        QVERIFY(first);
        QCOMPARE(first->borrowerName, QStringLiteral("LETTORE 1000"));
        QCOMPARE(loans::lend(*archive, 1000, Anna, day(2026, 12, 1), 30, 0).refusal, loans::Refusal::AlreadyLent);
    }
};

CARTEO_TEST_GUILESS_MAIN(TestStoreLoans)
#include "tst_store_loans.moc"
