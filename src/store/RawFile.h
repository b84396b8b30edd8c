#pragma once

#include <QString>

#include <filesystem>

struct sqlite3;

// What the store's work on whole archive files shares: a raw connection to a file and the path
// the standard library's file functions take.
namespace store::rawfile {

// A raw connection to an archive file: no schema check, no presence. For files held exclusively,
// files that windows never open (the template, the working files, the copies) and reads of an
// archive that go around the windows' connections (a copy being taken). Has the program's
// collation, which checking or copying the indexes needs, and waits for the engine's locks as the
// windows do. Throws DbError when the file cannot be opened.
class Connection {
  public:
    Connection(const QString& path, int flags);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    sqlite3* get() const { return m_db; }

  private:
    sqlite3* m_db = nullptr;
};

// The path as the system's file functions take it, accents and all, on every system.
std::filesystem::path fsPath(const QString& path);

} // namespace store::rawfile
