#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// The daily copies of an archive, in the folder "copie" beside it, named with their date
// ("archivio 2026-12-09.mdb"). A copy is written under a working name, checked whole and only
// then given its dated name, so a copy cut short (a crash, a full disk) is never listed.
namespace store::backups {

struct Copy {
    QDate date;
    qint64 books = -1; // -1 when the copy cannot be read
    QString path;
};

// The folder of the copies of the archive at `archivePath`.
QString folderOf(const QString& archivePath);
// The path of the archive's copy of `date`.
QString copyPath(const QString& archivePath, const QDate& date);

// The archive's complete copies, newest first.
QList<Copy> list(const QString& archivePath);

// True when the copy of `today` exists.
bool hasCopy(const QString& archivePath, const QDate& today);

enum class Outcome { Made, AlreadyThere, Stopped, Busy };

// Makes the copy of `today` with the engine's online backup, a few pages at a time on a connection
// of its own, so windows keep writing meanwhile; then removes the copies the rotation does not
// keep. Returns Stopped, leaving nothing behind, as soon as `stop` is set; Busy when another
// instance is copying the same archive. Throws DbError (61 full disk, 3901 read-only folder, ...)
// without touching the archive or the earlier copies.
Outcome makeCopy(const QString& archivePath, const QDate& today, const std::atomic<bool>* stop = nullptr);

// The dates the rotation keeps out of `dates`: the newest copy of each of the last 7 days that
// have one, of the last 4 weeks and of the last 12 months. A date after `today` (a clock put
// back) is kept.
QList<QDate> kept(const QList<QDate>& dates, const QDate& today);

// Removes the copies the rotation does not keep; returns their paths.
QStringList rotate(const QString& archivePath, const QDate& today);

// Makes `target` a new archive with the content of the copy, checked first.
void restoreAsNew(const QString& copy, const QString& target);

// Mirrors the photos folder into "copie/foto" beside the archive: new and changed files only.
// Returns the number of files copied; throws DbError when the copies folder cannot be written.
int mirrorPhotos(const QString& archivePath, const QString& photosFolder, const std::atomic<bool>* stop = nullptr);

// For tests: called after each step of a copy ("passo"), before the copy is checked ("verifica")
// and before it is given its name ("nome"); a throwing hook simulates a failure there.
void setStepHook(std::function<void(const QString& step)> hook);

} // namespace store::backups
