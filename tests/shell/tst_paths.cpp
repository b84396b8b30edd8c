// Where the program keeps avvio.ini, its archives and photos: beside a portable copy that can
// write its own folder, in the user's data folder for an installed program.

#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kTemplate = QStringLiteral("archivio/$vuoto$.md$");

// Every file and folder under `root`, relative to it, sorted.
QStringList everything(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        found << QDir(root).relativeFilePath(it.next());
    }
    found.sort();
    return found;
}

} // namespace

class TestPaths : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    QTemporaryDir m_root;
    QString m_userData;

    // An installation as `cmake --install` lays it out: bin/carteo, share/carteo/guida.html and
    // share/carteo/archivio/$vuoto$.md$. Returns the prefix.
    QString makeInstall()
    {
        const QDir prefix(m_root.filePath(QStringLiteral("usr")));
        if (!prefix.mkpath(QStringLiteral("bin")) || !prefix.mkpath(QStringLiteral("share/carteo/archivio"))) {
            return {};
        }
        QFile program(prefix.filePath(QStringLiteral("bin/carteo")));
        QFile guide(prefix.filePath(QStringLiteral("share/carteo/guida.html")));
        if (!program.open(QIODevice::WriteOnly) || !guide.open(QIODevice::WriteOnly)) {
            return {};
        }
        guide.write("<html lang=\"it\"></html>");
        store::Archive::create(prefix.filePath(QStringLiteral("share/carteo/") + kTemplate));
        return prefix.path();
    }

    // A portable folder as the build lays it out: archivio/ with the template and the default archive.
    QString makePortable()
    {
        const QDir folder(m_root.filePath(QStringLiteral("Carteo")));
        if (!folder.mkpath(QStringLiteral("archivio"))) {
            return {};
        }
        store::Archive::create(folder.filePath(kTemplate));
        store::Archive::create(folder.filePath(QStringLiteral("archivio/archivio.mdb")));
        return folder.path();
    }

    static QString lineEdit(const MDIForm1& main, const char* name)
    {
        return main.findChild<QLineEdit*>(QLatin1String(name))->text();
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        // The user's data folder of the tests (under ~/.qttest), never the user's own.
        QStandardPaths::setTestModeEnabled(true);
        // As the program names itself: the data folder is share/Carteo.
        QCoreApplication::setOrganizationName(QString());
        QCoreApplication::setApplicationName(QStringLiteral("Carteo"));
        for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
            QSettings::setPath(format, QSettings::UserScope, m_root.filePath(QStringLiteral("impostazioni")));
        }
        m_userData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QVERIFY(m_userData.contains(QStringLiteral(".qttest")));
        QVERIFY2(m_userData.endsWith(QStringLiteral("/share/Carteo")), qPrintable(m_userData));
        QDir(m_userData).removeRecursively();
    }

    void init() { testsupport::resetShellState(); }

    void cleanup()
    {
        paths::setProgramFolderForTests(QString());
        QDir(m_userData).removeRecursively();
    }

    void readOnlyInstallKeepsTheFilesInTheUserDataFolder()
    {
        const QString prefix = makeInstall();
        QVERIFY(!prefix.isEmpty());
        const QStringList installed = everything(prefix);
        const testsupport::ReadOnlyFolder readOnly(prefix, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        paths::setProgramFolderForTests(prefix + QStringLiteral("/bin"));

        QCOMPARE(paths::programFolder(), m_userData);
        QVERIFY(!paths::isPortable());
        QCOMPARE(paths::startupFilePath(), m_userData + QStringLiteral("/avvio.ini"));
        QCOMPARE(paths::templateArchivePath(), m_userData + QStringLiteral("/") + kTemplate);
        QCOMPARE(paths::guidePath(), prefix + QStringLiteral("/share/carteo/guida.html"));
        // Made at the first use: the template, an empty default archive, the photo folder.
        QCOMPARE(testsupport::readFile(paths::templateArchivePath()),
                 testsupport::readFile(prefix + QStringLiteral("/share/carteo/") + kTemplate));
        QVERIFY(QFileInfo(paths::templateArchivePath()).isWritable());
        QVERIFY(store::files::integrityProblems(paths::defaultArchivePath()).isEmpty());
        QVERIFY(QFileInfo(m_userData + QStringLiteral("/foto")).isDir());

        // The program starts on the default archive of the user's folder, asking nothing.
        {
            MDIForm1 main;
            main.show();
            main.MDIForm_Load();
            QVERIFY(main.booksWindow());
            QCOMPARE(msg::shownTexts(), QStringList());
            QCOMPARE(lineEdit(main, "Text1"), m_userData + QStringLiteral("/archivio/archivio.mdb"));
            QCOMPARE(testsupport::readFile(paths::startupFilePath()),
                     (m_userData + QStringLiteral("/archivio/archivio.mdb\r\n")).toUtf8());
        }
        QCOMPARE(everything(prefix), installed);
    }

    void userDataFolderIsMadeOnceAndThenKept()
    {
        const QString prefix = makeInstall();
        QVERIFY(!prefix.isEmpty());
        const testsupport::ReadOnlyFolder readOnly(prefix, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        paths::setProgramFolderForTests(prefix + QStringLiteral("/bin"));
        QCOMPARE(paths::programFolder(), m_userData);
        // The user works on an archive elsewhere and has no default archive any more.
        const QString elsewhere = m_root.filePath(QStringLiteral("altrove.mdb"));
        paths::writeStartupFile(elsewhere);
        QVERIFY(QFile::remove(paths::defaultArchivePath()));
        QFile templ(paths::templateArchivePath());
        QVERIFY(templ.open(QIODevice::Append));
        templ.write("mio");
        templ.close();
        const QByteArray ownTemplate = testsupport::readFile(paths::templateArchivePath());

        // The next start finds it all as it was left.
        paths::setProgramFolderForTests(QString());
        paths::setProgramFolderForTests(prefix + QStringLiteral("/bin"));
        QCOMPARE(paths::programFolder(), m_userData);
        QCOMPARE(paths::readStartupFile(), elsewhere);
        QVERIFY(!QFile::exists(paths::defaultArchivePath()));
        QCOMPARE(testsupport::readFile(paths::templateArchivePath()), ownTemplate);
    }

    void writableFolderKeepsEverythingBesideTheProgram()
    {
        const QString folder = makePortable();
        QVERIFY(!folder.isEmpty());
        // An installation beside it does not change what a folder with its own archivio/ is.
        QVERIFY(!makeInstall().isEmpty());
        QVERIFY(QDir(m_root.path()).rename(QStringLiteral("usr/share"), QStringLiteral("share")));
        paths::setProgramFolderForTests(folder);

        QCOMPARE(paths::programFolder(), folder);
        QVERIFY(paths::isPortable());
        QCOMPARE(paths::guidePath(), folder + QStringLiteral("/guida.html"));
        {
            MDIForm1 main;
            main.show();
            main.MDIForm_Load();
            QVERIFY(main.booksWindow());
            QCOMPARE(lineEdit(main, "Text1"), folder + QStringLiteral("/archivio/archivio.mdb"));
        }
        QVERIFY(QFile::exists(folder + QStringLiteral("/avvio.ini")));
        // Nothing of the program's, and no probe, is left anywhere else.
        QVERIFY(!QFileInfo::exists(m_userData));
        QVERIFY(everything(folder).filter(QStringLiteral("prova")).isEmpty());
    }

    void portableStartupFileNamingAnArchiveElsewhereKeepsWorking()
    {
        const QString folder = makePortable();
        QVERIFY(!folder.isEmpty());
        const QString elsewhere = m_root.filePath(QStringLiteral("rete/biblioteca.mdb"));
        QVERIFY(QDir().mkpath(QFileInfo(elsewhere).absolutePath()));
        store::Archive::create(elsewhere);
        paths::setProgramFolderForTests(folder);
        paths::writeStartupFile(elsewhere);
        {
            MDIForm1 main;
            main.show();
            main.MDIForm_Load();
            QVERIFY(main.booksWindow());
            QCOMPARE(msg::shownTexts(), QStringList());
            QCOMPARE(lineEdit(main, "Text1"), elsewhere);
        }
        QCOMPARE(paths::readStartupFile(), elsewhere);
        QVERIFY(!QFileInfo::exists(m_userData));
    }

    void installedLayoutThatRootCanWriteStillUsesTheUserDataFolder()
    {
        // Root passes every permission check: the layout, not the probe, tells an installation.
        const QString prefix = makeInstall();
        QVERIFY(!prefix.isEmpty());
        paths::setProgramFolderForTests(prefix + QStringLiteral("/bin"));
        QCOMPARE(paths::programFolder(), m_userData);
        paths::writeStartupFile(paths::defaultArchivePath());
        QCOMPARE(everything(prefix + QStringLiteral("/bin")), QStringList{QStringLiteral("carteo")});
    }

    void readOnlyPortableCopyStartsFromItsOwnTemplate()
    {
        const QString folder = makePortable();
        QVERIFY(!folder.isEmpty());
        const QStringList before = everything(folder);
        const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Mount);
        if (!readOnly.isValid()) {
            QSKIP(qPrintable(readOnly.whyNot()));
        }
        paths::setProgramFolderForTests(folder);
        QCOMPARE(paths::programFolder(), m_userData);
        QCOMPARE(testsupport::readFile(paths::templateArchivePath()),
                 testsupport::readFile(folder + QStringLiteral("/") + kTemplate));
        QVERIFY(QFile::exists(paths::defaultArchivePath()));
        QCOMPARE(everything(folder), before);
    }
};

CARTEO_TEST_MAIN(TestPaths)
#include "tst_paths.moc"
