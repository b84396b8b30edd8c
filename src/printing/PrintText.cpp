#include "printing/PrintText.h"

#include <QLocale>

namespace printing {

QString fieldText(const QVariant& value)
{
    if (!value.isValid() || value.isNull()) {
        return {};
    }
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return QStringLiteral(" ") + QString::number(value.toLongLong()) + QStringLiteral(" ");
    case QMetaType::Double:
    case QMetaType::Float:
    {
        // The stored value: the decimal sign of the user's settings, no grouping of thousands.
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return QStringLiteral(" ") + locale.toString(value.toDouble(), 'g', QLocale::FloatingPointShortest) +
               QStringLiteral(" ");
    }
    default:
        return value.toString();
    }
}

QString firstChars(const QVariant& value, int n)
{
    return fieldText(value).left(n);
}

QStringList noteLines(const QString& s, int width)
{
    QStringList lines;
    const qsizetype length = s.size();
    qsizetype p = 0;
    while (p < length) {
        const QString window = s.mid(p, width);
        // A line break right after the window ends a line that fills it, as a space there would.
        qsizetype lineBreak = -1;
        for (qsizetype i = 0; i <= width && p + i < length; ++i) {
            if (s[p + i] == QLatin1Char('\r') || s[p + i] == QLatin1Char('\n')) {
                lineBreak = i;
                break;
            }
        }
        if (lineBreak >= 0) {
            lines.append(window.left(lineBreak));
            p += lineBreak;
            const bool crlf = s[p] == QLatin1Char('\r') && p + 1 < length && s[p + 1] == QLatin1Char('\n');
            p += crlf ? 2 : 1;
            continue;
        }
        if (p + width >= length) {
            lines.append(window);
            break;
        }
        qsizetype n = width;
        while (n > 0 && s[p + n] != QLatin1Char(' ')) {
            --n;
        }
        if (n == 0) {
            // A word longer than a line (a web address, a long code): broken at the width.
            lines.append(window);
            p += width;
        } else {
            lines.append(s.mid(p, n));
            p += n + 1;
        }
    }
    return lines;
}

} // namespace printing
