#pragma once

#include <QString>

#include <functional>
#include <optional>

// Archives on a PostgreSQL server. An archive's address is either a file path or a connection
// address "postgresql://user@host:port/database" (also "postgres://", with libpq's own query
// parameters such as "?sslmode=require" or "?host=/run/postgresql"). Archive::open and
// Archive::create take either; everything above the store works on both alike.
//
// Passwords are never part of what the program writes or shows: the address kept in avvio.ini and
// shown in the main window carries none, and the password is asked once per run (the prompt set
// below) unless libpq's own password file or service file gives it.
namespace store::server {

// True when `address` names an archive on a server rather than a file.
bool isAddress(const QString& address);

// The parts of a connection address, as the "Server…" dialog asks for them.
struct Parts {
    QString host;     // name or address; a folder (starting with "/") is a local socket
    int port = 5432;
    QString database;
    QString user;
    QString sslmode;  // empty: libpq's default ("prefer")
    // libpq's other parameters given in the address ("sslrootcert=…&connect_timeout=…"), kept as
    // they were; never a password.
    QString options;
};
// The address of `parts`, with no password.
QString addressOf(const Parts& parts);
// The parts of an address; empty parts where the address says nothing.
Parts partsOf(const QString& address);

// The address as users see it (window title, "Nome Archivio", messages, avvio.ini): any password
// taken out.
QString shown(const QString& address);
// The server and database in a message: "host:port/database".
QString serverName(const QString& address);

// Asks the user for the password of `shownAddress`; nullopt when the user cancels. Called on the
// thread that opens the archive, at most once per address and run while the answer is accepted.
using PasswordPrompt = std::function<std::optional<QString>(const QString& shownAddress)>;
void setPasswordPrompt(PasswordPrompt prompt);
// Forgets the passwords given in this run (a refused password is forgotten at once).
void forgetPasswords();

// What a repair means on a server: the server's own checks and maintenance (integrity of the
// tables and indexes, statistics, space given back). Holds the archive exclusively while it runs:
// 3356 when another desk has it open. Returns the lines to tell the user.
QStringList maintain(const QString& address);

} // namespace store::server

namespace store {

// Copies the whole archive `source` into `target`, each a file path or a server address: a server
// database must exist and be empty (3933 otherwise), a file must not exist. The schema is created,
// every row copied with its key, and the rows of each table counted on both sides at the end
// (3934 when they differ). On any failure or stop the target is left as it was (the server
// database empty again, no file). `progress` is told the rows copied and the total now and then;
// returning false stops the copy (then 32755).
void transferArchive(const QString& source, const QString& target,
                     const std::function<bool(qint64 done, qint64 total)>& progress = {});

} // namespace store
