// The daily copy the main window makes in the background after an archive is opened: once a
// day, abandoned cleanly when the program ends, a failure told once.
#include "app/DailyBackup.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "books/FrmBiblio.h"
#include "shell/MDIForm1.h"
#include "shell/RestoreDialog.h"
#include "shell/Startup.h"
#include "store/Archive.h"
#include "store/Backups.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>

namespace {

QString populate(int books)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo, note) "
                          "SELECT i, 'TITOLO ' || i, printf('%.*c', 600, 'n') FROM n;")
        .arg(books);
}

} // namespace

class TestDailyBackup : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    std::unique_ptr<MDIForm1> m_main;

    void openMainWindow()
    {
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
    }

  private slots:
    void initTestCase() { QVERIFY(shell::installItalianTranslations(*QCoreApplication::instance())); }

    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        store::Archive::open(m_folder->defaultArchive())->exec(populate(2000));
        QVERIFY(testsupport::writeFile(m_folder->filePath(QStringLiteral("foto/42.jpg")), "foto"));
    }

    void cleanup()
    {
        store::backups::setStepHook({});
        m_main.reset();
        m_folder.reset();
    }

    void theCopyIsMadeOnceADayAfterTheArchiveIsOpened()
    {
        const QString archive = m_folder->defaultArchive();
        // Held by a window of a second instance: the copy is made all the same.
        testsupport::OtherProcess window;
        QVERIFY2(window.start({QStringLiteral("tieni"), archive}), qPrintable(window.output()));
        openMainWindow();
        QSignalSpy ended(m_main->dailyBackup(), &DailyBackup::finished);
        QVERIFY(ended.wait(60000));
        QCOMPARE(ended.first().at(1).toBool(), true);
        QCOMPARE(ended.first().at(2).toString(), QString());
        const QList<store::backups::Copy> copies = store::backups::list(archive);
        QCOMPARE(copies.size(), 1);
        QCOMPARE(copies.first().date, QDate::currentDate());
        QCOMPARE(copies.first().books, 2000);
        QCOMPARE(testsupport::readFile(QDir(store::backups::folderOf(archive)).filePath(QStringLiteral("foto/42.jpg"))),
                 QByteArray("foto"));
        QCOMPARE(msg::shownTexts(), QStringList());
        // The same day again: nothing to do.
        QVERIFY(!m_main->dailyBackup()->start(archive, {}, QDate::currentDate()));
        QVERIFY(window.finish());
    }

    void quittingDuringACopyLeavesNothingOfIt()
    {
        const QString archive = m_folder->defaultArchive();
        QSemaphore reached;
        std::atomic<DailyBackup*> backup = nullptr;
        // The copy waits at its second step until the program is ending.
        store::backups::setStepHook([&](const QString& step) {
            static int steps = 0;
            if (step == QLatin1String("passo") && ++steps == 2) {
                reached.release();
                while (!backup.load() || !backup.load()->stopRequested()) {
                    std::this_thread::yield();
                }
            }
        });
        openMainWindow();
        backup = m_main->dailyBackup();
        QVERIFY(reached.tryAcquire(1, 60000));
        QVERIFY(backup.load()->running());
        m_main.reset(); // the program ends
        QCOMPARE(QDir(store::backups::folderOf(archive)).entryList(QDir::Files), QStringList());
        QVERIFY(store::backups::list(archive).isEmpty());
        QCOMPARE(testsupport::rowCount(archive, QStringLiteral("biblio")), 2000);

        // Made at the next start.
        store::backups::setStepHook({});
        openMainWindow();
        QSignalSpy ended(m_main->dailyBackup(), &DailyBackup::finished);
        QVERIFY(ended.wait(60000));
        QCOMPARE(store::backups::list(archive).size(), 1);
    }

    void aFailedCopyIsToldOnce()
    {
        const QString archive = m_folder->defaultArchive();
        const QString folder = store::backups::folderOf(archive);
        QVERIFY(QDir().mkpath(folder));
        const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        openMainWindow();
        QSignalSpy ended(m_main->dailyBackup(), &DailyBackup::finished);
        QVERIFY(ended.wait(60000));
        QVERIFY(!ended.first().at(2).toString().isEmpty());
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY2(msg::shownTexts().first().contains(QStringLiteral("copia giornaliera")),
                 qPrintable(msg::shownTexts().first()));
        // Told without holding up the user: no modal box waits for an answer.
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        const QList<QMessageBox*> boxes = m_main->findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first()->isVisible());
        QVERIFY(!boxes.first()->isModal());
        const QPointer<QMessageBox> box = boxes.first();
        // Tried again on the same archive: not told twice.
        QVERIFY(m_main->dailyBackup()->start(archive, {}, QDate::currentDate()));
        QVERIFY(ended.wait(60000));
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY(m_main->booksWindow());
        // The program ends with the message still up: it goes with it.
        m_main.reset();
        QVERIFY(box.isNull());
    }

    void aCopyIsRestoredFromTheOptionsMenu()
    {
        const QString archive = m_folder->defaultArchive();
        QCOMPARE(store::backups::makeCopy(archive, QDate::currentDate().addDays(-1)), store::backups::Outcome::Made);
        openMainWindow();
        QSignalSpy ended(m_main->dailyBackup(), &DailyBackup::finished);
        QVERIFY(ended.wait(60000));
        store::Archive::open(archive)->exec(QStringLiteral("DELETE FROM biblio WHERE id > 10"));
        QVERIFY(m_main->booksWindow()->closeWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        auto* command = m_main->findChild<QAction*>(QStringLiteral("MnuOpzioniRipristina"));
        QVERIFY(command);

        // The copies by date, newest first, with their books; yesterday's is chosen.
        const auto chooseYesterday = [](const QString& button) {
            return [button](QWidget* modal) {
                auto* dialog = qobject_cast<RestoreDialog*>(modal);
                QVERIFY(dialog);
                auto* list = dialog->findChild<QListWidget*>(QStringLiteral("Copie"));
                QCOMPARE(list->count(), 2);
                // Named in Italian whatever the system's language.
                static const char* const days[] = {"lunedì",  "martedì", "mercoledì", "giovedì",
                                                   "venerdì", "sabato",  "domenica"};
                const QDate yesterday = QDate::currentDate().addDays(-1);
                QVERIFY2(list->item(1)->text().startsWith(
                             QString::fromUtf8(days[yesterday.dayOfWeek() - 1]) +
                             QStringLiteral(" %1 ").arg(yesterday.day(), 2, 10, QLatin1Char('0'))),
                         qPrintable(list->item(1)->text()));
                QVERIFY2(list->item(1)->text().endsWith(QStringLiteral(" - 2000 libri")),
                         qPrintable(list->item(1)->text()));
                QCOMPARE(dialog->findChild<QPushButton*>(QStringLiteral("RipristinaNuovo"))->text(),
                         QStringLiteral("Ripristina in un &nuovo archivio…"));
                list->setCurrentRow(1);
                dialog->findChild<QPushButton*>(button)->click();
            };
        };

        // Over the archive, while a second instance has it open: refused, nothing touched.
        {
            testsupport::OtherProcess window;
            QVERIFY2(window.start({QStringLiteral("tieni"), archive}), qPrintable(window.output()));
            const QByteArray before = testsupport::digest(archive);
            msg::queueAnswer(msg::Answer::Yes);
            msg::queueAnswer(msg::Answer::Ok);
            const testsupport::NextModal next(chooseYesterday(QStringLiteral("RipristinaAperto")));
            command->trigger();
            QVERIFY(next.answered());
            QCOMPARE(msg::shownTexts().last(), QStringLiteral("Occorre chiudere tutte le finestre e riprovare!"));
            QCOMPARE(testsupport::digest(archive), before);
            QVERIFY(window.finish());
        }

        // Into a new archive: always allowed.
        const QString fresh = m_folder->filePath(QStringLiteral("ripristinato.mdb"));
        dialogs::queueChoice(fresh);
        msg::queueAnswer(msg::Answer::Ok);
        {
            const testsupport::NextModal next(chooseYesterday(QStringLiteral("RipristinaNuovo")));
            command->trigger();
            QVERIFY(next.answered());
        }
        QCOMPARE(testsupport::rowCount(fresh, QStringLiteral("biblio")), 2000);

        // Over the archive once nobody else has it: the replaced one is kept with the date in its name.
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        {
            const testsupport::NextModal next(chooseYesterday(QStringLiteral("RipristinaAperto")));
            command->trigger();
            QVERIFY(next.answered());
        }
        QVERIFY2(msg::shownTexts().last().startsWith(QStringLiteral("Copia ripristinata!")),
                 qPrintable(msg::shownTexts().last()));
        QCOMPARE(testsupport::rowCount(archive, QStringLiteral("biblio")), 2000);
        const QStringList kept =
            QDir(QFileInfo(archive).absolutePath()).entryList({QStringLiteral("archivio-sostituito-*.mdb")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(
            testsupport::rowCount(QFileInfo(archive).absoluteDir().filePath(kept.first()), QStringLiteral("biblio")),
            10);
        // The frame holds the restored archive again, as it held the one before.
        QVERIFY(store::PresenceLock::inUse(archive));
    }
};

CARTEO_TEST_MAIN(TestDailyBackup)
#include "tst_daily_backup.moc"
