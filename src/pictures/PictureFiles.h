#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

class QIODevice;
class QImageReader;

// The files of photos and floor plans: reading one whole, writing one without ever losing the
// picture it replaces, and the folder they go into.
namespace pictures {

// The largest pictures the program reads: a plan scanned at A1 size and 300 dots per inch has 70
// million pixels. A picture that says it is larger (a damaged or hostile file can claim 65,500 by
// 65,500 in a few hundred bytes) is refused before anything is decoded, and so is a file too large
// to be a picture. Progressive JPEG files hold the whole picture's coefficients while they decode,
// even when read at a reduced scale, so they get a lower limit.
inline constexpr qint64 kMaxPicturePixels = 100'000'000;
inline constexpr qint64 kMaxProgressivePixels = 50'000'000;
inline constexpr qint64 kMaxPictureFileBytes = 256 * 1024 * 1024;
// What Qt's readers may allocate for one picture, the same for every read of the program.
inline constexpr int kAllocationLimitMb = 1024;

// True for a picture of more pixels than `limit`.
inline bool tooManyPixels(QSize size, qint64 limit = kMaxPicturePixels)
{
    return size.isValid() && qint64(size.width()) * size.height() > limit;
}

// What every picture read through Qt gets: turned upright as its file says, and the allocation
// limit above.
void prepareReader(QImageReader& reader);

enum class ReadProblem { None, Missing, Unreadable, TooLarge };

// Reads the file at `path` whole into `bytes`: only an ordinary file (not a folder, a device or a
// pipe, which could never end) of at most kMaxPictureFileBytes. Paths are Unicode throughout.
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
