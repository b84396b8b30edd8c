#pragma once

#include <QSize>
#include <QString>

// Where a book's photo and an archive's floor plan live, and how a picture is fitted into the frame
// that shows it.
namespace pictures {

// The folder of the photos: the program folder + "foto". Photos live beside the program, so every
// archive it opens shares them. The photos of an archive on a server (Modulo1::PercorsoArchivio)
// live where every desk finds them: the shared picture folder + "foto"; empty when there is none.
QString photoFolder();
// The photo of a book: the photo folder + the book's key + ".jpg"; empty when there is no folder.
QString photoFile(qint64 bookId);

// The settings' key that names the shared folder of the pictures of archives on a server.
inline constexpr const char* kServerPictureFolderKey = "Server/CartellaImmagini";
// That folder, or empty when none is set or this desk cannot reach it.
QString serverPictureFolder();

// The floor plan of the open archive (Modulo1): planFile() beside an archive file; for an archive
// on a server, the shared picture folder + "pianta" + the database's name + ".jpg" (characters a
// file name cannot hold become "_"), or empty without that folder.
QString planOfOpenArchive();

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
