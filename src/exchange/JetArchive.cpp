#include "exchange/JetArchive.h"

#include "exchange/Columns.h"

#include "store/DbError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <functional>

namespace exchange {

namespace {

// The helper's exit statuses (src/exchange/jet/carteo_jet.cpp).
enum Status { Done = 0, Usage = 2, Empty = 10, NotJet = 11, Short = 12, Unknown = 13, Damaged = 14, NoTable = 15 };

std::atomic<int> g_stallLimit{60000};

QString shown(const QString& path)
{
    return QFileInfo(path).fileName();
}

[[noreturn]] void fail(const QString& description, const QString& detail = {})
{
    throw store::DbError(store::ErrNotATable, description, detail);
}

bool isSqlite(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}

[[noreturn]] void failFor(int status, const QString& path, const QString& table, const QString& detail)
{
    const QString name = shown(path);
    switch (status) {
    case Empty:
        fail(QStringLiteral("Il file \"%1\" è vuoto: non è un archivio.").arg(name), detail);
    case NotJet:
        if (isSqlite(path))
            fail(QStringLiteral("Il file \"%1\" è già un archivio di questo programma, non un archivio precedente: "
                                "si apre così com'è.")
                     .arg(name),
                 detail);
        fail(QStringLiteral("Il file \"%1\" non è un archivio precedente.").arg(name), detail);
    case Short:
        fail(QStringLiteral("Il file \"%1\" è incompleto: l'archivio non si può leggere.").arg(name), detail);
    case Unknown:
        fail(QStringLiteral("Il file \"%1\" è di una versione di archivio che non si sa leggere.").arg(name), detail);
    case NoTable:
        fail(QStringLiteral("Nell'archivio \"%1\" manca la tabella \"%2\".").arg(name, table), detail);
    default:
        fail(QStringLiteral("L'archivio \"%1\" è danneggiato: non si può leggere.").arg(name), detail);
    }
}

QString unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            const char e = field[++i];
            out += e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e;
        } else {
            out += c;
        }
    }
    return QString::fromUtf8(out);
}

} // namespace

// One run of the helper, read line by line. Destroying it ends the helper.
struct JetRows::Run {
    QProcess process;
    QString path;
    QString table;
    bool ended = false;

    Run(const QString& archive, const QStringList& arguments, const QString& tableName)
        : path(archive), table(tableName)
    {
        const QString helper = JetArchive::helperPath();
        if (helper.isEmpty())
            fail(QStringLiteral("Manca il programma che legge gli archivi precedenti (carteo_jet): "
                                "il programma va installato di nuovo."));
        // libmdb takes debugging options, the code page of version 3 files and folders to search from the
        // environment; the program reads every archive the same way.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("MDBOPTS"));
        environment.remove(QStringLiteral("MDB_JET3_CHARSET"));
        environment.remove(QStringLiteral("MDBICONV"));
        environment.remove(QStringLiteral("MDBPATH")); // where to look for a file that is not there
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(QProcess::nullDevice());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(helper, arguments, QIODevice::ReadOnly);
        if (!process.waitForStarted())
            fail(QStringLiteral("Il programma che legge gli archivi precedenti (carteo_jet) non parte."),
                 process.errorString());
    }

    ~Run()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // The next record; false after the helper's last line. Throws what the helper's status says.
    bool next(QStringList& fields)
    {
        if (ended)
            return false;
        while (!process.canReadLine()) {
            if (process.state() == QProcess::NotRunning || !process.waitForReadyRead(g_stallLimit.load())) {
                if (process.state() != QProcess::NotRunning) {
                    // Still running without a line for so long: the reader is looping on the file.
                    process.kill();
                    process.waitForFinished();
                    failFor(Damaged, path, table, QStringLiteral("carteo_jet: nessuna riga"));
                }
                if (process.canReadLine())
                    break;
                // Finished without the last line: a failure, or a crash of the reader.
                const int status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : Damaged;
                failFor(status == Done ? Damaged : status, path, table,
                        QStringLiteral("carteo_jet: uscita %1").arg(process.exitCode()));
            }
        }
        QByteArray line = process.readLine();
        line.chop(1);
        if (line == "\\.") {
            ended = true;
            process.waitForFinished();
            return false;
        }
        fields.clear();
        for (const QByteArray& field : line.split('\t'))
            fields.append(unescape(field));
        return true;
    }
};

JetRows::JetRows(std::unique_ptr<Run> run, qint64 expected) : m_run(std::move(run)), m_expected(expected) {}
JetRows::~JetRows() = default;

