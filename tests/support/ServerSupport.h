#pragma once

// Tests of archives on a server: a plain libpq connection beside the store's, to make and drop
// databases, read what the store wrote, make roles and cut connections. Test code only: the
// program itself reaches a server through the store alone.

#include <QByteArray>
#include <QString>
#include <QVariant>

namespace testsupport::pg {

// The address of the database `database` on the server of `address` (same user, host and port).
QString withDatabase(const QString& address, const QString& database);

// Runs `sqlText` (one statement or several) on the database at `address`; empty when it ran,
// else the server's message.
QString run(const QString& address, const QString& sqlText);

// The first value of the first row of `sqlText` on the database at `address`: whole numbers as
// qint64, other numbers as double, bytea as QByteArray, the rest as text, null (or no row) as an
// invalid QVariant; a text starting with "ERRORE: " when the connection or the SQL is refused.
QVariant scalar(const QString& address, const QString& sqlText);

// A fingerprint of every row of every table of the database at `address`, to tell whether any
// row changed; empty when the database cannot be read.
QByteArray fingerprint(const QString& address);

// Makes the empty database `name` on the server of `address` (dropping any leftover of that name
// first); its address, or empty with the server's message in `error`.
QString createDatabase(const QString& address, const QString& name, QString* error = nullptr);
// Drops the database `name` on the server of `address`, ending its connections; false when the
// server refused.
bool dropDatabase(const QString& address, const QString& name);

// Makes a role that can log in (with `password` when given); its grants are then given with
// run(). False with the server's message in `error` when refused.
bool createRole(const QString& address, const QString& role, const QString& password = {}, QString* error = nullptr);
// Drops the role and everything it owns or was granted in the database at `address`.
bool dropRole(const QString& address, const QString& role);

// A role that may log in and only read the archive at `address` (every table, nothing else),
// dropped with the object, as a library's volunteer at the catalogue desk would have.
class ReaderRole {
  public:
    explicit ReaderRole(const QString& address);
    ~ReaderRole();
    ReaderRole(const ReaderRole&) = delete;
    ReaderRole& operator=(const ReaderRole&) = delete;

    // Empty when the role is ready, else the server's message.
    const QString& error() const { return m_error; }
    const QString& name() const { return m_name; }
    // The archive's address, logging in as this role.
    const QString& address() const { return m_asReader; }

  private:
    QString m_address, m_name, m_asReader, m_error;
};

// Ends every connection to the database at `address` but this helper's own, as a server restart or
// a lost network would; the number ended, -1 when the server refused.
int terminateOtherConnections(const QString& address);

} // namespace testsupport::pg
