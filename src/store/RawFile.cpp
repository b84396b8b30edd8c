#include "store/RawFile.h"

#include "store/Collation.h"
#include "store/DbError.h"

#include <QDir>
#include <QFileInfo>
#include <sqlite3.h>

namespace store::rawfile {

namespace {
constexpr int kBusyTimeoutMs = 5000;
}

Connection::Connection(const QString& path, int flags)
{
    const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
    const int rc = sqlite3_open_v2(name.constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const int number = errorNumberFor(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DbError(number);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    registerCollation(m_db);
}

Connection::~Connection()
{
    sqlite3_close_v2(m_db);
}

std::filesystem::path fsPath(const QString& path)
{
    return std::filesystem::path(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdU16String());
}

} // namespace store::rawfile
