#include "store/Sql.h"

#include "store/Collation.h"
#include "store/Schema.h"

#include <QRegularExpression>
#include <QSet>

#include <vector>

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
            } else if (depth == 0 && c.isSpace() && stop.match(text.mid(i)).hasMatch()) {
                break;
            }
        }
        flush(i);
        copied = i;
    }
    out += text.mid(copied);
    return out;
}

// `select distinct <text column> from`: equal texts in the reader's collation are one value, as
// they are one value to the indexes ("Attualità" and "ATTUALITÀ" are the same genre).
QString collateDistinct(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(R"(^(\s*select\s+distinct\s+)((?:\w+\.)?(\w+))(\s+from\b))"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(text);
    if (!m.hasMatch() || !store::schema::textColumns().contains(m.captured(3).toLower())) {
        return text;
    }
    return m.captured(1) + m.captured(2) + QStringLiteral(" COLLATE ") + QLatin1String(store::kCollationName) +
           QStringLiteral(" AS ") + m.captured(3) + m.captured(4) + text.mid(m.capturedEnd());
}

// ---------------------------------------------------------------- reading a SELECT

struct Token {
    enum Kind { Word, Name, String, Number, Punct } kind;
    qsizetype begin;
    qsizetype end;
};

std::vector<Token> tokenize(const QString& text)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        if (c == QLatin1Char('-') && i + 1 < n && text.at(i + 1) == QLatin1Char('-')) {
            while (i < n && text.at(i) != QLatin1Char('\n')) {
                ++i;
            }
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < n && text.at(i + 1) == QLatin1Char('*')) {
            const qsizetype end = text.indexOf(QStringLiteral("*/"), i + 2);
            i = end < 0 ? n : end + 2;
            continue;
        }
        const qsizetype start = i;
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            while (i < n) {
                if (text.at(i) == close) {
                    // A doubled quote stays inside the literal.
                    if (close != QLatin1Char(']') && i + 1 < n && text.at(i + 1) == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            tokens.push_back({c == QLatin1Char('\'') ? Token::String : Token::Name, start, i});
            continue;
        }
        if (c.isLetter() || c == QLatin1Char('_')) {
            while (i < n && (text.at(i).isLetterOrNumber() || text.at(i) == QLatin1Char('_') ||
                             text.at(i) == QLatin1Char('$'))) {
                ++i;
            }
            tokens.push_back({Token::Word, start, i});
            continue;
        }
        if (c.isDigit()) {
            while (i < n && (text.at(i).isLetterOrNumber() || text.at(i) == QLatin1Char('.'))) {
                ++i;
            }
            tokens.push_back({Token::Number, start, i});
            continue;
        }
        tokens.push_back({Token::Punct, start, i + 1});
        ++i;
    }
    return tokens;
}

QString unquoted(const QString& name)
{
    if (name.size() >= 2) {
        const QChar first = name.front();
        if (first == QLatin1Char('"') || first == QLatin1Char('`')) {
            QString inner = name.mid(1, name.size() - 2);
            return inner.replace(QString(2, first), QString(first));
        }
        if (first == QLatin1Char('[')) {
            return name.mid(1, name.size() - 2);
        }
    }
    return name;
}

bool isKeyword(const QString& word)
{
    static const QSet<QString> words{
        QStringLiteral("select"),    QStringLiteral("from"),    QStringLiteral("where"),  QStringLiteral("group"),
        QStringLiteral("order"),     QStringLiteral("limit"),   QStringLiteral("having"), QStringLiteral("union"),
        QStringLiteral("intersect"), QStringLiteral("except"),  QStringLiteral("join"),   QStringLiteral("inner"),
        QStringLiteral("left"),      QStringLiteral("right"),   QStringLiteral("full"),   QStringLiteral("outer"),
        QStringLiteral("cross"),     QStringLiteral("natural"), QStringLiteral("on"),     QStringLiteral("using"),
        QStringLiteral("as"),        QStringLiteral("indexed"), QStringLiteral("not"),    QStringLiteral("window"),
        QStringLiteral("offset"),    QStringLiteral("and"),     QStringLiteral("or")};
    return words.contains(word.toLower());
}

} // namespace

const Shape::Table* Shape::table(const QString& name) const
{
    const Table* found = nullptr;
    for (const Table& t : tables) {
        if (t.name.compare(name, Qt::CaseInsensitive) == 0) {
            if (found) {
                return nullptr; // named twice (a self-join): which one is meant cannot be told
            }
            found = &t;
        }
    }
    return found;
}

