#include "ArchiveGenerator.h"

#include "store/Archive.h"

#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>
#include <sqlite3.h>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

namespace bench {

// ---------------------------------------------------------------- Random

namespace {

std::uint64_t splitmix64(std::uint64_t& x)
{
    std::uint64_t z = (x += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

inline std::uint64_t rotl(std::uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

Random::Random(std::uint64_t variant)
{
    for (auto& s : m_s) {
        s = splitmix64(variant);
    }
}

std::uint64_t Random::next()
{
    const std::uint64_t result = rotl(m_s[1] * 5, 7) * 9;
    const std::uint64_t t = m_s[1] << 17;
    m_s[2] ^= m_s[0];
    m_s[3] ^= m_s[1];
    m_s[1] ^= m_s[2];
    m_s[0] ^= m_s[3];
    m_s[2] ^= t;
    m_s[3] = rotl(m_s[3], 45);
    return result;
}

std::uint32_t Random::below(std::uint32_t n)
{
    // Multiply-shift: unbiased enough for test data, and the same everywhere.
    return std::uint32_t(((next() >> 32) * std::uint64_t(n)) >> 32);
}

std::uint32_t Random::skewed(std::uint32_t n, double skew)
{
    const auto i = std::uint32_t(std::pow(unit(), skew) * n);
    return std::min(i, n - 1);
}

namespace {

// ---------------------------------------------------------------- word lists

using Words = std::span<const char* const>;

template <std::size_t N> Words words(const std::array<const char*, N>& a)
{
    return Words(a.data(), a.size());
}

const char* pick(Random& r, Words w)
{
    return w[r.below(std::uint32_t(w.size()))];
}

enum Gender { Masculine, Feminine };

struct Noun {
    const char* text;
    Gender gender;
    bool plural;
};

constexpr Noun kNouns[] = {
    {"GIARDINO", Masculine, false},   {"MARE", Masculine, false},      {"TEMPO", Masculine, false},
    {"VIAGGIO", Masculine, false},    {"SEGRETO", Masculine, false},   {"FIUME", Masculine, false},
    {"BOSCO", Masculine, false},      {"CASTELLO", Masculine, false},  {"SOLE", Masculine, false},
    {"CIELO", Masculine, false},      {"VENTO", Masculine, false},     {"SILENZIO", Masculine, false},
    {"RICORDO", Masculine, false},    {"SOGNO", Masculine, false},     {"PAESE", Masculine, false},
    {"LIBRO", Masculine, false},      {"NOME", Masculine, false},      {"DESTINO", Masculine, false},
    {"CAMMINO", Masculine, false},    {"CONFINE", Masculine, false},   {"DESERTO", Masculine, false},
    {"PONTE", Masculine, false},      {"PORTO", Masculine, false},     {"TRENO", Masculine, false},
    {"SENTIERO", Masculine, false},   {"FUOCO", Masculine, false},     {"INVERNO", Masculine, false},
    {"AUTUNNO", Masculine, false},    {"AMORE", Masculine, false},     {"ANGELO", Masculine, false},
    {"ORIZZONTE", Masculine, false},  {"UOMO", Masculine, false},      {"ALBERO", Masculine, false},
    {"SPECCHIO", Masculine, false},   {"STUDIO", Masculine, false},    {"SCRITTORE", Masculine, false},
    {"ZAINO", Masculine, false},      {"GNOMO", Masculine, false},     {"SPIRITO", Masculine, false},
    {"FALÒ", Masculine, false},       {"OBLÒ", Masculine, false},      {"GIOCO", Masculine, false},
    {"LUPO", Masculine, false},       {"MONDO", Masculine, false},     {"PRINCIPE", Masculine, false},
    {"CAVALIERE", Masculine, false},  {"MERCANTE", Masculine, false},  {"PASTORE", Masculine, false},
    {"MAESTRO", Masculine, false},    {"MEDICO", Masculine, false},    {"FARO", Masculine, false},
    {"VULCANO", Masculine, false},    {"LAGO", Masculine, false},      {"CAFFÈ", Masculine, false},
    {"CITTÀ", Feminine, false},       {"CASA", Feminine, false},       {"NOTTE", Feminine, false},
    {"LUNA", Feminine, false},        {"TERRA", Feminine, false},      {"STORIA", Feminine, false},
    {"MONTAGNA", Feminine, false},    {"GUERRA", Feminine, false},     {"PACE", Feminine, false},
    {"VITA", Feminine, false},        {"MORTE", Feminine, false},      {"STRADA", Feminine, false},
    {"VALLE", Feminine, false},       {"ISOLA", Feminine, false},      {"ESTATE", Feminine, false},
    {"ANIMA", Feminine, false},       {"ALBA", Feminine, false},       {"ORA", Feminine, false},
    {"OMBRA", Feminine, false},       {"ACQUA", Feminine, false},      {"LIBERTÀ", Feminine, false},
    {"VERITÀ", Feminine, false},      {"VIRTÙ", Feminine, false},      {"GIOVENTÙ", Feminine, false},
    {"FAMIGLIA", Feminine, false},    {"MEMORIA", Feminine, false},    {"LUCE", Feminine, false},
    {"PIOGGIA", Feminine, false},     {"NEVE", Feminine, false},       {"FINESTRA", Feminine, false},
    {"PORTA", Feminine, false},       {"LETTERA", Feminine, false},    {"CHIESA", Feminine, false},
    {"SCUOLA", Feminine, false},      {"STAZIONE", Feminine, false},   {"FORESTA", Feminine, false},
    {"COLLINA", Feminine, false},     {"SPIAGGIA", Feminine, false},   {"NAVE", Feminine, false},
    {"REGINA", Feminine, false},      {"DONNA", Feminine, false},      {"MADRE", Feminine, false},
    {"FELICITÀ", Feminine, false},    {"SOLITUDINE", Feminine, false}, {"BELLEZZA", Feminine, false},
    {"RIVOLUZIONE", Feminine, false}, {"REPUBBLICA", Feminine, false}, {"LINGUA", Feminine, false},
    {"POESIA", Feminine, false},      {"MUSICA", Feminine, false},     {"ARTE", Feminine, false},
    {"ERBA", Feminine, false},        {"ETÀ", Feminine, false},        {"UNITÀ", Feminine, false},
    {"ANNI", Masculine, true},        {"GIORNI", Masculine, true},     {"FRATELLI", Masculine, true},
    {"RACCONTI", Masculine, true},    {"CANTI", Masculine, true},      {"VIAGGI", Masculine, true},
    {"SENTIERI", Masculine, true},    {"RICORDI", Masculine, true},    {"SOGNI", Masculine, true},
    {"STUDI", Masculine, true},       {"SCRITTI", Masculine, true},    {"UCCELLI", Masculine, true},
    {"ALBERI", Masculine, true},      {"AMICI", Masculine, true},      {"FIGLI", Masculine, true},
    {"MONTI", Masculine, true},       {"FIORI", Masculine, true},      {"EROI", Masculine, true},
    {"ZII", Masculine, true},         {"PELLEGRINI", Masculine, true}, {"FALÒ", Masculine, true},
    {"STAGIONI", Feminine, true},     {"NOTTI", Feminine, true},       {"PAROLE", Feminine, true},
    {"STORIE", Feminine, true},       {"CITTÀ", Feminine, true},       {"ISOLE", Feminine, true},
    {"ACQUE", Feminine, true},        {"ORE", Feminine, true},         {"LETTERE", Feminine, true},
    {"MEMORIE", Feminine, true},      {"ROSE", Feminine, true},        {"STELLE", Feminine, true},
    {"ONDE", Feminine, true},         {"VOCI", Feminine, true},        {"DONNE", Feminine, true},
    {"FAVOLE", Feminine, true},       {"LEGGENDE", Feminine, true},    {"CRONACHE", Feminine, true},
};

struct Adjective {
    const char* forms[4]; // masculine, feminine, masculine plural, feminine plural
};

constexpr Adjective kAdjectives[] = {
    {{"ANTICO", "ANTICA", "ANTICHI", "ANTICHE"}},
    {{"NUOVO", "NUOVA", "NUOVI", "NUOVE"}},
    {{"PERDUTO", "PERDUTA", "PERDUTI", "PERDUTE"}},
    {{"SEGRETO", "SEGRETA", "SEGRETI", "SEGRETE"}},
    {{"NASCOSTO", "NASCOSTA", "NASCOSTI", "NASCOSTE"}},
    {{"LONTANO", "LONTANA", "LONTANI", "LONTANE"}},
    {{"ULTIMO", "ULTIMA", "ULTIMI", "ULTIME"}},
    {{"BIANCO", "BIANCA", "BIANCHI", "BIANCHE"}},
    {{"NERO", "NERA", "NERI", "NERE"}},
    {{"ROSSO", "ROSSA", "ROSSI", "ROSSE"}},
    {{"OSCURO", "OSCURA", "OSCURI", "OSCURE"}},
    {{"SILENZIOSO", "SILENZIOSA", "SILENZIOSI", "SILENZIOSE"}},
    {{"ETERNO", "ETERNA", "ETERNI", "ETERNE"}},
    {{"INFINITO", "INFINITA", "INFINITI", "INFINITE"}},
    {{"PICCOLO", "PICCOLA", "PICCOLI", "PICCOLE"}},
    {{"BREVE", "BREVE", "BREVI", "BREVI"}},
    {{"GRANDE", "GRANDE", "GRANDI", "GRANDI"}},
    {{"FELICE", "FELICE", "FELICI", "FELICI"}},
    {{"TRISTE", "TRISTE", "TRISTI", "TRISTI"}},
    {{"DOLCE", "DOLCE", "DOLCI", "DOLCI"}},
    {{"VERDE", "VERDE", "VERDI", "VERDI"}},
    {{"ITALIANO", "ITALIANA", "ITALIANI", "ITALIANE"}},
    {{"STRANIERO", "STRANIERA", "STRANIERI", "STRANIERE"}},
    {{"DIMENTICATO", "DIMENTICATA", "DIMENTICATI", "DIMENTICATE"}},
    {{"INCANTATO", "INCANTATA", "INCANTATI", "INCANTATE"}},
    {{"PROIBITO", "PROIBITA", "PROIBITI", "PROIBITE"}},
    {{"SELVAGGIO", "SELVAGGIA", "SELVAGGI", "SELVAGGE"}},
    {{"MEDIEVALE", "MEDIEVALE", "MEDIEVALI", "MEDIEVALI"}},
    {{"ROMANO", "ROMANA", "ROMANI", "ROMANE"}},
    {{"VENEZIANO", "VENEZIANA", "VENEZIANI", "VENEZIANE"}},
    {{"NAPOLETANO", "NAPOLETANA", "NAPOLETANI", "NAPOLETANE"}},
    {{"FIORENTINO", "FIORENTINA", "FIORENTINI", "FIORENTINE"}},
    {{"SICILIANO", "SICILIANA", "SICILIANI", "SICILIANE"}},
    {{"UMILE", "UMILE", "UMILI", "UMILI"}},
    {{"AMARO", "AMARA", "AMARI", "AMARE"}},
};

// Words that open a title and are followed by "di" and a noun ("STORIA DELLA CITTÀ").
constexpr std::array kLeadsOf = {
    "STORIA",     "BREVE STORIA", "ELOGIO",     "MEMORIE",     "CRONACHE",        "DIARIO",
    "MANUALE",    "GUIDA",        "IL SEGRETO", "IL LIBRO",    "LE AVVENTURE",    "IL RITORNO",
    "LA FINE",    "IL CANTO",     "I RACCONTI", "LA LEGGENDA", "IL MISTERO",      "ATLANTE",
    "DIZIONARIO", "ANTOLOGIA",    "TRATTATO",   "LEZIONI",     "L'ULTIMO GIORNO", "L'ARTE",
    "IL PROFUMO", "LA CASA",      "IL NOME",    "LA VOCE",     "L'ORO",           "IL PREZZO",
    "IL SENSO",   "LE RADICI",    "IL PESO",    "L'ELOGIO",    "LA STRADA",       "UN'ESTATE",
};

struct LeadWithPreposition {
    const char* lead;
    const char* preposition; // "A", "DA", "IN", "SU", "DI", or a preposition that does not join
};

constexpr LeadWithPreposition kLeadsWith[] = {
    {"VIAGGIO", "A"},  {"RITORNO", "A"},   {"LETTERE", "DA"},      {"RACCONTI", "DA"},    {"LONTANO", "DA"},
    {"UN ANNO", "SU"}, {"NOTTE", "SU"},    {"PASSEGGIATE", "PER"}, {"IN VIAGGIO", "CON"}, {"TRA", "TRA"},
    {"FUGA", "DA"},    {"NOTIZIE", "SU"},  {"CAMMINANDO", "IN"},   {"DIALOGO", "SU"},     {"ULTIME NOTIZIE", "DA"},
    {"INVITO", "A"},   {"SOSPESI", "TRA"}, {"UN INVERNO", "IN"},   {"È TORNATO", "IN"},   {"PIÙ VICINO", "A"},
};

constexpr std::array kGenres = {
    "ROMANZO",   "RACCONTI",     "POESIA",    "SAGGIO",        "STORIA",       "BIOGRAFIA",
    "TEATRO",    "RAGAZZI",      "GIALLO",    "RELIGIONE",     "FILOSOFIA",    "ARTE",
    "VIAGGI",    "CUCINA",       "SCIENZE",   "DIRITTO",       "ECONOMIA",     "POLITICA",
    "GEOGRAFIA", "FIABE",        "MUSICA",    "MEDICINA",      "FANTASCIENZA", "AUTOBIOGRAFIA",
    "DIZIONARI", "ENCICLOPEDIE", "MANUALI",   "STORIA LOCALE", "ARCHITETTURA", "CLASSICI GRECI E LATINI",
    "FUMETTI",   "PERIODICI",    "PEDAGOGIA",
};

constexpr std::array kSubjects = {
    "STORIA D'ITALIA",
    "RISORGIMENTO",
    "SECONDA GUERRA MONDIALE",
    "LETTERATURA ITALIANA",
    "ARCHEOLOGIA",
    "PITTURA DEL RINASCIMENTO",
    "CUCINA REGIONALE",
    "BOTANICA",
    "ASTRONOMIA",
    "ALPINISMO",
    "EMIGRAZIONE",
    "RESISTENZA",
    "VITA CONTADINA",
    "DIALETTI",
    "TRADIZIONI POPOLARI",
    "SANTI E BEATI",
    "LITURGIA",
    "PEDAGOGIA",
    "PSICOLOGIA",
    "ARCHITETTURA SACRA",
    "MEDIOEVO",
    "ETÀ MODERNA",
    "NOVECENTO",
    "FAMIGLIA",
    "MARE",
    "MONTAGNA",
    "AMICIZIA",
    "AMORE",
    "INFANZIA",
    "GUERRA",
    "FEDE",
    "LAVORO",
    "CITTÀ",
    "NATURA",
    "ANIMALI",
    "SPORT",
    "GIARDINAGGIO",
    "FOTOGRAFIA",
    "CINEMA",
    "MUSICA POPOLARE",
    "L'UNITÀ D'ITALIA",
    "ANTICA ROMA",
    "GRECIA ANTICA",
    "DANTE E IL SUO TEMPO",
};

constexpr std::array kCities = {
    "ROMA",
    "MILANO",
    "NAPOLI",
    "TORINO",
    "PALERMO",
    "GENOVA",
    "BOLOGNA",
    "FIRENZE",
    "BARI",
    "CATANIA",
    "VENEZIA",
    "VERONA",
    "MESSINA",
    "PADOVA",
    "TRIESTE",
    "BRESCIA",
    "PARMA",
    "TARANTO",
    "PRATO",
    "MODENA",
    "REGGIO CALABRIA",
    "REGGIO EMILIA",
    "PERUGIA",
    "LIVORNO",
    "RAVENNA",
    "CAGLIARI",
    "FOGGIA",
    "RIMINI",
    "SALERNO",
    "FERRARA",
    "SASSARI",
    "LATINA",
    "MONZA",
    "SIRACUSA",
    "PESCARA",
    "BERGAMO",
    "FORLÌ",
    "TRENTO",
    "VICENZA",
    "TERNI",
    "BOLZANO",
    "NOVARA",
    "PIACENZA",
    "ANCONA",
    "AREZZO",
    "UDINE",
    "CESENA",
    "LECCE",
    "PESARO",
    "LA SPEZIA",
    "L'AQUILA",
    "COMO",
    "PISA",
    "LUCCA",
    "SIENA",
    "MANTOVA",
    "CREMONA",
    "ASTI",
    "CUNEO",
    "AOSTA",
    "MATERA",
    "POTENZA",
    "CAMPOBASSO",
    "BENEVENTO",
    "AVELLINO",
    "CASERTA",
    "VITERBO",
    "RIETI",
    "FROSINONE",
    "ORVIETO",
    "ASSISI",
    "GUBBIO",
    "URBINO",
    "MACERATA",
    "ASCOLI PICENO",
    "CHIETI",
    "TERAMO",
    "SULMONA",
    "COSENZA",
    "CATANZARO",
    "TRAPANI",
    "AGRIGENTO",
    "RAGUSA",
    "NUORO",
    "CANTÙ",
    "SAN DONÀ DI PIAVE",
    "CITTÀ DI CASTELLO",
    "SANT'ANGELO DEI LOMBARDI",
    "PAOLA",
    "CASTELFRANCO VENETO",
    "BASSANO DEL GRAPPA",
    "SAN MARINO",
};

constexpr std::array kFirstNames = {
    "GIUSEPPE",  "GIOVANNI",   "ANTONIO",    "MARIO",    "LUIGI",    "FRANCESCO", "ANGELO",   "VINCENZO", "PIETRO",
    "SALVATORE", "CARLO",      "FRANCO",     "DOMENICO", "BRUNO",    "PAOLO",     "MICHELE",  "GIORGIO",  "ALDO",
    "SERGIO",    "LUCIANO",    "ALESSANDRO", "ANDREA",   "ROBERTO",  "STEFANO",   "MARCO",    "LUCA",     "MATTEO",
    "NICCOLÒ",   "GABRIELE",   "UMBERTO",    "ITALO",    "CESARE",   "DINO",      "PRIMO",    "NATALIA",  "MARIA",
    "ANNA",      "GIUSEPPINA", "ROSA",       "ANGELA",   "GIOVANNA", "TERESA",    "LUCIA",    "CARMELA",  "CATERINA",
    "FRANCESCA", "ELSA",       "GRAZIA",     "ALDA",     "ORIANA",   "DACIA",     "ELENA",    "CHIARA",   "SARA",
    "GIULIA",    "MARTINA",    "SILVIA",     "PAOLA",    "LAURA",    "BEATRICE",  "ADA",      "ILARIA",   "FEDERICO",
    "EMILIO",    "ENRICO",     "ERMINIA",    "GIACOMO",  "UGO",      "VITTORIO",  "LEONARDO", "TOMMASO",  "EUGENIO",
    "CORRADO",   "GUIDO",      "GIANNI",     "ROCCO",    "NICOLA",   "ELIO",      "RENATA",   "AGNESE",   "ORSOLA",
    "IRENE",     "EDOARDO",    "OTTAVIO",    "RAFFAELE", "GIOSUÈ",   "NICOLÒ",    "MIRELLA",
};

constexpr std::array kSurnames = {
    "ROSSI",      "RUSSO",     "FERRARI",   "ESPOSITO",     "BIANCHI",    "ROMANO",     "COLOMBO",    "RICCI",
    "MARINO",     "GRECO",     "BRUNO",     "GALLO",        "CONTI",      "DE LUCA",    "COSTA",      "GIORDANO",
    "MANCINI",    "RIZZO",     "LOMBARDI",  "MORETTI",      "BARBIERI",   "FONTANA",    "SANTORO",    "MARIANI",
    "RINALDI",    "CARUSO",    "FERRARA",   "GALLI",        "MARTINI",    "LEONE",      "LONGO",      "GENTILE",
    "MARTINELLI", "VITALE",    "LOMBARDO",  "SERRA",        "COPPOLA",    "DE SANTIS",  "D'ANGELO",   "MARCHETTI",
    "PARISI",     "VILLA",     "CONTE",     "FERRARO",      "FERRI",      "FABBRI",     "BIANCO",     "MARINI",
    "GRASSO",     "VALENTINI", "MESSINA",   "SALA",         "DE ANGELIS", "GATTI",      "PELLEGRINI", "PALUMBO",
    "SANNA",      "FARINA",    "RIZZI",     "MONTI",        "CATTANEO",   "MORELLI",    "AMATO",      "SILVESTRI",
    "MAZZA",      "TESTA",     "GRASSI",    "PELLEGRINO",   "CARBONE",    "GIULIANI",   "BENEDETTI",  "BARONE",
    "ROSSETTI",   "CAPUTO",    "MONTANARI", "GUERRA",       "PALMIERI",   "BERNARDI",   "MARTINO",    "FIORE",
    "DE ROSA",    "FERRETTI",  "BELLINI",   "BASILE",       "RIVA",       "DONATI",     "PIRAS",      "VITALI",
    "BATTAGLIA",  "SARTORI",   "NERI",      "COSTANTINI",   "MILANI",     "PAGANO",     "RUGGIERO",   "SORRENTINO",
    "D'AMICO",    "ORLANDO",   "NEGRI",     "D'ALESSANDRO", "DELL'ACQUA", "DALL'OGLIO", "CANTÙ",      "BERTÈ",
    "DELL'ORTO",  "DALL'ARA",  "SCOTTI",    "ZANETTI",      "ZAMBONI",    "TOSI",       "BONI",       "CASTELLI",
    "GUIDI",      "BASSI",     "CARLI",     "SPINELLI",     "FIORENTINI", "SALVI",      "BELLI",      "MAGGI",
    "ORLANDI",    "PACE",      "PAOLETTI",  "CECCHI",       "MELIS",      "DI STEFANO", "DI PIETRO",  "LO BUE",
    "LA ROSA",    "LI CAUSI",  "MAZZOLENI", "BERTOLINI",    "ZANON",      "FURLAN",     "DE MARCHI",  "PAVAN",
    "GIACOMELLI", "QUARTA",    "PERRONE",   "ERRICO",       "UCCELLO",    "ODDONE",     "IACONO",     "ALBANESE",
};

constexpr std::array kStreets = {
    "VIA ROMA",           "VIA GARIBALDI",
    "VIA MAZZINI",        "CORSO VITTORIO EMANUELE II",
    "PIAZZA DEL DUOMO",   "VIA DANTE",
    "VIA VERDI",          "VIALE DELLA REPUBBLICA",
    "VIA DEI MILLE",      "VIA XX SETTEMBRE",
    "CORSO ITALIA",       "VIA CAVOUR",
    "VIA MARCONI",        "VIA DELL'INDIPENDENZA",
    "VIA SANT'ANNA",      "VIA NAZIONALE",
    "VIA DEL CORSO",      "PIAZZA DELLA LIBERTÀ",
    "VIA DELLA STAZIONE", "VICOLO DEL POZZO",
    "VIA SAN FRANCESCO",  "VIA DEGLI ARTIGIANI",
    "VIALE EUROPA",       "LARGO UNIVERSITÀ",
};

constexpr std::array kStates = {"PESSIMO", "MALTENUTO", "DISCRETO", "BUONO", "OTTIMO", "NUOVO!"};

constexpr std::array kEditions = {
    "I",
    "II",
    "III",
    "IV",
    "PRIMA",
    "SECONDA",
    "TERZA",
    "RISTAMPA",
    "1ª",
    "2ª",
    "EDIZIONE ECONOMICA",
    "TASCABILE",
    "EDIZIONE RIVEDUTA E CORRETTA",
    "NUOVA EDIZIONE",
};

constexpr std::array kBookNotes = {
    "DEDICA DELL'AUTORE",
    "COPERTINA RESTAURATA",
    "PRIMA EDIZIONE",
    "ESEMPLARE NUMERATO",
    "MANCA LA SOVRACCOPERTA",
    "SOTTOLINEATURE A MATITA",
    "DONO DI UN LETTORE",
    "EX LIBRIS SUL FRONTESPIZIO",
    "PAGINE INGIALLITE",
    "CON ILLUSTRAZIONI IN B/N",
    "TAVOLE A COLORI",
    "RILEGATURA IN MEZZA PELLE",
    "ACQUISTATO ALLA FIERA DEL LIBRO",
    "COPIA DOPPIA",
    "DA RESTAURARE",
    "NON PRESTARE",
    "CON CD ALLEGATO",
    "TRADUZIONE DAL FRANCESE",
    "TRADUZIONE DALL'INGLESE",
    "TESTO A FRONTE",
    "FA PARTE DI UNA COLLANA",
    "È LA SECONDA COPIA",
    "PIÙ VOLUMI IN COFANETTO",
    "PERCHÉ NON C'È L'INDICE?",
};

constexpr std::array kPresentPlaces = {"IN PRESTITO", "IN RESTAURO", "SALA LETTURA", "DEPOSITO", "UFFICIO"};

constexpr std::array kPeriodicals = {
    "NUOVA ANTOLOGIA",
    "LA CIVILTÀ CATTOLICA",
    "IL MULINO",
    "IL PONTE",
    "BOLLETTINO PARROCCHIALE",
    "RIVISTA DI STORIA LOCALE",
    "QUADERNI DI CULTURA",
    "L'ILLUSTRAZIONE ITALIANA",
    "NOTIZIARIO DEL CIRCOLO",
    "LA LETTURA",
    "ARCHIVIO STORICO",
    "L'EDUCATORE",
};

constexpr std::array kCollections = {
    "I CLASSICI",        "BIBLIOTECA UNIVERSALE", "I GRANDI ROMANZI",       "SCRITTORI ITALIANI",
    "COLLANA DI STORIA", "I LIBRI DEL MARE",      "QUADERNI DELLA MEMORIA", "OPERE COMPLETE",
};

constexpr std::array kAuthorNotes = {
    "POETA",
    "ROMANZIERE",
    "STORICO",
    "GIORNALISTA",
    "INSEGNANTE",
    "SACERDOTE",
    "MEDICO E SCRITTORE",
    "TRADUTTORE",
    "ILLUSTRATORE",
    "PREMIO STREGA",
    "AUTORE LOCALE",
    "PSEUDONIMO",
    "DETTO \"IL MAESTRO\"",
};

constexpr std::array kPublisherNotes = {
    "CESSATA ATTIVITÀ", "ASSORBITA DA ALTRO EDITORE",   "SPECIALIZZATA IN STORIA LOCALE", "EDITORE UNIVERSITARIO",
    "PICCOLO EDITORE",  "SCONTO 10% PER LA BIBLIOTECA", "CATALOGO SU RICHIESTA",          "LIBRI PER RAGAZZI",
};

constexpr std::array kRoman = {"I",  "II",  "III",  "IV",  "V",  "VI",  "VII",  "VIII",  "IX",  "X",
                               "XI", "XII", "XIII", "XIV", "XV", "XVI", "XVII", "XVIII", "XIX", "XX"};

// ---------------------------------------------------------------- Italian grammar, just enough

bool startsWithVowel(const char* w)
{
    const auto c = static_cast<unsigned char>(w[0]);
    return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U' || c == 0xC3; // 0xC3: À È É Ì Ò Ù
}

// Words that take "lo" and "gli": s followed by a consonant, z, gn, ps.
bool startsImpure(const char* w)
{
    const std::string s(w);
    if (s.empty()) {
        return false;
    }
    if (s[0] == 'Z' || s.rfind("GN", 0) == 0 || s.rfind("PS", 0) == 0) {
        return true;
    }
    return s[0] == 'S' && s.size() > 1 && !startsWithVowel(s.c_str() + 1);
}

enum class ArticleKind { Il, Lo, Elided, La, I, Gli, Le };

ArticleKind articleFor(const Noun& n)
{
    if (n.gender == Masculine) {
        if (n.plural) {
            return startsWithVowel(n.text) || startsImpure(n.text) ? ArticleKind::Gli : ArticleKind::I;
        }
        return startsWithVowel(n.text) ? ArticleKind::Elided : startsImpure(n.text) ? ArticleKind::Lo : ArticleKind::Il;
    }
    if (n.plural) {
        return ArticleKind::Le;
    }
    return startsWithVowel(n.text) ? ArticleKind::Elided : ArticleKind::La;
}

// "IL MARE", "L'ISOLA", "GLI ANNI".
std::string withArticle(const Noun& n)
{
    switch (articleFor(n)) {
    case ArticleKind::Il:
        return std::string("IL ") + n.text;
    case ArticleKind::Lo:
        return std::string("LO ") + n.text;
    case ArticleKind::Elided:
        return std::string("L'") + n.text;
    case ArticleKind::La:
        return std::string("LA ") + n.text;
    case ArticleKind::I:
        return std::string("I ") + n.text;
    case ArticleKind::Gli:
        return std::string("GLI ") + n.text;
    case ArticleKind::Le:
        return std::string("LE ") + n.text;
    }
    return n.text;
}

// A preposition joined with the article: "DELLA CITTÀ", "ALL'ISOLA", "SUGLI ALBERI", "PER IL MARE".
std::string withPreposition(const std::string& preposition, const Noun& n)
{
    std::string stem;
    if (preposition == "DI") {
        stem = "DE";
    } else if (preposition == "IN") {
        stem = "NE";
    } else if (preposition == "A" || preposition == "DA" || preposition == "SU") {
        stem = preposition;
    } else {
        return preposition + " " + withArticle(n);
    }
    switch (articleFor(n)) {
    case ArticleKind::Il:
        return stem + "L " + n.text;
    case ArticleKind::Lo:
        return stem + "LLO " + n.text;
    case ArticleKind::Elided:
        return stem + "LL'" + n.text;
    case ArticleKind::La:
        return stem + "LLA " + n.text;
    case ArticleKind::I:
        return stem + "I " + n.text;
    case ArticleKind::Gli:
        return stem + "GLI " + n.text;
    case ArticleKind::Le:
        return stem + "LLE " + n.text;
    }
    return preposition + " " + n.text;
}

// "UN'ISOLA", "UNO SPECCHIO", "UNA NOTTE", "UN MARE"; plural nouns keep the definite article.
std::string withIndefinite(const Noun& n)
{
    if (n.plural) {
        return withArticle(n);
    }
    if (n.gender == Feminine) {
        return (startsWithVowel(n.text) ? std::string("UN'") : std::string("UNA ")) + n.text;
    }
    return (startsImpure(n.text) ? std::string("UNO ") : std::string("UN ")) + n.text;
}

const char* agree(const Adjective& a, const Noun& n)
{
    return a.forms[(n.plural ? 2 : 0) + (n.gender == Feminine)];
}

const Noun& anyNoun(Random& r)
{
    return kNouns[r.below(std::size(kNouns))];
}
const Adjective& anyAdjective(Random& r)
{
    return kAdjectives[r.below(std::size(kAdjectives))];
}

std::string personName(Random& r)
{
    std::string name = pick(r, words(kFirstNames));
    if (r.chance(0.08)) {
        name += std::string(" ") + pick(r, words(kFirstNames));
    } else if (r.chance(0.05)) {
        name += std::string(" ") + char('A' + r.below(26)) + ".";
    }
    return name + " " + pick(r, words(kSurnames));
}

std::string title(Random& r)
{
    const Noun& n = anyNoun(r);
    const Noun& m = anyNoun(r);
    std::string t;
    switch (r.below(11)) {
    case 0:
        t = withArticle(n);
        break;
    case 1:
    case 2:
        t = withArticle(n) + " " + agree(anyAdjective(r), n);
        break;
    case 3:
        t = withArticle(n) + " " + withPreposition("DI", m);
        break;
    case 4:
    case 5:
        t = std::string(pick(r, words(kLeadsOf))) + " " + withPreposition("DI", n);
        break;
    case 6:
        t = std::string(n.text) + " E " + m.text;
        break;
    case 7:
        t = withArticle(n) + " È " + agree(anyAdjective(r), n);
        break;
    case 8: {
        const LeadWithPreposition& l = kLeadsWith[r.below(std::size(kLeadsWith))];
        t = std::string(l.lead) + " " + withPreposition(l.preposition, n);
        if (r.chance(0.3)) {
            t += std::string(" ") + agree(anyAdjective(r), n);
        }
        break;
    }
    case 9:
        t = withIndefinite(n) + " " + agree(anyAdjective(r), n);
        break;
    default: {
        static constexpr std::array lives = {"VITA DI ", "RITRATTO DI ", "IN MEMORIA DI ", "LETTERE A ", "OMAGGIO A "};
        t = std::string(pick(r, words(lives))) + personName(r);
    }
    }
    if (r.chance(0.07)) {
        t += std::string(" - VOL. ") + kRoman[r.below(6)];
    } else if (r.chance(0.06)) {
        t += std::string(". ") + withArticle(m) + " " + withPreposition("DI", anyNoun(r));
    }
    return t;
}

std::string format(const char* pattern, auto... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

std::string date(Random& r, int yearFrom, int yearTo)
{
    return format("%02d/%02d/%04d", r.between(1, 28), r.between(1, 12), r.between(yearFrom, yearTo));
}

std::string telephone(Random& r)
{
    static constexpr std::array prefixes = {"06",  "02",  "011",  "081",  "055",  "051",  "010", "041",
                                            "091", "080", "0461", "0733", "0862", "0965", "079", "0521"};
    std::string number = std::string(pick(r, words(prefixes))) + " ";
    const int digits = r.between(6, 7);
    for (int i = 0; i < digits; ++i) {
        number += char('0' + r.below(10));
    }
    return number;
}

std::string publisherName(Random& r)
{
    const std::string surname = pick(r, words(kSurnames));
    switch (r.below(9)) {
    case 0:
        return "EDIZIONI " + surname;
    case 1:
        return surname + " EDITORE";
    case 2:
        return "CASA EDITRICE " + surname;
    case 3:
        return "TIPOGRAFIA " + surname;
    case 4:
        return "LIBRERIA EDITRICE " + std::string(pick(r, words(kCities)));
    case 5:
        return surname + " & " + pick(r, words(kSurnames));
    case 6:
        return "EDIZIONI " + withPreposition("DI", anyNoun(r));
    case 7:
        return "NUOVA EDITRICE " + std::string(pick(r, words(kCities)));
    default:
        return surname + " EDITORI ASSOCIATI";
    }
}

// ---------------------------------------------------------------- writing

class Insert {
  public:
    Insert(sqlite3* db, const char* sql) : m_db(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string("prepare: ") + sqlite3_errmsg(db));
        }
    }
    ~Insert() { sqlite3_finalize(m_stmt); }
    Insert(const Insert&) = delete;
    Insert& operator=(const Insert&) = delete;

    void text(int i, const std::optional<std::string>& v)
    {
        if (v) {
            sqlite3_bind_text(m_stmt, i, v->data(), int(v->size()), SQLITE_TRANSIENT);
        } else {
            sqlite3_bind_null(m_stmt, i);
        }
    }
    void integer(int i, std::optional<qint64> v)
    {
        v ? sqlite3_bind_int64(m_stmt, i, *v) : sqlite3_bind_null(m_stmt, i);
    }
    void real(int i, std::optional<double> v) { v ? sqlite3_bind_double(m_stmt, i, *v) : sqlite3_bind_null(m_stmt, i); }
    void run()
    {
        if (sqlite3_step(m_stmt) != SQLITE_DONE) {
            throw std::runtime_error(std::string("insert: ") + sqlite3_errmsg(m_db));
        }
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }

  private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

void exec(sqlite3* db, const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : "?";
        sqlite3_free(message);
        throw std::runtime_error(std::string(sql) + ": " + text);
    }
}

using Text = std::optional<std::string>;

Text maybe(Random& r, double p, const std::string& v)
{
    return r.chance(p) ? Text(v) : std::nullopt;
}

void insertPublishers(sqlite3* db, Random& r, int count)
{
    Insert ins(db, "INSERT INTO editori (nome, residenza, indirizzo, telefono, note) VALUES (?,?,?,?,?)");
    for (int i = 0; i < count; ++i) {
        ins.text(1, publisherName(r));
        ins.text(2, maybe(r, 0.95, pick(r, words(kCities))));
        ins.text(3, maybe(r, 0.8, std::string(pick(r, words(kStreets))) + format(", %d", r.between(1, 180))));
        ins.text(4, maybe(r, 0.7, telephone(r)));
        ins.text(5, maybe(r, 0.15, pick(r, words(kPublisherNotes))));
        ins.run();
    }
}

void insertAuthors(sqlite3* db, Random& r, int count)
{
    Insert ins(db, "INSERT INTO autore (nome, data_nascita, luogo_nascita, note) VALUES (?,?,?,?)");
    for (int i = 0; i < count; ++i) {
        ins.text(1, personName(r));
        ins.text(2, maybe(r, 0.55, date(r, 1780, 2000)));
        ins.text(3, maybe(r, 0.5, pick(r, words(kCities))));
        ins.text(4, maybe(r, 0.1, pick(r, words(kAuthorNotes))));
        ins.run();
    }
}

void insertBooks(sqlite3* db, Random& r, const std::vector<int>& ids, int publishers, GeneratedArchive& out)
{
    Insert ins(db, "INSERT INTO biblio (id, titolo, posizione, genere, argomento, id_edizione, luogo_stampa, anno, "
                   "edizione, data_acquisto, costo_L, costo_E, inserito_in, periodico, annata_num, "
                   "posizione_attuale, stato, note, cod_biblio, num_pag, posx, posy) "
                   "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const int id : ids) {
        const bool periodical = r.chance(0.04);
        const std::string position = r.chance(0.85) ? format("SC. %d P. %d", r.between(1, 40), r.between(1, 8))
                                                    : format("ARM. %d RIP. %d", r.between(1, 12), r.between(1, 6));
        // Most books from the last century, some very old, a few this year.
        const int year = r.chance(0.1) ? r.between(1850, 1920) : 2025 - int(r.skewed(106, 1.6));
        ins.integer(1, id);
        ins.text(2, periodical ? std::string(pick(r, words(kPeriodicals))) + format(" N. %d", r.between(1, 52))
                               : title(r));
        ins.text(3, position);
        // Genres: a few common ones dominate; some books have none, some an empty one.
        const double g = r.unit();
        ins.text(4, g < 0.05 ? Text() : g < 0.08 ? Text("") : Text(kGenres[r.skewed(std::size(kGenres), 1.8)]));
        ins.text(5, maybe(r, 0.6, pick(r, words(kSubjects))));
        const double p = r.unit();
        std::optional<qint64> publisher;
        if (p < 0.08 || publishers == 0) {
            ++out.booksWithoutPublisher;
        } else if (p < 0.12) {
            publisher = publishers + 1 + r.below(1000); // a deleted publisher
            ++out.booksWithMissingPublisher;
        } else {
            publisher = 1 + r.skewed(std::uint32_t(publishers), 1.5);
        }
        ins.integer(6, publisher);
        ins.text(7, maybe(r, 0.75, pick(r, words(kCities))));
        ins.text(8, r.chance(0.97) ? Text(std::to_string(year)) : Text());
        ins.text(9, maybe(r, 0.45, pick(r, words(kEditions))));
        const int bought = std::max(year, 1950) + int(r.below(std::uint32_t(2026 - std::max(year, 1950))));
        const bool hasDate = r.chance(0.6);
        ins.text(10, hasDate ? Text(date(r, bought, bought)) : Text());
        // Lire before the euro, euro after; no conversion between the two.
        if (r.chance(0.8)) {
            if (bought < 2002) {
                ins.integer(11, qint64(r.between(6, 300)) * 500);
                ins.real(12, std::nullopt);
            } else {
                ins.integer(11, std::nullopt);
                ins.real(12, r.between(250, 8500) / 100.0);
            }
        } else {
            ins.integer(11, std::nullopt);
            ins.real(12, std::nullopt);
        }
        ins.text(13, maybe(r, 0.05, pick(r, words(kCollections))));
        ins.text(14, periodical ? Text(pick(r, words(kPeriodicals))) : Text());
        ins.text(15,
                 periodical ? Text(format("ANNO %s N. %d", kRoman[r.below(kRoman.size())], r.between(1, 12))) : Text());
        const double where = r.unit();
        ins.text(16, where < 0.75 ? Text() : where < 0.9 ? Text(position) : Text(pick(r, words(kPresentPlaces))));
        ins.text(17, r.chance(0.85) ? Text(kStates[r.skewed(kStates.size(), 0.7)]) : Text());
        ins.text(18, maybe(r, 0.25, pick(r, words(kBookNotes))));
        ins.text(19, maybe(r, 0.5, format("INV. %05d", r.between(1, 99999))));
        ins.integer(20, r.chance(0.6) ? std::optional<qint64>(32 + r.skewed(1170, 2.0)) : std::nullopt);
        // A fifth of the books are not placed on the floor plan yet (10,10).
        const bool placed = r.chance(0.8);
        ins.integer(21, placed ? r.between(0, 3600) : 10);
        ins.integer(22, placed ? r.between(0, 2500) : 10);
        ins.run();
    }
}

// Borrowers, then loans of books chosen at random: every open loan of a different book, a returned
// one of any; dates as ISO texts, reckoned back from kLoansToday.
void insertLoans(sqlite3* db, Random& r, const std::vector<int>& ids, const ArchiveSize& size, GeneratedArchive& out)
{
    if (size.borrowers <= 0 || size.loans <= 0 || ids.empty()) {
        return;
    }
    if (size.overdueLoans + size.openLoans > size.loans || size.overdueLoans + size.openLoans > int(ids.size())) {
        throw std::runtime_error("more open loans than loans or books");
    }
    Insert borrower(db, "INSERT INTO lettori (nome, indirizzo, telefono, email, gruppo, note) VALUES (?,?,?,?,?,?)");
    for (int i = 0; i < size.borrowers; ++i) {
        const std::string name = personName(r);
        borrower.text(1, name);
        borrower.text(2, maybe(r, 0.9, std::string(pick(r, words(kStreets))) + format(", %d", r.between(1, 180))));
        borrower.text(3, maybe(r, 0.8, telephone(r)));
        borrower.text(4, maybe(r, 0.6, format("lettore%d@example.org", i + 1)));
        borrower.text(5, maybe(r, 0.5, format("CLASSE %d%c", r.between(1, 5), char('A' + r.between(0, 3)))));
        borrower.text(6, std::nullopt);
        borrower.run();
    }
    const QDate today(kLoansTodayYear, kLoansTodayMonth, kLoansTodayDay);
    // Distinct books for the open loans: the first ones of a shuffled copy of the keys.
    std::vector<int> books = ids;
    const int open = size.overdueLoans + size.openLoans;
    for (int i = 0; i < open; ++i) {
        std::swap(books[std::size_t(i)],
                  books[std::size_t(i) + r.below(std::uint32_t(books.size()) - std::uint32_t(i))]);
    }
    Insert loan(db, "INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza, data_restituzione) "
                    "VALUES (?,?,?,?,?)");
    const auto iso = [](const QDate& d) { return d.toString(Qt::ISODate).toStdString(); };
    for (int i = 0; i < size.loans; ++i) {
        QDate lent;
        QDate due;
        std::optional<std::string> returned;
        int book = 0;
        if (i < size.overdueLoans) {
            due = today.addDays(-1 - r.between(0, 120));
            lent = due.addDays(-30);
            book = books[std::size_t(i)];
        } else if (i < open) {
            due = today.addDays(r.between(0, 29));
            lent = due.addDays(-30);
            book = books[std::size_t(i)];
        } else {
            lent = today.addDays(-31 - r.between(0, 1500));
            due = lent.addDays(30);
            returned = iso(lent.addDays(r.between(1, 45)));
            book = ids[r.below(std::uint32_t(ids.size()))];
        }
        loan.integer(1, book);
        loan.integer(2, 1 + r.below(std::uint32_t(size.borrowers)));
        loan.text(3, iso(lent));
        loan.text(4, iso(due));
        loan.text(5, returned);
        loan.run();
    }
    out.borrowers = size.borrowers;
    out.loans = size.loans;
}

void insertLinks(sqlite3* db, Random& r, const std::vector<int>& ids, int authors, int links, GeneratedArchive& out)
{
    if (authors == 0 || ids.empty()) {
        return;
    }
    // About one book in eight has no author; every other book has one, and the remaining links
    // give some books several authors. Prolific authors have many books.
    const std::size_t withAuthors =
        std::min<std::size_t>(std::size_t(links), ids.size() - std::min(ids.size(), ids.size() / 8));
    constexpr int kMostAuthors = 15; // an anthology or a joint work, not a phone book
    const qint64 possible = qint64(withAuthors) * std::min(authors, kMostAuthors);
    const qint64 wanted = std::min<qint64>(links, possible);
    std::unordered_set<std::uint64_t> pairs;
    pairs.reserve(std::size_t(wanted) * 2);
    std::vector<int> perBook(withAuthors, 0);
    Insert ins(db, "INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (?,?)");
    auto link = [&](std::size_t book) {
        if (perBook[book] >= kMostAuthors) {
            return false;
        }
        const qint64 author = 1 + r.skewed(std::uint32_t(authors), 1.5);
        const std::uint64_t key = (std::uint64_t(ids[book]) << 32) | std::uint64_t(author);
        if (!pairs.insert(key).second) {
            return false;
        }
        ins.integer(1, ids[book]);
        ins.integer(2, author);
        ins.run();
        ++perBook[book];
        return true;
    };
    for (std::size_t b = 0; b < withAuthors; ++b) {
        while (!link(b)) {
        }
    }
    qint64 made = qint64(withAuthors);
    while (made < wanted) {
        // Extra authors cluster on a part of the books (anthologies, joint works).
        const std::size_t b = r.skewed(std::uint32_t(withAuthors), 1.4);
        if (link(b)) {
            ++made;
        }
    }
    out.links = made;
    out.booksWithoutAuthors = qint64(ids.size() - withAuthors);
    out.booksWithSeveralAuthors = std::count_if(perBook.begin(), perBook.end(), [](int n) { return n > 1; });
}

} // namespace

GeneratedArchive generateArchive(const QString& path, const ArchiveSize& size)
{
    if (size.books < 0 || size.authors < 0 || size.links < 0 || size.publishers < 0 || size.borrowers < 0 ||
        size.loans < 0 || size.overdueLoans < 0 || size.openLoans < 0) {
        throw std::runtime_error("counts must not be negative");
    }
    QElapsedTimer clock;
    clock.start();
    store::Archive::create(path);
    const auto archive = store::Archive::open(path);
    sqlite3* db = archive->handle();
    // Only this connection's settings: a bigger page cache and no syncing while the file is built.
    exec(db, "PRAGMA cache_size=-65536");
    exec(db, "PRAGMA synchronous=OFF");

    Random r(size.variant);
    GeneratedArchive out;
    // Book keys as the program picks them: distinct random numbers from 1 to 200000.
    const int range = std::max(200000, size.books);
    std::vector<int> ids(static_cast<std::size_t>(range));
    for (int i = 0; i < range; ++i) {
        ids[std::size_t(i)] = i + 1;
    }
    for (int i = 0; i < size.books; ++i) {
        std::swap(ids[std::size_t(i)], ids[std::size_t(i) + r.below(std::uint32_t(range - i))]);
    }
    ids.resize(std::size_t(size.books));

    exec(db, "BEGIN");
    try {
        insertPublishers(db, r, size.publishers);
        insertAuthors(db, r, size.authors);
        insertBooks(db, r, ids, size.publishers, out);
        insertLinks(db, r, ids, size.authors, size.links, out);
        Random loans(size.variant ^ 0x9e3779b97f4a7c15ULL);
        insertLoans(db, loans, ids, size, out);
        exec(db, "COMMIT");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    out.books = size.books;
    out.authors = size.authors;
    out.publishers = size.publishers;
    out.seconds = double(clock.nsecsElapsed()) / 1e9;
    return out;
}

} // namespace bench
