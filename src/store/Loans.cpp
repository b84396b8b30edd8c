#include "store/Loans.h"

#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"

#include <QRegularExpression>

namespace store::loans {
namespace {

// The columns every list of loans reads, in the order rowToLoan takes them.
const QString kLoanColumns = QStringLiteral(
    "SELECT p.ID_Prestito, p.id_libro, p.ID_Lettore, l.nome, b.titolo, p.data_prestito, p.data_scadenza, "
    "p.data_restituzione, p.note FROM prestiti p LEFT JOIN lettori l ON l.ID_Lettore = p.ID_Lettore "
    "LEFT JOIN biblio b ON b.id = p.id_libro ");
constexpr int kLoanColumnCount = 9;

QDate isoDate(const QVariant& value)
{
    return value.isNull() ? QDate() : QDate::fromString(value.toString(), Qt::ISODate);
}

QString iso(const QDate& date)
{
    return date.toString(Qt::ISODate);
}

Loan rowToLoan(const Statement& st, int first = 0)
{
    Loan loan;
    loan.id = st.int64(first);
    loan.book = st.int64(first + 1);
    loan.borrower = st.int64(first + 2);
    loan.borrowerName = st.value(first + 3).toString();
    loan.title = st.value(first + 4).toString();
    loan.lent = isoDate(st.value(first + 5));
    loan.due = isoDate(st.value(first + 6));
    loan.returned = isoDate(st.value(first + 7));
    loan.note = st.value(first + 8).toString();
    return loan;
}

bool hasLoanTables(Archive& archive)
{
    Statement st = archive.prepareExact(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name IN ('lettori', 'prestiti')"));
    return st.step() && st.int64(0) == 2;
}

// A statement on the loans' tables; nothing when the archive has none (an older archive opened
// read-only, which could not be upgraded).
std::optional<Statement> prepareLoans(Archive& archive, const QString& sqlText)
{
    try {
        return archive.prepareExact(sqlText);
    } catch (const DbError&) {
        if (!hasLoanTables(archive)) {
            return std::nullopt;
        }
        throw;
    }
}

void requireLoans(Archive& archive)
{
    if (!hasLoanTables(archive)) {
        throw DbError(ErrNoLoans);
    }
}

QList<Loan> readLoans(Archive& archive, const QString& condition, const QVariantList& values)
{
    QList<Loan> loans;
    std::optional<Statement> st = prepareLoans(archive, kLoanColumns + condition);
    if (!st) {
        return loans;
    }
    st->bindAll(values);
    while (st->step()) {
        loans.append(rowToLoan(*st));
    }
    return loans;
}

std::optional<Loan> readOpenLoan(Archive& archive, qint64 book)
{
    std::optional<Statement> st =
        prepareLoans(archive, kLoanColumns + QStringLiteral("WHERE p.id_libro = ? AND p.data_restituzione IS NULL"));
    if (!st) {
        return std::nullopt;
    }
    st->bindInt(1, book);
    if (!st->step()) {
        return std::nullopt;
    }
    return rowToLoan(*st);
}

std::optional<Loan> readLoan(Archive& archive, qint64 id)
{
    std::optional<Statement> st = prepareLoans(archive, kLoanColumns + QStringLiteral("WHERE p.ID_Prestito = ?"));
    if (!st) {
        return std::nullopt;
    }
    st->bindInt(1, id);
    if (!st->step()) {
        return std::nullopt;
    }
    return rowToLoan(*st);
}

std::optional<QString> titleOf(Archive& archive, qint64 book)
{
    Statement st = archive.prepareExact(QStringLiteral("SELECT titolo FROM biblio WHERE id = ?"));
    st.bindInt(1, book);
    if (!st.step()) {
        return std::nullopt;
    }
    return st.value(0).toString();
}

qint64 openLoanCount(Archive& archive, qint64 borrower)
{
    Statement st = archive.prepareExact(
        QStringLiteral("SELECT count(*) FROM prestiti WHERE ID_Lettore = ? AND data_restituzione IS NULL"));
    st.bindInt(1, borrower);
    st.step();
    return st.int64(0);
}

// A borrower as messages name them: a record without a name, or gone, by its number.
QString nameOf(const QString& name, qint64 id)
{
    return name.trimmed().isEmpty() ? QStringLiteral("n. %1").arg(id) : name;
}

QString titled(const QString& title, qint64 book)
{
    return title.trimmed().isEmpty() ? QStringLiteral("codice %1").arg(book) : QStringLiteral("«%1»").arg(title);
}

Result refused(Refusal why, const QString& message, const Loan& loan = {})
{
    Result r;
    r.outcome = Outcome::Refused;
    r.refusal = why;
    r.message = message;
    r.loan = loan;
    return r;
}

void requireTerms(const QDate& today, int loanDays, int maxBooks)
{
    if (!today.isValid() || loanDays < 0 || maxBooks < 0) {
        throw DbError(ErrInvalidProcedure);
    }
}

Result alreadyLent(const Loan& open)
{
    return refused(Refusal::AlreadyLent,
                   QStringLiteral("Il libro è già in prestito a %1.").arg(nameOf(open.borrowerName, open.borrower)),
                   open);
}

// The lend proper, inside the caller's transaction; the book known to be there and not on loan.
Result lendIn(Archive& archive, qint64 book, const QString& title, qint64 borrower, const QDate& today, int loanDays,
              int maxBooks)
{
    Statement who = archive.prepareExact(QStringLiteral("SELECT nome FROM lettori WHERE ID_Lettore = ?"));
    who.bindInt(1, borrower);
    if (!who.step()) {
        return refused(Refusal::BorrowerGone,
                       QStringLiteral("Il lettore scelto non è più in archivio: è stato eliminato da un altro utente. "
                                      "Il libro non è stato prestato."));
    }
    const QString name = who.value(0).toString();
    if (maxBooks > 0) {
        const qint64 out = openLoanCount(archive, borrower);
        if (out >= maxBooks) {
            return refused(Refusal::AtMaximum,
                           QStringLiteral("Il lettore %1 ha già %2 in prestito, il massimo consentito: il libro %3 "
                                          "non è stato prestato.")
                               .arg(nameOf(name, borrower),
                                    out == 1 ? QStringLiteral("1 libro") : QStringLiteral("%1 libri").arg(out),
                                    titled(title, book)));
        }
    }
    files::step(QStringLiteral("prestito letto"));
    Loan loan;
    loan.book = book;
    loan.borrower = borrower;
    loan.borrowerName = name;
    loan.title = title;
    loan.lent = today;
    loan.due = today.addDays(loanDays);
    Statement insert = archive.prepareExact(QStringLiteral(
        "INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza) VALUES (?, ?, ?, ?)"));
    insert.bindInt(1, book);
    insert.bindInt(2, borrower);
    insert.bind(3, iso(loan.lent));
    insert.bind(4, iso(loan.due));
    insert.step();
    loan.id = archive.lastInsertRowId();
    files::step(QStringLiteral("prestito scritto"));

    Result r;
    r.outcome = Outcome::Lent;
    r.loan = loan;
    r.message = QStringLiteral("Prestato a %1 fino al %2").arg(nameOf(name, borrower), formatDate(loan.due));
    r.action = Action{Action::Kind::Lend, loan.id, book, borrower, loan.lent, loan.due, {}};
    return r;
}

// The return proper, inside the caller's transaction, of the open loan `open`.
Result returnIn(Archive& archive, Loan open, const QDate& today)
{
    files::step(QStringLiteral("restituzione letta"));
    Statement update = archive.prepareExact(QStringLiteral(
        "UPDATE prestiti SET data_restituzione = ? WHERE ID_Prestito = ? AND data_restituzione IS NULL"));
    update.bind(1, iso(today));
    update.bindInt(2, open.id);
    update.step();
    files::step(QStringLiteral("restituzione scritta"));
    open.returned = today;

    Result r;
    r.outcome = Outcome::Returned;
    r.loan = open;
    r.message = QStringLiteral("Restituito: %1")
                    .arg(open.title.trimmed().isEmpty() ? QStringLiteral("codice %1").arg(open.book) : open.title);
    const int late = open.daysLate(today);
    if (late > 0) {
        r.message += late == 1 ? QStringLiteral(" (1 giorno di ritardo)")
                               : QStringLiteral(" (%1 giorni di ritardo)").arg(late);
    }
    r.action = Action{Action::Kind::Return, open.id, open.book, open.borrower, open.lent, open.due, today};
    return r;
}

Result notOnLoan(Archive& archive, qint64 book, const QString& title)
{
    // The last return, if any, tells the desk that this scan came a second time.
    std::optional<Statement> last =
        prepareLoans(archive, QStringLiteral("SELECT max(data_restituzione) FROM prestiti WHERE id_libro = ?"));
    QDate returned;
    if (last) {
        last->bindInt(1, book);
        if (last->step()) {
            returned = isoDate(last->value(0));
        }
    }
    if (returned.isValid()) {
        return refused(Refusal::NotOnLoan, QStringLiteral("Il libro %1 non è in prestito: è stato restituito il %2.")
                                               .arg(titled(title, book), formatDate(returned)));
    }
    return refused(Refusal::NotOnLoan, QStringLiteral("Il libro %1 non è in prestito.").arg(titled(title, book)));
}

Result unknownBook(qint64 book)
{
    return refused(Refusal::UnknownBook,
                   QStringLiteral("Nessun libro ha il codice %1: nulla è stato cambiato.").arg(book));
}

void confirm(const Result& r)
{
    if (r.outcome == Outcome::Lent) {
        files::step(QStringLiteral("prestito confermato"));
    } else if (r.outcome == Outcome::Returned) {
        files::step(QStringLiteral("restituzione confermata"));
    }
}

// Runs `work` in a transaction of its own, committed when it changed something.
template <typename Work> Result inTransaction(Archive& archive, Work work)
{
    requireLoans(archive);
    Transaction transaction(archive);
    Result r = work();
    if (r.done()) {
        transaction.commit();
        confirm(r);
    }
    return r;
}

} // namespace

// ---------------------------------------------------------------- dates

std::optional<QDate> parseDate(const QString& typed)
{
    static const QRegularExpression shape(QStringLiteral("\\A([0-9]{2})/([0-9]{2})/([0-9]{4})\\z"));
    const QRegularExpressionMatch m = shape.match(typed);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    // QDate is valid only for a day that exists: nothing is rolled over.
    const QDate date(m.captured(3).toInt(), m.captured(2).toInt(), m.captured(1).toInt());
    if (!date.isValid()) {
        return std::nullopt;
    }
    return date;
}

QString formatDate(const QDate& date)
{
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

int Loan::daysLate(const QDate& today) const
{
    const QDate until = isOpen() ? today : returned;
    if (!due.isValid() || !until.isValid() || until <= due) {
        return 0;
    }
    return int(due.daysTo(until));
}

QString onLoanLine(const Loan& loan)
{
    return QStringLiteral("In prestito a %1 dal %2, da restituire il %3")
        .arg(nameOf(loan.borrowerName, loan.borrower), formatDate(loan.lent), formatDate(loan.due));
}

// ---------------------------------------------------------------- the desk

ScannedKey readKey(const QString& scannedText)
{
    ScannedKey k;
    const auto refuse = [&k](Refusal why, const QString& message) {
        k.refusal = why;
        k.message = message;
        return k;
    };
    if (scannedText.isEmpty()) {
        return refuse(Refusal::Empty, QStringLiteral("Nessun codice letto."));
    }
    // A scanner set to end with spaces, a tab or CR LF: said, never trimmed silently, so the
    // desk learns to set the scanner right instead of trusting what it sends.
    for (const QChar c : scannedText) {
        if (c.isSpace() || c.category() == QChar::Other_Control) {
            QString visible = scannedText;
            visible.replace(QLatin1Char('\r'), QStringLiteral("<CR>"))
                .replace(QLatin1Char('\n'), QStringLiteral("<LF>"))
                .replace(QLatin1Char('\t'), QStringLiteral("<TAB>"));
            return refuse(Refusal::Spaces,
                          QStringLiteral("Il codice letto, «%1», contiene spazi o un a capo: il codice di un libro è "
                                         "fatto di sole cifre. Controllare le impostazioni del lettore di codici a "
                                         "barre; nulla è stato cambiato.")
                              .arg(visible));
        }
    }
    for (const QChar c : scannedText) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return refuse(Refusal::NotDigits, QStringLiteral("«%1» non è il codice di un libro: il codice è fatto di "
                                                             "sole cifre. Nulla è stato cambiato.")
                                                  .arg(scannedText));
        }
    }
    // The label holds the key as the record shows it: no leading zero.
    if (scannedText.startsWith(QLatin1Char('0'))) {
        return refuse(Refusal::LeadingZero,
                      QStringLiteral("«%1» non è il codice di un libro: il codice non comincia con lo zero. Nulla è "
                                     "stato cambiato.")
                          .arg(scannedText));
    }
    bool ok = false;
    const qint64 key = scannedText.size() <= 18 ? scannedText.toLongLong(&ok) : 0;
    if (!ok) {
        return refuse(Refusal::UnknownBook,
                      QStringLiteral("Nessun libro ha il codice %1: nulla è stato cambiato.").arg(scannedText));
    }
    k.key = key;
    return k;
}

Result scan(Archive& archive, const QString& scannedText, qint64 borrower, const QDate& today, int loanDays,
            int maxBooks)
{
    requireTerms(today, loanDays, maxBooks);
    const ScannedKey key = readKey(scannedText);
    if (key.refusal != Refusal::None) {
        return refused(key.refusal, key.message);
    }
    return inTransaction(archive, [&]() -> Result {
        const std::optional<QString> title = titleOf(archive, key.key);
        if (!title) {
            return unknownBook(key.key);
        }
        if (const std::optional<Loan> open = readOpenLoan(archive, key.key)) {
            if (borrower != 0 && open->borrower != borrower) {
                return alreadyLent(*open);
            }
            return returnIn(archive, *open, today);
        }
        if (borrower == 0) {
            return refused(Refusal::NoBorrower,
                           QStringLiteral("Il libro %1 non è in prestito: scegliere il lettore a cui prestarlo.")
                               .arg(titled(*title, key.key)));
        }
        return lendIn(archive, key.key, *title, borrower, today, loanDays, maxBooks);
    });
}

Result lend(Archive& archive, qint64 book, qint64 borrower, const QDate& today, int loanDays, int maxBooks)
{
    requireTerms(today, loanDays, maxBooks);
    return inTransaction(archive, [&]() -> Result {
        const std::optional<QString> title = titleOf(archive, book);
        if (!title) {
            return unknownBook(book);
        }
        if (const std::optional<Loan> open = readOpenLoan(archive, book)) {
            return alreadyLent(*open);
        }
        if (borrower == 0) {
            return refused(
                Refusal::NoBorrower,
                QStringLiteral("Scegliere il lettore a cui prestare il libro %1.").arg(titled(*title, book)));
        }
        return lendIn(archive, book, *title, borrower, today, loanDays, maxBooks);
    });
}

Result returnBook(Archive& archive, qint64 book, const QDate& today)
{
    requireTerms(today, 0, 0);
    return inTransaction(archive, [&]() -> Result {
        if (const std::optional<Loan> open = readOpenLoan(archive, book)) {
            return returnIn(archive, *open, today);
        }
        const std::optional<QString> title = titleOf(archive, book);
        if (!title) {
            return unknownBook(book);
        }
        return notOnLoan(archive, book, *title);
    });
}

Result undo(Archive& archive, const Action& action)
{
    if (action.kind == Action::Kind::None) {
        return refused(Refusal::NothingToUndo, QStringLiteral("Non c'è nulla da annullare."));
    }
    requireLoans(archive);
    Transaction transaction(archive);
    const std::optional<Loan> loan = readLoan(archive, action.loan);
    const bool asMade = loan && loan->book == action.book && loan->borrower == action.borrower &&
                        loan->lent == action.lent && loan->due == action.due;
    Result r;
    if (action.kind == Action::Kind::Lend) {
        if (!asMade || !loan->isOpen()) {
            return refused(Refusal::Changed,
                           QStringLiteral("Il prestito non può essere annullato: nel frattempo il libro è stato "
                                          "restituito o il prestito è stato modificato."),
                           loan.value_or(Loan{}));
        }
        Statement remove = archive.prepareExact(
            QStringLiteral("DELETE FROM prestiti WHERE ID_Prestito = ? AND data_restituzione IS NULL"));
        remove.bindInt(1, action.loan);
        remove.step();
        r.message = QStringLiteral("Annullato il prestito del libro %1 a %2.")
                        .arg(titled(loan->title, loan->book), nameOf(loan->borrowerName, loan->borrower));
    } else {
        if (!asMade || loan->returned != action.returned) {
            return refused(Refusal::Changed,
                           QStringLiteral("La restituzione non può essere annullata: nel frattempo il prestito è "
                                          "stato modificato."),
                           loan.value_or(Loan{}));
        }
        if (const std::optional<Loan> other = readOpenLoan(archive, action.book)) {
            return refused(Refusal::AlreadyLent,
                           QStringLiteral("La restituzione non può essere annullata: il libro è già di nuovo in "
                                          "prestito a %1.")
                               .arg(nameOf(other->borrowerName, other->borrower)),
                           *other);
        }
        Statement reopen =
            archive.prepareExact(QStringLiteral("UPDATE prestiti SET data_restituzione = NULL WHERE ID_Prestito = ?"));
        reopen.bindInt(1, action.loan);
        reopen.step();
        r.message = QStringLiteral("Annullata la restituzione: il libro %1 è di nuovo in prestito a %2.")
                        .arg(titled(loan->title, loan->book), nameOf(loan->borrowerName, loan->borrower));
    }
    transaction.commit();
    r.outcome = Outcome::Undone;
    r.loan = *loan;
    r.loan.returned = QDate(); // a lend undone was open; a return undone is open again
    return r;
}

// ---------------------------------------------------------------- lists

std::optional<Loan> openLoanOf(Archive& archive, qint64 book)
{
    return readOpenLoan(archive, book);
}

QList<Loan> openLoansOf(Archive& archive, qint64 borrower)
{
    return readLoans(archive,
                     QStringLiteral("WHERE p.ID_Lettore = ? AND p.data_restituzione IS NULL ORDER BY p.data_scadenza, "
                                    "p.ID_Prestito"),
                     {borrower});
}

QList<Loan> historyOf(Archive& archive, qint64 borrower)
{
    return readLoans(archive,
                     QStringLiteral("WHERE p.ID_Lettore = ? ORDER BY p.data_prestito DESC, p.ID_Prestito DESC"),
                     {borrower});
}

QList<Loan> overdue(Archive& archive, const QDate& today)
{
    requireTerms(today, 0, 0);
    return readLoans(archive,
                     QStringLiteral("WHERE p.data_restituzione IS NULL AND p.data_scadenza < ? ORDER BY "
                                    "p.data_scadenza, l.nome COLLATE ITALIANO, p.ID_Prestito"),
                     {iso(today)});
}

qint64 overdueCount(Archive& archive, const QDate& today)
{
    requireTerms(today, 0, 0);
    std::optional<Statement> st = prepareLoans(
        archive, QStringLiteral("SELECT count(*) FROM prestiti WHERE data_restituzione IS NULL AND data_scadenza < ?"));
    if (!st) {
        return 0;
    }
    st->bind(1, iso(today));
    st->step();
    return st->int64(0);
}

QList<BorrowerLoans> overdueByBorrower(Archive& archive, const QDate& today)
{
    requireTerms(today, 0, 0);
    QList<BorrowerLoans> letters;
    std::optional<Statement> st = prepareLoans(
        archive, kLoanColumns.left(kLoanColumns.indexOf(QLatin1String(" FROM "))) +
                     QStringLiteral(", l.indirizzo, l.telefono, l.email, l.gruppo, l.note") +
                     kLoanColumns.mid(kLoanColumns.indexOf(QLatin1String(" FROM "))) +
                     QStringLiteral("WHERE p.data_restituzione IS NULL AND p.data_scadenza < ? ORDER BY "
                                    "l.nome COLLATE ITALIANO, p.ID_Lettore, p.data_scadenza, p.ID_Prestito"));
    if (!st) {
        return letters;
    }
    st->bind(1, iso(today));
    while (st->step()) {
        const Loan loan = rowToLoan(*st);
        if (letters.isEmpty() || letters.constLast().borrower.id != loan.borrower) {
            BorrowerLoans b;
            b.borrower.id = loan.borrower;
            b.borrower.nome = loan.borrowerName;
            b.borrower.indirizzo = st->value(kLoanColumnCount).toString();
            b.borrower.telefono = st->value(kLoanColumnCount + 1).toString();
            b.borrower.email = st->value(kLoanColumnCount + 2).toString();
            b.borrower.gruppo = st->value(kLoanColumnCount + 3).toString();
            b.borrower.note = st->value(kLoanColumnCount + 4).toString();
            letters.append(b);
        }
        letters.last().loans.append(loan);
    }
    return letters;
}

// ---------------------------------------------------------------- borrowers

bool available(Archive& archive)
{
    return hasLoanTables(archive);
}

std::optional<Borrower> borrower(Archive& archive, qint64 id)
{
    std::optional<Statement> st = prepareLoans(
        archive, QStringLiteral("SELECT ID_Lettore, nome, indirizzo, telefono, email, gruppo, note FROM lettori WHERE "
                                "ID_Lettore = ?"));
    if (!st) {
        return std::nullopt;
    }
    st->bindInt(1, id);
    if (!st->step()) {
        return std::nullopt;
    }
    Borrower b;
    b.id = st->int64(0);
    b.nome = st->value(1).toString();
    b.indirizzo = st->value(2).toString();
    b.telefono = st->value(3).toString();
    b.email = st->value(4).toString();
    b.gruppo = st->value(5).toString();
    b.note = st->value(6).toString();
    return b;
}

bool deleteBorrower(Archive& archive, qint64 id)
{
    requireLoans(archive);
    Transaction transaction(archive);
    refuseDeletion(archive, QStringLiteral("lettori"), id);
    Statement remove = archive.prepareExact(QStringLiteral("DELETE FROM lettori WHERE ID_Lettore = ?"));
    remove.bindInt(1, id);
    remove.step();
    const bool deleted = archive.changes() > 0;
    transaction.commit();
    return deleted;
}

void refuseDeletion(Archive& archive, const QString& table, qint64 key)
{
    if (table.compare(QLatin1String("biblio"), Qt::CaseInsensitive) == 0) {
        if (const std::optional<Loan> open = readOpenLoan(archive, key)) {
            throw DbError(ErrBookOnLoan, QStringLiteral("Il libro è in prestito a %1 dal %2: non può essere eliminato.")
                                             .arg(nameOf(open->borrowerName, open->borrower), formatDate(open->lent)));
        }
    } else if (table.compare(QLatin1String("lettori"), Qt::CaseInsensitive) == 0) {
        std::optional<Statement> who = prepareLoans(
            archive, QStringLiteral("SELECT l.nome, (SELECT count(*) FROM prestiti p WHERE p.ID_Lettore = l.ID_Lettore "
                                    "AND p.data_restituzione IS NULL) FROM lettori l WHERE l.ID_Lettore = ?"));
        if (!who) {
            return;
        }
        who->bindInt(1, key);
        if (who->step() && who->int64(1) > 0) {
            const qint64 out = who->int64(1);
            throw DbError(ErrBorrowerHasLoans,
                          QStringLiteral("Il lettore %1 ha %2 in prestito: non può essere eliminato.")
                              .arg(nameOf(who->value(0).toString(), key),
                                   out == 1 ? QStringLiteral("1 libro") : QStringLiteral("%1 libri").arg(out)));
        }
    }
}

} // namespace store::loans
