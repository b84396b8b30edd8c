#pragma once

// Several program instances working on one archive at once, each in a process of its own: saving
// books through the recordset's edit contract, quick finds, lends and returns. Every instance keeps
// a counter of its own in the note of each shared book ("CARICO n0 n1 ..."), raised by one at each
// save it makes, and logs the saves it made per book; at the end the stored counters are compared
// with the logs (a save lost to another instance's shows as a counter below its log), every refusal
// is counted by number, and the links and loans are checked. Shared by carteo_bench_server (eight
// instances for a minute) and the store's load test (three instances, a fixed number of saves).

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

namespace load {

struct Plan {
    QString archive; // a file path or a server address
    int instances = 8;
    int seconds = 0;         // > 0: each instance works until this time is up
    int saves = 0;           // > 0: each instance works until it made this many saves
    QList<qint64> books;     // the books whose notes every instance raises
    QList<qint64> loanBooks; // books the instances lend and take back (none: no loans)
    QList<qint64> borrowers; // whom they are lent to
    QStringList words;       // quick find words
};

// What one instance did, from its log.
struct InstanceLog {
    bool complete = false; // the instance ended and wrote its log
    int exitCode = -1;
    double seconds = 0; // its own working time
    qint64 saves = 0;
    QMap<qint64, qint64> savesPerBook;
    QMap<int, qint64> refusals; // 3197, 3167, 3260 and any other number
    qint64 keptTyped = 0;       // refusals after which the edit was still open with the value set
    qint64 searches = 0;
    qint64 searchBusy = 0; // a search that met a writer's lock on a file archive (3260)
    qint64 lends = 0;
    qint64 returns = 0;
    qint64 loanRefusals = 0; // a book already out, taken by another desk meanwhile
    qint64 loanBusy = 0;     // a lend or return that met another writer's lock (3260)
    QStringList problems;    // anything unexpected, as said by the instance
};

// The archive before the load, for the check.
struct Baseline {
    qint64 links = 0;
    qint64 loans = 0;
    qint64 openLoans = 0;
    bool hasLoans = false;
};

struct Verdict {
    bool ok = false;
    QStringList problems; // empty when ok
    qint64 checkedBooks = 0;
};

// A plan for `instances` instances on `archive`: `books` shared books (those of the lowest keys),
// 40 books not on loan to lend and 20 borrowers when the archive has loans (made when it has no
// borrowers at all), and quick find words taken from titles.
Plan choose(const QString& archive, int instances, int books);

// Sets the shared books' notes to all-zero counters and reads the baseline.
Baseline prepare(const Plan& plan);

// Runs `plan.instances` children of `program` (its arguments `prefix` + "<plan file> <index>") and
// waits for them all; `folder` keeps the plan and the logs.
QList<InstanceLog> runInstances(const Plan& plan, const QString& program, const QStringList& prefix,
                                const QString& folder);

// Compares the archive with the logs: every book's counters, the refusals, links and loans.
Verdict check(const Plan& plan, const Baseline& before, const QList<InstanceLog>& logs);

// The child's side: `arguments` are "<plan file> <index>". Returns the process's exit code.
int instanceMain(const QStringList& arguments);

// The note that holds these counters, and the counters a note holds (empty when it holds none).
QString counterNote(const QList<qint64>& counters);
QList<qint64> countersOf(const QString& note, int instances);

} // namespace load
