#pragma once

// What the main window's archive commands share with the start-up: the window that shows a long
// file operation going on, the repair and compaction with their messages, and the description of
// an error nobody expected.

#include <QElapsedTimer>
#include <QProgressDialog>
#include <QString>

#include <exception>
#include <optional>

class QWidget;

namespace store {
class DbError;
namespace files {
struct RepairOutcome;
}
} // namespace store

namespace shell {

// Shows that a long file operation goes on: the busy cursor at once and, when the work lasts
// more than a moment, a small window saying what is being done. Input waits until the end.
class Busy {
  public:
    explicit Busy(QWidget* parent);
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    static constexpr int kShowAfterMs = 400;
    static constexpr int kRepaintMs = 50;

    // Called from inside the engine's work: must never throw, and lets no user input through.
    void update(const QString& stage) noexcept;

    QProgressDialog m_window;
    QElapsedTimer m_clock;
    QElapsedTimer m_sinceRepaint;
};

// The description of an error that no handler expects (out of memory, a name the file system
// cannot take): reported, so the program stays open.
QString unexpectedError(const std::exception& e);

// "Nuovo Archivio" once no edit is open: the save dialog, then an empty archive from the template
// at the chosen path (or in the empty database of the server address chosen with "Server…"), with
// the command's messages. The new archive's path, or nothing when the
// user gave up or it could not be made.
std::optional<QString> makeNewArchive(QWidget* parent);

// "Crea Copia": the save dialog, then a copy of the open archive `openArchive` at the chosen path,
// even while others work on it, with the command's messages.
void copyArchive(QWidget* parent, const QString& openArchive);

// "Ripara e Compatta" once the user has agreed to the repair of the archive at `path`, which
// nobody may have open: the repair, what a salvage saved and where the damaged original is, the
// question about compaction and the compaction, "Operazione completata!"; a failure is reported
// with the command's messages. True when the archive at `path` was repaired (a compaction that
// fails afterwards leaves it whole).
bool repairAndCompact(QWidget* parent, const QString& path);

// What the user learns after a damaged archive was rebuilt: what was saved, what was left out,
// and where the damaged original is kept.
QString salvageReport(const store::files::RepairOutcome& outcome);

} // namespace shell
