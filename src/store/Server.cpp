#include "store/Server.h"

#include "store/DbError.h"

#include <QHash>
#include <QMutex>
#include <QStringList>
#include <QUrl>

namespace store::server {
namespace {

const QString kScheme = QStringLiteral("postgresql://");
const QString kShortScheme = QStringLiteral("postgres://");

QString decoded(const QString& part)
{
    return QUrl::fromPercentEncoding(part.toUtf8());
}

QString encoded(const QString& part)
{
    return QString::fromUtf8(QUrl::toPercentEncoding(part));
}

struct Parsed {
    Parts parts;
    QString password;
};

Parsed parse(const QString& address)
{
    Parsed out;
    QString rest = address.trimmed();
    if (rest.startsWith(kScheme, Qt::CaseInsensitive)) {
        rest = rest.mid(kScheme.size());
    } else if (rest.startsWith(kShortScheme, Qt::CaseInsensitive)) {
        rest = rest.mid(kShortScheme.size());
    }
    QString query;
    if (const int q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QString path;
    if (const int slash = rest.indexOf(QLatin1Char('/')); slash >= 0) {
        path = rest.mid(slash + 1);
        rest = rest.left(slash);
    }
    if (const int at = rest.lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userInfo = rest.left(at);
        rest = rest.mid(at + 1);
        const int colon = userInfo.indexOf(QLatin1Char(':'));
        out.parts.user = decoded(colon >= 0 ? userInfo.left(colon) : userInfo);
        if (colon >= 0) {
            out.password = decoded(userInfo.mid(colon + 1));
        }
    }
    // host[:port]; an IPv6 address is written in brackets.
    QString host = rest;
    if (host.startsWith(QLatin1Char('['))) {
        const int close = host.indexOf(QLatin1Char(']'));
        if (close > 0) {
            const QString tail = host.mid(close + 1);
            host = host.mid(1, close - 1);
            if (tail.startsWith(QLatin1Char(':'))) {
                out.parts.port = tail.mid(1).toInt();
            }
        }
    } else if (const int colon = host.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        out.parts.port = host.mid(colon + 1).toInt();
        host = host.left(colon);
    }
    out.parts.host = decoded(host);
    out.parts.database = decoded(path);
    QStringList kept;
    for (const QString& pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString key = decoded(eq >= 0 ? pair.left(eq) : pair).trimmed().toLower();
        const QString value = eq >= 0 ? decoded(pair.mid(eq + 1)) : QString();
        if (key == QLatin1String("password")) {
            out.password = value;
        } else if (key == QLatin1String("host")) {
            out.parts.host = value;
        } else if (key == QLatin1String("port")) {
            out.parts.port = value.toInt();
        } else if (key == QLatin1String("dbname")) {
            out.parts.database = value;
        } else if (key == QLatin1String("user")) {
            out.parts.user = value;
        } else if (key == QLatin1String("sslmode")) {
            out.parts.sslmode = value;
        } else if (!key.isEmpty()) {
            kept << encoded(key) + QLatin1Char('=') + encoded(value);
        }
    }
    if (out.parts.port <= 0) {
        out.parts.port = 5432;
    }
    out.parts.options = kept.join(QLatin1Char('&'));
    return out;
}

} // namespace

bool isAddress(const QString& address)
{
    const QString a = address.trimmed();
    return a.startsWith(kScheme, Qt::CaseInsensitive) || a.startsWith(kShortScheme, Qt::CaseInsensitive);
}

QString addressOf(const Parts& parts)
{
    QString a = kScheme;
    if (!parts.user.isEmpty()) {
        a += encoded(parts.user) + QLatin1Char('@');
    }
    const bool v6 = parts.host.contains(QLatin1Char(':')) && !parts.host.startsWith(QLatin1Char('/'));
    a += v6 ? QLatin1Char('[') + parts.host + QLatin1Char(']') : encoded(parts.host);
    if (parts.port > 0 && parts.port != 5432) {
        a += QLatin1Char(':') + QString::number(parts.port);
    }
    a += QLatin1Char('/') + encoded(parts.database);
    QStringList query;
    if (!parts.sslmode.isEmpty()) {
        query << QStringLiteral("sslmode=") + encoded(parts.sslmode);
    }
    if (!parts.options.isEmpty()) {
        query << parts.options;
    }
    if (!query.isEmpty()) {
        a += QLatin1Char('?') + query.join(QLatin1Char('&'));
    }
    return a;
}

Parts partsOf(const QString& address)
{
    return parse(address).parts;
}

QString shown(const QString& address)
{
    return isAddress(address) ? addressOf(partsOf(address)) : address;
}

QString serverName(const QString& address)
{
    const Parts p = partsOf(address);
    return QStringLiteral("%1:%2/%3").arg(p.host.isEmpty() ? QStringLiteral("localhost") : p.host).arg(p.port).arg(p.database);
}

} // namespace store::server

namespace store::server {
namespace {

struct Passwords {
    QMutex lock;
    PasswordPrompt prompt;
    QHash<QString, QString> given; // by shown address
};

Passwords& passwords()
{
    static Passwords p;
    return p;
}

} // namespace

void setPasswordPrompt(PasswordPrompt prompt)
{
    QMutexLocker hold(&passwords().lock);
    passwords().prompt = std::move(prompt);
}

void forgetPasswords()
{
    QMutexLocker hold(&passwords().lock);
    passwords().given.clear();
}

// The password of this run for `address`: the one written in it, else one given before, else the
// prompt's answer (asked when `ask`). Empty when there is none.
std::optional<QString> passwordFor(const QString& address, bool ask)
{
    const Parsed p = parse(address);
    if (!p.password.isEmpty()) {
        return p.password;
    }
    const QString key = shown(address);
    PasswordPrompt prompt;
    {
        QMutexLocker hold(&passwords().lock);
        if (const auto it = passwords().given.constFind(key); it != passwords().given.constEnd()) {
            return *it;
        }
        prompt = passwords().prompt;
    }
    if (!ask) {
        return QString();
    }
    if (!prompt) {
        return std::nullopt;
    }
    std::optional<QString> answer = prompt(key);
    if (answer) {
        QMutexLocker hold(&passwords().lock);
        passwords().given.insert(key, *answer);
    }
    return answer;
}

void forgetPassword(const QString& address)
{
    QMutexLocker hold(&passwords().lock);
    passwords().given.remove(shown(address));
}

} // namespace store::server
