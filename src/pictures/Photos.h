#pragma once

#include <QSize>
#include <QString>

// Where a book's photo and an archive's floor plan live, and how a picture is fitted into the frame
// that shows it.
namespace pictures {

// The folder of the photos: the program folder + "foto". Photos live beside the program, so every
// archive it opens shares them.
QString photoFolder();
// The photo of a book: the photo folder + the book's key + ".jpg".
QString photoFile(qint64 bookId);

// The floor plan of an archive: beside it, "pianta" + the archive's file name without its
// extension (".mdb", in any case) + ".jpg"; archivio.mdb in C:\lib\ has C:\lib\piantaarchivio.jpg.
// `archiveFolder` ends with its separator (Modulo1::CartellaArchivio). Empty when no archive is
// open (no file name).
QString planFile(const QString& archiveFolder, const QString& archiveFile);

// The size a picture of `natural` size is shown at in a frame of `inner` size: as wide as the frame
// at most, then as high at most, its proportions kept; a smaller picture keeps its size. An empty
// size gives an empty size.
QSize fittedSize(QSize natural, QSize inner);

} // namespace pictures
