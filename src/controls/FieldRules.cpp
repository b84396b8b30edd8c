#include "controls/FieldRules.h"

#include <QLocale>

#include <cmath>

namespace controls {
namespace {

// The text without the locale's group separators, read as a number of that locale.
std::optional<double> readNumber(const QString& text)
{
    const QLocale locale;
    QString plain = text.trimmed();
    plain.remove(locale.groupSeparator());
    if (plain.isEmpty()) {
        return std::nullopt;
    }
    bool ok = false;
    const double d = locale.toDouble(plain, &ok);
    if (ok && std::isfinite(d)) {
        return d;
    }
    return std::nullopt;
}

qint64 rounded(double d)
{
    return qint64(std::llround(d));
}

} // namespace

std::optional<double> parseAmount(const QString& text)
{
    return readNumber(text);
}

QString formatLireTyping(const QString& text)
{
    const std::optional<double> n = readNumber(text);
    return n ? QLocale().toString(rounded(*n)) : text;
}

QString formatLire(const QVariant& value)
{
    if (value.isNull()) {
        return {};
    }
    bool ok = false;
    double d = value.toDouble(&ok);
    if (value.typeId() == QMetaType::QString) {
        const std::optional<double> n = readNumber(value.toString());
        ok = n.has_value();
        d = n.value_or(0);
    }
    if (!ok) {
        return value.toString();
    }
    return rounded(d) == 0 ? QString() : QLocale().toString(rounded(d));
}

QString formatEuro(const QVariant& value)
{
    if (value.isNull()) {
        return {};
    }
    bool ok = false;
    double d = value.toDouble(&ok);
    if (value.typeId() == QMetaType::QString) {
        const std::optional<double> n = readNumber(value.toString());
        ok = n.has_value();
        d = n.value_or(0);
    }
    return ok ? QLocale().toString(d, 'f', 2) : value.toString();
}

} // namespace controls
