#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;

// The files of photos and floor plans: reading one whole, writing one without ever losing the
// picture it replaces, and the folder they go into.
namespace pictures {

enum class ReadProblem { None, Missing, Unreadable };

// Reads the file at `path` whole into `bytes`. Paths are Unicode throughout.
ReadProblem readWholeFile(const QString& path, QByteArray& bytes);

// The picture format Qt recognises in what `device` holds, or the one the extension of `path`
// suggests when the content does not tell (the device is left where it was).
QByteArray pictureFormat(QIODevice& device, const QString& path);

// Writes `bytes` as the file `path`. The new file is written beside the target and moved over it
// only once it is complete, so a failure at any moment leaves the old file as it was. A replaced
// file's modification and access times (and creation time where the system lets it be set) and
// its permissions pass to the new file. Throws store::DbError with an Italian description naming
// the file: 70 when the existing file is read-only or the folder cannot be written, 76 when the
// folder is missing, 61 when the disk is full, 75 for any other failure.
void replaceFile(const QString& path, const QByteArray& bytes);

// Makes sure that pictures can be written into `folder`, creating it (and its parents) when
// missing. Throws store::DbError with an Italian description naming the folder: 76 when it cannot
// be created, 70 when it cannot be written, 61 when its disk is full.
void ensureFolder(const QString& folder);

} // namespace pictures
