#include "store/Backups.h"

#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "store/Folders.h"
#include "store/RawFile.h"
#include "store/Schema.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace store::backups {
namespace {

// Pages copied per step (256 KB): short enough that a window's save never waits long for it.
constexpr int kPagesPerStep = 64;
// Restarts (another connection wrote while the copy went on) before the rest is read at once.
constexpr int kRestartsBeforeWhole = 3;
constexpr int kBackupPatienceMs = 10000;
const QString kWorking = QStringLiteral(".parziale");

std::function<void(const QString&)>& stepHook()
{
    static std::function<void(const QString&)> hook;
    return hook;
}

void step(const QString& name)
{
    if (stepHook()) {
        stepHook()(name);
    }
}

bool stopped(const std::atomic<bool>* stop)
{
    return stop && stop->load();
}

using rawfile::fsPath;
using Db = rawfile::Connection;

QString nativeFolder(const QString& folder)
{
    return QDir::toNativeSeparators(QDir(folder).absolutePath());
}

// The cause, named with the folder, when the copies cannot be written there; `fallback` otherwise.
DbError folderError(const QString& folder, const DbError& fallback)
{
    switch (folders::writeProblem(folder)) {
    case folders::Problem::ReadOnly:
        return DbError(ErrArchiveFolderReadOnly,
                       QStringLiteral("La cartella '%1' è di sola lettura: il programma non può scrivervi la copia "
                                      "dell'archivio.")
                           .arg(nativeFolder(folder)));
    case folders::Problem::Full:
        return DbError(ErrDiskFull,
                       QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per la copia "
                                      "dell'archivio.")
                           .arg(nativeFolder(folder)));
    default:
        // The space freed when the unfinished copy was removed hides the full disk from the check.
        if (fallback.number() == ErrDiskFull && fallback.errors().size() == 1) {
            return DbError(ErrDiskFull,
                           QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per la copia "
                                          "dell'archivio.")
                               .arg(nativeFolder(folder)));
        }
        return fallback;
    }
}

QString dated(const QString& archivePath, const QString& date)
{
    const QFileInfo info(archivePath);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return info.completeBaseName() + QLatin1Char(' ') + date + suffix;
}

QRegularExpression copyPattern(const QString& archivePath, const QString& tail = {})
{
    const QFileInfo info(archivePath);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(info.completeBaseName()) +
                              QStringLiteral(" (\\d{4}-\\d{2}-\\d{2})") + QRegularExpression::escape(suffix + tail) +
                              QLatin1Char('$'));
}

void removeWithJournal(const QString& file)
{
    QFile::remove(file);
    QFile::remove(file + QStringLiteral("-journal"));
}

// Copies the archive into `dest` a few pages at a time; false when stopped.
bool backupSteps(sqlite3* source, sqlite3* dest, const std::atomic<bool>* stop)
{
    sqlite3_backup* backup = sqlite3_backup_init(dest, "main", source, "main");
    if (!backup) {
        throwSqlite(dest, sqlite3_extended_errcode(dest));
    }
    // Finishing an unfinished backup leaves the destination as it was.
    struct Finish {
        sqlite3_backup* b;
        ~Finish() { sqlite3_backup_finish(b); }
    } finish{backup};
    QDeadlineTimer patience(kBackupPatienceMs);
    int restarts = 0;
    int lastRemaining = -1;
    for (;;) {
        if (stopped(stop)) {
            return false;
        }
        // A write by another connection starts the copy over; against a window that keeps writing
        // the rest is read in one go, which holds its saves for a moment only.
        const int rc = sqlite3_backup_step(backup, restarts >= kRestartsBeforeWhole ? -1 : kPagesPerStep);
        if (rc == SQLITE_DONE) {
            return true;
        }
        if (rc == SQLITE_OK) {
            const int remaining = sqlite3_backup_remaining(backup);
            if (lastRemaining >= 0 && remaining >= lastRemaining) {
                ++restarts;
            }
            lastRemaining = remaining;
            patience.setRemainingTime(kBackupPatienceMs);
            step(QStringLiteral("passo"));
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // lets a waiting writer in
            continue;
        }
        if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && !patience.hasExpired()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        throwSqlite(dest, rc);
    }
}

QStringList problemsOf(sqlite3* db)
{
    QStringList problems;
    Statement st(db, QStringLiteral("PRAGMA integrity_check(20)"));
    while (st.step()) {
        const QString line = st.value(0).toString();
        if (line != QLatin1String("ok")) {
            problems << line;
        }
    }
    return problems;
}

qint64 booksIn(const QString& path)
{
    try {
        const Db db(path, SQLITE_OPEN_READONLY);
        Statement st(db.get(), QStringLiteral("SELECT count(*) FROM biblio"));
        st.step();
        return st.int64(0);
    } catch (const DbError&) {
        return -1;
    }
}