bool JetRows::next(QStringList& values)
{
    if (!m_run->next(values))
        return false;
    ++m_read;
    return true;
}

JetArchive::JetArchive(const QString& path) : m_path(path)
{
    if (!QFileInfo(path).isFile())
        fail(QStringLiteral("Il file \"%1\" non si trova.").arg(path));
    JetRows::Run run(path, {QStringLiteral("tables"), path}, {});
    QStringList fields;
    while (run.next(fields))
        m_tables.append(fields.value(0));
}

QString JetArchive::findTable(const QString& name) const
{
    for (const QString& table : m_tables)
        if (table.compare(name, Qt::CaseInsensitive) == 0)
            return table;
    return {};
}

QStringList JetArchive::columns(const QString& table) const
{
    JetRows::Run run(m_path, {QStringLiteral("columns"), m_path, table}, table);
    QStringList names, fields;
    while (run.next(fields))
        names.append(fields.value(0));
    return names;
}

std::unique_ptr<JetRows> JetArchive::rows(const QString& table) const
{
    auto run = std::make_unique<JetRows::Run>(m_path, QStringList{QStringLiteral("rows"), m_path, table}, table);
    QStringList fields;
    if (!run->next(fields))
        failFor(Damaged, m_path, table, QStringLiteral("carteo_jet: righe senza conteggio"));
    return std::unique_ptr<JetRows>(new JetRows(std::move(run), fields.value(0).toLongLong()));
}

QString JetArchive::helperPath()
{
#if defined(Q_OS_WIN)
    const QString name = QStringLiteral("carteo_jet.exe");
#else
    const QString name = QStringLiteral("carteo_jet");
#endif
    if (QCoreApplication::instance()) {
        const QString folder = QCoreApplication::applicationDirPath();
        // Beside the program in its own folder, or where an installation puts it.
        for (const QString& candidate :
             {folder + QLatin1Char('/') + name, folder + QStringLiteral("/../libexec/carteo/") + name}) {
            if (QFileInfo(candidate).isExecutable())
                return QFileInfo(candidate).canonicalFilePath();
        }
    }
#if defined(CARTEO_JET_HELPER)
    if (QFileInfo(QStringLiteral(CARTEO_JET_HELPER)).isExecutable())
        return QStringLiteral(CARTEO_JET_HELPER);
#endif
    return {};
}

void JetArchive::setStallLimit(int milliseconds)
{
    g_stallLimit.store(milliseconds);
}

} // namespace exchange

// ---- The catalogue of an archive of the earlier engine -------------------------------------------

