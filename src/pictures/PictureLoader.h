#pragma once

#include "pictures/PictureReader.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

namespace pictures {

// Reads pictures for display (readForDisplay) on a thread of the program's picture pool, so that
// no picture, however large or damaged, holds the window that shows it while the user goes on
// browsing. A loader reads one picture at a time. Each request replaces the one before: of the
// requests made while a picture is read, only the latest is read next, and only the latest is
// answered, once, by `loaded` on the loader's own thread. What a request asked for before is
// never handed over after it.
class PictureLoader : public QObject {
    Q_OBJECT
  public:
    explicit PictureLoader(QObject* parent = nullptr);
    ~PictureLoader() override;
    PictureLoader(const PictureLoader&) = delete;
    PictureLoader& operator=(const PictureLoader&) = delete;

    // Asks for `path` read to fill `target` (see readForDisplay); the requests before it go
    // unanswered.
    void request(const QString& path, QSize target);
    // Leaves the latest request unanswered.
    void cancel();
    // True from a request until it is answered or cancelled.
    bool isPending() const;
    // Answers the latest request at once, waiting for its reading to end if need be (no events
    // run meanwhile). For callers that must see the picture before they go on.
    void finish();
    // finish() for every loader of the program: tests and benchmarks that look at what a window
    // shows once its pictures are read.
    static void finishAll();

  signals:
    void loaded(const QString& path, const pictures::DisplayPicture& picture);

  private:
    struct Shared;
    void deliver();

    std::shared_ptr<Shared> m_shared;
};

} // namespace pictures