// Removes the working files of copies killed half-way, unless another instance is writing them.
void removeUnfinished(const QString& archivePath)
{
    const QDir dir(folderOf(archivePath));
    const QRegularExpression pattern = copyPattern(archivePath, kWorking);
    for (const QString& name : dir.entryList(QDir::Files)) {
        if (!pattern.match(name).hasMatch()) {
            continue;
        }
        const QString file = dir.filePath(name);
        try {
            const std::unique_ptr<PresenceLock> lock = PresenceLock::acquire(file, PresenceLock::Mode::Exclusive);
            removeWithJournal(file);
        } catch (const DbError&) {
            // Being written by another instance.
        }
    }
}

} // namespace

QString folderOf(const QString& archivePath)
{
    return QFileInfo(archivePath).absoluteDir().filePath(QStringLiteral("copie"));
}

QString copyPath(const QString& archivePath, const QDate& date)
{
    return QDir(folderOf(archivePath)).filePath(dated(archivePath, date.toString(QStringLiteral("yyyy-MM-dd"))));
}

QList<Copy> list(const QString& archivePath)
{
    QList<Copy> copies;
    const QDir dir(folderOf(archivePath));
    const QRegularExpression pattern = copyPattern(archivePath);
    for (const QString& name : dir.entryList(QDir::Files)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        const QDate date = QDate::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd"));
        if (!date.isValid()) {
            continue;
        }
        copies.append(Copy{date, booksIn(dir.filePath(name)), dir.filePath(name)});
    }
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) { return a.date > b.date; });
    return copies;
}

bool hasCopy(const QString& archivePath, const QDate& today)
{
    return QFileInfo::exists(copyPath(archivePath, today));
}

