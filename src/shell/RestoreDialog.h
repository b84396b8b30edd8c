#pragma once

#include "store/Backups.h"

#include <QDialog>
#include <QList>

#include <functional>

class QListWidget;

// "Ripristina Copia…": the daily copies of the open archive by date, with their books, and the
// two ways of restoring one.
class RestoreDialog : public QDialog {
    Q_OBJECT

  public:
    enum class Choice { None, NewArchive, OpenArchive };

    RestoreDialog(QWidget* parent, const QList<store::backups::Copy>& copies);

    Choice choice() const { return m_choice; }
    // The copy chosen, or empty.
    QString chosenCopy() const;

  private:
    void choose(Choice choice);

    QList<store::backups::Copy> m_copies;
    QListWidget* m_list;
    Choice m_choice = Choice::None;
};

namespace shell {

// "Ripristina Copia" on the open archive `archivePath`. `releaseArchive` lets go of the frame's own hold
// on the archive before it is restored over; the frame takes it again afterwards.
void restoreCopy(QWidget* parent, const QString& archivePath, const std::function<void()>& releaseArchive);

} // namespace shell
