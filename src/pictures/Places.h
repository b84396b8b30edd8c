#pragma once

#include <QList>
#include <QString>

// The folders "Inserisci Immagine" offers as places, and the paths a user types or pastes.
namespace pictures {

struct Place {
    QString name;   // as the list of places shows it
    QString folder; // clean and absolute
};

// The home folder ("Cartella personale"), the pictures folder ("Immagini") and the mounted
// volumes that hold the user's files (disks, removable drives, network shares), sorted by their
// folder; the system's own file systems (the kernel's views, memory, containers' layers, packaged
// programs' images) are left out, the root of the system never. Only folders that exist, once.
QList<Place> places();

// `folder` absolute, with no "." or ".." and no separator at its end.
QString cleanFolder(const QString& folder);

// The folder `path` names, or the nearest folder above it that still exists; empty when none does.
QString existingFolderAt(const QString& path);

// What a user typed or pasted as a path, as a path of this system: quotes around it and a file
// address's "file:" taken off, "~" for the home folder; empty when nothing is left. A relative
// path is left relative.
QString typedPath(const QString& typed);

} // namespace pictures
