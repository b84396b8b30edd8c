#include "app/DailyBackup.h"

#include "store/Backups.h"
#include "store/DbError.h"

#include <QPointer>
#include <QThread>

DailyBackup::DailyBackup(QObject* parent) : QObject(parent) {}

DailyBackup::~DailyBackup()
{
    stop();
}

bool DailyBackup::running() const
{
    return m_thread && m_thread->isRunning();
}

bool DailyBackup::start(const QString& archivePath, const QString& photosFolder, const QDate& today)
{
    if (archivePath.isEmpty() || running() || store::backups::hasCopy(archivePath, today)) {
        return false;
    }
    stop(); // a finished thread is collected
    m_stop = false;
    QPointer<DailyBackup> self(this);
    m_thread = QThread::create([this, self, archivePath, photosFolder, today] {
        bool made = false;
        QString error;
        // Nothing may leave this thread: every failure becomes the message.
        try {
            const store::backups::Outcome outcome = store::backups::makeCopy(archivePath, today, &m_stop);
            made = outcome == store::backups::Outcome::Made;
            if (made) {
                store::backups::mirrorPhotos(archivePath, photosFolder, &m_stop);
            }
        } catch (const store::DbError& e) {
            error = e.description();
        } catch (const std::exception& e) {
            error = QString::fromLocal8Bit(e.what());
        } catch (...) {
            error = QStringLiteral("Errore imprevisto.");
        }
        if (m_stop) {
            return; // the program is ending: nobody is told
        }
        QMetaObject::invokeMethod(
            this,
            [self, archivePath, made, error] {
                if (self) {
                    emit self->finished(archivePath, made, error);
                }
            },
            Qt::QueuedConnection);
    });
    m_thread->start(QThread::LowPriority);
    return true;
}

void DailyBackup::stop()
{
    if (!m_thread) {
        return;
    }
    m_stop = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}