Shape analyse(const QString& text)
{
    Shape shape;
    const std::vector<Token> tokens = tokenize(text);
    const auto word = [&](size_t i) {
        return i < tokens.size() && tokens[i].kind == Token::Word
                   ? text.mid(tokens[i].begin, tokens[i].end - tokens[i].begin).toLower()
                   : QString();
    };
    const auto punct = [&](size_t i, char p) {
        return i < tokens.size() && tokens[i].kind == Token::Punct && text.at(tokens[i].begin) == QLatin1Char(p);
    };
    if (word(0) != QLatin1String("select")) {
        return shape;
    }
    size_t i = 1;
    if (word(i) == QLatin1String("distinct")) {
        shape.distinct = true;
        ++i;
    } else if (word(i) == QLatin1String("all")) {
        ++i;
    }
    const size_t listBegin = i;
    // The three parts end at words of depth 0.
    size_t fromAt = tokens.size();
    size_t tailAt = tokens.size();
    int depth = 0;
    for (size_t k = listBegin; k < tokens.size(); ++k) {
        if (punct(k, '(')) {
            ++depth;
        } else if (punct(k, ')')) {
            --depth;
        } else if (depth == 0) {
            const QString w = word(k);
            if (fromAt == tokens.size()) {
                if (w == QLatin1String("from")) {
                    fromAt = k;
                }
            } else if (w == QLatin1String("where") || w == QLatin1String("group") || w == QLatin1String("order") ||
                       w == QLatin1String("limit") || w == QLatin1String("having") || w == QLatin1String("union") ||
                       w == QLatin1String("intersect") || w == QLatin1String("except") ||
                       w == QLatin1String("window") || punct(k, ';')) {
                tailAt = k;
                break;
            }
        }
    }
    if (fromAt == tokens.size() || fromAt == listBegin || fromAt + 1 >= tokens.size()) {
        return shape;
    }
    const auto textOf = [&](size_t from, size_t to) {
        if (from >= to) {
            return QString();
        }
        return text.mid(tokens[from].begin, tokens[to - 1].end - tokens[from].begin);
    };
    shape.selectList = textOf(listBegin, fromAt);
    shape.fromClause = textOf(fromAt + 1, tailAt);
    shape.tail = tailAt < tokens.size() ? text.mid(tokens[tailAt].begin) : QString();
    for (size_t k = tailAt; k < tokens.size(); ++k) {
        const QString w = word(k);
        if (w == QLatin1String("union") || w == QLatin1String("intersect") || w == QLatin1String("except") ||
            w == QLatin1String("group") || w == QLatin1String("having")) {
            shape.compound = true;
        }
    }
    // A total over the rows (count(*), sum(...)) is one row that no table row stands for.
    static const QSet<QString> aggregates{QStringLiteral("count"),       QStringLiteral("sum"), QStringLiteral("total"),
                                          QStringLiteral("avg"),         QStringLiteral("min"), QStringLiteral("max"),
                                          QStringLiteral("group_concat")};
    for (size_t k = listBegin; k + 1 < fromAt; ++k) {
        if (aggregates.contains(word(k)) && punct(k + 1, '(')) {
            shape.compound = true;
        }
    }
    size_t conditionEnd = tailAt;
    if (tailAt < tokens.size() && word(tailAt) == QLatin1String("where")) {
        int level = 0;
        for (conditionEnd = tailAt + 1; conditionEnd < tokens.size(); ++conditionEnd) {
            if (punct(conditionEnd, '(')) {
                ++level;
            } else if (punct(conditionEnd, ')')) {
                --level;
            } else if (level == 0) {
                const QString w = word(conditionEnd);
                if (w == QLatin1String("group") || w == QLatin1String("order") || w == QLatin1String("limit") ||
                    w == QLatin1String("having") || w == QLatin1String("window") || w == QLatin1String("union") ||
                    w == QLatin1String("intersect") || w == QLatin1String("except") || punct(conditionEnd, ';')) {
                    break;
                }
            }
        }
        shape.condition = textOf(tailAt + 1, conditionEnd);
    }
    for (size_t k = 0; k < tokens.size(); ++k) {
        if (punct(k, '?')) {
            (k < fromAt ? shape.selectMarkers : k < tailAt ? shape.fromMarkers : shape.tailMarkers) += 1;
            if (k > tailAt && k < conditionEnd) {
                ++shape.conditionMarkers;
            }
        }
    }
    // Tables follow FROM, JOIN, a comma of the table list or the parenthesis of a group of joins;
    // an alias may follow them. Join conditions (after ON or USING) hold no tables.
    bool expectTable = true;
    bool inCondition = false;
    int level = 0;
    int conditionLevel = 0;
    for (size_t k = fromAt + 1; k < tailAt; ++k) {
        const QString w = word(k);
        if (punct(k, '(')) {
            ++level;
            if (expectTable && word(k + 1) == QLatin1String("select")) {
                shape.subquery = true;
                expectTable = false;
                // Skip the subquery: its tables are not this query's.
                for (int inner = 1; inner > 0 && k + 1 < tailAt;) {
                    ++k;
                    inner += punct(k, '(') ? 1 : punct(k, ')') ? -1 : 0;
                }
                --level;
            }
            continue;
        }
        if (punct(k, ')')) {
            --level;
            if (inCondition && level < conditionLevel) {
                inCondition = false;
            }
            continue;
        }
        if (w == QLatin1String("join")) {
            expectTable = true;
            inCondition = false;
            continue;
        }
        if (w == QLatin1String("on") || w == QLatin1String("using")) {
            inCondition = true;
            conditionLevel = level;
            expectTable = false;
            continue;
        }
        if (punct(k, ',')) {
            if (!inCondition || level == conditionLevel) {
                inCondition = false;
                expectTable = true;
            }
            continue;
        }
        if (!expectTable || inCondition) {
            continue;
        }
        const bool isName = tokens[k].kind == Token::Name || (tokens[k].kind == Token::Word && !isKeyword(w));
        if (!isName) {
            continue; // LEFT, INNER, NATURAL...
        }
        size_t nameAt = k;
        if (punct(k + 1, '.') && k + 2 < tailAt) { // schema.table
            nameAt = k + 2;
        }
        Shape::Table table;
        table.name = unquoted(textOf(nameAt, nameAt + 1));
        table.reference = textOf(k, nameAt + 1);
        size_t next = nameAt + 1;
        if (word(next) == QLatin1String("as")) {
            ++next;
        }
        if (next < tailAt &&
            (tokens[next].kind == Token::Name || (tokens[next].kind == Token::Word && !isKeyword(word(next))))) {
            table.reference = textOf(next, next + 1);
            nameAt = next;
        }
        shape.tables.append(table);
        expectTable = false;
        k = nameAt;
    }
    shape.select = !shape.tables.isEmpty() || shape.subquery;
    return shape;
}

