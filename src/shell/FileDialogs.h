#pragma once

#include <QString>

class QWidget;

// The open and save dialogs for archives. Cancelling throws store::DbError 32755.
namespace dialogs {

// Shows the open dialog on "*.mdb" files in `initialFolder` and returns the chosen path.
QString openArchive(QWidget* parent, const QString& initialFolder);
// Shows the save dialog, which asks before an existing file is replaced.
QString saveArchive(QWidget* parent, const QString& initialFolder);

// For tests: choices queued here answer the next dialogs in order instead of showing them; an
// empty path is a cancel. The real dialog stays the default.
void queueChoice(const QString& path);
void clearQueuedChoices();
int shownDialogs();

} // namespace dialogs
