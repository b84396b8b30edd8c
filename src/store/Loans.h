#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace store {

class Archive;

// Borrowers and loans (tables `lettori` and `prestiti`, archive version 3).
//
// Every change is one transaction of its own that takes the write lock before it reads what it
// decides on: of two desks lending the same book at the same moment, the second finds the first's
// loan and is refused; a lock held too long by another user gives 3260, as a save does. The
// archive keeps at most one open loan per book whoever writes (a partial unique index), and
// refuses to delete a book on loan or a borrower with books out (triggers).
//
// The day is always given (`today`): the store never reads the clock, so the windows decide what
// day it is and tests set it. Dates are stored as ISO texts (yyyy-mm-dd).
//
// A refusal the user can act on (an unknown key, a book already out, a borrower at the maximum)
// is a Result with its message, never an exception; store errors (a busy or read-only archive, a
// disk error) are thrown as DbError, and the archive is left as it was.
namespace loans {

// ---------------------------------------------------------------- dates

// A date typed as dd/MM/yyyy: two digits for the day and the month, four for the year, nothing
// before or after. A day that does not exist (31/04/2026, 29/02/2027, 01/13/2026) is refused, never
// rolled over into the next month. Nothing when the text is not such a date.
std::optional<QDate> parseDate(const QString& typed);
// A date as the windows show it: dd/MM/yyyy; empty for a null date.
QString formatDate(const QDate& date);

// ---------------------------------------------------------------- records

struct Borrower {
    qint64 id = 0;
    QString nome, indirizzo, telefono, email, gruppo, note;
};

struct Loan {
    qint64 id = 0;
    qint64 book = 0;
    qint64 borrower = 0;
    QString borrowerName;      // empty when the borrower is no longer in the archive
    QString title;             // empty when the book is no longer in the archive
    QDate lent, due, returned; // `returned` is null while the loan is open
    QString note;

    bool isOpen() const { return returned.isNull(); }
    // Days past the due date: on `today` for an open loan, on the day of the return for a returned
    // one; 0 when not late.
    int daysLate(const QDate& today) const;
};

// The line under the book record for an open loan: "In prestito a NOME dal 01/12/2026, da
// restituire il 31/12/2026".
QString onLoanLine(const Loan& loan);

// ---------------------------------------------------------------- the desk

// What a lend or a return did, for an undo of it.
struct Action {
    enum class Kind { None, Lend, Return };
    Kind kind = Kind::None;
    qint64 loan = 0;
    qint64 book = 0;
    qint64 borrower = 0;
    QDate lent, due, returned;
};

enum class Outcome { Lent, Returned, Undone, Refused };

// Why nothing was done.
enum class Refusal {
    None,
    Empty,         // nothing was read
    Spaces,        // spaces, a tab or a line break in what was read (a scanner's suffix)
    NotDigits,     // letters or signs: not a book's key
    LeadingZero,   // a key is never written with leading zeros, nor is it 0
    UnknownBook,   // no book has that key
    NoBorrower,    // a book not on loan, and no borrower chosen to lend it to
    BorrowerGone,  // the chosen borrower was deleted meanwhile
    AtMaximum,     // the borrower already has as many books out as allowed
    AlreadyLent,   // on loan to someone else (perhaps a moment ago, at another desk)
    NotOnLoan,     // a return of a book that is not out (already returned: a no-op)
    Changed,       // an undo of a loan or a return that someone changed meanwhile
    NothingToUndo, // an undo with no action
};

struct Result {
    Outcome outcome = Outcome::Refused;
    Refusal refusal = Refusal::None;
    // What the desk shows, in Italian: what was done, or why nothing was.
    QString message;
    // The loan lent, returned or undone (its book, borrower, title, dates); for AlreadyLent the
    // loan that holds the book.
    Loan loan;
    // What undo() needs to take this back; Kind::None when nothing changed.
    Action action;

    bool done() const { return outcome != Outcome::Refused; }
};

// A book's key as read by a scanner or typed: exactly what its Code 39 label holds, the key in
// decimal digits with no leading zero, nothing before or after it (no spaces, no line break).
struct ScannedKey {
    qint64 key = 0; // 0 when refused
    Refusal refusal = Refusal::None;
    QString message;
};
ScannedKey readKey(const QString& scannedText);

// One scan at the desk, decided and done in one transaction:
// - the book is on loan to `borrower`, or on loan and no borrower is chosen (0): it is returned;
// - the book is not on loan and a borrower is chosen: it is lent for `loanDays` days, unless the
//   borrower has `maxBooks` books out already (0: no maximum);
// - the book is on loan to another borrower while one is chosen: refused ("Il libro è già in
//   prestito a NOME.");
// - the book is not on loan and no borrower is chosen: refused.
// Whatever is refused changes nothing. Throws DbError 3911 when the archive has no loans (an older
// archive that could not be upgraded), 3260 when another user holds the archive too long, 5 for a
// negative number of days or books or a null day.
Result scan(Archive& archive, const QString& scannedText, qint64 borrower, const QDate& today, int loanDays,
            int maxBooks);

// The two halves of a scan, by the book's key. lend() refuses a book on loan to anyone;
// returnBook() of a book not on loan (already returned) is a no-op with a message.
Result lend(Archive& archive, qint64 book, qint64 borrower, const QDate& today, int loanDays, int maxBooks);
Result returnBook(Archive& archive, qint64 book, const QDate& today);

// Takes back a lend (the loan is deleted, if it is still open and as it was made) or a return
// (the loan is open again, if it is still returned on that day and no other loan of the book was
// opened since). Refused with a message otherwise.
Result undo(Archive& archive, const Action& action);

// ---------------------------------------------------------------- lists

// The open loan of a book, if any. Nothing either when the archive has no loans.
std::optional<Loan> openLoanOf(Archive& archive, qint64 book);
// The open loans of a borrower, by due date.
QList<Loan> openLoansOf(Archive& archive, qint64 borrower);
// Every loan of a borrower, the latest first.
QList<Loan> historyOf(Archive& archive, qint64 borrower);
// The open loans of the whole library due before `today`, by due date (then borrower and loan),
// with titles and borrowers' names.
QList<Loan> overdue(Archive& archive, const QDate& today);
qint64 overdueCount(Archive& archive, const QDate& today);

// The overdue loans of one borrower, for a reminder letter.
struct BorrowerLoans {
    Borrower borrower;
    QList<Loan> loans; // by due date
};
// Every borrower with overdue loans, by name.
QList<BorrowerLoans> overdueByBorrower(Archive& archive, const QDate& today);

// ---------------------------------------------------------------- borrowers

// True when the archive has the borrowers' and loans' tables.
bool available(Archive& archive);

std::optional<Borrower> borrower(Archive& archive, qint64 id);

// Deletes a borrower with the record of their returned loans, in one transaction; refused with
// 3913 while they have books out. False when there was no such borrower.
bool deleteBorrower(Archive& archive, qint64 id);

// Throws 3912 (a book on loan) or 3913 (a borrower with books out), naming the loan, when the
// row `key` of `table` cannot be deleted; nothing for any other table. Called inside the
// transaction that deletes the row, so a loan made meanwhile at another desk is seen.
void refuseDeletion(Archive& archive, const QString& table, qint64 key);

} // namespace loans
} // namespace store
