// The archive commands of the main window: "Nuovo Archivio", "Crea Copia" and "Ripara e Compatta",
// run offscreen in a temporary program folder on real archives, with the books window open or
// closed as a user would have it.
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QtTest>
#include <sqlite3.h>

#include <filesystem>
#include <memory>

using testsupport::digest;
using testsupport::NextModal;
using testsupport::readFile;
using testsupport::rowCount;
using testsupport::writeFile;

namespace {

const QString kCloseWindows = QStringLiteral("Occorre chiudere tutte le finestre e riprovare!");
const QString kDone = QStringLiteral("Operazione completata!");
const QString kCompactQuestion = QStringLiteral("Fine della routine di riparazione! Si vuole compattare il database?");
const QString kCancelled = QStringLiteral("È stato scelto Annulla.");

QString repairQuestion(const QString& file)
{
    return QStringLiteral("Riparare il database ") + file + QStringLiteral("?");
}

QString repairOffer(const QString& path)
{
    return QStringLiteral("Il file \"%1\" è danneggiato, ma contiene ancora dati che si possono recuperare.\r"
                          "Riparare il database %2? L'archivio danneggiato sarà conservato accanto, con la data nel "
                          "nome; con No si sceglie un altro file.")
        .arg(path, QFileInfo(path).fileName());
}

// 2,000 books more in the archive, each with a note long enough to spread them over many pages,
// each linked to the one author.
void addBooks(const QString& archive)
{
    store::Archive::open(archive)->exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                       "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 300, 'x') FROM n;"
                       "INSERT INTO autbiblio SELECT id, 1 FROM biblio WHERE id >= 1000;"));
}

// Damages an archive as a disk or a copy cut short would: its first page overwritten with noise,
// or its second half gone.
bool damage(const QString& archive, const QString& how)
{
    if (how == QLatin1String("prima pagina")) {
        return testsupport::damagePages(archive, {1});
    }
    QFile file(archive);
    return file.resize(file.size() / 2);
}

QString failure(int number, const QString& description)
{
    return QStringLiteral("Riparazione non riuscita!\rNumero dell'errore: %1\r%2").arg(number).arg(description);
}

QString compactionFailure(int number, const QString& description)
{
    return QStringLiteral("Compattazione non riuscita!\rNumero dell'errore: %1\r%2").arg(number).arg(description);
}

