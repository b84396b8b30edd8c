#pragma once

#include <QString>

#include <memory>

class QSettings;

// The program folder and path handling. Paths may use `\` or `/` as separators.
namespace paths {

// The folder where avvio.ini, archivio/, foto/ and logo.jpg live. A copy of the program in a folder
// of its own that can be written (a portable copy) keeps them beside the executable. A program
// installed where its user cannot write (under /usr) keeps them in the user's data folder
// (QStandardPaths::AppDataLocation), made at the first start from the installed template; so does
// a program run by root from an installed layout, which would otherwise write into the system's
// folders. Decided once for the executable's folder and kept while the program runs.
QString programFolder();
// True when programFolder() is the executable's own folder.
bool isPortable();
// The folder of the executable.
QString executableFolder();
// <prefix>/share/carteo beside <prefix>/bin: the installed template (archivio/$vuoto$.md$) and
// guida.html.
QString installedShareFolder();
// The user guide: beside a portable program, from the installed share folder otherwise.
QString guidePath();
// Tests point the executable's folder at a temporary folder; an empty path restores the default.
void setProgramFolderForTests(const QString& folder);

// Joins a folder and a name with the folder's own separator style.
QString join(const QString& folder, const QString& name);

// Splits a path at its last separator (`\` or `/`), never at the two leading backslashes of a
// network path: \\server\share\lib\a.mdb gives \\server\share\lib\ and a.mdb. A path with no
// separator after position 2 gives its first two characters as the folder.
struct Split {
    QString folder; // with the trailing separator
    QString file;
};
Split splitArchivePath(const QString& path);

// avvio.ini: one line, the path of the archive to open (or the address of an archive on a server,
// kept without its password); UTF-8, rewritten whole with CR LF.
QString startupFilePath();
// Reads the first line; throws store::DbError 62 when the file is empty, 53 when missing, 70
// when it cannot be read.
QString readStartupFile();
// Replaces the whole file with one line; throws store::DbError 70 or 75 when it cannot be written,
// 3904 for a path with a line break or another control character.
void writeStartupFile(const QString& archivePath);

// True for an existing ordinary file; a hidden file or a folder counts as missing. Throws
// store::DbError 52 for a name the file system refuses (a NUL inside it, a name too long).
bool ordinaryFileExists(const QString& path);

// What the program remembers between runs (window places, the last picture folder): one INI file
// of the user's ("Carteo/Carteo.ini" in the user's configuration folder; tests point
// QSettings::setPath elsewhere).
std::unique_ptr<QSettings> settings();

QString defaultArchivePath();  // <program>/archivio/archivio.mdb
QString archiveFolder();       // <program>/archivio
QString templateArchivePath(); // <program>/archivio/$vuoto$.md$

} // namespace paths