store::Query borrowersNamed(const QString& typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty()) {
        return AllBorrowers;
    }
    QString pattern = text.toUpper();
    pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    pattern.replace(QLatin1Char('%'), QLatin1String("\\%"));
    pattern.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return store::Query(QStringLiteral("Select * from lettori where nome like ? escape '\\' order by nome"),
                        {QLatin1Char('%') + pattern + QLatin1Char('%')}, QStringLiteral("lettori"));
}

QString wordQuery(const QString& typed)
{
    // A handful of words is all anyone types; more would only slow the index down.
    constexpr int kMostWords = 16;
    const QString text = typed.normalized(QString::NormalizationForm_C);
    QStringList words;
    QString word;
    const auto endWord = [&] {
        if (!word.isEmpty() && words.size() < kMostWords) {
            words << QLatin1Char('"') + word + QStringLiteral("\"*");
        }
        word.clear();
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (QChar::isLetterOrNumber(code)) {
                word += c;
                word += text.at(i + 1);
            } else {
                endWord();
            }
            ++i;
        } else if (c.isLetterOrNumber() || c.category() == QChar::Other_PrivateUse) {
            word += c;
        } else if (c.isMark()) {
            // An accent left apart from its letter: the index drops accents anyway.
        } else {
            endWord();
        }
    }
    endWord();
    return words.join(QLatin1Char(' '));
}

