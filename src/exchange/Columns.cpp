#include "exchange/Columns.h"

#include <QHash>

namespace exchange {
namespace {

using Kind = Cell::Kind;

// A heading as the guesses compare it: lower case, accents dropped, every run of anything but
// letters and digits one space.
QString folded(const QString& heading)
{
    const QString decomposed = heading.normalized(QString::NormalizationForm_KD).toLower();
    QString out;
    bool space = false;
    for (const QChar c : decomposed) {
        if (c.isMark()) {
            continue;
        }
        if (c.isLetterOrNumber()) {
            if (space && !out.isEmpty()) {
                out += QLatin1Char(' ');
            }
            space = false;
            out += c;
        } else {
            space = true;
        }
    }
    return out;
}

} // namespace

const QList<FieldInfo>& bookFields()
{
    static const QList<FieldInfo> fields{
        {Field::Key, QStringLiteral("Codice"), {}, Kind::Integer},
        {Field::Title, QStringLiteral("Titolo"), QStringLiteral("titolo"), Kind::Text},
        {Field::Authors, QStringLiteral("Autori"), {}, Kind::Text},
        {Field::Publisher, QStringLiteral("Editore"), {}, Kind::Text},
        {Field::Position, QStringLiteral("Posizione"), QStringLiteral("posizione"), Kind::Text},
        {Field::Genre, QStringLiteral("Genere"), QStringLiteral("genere"), Kind::Text},
        {Field::Subject, QStringLiteral("Argomento"), QStringLiteral("argomento"), Kind::Text},
        {Field::PrintPlace, QStringLiteral("Luogo di stampa"), QStringLiteral("luogo_stampa"), Kind::Text},
        {Field::Year, QStringLiteral("Anno"), QStringLiteral("anno"), Kind::Integer},
        {Field::Edition, QStringLiteral("Edizione"), QStringLiteral("edizione"), Kind::Text},
        {Field::PurchaseDate, QStringLiteral("Data di acquisto"), QStringLiteral("data_acquisto"), Kind::Date},
        {Field::CostLire, QStringLiteral("Costo in lire"), QStringLiteral("costo_L"), Kind::Integer},
        {Field::CostEuro, QStringLiteral("Costo in euro"), QStringLiteral("costo_E"), Kind::Amount},
        {Field::ContainedIn, QStringLiteral("Inserito in"), QStringLiteral("inserito_in"), Kind::Text},
        {Field::Periodical, QStringLiteral("Periodico"), QStringLiteral("periodico"), Kind::Text},
        {Field::Issue, QStringLiteral("Annata/numero"), QStringLiteral("annata_num"), Kind::Text},
        {Field::CurrentPosition, QStringLiteral("Posizione attuale"), QStringLiteral("posizione_attuale"), Kind::Text},
        {Field::State, QStringLiteral("Stato di conservazione"), QStringLiteral("stato"), Kind::Text},
        {Field::Notes, QStringLiteral("Note"), QStringLiteral("note"), Kind::Text},
        {Field::LibraryCode, QStringLiteral("Codice biblioteca"), QStringLiteral("cod_biblio"), Kind::Text},
        {Field::Pages, QStringLiteral("Pagine"), QStringLiteral("num_pag"), Kind::Integer},
        {Field::PlanX, QStringLiteral("Pianta X"), QStringLiteral("posx"), Kind::Integer},
        {Field::PlanY, QStringLiteral("Pianta Y"), QStringLiteral("posy"), Kind::Integer},
    };
    return fields;
}

const FieldInfo& infoOf(Field field)
{
    for (const FieldInfo& info : bookFields()) {
        if (info.field == field) {
            return info;
        }
    }
    static const FieldInfo ignored{Field::Ignore, QStringLiteral("(non importare)"), {}, Kind::Text};
    return ignored;
}

Field guessField(const QString& heading)
{
    const QString text = folded(heading);
    if (text.isEmpty()) {
        return Field::Ignore;
    }
    // Whole headings first: the program's own headings and column names, and the usual ones.
    static const QHash<QString, Field> whole = [] {
        QHash<QString, Field> names;
        for (const FieldInfo& info : bookFields()) {
            names.insert(folded(info.heading), info.field);
            if (!info.column.isEmpty()) {
                names.insert(folded(info.column), info.field);
            }
        }
        const std::initializer_list<std::pair<const char*, Field>> usual{
            {"id", Field::Key},           {"chiave", Field::Key},         {"cod", Field::Key},
            {"codice libro", Field::Key}, {"n", Field::Key},              {"nr", Field::Key},
            {"numero", Field::Key},       {"title", Field::Title},        {"autore", Field::Authors},
            {"author", Field::Authors},   {"authors", Field::Authors},    {"editrice", Field::Publisher},
            {"edizioni", Field::Publisher}, {"publisher", Field::Publisher}, {"year", Field::Year},
            {"prezzo", Field::CostEuro},  {"costo", Field::CostEuro},     {"euro", Field::CostEuro},
            {"lire", Field::CostLire},    {"pag", Field::Pages},          {"pagg", Field::Pages},
            {"pages", Field::Pages},      {"luogo", Field::PrintPlace},   {"citta", Field::PrintPlace},
            {"collocazione", Field::Position}, {"soggetto", Field::Subject}, {"stato", Field::State},
            {"conservazione", Field::State}, {"annotazioni", Field::Notes}, {"ediz", Field::Edition},
            {"inventario", Field::LibraryCode}, {"periodici", Field::Periodical}, {"annata", Field::Issue},
            {"posiz", Field::Position},   {"genere", Field::Genre},       {"notes", Field::Notes}};
        for (const auto& [name, field] : usual) {
            names.insert(QString::fromUtf8(name), field);
        }
        return names;
    }();
    if (const auto found = whole.constFind(text); found != whole.cend()) {
        return *found;
    }
    // Then words inside the heading, the more particular before the more general ones.
    const auto has = [&text](const char* word) { return text.contains(QLatin1String(word)); };
    if (has("posizione attuale")) return Field::CurrentPosition;
    if (has("codice biblio") || has("cod biblio")) return Field::LibraryCode;
    if (has("titolo") || has("title")) return Field::Title;
    if (has("autor") || has("author")) return Field::Authors;
    if (has("editor") || has("editrice")) return Field::Publisher;
    if (has("lire")) return Field::CostLire;
    if (has("prezzo") || has("costo") || has("euro")) return Field::CostEuro;
    if (has("acquist")) return Field::PurchaseDate;
    if (has("annata")) return Field::Issue;
    if (has("anno")) return Field::Year;
    if (has("pagin")) return Field::Pages;
    if (has("luogo")) return Field::PrintPlace;
    if (has("genere")) return Field::Genre;
    if (has("argoment") || has("soggett")) return Field::Subject;
    if (has("note")) return Field::Notes;
    if (has("conservaz")) return Field::State;
    if (has("periodic")) return Field::Periodical;
    if (has("inserito")) return Field::ContainedIn;
    if (has("edizione")) return Field::Edition;
    if (has("collocazione") || has("posizione")) return Field::Position;
    if (has("codice")) return Field::Key;
    return Field::Ignore;
}

QStringList authorHeadings()
{
    return {QStringLiteral("Nome"), QStringLiteral("Data di nascita"), QStringLiteral("Luogo di nascita"),
            QStringLiteral("Note")};
}

QStringList publisherHeadings()
{
    return {QStringLiteral("Nome"), QStringLiteral("Residenza"), QStringLiteral("Indirizzo"),
            QStringLiteral("Telefono"), QStringLiteral("Note")};
}

} // namespace exchange
