#include "StoreLoad.h"

#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Loans.h"
#include "store/Recordset.h"
#include "store/Sql.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QTextStream>

#include <array>
#include <memory>
#include <optional>
#include <random>

namespace load {

namespace {

const QString kNoteMark = QStringLiteral("CARICO");
// The loans are lent and returned on one made-up day: the store never reads the clock.
const QDate kToday(2026, 6, 15);

QJsonArray toJson(const QList<qint64>& values)
{
    QJsonArray a;
    for (const qint64 v : values) {
        a.append(double(v));
    }
    return a;
}

QList<qint64> keysOf(const QJsonValue& value)
{
    QList<qint64> keys;
    for (const QJsonValue v : value.toArray()) {
        keys.append(qint64(v.toDouble()));
    }
    return keys;
}

QByteArray planJson(const Plan& plan)
{
    QJsonObject o;
    o[QStringLiteral("archive")] = plan.archive;
    o[QStringLiteral("instances")] = plan.instances;
    o[QStringLiteral("seconds")] = plan.seconds;
    o[QStringLiteral("saves")] = plan.saves;
    o[QStringLiteral("books")] = toJson(plan.books);
    o[QStringLiteral("loanBooks")] = toJson(plan.loanBooks);
    o[QStringLiteral("borrowers")] = toJson(plan.borrowers);
    o[QStringLiteral("words")] = QJsonArray::fromStringList(plan.words);
    return QJsonDocument(o).toJson();
}

std::optional<Plan> planOf(const QByteArray& json)
{
    const QJsonDocument d = QJsonDocument::fromJson(json);
    if (!d.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = d.object();
    Plan p;
    p.archive = o.value(QStringLiteral("archive")).toString();
    p.instances = o.value(QStringLiteral("instances")).toInt();
    p.seconds = o.value(QStringLiteral("seconds")).toInt();
    p.saves = o.value(QStringLiteral("saves")).toInt();
    p.books = keysOf(o.value(QStringLiteral("books")));
    p.loanBooks = keysOf(o.value(QStringLiteral("loanBooks")));
    p.borrowers = keysOf(o.value(QStringLiteral("borrowers")));
    for (const QJsonValue v : o.value(QStringLiteral("words")).toArray()) {
        p.words.append(v.toString());
    }
    return p;
}

QString logPath(const QString& planFile, int index)
{
    return planFile + QStringLiteral(".%1.log").arg(index);
}

qint64 scalar(store::Archive& archive, const QString& sqlText, const QVariantList& values = {})
{
    store::Statement st = archive.prepare(sqlText);
    st.bindAll(values);
    return st.step() ? st.value(0).toLongLong() : 0;
}

// The Recordset of the shared books, each found by its key.
QString booksQuery(int count)
{
    QStringList markers;
    for (int i = 0; i < count; ++i) {
        markers << QStringLiteral("?");
    }
    return QStringLiteral("Select * from biblio where id in (%1) order by id").arg(markers.join(QLatin1Char(',')));
}

QVariantList variants(const QList<qint64>& keys)
{
    QVariantList v;
    for (const qint64 k : keys) {
        v.append(k);
    }
    return v;
}

// One instance's work and its log.
class Instance {
  public:
    Instance(const Plan& plan, int index) : m_plan(plan), m_index(index), m_random(std::uint32_t(1000 + index)) {}

    void run()
    {
        m_archive = store::Archive::open(m_plan.archive);
        m_books = std::make_unique<store::Recordset>(
            m_archive, store::Query(booksQuery(int(m_plan.books.size())), variants(m_plan.books)));
        const bool loans =
            !m_plan.loanBooks.isEmpty() && !m_plan.borrowers.isEmpty() && store::loans::available(*m_archive);
        QElapsedTimer clock;
        clock.start();
        const qint64 attemptsAllowed = qint64(m_plan.saves) * 200;
        qint64 attempts = 0;
        for (;;) {
            if (m_plan.seconds > 0 && clock.elapsed() >= qint64(m_plan.seconds) * 1000) {
                break;
            }
            if (m_plan.saves > 0 && m_log.saves >= m_plan.saves) {
                break;
            }
            if (m_plan.saves > 0 && attempts > attemptsAllowed) {
                m_log.problems << QStringLiteral("gave up after %1 attempts").arg(attempts);
                break;
            }
            const int roll = int(m_random() % 100);
            if (roll < 60) {
                ++attempts;
                save();
            } else if (roll < 85 || !loans) {
                search();
            } else {
                lendOrReturn();
            }
        }
        m_log.seconds = double(clock.nsecsElapsed()) / 1e9;
        m_log.complete = true;
    }

    InstanceLog& log() { return m_log; }

  private:
    // Raises this instance's counter in the note of one shared book, through the edit contract.
    void save()
    {
        const qint64 book = m_plan.books.at(int(m_random() % std::uint32_t(m_plan.books.size())));
        store::Recordset& rs = *m_books;
        if (!rs.findFirst(QStringLiteral("id"), book)) {
            m_log.problems << QStringLiteral("book %1 not found").arg(book);
            return;
        }
        QString typed;
        try {
            rs.edit();
            QList<qint64> counters = countersOf(rs.value(QStringLiteral("note")).toString(), m_plan.instances);
            if (counters.isEmpty()) {
                m_log.problems << QStringLiteral("book %1: the note holds no counters").arg(book);
                rs.cancelUpdate();
                return;
            }
            ++counters[m_index];
            typed = counterNote(counters);
            rs.setValue(QStringLiteral("note"), typed);
            rs.update();
            ++m_log.saves;
            ++m_log.savesPerBook[book];
        } catch (const store::DbError& e) {
            ++m_log.refusals[e.number()];
            if (rs.editMode() != store::Recordset::EditMode::None) {
                if (!typed.isEmpty() && rs.value(QStringLiteral("note")).toString() == typed) {
                    ++m_log.keptTyped;
                }
                // A refused increment is given up: saving it again over what another instance
                // stored would be that instance's increment lost.
                rs.cancelUpdate();
            }
        }
    }

    void search()
    {
        if (m_plan.words.isEmpty()) {
            return;
        }
        const QString word = m_plan.words.at(int(m_random() % std::uint32_t(m_plan.words.size())));
        try {
            store::Recordset found(m_archive, sql::searchBooks({}, false, word));
            if (found.recordCount() > 0) {
                found.moveFirst();
                if (found.value(QStringLiteral("titolo")).toString().isEmpty()) {
                    m_log.problems << QStringLiteral("search '%1': the first book has no title").arg(word);
                }
            }
            ++m_log.searches;
        } catch (const store::DbError& e) {
            // A file archive's reader may wait too long for a writer, as a window's would.
            if (e.number() == store::ErrLocked) {
                ++m_log.searchBusy;
                return;
            }
            m_log.problems << QStringLiteral("search '%1': %2 %3").arg(word).arg(e.number()).arg(e.description());
        }
    }

    // Lends a book of the pool, or takes back one this instance lent.
    void lendOrReturn()
    {
        const qint64 book = m_plan.loanBooks.at(int(m_random() % std::uint32_t(m_plan.loanBooks.size())));
        try {
            if (m_lent.contains(book)) {
                const store::loans::Result r = store::loans::returnBook(*m_archive, book, kToday);
                if (r.outcome == store::loans::Outcome::Returned) {
                    ++m_log.returns;
                    m_lent.remove(book);
                } else {
                    m_log.problems << QStringLiteral("return of %1 refused: %2").arg(book).arg(r.message);
                }
                return;
            }
            const qint64 borrower = m_plan.borrowers.at(int(m_random() % std::uint32_t(m_plan.borrowers.size())));
            const store::loans::Result r = store::loans::lend(*m_archive, book, borrower, kToday, 30, 0);
            if (r.outcome == store::loans::Outcome::Lent) {
                ++m_log.lends;
                m_lent.insert(book);
            } else if (r.refusal == store::loans::Refusal::AlreadyLent) {
                ++m_log.loanRefusals;
            } else {
                m_log.problems << QStringLiteral("lend of %1 refused: %2").arg(book).arg(r.message);
            }
        } catch (const store::DbError& e) {
            if (e.number() == store::ErrLocked) {
                ++m_log.loanBusy;
            } else {
                m_log.problems << QStringLiteral("loan of %1: %2 %3").arg(book).arg(e.number()).arg(e.description());
            }
        }
    }

    const Plan& m_plan;
    const int m_index;
    std::mt19937 m_random;
    std::shared_ptr<store::Archive> m_archive;
    std::unique_ptr<store::Recordset> m_books;
    QSet<qint64> m_lent;
    InstanceLog m_log;
};

bool writeLog(const QString& path, const InstanceLog& log)
{
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text)) {
        return false;
    }
    QTextStream out(&f);
    out << "seconds " << QString::number(log.seconds, 'f', 3) << '\n';
    out << "saves " << log.saves << '\n';
    for (auto it = log.savesPerBook.cbegin(); it != log.savesPerBook.cend(); ++it) {
        out << "book " << it.key() << ' ' << it.value() << '\n';
    }
    for (auto it = log.refusals.cbegin(); it != log.refusals.cend(); ++it) {
        out << "refused " << it.key() << ' ' << it.value() << '\n';
    }
    out << "kept " << log.keptTyped << '\n';
    out << "searches " << log.searches << '\n';
    out << "searchBusy " << log.searchBusy << '\n';
    out << "lends " << log.lends << '\n';
    out << "returns " << log.returns << '\n';
    out << "loanRefused " << log.loanRefusals << '\n';
    out << "loanBusy " << log.loanBusy << '\n';
    for (const QString& p : log.problems) {
        out << "problem " << QString(p).replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
    }
    out << "end\n";
    out.flush();
    return f.commit();
}

InstanceLog readLog(const QString& path)
{
    InstanceLog log;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        log.problems << QStringLiteral("no log");
        return log;
    }
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const QStringList w = line.split(QLatin1Char(' '));
        const QString& k = w.at(0);
        const auto n = [&](int i) { return w.value(i).toLongLong(); };
        if (k == QLatin1String("seconds")) {
            log.seconds = w.value(1).toDouble();
        } else if (k == QLatin1String("saves")) {
            log.saves = n(1);
        } else if (k == QLatin1String("book")) {
            log.savesPerBook[n(1)] = n(2);
        } else if (k == QLatin1String("refused")) {
            log.refusals[int(n(1))] = n(2);
        } else if (k == QLatin1String("kept")) {
            log.keptTyped = n(1);
        } else if (k == QLatin1String("searches")) {
            log.searches = n(1);
        } else if (k == QLatin1String("searchBusy")) {
            log.searchBusy = n(1);
        } else if (k == QLatin1String("lends")) {
            log.lends = n(1);
        } else if (k == QLatin1String("returns")) {
            log.returns = n(1);
        } else if (k == QLatin1String("loanRefused")) {
            log.loanRefusals = n(1);
        } else if (k == QLatin1String("loanBusy")) {
            log.loanBusy = n(1);
        } else if (k == QLatin1String("problem")) {
            log.problems << line.mid(8);
        } else if (k == QLatin1String("end")) {
            log.complete = true;
        }
    }
    if (!log.complete) {
        log.problems << QStringLiteral("log cut short");
    }
    return log;
}

} // namespace

