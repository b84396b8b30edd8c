#pragma once

#include <QDate>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;

// The daily copy of the open archive, made on a thread of its own with its own connection while
// the user works. Stopping abandons a copy under way at its next step and leaves nothing of it:
// it is made at the next start.
class DailyBackup : public QObject {
    Q_OBJECT

  public:
    explicit DailyBackup(QObject* parent = nullptr);
    ~DailyBackup() override; // stops

    // Starts the copy of `today` for the archive and the mirror of `photosFolder`, unless the
    // copy exists or a copy is under way. False when nothing was started.
    bool start(const QString& archivePath, const QString& photosFolder, const QDate& today);
    // Abandons a copy under way and waits for its thread, which ends at its next step.
    void stop();
    bool running() const;
    // True once stop() has been called for the copy under way.
    bool stopRequested() const { return m_stop; }

  signals:
    // On the thread that owns this object. `error` is empty when the copy was made, or nothing
    // needed doing; `made` is false when it was abandoned or left to another instance.
    void finished(const QString& archivePath, bool made, const QString& error);

  private:
    std::atomic<bool> m_stop = false;
    QThread* m_thread = nullptr;
};
