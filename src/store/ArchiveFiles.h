#pragma once

#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Salvage.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// Operations on whole archive files: copies, a new archive from the template, the integrity check,
// repair and compaction. Every file they replace is written through the engine's own journal, so
// a failure at any moment leaves either the old or the new archive whole at its path.
namespace store::files {

// Keeps an archive closed to everyone else while it lives: no window of this program and no other
// computer can open it. Throws DbError 3356 while anyone has it open, 3905 when the file has more
// than one name (a hard link: the lock follows names, so a window open under another name would
// go unseen), 3901 when its folder is read-only and its lock cannot be taken.
class ExclusiveUse {
  public:
    explicit ExclusiveUse(const QString& archivePath);
    ~ExclusiveUse();
    ExclusiveUse(const ExclusiveUse&) = delete;
    ExclusiveUse& operator=(const ExclusiveUse&) = delete;

    const QString& path() const { return m_path; }

  private:
    QString m_path;
    std::unique_ptr<PresenceLock> m_lock;
};

// True when both names lead to the same existing file (links and other spellings included).
bool sameFile(const QString& a, const QString& b);

// Refuses a name the program cannot work with: 3904 for a control character (avvio.ini holds one
// line), 3903 for a name too long to take the suffixes of the program's working files.
void checkTargetName(const QString& target);

// Writes a consistent copy of the archive at `source` to `target`, even while other connections
// write to the source. Throws 3356 while `target` is in use (the open archive itself included),
// the errors of checkTargetName and ExclusiveUse, 3901 when the target's folder cannot be
// written, 61 when the disk fills up.
void copyArchive(const QString& source, const QString& target);

// Puts the content of the archive copy at `copyPath` in the place of the held archive, after
// checking the copy whole; the archive it replaces is kept beside it under a dated name, which is
// returned. Throws 3343 for a damaged copy (nothing is touched then), and as copyArchive does.
QString restoreCopy(const QString& copyPath, const ExclusiveUse& archive);

// Makes `target` an empty archive, a copy of the template. Throws as copyArchive does, and 70
// when `target` is the template itself.
void copyTemplate(const QString& templatePath, const QString& target);

// The problems the engine's integrity check finds in the archive; empty for a healthy archive.
// Reads only: a healthy archive is left byte-for-byte as it was.
QStringList integrityProblems(const QString& path);

// True when the file at `path` is a damaged archive that a repair can save rows from: the engine
// cannot read it, and rows of the archive's tables still sit on its sound pages. A file the engine
// reads whole (a database of another program, a newer archive) is not, nor is one of a newer
// version or one with no row to save. Reads only, and creates nothing beside the file.
bool salvageable(const QString& path);

struct RepairOutcome {
    bool damaged = false;
    QString keptAs; // where the damaged original was kept
    qint64 rowsSaved = 0;
    QMap<QString, qint64> rowsPerTable;   // "biblio", "autore", "editori", "autbiblio"
    qint64 rowsIncomplete = 0;            // saved with a long value that could not be read back (left empty)
    qint64 rowsUnreadable = 0;            // found, but failed the checks of a salvaged row: left out
    qint64 linksDropped = 0;              // links to a book or an author that was not saved: left out
    QMap<QString, salvage::Loss> leftOut; // every table: its rows not saved, as far as the damaged file tells
    QStringList problems;                 // what the integrity check found
    bool wordIndexRebuilt = false;        // a sound archive whose quick find index was out of step
};

// Checks the archive; a damaged one is rebuilt with every row that can still be read, and the
// damaged original is kept beside it under a dated name. Throws DbError with every failed step.
// Leftovers of an earlier repair killed half-way are removed first.
RepairOutcome repair(const ExclusiveUse& archive);

// Compacts the archive through `workFolder`/dacomp1.tmp (the archive as it was) and
// `workFolder`/comp1.tmp (the compacted copy, checked before it is put in place). Both are
// deleted when the command ends, after a failure too; only when the archive at its path might not
// be whole after a failure is dacomp1.tmp kept, and the error says where. Only one compaction at a time can use a work
// folder (it holds the lock file "compattazione-presenza" there): another one gets 3356. Throws
// 3902 when the work folder cannot be written, 3901 when the archive's folder cannot, 61 when a
// disk fills up.
void compact(const ExclusiveUse& archive, const QString& workFolder);

inline const QString kBeforeCompaction = QStringLiteral("dacomp1.tmp");
inline const QString kCompacted = QStringLiteral("comp1.tmp");

// Removes what an operation killed half-way left behind: the compaction's files in `workFolder`,
// unless a compaction is under way there, and the working files beside `archivePath` (a rebuilt
// archive, a new file not yet in place, a copy of a damaged original not yet named), unless a
// repair or a copy holds the archive. Never touches the archive, its journal or a kept damaged
// original. Returns the files that stay although nobody is using them.
QStringList removeLeftovers(const QString& archivePath, const QString& workFolder);

// The working files the program may leave beside an archive at `archivePath`.
QStringList companionFiles(const QString& archivePath);

// Called with a short Italian description of the stage under way when each stage of a long
// operation starts, and again now and then while the engine works, so a window can show that work
// goes on. An empty function removes it.
void setProgress(std::function<void(const QString& stage)> progress);

// For tests: called at each named step of compaction ("dacomp1", "comp1", "verifica",
// "sostituzione" after each part of the archive is replaced, "pulizia") and of the repair of a
// damaged archive ("riparato" when the rebuilt archive is complete, "conservato" when the damaged
// original is kept, "ripristino" after each part of the archive is replaced); a throwing hook
// simulates a failure there. An empty function removes it.
// The loans' operations call it too, between the statements of their transactions ("prestito
// letto", "prestito scritto", "restituzione letta", "restituzione scritta") and after their commit
// ("prestito confermato", "restituzione confermata").
void setStepHook(std::function<void(const QString& step)> hook);
// Runs the step hook, if any, for the step `name`.
void step(const QString& name);

} // namespace store::files
