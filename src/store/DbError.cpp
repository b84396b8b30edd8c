#include "store/DbError.h"

#include <sqlite3.h>

namespace store {

DbError::DbError(int number, const QString& description)
    : std::runtime_error(description.toStdString()), m_number(number),
      m_description(description), m_items{ErrorItem{number, description}}
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
    default:
        return ErrDiskOrNetwork;
    }
}

void throwSqlite(sqlite3* db, int sqliteResult, const QString& context)
{
    const int number = errorNumberFor(sqliteResult);
    QString description = DbError::describe(number);
    QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(sqliteResult));
    if (number == ErrSyntax || number == ErrDuplicateKey) {
        description += QLatin1Char(' ') + detail;
    }
    Q_UNUSED(context);
    throw DbError(number, description);
}

} // namespace store
