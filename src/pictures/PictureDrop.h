#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QMimeData;
class QWidget;

namespace pictures {

// The file a drop from a file manager brings: one local file (not a folder), whatever its content,
// so that a file that is no picture is named in the message the import gives; empty for anything
// else (text, web addresses, several files, a folder), which is refused without a word.
QString droppedFile(const QMimeData* data);

// Lets `target` take a file dropped from a file manager: `dropped` runs, through the guard, with
// the file's path. Drags of anything else are refused while they pass over it.
class PictureDrop : public QObject {
    Q_OBJECT
  public:
    PictureDrop(QWidget* target, std::function<void(const QString&)> dropped);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(const QString&)> m_dropped;
};

} // namespace pictures
