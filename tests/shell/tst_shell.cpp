// Start-up, the main window and its quit guard, in a temporary program folder.
#include "books/FrmBiblio.h"
#include "controls/DBList.h"
#include "shell/FileDialogs.h"
#include "shell/MDIForm1.h"
#include "shell/Messages.h"
#include "shell/Modulo1.h"
#include "shell/Paths.h"
#include "shell/Startup.h"
#include "store/Archive.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

namespace {

const QString kCr = QStringLiteral("\r");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

} // namespace

class TestShell : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_ends = 0;

    QString folder() const { return m_dir->path(); }

    // A program folder with its default archive holding one book.
    void makeProgramFolder()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        paths::setProgramFolderForTests(folder());
        QDir(folder()).mkpath(QStringLiteral("archivio"));
        store::Archive::create(paths::defaultArchivePath());
        store::Archive::open(paths::defaultArchivePath())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE')"));
    }

    QString otherArchive(const QString& name)
    {
        const QString path = m_dir->filePath(name);
        store::Archive::create(path);
        store::Archive::open(path)->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (7, 'ALTRO')"));
        return path;
    }

    static QString bookTitle(MDIForm1& main)
    {
        return main.booksWindow() ? main.booksWindow()->findChild<QLineEdit*>(QStringLiteral("TxtFields_0"))->text()
                                  : QString();
    }

    static QString text1(MDIForm1& main) { return main.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }

