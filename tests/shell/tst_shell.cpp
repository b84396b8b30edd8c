// Start-up, the main window, its menus and quit guard, the message boxes and the archive
// dialogs, run offscreen in a temporary program folder on real archives.
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"
#include "store/Archive.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QEventLoop>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QToolBar>
#include <QtTest>

#include <memory>

using testsupport::NextModal;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

const QString kCr = QStringLiteral("\r");

QString notFoundMessage(const QString& path)
{
    return QStringLiteral("Impossibile trovare il file ") + path + kCr + QStringLiteral("Selezionare un file valido!");
}

const QString kRetryQuestion = QStringLiteral("Occorre scegliere un file mdb. Vuoi riprovare?");
const QString kQuitQuestion = QStringLiteral("Si vuole uscire dal programma?");

QString canonical(const QString& path)
{
    return QFileInfo(path).canonicalFilePath();
}

QString buttonText(QMessageBox* box, QMessageBox::StandardButton which)
{
    QAbstractButton* button = box->button(which);
    return button ? button->text().remove(QLatin1Char('&')) : QString();
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    int m_ends = 0;

    // An archive beside the default one, holding one book of its own.
    QString otherArchive(const QString& name)
    {
        return m_folder->createArchive(name, QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (7, 'ALTRO')"));
    }

    static QString bookTitle(const MDIForm1& main)
    {
        const FrmBiblio* books = main.booksWindow();
        return books ? books->findChild<QLineEdit*>(QStringLiteral("TxtFields_0"))->text() : QString();
    }

    static QString text1(const MDIForm1& main) { return main.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }

    // Today in Italian whatever the system's language (the tests run in the C locale).
    static QString dateCaption()
    {
        return QLocale(QLocale::Italian).toString(QDate::currentDate(), QStringLiteral("ddd dd MMMM yyyy")).toUpper();
    }

    // A main window started on the default archive, with nothing asked.
    void startOnDefault(MDIForm1& main)
    {
        main.show();
        main.MDIForm_Load();
        QVERIFY(main.booksWindow());
        QCOMPARE(msg::shownTexts(), QStringList());
        msg::shownTexts().clear();
        dialogs::clearQueuedChoices();
    }

    // Opens a new book in the books window ("Nuovo"), or drops it ("Annulla").
    static void setEditing(MDIForm1& main, bool editing)
    {
        FrmBiblio* books = main.booksWindow();
        QVERIFY(books);
        QCOMPARE(books->isEditing(), !editing);
        QTest::mouseClick(books->findChild<QPushButton*>(QStringLiteral("CmdNuovo")), Qt::LeftButton);
        QCOMPARE(books->isEditing(), editing);
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(shell::installItalianTranslations(*QCoreApplication::instance()));
        MDIForm1::setEndProgram([this] { ++m_ends; });
    }

    void init()
    {
        testsupport::resetShellState();
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE')"));
        m_ends = 0;
    }

    void cleanup()
    {
        // Deferred deletions of closed windows release their archives before the folder goes.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    // ------------------------------------------------------------ paths and avvio.ini

    void splitsArchivePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("file");
        const auto row = [](const char* name, const QString& path, const QString& folder, const QString& file) {
            QTest::newRow(name) << path << folder << file;
        };
        row("network", R"(\\server\share\lib\a.mdb)", R"(\\server\share\lib\)", "a.mdb");
        row("drive", R"(C:\dati\archivio.mdb)", R"(C:\dati\)", "archivio.mdb");
        row("unix", "/home/x/a.mdb", "/home/x/", "a.mdb");
        row("mixed", R"(C:\dati/misto/b.mdb)", R"(C:\dati/misto/)", "b.mdb");
        row("server only", R"(\\server)", R"(\\)", "server");
        row("no separator", "abc.mdb", "ab", "c.mdb");
        row("separator at 2 only", "/a.mdb", "/a", ".mdb");
        row("one character", "a", "a", QString());
        row("empty", QString(), QString(), QString());
    }

    void splitsArchivePaths()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, file);
        const paths::Split split = paths::splitArchivePath(path);
        QCOMPARE(split.folder, folder);
        QCOMPARE(split.file, file);
        // The main window's routine reads the path box and publishes the same split.
        MDIForm1 main;
        main.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(path);
        main.TrovaPercoServ();
        QCOMPARE(Modulo1::CartellaArchivio, folder);
        QCOMPARE(Modulo1::FileArchivio, file);
    }

    void startupFileIsOneUtf8Line()
    {
        const QString ini = paths::startupFilePath();
        QCOMPARE(ini, m_folder->filePath(QStringLiteral("avvio.ini")));
        // A longer old content is replaced whole, not overwritten in place.
        QVERIFY(writeFile(ini, "/una/riga/molto/lunga/di/prima.mdb\r\nseconda riga\r\n"));
        const QString accented = QStringLiteral("/home/niccolò/biblioteca/perché è così.mdb");
        paths::writeStartupFile(accented);
        QCOMPARE(readFile(ini), accented.toUtf8() + "\r\n");
        QCOMPARE(paths::readStartupFile(), accented);

        // Only the first line counts, whatever ends it; a byte order mark is not part of the path.
        QVERIFY(writeFile(ini, "C:\\dati\\a.mdb\nignorata\n"));
        QCOMPARE(paths::readStartupFile(), QStringLiteral("C:\\dati\\a.mdb"));
        QVERIFY(writeFile(ini, "\xEF\xBB\xBF/dati/b.mdb"));
        QCOMPARE(paths::readStartupFile(), QStringLiteral("/dati/b.mdb"));
        QVERIFY(writeFile(ini, "\r\n/dati/c.mdb\r\n"));
        QCOMPARE(paths::readStartupFile(), QString());

        const auto errorReading = []() -> int {
            try {
                paths::readStartupFile();
            } catch (const store::DbError& e) {
                return e.number();
            }
            return 0;
        };
        QVERIFY(writeFile(ini, ""));
        QCOMPARE(errorReading(), int(store::ErrPastEndOfFile));
        QVERIFY(QFile::remove(ini));
        QCOMPARE(errorReading(), int(store::ErrFileNotFound));
    }

    void onlyOrdinaryVisibleFilesExist()
    {
        QVERIFY(paths::ordinaryFileExists(m_folder->defaultArchive()));
        QVERIFY(!paths::ordinaryFileExists(m_folder->filePath(QStringLiteral("manca.mdb"))));
        QVERIFY(!paths::ordinaryFileExists(m_folder->filePath(QStringLiteral("archivio"))));
        QVERIFY(!paths::ordinaryFileExists(m_folder->createArchive(QStringLiteral(".nascosto.mdb"))));
        const auto refusedName = [](const QString& path) {
            try {
                paths::ordinaryFileExists(path);
            } catch (const store::DbError& e) {
                return e.number() == store::ErrBadFileName;
            }
            return false;
        };
        QVERIFY(refusedName(m_folder->filePath(QString(300, QLatin1Char('x')) + QStringLiteral(".mdb"))));
        QVERIFY(refusedName(m_folder->filePath(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b.mdb"))));
        QCOMPARE(paths::defaultArchivePath(), m_folder->filePath(QStringLiteral("archivio/archivio.mdb")));
    }

    // ------------------------------------------------------------ message boxes and dialogs

    void messageBoxesOnScreen()
    {
        // An information message: program title, its icon, OK only, lines split at CR.
        QString title;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QStringList buttons;
        NextModal info([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            title = box->windowTitle();
            icon = box->icon();
            for (QAbstractButton* b : box->buttons()) {
                buttons << b->text();
            }
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(msg::show(QStringLiteral("prima") + kCr + QStringLiteral("seconda"), msg::Icon::Information),
                 msg::Answer::Ok);
        QVERIFY(info.answered());
        QCOMPARE(info.seenText(), QStringLiteral("prima\nseconda"));
        QCOMPARE(title, QStringLiteral("Carteo"));
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(buttons.size(), 1);

        for (const auto& [asked, shown] :
             {std::pair{msg::Icon::Exclamation, QMessageBox::Warning},
              std::pair{msg::Icon::Critical, QMessageBox::Critical}, std::pair{msg::Icon::None, QMessageBox::NoIcon}}) {
            NextModal box([&](QWidget* w) {
                icon = qobject_cast<QMessageBox*>(w)->icon();
                qobject_cast<QMessageBox*>(w)->accept();
            });
            msg::show(QStringLiteral("x"), asked);
            QVERIFY(box.answered());
            QCOMPARE(icon, shown);
        }

        // A question: Italian Yes and No, Yes the default, no icon; both answers come back.
        for (const auto answer : {msg::Answer::Yes, msg::Answer::No}) {
            QString yes;
            QString no;
            bool yesIsDefault = false;
            NextModal question([&](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                yes = buttonText(box, QMessageBox::Yes);
                no = buttonText(box, QMessageBox::No);
                yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
                icon = box->icon();
                box->button(answer == msg::Answer::Yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            QCOMPARE(msg::show(kQuitQuestion, msg::Icon::None, msg::Buttons::YesNo), answer);
            QVERIFY(question.answered());
            QCOMPARE(yes, QStringLiteral("Sì"));
            QCOMPARE(no, QStringLiteral("No"));
            QVERIFY(yesIsDefault);
            QCOMPARE(icon, QMessageBox::NoIcon);
        }
        QCOMPARE(msg::shownTexts().size(), 6);
        QCOMPARE(msg::shownTexts().constFirst(), QStringLiteral("prima") + kCr + QStringLiteral("seconda"));

        // A queued answer is used without anything on screen (a box shown would wait for the
        // watchdog, which fails the test).
        msg::queueAnswer(msg::Answer::No);
        QCOMPARE(msg::show(kQuitQuestion, msg::Icon::None, msg::Buttons::YesNo), msg::Answer::No);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(msg::shownTexts().constLast(), kQuitQuestion);
    }

    void openDialogOnScreen()
    {
        const QString folder = paths::archiveFolder();
        QStringList filters;
        QString directory;
        bool open = false;
        bool native = true;
        const QString typed = m_folder->filePath(QStringLiteral("archivio/non_ancora.mdb"));
        NextModal chooser([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            filters = dialog->nameFilters();
            directory = dialog->directory().absolutePath();
            open = dialog->acceptMode() == QFileDialog::AcceptOpen;
            native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
            // A name that does not exist is taken as typed.
            dialog->selectFile(typed);
            static_cast<QDialog*>(dialog)->accept(); // the dialog's own checks run
        });
        QCOMPARE(dialogs::openArchive(nullptr, folder), typed);
        QVERIFY(chooser.answered());
        QCOMPARE(filters, QStringList{QStringLiteral("File mdb(*.mdb)")});
        QCOMPARE(canonical(directory), canonical(folder));
        QVERIFY(open);
        QVERIFY(!native);

        NextModal cancel([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
        try {
            dialogs::openArchive(nullptr, folder);
            QFAIL("a cancelled dialog returned a path");
        } catch (const store::DbError& e) {
            QCOMPARE(e.number(), int(store::ErrDialogCancelled));
        }
        QVERIFY(cancel.answered());
        QCOMPARE(dialogs::requests().size(), 2);
        QVERIFY(!dialogs::requests().at(1).save);
        QCOMPARE(dialogs::requests().at(1).initialFolder, folder);
    }

    void saveDialogConfirmsOverwriting()
    {
        const QString existing = m_folder->defaultArchive();
        std::unique_ptr<NextModal> confirm;
        bool save = false;
        NextModal chooser([&](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            save = dialog->acceptMode() == QFileDialog::AcceptSave;
            // The question about the existing file opens on top of the dialog.
            confirm = std::make_unique<NextModal>(
                [](QWidget* box) { qobject_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click(); });
            dialog->selectFile(existing);
            static_cast<QDialog*>(dialog)->accept(); // the dialog's own checks run
        });
        QCOMPARE(canonical(dialogs::saveArchive(nullptr, paths::archiveFolder())), canonical(existing));
        QVERIFY(chooser.answered());
        QVERIFY(save);
        QVERIFY(confirm && confirm->answered());
        QVERIFY2(confirm->seenText().contains(QStringLiteral("archivio.mdb")), qPrintable(confirm->seenText()));

        // Queued choices answer in order and a queued empty path is a cancel.
        dialogs::queueChoice(QStringLiteral("/x/uno.mdb"));
        dialogs::queueChoice(QString());
        QCOMPARE(dialogs::saveArchive(nullptr, QString()), QStringLiteral("/x/uno.mdb"));
        QVERIFY_THROWS_EXCEPTION(store::DbError, dialogs::saveArchive(nullptr, QString()));
    }

    // ------------------------------------------------------------ start-up

    void firstStartWritesTheStartupFile()
    {
        QVERIFY(!QFile::exists(paths::startupFilePath()));
        MDIForm1 main;
        QCOMPARE(main.findChild<QMenu*>(QStringLiteral("MnuData"))->title(), QStringLiteral("Data"));
        QVERIFY(text1(main).isEmpty());
        main.show();
        // A frame smaller than the screen shows the centring.
        main.resize(500, 300);
        main.MDIForm_Load();

        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");
        QCOMPARE(Modulo1::PercorsoArchivio, m_folder->defaultArchive());
        QCOMPARE(text1(main), m_folder->defaultArchive());
        QCOMPARE(Modulo1::CartellaArchivio, m_folder->filePath(QStringLiteral("archivio/")));
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("archivio.mdb"));
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(main.findChild<QMenu*>(QStringLiteral("MnuData"))->title(), dateCaption());
        QCOMPARE(msg::shownTexts(), QStringList());
        QVERIFY(dialogs::requests().isEmpty());

        const QRect screen = main.screen()->geometry();
        QCOMPARE(main.frameGeometry().top(), screen.top());
        QCOMPARE(main.frameGeometry().left(), screen.left() + (screen.width() - main.frameGeometry().width()) / 2);
        QVERIFY(main.frameGeometry().width() < screen.width());
        // The books window fits the frame's work area, at most at its own size (test_screen).
        QVERIFY(main.booksWindow()->width() <= FrmBiblio().width());
        QVERIFY(main.booksWindow()->height() <= FrmBiblio().height());
        QCOMPARE(main.mdiArea()->activeSubWindow()->widget(), main.booksWindow());
    }

    void dateIsItalianInAnySystemLanguage()
    {
        // The system speaks C (LC_ALL=C.UTF-8) and the program's default locale is C too.
        const QLocale before;
        QLocale::setDefault(QLocale::c());
        const auto restore = qScopeGuard([&] { QLocale::setDefault(before); });
        MDIForm1 main;
        startOnDefault(main);
        const QStringList words = main.findChild<QMenu*>(QStringLiteral("MnuData"))->title().split(QLatin1Char(' '));
        QCOMPARE(words.size(), 4);
        const QStringList weekdays{"LUN", "MAR", "MER", "GIO", "VEN", "SAB", "DOM"};
        const QStringList months{"GENNAIO", "FEBBRAIO", "MARZO",     "APRILE",  "MAGGIO",   "GIUGNO",
                                 "LUGLIO",  "AGOSTO",   "SETTEMBRE", "OTTOBRE", "NOVEMBRE", "DICEMBRE"};
        // Read again after the check, so a start just before midnight compares with its own day.
        QDate today = QDate::currentDate();
        if (words.at(1).toInt() != today.day()) {
            today = today.addDays(-1);
        }
        QCOMPARE(words.at(0), weekdays.at(today.dayOfWeek() - 1));
        QCOMPARE(words.at(1), QStringLiteral("%1").arg(today.day(), 2, 10, QLatin1Char('0')));
        QCOMPARE(words.at(2), months.at(today.month() - 1));
        QCOMPARE(words.at(3), QString::number(today.year()));
    }

    void missingArchiveIsReplacedByTheChosenOne()
    {
        const QString missing = m_folder->filePath(QStringLiteral("sparito.mdb"));
        paths::writeStartupFile(missing);
        const QString other = otherArchive(QStringLiteral("altro.mdb"));
        // The message on screen: information icon, then the dialog answered from the queue.
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        NextModal notFound([&](QWidget* w) {
            icon = qobject_cast<QMessageBox*>(w)->icon();
            dialogs::queueChoice(other);
            qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();

        QVERIFY(notFound.answered());
        QCOMPARE(notFound.seenText(), notFoundMessage(missing).replace(kCr, QStringLiteral("\n")));
        QCOMPARE(icon, QMessageBox::Information);
        QCOMPARE(msg::shownTexts(), QStringList{notFoundMessage(missing)});
        QCOMPARE(dialogs::requests().size(), 1);
        QVERIFY(!dialogs::requests().at(0).save);
        QCOMPARE(dialogs::requests().at(0).initialFolder, paths::archiveFolder());
        QCOMPARE(readFile(paths::startupFilePath()), other.toUtf8() + "\r\n");
        QCOMPARE(text1(main), other);
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("altro.mdb"));
        QCOMPARE(bookTitle(main), QStringLiteral("ALTRO"));
        QCOMPARE(main.mdiArea()->subWindowList().size(), 1);
    }

    void namesThatCannotBeOpenedCountAsMissing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("hidden file") << ".nascosto.mdb";
        QTest::newRow("folder") << "archivio";
        QTest::newRow("name too long") << QString(300, QLatin1Char('x'));
    }

    void namesThatCannotBeOpenedCountAsMissing()
    {
        QFETCH(QString, name);
        const QString path = m_folder->filePath(name);
        if (name.startsWith(QLatin1Char('.'))) {
            m_folder->createArchive(name);
        }
        paths::writeStartupFile(path);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(), QStringList{notFoundMessage(path)});
        QCOMPARE(text1(main), m_folder->defaultArchive());
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void emptyStartupFileThenCancelAndRetry()
    {
        QVERIFY(writeFile(paths::startupFilePath(), ""));
        // The message, a cancelled dialog and "try again", a typed name that does not exist and
        // so the message again, then the default archive.
        const QString typo = m_folder->filePath(QStringLiteral("refuso.mdb"));
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(QString());
        msg::queueAnswer(msg::Answer::Yes);
        dialogs::queueChoice(typo);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(), (QStringList{notFoundMessage(QString()), kRetryQuestion, notFoundMessage(typo)}));
        QCOMPARE(dialogs::requests().size(), 3);
        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(m_ends, 0);
    }

    void givingUpAtStartupAsksToQuit()
    {
        const QString missing = m_folder->filePath(QStringLiteral("sparito.mdb"));
        paths::writeStartupFile(missing);
        msg::queueAnswer(msg::Answer::Ok);  // file not found
        dialogs::queueChoice(QString());    // cancel
        msg::queueAnswer(msg::Answer::No);  // do not try again
        msg::queueAnswer(msg::Answer::No);  // do not quit: the search starts over
        msg::queueAnswer(msg::Answer::Ok);  // file not found
        dialogs::queueChoice(QString());    // cancel
        msg::queueAnswer(msg::Answer::No);  // do not try again
        msg::queueAnswer(msg::Answer::Yes); // quit
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(), (QStringList{notFoundMessage(missing), kRetryQuestion, kQuitQuestion,
                                                 notFoundMessage(missing), kRetryQuestion, kQuitQuestion}));
        QCOMPARE(m_ends, 1);
        QVERIFY(!main.booksWindow());
        QVERIFY(text1(main).isEmpty());
        QCOMPARE(readFile(paths::startupFilePath()), missing.toUtf8() + "\r\n");
    }

    void notAnArchiveIsNamedAndAnotherChosen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::newRow("text") << QStringLiteral("lettera.mdb") << QStringLiteral("text");
        QTest::newRow("empty, name ending in blanks") << QStringLiteral("vuoto.mdb  ") << QStringLiteral("empty");
        QTest::newRow("truncated archive") << QStringLiteral("tronco.mdb") << QStringLiteral("truncated");
        QTest::newRow("another program's database") << QStringLiteral("clienti.mdb") << QStringLiteral("foreign");
        QTest::newRow("picture renamed") << QStringLiteral("foto.mdb") << QStringLiteral("picture");
        // Damaged, but with not one row to save: nothing to offer a repair for.
        QTest::newRow("empty archive, first page destroyed")
            << QStringLiteral("rotto.mdb") << QStringLiteral("empty damaged");
    }

    void notAnArchiveIsNamedAndAnotherChosen()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QByteArray content;
        if (kind == QLatin1String("text")) {
            content = "Cara Anna, ti scrivo...\n";
        } else if (kind == QLatin1String("truncated")) {
            content = readFile(m_folder->defaultArchive()).left(1500);
        } else if (kind == QLatin1String("foreign")) {
            // Another program's database: sound, but none of the archive's tables.
            const QString other = m_folder->filePath(QStringLiteral("altro.sqlite"));
            QProcess shell;
            shell.start(QStringLiteral("sqlite3"), {other, QStringLiteral("CREATE TABLE clienti (nome TEXT);")});
            if (!shell.waitForFinished() || shell.exitCode() != 0) {
                QSKIP("the sqlite3 shell is not available");
            }
            content = readFile(other);
        } else if (kind == QLatin1String("picture")) {
            QImage picture(400, 300, QImage::Format_RGB32);
            picture.fill(QColor(200, 120, 40));
            QBuffer buffer(&content);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "JPG"));
        } else if (kind == QLatin1String("empty damaged")) {
            content = readFile(m_folder->createArchive(QStringLiteral("vuoto.mdb")));
            content.replace(0, 4096, testsupport::randomBytes(4096));
        }
        const QString file = m_folder->filePath(name);
        QVERIFY(writeFile(file, content));
        paths::writeStartupFile(file);
        // The file is named between quotes, then the same choice follows as for a missing file.
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(),
                 QStringList{QStringLiteral("Il file \"%1\" non è un archivio valido o è danneggiato.").arg(file) +
                             kCr + QStringLiteral("Selezionare un file valido!")});
        QCOMPARE(dialogs::requests().size(), 1);
        QVERIFY(main.booksWindow());
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(text1(main), m_folder->defaultArchive());
        QCOMPARE(readFile(file), content); // left as it was
    }

    void aNewerArchiveIsNamedAndLeftAsItWas()
    {
        const QString newer = otherArchive(QStringLiteral("futuro.mdb"));
        store::Archive::open(newer)->exec(QStringLiteral("PRAGMA user_version=99"));
        const QByteArray before = readFile(newer);
        paths::writeStartupFile(newer);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(
            msg::shownTexts(),
            QStringList{
                QStringLiteral("Il file \"%1\" è stato creato da una versione più recente del programma.").arg(newer) +
                kCr + QStringLiteral("Selezionare un file valido!")});
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(readFile(newer), before);
    }

    // ------------------------------------------------------------ commands

    void openAnotherArchiveFromTheMenu()
    {
        MDIForm1 main;
        startOnDefault(main);
        QPointer<FrmBiblio> first = main.booksWindow();

        // Cancelling while an archive is open changes nothing and says nothing.
        dialogs::queueChoice(QString());
        main.findChild<QAction*>(QStringLiteral("MnuFileApri"))->trigger();
        QCOMPARE(msg::shownTexts(), QStringList());
        QCOMPARE(main.booksWindow(), first.data());
        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");

        // Another archive: remembered, published, and the books window reopened on it.
        const QString other = otherArchive(QStringLiteral("secondo.mdb"));
        dialogs::queueChoice(other);
        main.MnuFileApri_Click();
        QVERIFY(main.booksWindow());
        QVERIFY(main.booksWindow() != first.data());
        QTRY_VERIFY(first.isNull());
        QCOMPARE(main.mdiArea()->subWindowList().size(), 1);
        QCOMPARE(bookTitle(main), QStringLiteral("ALTRO"));
        QCOMPARE(readFile(paths::startupFilePath()), other.toUtf8() + "\r\n");
        QCOMPARE(Modulo1::PercorsoArchivio, other);
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("secondo.mdb"));
        QCOMPARE(main.findChild<QMenu*>(QStringLiteral("MnuData"))->title(), dateCaption());

        // A typed name that does not exist is remembered, then reported, and the dialog offered
        // again until an existing archive is chosen.
        const QString typo = m_folder->filePath(QStringLiteral("terzo.mdb"));
        dialogs::queueChoice(typo);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(m_folder->defaultArchive());
        main.MnuFileApri_Click();
        QCOMPARE(msg::shownTexts(), QStringList{notFoundMessage(typo)});
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");
    }

    void givingUpAnotherArchiveGoesBackToTheOpenOne_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not an archive") << QStringLiteral("text");
        QTest::newRow("missing") << QStringLiteral("missing");
    }

    void givingUpAnotherArchiveGoesBackToTheOpenOne()
    {
        QFETCH(QString, kind);
        MDIForm1 main;
        startOnDefault(main);
        const QString chosen = m_folder->filePath(QStringLiteral("lettera.mdb"));
        QString refusal = notFoundMessage(chosen);
        if (kind == QLatin1String("text")) {
            QVERIFY(writeFile(chosen, "Cara Anna, ti scrivo...\n"));
            refusal = QStringLiteral("Il file \"%1\" non è un archivio valido o è danneggiato.").arg(chosen) + kCr +
                      QStringLiteral("Selezionare un file valido!");
        }
        dialogs::queueChoice(chosen);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(QString()); // given up
        // Never used when the start-up goes back: it only ends the test should it ask again.
        dialogs::queueChoice(m_folder->defaultArchive());
        msg::queueAnswer(msg::Answer::Ok);
        main.MnuFileApri_Click();

        QCOMPARE(msg::shownTexts(), QStringList{refusal});
        QCOMPARE(dialogs::requests().size(), 2);
        // The archive that was open is open again, and is the one the next start opens.
        QCOMPARE(readFile(paths::startupFilePath()), m_folder->defaultArchive().toUtf8() + "\r\n");
        QCOMPARE(text1(main), m_folder->defaultArchive());
        QCOMPARE(Modulo1::PercorsoArchivio, m_folder->defaultArchive());
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void menusAndToolbar()
    {
        MDIForm1 main;
        startOnDefault(main);
        QCOMPARE(main.windowTitle(), QStringLiteral("Carteo"));

        QStringList menus;
        QStringList menuNames;
        for (QAction* a : main.menuBar()->actions()) {
            menus << QString(a->text()).remove(QLatin1Char('&')); // the captions, without their mnemonics
            menuNames << a->menu()->objectName();
        }
        QCOMPARE(menus, (QStringList{"File", "Visualizza", "Opzioni", "?", "      ", dateCaption()}));
        QCOMPARE(menuNames, (QStringList{"mnuFile", "MnuVisual", "MnuOpzionI", "mnuInfo", "mnusep", "MnuData"}));

        const auto items = [&](const char* menu) {
            QStringList entries;
            for (QAction* a : main.findChild<QMenu*>(QString::fromLatin1(menu))->actions()) {
                entries << a->objectName() + QLatin1Char('=') +
                               (a->isSeparator() ? QStringLiteral("-") : QString(a->text()).remove(QLatin1Char('&')));
            }
            return entries;
        };
        QCOMPARE(items("mnuFile"), (QStringList{"MnuFileApri=Apri Archivio", "MnuFileNew=Nuovo Archivio",
                                                "MnuFileEsporta=Esporta…", "MnuFileImporta=Importa…",
                                                "MnuFileImportaPrecedente=Importa archivio precedente…",
                                                "mnuFileSep1=-", "MnFileEsci=Esci"}));
        QCOMPARE(items("MnuVisual"), (QStringList{"MnuVisualBiblio=Biblioteca", "MnuVisualAutori=Autori",
                                                  "MnuVisualEditori=Editori", "MnuVisualPrestiti=Prestiti",
                                                  "MnuVisualAnteprima=Anteprima"}));
        QCOMPARE(items("MnuOpzionI"), (QStringList{"MnuOpzioniRipara=Ripara e Compatta", "MnuOpzioniCopia=Crea Copia",
                                                   "MnuOpzioniTrasferisci=Trasferisci sul server…",
                                                   "MnuOpzioniRipristina=Ripristina Copia…",
                                                   "MnuOpzioniPrestiti=Impostazioni prestiti…",
                                                   "MnuOpzioniEtichette=Stampa etichette…", "MnuSepOpzion=-",
                                                   "MnuOpzionInserisci=Inserisci Piantina"}));
        QCOMPARE(items("mnuInfo"), (QStringList{"mnuGuida=Guida", "mnuabaut=info..."}));
        QCOMPARE(items("mnusep"), QStringList());
        QCOMPARE(items("MnuData"), QStringList());

        // Buttons by odd numbers, each after a separator numbered one less ("Prestiti", 11, stands
        // after "Editori"), then the archive's name and path.
        auto* toolbar = main.findChild<QToolBar*>(QStringLiteral("Toolbar1"));
        QStringList buttons;
        const QList<int> order{1, 2, 3, 4, 5, 10, 11, 6, 7, 8, 9};
        for (int place = 0; place < order.size(); ++place) {
            const int i = order[place];
            auto* a = toolbar->findChild<QAction*>(QStringLiteral("Toolbar1_%1").arg(i));
            QVERIFY2(a, qPrintable(QString::number(i)));
            QCOMPARE(a->isSeparator(), i % 2 == 0);
            QCOMPARE(toolbar->actions().indexOf(a), place);
            if (!a->isSeparator()) {
                buttons << a->text();
                QVERIFY(!a->icon().isNull());
            }
        }
        QCOMPARE(buttons, (QStringList{"Biblioteca", "Autori", "Editori", "Prestiti", "Anteprima", "Esci"}));
        auto* text2 = main.findChild<QLineEdit*>(QStringLiteral("Text2"));
        QCOMPARE(text2->text(), QStringLiteral("Nome Archivio"));
        QVERIFY(text2->isReadOnly());
        QCOMPARE(text1(main), m_folder->defaultArchive());

        // Separators and unknown numbers do nothing. (The archive commands, "info..." and the
        // picture import have their own tests.)
        for (int index : {0, 2, 4, 6, 8, 10}) {
            main.Toolbar1_ButtonClick(index);
        }
        // "Inserisci Piantina" opens the import dialog modally over the frame, for the plan.
        Modulo1::ImportaFoto = true;
        bool forThePlan = false;
        NextModal dialog([&](QWidget* w) {
            forThePlan = w->objectName() == QStringLiteral("frminserisci") && w->parentWidget() == &main &&
                         !Modulo1::ImportaFoto;
            QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("Command1_1")), Qt::LeftButton);
        });
        main.findChild<QAction*>(QStringLiteral("MnuOpzionInserisci"))->trigger();
        QVERIFY(dialog.answered());
        QCOMPARE(dialog.seenText(), QStringLiteral("Inserisci Immagine"));
        QVERIFY(forThePlan);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(msg::shownTexts(), QStringList());
        QVERIFY(dialogs::requests().isEmpty());
        QCOMPARE(main.mdiArea()->subWindowList().size(), 1);
        QVERIFY(main.isVisible());
    }

    void booksWindowOpensOnceAndClosesForGood()
    {
        MDIForm1 main;
        startOnDefault(main);
        FrmBiblio* books = main.booksWindow();
        QPointer<QMdiSubWindow> sub = main.mdiArea()->subWindowList().constFirst();

        // "Biblioteca" on an open, minimized window restores it and keeps its book.
        sub->showMinimized();
        main.findChild<QAction*>(QStringLiteral("Toolbar1_1"))->trigger();
        QCOMPARE(main.booksWindow(), books);
        QVERIFY(!sub->isMinimized());
        QCOMPARE(main.mdiArea()->activeSubWindow(), sub.data());
        QCOMPARE(main.mdiArea()->subWindowList().size(), 1);

        // Escape in the books window closes its sub-window, which goes away with it.
        QTest::keyClick(books->findChild<controls::DBList*>(QStringLiteral("DBList1")), Qt::Key_Escape);
        QVERIFY(!main.booksWindow());
        QTRY_VERIFY(sub.isNull());
        QVERIFY(main.mdiArea()->subWindowList().isEmpty());

        // Opened again from the menu, on the same archive.
        main.findChild<QAction*>(QStringLiteral("MnuVisualBiblio"))->trigger();
        QVERIFY(main.booksWindow());
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));

        // The sub-window's close box deletes it too.
        sub = main.mdiArea()->subWindowList().constFirst();
        QVERIFY(sub->close());
        QVERIFY(!main.booksWindow());
        QTRY_VERIFY(sub.isNull());

        // An archive that cannot be read: its description, and no window.
        const QString letter = m_folder->filePath(QStringLiteral("lettera.mdb"));
        QVERIFY(writeFile(letter, "non sono un archivio"));
        Modulo1::PercorsoArchivio = letter;
        msg::queueAnswer(msg::Answer::Ok);
        main.MnuVisualBiblio_Click();
        QCOMPARE(msg::shownTexts(), QStringList{store::DbError::describe(store::ErrFileNotArchive)});
        QVERIFY(!main.booksWindow());
        QVERIFY(main.mdiArea()->subWindowList().isEmpty());
    }

    void quitGuard()
    {
        MDIForm1 main;
        startOnDefault(main);
        const QString editing = QStringLiteral("E' in corso una modifica del record!!!") + kCr +
                                QStringLiteral("Prima di uscire dal programma, occorre Salvare o Annullare "
                                               "l'operazione");
        // An open edit refuses whatever closes the window, with no question asked.
        setEditing(main, true);
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        NextModal refusal([&](QWidget* w) {
            icon = qobject_cast<QMessageBox*>(w)->icon();
            qobject_cast<QMessageBox*>(w)->button(QMessageBox::Ok)->click();
        });
        QVERIFY(!main.close());
        QVERIFY(refusal.answered());
        QCOMPARE(icon, QMessageBox::Information);
        msg::queueAnswer(msg::Answer::Ok);
        main.findChild<QAction*>(QStringLiteral("MnFileEsci"))->trigger();
        msg::queueAnswer(msg::Answer::Ok);
        main.Toolbar1_ButtonClick(9);
        QCOMPARE(msg::shownTexts(), (QStringList{editing, editing, editing}));
        QVERIFY(main.isVisible());
        QCOMPARE(m_ends, 0);

        // After the edit: No leaves everything as it was.
        setEditing(main, false);
        msg::shownTexts().clear();
        FrmBiblio* books = main.booksWindow();
        msg::queueAnswer(msg::Answer::No);
        main.findChild<QAction*>(QStringLiteral("MnFileEsci"))->trigger();
        QCOMPARE(msg::shownTexts(), QStringList{kQuitQuestion});
        QVERIFY(main.isVisible());
        QCOMPARE(main.booksWindow(), books);
        QCOMPARE(m_ends, 0);

        // Yes ends the program at once: the books window is not asked to close.
        msg::queueAnswer(msg::Answer::Yes);
        main.Toolbar1_ButtonClick(9);
        QCOMPARE(m_ends, 1);
        QCOMPARE(msg::shownTexts(), (QStringList{kQuitQuestion, kQuitQuestion}));
        QCOMPARE(main.booksWindow(), books);
    }

    // Must stay the last test: once the application has been told to quit, no nested event loop
    // (and so no modal dialog) runs again in this process.
    void yesLeavesTheEventLoop()
    {
        MDIForm1::setEndProgram({});
        MDIForm1 main;
        startOnDefault(main);
        msg::queueAnswer(msg::Answer::Yes);
        QEventLoop loop;
        bool timedOut = false;
        QTimer::singleShot(0, &main, &MDIForm1::MnFileEsci_Click);
        QTimer::singleShot(5000, &loop, [&] {
            timedOut = true;
            loop.exit(1);
        });
        QCOMPARE(loop.exec(), 0);
        QVERIFY(!timedOut);
        QVERIFY(!main.isVisible());
    }
};

CARTEO_TEST_MAIN(TestShell)
#include "tst_shell.moc"
