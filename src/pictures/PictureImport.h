#pragma once

#include <QString>

#include <memory>

namespace pictures {

class cDIBSection;

enum class ImportTarget { Photo, Plan };

// Stores the picture at `source` as the photo of the current book (Modulo1::IdLibroCorrente) or
// as the floor plan of the open archive, as "Inserisci Immagine" does and as a picture dropped on
// the viewer or the plan does: read with CaricaImmagine into `buffer` (made when missing, kept
// for the next import), written as JPEG over the old file only once it is complete. Returns false
// when it stored nothing and the user has been told why (no book chosen, a new book not saved
// yet, no archive open, a picture that cannot be read). A file that cannot be written throws
// store::DbError naming the file in Italian.
bool storePicture(const QString& source, ImportTarget target, std::unique_ptr<cDIBSection>& buffer);

} // namespace pictures
