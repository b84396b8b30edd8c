#pragma once

#include <QString>

namespace store {
class DbError;
}

// The file a writer fills before it takes the target's name: in the target's folder, so that the
// rename at the end replaces the target at once, and removed when the writing does not get there.
namespace exchange::detail {

class WorkingFile {
  public:
    // Chooses a name nobody uses beside `target` and creates the file empty. Throws the disk's
    // error (70 read-only folder, 61 full, 76 missing folder, 75 otherwise).
    explicit WorkingFile(const QString& target);
    ~WorkingFile(); // removes the working file unless commit() renamed it
    WorkingFile(const WorkingFile&) = delete;
    WorkingFile& operator=(const WorkingFile&) = delete;

    const QString& path() const { return m_path; }
    const QString& target() const { return m_target; }

    // Gives the working file the target's name, replacing whatever had it.
    void commit();
    // The error of a failed write into the working file, its cause found while the file is still
    // there (a full disk stays full); the working file is removed.
    store::DbError failure();

  private:
    QString m_target;
    QString m_path;
    bool m_done = false;
};

// The error for a file that could not be written in `folder`, by what the folder allows now.
store::DbError writeError(const QString& file);

} // namespace exchange::detail