QString counterNote(const QList<qint64>& counters)
{
    QStringList parts{kNoteMark};
    for (const qint64 c : counters) {
        parts << QString::number(c);
    }
    return parts.join(QLatin1Char(' '));
}

QList<qint64> countersOf(const QString& note, int instances)
{
    const QStringList parts = note.split(QLatin1Char(' '));
    if (parts.size() != instances + 1 || parts.at(0) != kNoteMark) {
        return {};
    }
    QList<qint64> counters;
    for (int i = 1; i < parts.size(); ++i) {
        bool ok = false;
        counters << parts.at(i).toLongLong(&ok);
        if (!ok) {
            return {};
        }
    }
    return counters;
}

Plan choose(const QString& archive, int instances, int books)
{
    Plan plan;
    plan.archive = archive;
    plan.instances = instances;
    const auto a = store::Archive::open(archive);
    {
        store::Statement st = a->prepare(QStringLiteral("SELECT id FROM biblio ORDER BY id LIMIT ?"));
        st.bindInt(1, books);
        while (st.step()) {
            plan.books << st.int64(0);
        }
    }
    if (store::loans::available(*a)) {
        store::Statement st =
            a->prepare(QStringLiteral("SELECT id FROM biblio WHERE id NOT IN (SELECT id_libro FROM prestiti WHERE "
                                      "data_restituzione IS NULL) ORDER BY id DESC LIMIT 40"));
        while (st.step()) {
            plan.loanBooks << st.int64(0);
        }
        const auto readBorrowers = [&] {
            store::Statement who =
                a->prepare(QStringLiteral("SELECT ID_Lettore FROM lettori ORDER BY ID_Lettore LIMIT 20"));
            while (who.step()) {
                plan.borrowers << who.int64(0);
            }
        };
        readBorrowers();
        if (plan.borrowers.isEmpty()) {
            // An archive upgraded from a version without loans has no borrowers yet.
            store::Transaction t(*a);
            store::Statement add = a->prepare(QStringLiteral("INSERT INTO lettori (nome) VALUES (?)"));
            for (int i = 1; i <= 20; ++i) {
                add.bind(1, QStringLiteral("LETTORE DI PROVA %1").arg(i));
                add.step();
                add.reset();
            }
            t.commit();
            readBorrowers();
        }
    }
    store::Statement titles = a->prepare(QStringLiteral("SELECT titolo FROM biblio ORDER BY id LIMIT 200"));
    QSet<QString> seen;
    while (titles.step() && plan.words.size() < 30) {
        for (const QString& w : titles.value(0).toString().split(QRegularExpression(QStringLiteral("[^\\w]+")))) {
            if (w.size() >= 4 && !seen.contains(w.toLower())) {
                seen.insert(w.toLower());
                plan.words << w.toLower();
                break;
            }
        }
    }
    return plan;
}

