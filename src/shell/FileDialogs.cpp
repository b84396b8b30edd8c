#include "shell/FileDialogs.h"

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

int& shownCount()
{
    static int count = 0;
    return count;
}

const QString kFilter = QStringLiteral("File mdb(*.mdb)");

QString run(QWidget* parent, const QString& initialFolder, QFileDialog::AcceptMode mode)
{
    ++shownCount();
    QString chosen;
    if (!queued().empty()) {
        chosen = queued().front();
        queued().pop_front();
    } else {
        QFileDialog dialog(parent, QString(), initialFolder, kFilter);
        // The same dialog on every platform, so the program behaves alike everywhere.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(mode);
        // A typed name that does not exist is returned as it is; the caller decides.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("mdb"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().constFirst();
        }
    }
    if (chosen.isEmpty()) {
        throw store::DbError(store::ErrDialogCancelled);
    }
    return chosen;
}

} // namespace

QString openArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, QFileDialog::AcceptOpen);
}

QString saveArchive(QWidget* parent, const QString& initialFolder)
{
    return run(parent, initialFolder, QFileDialog::AcceptSave);
}

void queueChoice(const QString& path) { queued().push_back(path); }

void clearQueuedChoices() { queued().clear(); }

int shownDialogs() { return shownCount(); }

} // namespace dialogs
