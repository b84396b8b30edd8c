#pragma once

#include "store/Archive.h"
#include "store/DbError.h"

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
// computer can open it. Throws DbError 3356 while anyone has it open.
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

// Writes a consistent copy of the archive at `source` to `target`, even while other connections
// write to the source. Throws 3356 while `target` is in use (the open archive itself included).
void copyArchive(const QString& source, const QString& target);

// Makes `target` an empty archive, a copy of the template. Throws 3356 while `target` is in use,
// 70 when `target` is the template itself.
void copyTemplate(const QString& templatePath, const QString& target);

// The problems the engine's integrity check finds in the archive; empty for a healthy archive.
// Reads only: a healthy archive is left byte-for-byte as it was.
QStringList integrityProblems(const QString& path);

struct RepairOutcome {
    bool damaged = false;
    QString keptAs; // where the damaged original was kept
    qint64 rowsSaved = 0;
    QMap<QString, qint64> rowsPerTable; // "biblio", "autore", "editori", "autbiblio"
    qint64 rowsIncomplete = 0;          // saved with a long value that could not be read back (left empty)
    QStringList problems;               // what the integrity check found
};

// Checks the archive; a damaged one is rebuilt with every row that can still be read, and the
// damaged original is kept beside it under a dated name. Throws DbError with every failed step.
RepairOutcome repair(const ExclusiveUse& archive);

// Compacts the archive through `workFolder`/dacomp1.tmp (the archive as it was) and
// `workFolder`/comp1.tmp (the compacted copy, checked before it is put in place). Both are
// deleted on success and kept after a failure. Only one compaction at a time can use a work
// folder (it holds the lock file "compattazione-presenza" there): another one gets 3356.
void compact(const ExclusiveUse& archive, const QString& workFolder);

inline const QString kBeforeCompaction = QStringLiteral("dacomp1.tmp");
inline const QString kCompacted = QStringLiteral("comp1.tmp");

// Called with a short Italian description of the stage under way when each stage of a long
// operation starts, and again now and then while the engine works, so a window can show that work
// goes on. An empty function removes it.
void setProgress(std::function<void(const QString& stage)> progress);

// For tests: called at each named step of compaction ("dacomp1", "comp1", "verifica",
// "sostituzione" after each part of the archive is replaced, "pulizia"); a throwing hook
// simulates a failure there. An empty function removes it.
void setStepHook(std::function<void(const QString& step)> hook);

} // namespace store::files
