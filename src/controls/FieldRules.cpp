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

// A stored number as it is, a text as the regional settings read it; nothing for null or a text
// that is not a number.
std::optional<double> numberOf(const QVariant& value)
{
    if (value.isNull()) {
        return std::nullopt;
    }
    if (value.typeId() == QMetaType::QString) {
        return readNumber(value.toString());
    }
    bool ok = false;
    const double d = value.toDouble(&ok);
    return ok ? std::optional<double>(d) : std::nullopt;
}

} // namespace

std::optional<double> parseAmount(const QString& text)
{
    return readNumber(text);
}

bool withinLimits(double amount, FieldRule::Number number)
{
    return std::fabs(amount) <= (number == FieldRule::Number::Euro ? kLargestEuro : kLargestWhole);
}

QString largestAmount(FieldRule::Number number)
{
    return number == FieldRule::Number::Euro ? QLocale().toString(kLargestEuro, 'f', 2)
                                             : QLocale().toString(qint64(kLargestWhole));
}

// Beyond the limits a number is shown digit for digit, so that nobody reads another number in its
// place.
QString formatLireTyping(const QString& text)
{
    const std::optional<double> n = readNumber(text);
    if (!n) {
        return text;
    }
    if (!withinLimits(*n, FieldRule::Number::Lire)) {
        return QString(text).remove(QLocale().groupSeparator());
    }
    return QLocale().toString(rounded(*n));
}

QString formatLire(const QVariant& value)
{
    const std::optional<double> n = numberOf(value);
    if (!n || !withinLimits(*n, FieldRule::Number::Lire)) {
        return value.toString();
    }
    return rounded(*n) == 0 ? QString() : QLocale().toString(rounded(*n));
}

QString formatEuro(const QVariant& value)
{
    const std::optional<double> n = numberOf(value);
    return n && withinLimits(*n, FieldRule::Number::Euro) ? QLocale().toString(*n, 'f', 2) : value.toString();
}

} // namespace controls