Outcome makeCopy(const QString& archivePath, const QDate& today, const std::atomic<bool>* stop)
{
    if (hasCopy(archivePath, today)) {
        return Outcome::AlreadyThere;
    }
    const QString folder = folderOf(archivePath);
    if (!QDir().mkpath(folder)) {
        throw folderError(QFileInfo(archivePath).absolutePath(), DbError(ErrPathFileAccess));
    }
    if (const folders::Problem problem = folders::writeProblem(folder);
        problem == folders::Problem::ReadOnly || problem == folders::Problem::Full) {
        throw folderError(folder, DbError(ErrPathFileAccess));
    }
    const QString final = copyPath(archivePath, today);
    const QString working = final + kWorking;
    std::unique_ptr<PresenceLock> workingLock;
    try {
        workingLock = PresenceLock::acquire(working, PresenceLock::Mode::Exclusive);
    } catch (const DbError& e) {
        if (e.number() == ErrInUse) {
            return Outcome::Busy; // another instance is making it
        }
        throw;
    }
    removeUnfinished(archivePath);
    removeWithJournal(working);
    const auto cleanUp = [&] {
        removeWithJournal(working);
        workingLock.reset();
        QFile::remove(PresenceLock::lockFilePath(working));
    };
    try {
        // Held open as a window holds it: a repair or a compaction waits for the copy to end.
        std::unique_ptr<PresenceLock> presence;
        try {
            presence = PresenceLock::acquire(archivePath, PresenceLock::Mode::Shared);
        } catch (const DbError& e) {
            if (e.number() == ErrInUse) {
                cleanUp();
                return Outcome::Busy;
            }
            throw;
        }
        {
            const Db source(archivePath, SQLITE_OPEN_READONLY);
            const Db dest(working, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
            if (!backupSteps(source.get(), dest.get(), stop)) {
                cleanUp();
                return Outcome::Stopped;
            }
        }
        step(QStringLiteral("verifica"));
        bool interrupted = false;
        {
            const Db copy(working, SQLITE_OPEN_READONLY);
            // The check reads the whole copy: a stop interrupts it too, so that quitting never waits.
            if (stop) {
                sqlite3_progress_handler(
                    copy.get(), 1000,
                    [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
                    const_cast<std::atomic<bool>*>(stop));
            }
            QStringList problems;
            try {
                problems = problemsOf(copy.get());
            } catch (const DbError&) {
                if (!stopped(stop)) {
                    throw;
                }
            }
            interrupted = stopped(stop);
            if (!interrupted && !problems.isEmpty()) {
                throw DbError(ErrFileNotArchive,
                              QStringLiteral("La copia dell'archivio non è integra e non è stata conservata."),
                              problems.join(QLatin1Char('\n')));
            }
            if (!interrupted) {
                schema::check(copy.get());
            }
        }
        // Removed once the copy is closed, which some systems need to delete it.
        if (interrupted) {
            cleanUp();
            return Outcome::Stopped;
        }
        step(QStringLiteral("nome"));
        std::error_code error;
        std::filesystem::rename(fsPath(working), fsPath(final), error);
        if (error) {
            throw DbError(ErrPathFileAccess);
        }
    } catch (const DbError& e) {
        cleanUp();
        throw folderError(folder, e);
    } catch (...) {
        cleanUp();
        throw;
    }
    cleanUp();
    rotate(archivePath, today);
    return Outcome::Made;
}

QList<QDate> kept(const QList<QDate>& dates, const QDate& today)
{
    std::set<QDate, std::greater<>> all(dates.begin(), dates.end());
    std::set<QDate> keep;
    int days = 0;
    std::set<int> weeks;
    std::set<int> months;
    for (const QDate& date : all) {
        if (date > today) {
            keep.insert(date);
            continue;
        }
        if (days < 7) {
            keep.insert(date);
            ++days;
        }
        int weekYear = 0;
        const int week = date.weekNumber(&weekYear);
        if (weeks.size() < 4 && weeks.insert(weekYear * 100 + week).second) {
            keep.insert(date);
        }
        if (months.size() < 12 && months.insert(date.year() * 100 + date.month()).second) {
            keep.insert(date);
        }
    }
    return QList<QDate>(keep.begin(), keep.end());
}

QStringList rotate(const QString& archivePath, const QDate& today)
{
    const QList<Copy> copies = list(archivePath);
    QList<QDate> dates;
    for (const Copy& c : copies) {
        dates << c.date;
    }
    const QList<QDate> keep = kept(dates, today);
    QStringList removed;
    for (const Copy& c : copies) {
        if (!keep.contains(c.date) && QFile::remove(c.path)) {
            removed << c.path;
        }
    }
    return removed;
}

void restoreAsNew(const QString& copy, const QString& target)
{
    {
        const Db db(copy, SQLITE_OPEN_READONLY);
        if (!problemsOf(db.get()).isEmpty()) {
            throw DbError(ErrFileNotArchive, QStringLiteral("La copia '%1' è danneggiata: non può essere ripristinata.")
                                                 .arg(QDir::toNativeSeparators(QFileInfo(copy).absoluteFilePath())));
        }
        schema::check(db.get());
    }
    files::copyArchive(copy, target);
}

int mirrorPhotos(const QString& archivePath, const QString& photosFolder, const std::atomic<bool>* stop)
{
    if (photosFolder.isEmpty() || !QFileInfo(photosFolder).isDir()) {
        return 0;
    }
    const QDir source(photosFolder);
    const QDir mirror(QDir(folderOf(archivePath)).filePath(QStringLiteral("foto")));
    // What a mirror cut short left under its working name goes: a later run writes its photo
    // again, unless the photo has since left the photos folder.
    if (mirror.exists()) {
        QDirIterator left(mirror.path(), {QStringLiteral("*") + kWorking}, QDir::Files, QDirIterator::Subdirectories);
        while (left.hasNext()) {
            const QString file = left.next();
            if (!QFileInfo::exists(source.filePath(mirror.relativeFilePath(file)))) {
                QFile::remove(file);
            }
        }
    }
    int copied = 0;
    QDirIterator it(photosFolder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext() && !stopped(stop)) {
        const QFileInfo from(it.next());
        const QString relative = source.relativeFilePath(from.absoluteFilePath());
        const QFileInfo to(mirror.filePath(relative));
        if (to.exists() && to.size() == from.size() && to.lastModified() == from.lastModified()) {
            continue;
        }
        // Written under a working name first: a mirror cut short never holds half a photo.
        const QString working = to.absoluteFilePath() + kWorking;
        QFile::remove(working);
        std::error_code error;
        QDir().mkpath(to.absolutePath());
        std::filesystem::copy_file(fsPath(from.absoluteFilePath()), fsPath(working),
                                   std::filesystem::copy_options::overwrite_existing, error);
        if (!error) {
            QFile file(working);
            if (file.open(QIODevice::ReadWrite)) {
                file.setFileTime(from.lastModified(), QFileDevice::FileModificationTime);
            }
            file.close();
            std::filesystem::rename(fsPath(working), fsPath(to.absoluteFilePath()), error);
        }
        if (error) {
            QFile::remove(working);
            throw folderError(
                to.absolutePath(),
                DbError(ErrPathFileAccess,
                        QStringLiteral("Impossibile copiare la foto '%1'.").arg(QDir::toNativeSeparators(relative))));
        }
        ++copied;
    }
    return copied;
}

void setStepHook(std::function<void(const QString& step)> hook)
{
    stepHook() = std::move(hook);
}

} // namespace store::backups
