#include "app/FileDialogs.h"

#include "store/DbError.h"

#include <QFileDialog>
#include <deque>

namespace dialogs {
namespace {

std::deque<QString>& queued()
{
    static std::deque<QString> choices;
    return choices;
}

bool& recording()
{
    static bool on = false;
    return on;
}

const QString kFilter = QStringLiteral("File mdb(*.mdb)");

QString showDialog(QWidget* parent, const QString& initialFolder, bool save)
{
    QFileDialog dialog(parent, QString(), initialFolder, kFilter);
    // The same dialog on every platform, so the program behaves alike everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog accepts a name that does not exist: the start-up reports it itself.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (save) {
        // A new archive named without extension still shows up in the "*.mdb" list later.
        dialog.setDefaultSuffix(QStringLiteral("mdb"));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString run(QWidget* parent, const QString& initialFolder, bool save)
{
    if (recording()) {
        requests().append(Request{save, initialFolder});
    }
    QString chosen;
    if (!queued().empty()) {
        chosen = queued().front();
        queued().pop_front();
    } else {
        chosen = showDialog(parent, initialFolder, save);
    }
    if (chosen.isEmpty()) {
        throw store::DbError(store::ErrDialogCancelled);
    }
    return chosen;
}

} // namespace

QString openArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, false);
}

QString saveArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, true);
}

void queueChoice(const QString& path)
{
    queued().push_back(path);
}

void clearQueuedChoices()
{
    queued().clear();
    requests().clear();
}

void setRecording(bool on)
{
    recording() = on;
}

QList<Request>& requests()
{
    static QList<Request> asked;
    return asked;
}

} // namespace dialogs
