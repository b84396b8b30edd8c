#pragma once

#include <QString>

// The program's JPEG reader and writer over an image buffer. Each call runs the codec in the same
// order: start it, read the file's parameters, read the picture (or start it and write the
// picture), release it.
namespace pictures {

class cDIBSection;

// Reads the JPEG file at `path` into `buffer`, made at the picture's size and turned upright as
// its Exif orientation says. Shows its own message (exclamation icon, OK) and returns false when
// the file cannot be read: "Failed to read JPG" when the file is missing or is no JPEG file (with
// a second line naming a kind of JPEG the codec cannot read), "Cannot read Image Data from file."
// when the picture data is damaged or cut short, or its scans ask for more work than the program
// allows (see jpeg::Limits), "Failed to initialise the JPEG codec: " + the
// codec's words when the codec cannot start. Returns false without a message when there is no
// memory for the picture. On failure `buffer` is left as it was.
bool CaricaJpeg(cDIBSection& buffer, const QString& path);

// Writes `buffer` to the JPEG file `path` with `quality` (1 to 100; the program uses 50),
// replacing a file there only once the new one is complete and handing on its times and
// permissions (see replaceFile in PictureFiles.h). Shows no message: throws store::DbError 26001
// ("Failed to save to JPG " + the codec's result and words, or "Failed to initialise the JPEG
// codec: " + its words), or the file error of replaceFile, with the old file left as it was.
// Returns true otherwise.
bool SalvaJpeg(cDIBSection& buffer, const QString& path, int quality);

// The number of the codec's errors when writing.
constexpr int kErrJpegWrite = 26001;

} // namespace pictures
