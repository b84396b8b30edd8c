#pragma once

#include <QString>

// Reading the picture the user picked for a book's photo or an archive's floor plan.
namespace pictures {

class cDIBSection;

// Reads the picture at `path` into `buffer`, upright: a JPEG file (known by its content, whatever
// its name) through the program's JPEG decoding, with CMYK files and Exif orientation handled;
// any other format Qt can read (PNG, BMP, GIF, and TIFF or WebP where their plug-ins are
// installed) through Qt, a transparent picture laid on white.
//
// Messages: a failure shows exactly one message, here, in Italian and naming the file, and returns
// false with `buffer` left as it was; the caller shows nothing more. invalidFormatOf(path) for a
// file that is not a picture or is damaged (with a second line saying why for a JPEG file cut
// short, of a kind that cannot be read, refused for the work its scans ask for, or a picture too
// wide or high to be written as JPEG), a message when it is missing or cannot be read, one giving
// the size when the picture is too large for memory. Success shows nothing.
bool CaricaImmagine(cDIBSection& buffer, const QString& path);

inline const QString kInvalidFormat = QStringLiteral("Formato immagine non valido");
// "Formato immagine non valido: '" + path + "'": a file that cannot be shown or imported.
QString invalidFormatOf(const QString& path);

// The widest and highest picture a JPEG file holds.
inline constexpr int kMaxJpegSide = 65500;

} // namespace pictures
