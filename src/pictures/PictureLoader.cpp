#include "pictures/PictureLoader.h"

#include <QCoreApplication>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QThreadPool>
#include <QWaitCondition>

#include <optional>
#include <utility>

namespace pictures {
namespace {

struct Request {
    quint64 number = 0;
    QString path;
    QSize target;
};

struct Answer {
    quint64 number = 0;
    QString path;
    DisplayPicture picture;
};

QPointer<QThreadPool>& thePool()
{
    static QPointer<QThreadPool> pool;
    return pool;
}

// A reading under way when the program ends is waited for while Qt's image readers are still there.
void waitForReadings()
{
    if (QThreadPool* pool = thePool()) {
        pool->waitForDone();
    }
}

// The threads that read pictures: a pool of the program's own, so that Qt's work on images, which
// may use the global pool, never waits behind a picture being read. It goes with the application
// object.
QThreadPool* picturePool()
{
    QPointer<QThreadPool>& pool = thePool();
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setObjectName(QStringLiteral("pictures"));
        pool->setMaxThreadCount(2);
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, pool, waitForReadings);
        qAddPostRoutine(waitForReadings);
    }
    return pool;
}

// The loaders alive, for finishAll; used on the user-interface thread only.
QList<PictureLoader*>& loaders()
{
    static QList<PictureLoader*> all;
    return all;
}

} // namespace

struct PictureLoader::Shared {
    QMutex mutex;
    QWaitCondition idle;
    PictureLoader* owner = nullptr; // null once the loader is gone
    bool working = false;           // a thread of the pool is reading this loader's requests
    std::optional<Request> next;    // the request still to be read
    quint64 numbered = 0;           // the number of the last request made
    quint64 latest = 0;             // the number of the request to answer; 0 when none is
    std::optional<Answer> answer;   // its picture, read and not handed over yet

    // Reads the requests one after the other until none is left.
    static void work(const std::shared_ptr<Shared>& shared)
    {
        for (;;) {
            Request request;
            {
                QMutexLocker lock(&shared->mutex);
                if (!shared->next || !shared->owner) {
                    shared->next.reset();
                    shared->working = false;
                    shared->idle.wakeAll();
                    return;
                }
                request = std::move(*shared->next);
                shared->next.reset();
            }
            DisplayPicture picture = readForDisplay(request.path, request.target);
            QMutexLocker lock(&shared->mutex);
            if (shared->owner && request.number == shared->latest) {
                shared->answer = Answer{request.number, request.path, std::move(picture)};
                // Posted while the loader cannot go (its destructor takes the lock first), and
                // dropped by Qt should it go before the call is delivered.
                PictureLoader* owner = shared->owner;
                QMetaObject::invokeMethod(owner, [owner] { owner->deliver(); }, Qt::QueuedConnection);
            }
        }
    }
};

PictureLoader::PictureLoader(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
    loaders().append(this);
}

PictureLoader::~PictureLoader()
{
    loaders().removeOne(this);
    // A reading under way ends on its own; its picture is dropped.
    QMutexLocker lock(&m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->next.reset();
    m_shared->answer.reset();
}

void PictureLoader::request(const QString& path, QSize target)
{
    bool start = false;
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->latest = ++m_shared->numbered;
        m_shared->next = Request{m_shared->latest, path, target};
        m_shared->answer.reset();
        start = !m_shared->working;
        m_shared->working = true;
    }
    if (start) {
        picturePool()->start([shared = m_shared] { Shared::work(shared); });
    }
}

void PictureLoader::cancel()
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->latest = 0;
    m_shared->next.reset();
    m_shared->answer.reset();
}

bool PictureLoader::isPending() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->latest != 0;
}

void PictureLoader::finish()
{
    {
        QMutexLocker lock(&m_shared->mutex);
        while (m_shared->working) {
            m_shared->idle.wait(&m_shared->mutex);
        }
    }
    deliver();
}

void PictureLoader::finishAll()
{
    // A loader's answer may make or remove other loaders (a window opened or closed).
    const QList<PictureLoader*> all = loaders();
    for (PictureLoader* loader : all) {
        if (loaders().contains(loader)) {
            loader->finish();
        }
    }
}

void PictureLoader::deliver()
{
    std::optional<Answer> answer;
    {
        QMutexLocker lock(&m_shared->mutex);
        if (!m_shared->answer || m_shared->answer->number != m_shared->latest) {
            return;
        }
        answer = std::move(m_shared->answer);
        m_shared->answer.reset();
        m_shared->latest = 0;
    }
    emit loaded(answer->path, answer->picture);
}

} // namespace pictures
