#pragma once

// What every test program shares about archives: temporary archives, raw reads that bypass the
// store, file damage, and the error a call throws. Qt Core, the store and libpq only, so the
// store's own tests link nothing above it.
//
// The same tests run on archive files and, when CARTEO_TEST_SERVER names a server (the CTest runs
// named "..._server"), on databases of that server: ArchiveFolder then makes databases, and
// scalar() and rowCount() read them through a plain server connection.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include <functional>

namespace store {
class Recordset;
}

namespace testsupport {

// The server the tests' archives live on (CARTEO_TEST_SERVER, the address of its "postgres"
// database); empty when they are files.
QString serverAddress();
bool onServer();

// A temporary folder of archives, each made by the program's own schema code. On a server, each
// archive is a new database of that server instead, dropped with the folder; the folder itself is
// still there for the other files a test makes.
class ArchiveFolder {
  public:
    ArchiveFolder();
    ~ArchiveFolder();
    ArchiveFolder(const ArchiveFolder&) = delete;
    ArchiveFolder& operator=(const ArchiveFolder&) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }
    // A new archive named `name` (or a fresh numbered name when empty), with `populateSql` run on
    // it through the store; its full path, or on a server the address of a new database (named
    // from the process and a counter: `name` is not used there).
    QString create(const QString& name = {}, const QString& populateSql = {});

  private:
    QTemporaryDir m_dir;
    int m_count = 0;
    QStringList m_databases;
};

QByteArray readFile(const QString& path);
// Replaces the file's content; false when it cannot be written.
bool writeFile(const QString& path, const QByteArray& content);
// A fingerprint of the file's bytes, to tell whether anything at all changed; for a server address,
// of the rows of every table of its database.
QByteArray digest(const QString& path);
// Bytes of noise, as a damaged disk would leave.
QByteArray randomBytes(int size);
// Overwrites whole pages of an archive (numbered from 1, 4096 bytes) with noise.
bool damagePages(const QString& path, const QList<int>& pages);

// One value from a plain read-only connection of the engine (with the program's collation),
// bypassing the store; a text starting with "ERRORE: " when the SQL is refused. For a server
// address, a plain server connection (unquoted names are folded to lower case there).
QVariant scalar(const QString& path, const QString& sqlText);
// The rows of a table, read as a tool outside the program would; -1 when the archive cannot be
// read.
qint64 rowCount(const QString& path, const QString& table);

// The pages of one b-tree ("leaf", "internal", "overflow"), in tree order, as the engine's page
// statistics list them.
struct Page {
    int number = 0;
    int cells = 0;
};
QList<Page> pagesOf(const QString& path, const QString& table, const QString& type);
QList<int> pageNumbers(const QList<Page>& pages);

// The number of the store error that `action` throws, or 0 when it throws none.
int errorOf(const std::function<void()>& action, QString* description = nullptr);

// Values of one field over the whole result, from the first row to the end.
QStringList columnOf(store::Recordset& rs, const QString& field);

// Another program instance in its own process: the test helper (see helper.cpp), which holds an
// archive open as a window does, or compacts or repairs one and is killed, or stops, on the way.
class OtherProcess {
  public:
    OtherProcess() = default;
    ~OtherProcess(); // kills it if it is still there
    OtherProcess(const OtherProcess&) = delete;
    OtherProcess& operator=(const OtherProcess&) = delete;

    // Starts the helper with `arguments` and waits until it prints `word` (true), or ends or
    // takes too long (false).
    bool start(const QStringList& arguments, const QByteArray& word = "pronto");
    // Closes its input, so it goes on to its end, and waits for it; true when it ended well.
    bool finish();
    // Starts it and waits for it to end; true when it was killed on its way (kill -9).
    bool runUntilKilled(const QStringList& arguments);
    QString output() const { return QString::fromLocal8Bit(m_output); }

  private:
    QProcess m_process;
    QByteArray m_output;
};

} // namespace testsupport

// Skips the running test on a server: for tests about the archive file itself (its bytes, its
// pages, its lock and journal files, the engine's own calls and settings).
#define CARTEO_FILE_ONLY(reason)                                                                                       \
    do {                                                                                                               \
        if (testsupport::onServer()) {                                                                                 \
            QSKIP(reason);                                                                                             \
        }                                                                                                              \
    } while (false)