// Answers the next message box with OK and keeps its text and icon.
struct SeenBox {
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

std::unique_ptr<NextModal> pressOk(SeenBox& seen)
{
    return std::make_unique<NextModal>([&seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        seen.text = box->text();
        seen.icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
}

} // namespace

class TestArchiveCommands : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    std::unique_ptr<MDIForm1> m_main;

    QString text1() const { return m_main->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }

    QString shownTitle() const
    {
        const FrmBiblio* books = m_main->booksWindow();
        return books ? books->findChild<QLineEdit*>(QStringLiteral("TxtFields_0"))->text() : QString();
    }

    int listedBooks() const
    {
        const FrmBiblio* books = m_main->booksWindow();
        return books ? books->findChild<controls::DBList*>(QStringLiteral("DBList1"))->model()->rowCount() : -1;
    }

    void closeBooksWindow()
    {
        QVERIFY(m_main->booksWindow());
        QVERIFY(m_main->booksWindow()->closeWindow());
        // The closed window lets go of the archive once its deletion runs.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!m_main->booksWindow());
    }

    QStringList tempFiles() const
    {
        QStringList found;
        for (const QString& name : {store::files::kBeforeCompaction, store::files::kCompacted}) {
            if (QFileInfo::exists(m_folder->filePath(name))) {
                found << name;
            }
        }
        return found;
    }

  private slots:
    void initTestCase() { QVERIFY(shell::installItalianTranslations(*QCoreApplication::instance())); }

    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE');"
                                  "INSERT INTO biblio (id, titolo) VALUES (43, 'IL VISCONTE DIMEZZATO');"
                                  "INSERT INTO autore (ID_autore, nome) VALUES (1, 'CALVINO ITALO');"
                                  "INSERT INTO autbiblio VALUES (42, 1), (43, 1);"));
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
        QVERIFY(m_main->booksWindow());
        QCOMPARE(msg::shownTexts(), QStringList());
        dialogs::clearQueuedChoices();
    }

    void cleanup()
    {
        store::files::setStepHook({});
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    // ------------------------------------------------------------ start

    void theSplashStartsTheProgram()
    {
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::unique_ptr<MDIForm1> started;
        FrmCopertina splash;
        shell::startWithSplash(splash, started);
        QVERIFY(splash.isVisible());
        for (int i = 0; i < 3; ++i) {
            splash.Timer1_Timer();
        }
        QVERIFY(!started);
        splash.Timer1_Timer();
        QVERIFY(started);
        QVERIFY(started->isVisible());
        QVERIFY(!splash.isVisible());
        // The start-up runs from the event loop and opens the books window on the default archive.
        QTRY_VERIFY(started->booksWindow());
        QCOMPARE(started->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), m_folder->defaultArchive());
        QCOMPARE(msg::shownTexts(), QStringList());
        m_main = std::move(started);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void whatRunsAfterTheStartSeesTheBooksWindow()
    {
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        std::unique_ptr<MDIForm1> started;
        int calls = 0;
        bool booksShown = false;
        QString archive;
        FrmCopertina splash;
        shell::startWithSplash(splash, started, [&](MDIForm1& main) {
            ++calls;
            booksShown = main.booksWindow() && main.booksWindow()->isVisible();
            archive = main.findChild<QLineEdit*>(QStringLiteral("Text1"))->text();
        });
        for (int i = 0; i < 4; ++i) {
            splash.Timer1_Timer();
        }
        QVERIFY(started);
        // Not before the start-up, which runs from the event loop.
        QCOMPARE(calls, 0);
        QTRY_COMPARE(calls, 1);
        QVERIFY(booksShown);
        QCOMPARE(archive, m_folder->defaultArchive());
        QCoreApplication::processEvents();
        QCOMPARE(calls, 1);
        m_main = std::move(started);
    }

    // ------------------------------------------------------------ "info..."

    void aboutWindowFromTheMenu()
    {
        QAction* info = m_main->findChild<QAction*>(QStringLiteral("mnuabaut"));
        QVERIFY(info);
        bool wasAbout = false;
        bool closedByClick = false;
        NextModal click([&](QWidget* modal) {
            auto* about = qobject_cast<FrmCopertina*>(modal);
            QVERIFY(about);
            QTimer* timer = about->findChild<QTimer*>(QStringLiteral("Timer1"));
            wasAbout = about->findChild<QLabel*>(QStringLiteral("Label5"))->isVisible() &&
                       !about->findChild<QLabel*>(QStringLiteral("Label6"))->isVisible() && timer && !timer->isActive();
            // Ticks do nothing in the about window; a click on its background closes it.
            for (int i = 0; i < 6; ++i) {
                about->Timer1_Timer();
            }
            QVERIFY(about->isVisible());
            QTest::mouseClick(about, Qt::LeftButton, {}, QPoint(about->width() / 2, 8));
            closedByClick = !about->isVisible();
        });
        info->trigger();
        QVERIFY(click.answered());
        QVERIFY(wasAbout);
        QVERIFY(closedByClick);
        int mainWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            mainWindows += qobject_cast<MDIForm1*>(w) && !w->isHidden() ? 1 : 0;
        }
        QCOMPARE(mainWindows, 1);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    // ------------------------------------------------------------ dialogs

    void cancellingEachCommandChangesNothing()
    {
        const QString archive = m_folder->defaultArchive();
        const QByteArray before = digest(archive);

        dialogs::queueChoice(QString());
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuFileNew_Click();
        dialogs::queueChoice(QString());
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniCopia_Click();
        msg::queueAnswer(msg::Answer::No);
        m_main->MnuOpzioniRipara_Click();

        // The cancelled dialogs are reported by their description; No to the repair says nothing.
        QCOMPARE(msg::shownTexts(),
                 QStringList({kCancelled, kCancelled, repairQuestion(QStringLiteral("archivio.mdb"))}));
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>({msg::Icon::None, msg::Icon::None, msg::Icon::None}));
        QCOMPARE(dialogs::requests().size(), 2);
        QVERIFY(dialogs::requests().at(0).save);
        QCOMPARE(dialogs::requests().at(0).initialFolder, paths::archiveFolder());
        QVERIFY(dialogs::requests().at(1).save);
        QCOMPARE(dialogs::requests().at(1).initialFolder, QString());
        QCOMPARE(text1(), archive);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(digest(archive), before);
    }

    // ------------------------------------------------------------ "Nuovo Archivio"

    void newArchiveOntoTheOpenOneIsRefused()
    {
        const QString archive = m_folder->defaultArchive();
        const QByteArray before = digest(archive);
        dialogs::queueChoice(archive);
        SeenBox seen;
        const auto answer = pressOk(seen);
        m_main->MnuFileNew_Click();
        QCOMPARE(seen.text, QStringLiteral("Autorizzazione negata!"));
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QCOMPARE(digest(archive), before);
        QCOMPARE(text1(), archive);
        QCOMPARE(Modulo1::PercorsoArchivio, archive);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void newArchiveIsEmptyAndUsedUntilTheNextStart()
    {
        const QString archive = m_folder->defaultArchive();
        const QByteArray startupFile = readFile(paths::startupFilePath());
        const QString fresh = m_folder->filePath(QStringLiteral("archivio/scuola.mdb"));
        dialogs::queueChoice(fresh);
        m_main->MnuFileNew_Click();
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(Modulo1::PercorsoArchivio, fresh);
        QCOMPARE(text1(), fresh);
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("scuola.mdb"));
        QCOMPARE(Modulo1::CartellaArchivio, m_folder->filePath(QStringLiteral("archivio/")));
        QVERIFY(!m_main->booksWindow());
        for (const char* table : {"biblio", "autore", "editori", "autbiblio"}) {
            QCOMPARE(rowCount(fresh, table), 0);
        }

        // The books window reopened from the menu works on the new, empty archive.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_main->MnuVisualBiblio_Click();
        QVERIFY(m_main->booksWindow());
        QCOMPARE(listedBooks(), 0);
        QCOMPARE(msg::shownTexts(), QStringList());

        // avvio.ini still names the old archive, which the next start opens.
        QCOMPARE(readFile(paths::startupFilePath()), startupFile);
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
        QCOMPARE(text1(), archive);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void newArchiveReplacesAClosedArchive()
    {
        // The save dialog has asked before replacing it; nobody has it open.
        const QString other = m_folder->createArchive(
            QStringLiteral("archivio/vecchio.mdb"), QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (1, 'X')"));
        dialogs::queueChoice(other);
        m_main->MnuFileNew_Click();
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(rowCount(other, "biblio"), 0);
        QCOMPARE(Modulo1::PercorsoArchivio, other);
    }

    void newArchiveWaitsForAnOpenEdit()
    {
        const QString archive = m_folder->defaultArchive();
        QTest::mouseClick(m_main->booksWindow()->findChild<QPushButton*>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
        QVERIFY(m_main->booksWindow()->isEditing());
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuFileNew_Click();
        QCOMPARE(msg::shownTexts(), QStringList{msg::kEditingOpen});
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>{msg::Icon::Information});
        // Nothing was asked or changed: the edit goes on against the archive it belongs to.
        QVERIFY(dialogs::requests().isEmpty());
        QCOMPARE(Modulo1::PercorsoArchivio, archive);
        QCOMPARE(text1(), archive);
        QVERIFY(m_main->booksWindow());
        QTest::mouseClick(m_main->booksWindow()->findChild<QPushButton*>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
        QVERIFY(!m_main->booksWindow()->isEditing());
    }

    // ------------------------------------------------------------ "Crea Copia"

    void copyNeverOverwritesTheTemplate()
    {
        const QString empty = paths::templateArchivePath();
        const QByteArray before = digest(empty);
        dialogs::queueChoice(empty);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniCopia_Click();
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Autorizzazione negata!")});
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>{msg::Icon::Critical});
        QCOMPARE(digest(empty), before);
        QCOMPARE(rowCount(empty, "biblio"), 0);
    }

    void copyWhileTheBooksWindowIsOpen()
    {
        const QString archive = m_folder->defaultArchive();
        const QByteArray before = digest(archive);
        const QString copy = m_folder->filePath(QStringLiteral("copie/riserva.mdb"));
        QVERIFY(QDir().mkpath(QFileInfo(copy).absolutePath()));
        dialogs::queueChoice(copy);
        m_main->MnuOpzioniCopia_Click();
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(rowCount(copy, "biblio"), 2);
        QCOMPARE(rowCount(copy, "autbiblio"), 2);
        QCOMPARE(store::files::integrityProblems(copy), QStringList());
        // Nothing changed in the program.
        QCOMPARE(text1(), archive);
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));

        // Onto the open archive itself: refused, and the archive stays as it was.
        dialogs::queueChoice(archive);
        SeenBox seen;
        const auto answer = pressOk(seen);
        m_main->MnuOpzioniCopia_Click();
        QCOMPARE(seen.text, kCloseWindows);
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(digest(archive), before);
    }

    // ------------------------------------------------------------ "Ripara e Compatta"

    void repairIsRefusedWhileTheArchiveIsOpen()
    {
        const QString archive = m_folder->defaultArchive();
        const QByteArray before = digest(archive);
        msg::queueAnswer(msg::Answer::Yes);
        SeenBox seen;
        auto answer = pressOk(seen);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(seen.text, kCloseWindows);
        QCOMPARE(seen.icon, QMessageBox::Information);
        QCOMPARE(digest(archive), before);

        // Another program instance (any other connection) refuses it the same way.
        closeBooksWindow();
        const auto elsewhere = store::Archive::open(archive);
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts(), QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCloseWindows}));
        QCOMPARE(digest(archive), before);
        QCOMPARE(tempFiles(), QStringList());
    }

    void repairOfAHealthyArchive()
    {
        const QString archive = m_folder->defaultArchive();
        closeBooksWindow();
        const QByteArray before = digest(archive);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::No);
        SeenBox seen;
        const auto answer = pressOk(seen);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion, kDone}));
        QCOMPARE(seen.icon, QMessageBox::Warning); // the exclamation icon
        QCOMPARE(digest(archive), before);
        QCOMPARE(tempFiles(), QStringList());
    }

    void repairAndCompact()
    {
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
                           "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 500, 'x') FROM n;"
                           "DELETE FROM biblio WHERE id >= 1000 AND id % 4 <> 0;"));
        closeBooksWindow();
        const qint64 books = rowCount(archive, "biblio");
        const qint64 sizeBefore = QFileInfo(archive).size();
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion, kDone}));
        QVERIFY(QFileInfo(archive).size() < sizeBefore / 2);
        QCOMPARE(rowCount(archive, "biblio"), books);
        QCOMPARE(tempFiles(), QStringList());
        m_main->MnuVisualBiblio_Click();
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void repairOfADamagedArchiveKeepsItsReadableRows()
    {
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
            "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 300, 'x') FROM n;"));
        closeBooksWindow();
        // Garbage over one page in the middle of the books.
        QVERIFY(testsupport::damagePages(archive, {int(QFileInfo(archive).size() / 4096 / 2) + 1}));
        const QByteArray damaged = digest(archive);
        QVERIFY(!store::files::integrityProblems(archive).isEmpty());

        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::No);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("L'archivio era danneggiato: sono stati recuperati ")),
                 qPrintable(shown.at(1)));
        QCOMPARE(shown.at(2), kCompactQuestion);
        QCOMPARE(shown.at(3), kDone);
        QCOMPARE(msg::shownIcons().at(1), msg::Icon::Information);
        QVERIFY2(shown.at(1).contains(QStringLiteral(" 1 autori, 0 editori e 2 legami tra libri e autori.")),
                 qPrintable(shown.at(1)));

        const QStringList kept = QDir(m_folder->filePath(QStringLiteral("archivio")))
                                     .entryList({QStringLiteral("archivio-danneggiato-*.mdb")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(shown.at(1).contains(kept.first()));
        QCOMPARE(digest(m_folder->filePath(QStringLiteral("archivio/") + kept.first())), damaged);
        QCOMPARE(store::files::integrityProblems(archive), QStringList());
        const qint64 books = rowCount(archive, "biblio");
        QVERIFY2(books > 2000 - 20 && books <= 2002, qPrintable(QString::number(books)));

        m_main->MnuVisualBiblio_Click();
        QVERIFY(m_main->booksWindow());
        QCOMPARE(listedBooks(), int(books));
    }

    void compactionFailingMidwayKeepsTheData()
    {
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                           "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 500, 'x') FROM n;"
                           "DELETE FROM biblio WHERE id % 2 = 1 AND id > 1000;"));
        closeBooksWindow();
        const qint64 books = rowCount(archive, "biblio");
        // While the work goes on, the progress window says what is being done.
        QString stageShown;
        store::files::setStepHook([this, &stageShown](const QString& step) {
            if (step == QLatin1String("sostituzione")) {
                if (auto* busy = m_main->findChild<QProgressDialog*>(QStringLiteral("Avanzamento"))) {
                    stageShown = busy->labelText();
                }
                throw store::DbError(store::ErrPathFileAccess);
            }
        });
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts(), QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion,
                                                 compactionFailure(75, store::DbError::describe(75))}));
        QCOMPARE(stageShown, QStringLiteral("Sostituzione dell'archivio..."));
        QVERIFY(!m_main->findChild<QProgressDialog*>(QStringLiteral("Avanzamento")));
        QCOMPARE(store::files::integrityProblems(archive), QStringList());
        QCOMPARE(rowCount(archive, "biblio"), books);
        // The archive is whole: neither copy stays in the program folder.
        QCOMPARE(tempFiles(), QStringList());
        m_main->MnuVisualBiblio_Click();
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    // ------------------------------------------------------------ a damaged archive that cannot be opened

    void aDamagedArchiveIsOfferedForRepairAtTheStart_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("prima pagina") << QStringLiteral("prima pagina");
        QTest::newRow("tagliato a metà") << QStringLiteral("metà");
    }

    void aDamagedArchiveIsOfferedForRepairAtTheStart()
    {
        QFETCH(QString, how);
        const QString archive = m_folder->defaultArchive();
        addBooks(archive);
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(damage(archive, how));
        const QByteArray damaged = digest(archive);
        const QByteArray startupFile = readFile(paths::startupFilePath());

        msg::queueAnswer(msg::Answer::Yes); // repair it
        msg::queueAnswer(msg::Answer::Ok);  // what was saved
        msg::queueAnswer(msg::Answer::No);  // no compaction
        msg::queueAnswer(msg::Answer::Ok);  // done
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();

        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown.at(0), repairOffer(archive));
        QCOMPARE(msg::shownIcons().at(0), msg::Icon::None);
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("L'archivio era danneggiato: sono stati recuperati ")),
                 qPrintable(shown.at(1)));
        QCOMPARE(shown.at(2), kCompactQuestion);
        QCOMPARE(shown.at(3), kDone);
        // The damaged original is kept as it was, under the name the message gives.
        const QStringList kept = QDir(m_folder->filePath(QStringLiteral("archivio")))
                                     .entryList({QStringLiteral("archivio-danneggiato-*.mdb")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QVERIFY(shown.at(1).contains(kept.first()));
        QCOMPARE(digest(m_folder->filePath(QStringLiteral("archivio/") + kept.first())), damaged);

        // The repaired archive is opened, as the one avvio.ini names.
        QCOMPARE(store::files::integrityProblems(archive), QStringList());
        QCOMPARE(text1(), archive);
        QVERIFY(m_main->booksWindow());
        QCOMPARE(readFile(paths::startupFilePath()), startupFile);
        const qint64 books = rowCount(archive, "biblio");
        if (how == QLatin1String("prima pagina")) {
            // Every row of every readable page.
            QCOMPARE(books, qint64(2002));
            QCOMPARE(rowCount(archive, "autbiblio"), qint64(2002));
            QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
        } else {
            QVERIFY2(books > 0 && books < 2002, qPrintable(QString::number(books)));
        }
        QCOMPARE(listedBooks(), int(books));
    }

    void noToTheOfferLeavesTheDamagedFileAsItWas()
    {
        const QString folder = m_folder->filePath(QStringLiteral("rotti"));
        QVERIFY(QDir().mkpath(folder));
        const QString damaged = folder + QStringLiteral("/vecchio.mdb");
        addBooks(m_folder->defaultArchive());
        QVERIFY(QFile::copy(m_folder->defaultArchive(), damaged));
        QVERIFY(damage(damaged, QStringLiteral("prima pagina")));
        const QByteArray before = digest(damaged);
        const QStringList filesBefore = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        paths::writeStartupFile(damaged);

        msg::queueAnswer(msg::Answer::No);
        dialogs::queueChoice(m_folder->defaultArchive());
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();

        // No goes straight on to the choice of another file.
        QCOMPARE(msg::shownTexts(), QStringList{repairOffer(damaged)});
        QCOMPARE(dialogs::requests().size(), 1);
        QCOMPARE(text1(), m_folder->defaultArchive());
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
        // Not a byte written, not a file made beside it.
        QCOMPARE(digest(damaged), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), filesBefore);
    }

    void aDamagedArchiveInUseElsewhereIsLeftAsItWas()
    {
        const QString damaged = m_folder->filePath(QStringLiteral("rotti/vecchio.mdb"));
        QVERIFY(QDir().mkpath(QFileInfo(damaged).absolutePath()));
        addBooks(m_folder->defaultArchive());
        QVERIFY(QFile::copy(m_folder->defaultArchive(), damaged));
        QVERIFY(damage(damaged, QStringLiteral("prima pagina")));
        const QByteArray before = digest(damaged);
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        paths::writeStartupFile(damaged);
        // Another computer still has it as its current archive.
        const auto elsewhere = store::PresenceLock::acquire(damaged, store::PresenceLock::Mode::Shared);
        QVERIFY(elsewhere);

        msg::queueAnswer(msg::Answer::Yes); // repair it
        msg::queueAnswer(msg::Answer::Ok);  // in use
        msg::queueAnswer(msg::Answer::Ok);  // so it is refused as it is
        dialogs::queueChoice(m_folder->defaultArchive());
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairOffer(damaged), kCloseWindows,
                              QStringLiteral("Il file \"%1\" non è un archivio valido o è danneggiato.\rSelezionare "
                                             "un file valido!")
                                  .arg(damaged)}));
        QCOMPARE(digest(damaged), before);
        QCOMPARE(QDir(QFileInfo(damaged).absolutePath()).entryList({QStringLiteral("*danneggiato*")}, QDir::Files),
                 QStringList());
        QCOMPARE(text1(), m_folder->defaultArchive());
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void openingADamagedArchiveFromTheMenuOffersItsRepair()
    {
        const QString damaged = m_folder->filePath(QStringLiteral("archivio/sezione.mdb"));
        QVERIFY(QFile::copy(m_folder->defaultArchive(), damaged));
        addBooks(damaged);
        QVERIFY(damage(damaged, QStringLiteral("prima pagina")));

        const QByteArray before = digest(damaged);
        // No, and no other file either: back to the archive that was open.
        dialogs::queueChoice(damaged);
        msg::queueAnswer(msg::Answer::No);
        dialogs::queueChoice(QString());
        // Never used when the start-up goes back: it only ends the test should it ask again.
        dialogs::queueChoice(m_folder->defaultArchive());
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuFileApri_Click();
        QCOMPARE(msg::shownTexts(), QStringList{repairOffer(damaged)});
        QCOMPARE(dialogs::requests().size(), 2);
        QCOMPARE(text1(), m_folder->defaultArchive());
        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(digest(damaged), before);

        // Yes: repaired, then opened.
        dialogs::clearQueuedChoices();
        msg::clearQueuedAnswers();
        msg::shownTexts().clear();
        dialogs::queueChoice(damaged);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::No);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive()); // as above
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuFileApri_Click();

        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown.at(0), repairOffer(damaged));
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("L'archivio era danneggiato: sono stati recuperati 2002 libri, "
                                                       "1 autori, 0 editori e 2002 legami tra libri e autori")),
                 qPrintable(shown.at(1)));
        QCOMPARE(text1(), damaged);
        QCOMPARE(readFile(paths::startupFilePath()), damaged.toUtf8() + "\r\n");
        QCOMPARE(listedBooks(), 2002);
    }

    void repairWithNoArchiveOpen()
    {
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // Nothing to repair: said plainly, nothing asked.
        {
            MDIForm1 frame;
            msg::queueAnswer(msg::Answer::Ok);
            frame.MnuOpzioniRipara_Click();
            QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Non è aperto nessun archivio: non c'è nulla da "
                                                                   "riparare.\rScegliere un archivio con Apri "
                                                                   "Archivio.")});
            QCOMPARE(msg::shownIcons(), QList<msg::Icon>{msg::Icon::Information});
        }

        // The start-up refused a damaged archive and was given up: the command works on that file.
        const QString archive = m_folder->defaultArchive();
        addBooks(archive);
        QVERIFY(damage(archive, QStringLiteral("prima pagina")));
        int ends = 0;
        MDIForm1::setEndProgram([&ends] { ++ends; });
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::No);  // no repair now
        dialogs::queueChoice(QString());    // no other file
        msg::queueAnswer(msg::Answer::No);  // do not try again
        msg::queueAnswer(msg::Answer::Yes); // quit
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
        MDIForm1::setEndProgram({});
        QCOMPARE(ends, 1);
        QVERIFY(text1().isEmpty());

        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::No);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        QCOMPARE(shown.at(0), repairQuestion(QStringLiteral("archivio.mdb")));
        QVERIFY2(shown.at(1).startsWith(QStringLiteral("L'archivio era danneggiato: sono stati recuperati 2002 libri")),
                 qPrintable(shown.at(1)));
        QCOMPARE(shown.at(3), kDone);
        QCOMPARE(store::files::integrityProblems(archive), QStringList());
        QCOMPARE(rowCount(archive, "biblio"), qint64(2002));
    }

    // ------------------------------------------------------------ another instance, other names

    void anotherInstanceUnderAnotherName_data()
    {
        QTest::addColumn<bool>("hardLink");
        QTest::newRow("collegamento fisico") << true;
        QTest::newRow("collegamento simbolico") << false;
    }

    void anotherInstanceUnderAnotherName()
    {
        QFETCH(bool, hardLink);
        const QString shared =
            m_folder->createArchive(QStringLiteral("archivio/condiviso.mdb"),
                                    QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (1, 'A')"));
        const QString alias = m_folder->filePath(QStringLiteral("archivio/altro-nome.mdb"));
        std::error_code error;
        if (hardLink) {
            std::filesystem::create_hard_link(shared.toStdString(), alias.toStdString(), error);
        } else {
            std::filesystem::create_symlink(shared.toStdString(), alias.toStdString(), error);
        }
        QVERIFY(!error);
        testsupport::OtherProcess window;
        QVERIFY2(window.start({QStringLiteral("tieni"), shared}), qPrintable(window.output()));
        const QByteArray before = digest(shared);
        // Overwritten under any of its names: a hard link is refused for what it is, a symbolic
        // link leads to the file in use.
        const auto check = [&](const SeenBox& seen, const QString& inUse, QMessageBox::Icon inUseIcon) {
            if (hardLink) {
                QVERIFY2(seen.text.startsWith(QStringLiteral("Autorizzazione negata!\nIl file ")) &&
                             seen.text.contains(QStringLiteral("altro-nome.mdb")) &&
                             seen.text.contains(QStringLiteral(" ha 2 nomi (collegamenti fisici)")),
                         qPrintable(seen.text));
                QCOMPARE(seen.icon, QMessageBox::Critical);
            } else {
                QCOMPARE(seen.text, inUse);
                QCOMPARE(seen.icon, inUseIcon);
            }
        };
        {
            dialogs::queueChoice(alias);
            SeenBox seen;
            const auto answer = pressOk(seen);
            m_main->MnuFileNew_Click();
            check(seen, QStringLiteral("Autorizzazione negata!"), QMessageBox::Critical);
        }
        {
            dialogs::queueChoice(alias);
            SeenBox seen;
            const auto answer = pressOk(seen);
            m_main->MnuOpzioniCopia_Click();
            check(seen, kCloseWindows, QMessageBox::Information);
        }
        {
            // The program's own archive is the other name; its windows are closed.
            closeBooksWindow();
            Modulo1::CartellaArchivio = m_folder->filePath(QStringLiteral("archivio/"));
            Modulo1::FileArchivio = QStringLiteral("altro-nome.mdb");
            msg::queueAnswer(msg::Answer::Yes);
            SeenBox seen;
            const auto answer = pressOk(seen);
            m_main->MnuOpzioniRipara_Click();
            check(seen, kCloseWindows, QMessageBox::Information);
        }
        QCOMPARE(digest(shared), before);
        QCOMPARE(tempFiles(), QStringList());
        QVERIFY2(window.finish(), qPrintable(window.output()));
    }

    void theFrameHoldsItsArchiveWhileItIsTheCurrentOne()
    {
        const QString archive = m_folder->defaultArchive();
        closeBooksWindow();
        const QString elsewhere = m_folder->filePath(QStringLiteral("altro-computer"));
        QVERIFY(QDir().mkpath(elsewhere));
        // Another instance wants it to itself (to compact it, or to put another archive in its place
        // after a Yes): no record window is open here, and still it is refused.
        const auto takenElsewhere = [&elsewhere](const QString& path) {
            testsupport::OtherProcess other;
            const bool refused = other.start(
                {QStringLiteral("compatta"), path, elsewhere, QStringLiteral("-"), QStringLiteral("aspetta")},
                "errore 3356");
            return !refused && !other.output().contains(QStringLiteral("errore"));
        };
        const QByteArray before = digest(archive);
        QVERIFY(!takenElsewhere(archive));
        QCOMPARE(digest(archive), before);

        // Its own repair and compaction take it, and give it back to the frame.
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts().constLast(), kDone);
        QVERIFY(!takenElsewhere(archive));

        // Once another archive is the current one, the old one is free.
        const QString fresh = m_folder->filePath(QStringLiteral("archivio/nuovo.mdb"));
        dialogs::queueChoice(fresh);
        m_main->MnuFileNew_Click();
        QCOMPARE(text1(), fresh);
        QVERIFY(takenElsewhere(archive));
        QVERIFY(!takenElsewhere(fresh));
    }

    // ------------------------------------------------------------ leftovers at the start

    void leftoversOfAKilledOperationGoAtTheNextStart_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("step");
        QTest::newRow("compattazione") << QStringLiteral("compatta") << QStringLiteral("sostituzione");
        QTest::newRow("riparazione") << QStringLiteral("ripara") << QStringLiteral("riparato");
    }

    void leftoversOfAKilledOperationGoAtTheNextStart()
    {
        QFETCH(QString, command);
        QFETCH(QString, step);
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                           "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 500, 'x') FROM n;"
                           "DELETE FROM biblio WHERE id % 2 = 1 AND id > 1000;"));
        // The program ends; another run of it is killed half-way through the command.
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QStringList arguments{command, archive};
        if (command == QLatin1String("compatta")) {
            arguments << m_folder->path();
        } else {
            QVERIFY(testsupport::damagePages(archive, {int(QFileInfo(archive).size() / 4096 / 2) + 1}));
        }
        const QByteArray before = digest(archive);
        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled(arguments << step << QStringLiteral("uccidi")), qPrintable(killed.output()));
        const QString rebuilt = archive + QStringLiteral(".riparato");
        QVERIFY(!tempFiles().isEmpty() || QFileInfo::exists(rebuilt));

        // The next start removes them and says nothing.
        m_main = std::make_unique<MDIForm1>();
        m_main->show();
        m_main->MDIForm_Load();
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(tempFiles(), QStringList());
        QVERIFY(!QFileInfo::exists(rebuilt));
        QVERIFY(m_main->booksWindow());
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(digest(archive), before);
    }

    void leftoversThatStayAreReportedAtTheStart()
    {
        m_main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QString leftover = m_folder->filePath(store::files::kBeforeCompaction);
        QVERIFY(QFile::copy(m_folder->defaultArchive(), leftover));
        {
            const testsupport::ReadOnlyFolder readOnly(m_folder->path(), testsupport::ReadOnlyFolder::Way::Permissions);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
            }
            m_main = std::make_unique<MDIForm1>();
            m_main->show();
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MDIForm_Load();
        }
        QCOMPARE(msg::shownTexts(),
                 QStringList{QStringLiteral("Impossibile eliminare i file lasciati da una riparazione o da una "
                                            "compattazione interrotta:\r") +
                             QDir::toNativeSeparators(leftover)});
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>{msg::Icon::Information});
        // The start goes on.
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    // ------------------------------------------------------------ messages that name the cause

    void aProgramFolderThatCannotBeWrittenIsNamed()
    {
        const QString archive = m_folder->defaultArchive();
        closeBooksWindow();
        const QByteArray before = digest(archive);
        {
            const testsupport::ReadOnlyFolder readOnly(m_folder->path(), testsupport::ReadOnlyFolder::Way::Permissions);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
            }
            msg::queueAnswer(msg::Answer::Yes);
            msg::queueAnswer(msg::Answer::Yes);
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuOpzioniRipara_Click();
        }
        const QString description =
            QStringLiteral("Impossibile scrivere nella cartella del programma '%1': la compattazione vi prepara "
                           "l'archivio compattato.")
                .arg(QDir::toNativeSeparators(m_folder->path()));
        QCOMPARE(msg::shownTexts(), QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion,
                                                 compactionFailure(store::ErrProgramFolderNotWritable, description)}));
        QCOMPARE(digest(archive), before);
    }

    void aReadOnlyArchiveFolderIsNamed()
    {
        const QString folder = m_folder->filePath(QStringLiteral("copie"));
        QVERIFY(QDir().mkpath(folder));
        const QString expected = QStringLiteral("La cartella '%1' è di sola lettura: il programma non può scrivervi "
                                                "l'archivio.")
                                     .arg(QDir::toNativeSeparators(folder));
        {
            const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Permissions);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
            }
            dialogs::queueChoice(folder + QStringLiteral("/riserva.mdb"));
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuOpzioniCopia_Click();
            dialogs::queueChoice(folder + QStringLiteral("/nuovo.mdb"));
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuFileNew_Click();
        }
        QCOMPARE(msg::shownTexts(), QStringList({expected, expected}));
        QCOMPARE(msg::shownIcons(), QList<msg::Icon>({msg::Icon::None, msg::Icon::None}));
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
        QCOMPARE(text1(), m_folder->defaultArchive());
    }

    void aFullDiskIsNamed()
    {
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
            "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 500, 'x') FROM n;"));
        const QString small = m_folder->filePath(QStringLiteral("piccolo"));
        const testsupport::SmallDisk disk(small, 256 * 1024);
        if (!disk.isValid()) {
            QSKIP(qPrintable(QStringLiteral("a small disk cannot be mounted here: ") + disk.whyNot()));
        }
        const QString full = QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per scrivere.")
                                 .arg(QDir::toNativeSeparators(small));
        dialogs::queueChoice(small + QStringLiteral("/copia.mdb"));
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniCopia_Click();
        QCOMPARE(msg::shownTexts(), QStringList{full});

        // A compaction from a program folder on the full disk.
        closeBooksWindow();
        const QByteArray before = digest(archive);
        msg::shownTexts().clear();
        paths::setProgramFolderForTests(small);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        paths::setProgramFolderForTests(m_folder->path());
        QCOMPARE(msg::shownTexts(), QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion,
                                                 compactionFailure(store::ErrDiskFull, full)}));
        QCOMPARE(digest(archive), before);
    }

    void aReadOnlyArchiveFileIsNamed()
    {
        const QString archive = m_folder->defaultArchive();
        closeBooksWindow();
        const QByteArray before = digest(archive);
        const QFile::Permissions permissions = QFile::permissions(archive);
        QVERIFY(QFile::setPermissions(archive, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        {
            const testsupport::WithoutOverride asAUser;
            if (!asAUser.isValid()) {
                QFile::setPermissions(archive, permissions);
                QSKIP("root's override of file permissions cannot be dropped here");
            }
            msg::queueAnswer(msg::Answer::Yes);
            msg::queueAnswer(msg::Answer::Yes);
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuOpzioniRipara_Click();
        }
        QVERIFY(QFile::setPermissions(archive, permissions));
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion,
                              compactionFailure(store::ErrPermissionDenied,
                                                QStringLiteral("Il file dell'archivio '%1' è di sola lettura: il "
                                                               "programma non può riscriverlo. Togliere al file la "
                                                               "sola lettura e riprovare.")
                                                    .arg(QDir::toNativeSeparators(archive)))}));
        QCOMPARE(digest(archive), before);
        QCOMPARE(tempFiles(), QStringList());
    }

    void aFullDiskWhileRepairingIsNamedAlone()
    {
        const QString archive = m_folder->defaultArchive();
        addBooks(archive);
        closeBooksWindow();
        const QString small = m_folder->filePath(QStringLiteral("piccolo"));
        QVERIFY(QDir().mkpath(small));
        const testsupport::SmallDisk disk(small, QFileInfo(archive).size() * 3 / 2);
        if (!disk.isValid()) {
            QSKIP(qPrintable(QStringLiteral("a small disk cannot be mounted here: ") + disk.whyNot()));
        }
        const QString damaged = small + QStringLiteral("/archivio.mdb");
        QVERIFY(QFile::copy(archive, damaged));
        const QList<testsupport::Page> leaves = testsupport::pagesOf(damaged, "biblio", "leaf");
        QVERIFY(testsupport::damagePages(damaged, {leaves.at(leaves.size() / 2).number}));
        const QByteArray before = digest(damaged);
        Modulo1::CartellaArchivio = small + QLatin1Char('/');
        Modulo1::FileArchivio = QStringLiteral("archivio.mdb");

        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        // The full disk, plainly: not the integrity check's findings before it.
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairQuestion(QStringLiteral("archivio.mdb")),
                              failure(store::ErrDiskFull,
                                      QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per "
                                                     "scrivere.")
                                          .arg(QDir::toNativeSeparators(small)))}));
        QCOMPARE(digest(damaged), before);
        QCOMPARE(QDir(small).entryList({QStringLiteral("*danneggiato*")}, QDir::Files), QStringList());
    }

    void namesThatCannotBeKeptAreRefused()
    {
        const QString tooLong =
            m_folder->filePath(QStringLiteral("archivio/") + QString(251, QLatin1Char('n')) + QStringLiteral(".mdb"));
        const QString lineBreak = m_folder->filePath(QStringLiteral("archivio/riga\nnuova.mdb"));
        const QString longText = store::DbError::describe(store::ErrNameTooLong).chopped(1) +
                                 QStringLiteral(": sono ammessi al massimo 232 caratteri.");
        const QString controlText = store::DbError::describe(store::ErrControlCharacters);
        const QStringList before = QDir(m_folder->filePath(QStringLiteral("archivio"))).entryList(QDir::Files);
        for (const QString& name : {tooLong, lineBreak}) {
            dialogs::queueChoice(name);
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuFileNew_Click();
            dialogs::queueChoice(name);
            msg::queueAnswer(msg::Answer::Ok);
            m_main->MnuOpzioniCopia_Click();
        }
        QCOMPARE(msg::shownTexts(), QStringList({longText, longText, controlText, controlText}));
        QCOMPARE(QDir(m_folder->filePath(QStringLiteral("archivio"))).entryList(QDir::Files), before);

        // Such a file made by other means is not written into avvio.ini, which holds one line.
        const QByteArray startupFile = readFile(paths::startupFilePath());
        QVERIFY(writeFile(lineBreak, readFile(m_folder->defaultArchive())));
        dialogs::queueChoice(lineBreak);
        m_main->MnuFileApri_Click();
        QCOMPARE(readFile(paths::startupFilePath()), startupFile);
        QVERIFY(QFile::remove(lineBreak));
        QCOMPARE(text1(), m_folder->defaultArchive());
        QCOMPARE(shownTitle(), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void repairSaysWhatWasLeftOut()
    {
        const QString archive = m_folder->defaultArchive();
        store::Archive::open(archive)->exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 2999) "
                           "INSERT INTO biblio (id, titolo, note) SELECT i, 'T' || i, printf('%.*c', 300, 'x') FROM n;"
                           "INSERT INTO autbiblio SELECT id, 1 FROM biblio WHERE id >= 1000;"));
        closeBooksWindow();
        // One title changed on the books' page, not in the index of titles: the row is garbage now.
        QByteArray content = readFile(archive);
        const QList<int> leaves = testsupport::pageNumbers(testsupport::pagesOf(archive, "biblio", "leaf"));
        qsizetype at = -1;
        for (qsizetype found = content.indexOf("T1500"); found >= 0; found = content.indexOf("T1500", found + 1)) {
            if (leaves.contains(int(found / 4096) + 1)) {
                at = found;
            }
        }
        QVERIFY(at >= 0);
        content[at] = 'X';
        QVERIFY(writeFile(archive, content));

        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::No);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        const QStringList kept = QDir(m_folder->filePath(QStringLiteral("archivio")))
                                     .entryList({QStringLiteral("archivio-danneggiato-*.mdb")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(shown.at(1),
                 QStringLiteral("L'archivio era danneggiato: sono stati recuperati 2001 libri, 1 autori, 0 editori e "
                                "2001 legami tra libri e autori.\rNon sono stati recuperati 1 libri, 0 autori, 0 "
                                "editori e 1 legami tra libri e autori.\rSono stati tolti 1 legami a libri o autori "
                                "non recuperati.\rL'archivio danneggiato è stato conservato come ") +
                     QDir::toNativeSeparators(m_folder->filePath(QStringLiteral("archivio/") + kept.first())));
        QCOMPARE(rowCount(archive, "biblio"), 2001);
        QCOMPARE(
            testsupport::scalar(archive, QStringLiteral("SELECT count(*) FROM biblio WHERE id = 1500")).toLongLong(),
            qint64(0));
    }

    void repairCountsEveryRecordLeftOut()
    {
        const QString archive = m_folder->defaultArchive();
        addBooks(archive);
        closeBooksWindow();
        // A whole page of books gone: the books' indexes, still whole, tell how many it held.
        const QList<testsupport::Page> leaves = testsupport::pagesOf(archive, "biblio", "leaf");
        const testsupport::Page victim = leaves.at(leaves.size() / 2);
        QVERIFY(victim.cells > 5);
        QVERIFY(testsupport::damagePages(archive, {victim.number}));

        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::No);
        msg::queueAnswer(msg::Answer::Ok);
        m_main->MnuOpzioniRipara_Click();
        const QStringList shown = msg::shownTexts();
        QCOMPARE(shown.size(), 4);
        const qint64 books = rowCount(archive, "biblio");
        QCOMPARE(books, qint64(2002 - victim.cells));
        const QStringList lines = shown.at(1).split(QLatin1Char('\r'));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(0), QStringLiteral("L'archivio era danneggiato: sono stati recuperati %1 libri, 1 autori, 0 "
                                             "editori e %1 legami tra libri e autori.")
                                  .arg(books));
        QCOMPARE(lines.at(1), QStringLiteral("Non sono stati recuperati %1 libri, 0 autori, 0 editori e %1 legami tra "
                                             "libri e autori.")
                                  .arg(victim.cells));
        QCOMPARE(lines.at(2),
                 QStringLiteral("Sono stati tolti %1 legami a libri o autori non recuperati.").arg(victim.cells));
    }

    void repairErrorsAreReportedByNumber_data()
    {
        QTest::addColumn<QList<int>>("numbers");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QList<msg::Icon>>("icons");
        using I = msg::Icon;
        const QString d75 = store::DbError::describe(75);
        const QString d3420 = store::DbError::describe(3420);
        QTest::newRow("in use") << QList<int>{3356} << QStringList{kCloseWindows} << QList<I>{I::Information};
        QTest::newRow("disk") << QList<int>{3043} << QStringList{QStringLiteral("Occorre riavviare il programma!")}
                              << QList<I>{I::None};
        QTest::newRow("stale object") << QList<int>{3420}
                                      << QStringList{QStringLiteral("Chiudere tutte le finestre, uscire dal programma "
                                                                    "da tutti i computer in rete e riprovare!"),
                                                     compactionFailure(3420, d3420)}
                                      << QList<I>{I::Information, I::None};
        QTest::newRow("several") << QList<int>{75, 3043, 3420}
                                 << QStringList{compactionFailure(75, d75),
                                                compactionFailure(3043, store::DbError::describe(3043)),
                                                compactionFailure(3420, d3420)}
                                 << QList<I>{I::None, I::None, I::None};
    }

    void repairErrorsAreReportedByNumber()
    {
        QFETCH(QList<int>, numbers);
        QFETCH(QStringList, messages);
        QFETCH(QList<msg::Icon>, icons);
        closeBooksWindow();
        store::files::setStepHook([&numbers](const QString& step) {
            if (step == QLatin1String("comp1")) {
                QList<store::ErrorItem> items;
                for (int n : numbers) {
                    items.append({n, store::DbError::describe(n)});
                }
                throw store::DbError(items);
            }
        });
        msg::queueAnswer(msg::Answer::Yes);
        msg::queueAnswer(msg::Answer::Yes);
        for (int i = 0; i < messages.size(); ++i) {
            msg::queueAnswer(msg::Answer::Ok);
        }
        m_main->MnuOpzioniRipara_Click();
        QCOMPARE(msg::shownTexts(),
                 QStringList({repairQuestion(QStringLiteral("archivio.mdb")), kCompactQuestion}) + messages);
        QCOMPARE(msg::shownIcons().mid(2), icons);
    }

    void unreadableArchiveGivesOneMessagePerError()
    {
        const QString archive = m_folder->defaultArchive();
        closeBooksWindow();
        const QByteArray noise = testsupport::randomBytes(32 * 1024);
        QVERIFY(writeFile(archive, noise));
        msg::queueAnswer(msg::Answer::Yes);
        for (int i = 0; i < 4; ++i) {
            msg::queueAnswer(msg::Answer::Ok);
        }
        m_main->MnuOpzioniRipara_Click();
        const QStringList shown = msg::shownTexts();
        QVERIFY2(shown.size() >= 3, qPrintable(shown.join(QLatin1Char('|'))));
        QCOMPARE(shown.first(), repairQuestion(QStringLiteral("archivio.mdb")));
        for (const QString& text : shown.mid(1)) {
            QVERIFY2(text.startsWith(QStringLiteral("Riparazione non riuscita!\rNumero dell'errore: 3343\r")),
                     qPrintable(text));
        }
        QVERIFY(shown.at(1).contains(QStringLiteral("L'archivio è danneggiato")));
        QCOMPARE(readFile(archive), noise);
        QCOMPARE(tempFiles(), QStringList());
    }
};

CARTEO_TEST_MAIN(TestArchiveCommands)
#include "tst_archive_commands.moc"