private slots:
    void initTestCase()
    {
        MDIForm1::setEndProgram([this] { ++m_ends; });
    }

    void init()
    {
        makeProgramFolder();
        msg::clearQueuedAnswers();
        msg::shownTexts().clear();
        dialogs::clearQueuedChoices();
        m_ends = 0;
    }

    void splitsArchivePaths()
    {
        const QList<QStringList> cases = {
            {QStringLiteral("\\\\server\\share\\lib\\a.mdb"), QStringLiteral("\\\\server\\share\\lib\\"), QStringLiteral("a.mdb")},
            {QStringLiteral("C:\\dati\\archivio.mdb"), QStringLiteral("C:\\dati\\"), QStringLiteral("archivio.mdb")},
            {QStringLiteral("/home/anna/libri/a.mdb"), QStringLiteral("/home/anna/libri/"), QStringLiteral("a.mdb")},
            {QStringLiteral("C:\\dati/misto/b.mdb"), QStringLiteral("C:\\dati/misto/"), QStringLiteral("b.mdb")},
            {QStringLiteral("\\\\server"), QStringLiteral("\\\\"), QStringLiteral("server")},
            {QStringLiteral("abc.mdb"), QStringLiteral("ab"), QStringLiteral("c.mdb")},
            {QString(), QString(), QString()},
        };
        for (const QStringList& c : cases) {
            const paths::Split split = paths::splitArchivePath(c[0]);
            QCOMPARE(split.folder, c[1]);
            QCOMPARE(split.file, c[2]);
        }
        MDIForm1 main;
        main.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("\\\\server\\share\\lib\\a.mdb"));
        main.TrovaPercoServ();
        QCOMPARE(Modulo1::CartellaArchivio, QStringLiteral("\\\\server\\share\\lib\\"));
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("a.mdb"));
    }

    void startupFileKeepsOneUtf8Line()
    {
        writeAll(paths::startupFilePath(), "una riga lunga\r\nseconda riga\r\n");
        const QString accented = QStringLiteral("/home/niccolò/biblioteca/perché.mdb");
        paths::writeStartupFile(accented);
        QCOMPARE(readAll(paths::startupFilePath()), accented.toUtf8() + "\r\n");
        QCOMPARE(paths::readStartupFile(), accented);
        writeAll(paths::startupFilePath(), "C:\\dati\\a.mdb\nignorata\n");
        QCOMPARE(paths::readStartupFile(), QStringLiteral("C:\\dati\\a.mdb"));
        writeAll(paths::startupFilePath(), "");
        try {
            paths::readStartupFile();
            QFAIL("an empty file gave a path");
        } catch (const store::DbError& e) {
            QCOMPARE(e.number(), int(store::ErrPastEndOfFile));
        }
    }

    void firstStartCreatesTheStartupFile()
    {
        QVERIFY(!QFile::exists(paths::startupFilePath()));
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(readAll(paths::startupFilePath()), paths::defaultArchivePath().toUtf8() + "\r\n");
        QCOMPARE(Modulo1::PercorsoArchivio, paths::defaultArchivePath());
        QCOMPARE(text1(main), paths::defaultArchivePath());
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("archivio.mdb"));
        QCOMPARE(Modulo1::CartellaArchivio, paths::archiveFolder() + QLatin1Char('/'));
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(main.windowTitle(), QStringLiteral("Carteo"));
        auto* date = main.findChild<QMenu*>(QStringLiteral("MnuData"));
        QCOMPARE(date->title(),
                 QLocale().toString(QDate::currentDate(), QStringLiteral("ddd dd MMMM yyyy")).toUpper());
        QCOMPARE(date->title(), date->title().toUpper());
        QVERIFY(msg::shownTexts().isEmpty());
        QCOMPARE(main.y(), 0);
    }

    void missingArchiveAsksForAnother()
    {
        const QString missing = m_dir->filePath(QStringLiteral("sparito.mdb"));
        paths::writeStartupFile(missing);
        const QString other = otherArchive(QStringLiteral("altro.mdb"));
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(other);
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(),
                 QStringList{QStringLiteral("Impossibile trovare il file ") + missing + kCr +
                             QStringLiteral("Selezionare un file valido!")});
        QCOMPARE(paths::readStartupFile(), other);
        QCOMPARE(text1(main), other);
        QCOMPARE(bookTitle(main), QStringLiteral("ALTRO"));
    }

    void emptyStartupFileAndCancelledChoice()
    {
        writeAll(paths::startupFilePath(), "");
        // The message, a cancelled dialog, "try again" yes, then a typed name that does not exist,
        // the message again, and finally the default archive.
        const QString typo = m_dir->filePath(QStringLiteral("refuso.mdb"));
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(QString());
        msg::queueAnswer(msg::Answer::Yes);
        dialogs::queueChoice(typo);
        msg::queueAnswer(msg::Answer::Ok);
        dialogs::queueChoice(paths::defaultArchivePath());
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts(), (QStringList{
                                        QStringLiteral("Impossibile trovare il file ") + kCr +
                                            QStringLiteral("Selezionare un file valido!"),
                                        QStringLiteral("Occorre scegliere un file mdb. Vuoi riprovare?"),
                                        QStringLiteral("Impossibile trovare il file ") + typo + kCr +
                                            QStringLiteral("Selezionare un file valido!"),
                                    }));
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
        QCOMPARE(m_ends, 0);
    }

    void givingUpAtStartupLeadsToTheQuitQuestion()
    {
        paths::writeStartupFile(m_dir->filePath(QStringLiteral("sparito.mdb")));
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
        QCOMPARE(m_ends, 1);
        QCOMPARE(msg::shownTexts().size(), 6);
        QCOMPARE(msg::shownTexts().at(2), QStringLiteral("Si vuole uscire dal programma?"));
        QCOMPARE(msg::shownTexts().at(5), QStringLiteral("Si vuole uscire dal programma?"));
        QVERIFY(!main.booksWindow());
    }

    void notAnArchiveIsReportedAndLeftAlone()
    {
        const QString text = m_dir->filePath(QStringLiteral("lettera.mdb"));
        writeAll(text, "Cara Anna, ti scrivo...\n");
        paths::writeStartupFile(text);
        msg::queueAnswer(msg::Answer::Ok);
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QCOMPARE(msg::shownTexts().size(), 1);
        QCOMPARE(msg::shownTexts().constFirst(), store::DbError::describe(store::ErrFileNotArchive));
        QVERIFY(!main.booksWindow());
        QVERIFY(main.isVisible());
        QCOMPARE(readAll(text), QByteArray("Cara Anna, ti scrivo...\n"));
    }

    void openArchiveFromTheMenu()
    {
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QPointer<FrmBiblio> first = main.booksWindow();
        // Cancelling changes nothing and says nothing.
        dialogs::queueChoice(QString());
        main.MnuFileApri_Click();
        QVERIFY(msg::shownTexts().isEmpty());
        QCOMPARE(main.booksWindow(), first.data());
        // Choosing another archive reopens the books window on it and remembers it.
        const QString other = otherArchive(QStringLiteral("secondo.mdb"));
        dialogs::queueChoice(other);
        main.MnuFileApri_Click();
        QVERIFY(main.booksWindow() != first.data());
        QTRY_VERIFY(first.isNull());
        QCOMPARE(bookTitle(main), QStringLiteral("ALTRO"));
        QCOMPARE(paths::readStartupFile(), other);
        QCOMPARE(Modulo1::FileArchivio, QStringLiteral("secondo.mdb"));
    }

    void menusToolbarAndBooksWindow()
    {
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        QStringList menus;
        for (QAction* a : main.menuBar()->actions()) {
            menus << a->text();
        }
        QCOMPARE(menus.mid(0, 5), (QStringList{"File", "Visualizza", "Opzioni", "?", "      "}));
        for (const char* name : {"MnuFileApri", "MnuFileNew", "MnFileEsci", "MnuVisualBiblio", "MnuVisualAutori",
                                 "MnuVisualEditori", "MnuOpzioniRipara", "MnuOpzioniCopia", "MnuOpzionInserisci",
                                 "mnuabaut"}) {
            QVERIFY2(main.findChild<QAction*>(QString::fromLatin1(name)), name);
        }
        QStringList labels;
        for (QAction* a : main.findChild<QToolBar*>(QStringLiteral("Toolbar1"))->actions()) {
            if (!a->isSeparator() && !a->text().isEmpty()) {
                labels << a->text();
            }
        }
        QCOMPARE(labels, (QStringList{"Biblioteca", "Autori", "Editori", "Anteprima", "Esci"}));
        QCOMPARE(main.findChild<QLineEdit*>(QStringLiteral("Text2"))->text(), QStringLiteral("Nome Archivio"));

        // "Biblioteca" on an open window keeps it, its list and its book.
        FrmBiblio* books = main.booksWindow();
        main.Toolbar1_ButtonClick(1);
        QCOMPARE(main.booksWindow(), books);
        for (int separator : {2, 4, 6, 8, 12}) {
            main.Toolbar1_ButtonClick(separator);
        }
        QVERIFY(msg::shownTexts().isEmpty());
        QCOMPARE(main.mdiArea()->subWindowList().size(), 1);
        // Closed with Escape, then opened again from the menu.
        QTest::keyClick(books->findChild<controls::DBList*>(QStringLiteral("DBList1")), Qt::Key_Escape);
        QTRY_VERIFY(!main.booksWindow());
        main.findChild<QAction*>(QStringLiteral("MnuVisualBiblio"))->trigger();
        QVERIFY(main.booksWindow());
        QCOMPARE(bookTitle(main), QStringLiteral("IL BARONE RAMPANTE"));
    }

    void quitGuard()
    {
        MDIForm1 main;
        main.show();
        main.MDIForm_Load();
        auto* nuovo = main.booksWindow()->findChild<QPushButton*>(QStringLiteral("CmdNuovo"));
        nuovo->setText(QStringLiteral("Annulla"));
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(!main.close());
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("E' in corso una modifica del record!!!") + kCr +
                                                QStringLiteral("Prima di uscire dal programma, occorre Salvare o "
                                                               "Annullare l'operazione")});
        nuovo->setText(QStringLiteral("Nuovo"));
        msg::queueAnswer(msg::Answer::No);
        main.findChild<QAction*>(QStringLiteral("MnFileEsci"))->trigger();
        QVERIFY(main.isVisible());
        QVERIFY(main.booksWindow());
        QCOMPARE(m_ends, 0);
        msg::queueAnswer(msg::Answer::Yes);
        main.Toolbar1_ButtonClick(9);
        QCOMPARE(m_ends, 1);
        QCOMPARE(msg::shownTexts().constLast(), QStringLiteral("Si vuole uscire dal programma?"));
    }

    void questionsUseItalianButtons()
    {
        shell::installItalianTranslations(*QCoreApplication::instance());
        QString yes;
        QString no;
        bool hadIcon = true;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            yes = box->button(QMessageBox::Yes)->text().remove(QLatin1Char('&'));
            no = box->button(QMessageBox::No)->text().remove(QLatin1Char('&'));
            hadIcon = box->icon() != QMessageBox::NoIcon;
            QCOMPARE(box->windowTitle(), QStringLiteral("Carteo"));
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            box->button(QMessageBox::No)->click();
        });
        QCOMPARE(msg::show(QStringLiteral("Si vuole uscire dal programma?"), msg::Icon::None, msg::Buttons::YesNo),
                 msg::Answer::No);
        QCOMPARE(yes, QStringLiteral("Sì"));
        QCOMPARE(no, QStringLiteral("No"));
        QVERIFY(!hadIcon);
    }

    void cleanupTestCase() { paths::setProgramFolderForTests(QString()); }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