namespace exchange {

namespace {

// The catalogue's fields as import reads them, with the books table's column of each (empty for
// the authors and the publisher, which come from their own tables).
struct LegacyField {
    const char* heading;
    const char* column;
};
constexpr LegacyField kLegacyFields[] = {
    {"Codice", "id"},
    {"Titolo", "titolo"},
    {"Autori", ""},
    {"Casa editrice", ""},
    {"Posizione", "posizione"},
    {"Genere", "genere"},
    {"Argomento", "argomento"},
    {"Luogo di stampa", "luogo_stampa"},
    {"Anno", "anno"},
    {"Edizione", "edizione"},
    {"Data di acquisto", "data_acquisto"},
    {"Costo (lire)", "costo_L"},
    {"Costo (euro)", "costo_E"},
    {"Inserito in", "inserito_in"},
    {"Periodico", "periodico"},
    {"Annata/numero", "annata_num"},
    {"Posizione attuale", "posizione_attuale"},
    {"Stato", "stato"},
    {"Note", "note"},
    {"Codice biblioteca", "cod_biblio"},
    {"Pagine", "num_pag"},
    {"Posizione X", "posx"},
    {"Posizione Y", "posy"},
};
constexpr int kAuthorsField = 2;
constexpr int kPublisherField = 3;

// A key as the archive may write it ("12", "12.0", " 12"), as one text.
QString keyText(const QString& value)
{
    const QString trimmed = value.trimmed();
    bool ok = false;
    const double number = trimmed.toDouble(&ok);
    if (ok && number == static_cast<double>(static_cast<qint64>(number)))
        return QString::number(static_cast<qint64>(number));
    return trimmed;
}

// A table of the old archive with the columns the catalogue needs, found with letter case ignored.
struct FoundTable {
    QString name;
    QList<int> columns; // index of each needed column in the table's row
};

FoundTable findTable(const JetArchive& archive, const QString& wanted, const QStringList& needed)
{
    FoundTable found;
    found.name = archive.findTable(wanted);
    if (found.name.isEmpty())
        fail(QStringLiteral("Nell'archivio \"%1\" manca la tabella \"%2\".").arg(shown(archive.path()), wanted));
    const QStringList columns = archive.columns(found.name);
    for (const QString& column : needed) {
        const auto at = std::find_if(columns.begin(), columns.end(), [&](const QString& name) {
            return name.compare(column, Qt::CaseInsensitive) == 0;
        });
        if (at == columns.end())
            fail(QStringLiteral("Nella tabella \"%1\" dell'archivio \"%2\" manca la colonna \"%3\".")
                     .arg(found.name, shown(archive.path()), column));
        found.columns.append(static_cast<int>(at - columns.begin()));
    }
    return found;
}

// Reads a whole small table (authors, publishers, links) through `take`, one row at a time.
void readAll(const JetArchive& archive, const FoundTable& table, const std::function<void(const QStringList&)>& take)
{
    auto rows = archive.rows(table.name);
    QStringList values, picked;
    while (rows->next(values)) {
        picked.clear();
        for (const int column : table.columns)
            picked.append(values.value(column));
        take(picked);
    }
}

class LegacyReader final : public SheetReader {
  public:
    explicit LegacyReader(const QString& path) : m_archive(path)
    {
        QStringList bookColumns{QStringLiteral("id_edizione")};
        for (const LegacyField& field : kLegacyFields)
            if (*field.column)
                bookColumns.append(QString::fromLatin1(field.column));
        m_books = findTable(m_archive, QStringLiteral("biblio"), bookColumns);
        const FoundTable authors =
            findTable(m_archive, QStringLiteral("autore"), {QStringLiteral("ID_autore"), QStringLiteral("nome")});
        const FoundTable publishers =
            findTable(m_archive, QStringLiteral("editori"), {QStringLiteral("ID_Editore"), QStringLiteral("nome")});
        const FoundTable links = findTable(m_archive, QStringLiteral("autbiblio"),
                                           {QStringLiteral("ID_biblio"), QStringLiteral("ID_autore")});

        // The three small tables are held; the books are read as they are asked for.
        QHash<QString, QString> authorNames;
        readAll(m_archive, authors, [&](const QStringList& row) { authorNames.insert(keyText(row[0]), row[1]); });
        readAll(m_archive, publishers, [&](const QStringList& row) { m_publishers.insert(keyText(row[0]), row[1]); });
        readAll(m_archive, links, [&](const QStringList& row) {
            const QString name = authorNames.value(keyText(row[1]));
            if (!name.isEmpty())
                m_authors[keyText(row[0])].append(name);
        });
        rewind();
    }

    bool next(ReadRow& row) override
    {
        if (!m_headerGiven) {
            m_headerGiven = true;
            row = ReadRow{};
            row.line = 1;
            // The program's own headings: the columns go to their fields without a guess.
            for (const FieldInfo& field : bookFields())
                row.fields.append(field.heading);
            return true;
        }
        QStringList values;
        if (!m_rows->next(values))
            return false;
        // m_books.columns: id_edizione first, then the fields' columns in their order.
        row = ReadRow{};
        row.line = static_cast<int>(m_rows->read()) + 1;
        int column = 1;
        QString key;
        for (int f = 0; f < int(std::size(kLegacyFields)); ++f) {
            if (f == kAuthorsField) {
                row.fields.append(m_authors.value(key).join(QStringLiteral("; ")));
            } else if (f == kPublisherField) {
                row.fields.append(m_publishers.value(keyText(values.value(m_books.columns[0]))));
            } else {
                const QString value = values.value(m_books.columns[column++]);
                if (f == 0)
                    key = keyText(value);
                row.fields.append(f == 0 ? key : value);
            }
        }
        return true;
    }

    int progress() const override
    {
        if (!m_rows || m_rows->expected() <= 0)
            return 0;
        return static_cast<int>(std::min<qint64>(1000, m_rows->read() * 1000 / m_rows->expected()));
    }

    void rewind() override
    {
        m_rows.reset();
        m_rows = m_archive.rows(m_books.name);
        m_headerGiven = false;
    }

  private:
    JetArchive m_archive;
    FoundTable m_books;
    QHash<QString, QString> m_publishers;
    QHash<QString, QStringList> m_authors; // book key → its authors' names, in the links' order
    std::unique_ptr<JetRows> m_rows;
    bool m_headerGiven = false;
};

} // namespace

std::unique_ptr<SheetReader> legacyReader(const QString& path)
{
    return std::make_unique<LegacyReader>(path);
}

} // namespace exchange
