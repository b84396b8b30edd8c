#pragma once

#include <QList>
#include <QString>

class QWidget;

// The open and save dialogs for archives, on "*.mdb" files. Cancelling throws store::DbError 32755.
namespace dialogs {

// Shows the open dialog in `initialFolder` and returns the chosen path. A typed name that does
// not exist is returned as typed: the caller decides what to do with it.
QString openArchive(QWidget* parent, const QString& initialFolder);
// Shows the save dialog, which asks before an existing file is replaced.
QString saveArchive(QWidget* parent, const QString& initialFolder);

// For tests: choices queued here answer the next dialogs in order instead of showing them; an
// empty path is a cancel. Without a queued choice the real dialog is shown.
void queueChoice(const QString& path);
void clearQueuedChoices();

// While recording is on (tests only), every dialog asked for since the last clear, answered from
// the queue or shown.
void setRecording(bool on);
struct Request {
    bool save = false;
    QString initialFolder;
};
QList<Request>& requests();

} // namespace dialogs
