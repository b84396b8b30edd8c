#include "store/Sql.h"

namespace sql {

QString translate(const QString& text)
{
    static const QString word = QStringLiteral("isnull");
    static const QString replacement = QStringLiteral("carteo_isnull");
    QString out;
    out.reserve(text.size() + 16);
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            out += c;
            if (c == quote) {
                quote = QChar();
            }
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[') || c == QLatin1Char('`')) {
            quote = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            out += c;
            continue;
        }
        const bool startsWord = i == 0 || !(text.at(i - 1).isLetterOrNumber() || text.at(i - 1) == QLatin1Char('_'));
        if (startsWord && text.mid(i, word.size()).compare(word, Qt::CaseInsensitive) == 0) {
            qsizetype j = i + word.size();
            if (j < text.size() && (text.at(j).isLetterOrNumber() || text.at(j) == QLatin1Char('_'))) {
                out += c;
                continue;
            }
            while (j < text.size() && text.at(j).isSpace()) {
                ++j;
            }
            if (j < text.size() && text.at(j) == QLatin1Char('(')) {
                out += replacement;
                i += word.size() - 1;
                continue;
            }
        }
        out += c;
    }
    return out;
}

} // namespace sql
