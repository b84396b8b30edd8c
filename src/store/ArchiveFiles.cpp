#include "store/ArchiveFiles.h"

#include "store/Collation.h"
#include "store/Salvage.h"
#include "store/Schema.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <sqlite3.h>

#include <filesystem>
#include <system_error>

namespace store::files {
namespace {

constexpr int kBusyTimeoutMs = 5000;
// How long a copy waits for a writer that keeps the source busy before it gives up.
constexpr int kBackupPatienceMs = 10000;
// Pages replaced per step when an archive is rewritten in place (about 1 MB).
constexpr int kPagesPerStep = 256;

std::function<void(const QString&)>& stepHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

std::function<void(const QString&)>& progress()
{
    static std::function<void(const QString&)> report;
    return report;
}

QString& currentStage()
{
    static QString stage;
    return stage;
}

// Engine steps between two progress reports: a few per second on a large archive.
constexpr int kStepsPerReport = 200000;

int reportProgress(void*)
{
    if (progress()) {
        progress()(currentStage());
    }
    return 0; // never interrupts the work
}

void beginStage(const QString& stage)
{
    currentStage() = stage;
    reportProgress(nullptr);
}

void step(const QString& name)
{
    if (stepHook()) {
        stepHook()(name);
    }
}

// One raw connection to an archive file: no schema check, no presence. Used on files that are
// held exclusively or that windows never open (the template, the temporary files).
class Db {
  public:
    Db(const QString& path, int flags)
    {
        const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
        const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
        if (rc != SQLITE_OK) {
            const int number = errorNumberFor(rc);
            sqlite3_close(m_db);
            m_db = nullptr;
            throw DbError(number);
        }
        sqlite3_extended_result_codes(m_db, 1);
        sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
        // The indexes are ordered by the program's collation: checking or copying them needs it.
        registerCollation(m_db);
        sqlite3_progress_handler(m_db, kStepsPerReport, reportProgress, nullptr);
    }
    ~Db() { sqlite3_close_v2(m_db); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    sqlite3* get() const { return m_db; }

  private:
    sqlite3* m_db = nullptr;
};

bool looksLikeArchiveFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

// Copies every page of `source` into `dest` through the engine's online backup. With `pages` = -1
// the whole source is read in one transaction, so the copy is a consistent picture even while
// others write to it. Until the copy is complete the destination keeps its old content.
void backupInto(sqlite3* source, sqlite3* dest, int pages, const QString& stepName = {})
{
    sqlite3_backup* backup = sqlite3_backup_init(dest, "main", source, "main");
    if (!backup) {
        throwSqlite(dest, sqlite3_extended_errcode(dest));
    }
    // Finishing an unfinished backup rolls the destination back to what it was.
    struct Finish {
        sqlite3_backup* b;
        ~Finish() { sqlite3_backup_finish(b); }
    } finish{backup};
    QDeadlineTimer patience(kBackupPatienceMs);
    for (;;) {
        const int rc = sqlite3_backup_step(backup, pages);
        if (rc == SQLITE_DONE) {
            break;
        }
        if (rc == SQLITE_OK) {
            reportProgress(nullptr);
            if (!stepName.isEmpty()) {
                step(stepName);
            }
            continue;
        }
        if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && !patience.hasExpired()) {
            sqlite3_sleep(20);
            continue;
        }
        throwSqlite(dest, rc);
    }
}

QMap<QString, qint64> rowCounts(sqlite3* db)
{
    QMap<QString, qint64> counts;
    for (const QString& table : schema::tables()) {
        Statement st(db, QStringLiteral("SELECT count(*) FROM ") + table);
        st.step();
        counts.insert(table, st.int64(0));
    }
    return counts;
}

QStringList checkIntegrity(sqlite3* db)
{
    QStringList problems;
    try {
        Statement st(db, QStringLiteral("PRAGMA integrity_check(20)"));
        while (st.step()) {
            const QString line = st.value(0).toString();
            if (line != QLatin1String("ok")) {
                problems << line;
            }
        }
    } catch (const DbError& e) {
        // A file the check cannot even read is damaged as well; a lock or a disk error says
        // nothing about the archive and stops the repair instead.
        if (e.number() != ErrFileNotArchive) {
            throw;
        }
        problems << e.description();
    }
    return problems;
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdU16String());
}

// Writes `source` into a new file beside `target` and moves it over `target` in one step.
void replaceByRename(sqlite3* source, const QString& target)
{
    const QString temp = QFileInfo(target).absoluteFilePath() + QStringLiteral(".nuovo");
    QFile::remove(temp);
    try {
        Db dest(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        backupInto(source, dest.get(), -1);
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    std::error_code error;
    std::filesystem::rename(fsPath(temp), fsPath(target), error);
    if (error) {
        QFile::remove(temp);
        throw DbError(ErrPermissionDenied);
    }
}

// Gives `target` the content of `source`. An existing archive is rewritten in place through its
// journal, so that anyone who opens it later finds either the old or the new archive whole;
// a missing file, or one that is not an archive, is replaced by a complete new file.
void replaceContents(sqlite3* source, const QString& target, const QString& stepName = {})
{
    if (QFileInfo::exists(target) && looksLikeArchiveFile(target)) {
        try {
            Db dest(target, SQLITE_OPEN_READWRITE);
            backupInto(source, dest.get(), stepName.isEmpty() ? -1 : kPagesPerStep, stepName);
            return;
        } catch (const DbError& e) {
            // A read-only file is opened for reading only, and refuses the first write.
            if (e.number() == ErrReadOnly) {
                throw DbError(ErrPermissionDenied);
            }
            // A damaged file cannot be rewritten page by page: it is replaced whole below.
            if (e.number() != ErrFileNotArchive) {
                throw;
            }
        }
    }
    replaceByRename(source, target);
}

// Removes a file the program wrote earlier; throws 75 when it stays.
void removeLeftover(const QString& path)
{
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        throw DbError(ErrPathFileAccess, QStringLiteral("Impossibile eliminare il file '%1'.").arg(path));
    }
}

QString datedName(const QString& path)
{
    const QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString candidate;
    for (int n = 1;; ++n) {
        candidate = info.dir().filePath(info.completeBaseName() + QStringLiteral("-danneggiato-") + stamp +
                                        (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + suffix);
        if (!QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
}

ErrorItem damageItem(const QStringList& problems)
{
    return ErrorItem{ErrFileNotArchive, QStringLiteral("L'archivio è danneggiato: ") +
                                            (problems.isEmpty() ? QString() : problems.first())};
}

// A whole-file operation needs the archive to itself: an engine lock held by someone else means
// the archive is in use, not that one record is busy.
template <typename F> auto wholeFile(F&& work)
{
    try {
        return work();
    } catch (const DbError& e) {
        if (e.number() == ErrLocked && e.errors().size() == 1) {
            throw DbError(ErrInUse);
        }
        throw;
    }
}

} // namespace

// ---------------------------------------------------------------- ExclusiveUse

ExclusiveUse::ExclusiveUse(const QString& archivePath)
    : m_path(QFileInfo(archivePath).absoluteFilePath()),
      m_lock(PresenceLock::acquire(m_path, PresenceLock::Mode::Exclusive))
{
    // A lock file that exists but cannot be locked (another user's, on a share) may stand for
    // windows open elsewhere: refuse rather than guess.
    if (!m_lock && QFileInfo::exists(PresenceLock::lockFilePath(m_path))) {
        throw DbError(ErrInUse);
    }
}

bool sameFile(const QString& a, const QString& b)
{
    std::error_code error;
    return QFileInfo::exists(a) && QFileInfo::exists(b) && std::filesystem::equivalent(fsPath(a), fsPath(b), error) &&
           !error;
}

ExclusiveUse::~ExclusiveUse()
{
    m_lock.reset();
    // No archive came of it (a copy that failed): nobody can be opening a missing file, so its
    // lock file goes too.
    if (!QFileInfo::exists(m_path)) {
        QFile::remove(PresenceLock::lockFilePath(m_path));
    }
}

// ---------------------------------------------------------------- copies

void copyArchive(const QString& source, const QString& target)
{
    return wholeFile([&] {
        // Opened as any window opens it: a repair or compaction under way elsewhere refuses the copy.
        const std::shared_ptr<Archive> archive = Archive::open(source);
        if (sameFile(source, target)) {
            throw DbError(ErrInUse); // the archive being copied is open for the copy
        }
        const ExclusiveUse use(target);
        beginStage(QStringLiteral("Copia dell'archivio..."));
        replaceContents(archive->handle(), use.path());
    });
}

void copyTemplate(const QString& templatePath, const QString& target)
{
    return wholeFile([&] {
        if (sameFile(templatePath, target)) {
            throw DbError(ErrPermissionDenied);
        }
        if (!QFileInfo(templatePath).isFile()) {
            throw DbError(ErrFileNotFound, QStringLiteral("Impossibile trovare il file '%1'.").arg(templatePath));
        }
        const ExclusiveUse use(target);
        const Db source(templatePath, SQLITE_OPEN_READONLY);
        schema::check(source.get());
        replaceContents(source.get(), use.path());
    });
}

// ---------------------------------------------------------------- integrity and repair

QStringList integrityProblems(const QString& path)
{
    return wholeFile([&] {
        const Db db(path, SQLITE_OPEN_READONLY);
        return checkIntegrity(db.get());
    });
}

RepairOutcome repair(const ExclusiveUse& archive)
{
    return wholeFile([&] {
        const QString& path = archive.path();
        RepairOutcome outcome;
        beginStage(QStringLiteral("Controllo dell'archivio..."));
        {
            // Read-write, so that a change left half-written by a crash is rolled back first.
            const Db db(path, SQLITE_OPEN_READWRITE);
            outcome.problems = checkIntegrity(db.get());
            if (outcome.problems.isEmpty()) {
                // A sound file that is not an archive of this program cannot be repaired either.
                schema::check(db.get());
                return outcome;
            }
        }
        outcome.damaged = true;

        const QString fresh = path + QStringLiteral(".riparato");
        QFile::remove(fresh);
        struct RemoveFresh {
            const QString& name;
            ~RemoveFresh() { QFile::remove(name); }
        } removeFresh{fresh};
        beginStage(QStringLiteral("Recupero dei dati leggibili..."));
        try {
            Archive::create(fresh);
            const salvage::Outcome saved = salvage::salvage(path, fresh, [] { reportProgress(nullptr); });
            outcome.rowsSaved = saved.rowsSaved;
            outcome.rowsPerTable = saved.rowsPerTable;
            outcome.rowsIncomplete = saved.rowsIncomplete;
        } catch (const DbError& e) {
            QList<ErrorItem> items{damageItem(outcome.problems)};
            items.append(e.errors());
            throw DbError(items);
        }

        // The damaged file is kept as it was, for whoever may still recover more from it.
        outcome.keptAs = datedName(path);
        if (!QFile::copy(path, outcome.keptAs)) {
            throw DbError({damageItem(outcome.problems),
                           ErrorItem{ErrPathFileAccess, QStringLiteral("Impossibile conservare l'archivio danneggiato "
                                                                       "come '%1'.")
                                                            .arg(outcome.keptAs)}});
        }
        try {
            const Db source(fresh, SQLITE_OPEN_READONLY);
            replaceContents(source.get(), path);
        } catch (const DbError& e) {
            QList<ErrorItem> items{damageItem(outcome.problems)};
            items.append(e.errors());
            throw DbError(items);
        }
        return outcome;
    });
}

// ---------------------------------------------------------------- compaction

void compact(const ExclusiveUse& archive, const QString& workFolder)
{
    return wholeFile([&] {
        const QString& path = archive.path();
        const QString before = QDir(workFolder).filePath(kBeforeCompaction);
        const QString compacted = QDir(workFolder).filePath(kCompacted);
        // One compaction at a time in a work folder: another one (a second computer running the
        // program from the same folder) would take these files for its own.
        const QString workName = QDir(workFolder).filePath(QStringLiteral("compattazione"));
        const std::unique_ptr<PresenceLock> workLock = PresenceLock::acquire(workName, PresenceLock::Mode::Exclusive);
        if (!workLock && QFileInfo::exists(PresenceLock::lockFilePath(workName))) {
            throw DbError(ErrInUse);
        }
        // Left over from a compaction that failed: the archive itself was whole then, as it is now.
        removeLeftover(before);
        removeLeftover(compacted);

        beginStage(QStringLiteral("Compattazione dell'archivio..."));
        QMap<QString, qint64> counts;
        {
            const Db source(path, SQLITE_OPEN_READWRITE);
            const Db copy(before, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            backupInto(source.get(), copy.get(), -1);
            counts = rowCounts(copy.get());
        }
        step(QStringLiteral("dacomp1"));

        {
            const Db copy(before, SQLITE_OPEN_READONLY);
            Statement vacuum(copy.get(), QStringLiteral("VACUUM INTO ?1"));
            vacuum.bind(1, QFileInfo(compacted).absoluteFilePath());
            vacuum.step();
        }
        step(QStringLiteral("comp1"));

        beginStage(QStringLiteral("Verifica dell'archivio compattato..."));
        {
            const Db result(compacted, SQLITE_OPEN_READONLY);
            const QStringList problems = checkIntegrity(result.get());
            if (!problems.isEmpty()) {
                throw DbError(ErrFileNotArchive,
                              QStringLiteral("La copia compattata non è integra: ") + problems.first());
            }
            schema::check(result.get());
            if (rowCounts(result.get()) != counts) {
                throw DbError(ErrFileNotArchive, QStringLiteral("La copia compattata non contiene tutti i record."));
            }
        }
        step(QStringLiteral("verifica"));

        beginStage(QStringLiteral("Sostituzione dell'archivio..."));
        {
            const Db result(compacted, SQLITE_OPEN_READONLY);
            replaceContents(result.get(), path, QStringLiteral("sostituzione"));
        }
        {
            const Db placed(path, SQLITE_OPEN_READONLY);
            if (rowCounts(placed.get()) != counts) {
                // Never expected; the copy taken first puts the archive back as it was.
                const Db original(before, SQLITE_OPEN_READONLY);
                replaceContents(original.get(), path);
                throw DbError(ErrDiskOrNetwork);
            }
        }
        step(QStringLiteral("pulizia"));
        QFile::remove(before);
        QFile::remove(compacted);
    });
}

void setProgress(std::function<void(const QString& stage)> report)
{
    progress() = std::move(report);
}

void setStepHook(std::function<void(const QString& step)> hook)
{
    stepHook() = std::move(hook);
}

} // namespace store::files
