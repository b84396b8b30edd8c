#include "store/ArchiveFiles.h"

#include "store/Collation.h"
#include "store/Folders.h"
#include "store/RawFile.h"
#include "store/Salvage.h"
#include "store/Schema.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QStorageInfo>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

namespace store::files {
namespace {

// How long a copy waits for a writer that keeps the source busy before it gives up.
constexpr int kBackupPatienceMs = 10000;
// Pages replaced per step when an archive is rewritten in place (about 1 MB).
constexpr int kPagesPerStep = 256;
// A file read page by page to learn whether rows can be saved from it: not larger than this (a
// catalogue of a million books takes about 350 MB), made of pages of at least this size.
constexpr qint64 kLargestSurvey = qint64(4) * 1024 * 1024 * 1024;
constexpr qint64 kSmallestPage = 512;

// The working files beside an archive, by what the program adds to its name: the rebuilt archive
// of a repair and the new file it is first made as, a new file not yet moved into place, the copy
// of a damaged original not yet given its dated name, and their journals.
const QStringList kCompanionSuffixes{QStringLiteral(".riparato"),       QStringLiteral(".riparato-journal"),
                                     QStringLiteral(".riparato.nuovo"), QStringLiteral(".riparato.nuovo-journal"),
                                     QStringLiteral(".nuovo"),          QStringLiteral(".nuovo-journal"),
                                     QStringLiteral(".originale")};
// The longest of those suffixes: an archive's name must leave room for it.
constexpr int kLongestSuffix = 23; // ".riparato.nuovo-journal"
const QString kRebuilt = QStringLiteral(".riparato");
const QString kOriginalCopy = QStringLiteral(".originale");

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

} // namespace

void step(const QString& name)
{
    if (stepHook()) {
        stepHook()(name);
    }
}

namespace {

// A raw connection that reports its progress to the long commands' progress display.
class Db : public rawfile::Connection {
  public:
    Db(const QString& path, int flags) : Connection(path, flags)
    {
        sqlite3_progress_handler(get(), kStepsPerReport, reportProgress, nullptr);
    }
};

bool looksLikeArchiveFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3", 16);
}

// The archive file itself cannot be written, though its folder can.
DbError readOnlyFile(const QString& path)
{
    return DbError(ErrPermissionDenied,
                   QStringLiteral("Il file dell'archivio '%1' è di sola lettura: il programma non può riscriverlo. "
                                  "Togliere al file la sola lettura e riprovare.")
                       .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
}

// Checked before the work starts, so that nothing is begun that cannot be finished.
void requireWritableFile(const QString& path)
{
    if (folders::fileWriteProblem(path) == folders::Problem::ReadOnly) {
        throw readOnlyFile(path);
    }
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
    Statement exists(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1"));
    for (const QString& table : schema::tables()) {
        // An archive of an older version has no loans yet: none to lose.
        exists.reset();
        exists.bind(1, table);
        if (!exists.step()) {
            counts.insert(table, 0);
            continue;
        }
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

using rawfile::fsPath;

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
        QFile::remove(temp + QStringLiteral("-journal")); // a disk that filled up may leave it
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
            try {
                backupInto(source, dest.get(), stepName.isEmpty() ? -1 : kPagesPerStep, stepName);
            } catch (const DbError&) {
                // A write that failed half-way (a disk that filled up) can leave its journal to be
                // played back by the next reader: a reader now puts the file back as it was, at
                // once (playing the journal back only rewrites pages the file has).
                try {
                    const Db again(target, SQLITE_OPEN_READWRITE);
                    Statement(again.get(), QStringLiteral("SELECT count(*) FROM sqlite_master")).step();
                } catch (const DbError&) {
                    // The journal stays for whoever opens the archive next.
                }
                throw;
            }
            return;
        } catch (const DbError& e) {
            // A read-only file is opened for reading only, and refuses the first write.
            if (e.number() == ErrReadOnly) {
                throw readOnlyFile(target);
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

QString nativeFolder(const QString& folder)
{
    return QDir::toNativeSeparators(QDir(folder).absolutePath());
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

DbError diskFull(const QString& folder)
{
    return DbError(ErrDiskFull, QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per scrivere.")
                                    .arg(nativeFolder(folder)));
}

// The cause, named with its folder, when `folder` cannot be written; `readOnly` is the number a
// folder without permission gets (the archive's folder or the program folder).
std::optional<DbError> folderError(const QString& folder, int readOnly)
{
    switch (folders::writeProblem(folder)) {
    case folders::Problem::ReadOnly:
        if (readOnly == ErrProgramFolderNotWritable) {
            return DbError(readOnly, QStringLiteral("Impossibile scrivere nella cartella del programma '%1': la "
                                                    "compattazione vi prepara l'archivio compattato.")
                                         .arg(nativeFolder(folder)));
        }
        return DbError(readOnly, QStringLiteral("La cartella '%1' è di sola lettura: il programma non può scrivervi "
                                                "l'archivio.")
                                     .arg(nativeFolder(folder)));
    case folders::Problem::Full:
        return diskFull(folder);
    case folders::Problem::Missing:
        return DbError(ErrPathNotFound,
                       QStringLiteral("Impossibile trovare la cartella '%1'.").arg(nativeFolder(folder)));
    case folders::Problem::None:
    case folders::Problem::Unknown:
        break;
    }
    return std::nullopt;
}

// Checked before the work starts, so that nothing is begun that cannot be finished.
void requireWritable(const QString& folder, int readOnly)
{
    if (const std::optional<DbError> error = folderError(folder, readOnly)) {
        throw *error;
    }
}

struct Written {
    QString folder;
    int readOnly; // ErrArchiveFolderReadOnly or ErrProgramFolderNotWritable
};

// A write that failed with a vague number (a disk error, a file that cannot be created or
// written) gets the cause the folders it wrote to show now, named with the folder.
DbError explained(const DbError& error, const QList<Written>& written)
{
    static const QList<int> vague{ErrDiskFull, ErrDiskOrNetwork, ErrReadOnly, ErrPermissionDenied, ErrPathFileAccess};
    if (!vague.contains(error.number()) || error.errors().size() != 1) {
        return error;
    }
    for (const Written& w : written) {
        if (std::optional<DbError> cause = folderError(w.folder, w.readOnly)) {
            return *cause;
        }
    }
    // The space freed when the unfinished file was removed, or a last block too small for the
    // engine's next write, hides a full disk from the check: the fullest one is named.
    if (error.number() == ErrDiskFull && !written.isEmpty()) {
        const auto fullest = std::min_element(written.begin(), written.end(), [](const Written& a, const Written& b) {
            return QStorageInfo(a.folder).bytesAvailable() < QStorageInfo(b.folder).bytesAvailable();
        });
        return diskFull(fullest->folder);
    }
    return error;
}

// Removes each of `files` that exists; adds those that stay to `stayed`.
void removeFiles(const QStringList& files, QStringList& stayed)
{
    for (const QString& file : files) {
        if (QFileInfo::exists(file) && !QFile::remove(file)) {
            stayed << file;
        }
    }
}

QStringList compactionFiles(const QString& workFolder)
{
    QStringList files;
    for (const QString& name : {kBeforeCompaction, kCompacted}) {
        files << QDir(workFolder).filePath(name) << QDir(workFolder).filePath(name + QStringLiteral("-journal"));
    }
    return files;
}

QString workLockName(const QString& workFolder)
{
    return QDir(workFolder).filePath(QStringLiteral("compattazione"));
}

QString datedName(const QString& path, const QString& word = QStringLiteral("danneggiato"))
{
    const QFileInfo info(path);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    // The kept original must be an archive the program can open: its name leaves room for the
    // program's suffixes too, so a long base name is shortened.
    const int limit = folders::nameLimit(info.absolutePath()) - kLongestSuffix;
    QString candidate;
    for (int n = 1;; ++n) {
        const QString tail = QLatin1Char('-') + word + QLatin1Char('-') + stamp +
                             (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + suffix;
        QString base = info.completeBaseName();
        while (!base.isEmpty() && folders::nameLength(base + tail) > limit) {
            base.chop(1);
        }
        candidate = info.dir().filePath(base + tail);
        if (!QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
}

// Copies the damaged original under a working name first, so that a copy cut short never
// wears the dated name of a kept original; only the complete copy is renamed.
void keepOriginal(const QString& path, const QString& keptAs, const QString& what = QStringLiteral("danneggiato"))
{
    const QString temp = path + kOriginalCopy;
    std::error_code error;
    std::filesystem::copy_file(fsPath(path), fsPath(temp), std::filesystem::copy_options::overwrite_existing, error);
    if (!error) {
        std::filesystem::rename(fsPath(temp), fsPath(keptAs), error);
    }
    if (!error) {
        return;
    }
    QFile::remove(temp);
    const DbError failure(ErrPathFileAccess,
                          QStringLiteral("Impossibile conservare l'archivio %1 come '%2'.").arg(what, keptAs));
    if (error == std::errc::no_space_on_device) {
        throw diskFull(folderOf(path));
    }
    throw explained(failure, {{folderOf(path), ErrArchiveFolderReadOnly}});
}

// What the integrity check found is in the detail: in the engine's words, of no use to the user.
ErrorItem damageItem(const QStringList& problems)
{
    return ErrorItem{ErrFileNotArchive, QStringLiteral("L'archivio è danneggiato."), problems.join(QLatin1Char('\n'))};
}

// A failure whose message names what the user can do something about (a full disk, a folder or a
// file that cannot be written, a name), which says it best alone.
bool namesItsCause(const DbError& error)
{
    static const QList<int> causes{ErrDiskFull,     ErrArchiveFolderReadOnly, ErrProgramFolderNotWritable,
                                   ErrPathNotFound, ErrNameTooLong,           ErrControlCharacters};
    return error.errors().size() == 1 &&
           (causes.contains(error.number()) ||
            (error.number() == ErrPermissionDenied && error.description() != DbError::describe(ErrPermissionDenied)));
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
    // windows open elsewhere: refuse rather than guess. On a read-only medium, say that instead.
    if (!m_lock && QFileInfo::exists(PresenceLock::lockFilePath(m_path))) {
        if (std::optional<DbError> cause = folderError(folderOf(m_path), ErrArchiveFolderReadOnly);
            cause && cause->number() == ErrArchiveFolderReadOnly) {
            throw *cause;
        }
        throw DbError(ErrInUse);
    }
    // The lock follows the file's name (and the names a link leads to), not the file: a window
    // open under another hard link of the same file holds a lock this one never sees.
    std::error_code error;
    const std::uintmax_t names = std::filesystem::hard_link_count(fsPath(m_path), error);
    if (!error && names > 1) {
        throw DbError(ErrSeveralNames, QStringLiteral("Il file '%1' ha %2 nomi (collegamenti fisici): finché ne ha più "
                                                      "d'uno non può essere sovrascritto, riparato o compattato, "
                                                      "perché potrebbe essere aperto con un altro nome.")
                                           .arg(QDir::toNativeSeparators(m_path))
                                           .arg(qulonglong(names)));
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

void checkTargetName(const QString& target)
{
    if (folders::hasControlCharacters(target)) {
        throw DbError(ErrControlCharacters);
    }
    const QFileInfo info(target);
    const int limit = folders::nameLimit(info.absolutePath()) - kLongestSuffix;
    if (folders::nameLength(info.fileName()) > limit) {
        throw DbError(
            ErrNameTooLong,
            QStringLiteral("Il nome del file è troppo lungo: sono ammessi al massimo %1 caratteri.").arg(limit));
    }
}

namespace {

// Puts `source` in the place of the archive held by `use`, in a folder checked beforehand.
void writeTarget(sqlite3* source, const ExclusiveUse& use)
{
    QStringList stayed;
    removeFiles(companionFiles(use.path()), stayed);
    const QList<Written> written{{folderOf(use.path()), ErrArchiveFolderReadOnly}};
    requireWritable(written.first().folder, written.first().readOnly);
    try {
        replaceContents(source, use.path());
    } catch (const DbError& e) {
        throw explained(e, written);
    }
}

} // namespace

void copyArchive(const QString& source, const QString& target)
{
    return wholeFile([&] {
        checkTargetName(target);
        // Opened as any window opens it: a repair or compaction under way elsewhere refuses the copy.
        const std::shared_ptr<Archive> archive = Archive::open(source);
        if (sameFile(source, target)) {
            throw DbError(ErrInUse); // the archive being copied is open for the copy
        }
        const ExclusiveUse use(target);
        beginStage(QStringLiteral("Copia dell'archivio..."));
        writeTarget(archive->handle(), use);
    });
}

void copyTemplate(const QString& templatePath, const QString& target)
{
    return wholeFile([&] {
        checkTargetName(target);
        if (sameFile(templatePath, target)) {
            throw DbError(ErrPermissionDenied);
        }
        if (!QFileInfo(templatePath).isFile()) {
            throw DbError(ErrFileNotFound, QStringLiteral("Impossibile trovare il file '%1'.").arg(templatePath));
        }
        const ExclusiveUse use(target);
        const Db source(templatePath, SQLITE_OPEN_READONLY);
        schema::check(source.get());
        writeTarget(source.get(), use);
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

bool salvageable(const QString& path)
{
    try {
        {
            const Db db(path, SQLITE_OPEN_READONLY);
            try {
                Statement(db.get(), QStringLiteral("SELECT count(*) FROM sqlite_master")).step();
                // Its schema read, a file may still be damaged further on (an archive of an earlier
                // version is refused then rather than upgraded): the engine's quick check tells.
                Statement check(db.get(), QStringLiteral("PRAGMA quick_check(1)"));
                if (!check.step() || check.value(0).toString() == QLatin1String("ok")) {
                    return false; // read whole by the engine: not damaged, whatever else it is
                }
            } catch (const DbError& e) {
                if (e.number() != ErrFileNotArchive) {
                    return false; // locked, or unreadable: nothing is known of its pages
                }
            }
        }
        // Worth reading page by page only when it can be an archive: its header says so, or it is
        // made of whole pages of a size an archive has, and it is not larger than an archive gets.
        // A large file of another kind is refused at once instead of read to its end.
        const qint64 size = QFileInfo(path).size();
        if (size > kLargestSurvey || (!looksLikeArchiveFile(path) && size % kSmallestPage != 0)) {
            return false;
        }
        const salvage::Survey found = salvage::survey(path);
        return found.schemaVersion <= kSchemaVersion && found.rows() > 0;
    } catch (const DbError&) {
        return false;
    }
}

RepairOutcome repair(const ExclusiveUse& archive)
{
    return wholeFile([&] {
        const QString& path = archive.path();
        RepairOutcome outcome;
        // Left by a repair killed half-way: held exclusively now, nobody else can be using them.
        QStringList stayed;
        removeFiles(companionFiles(path), stayed);
        beginStage(QStringLiteral("Controllo dell'archivio..."));
        {
            // Read-write, so that a change left half-written by a crash is rolled back first.
            const Db db(path, SQLITE_OPEN_READWRITE);
            outcome.problems = checkIntegrity(db.get());
            if (outcome.problems.isEmpty()) {
                // A sound file that is not an archive of this program cannot be repaired either.
                schema::check(db.get());
                // The quick find's index is made anew when it is not in step with the rows.
                if (!schema::wordIndexInStep(db.get()) &&
                    folders::fileWriteProblem(path) != folders::Problem::ReadOnly) {
                    schema::rebuildWordIndex(db.get());
                    outcome.wordIndexRebuilt = true;
                }
                return outcome;
            }
        }
        outcome.damaged = true;
        const QList<Written> written{{folderOf(path), ErrArchiveFolderReadOnly}};
        const auto failed = [&](const DbError& e) {
            const DbError cause = explained(e, written);
            if (namesItsCause(cause)) {
                return cause;
            }
            QList<ErrorItem> items{damageItem(outcome.problems)};
            items.append(cause.errors());
            return DbError(items);
        };
        if (std::optional<DbError> cause = folderError(written.first().folder, written.first().readOnly)) {
            throw failed(*cause);
        }
        if (folders::fileWriteProblem(path) == folders::Problem::ReadOnly) {
            throw failed(readOnlyFile(path));
        }

        const QString fresh = path + kRebuilt;
        struct RemoveFresh {
            const QString& name;
            ~RemoveFresh() { QFile::remove(name); }
        } removeFresh{fresh};
        beginStage(QStringLiteral("Recupero dei dati leggibili..."));
        try {
            Archive::create(fresh);
            // The rows go in without the word index's triggers; the index is made once at the end.
            {
                const Db target(fresh, SQLITE_OPEN_READWRITE);
                schema::removeFullText(target.get());
            }
            const salvage::Outcome saved = salvage::salvage(path, fresh, [] { reportProgress(nullptr); });
            {
                const Db target(fresh, SQLITE_OPEN_READWRITE);
                schema::rebuildWordIndex(target.get());
            }
            outcome.rowsSaved = saved.rowsSaved;
            outcome.rowsPerTable = saved.rowsPerTable;
            outcome.rowsIncomplete = saved.rowsIncomplete;
            outcome.rowsUnreadable = saved.rowsUnreadable;
            outcome.linksDropped = saved.linksDropped;
            outcome.leftOut = saved.leftOut;
        } catch (const DbError& e) {
            throw failed(e);
        }
        step(QStringLiteral("riparato"));

        // The damaged file is kept as it was, for whoever may still recover more from it.
        outcome.keptAs = datedName(path);
        try {
            keepOriginal(path, outcome.keptAs);
        } catch (const DbError& e) {
            throw failed(e);
        }
        step(QStringLiteral("conservato"));
        try {
            const Db source(fresh, SQLITE_OPEN_READONLY);
            replaceContents(source.get(), path, QStringLiteral("ripristino"));
        } catch (const DbError& e) {
            throw failed(e);
        }
        return outcome;
    });
}

// ---------------------------------------------------------------- compaction

namespace {

// The compaction proper: the copy as it was, the compacted copy, its check, and its placing.
// `counts` gets the rows of each table as they were; `replacing` is set once the archive itself
// starts to be written.
void compactThrough(const QString& path, const QString& before, const QString& compacted, QMap<QString, qint64>& counts,
                    bool& replacing)
{
    beginStage(QStringLiteral("Compattazione dell'archivio..."));
    {
        const Db source(path, SQLITE_OPEN_READWRITE);
        const Db copy(before, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        backupInto(source.get(), copy.get(), -1);
        counts = rowCounts(copy.get());
    }
    step(QStringLiteral("dacomp1"));
    {
        // The word index is made anew from the rows in the working copy, so the compacted archive
        // holds it compact and in step, whatever state it was in.
        const Db copy(before, SQLITE_OPEN_READWRITE);
        schema::rebuildWordIndex(copy.get());
    }

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
            throw DbError(ErrFileNotArchive, QStringLiteral("La copia compattata non è integra: ") + problems.first());
        }
        schema::check(result.get());
        if (rowCounts(result.get()) != counts) {
            throw DbError(ErrFileNotArchive, QStringLiteral("La copia compattata non contiene tutti i record."));
        }
    }
    step(QStringLiteral("verifica"));

    beginStage(QStringLiteral("Sostituzione dell'archivio..."));
    replacing = true;
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
}

// True when the archive at `path` is sound and holds the rows of each table it held before.
bool wholeAsBefore(const QString& path, const QMap<QString, qint64>& counts)
{
    try {
        const Db db(path, SQLITE_OPEN_READONLY);
        if (!checkIntegrity(db.get()).isEmpty()) {
            return false;
        }
        schema::check(db.get());
        return rowCounts(db.get()) == counts;
    } catch (const DbError&) {
        return false;
    }
}

void removeWithJournal(const QString& file)
{
    QFile::remove(file);
    QFile::remove(file + QStringLiteral("-journal"));
}

} // namespace

void compact(const ExclusiveUse& archive, const QString& workFolder)
{
    return wholeFile([&] {
        const QString& path = archive.path();
        const QString before = QDir(workFolder).filePath(kBeforeCompaction);
        const QString compacted = QDir(workFolder).filePath(kCompacted);
        // The copies go to the work folder, the archive's journal beside the archive.
        const QList<Written> written{{workFolder, ErrProgramFolderNotWritable},
                                     {folderOf(path), ErrArchiveFolderReadOnly}};
        for (const Written& w : written) {
            requireWritable(w.folder, w.readOnly);
        }
        requireWritableFile(path);
        // One compaction at a time in a work folder: another one (a second computer running the
        // program from the same folder) would take these files for its own.
        const QString workName = workLockName(workFolder);
        const std::unique_ptr<PresenceLock> workLock = PresenceLock::acquire(workName, PresenceLock::Mode::Exclusive);
        if (!workLock && QFileInfo::exists(PresenceLock::lockFilePath(workName))) {
            throw DbError(ErrInUse);
        }
        // Left over from a compaction killed half-way: the archive itself is whole, held here.
        for (const QString& file : compactionFiles(workFolder)) {
            removeLeftover(file);
        }
        QMap<QString, qint64> counts;
        bool replacing = false;
        try {
            compactThrough(path, before, compacted, counts, replacing);
            step(QStringLiteral("pulizia"));
        } catch (const DbError& e) {
            // Two whole copies of the catalogue are not left lying about: the compacted one goes
            // at once, and the one taken first as soon as the archive is known to be whole.
            DbError failure = explained(e, written);
            removeWithJournal(compacted);
            if (!replacing || wholeAsBefore(path, counts)) {
                removeWithJournal(before);
                throw failure;
            }
            QList<ErrorItem> items = failure.errors();
            items.first().description += QStringLiteral("\rL'archivio com'era prima della compattazione è "
                                                        "conservato in '%1'.")
                                             .arg(QDir::toNativeSeparators(QFileInfo(before).absoluteFilePath()));
            throw DbError(items);
        }
        removeWithJournal(before);
        removeWithJournal(compacted);
    });
}

QStringList companionFiles(const QString& archivePath)
{
    QStringList files;
    const QString absolute = QFileInfo(archivePath).absoluteFilePath();
    for (const QString& suffix : kCompanionSuffixes) {
        files << absolute + suffix;
    }
    return files;
}

QStringList removeLeftovers(const QString& archivePath, const QString& workFolder)
{
    QStringList stayed;
    const auto anyExists = [](const QStringList& files) {
        return std::any_of(files.begin(), files.end(), [](const QString& f) { return QFileInfo::exists(f); });
    };
    // Nothing is locked, and no lock file made, where nothing is left.
    if (!workFolder.isEmpty() && anyExists(compactionFiles(workFolder))) {
        // A compaction under way holds the work folder's lock: its files are not leftovers.
        bool busy = false;
        std::unique_ptr<PresenceLock> lock;
        try {
            lock = PresenceLock::acquire(workLockName(workFolder), PresenceLock::Mode::Exclusive);
        } catch (const DbError&) {
            busy = true;
        }
        if (!busy) {
            removeFiles(compactionFiles(workFolder), stayed);
        }
    }
    if (!archivePath.isEmpty() && QFileInfo::exists(archivePath) && anyExists(companionFiles(archivePath))) {
        // A repair or a copy onto the archive holds it exclusively while its files exist; a shared
        // hold proves there is none.
        bool busy = false;
        std::unique_ptr<PresenceLock> presence;
        try {
            presence = PresenceLock::acquire(archivePath, PresenceLock::Mode::Shared);
        } catch (const DbError&) {
            busy = true;
        }
        if (!busy) {
            removeFiles(companionFiles(archivePath), stayed);
        }
    }
    return stayed;
}

void setProgress(std::function<void(const QString& stage)> report)
{
    progress() = std::move(report);
}

void setStepHook(std::function<void(const QString& step)> hook)
{
    stepHook() = std::move(hook);
}

QString restoreCopy(const QString& copyPath, const ExclusiveUse& archive)
{
    return wholeFile([&] {
        const QString& path = archive.path();
        // The copy is checked whole before anything of the archive is touched.
        const Db copy(copyPath, SQLITE_OPEN_READONLY);
        const QStringList problems = checkIntegrity(copy.get());
        if (!problems.isEmpty()) {
            throw DbError(ErrFileNotArchive,
                          QStringLiteral("La copia '%1' è danneggiata: non può essere ripristinata.")
                              .arg(QDir::toNativeSeparators(QFileInfo(copyPath).absoluteFilePath())));
        }
        schema::check(copy.get());
        QStringList stayed;
        removeFiles(companionFiles(path), stayed);
        const QList<Written> written{{folderOf(path), ErrArchiveFolderReadOnly}};
        requireWritable(written.first().folder, written.first().readOnly);
        QString keptAs;
        try {
            if (QFileInfo::exists(path)) {
                requireWritableFile(path);
                keptAs = datedName(path, QStringLiteral("sostituito"));
                keepOriginal(path, keptAs, QStringLiteral("sostituito"));
                step(QStringLiteral("conservato"));
            }
            replaceContents(copy.get(), path, QStringLiteral("ripristino"));
        } catch (const DbError& e) {
            throw explained(e, written);
        }
        return keptAs;
    });
}

} // namespace store::files