store::Query searchBooks(const std::array<std::optional<QString>, kSearchConditions>& values, bool all,
                         const QString& words)
{
    const QString matching = wordQuery(words);
    // The books whose entry in the word index holds the words. As a condition on the book's key,
    // the list is still read in pages by that key.
    const QString inIndex =
        QStringLiteral("biblio.id in (select rowid from biblio_parole where biblio_parole match ?)");
    // The compared column of each condition, by index.
    static const char* const columns[kSearchConditions] = {"posizione",    "autore.nome", "genere",    "argomento",
                                                           "editori.nome", "stato",       "periodico", "inserito_in",
                                                           "anno",         "luogo_stampa"};
    constexpr int kAuthor = 1;
    constexpr int kPublisher = 4;
    const auto condition = [](int i) {
        const QString column = QString::fromLatin1(columns[i]);
        return equalsBound(column, column.mid(column.indexOf(QLatin1Char('.')) + 1));
    };
    QString filter;
    QVariantList bound;
    for (int i = 0; i < kSearchConditions; ++i) {
        if (!values[i]) {
            continue;
        }
        if (!bound.isEmpty()) {
            filter += all ? QStringLiteral(" And ") : QStringLiteral(" OR ");
        }
        filter += QLatin1Char(' ') + condition(i);
        bound << *values[i];
    }
    if (bound.isEmpty()) {
        if (matching.isEmpty()) {
            return AllBooks;
        }
        return store::Query(
            QStringLiteral("Select * from biblio where ") + inIndex + QStringLiteral(" order by titolo"), {matching});
    }
    // The joins of the list. Where every condition must hold, one on the author or the publisher
    // keeps only books that have one: the join is then an inner one, which lets the engine start
    // from that name's index (the rows are the same).
    const bool each = all || bound.size() == 1;
    const QString toPublisher = each && values[kPublisher] ? QStringLiteral("inner join") : QStringLiteral("left join");
    const QString toAuthor = each && values[kAuthor] ? QStringLiteral("inner join") : QStringLiteral("left join");
    if (!matching.isEmpty()) {
        filter = QStringLiteral(" (") + filter + QStringLiteral(") And ") + inIndex;
        bound << matching;
    }
    const QString from = QStringLiteral("(biblio %1 editori on biblio.id_edizione=editori.ID_Editore) %2 autbiblio on "
                                        "biblio.id = autbiblio.id_biblio %2 autore on autbiblio.id_autore = "
                                        "autore.id_autore ")
                             .arg(toPublisher, toAuthor);
    store::Query query(
        QStringLiteral("Select distinct biblio.id, biblio.titolo, biblio.genere, biblio.argomento, biblio.id_edizione, "
                       "biblio.posizione, biblio.anno, biblio.luogo_stampa, biblio.inserito_in, "
                       "biblio.periodico,biblio.stato, autore.id_autore, autore.nome, autbiblio.ID_Biblio, "
                       "Autbiblio.ID_Autore, editori.ID_Editore, editori.nome from ") +
            from + QStringLiteral(" where ") + filter + QStringLiteral(" order  by biblio.titolo"),
        bound);
    // A search can match most of the catalogue: it is read in pages, a book and the author of one
    // of its links telling each row apart (a book has each author once).
    query.keyColumns = QStringList{QStringLiteral("biblio.id"), QStringLiteral("autbiblio.ID_autore")};

    // Conditions joined by OR over columns of different tables leave the engine no index to start
    // from: it would read every book with its links. The books that can match are found instead
    // through each table's own index (the books' conditions together, the author's, the
    // publisher's), and only their rows are joined and checked against the whole condition. The
    // keys come in the order the list has always had: by title, then by the book's key and the
    // author's, as the title index gives them.
    bool books = false;
    for (int i = 0; i < kSearchConditions; ++i) {
        books = books || (values[i] && i != kAuthor && i != kPublisher);
    }
    if (all || int(books) + int(values[kAuthor].has_value()) + int(values[kPublisher].has_value()) < 2) {
        return query;
    }
    QStringList candidates;
    QVariantList candidateValues;
    if (books) {
        QStringList either;
        for (int i = 0; i < kSearchConditions; ++i) {
            if (values[i] && i != kAuthor && i != kPublisher) {
                either << condition(i);
                candidateValues << *values[i];
            }
        }
        candidates << QStringLiteral("SELECT biblio.id FROM biblio WHERE ") + either.join(QStringLiteral(" OR "));
    }
    if (values[kAuthor]) {
        candidates << QStringLiteral("SELECT autbiblio.id_biblio FROM autbiblio INNER JOIN autore ON "
                                     "autbiblio.id_autore = autore.id_autore WHERE ") +
                          condition(kAuthor);
        candidateValues << *values[kAuthor];
    }
    if (values[kPublisher]) {
        candidates << QStringLiteral("SELECT biblio.id FROM biblio INNER JOIN editori ON "
                                     "biblio.id_edizione=editori.ID_Editore WHERE ") +
                          condition(kPublisher);
        candidateValues << *values[kPublisher];
    }
    query.keyText = QStringLiteral("SELECT biblio.id, autbiblio.ID_autore FROM ") + from +
                    QStringLiteral("WHERE biblio.id IN (") + candidates.join(QStringLiteral(" UNION ")) +
                    QStringLiteral(") AND (") + filter +
                    QStringLiteral(") ORDER BY biblio.titolo, biblio.id, autbiblio.ID_autore");
    query.keyValues = candidateValues + bound;
    return query;
}

QString equalsBound(const QString& column, const QString& name)
{
    if (store::schema::textColumns().contains(name.toLower())) {
        return column + QStringLiteral(" = ? COLLATE ") + QLatin1String(store::kCollationName);
    }
    return column + QStringLiteral(" = ?");
}

QString quoteName(const QString& name)
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString translate(const QString& text)
{
    return collateDistinct(collateOrderBy(renameFunctions(text)));
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