Baseline prepare(const Plan& plan)
{
    const auto archive = store::Archive::open(plan.archive);
    {
        store::Transaction t(*archive);
        store::Statement st = archive->prepare(QStringLiteral("UPDATE biblio SET note = ? WHERE id = ?"));
        const QString zeros = counterNote(QList<qint64>(plan.instances, 0));
        for (const qint64 book : plan.books) {
            st.bind(1, zeros);
            st.bindInt(2, book);
            st.step();
            st.reset();
        }
        t.commit();
    }
    Baseline b;
    b.links = scalar(*archive, QStringLiteral("SELECT count(*) FROM autbiblio"));
    b.hasLoans = store::loans::available(*archive);
    if (b.hasLoans) {
        b.loans = scalar(*archive, QStringLiteral("SELECT count(*) FROM prestiti"));
        b.openLoans = scalar(*archive, QStringLiteral("SELECT count(*) FROM prestiti WHERE data_restituzione IS NULL"));
    }
    return b;
}

QList<InstanceLog> runInstances(const Plan& plan, const QString& program, const QStringList& prefix,
                                const QString& folder)
{
    const QString planFile = QDir(folder).filePath(QStringLiteral("carico.json"));
    {
        QSaveFile f(planFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(planJson(plan)) < 0 || !f.commit()) {
            throw std::runtime_error("cannot write the plan of the load");
        }
    }
    std::vector<std::unique_ptr<QProcess>> children;
    for (int i = 0; i < plan.instances; ++i) {
        QFile::remove(logPath(planFile, i));
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(program, prefix + QStringList{planFile, QString::number(i)});
        children.push_back(std::move(p));
    }
    // Time-limited runs end on their own; counted ones get ten minutes at most.
    const int waitMs = plan.seconds > 0 ? (plan.seconds + 120) * 1000 : 600 * 1000;
    QList<InstanceLog> logs;
    for (int i = 0; i < plan.instances; ++i) {
        QProcess& p = *children[std::size_t(i)];
        if (!p.waitForFinished(waitMs)) {
            p.kill();
            p.waitForFinished(5000);
        }
        InstanceLog log = readLog(logPath(planFile, i));
        log.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        logs.append(log);
    }
    return logs;
}

