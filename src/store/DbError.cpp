#include "store/DbError.h"

#include "store/Schema.h"

#include <QDir>
#include <QFileInfo>
#include <sqlite3.h>

#include <optional>

namespace store {

DbError::DbError(int number, const QString& description, const QString& detail)
    : std::runtime_error(description.toStdString()), m_number(number),
      m_description(description), m_items{ErrorItem{number, description, detail}}
{
}

DbError::DbError(QList<ErrorItem> items)
    : DbError(items.isEmpty() ? int(ErrDiskOrNetwork) : items.constFirst().number,
              items.isEmpty() ? describe(ErrDiskOrNetwork) : items.constFirst().description)
{
    if (!items.isEmpty()) {
        m_items = std::move(items);
    }
}

DbError::DbError(int number) : DbError(number, describe(number)) {}

QString DbError::describe(int number)
{
    switch (number) {
    case ErrInvalidProcedure:
        return QStringLiteral("Chiamata di routine o argomento non valido.");
    case ErrBadFileName:
        return QStringLiteral("Nome o numero di file non valido.");
    case ErrFileNotFound:
        return QStringLiteral("File non trovato.");
    case ErrPastEndOfFile:
        return QStringLiteral("Input oltre la fine del file.");
    case ErrPermissionDenied:
        return QStringLiteral("Autorizzazione negata.");
    case ErrPathFileAccess:
        return QStringLiteral("Errore di accesso al percorso o al file.");
    case ErrPathNotFound:
        return QStringLiteral("Impossibile trovare il percorso.");
    case ErrObjectNotSet:
        return QStringLiteral("Variabile oggetto non impostata.");
    case ErrUpdateWithoutEdit:
        return QStringLiteral("Aggiornamento o annullamento senza AddNew o Edit.");
    case ErrNoCurrentRecord:
        return QStringLiteral("Nessun record corrente.");
    case ErrDuplicateKey:
        return QStringLiteral("Le modifiche non sono state apportate perché creerebbero valori duplicati "
                              "nell'indice o nella chiave primaria.");
    case ErrDiskOrNetwork:
        return QStringLiteral("Errore del disco o della rete.");
    case ErrReadOnly:
        return QStringLiteral("Impossibile aggiornare: l'archivio o l'oggetto è di sola lettura.");
    case ErrSyntax:
        return QStringLiteral("Errore di sintassi nell'espressione della query.");
    case ErrLocked:
        return QStringLiteral("Il record è bloccato da un altro utente che sta salvando: riprovare tra qualche "
                              "istante.");
    case ErrRecordDeleted:
        return QStringLiteral("Il record è stato eliminato da un altro utente: le modifiche non possono essere "
                              "salvate. Premere Annulla.");
    case ErrRecordChanged:
        return QStringLiteral("Il record è stato modificato da un altro utente dopo l'inizio della modifica.\r"
                              "Premere di nuovo Salva per sostituire i suoi dati con i propri, oppure Annulla "
                              "per vedere i dati nuovi.");
    case ErrTypeMismatch:
        return QStringLiteral("Errore di conversione del tipo di dati.");
    case ErrEditPending:
        return QStringLiteral("Operazione non consentita: è in corso una modifica del record. Salvare o "
                              "annullare prima.");
    case ErrItemNotFound:
        return QStringLiteral("Elemento non trovato in questo insieme.");
    case ErrFileNotArchive:
        return QStringLiteral("Il file non è un archivio valido o è danneggiato.");
    case ErrInUse:
        return QStringLiteral("L'archivio è già aperto da un altro utente o da un'altra finestra.");
    case ErrObjectInvalid:
        return QStringLiteral("Oggetto non valido o non più impostato.");
    case ErrNewerArchive:
        return QStringLiteral("L'archivio è stato creato da una versione più recente del programma.");
    case ErrDialogCancelled:
        return QStringLiteral("È stato scelto Annulla.");
    case ErrDiskFull:
        return QStringLiteral("Il disco è pieno: non c'è più spazio per scrivere.");
    case ErrArchiveFolderReadOnly:
        return QStringLiteral("La cartella dell'archivio è di sola lettura: il programma non può scrivervi.");
    case ErrProgramFolderNotWritable:
        return QStringLiteral("Impossibile scrivere nella cartella del programma, dove la compattazione prepara "
                              "l'archivio compattato.");
    case ErrNameTooLong:
        return QStringLiteral("Il nome del file è troppo lungo.");
    case ErrControlCharacters:
        return QStringLiteral("Il nome del file contiene un a capo, una tabulazione o un altro carattere di "
                              "controllo, che non sono ammessi.");
    case ErrArchiveReplaced:
        return QStringLiteral("Il file dell'archivio è stato eliminato, o sostituito da un altro file, mentre era "
                              "aperto: le modifiche non possono essere salvate. Chiudere le finestre e riaprire "
                              "l'archivio.");
    case ErrNoLoans:
        return QStringLiteral("L'archivio è di una versione precedente e non può essere aggiornato (è di sola "
                              "lettura): i prestiti non sono disponibili.");
    case ErrBookOnLoan:
        return QStringLiteral("Il libro è in prestito: non può essere eliminato.");
    case ErrBorrowerHasLoans:
        return QStringLiteral("Il lettore ha libri in prestito: non può essere eliminato.");
    case ErrRefusedByArchive:
        return QStringLiteral("L'archivio non consente la modifica.");
    case ErrLoanChanged:
        return QStringLiteral("Il prestito è stato modificato nel frattempo da un altro utente: l'operazione non "
                              "può essere annullata.");
    case ErrNotATable:
        return QStringLiteral("Il file non può essere letto come tabella: servono un file CSV o una cartella di "
                              "Excel 97-2003 (.xls).");
    case ErrWorkbook:
        return QStringLiteral("La cartella di Excel non può essere scritta.");
    case ErrImportFile:
        return QStringLiteral("Il file da importare è stato modificato o rimosso dopo l'anteprima: nulla è stato "
                              "importato. Ripetere l'anteprima.");
    case ErrServerUnreachable:
        return QStringLiteral("Impossibile raggiungere il server dell'archivio: controllare la rete e che il server "
                              "sia acceso, poi riprovare.");
    case ErrServerLogin:
        return QStringLiteral("Il server ha rifiutato l'accesso: nome utente o password non validi.");
    case ErrServerNotEmpty:
        return QStringLiteral("Il database di destinazione non è vuoto: il trasferimento richiede un database vuoto.");
    case ErrTransferCounts:
        return QStringLiteral("Il trasferimento non è riuscito: le righe copiate non corrispondono a quelle "
                              "dell'archivio di origine. La destinazione è stata lasciata vuota.");
    case ErrSeveralNames:
        return QStringLiteral("Il file ha più di un nome (collegamenti fisici): finché ne ha più d'uno non può "
                              "essere sovrascritto, riparato o compattato, perché potrebbe essere aperto con un "
                              "altro nome.");
    default:
        return QStringLiteral("Errore %1.").arg(number);
    }
}

int errorNumberFor(int sqliteResult)
{
    // The engine calls a database whose file was deleted or renamed over "read-only".
    if (sqliteResult == SQLITE_READONLY_DBMOVED) {
        return ErrArchiveReplaced;
    }
    // The archive's own rules (a book on loan, a borrower with books out) speak through triggers.
    if (sqliteResult == SQLITE_CONSTRAINT_TRIGGER) {
        return ErrRefusedByArchive;
    }
    switch (sqliteResult & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ErrLocked;
    case SQLITE_FULL:
        return ErrDiskFull;
    case SQLITE_IOERR:
    case SQLITE_PROTOCOL:
        return ErrDiskOrNetwork;
    case SQLITE_CANTOPEN:
        return ErrDiskOrNetwork;
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ErrPermissionDenied;
    case SQLITE_READONLY:
        return ErrReadOnly;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
        return ErrFileNotArchive;
    case SQLITE_CONSTRAINT:
        return ErrDuplicateKey;
    case SQLITE_ABORT:
    case SQLITE_SCHEMA:
    case SQLITE_MISUSE:
        return ErrObjectInvalid;
    case SQLITE_ERROR:
        return ErrSyntax;
    case SQLITE_RANGE:
        return ErrInvalidProcedure;
    default:
        return ErrDiskOrNetwork;
    }
}

namespace {

QString archiveFileOf(sqlite3* db)
{
    const char* name = db ? sqlite3_db_filename(db, "main") : nullptr;
    return name ? QDir::toNativeSeparators(QString::fromUtf8(name)) : QString();
}

// One of the archive's own tables missing: not a fault in the program's SQL but in the file,
// emptied, damaged or replaced under the open connection.
std::optional<DbError> archiveTableMissing(sqlite3* db, const QString& engineMessage, const QString& detail)
{
    static const QString prefix = QStringLiteral("no such table: ");
    if (!engineMessage.startsWith(prefix)) {
        return std::nullopt;
    }
    QString table = engineMessage.mid(prefix.size());
    if (table.startsWith(QLatin1String("main."), Qt::CaseInsensitive)) {
        table = table.mid(5);
    }
    const QString file = archiveFileOf(db);
    if (file.isEmpty() || !schema::tables().contains(table, Qt::CaseInsensitive)) {
        return std::nullopt;
    }
    const QFileInfo info(file);
    // The loans' tables are missing from an archive of an earlier version that could not be
    // upgraded (read-only): that is not damage.
    const bool loansTable = table.compare(QLatin1String("lettori"), Qt::CaseInsensitive) == 0 ||
                            table.compare(QLatin1String("prestiti"), Qt::CaseInsensitive) == 0;
    if (loansTable && info.size() > 0) {
        return DbError(ErrNoLoans, DbError::describe(ErrNoLoans), detail);
    }
    if (!info.exists()) {
        return DbError(ErrArchiveReplaced,
                       QStringLiteral("Il file dell'archivio '%1' non c'è più: è stato eliminato o spostato mentre "
                                      "era aperto. Chiudere le finestre e riaprire l'archivio.")
                           .arg(file),
                       detail);
    }
    if (info.size() == 0) {
        return DbError(ErrFileNotArchive,
                       QStringLiteral("Il file dell'archivio '%1' è vuoto: è stato troncato o sostituito da un file "
                                      "vuoto, e non contiene più il catalogo. Occorre riaprire una copia "
                                      "dell'archivio.")
                           .arg(file),
                       detail);
    }
    return DbError(ErrFileNotArchive,
                   QStringLiteral("Il file dell'archivio '%1' non contiene più il catalogo: è danneggiato o è stato "
                                  "sostituito da un altro file.")
                       .arg(file),
                   detail);
}

} // namespace

void throwSqlite(sqlite3* db, int sqliteResult, const QString& context)
{
    const int number = errorNumberFor(sqliteResult);
    const QString engineMessage =
        db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(sqliteResult));
    QString detail = QStringLiteral("SQLite %1: %2").arg(sqliteResult).arg(engineMessage);
    if (!context.isEmpty()) {
        detail += QStringLiteral("; SQL: ") + context;
    }
    if (number == ErrArchiveReplaced) {
        const QString file = archiveFileOf(db);
        if (!file.isEmpty()) {
            throw DbError(number,
                          QStringLiteral("Il file dell'archivio '%1' è stato eliminato, o sostituito da un altro "
                                         "file, mentre era aperto: le modifiche non possono essere salvate. Chiudere "
                                         "le finestre e riaprire l'archivio.")
                              .arg(file),
                          detail);
        }
    }
    if ((sqliteResult & 0xff) == SQLITE_ERROR) {
        if (std::optional<DbError> missing = archiveTableMissing(db, engineMessage, detail)) {
            throw *missing;
        }
    }
    // A trigger's refusal is written in the program's words: it is the description.
    if (number == ErrRefusedByArchive && !engineMessage.isEmpty()) {
        throw DbError(number, engineMessage, detail);
    }
    QString description = DbError::describe(number);
    if (number == ErrSyntax || number == ErrDuplicateKey) {
        description += QLatin1Char(' ') + engineMessage;
    }
    throw DbError(number, description, detail);
}

} // namespace store
