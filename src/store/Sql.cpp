#include "store/Sql.h"

#include "store/Collation.h"
#include "store/Schema.h"

#include <QRegularExpression>

namespace sql {

namespace {

// Marks every character of `text` that lies inside a quoted literal or name.
std::vector<bool> quotedMask(const QString& text)
{
    std::vector<bool> mask(text.size(), false);
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!quote.isNull()) {
            mask[i] = true;
            if (c == quote) {
                quote = QChar();
            }
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[') || c == QLatin1Char('`')) {
            quote = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            mask[i] = true;
        }
    }
    return mask;
}

QString orderTerm(const QString& term)
{
    static const QRegularExpression re(QStringLiteral(R"(^(\s*)((?:\w+\.)?(\w+))(\s*(?:(?:asc|desc)\s*)?)$)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(term);
    if (!m.hasMatch() || !store::schema::textColumns().contains(m.captured(3).toLower())) {
        return term;
    }
    return m.captured(1) + m.captured(2) + QStringLiteral(" COLLATE ") + QLatin1String(store::kCollationName) +
           m.captured(4);
}

// Text columns in `order by` sort with the reader's collation, which the indexes are built with.
QString collateOrderBy(const QString& text)
{
    static const QRegularExpression orderBy(QStringLiteral(R"(\border\s+by\b)"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression stop(QStringLiteral(R"(^\s*\b(limit|offset)\b)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const std::vector<bool> mask = quotedMask(text);
    QString out;
    qsizetype copied = 0;
    auto it = orderBy.globalMatch(text);
    while (it.hasNext()) {
        const auto m = it.next();
        if (mask[m.capturedStart()] || m.capturedStart() < copied) {
            continue;
        }
        qsizetype i = m.capturedEnd();
        out += text.mid(copied, i - copied);
        int depth = 0;
        qsizetype termStart = i;
        auto flush = [&](qsizetype end) { out += orderTerm(text.mid(termStart, end - termStart)); };
        for (; i < text.size(); ++i) {
            if (mask[i]) {
                continue;
            }
            const QChar c = text.at(i);
            if (c == QLatin1Char('(')) {
                ++depth;
            } else if (c == QLatin1Char(')')) {
                if (depth == 0) {
                    break;
                }
                --depth;
            } else if (depth == 0 && c == QLatin1Char(',')) {
                flush(i);
                out += c;
                termStart = i + 1;
            } else if (depth == 0 && c == QLatin1Char(';')) {
                break;
            } else if (depth == 0 && stop.match(text.mid(i)).hasMatch() && text.at(i).isSpace()) {
                break;
            }
        }
        flush(i);
        copied = i;
    }
    out += text.mid(copied);
    return out;
}

} // namespace

QString translate(const QString& text)
{
    return collateOrderBy(renameFunctions(text));
}

QString renameFunctions(const QString& text)
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