Verdict check(const Plan& plan, const Baseline& before, const QList<InstanceLog>& logs)
{
    Verdict v;
    qint64 lends = 0;
    qint64 returns = 0;
    for (int i = 0; i < logs.size(); ++i) {
        const InstanceLog& log = logs.at(i);
        if (!log.complete || log.exitCode != 0) {
            v.problems << QStringLiteral("instance %1 did not end well (exit %2)").arg(i).arg(log.exitCode);
        }
        for (const QString& p : log.problems) {
            v.problems << QStringLiteral("instance %1: %2").arg(i).arg(p);
        }
        qint64 refused = 0;
        for (auto it = log.refusals.cbegin(); it != log.refusals.cend(); ++it) {
            refused += it.value();
            if (it.key() != store::ErrRecordChanged && it.key() != store::ErrRecordDeleted &&
                it.key() != store::ErrLocked) {
                v.problems << QStringLiteral("instance %1: %2 saves refused with error %3")
                                  .arg(i)
                                  .arg(it.value())
                                  .arg(it.key());
            }
        }
        if (log.keptTyped != refused) {
            v.problems << QStringLiteral("instance %1: %2 of %3 refused saves lost what was typed")
                              .arg(i)
                              .arg(refused - log.keptTyped)
                              .arg(refused);
        }
        lends += log.lends;
        returns += log.returns;
    }
    const auto archive = store::Archive::open(plan.archive);
    store::Statement note = archive->prepare(QStringLiteral("SELECT note FROM biblio WHERE id = ?"));
    for (const qint64 book : plan.books) {
        note.bindInt(1, book);
        const QString stored = note.step() ? note.value(0).toString() : QString();
        note.reset();
        const QList<qint64> counters = countersOf(stored, plan.instances);
        if (counters.isEmpty()) {
            v.problems << QStringLiteral("book %1: the note holds no counters: '%2'").arg(book).arg(stored);
            continue;
        }
        ++v.checkedBooks;
        for (int i = 0; i < plan.instances; ++i) {
            const qint64 logged = i < logs.size() ? logs.at(i).savesPerBook.value(book) : 0;
            if (counters.at(i) != logged) {
                v.problems << QStringLiteral("book %1, instance %2: %3 saves stored, %4 made (%5)")
                                  .arg(book)
                                  .arg(i)
                                  .arg(counters.at(i))
                                  .arg(logged)
                                  .arg(counters.at(i) < logged ? QStringLiteral("a save lost")
                                                               : QStringLiteral("a save reported as refused"));
            }
        }
    }
    const qint64 links = scalar(*archive, QStringLiteral("SELECT count(*) FROM autbiblio"));
    if (links != before.links) {
        v.problems << QStringLiteral("links: %1 before, %2 after").arg(before.links).arg(links);
    }
    if (before.hasLoans) {
        const qint64 loans = scalar(*archive, QStringLiteral("SELECT count(*) FROM prestiti"));
        const qint64 open =
            scalar(*archive, QStringLiteral("SELECT count(*) FROM prestiti WHERE data_restituzione IS NULL"));
        if (loans != before.loans + lends) {
            v.problems << QStringLiteral("loans: %1 before, %2 lent, %3 after").arg(before.loans).arg(lends).arg(loans);
        }
        if (open != before.openLoans + lends - returns) {
            v.problems << QStringLiteral("open loans: %1 before, %2 lent, %3 returned, %4 after")
                              .arg(before.openLoans)
                              .arg(lends)
                              .arg(returns)
                              .arg(open);
        }
        store::Statement twice =
            archive->prepare(QStringLiteral("SELECT id_libro, count(*) FROM prestiti WHERE data_restituzione IS NULL "
                                            "GROUP BY id_libro HAVING count(*) > 1"));
        while (twice.step()) {
            v.problems << QStringLiteral("book %1 is out %2 times at once")
                              .arg(twice.value(0).toLongLong())
                              .arg(twice.value(1).toLongLong());
        }
    }
    v.ok = v.problems.isEmpty();
    return v;
}

int instanceMain(const QStringList& arguments)
{
    if (arguments.size() != 2) {
        return 2;
    }
    const QString planFile = arguments.at(0);
    const int index = arguments.at(1).toInt();
    QFile f(planFile);
    if (!f.open(QIODevice::ReadOnly)) {
        return 2;
    }
    const std::optional<Plan> plan = planOf(f.readAll());
    if (!plan || index < 0 || index >= plan->instances || plan->books.isEmpty()) {
        return 2;
    }
    Instance instance(*plan, index);
    try {
        instance.run();
    } catch (const store::DbError& e) {
        instance.log().problems << QStringLiteral("error %1: %2").arg(e.number()).arg(e.description());
    } catch (const std::exception& e) {
        instance.log().problems << QString::fromLocal8Bit(e.what());
    }
    instance.log().complete = true;
    return writeLog(logPath(planFile, index), instance.log()) ? 0 : 1;
}

} // namespace load
