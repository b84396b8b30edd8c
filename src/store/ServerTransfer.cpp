#include "store/Server.h"

#include "store/DbError.h"

namespace store::server {

QStringList maintain(const QString& address)
{
    Q_UNUSED(address);
    throw DbError(ErrInvalidProcedure);
}

} // namespace store::server

namespace store {

void transferArchive(const QString& source, const QString& target,
                     const std::function<bool(qint64 done, qint64 total)>& progress)
{
    Q_UNUSED(source);
    Q_UNUSED(target);
    Q_UNUSED(progress);
    throw DbError(ErrInvalidProcedure);
}

} // namespace store
