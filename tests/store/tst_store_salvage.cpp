// Salvaging a damaged archive: real archives with pages overwritten on purpose, copied row by row
// into a fresh archive.
#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Salvage.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

#include <functional>

using store::DbError;
using testsupport::Page;
using testsupport::pagesOf;
using testsupport::readFile;
using testsupport::scalar;
using testsupport::writeFile;

namespace {

constexpr int kPageSize = 4096;
constexpr int kBooks = 3000;
constexpr int kAuthors = 400;
constexpr int kAuthorsDeleted = 5; // the last ones: their keys must never come back
constexpr int kPublishers = 120;
constexpr int kNoteColumn = 17; // biblio.note

using Rows = QMap<qint64, QVariantList>; // key → the row

struct Contents {
    QMap<QString, Rows> tables; // biblio, autore, editori
    QSet<QPair<qint64, qint64>> links;
};

Contents contentsOf(const QString& path)
{
    Contents c;
    auto archive = store::Archive::open(path, store::Archive::Presence::None);
    for (const QString table : {"biblio", "autore", "editori"}) {
        store::Statement st(archive->handle(), QStringLiteral("SELECT * FROM %1").arg(table));
        while (st.step()) {
            QVariantList row;
            for (int i = 0; i < st.columnCount(); ++i) {
                row << st.value(i);
            }
            c.tables[table].insert(row.first().toLongLong(), row);
        }
    }
    store::Statement st(archive->handle(), QStringLiteral("SELECT ID_biblio, ID_autore FROM autbiblio"));
    while (st.step()) {
        c.links.insert({st.int64(0), st.int64(1)});
    }
    return c;
}

QByteArray garbage(int size, quint32 variant)
{
    QRandomGenerator generator(variant);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& b : bytes) {
        b = char(generator.bounded(256));
    }
    return bytes;
}

qint64 offsetOf(int page, int offset = 0)
{
    return qint64(page - 1) * kPageSize + offset;
}

void patch(const QString& file, qint64 offset, const QByteArray& bytes)
{
    QByteArray content = readFile(file);
    content.replace(offset, bytes.size(), bytes);
    QVERIFY(writeFile(file, content));
}

QByteArray be32(quint32 v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

int be16At(const QByteArray& file, qint64 offset)
{
    return (uchar(file.at(offset)) << 8) | uchar(file.at(offset + 1));
}

qint64 varintAt(const QByteArray& file, qint64& pos)
{
    qint64 value = 0;
    for (int i = 0; i < 9; ++i) {
        const uchar byte = uchar(file.at(pos++));
        if (i == 8) {
            return (value << 8) | byte;
        }
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) {
            break;
        }
    }
    return value;
}

// A cell of a table leaf page, by its offsets in the file: its key, and the body of its record
// as far as it lies on the page.
struct RawCell {
    qint64 key = 0;
    qint64 keyAt = 0;
    int keyLength = 0;
    qint64 bodyAt = 0;
    qint64 bodyEnd = 0;
};

QList<RawCell> cellsOn(const QByteArray& file, int page)
{
    QList<RawCell> cells;
    const int count = be16At(file, offsetOf(page, 3));
    for (int i = 0; i < count; ++i) {
        qint64 pos = offsetOf(page, be16At(file, offsetOf(page, 8 + 2 * i)));
        RawCell cell;
        const qint64 payload = varintAt(file, pos);
        cell.keyAt = pos;
        cell.key = varintAt(file, pos);
        cell.keyLength = int(pos - cell.keyAt);
        const qint64 recordAt = pos;
        cell.bodyAt = recordAt + varintAt(file, pos);
        // The part of the payload kept on the page, as the engine splits a long one.
        qint64 local = payload;
        if (payload > kPageSize - 35) {
            const qint64 minLocal = (kPageSize - 12) * 32 / 255 - 23;
            const qint64 surplus = minLocal + (payload - minLocal) % (kPageSize - 4);
            local = surplus <= kPageSize - 35 ? surplus : minLocal;
        }
        cell.bodyEnd = recordAt + local;
        cells << cell;
    }
    return cells;
}

QSet<qint64> keysOn(const QList<RawCell>& cells)
{
    QSet<qint64> keys;
    for (const RawCell& c : cells) {
        keys << c.key;
    }
    return keys;
}

// Links whose book and author are both among the rows.
QSet<QPair<qint64, qint64>> linksBetween(const Contents& c, const QSet<QPair<qint64, qint64>>& links)
{
    QSet<QPair<qint64, qint64>> kept;
    for (const auto& link : links) {
        if (c.tables["biblio"].contains(link.first) && c.tables["autore"].contains(link.second)) {
            kept << link;
        }
    }
    return kept;
}

// Overflow pages of books: those inside a chain (they link on) and those ending one.
void overflowPages(const QString& archive, QList<int>& inside, QList<int>& last)
{
    const QByteArray file = readFile(archive);
    for (const Page& page : pagesOf(archive, "biblio", "overflow")) {
        (file.mid(offsetOf(page.number), 4) != be32(0) ? inside : last) << page.number;
    }
}

// Rows that differ between what was written and what was saved; `excused` may accept a changed row.
QStringList differences(const Rows& expected, const Rows& saved,
                        const std::function<bool(const QVariantList&, const QVariantList&)>& excused = {})
{
    QStringList found;
    for (auto it = saved.cbegin(); it != saved.cend(); ++it) {
        if (!expected.contains(it.key())) {
            found << QStringLiteral("extra %1").arg(it.key());
        } else if (expected.value(it.key()) != it.value() &&
                   !(excused && excused(expected.value(it.key()), it.value()))) {
            found << QStringLiteral("differs %1").arg(it.key());
        }
    }
    return found;
}

// Everything that differs, missing rows included.
QStringList allDifferences(const Contents& expected, const Contents& saved)
{
    QStringList found;
    for (auto it = expected.tables.cbegin(); it != expected.tables.cend(); ++it) {
        const Rows rows = saved.tables.value(it.key());
        found << differences(it.value(), rows);
        if (rows.size() != it.value().size()) {
            found << QStringLiteral("%1: %2 of %3").arg(it.key()).arg(rows.size()).arg(it.value().size());
        }
    }
    if (saved.links != expected.links) {
        found << QStringLiteral("links: %1 of %2").arg(saved.links.size()).arg(expected.links.size());
    }
    return found;
}

QList<qint64> missing(const Rows& expected, const Rows& saved)
{
    QList<qint64> keys;
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!saved.contains(it.key())) {
            keys << it.key();
        }
    }
    return keys;
}

// A book whose long note was lost with its overflow chain: everything before the note intact.
bool lostOnlyItsNote(const QVariantList& expected, const QVariantList& saved)
{
    return saved.size() == expected.size() && saved.at(kNoteColumn).isNull() &&
           saved.mid(0, kNoteColumn) == expected.mid(0, kNoteColumn);
}

// What a salvage reports of one table's loss, as "rows" or "at least rows".
QString lossOf(const store::salvage::Outcome& outcome, const char* table)
{
    const store::salvage::Loss loss = outcome.leftOut.value(QString::fromLatin1(table), {-1, false});
    return (loss.exact ? QString() : QStringLiteral("almeno ")) + QString::number(loss.rows);
}

struct Salvaged {
    store::salvage::Outcome outcome;
    Contents saved;
    QString fresh;
};

} // namespace

class TestSalvage : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QString m_base; // the sound archive every case damages a copy of
    Contents m_expected;
    int m_cases = 0;

    QString damagedCopy(const QString& name, const QList<int>& destroyedPages = {});
    Salvaged salvageChecked(const QString& damaged, int expectedError = 0);

  private slots:
    void initTestCase();
    void soundArchiveIsCopiedWhole();
    void destroyedLeafPageLosesOnlyItsRows();
    void destroyedInteriorPage();
    void destroyedFirstPage();
    void lossesAreCountedAsFarAsTheFileTells();
    void brokenOverflowChainsKeepTheirBooks();
    void hostileBytesEndOnlyTheirCellOrPage();
    void deletedRowsStayDeleted();
    void garbledCellsAreNeverSaved_data();
    void garbledCellsAreNeverSaved();
    void aRecordUnderAKeyNoBookHasIsLeftOut();
    void linksToLostAuthorsAreDropped();
    void lostKeyCountersGoOnPastEveryKeySeen();
    void nothingOfAnArchive_data();
    void nothingOfAnArchive();
    void refusals();
};

void TestSalvage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_base = m_dir.filePath(QStringLiteral("base.mdb"));
    store::Archive::create(m_base);
    auto archive = store::Archive::open(m_base, store::Archive::Presence::None);
    archive->exec(QStringLiteral("BEGIN"));
    store::Statement book(
        archive->handle(),
        QStringLiteral("INSERT INTO biblio (id, titolo, posizione, genere, id_edizione, anno, costo_L, "
                       "costo_E, note, num_pag) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)"));
    store::Statement link(archive->handle(),
                          QStringLiteral("INSERT OR IGNORE INTO autbiblio (ID_biblio, ID_autore) VALUES (?1, ?2)"));
    const QStringList genres{"Romanzo", "Saggio", "Poesia", "Storia"};
    for (int i = 0; i < kBooks; ++i) {
        const qint64 id = 1 + 3 * i + (i % 5 == 0 ? 1 : 0); // keys with gaps, as deletions leave them
        QVariant note;
        if (i % 40 == 7) { // long enough to overflow into two to four pages
            note = QStringLiteral("Nota lunga del libro %1: ").arg(i) +
                   QStringLiteral("àèìòù abcdefghij ").repeated(300 + i % 400);
        } else if (i % 3 != 0) {
            note = QStringLiteral("Nota %1").arg(i);
        }
        const QVariantList values{id,
                                  QStringLiteral("Città di carta n. %1").arg(i),
                                  QStringLiteral("Scaffale %1").arg(i % 40),
                                  genres.at(i % genres.size()),
                                  1 + i % kPublishers,
                                  QString::number(1900 + i % 120),
                                  15000 + i,
                                  7.75 + i % 10,
                                  note,
                                  100 + i % 500};
        for (int c = 0; c < values.size(); ++c) {
            book.bind(c + 1, values.at(c));
        }
        book.step();
        book.reset();
        for (const qint64 author : {qint64(1 + i % kAuthors), qint64(1 + (7 * i) % kAuthors)}) {
            link.bindInt(1, id);
            link.bindInt(2, author);
            link.step();
            link.reset();
        }
    }
    archive->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO autore (nome, luogo_nascita) SELECT 'Autore ' || i || ' Àlfa', 'Roma' "
                                 "FROM n")
                      .arg(kAuthors));
    archive->exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                                 "INSERT INTO editori (nome, residenza, telefono) SELECT 'Editore ' || i, 'Milano', "
                                 "'02 ' || i FROM n")
                      .arg(kPublishers));
    archive->exec(QStringLiteral("DELETE FROM autore WHERE ID_autore > %1").arg(kAuthors - kAuthorsDeleted));
    archive->exec(QStringLiteral("COMMIT"));
    archive.reset();

    m_expected = contentsOf(m_base);
    QCOMPARE(m_expected.tables["biblio"].size(), kBooks);
    QCOMPARE(m_expected.tables["autore"].size(), kAuthors - kAuthorsDeleted);
    QVERIFY(m_expected.links.size() > kBooks);
    // The cases below need a two-level tree of books, and notes spread over several pages.
    QCOMPARE(pagesOf(m_base, "biblio", "internal").size(), 1);
    QVERIFY(pagesOf(m_base, "biblio", "leaf").size() > 20);
    QVERIFY(pagesOf(m_base, "biblio", "overflow").size() > 150);
}

QString TestSalvage::damagedCopy(const QString& name, const QList<int>& destroyedPages)
{
    // Alone in its folder, so anything created beside it would show.
    const QString folder = m_dir.filePath(QStringLiteral("%1-%2").arg(++m_cases).arg(name));
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/archivio.mdb");
    QFile::copy(m_base, path);
    for (const int page : destroyedPages) {
        patch(path, offsetOf(page), garbage(kPageSize, quint32(page)));
    }
    return path;
}

// Salvages `damaged` into a fresh archive and checks what every salvage keeps: the damaged file
// byte for byte, its folder as it was, a fresh archive that is sound, opens as an archive and
// holds the rows the outcome counts.
Salvaged TestSalvage::salvageChecked(const QString& damaged, int expectedError)
{
    Salvaged s;
    s.fresh = m_dir.filePath(QStringLiteral("%1-salvato.mdb").arg(m_cases));
    store::Archive::create(s.fresh);
    const QByteArray before = readFile(damaged);
    const QDir folder = QFileInfo(damaged).dir();
    const QStringList filesBefore = folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    int error = 0;
    try {
        s.outcome = store::salvage::salvage(damaged, s.fresh);
    } catch (const DbError& e) {
        error = e.number();
    }
    s.saved = contentsOf(s.fresh);
    [&] {
        QCOMPARE(error, expectedError);
        QVERIFY(readFile(damaged) == before);
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), filesBefore);
        auto archive = store::Archive::open(s.fresh);
        store::Statement check(archive->handle(), QStringLiteral("PRAGMA integrity_check"));
        QVERIFY(check.step());
        QCOMPARE(check.value(0).toString(), QStringLiteral("ok"));
        qint64 rows = s.saved.links.size();
        for (const Rows& table : s.saved.tables) {
            rows += table.size();
        }
        QCOMPARE(rows, s.outcome.rowsSaved);
        QCOMPARE(s.outcome.rowsPerTable.value("autbiblio"), qint64(s.saved.links.size()));
    }();
    return s;
}

void TestSalvage::soundArchiveIsCopiedWhole()
{
    // A folder name the engine's file address must escape: read wrongly, the engine would find
    // nothing and every row would come from the pages.
    const Salvaged s = salvageChecked(damagedCopy("sano à #1 ?%20"));
    QCOMPARE(allDifferences(m_expected, s.saved), QStringList());
    QCOMPARE(s.outcome.rowsFromPages, qint64(0));
    QCOMPARE(s.outcome.rowsIncomplete, qint64(0));
    for (const char* table : {"biblio", "autore", "editori", "autbiblio"}) {
        QCOMPARE(lossOf(s.outcome, table), QStringLiteral("0"));
    }
    // The deleted authors' keys stay used: a new author does not inherit their links.
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='autore'").toLongLong(), qint64(kAuthors));
}

void TestSalvage::destroyedLeafPageLosesOnlyItsRows()
{
    const QList<Page> leaves = pagesOf(m_base, "biblio", "leaf");
    const Page victim = leaves.at(leaves.size() / 2);
    const Salvaged s = salvageChecked(damagedCopy("foglia", {victim.number}));
    const Rows& expected = m_expected.tables["biblio"];
    QCOMPARE(differences(expected, s.saved.tables["biblio"]), QStringList());
    const QList<qint64> lost = missing(expected, s.saved.tables["biblio"]);
    QCOMPARE(lost.size(), victim.cells);
    // A page holds a run of consecutive keys: nothing outside that run is lost.
    const QList<qint64> keys = expected.keys();
    QCOMPARE(keys.mid(keys.indexOf(lost.first()), lost.size()), lost);
    // The links of the lost books went with them; no other link was lost.
    const QSet<QPair<qint64, qint64>> kept = linksBetween(s.saved, m_expected.links);
    QVERIFY(s.saved.links == kept);
    QCOMPARE(s.outcome.linksDropped, qint64(m_expected.links.size() - kept.size()));
    QVERIFY(s.outcome.linksDropped > 0);
    QCOMPARE(s.outcome.rowsUnreadable, qint64(0));
    // The engine read on past the damaged page by itself: the page pass had nothing to add.
    QCOMPARE(s.outcome.rowsFromPages, qint64(0));
    // The indexes of the books, whole, count every book lost, and their links.
    QCOMPARE(lossOf(s.outcome, "biblio"), QString::number(victim.cells));
    QCOMPARE(lossOf(s.outcome, "autbiblio"), QString::number(m_expected.links.size() - s.saved.links.size()));
    QCOMPARE(lossOf(s.outcome, "autore"), QStringLiteral("0"));
    QCOMPARE(lossOf(s.outcome, "editori"), QStringLiteral("0"));
}

void TestSalvage::lossesAreCountedAsFarAsTheFileTells()
{
    const QList<Page> leaves = pagesOf(m_base, "biblio", "leaf");
    const Page victim = leaves.at(leaves.size() / 3);
    QList<int> indexPages;
    for (const char* index : {"biblio_titolo", "biblio_genere", "biblio_anno", "biblio_id_edizione"}) {
        const QList<Page> pages = pagesOf(m_base, index, "leaf");
        QVERIFY(pages.size() > 2);
        indexPages << pages.at(pages.size() / 2).number;
    }
    // Every index of the books damaged, their tree whole: the tree alone counts them.
    const Salvaged whole = salvageChecked(damagedCopy("indici", indexPages));
    QCOMPARE(allDifferences(m_expected, whole.saved), QStringList());
    QCOMPARE(lossOf(whole.outcome, "biblio"), QStringLiteral("0"));

    // A leaf of books lost as well: nothing counts the books any more. The loss is at least the
    // books whose keys intact index pages still show, and never more than the books lost.
    const Salvaged s = salvageChecked(damagedCopy("indici-e-foglia", indexPages + QList<int>{victim.number}));
    const qint64 lost = missing(m_expected.tables["biblio"], s.saved.tables["biblio"]).size();
    QCOMPARE(lost, qint64(victim.cells));
    const store::salvage::Loss books = s.outcome.leftOut.value("biblio");
    QVERIFY(!books.exact);
    QVERIFY2(books.rows > 0 && books.rows <= lost, qPrintable(QString::number(books.rows)));
    // The links keep a whole index of their own: their loss is known exactly.
    QCOMPARE(lossOf(s.outcome, "autbiblio"), QString::number(m_expected.links.size() - s.saved.links.size()));
}

void TestSalvage::destroyedInteriorPage()
{
    const Salvaged s = salvageChecked(damagedCopy("interna", {pagesOf(m_base, "biblio", "internal").first().number}));
    QCOMPARE(allDifferences(m_expected, s.saved), QStringList());
    QCOMPARE(s.outcome.rowsFromPages, qint64(kBooks));
    QCOMPARE(s.outcome.rowsIncomplete, qint64(0));
    // The tree of the books is broken, their indexes are whole: nothing was lost, and that is known.
    QCOMPARE(lossOf(s.outcome, "biblio"), QStringLiteral("0"));
}

void TestSalvage::destroyedFirstPage()
{
    const Salvaged s = salvageChecked(damagedCopy("prima", {1}));
    QCOMPARE(allDifferences(m_expected, s.saved), QStringList());
    QCOMPARE(s.outcome.rowsFromPages, s.outcome.rowsSaved);
    // Without the schema, no index and no tree can be told apart: how much was lost is not known.
    for (const char* table : {"biblio", "autore", "editori", "autbiblio"}) {
        QCOMPARE(lossOf(s.outcome, table), QStringLiteral("almeno 0"));
    }
    // The counters were found by their records' shape, not taken for links.
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='autore'").toLongLong(), qint64(kAuthors));
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='editori'").toLongLong(), qint64(kPublishers));
}

void TestSalvage::brokenOverflowChainsKeepTheirBooks()
{
    // A page inside one chain (the engine notices that break) and the last page of another (the
    // engine takes its garbage for the end of the note; only the page pass sees the break).
    QList<int> inside;
    QList<int> last;
    overflowPages(m_base, inside, last);
    QVERIFY(!inside.isEmpty() && !last.isEmpty());
    const Salvaged s = salvageChecked(damagedCopy("catena", {inside.first(), last.last()}));
    const Rows& books = s.saved.tables["biblio"];
    QCOMPARE(books.size(), kBooks);
    QCOMPARE(differences(m_expected.tables["biblio"], books).size(), 2);
    QCOMPARE(differences(m_expected.tables["biblio"], books, lostOnlyItsNote), QStringList());
    QCOMPARE(s.outcome.rowsIncomplete, qint64(2));
    // The engine's reading of the second note ends in garbage that is not valid text: that book
    // comes from the pages too, with the note it could not read left empty.
    QCOMPARE(s.outcome.rowsFromPages, qint64(2));
    QCOMPARE(s.outcome.rowsUnreadable, qint64(0));
}

void TestSalvage::hostileBytesEndOnlyTheirCellOrPage()
{
    const QList<Page> leaves = pagesOf(m_base, "biblio", "leaf");
    const int root = pagesOf(m_base, "biblio", "internal").first().number;
    QList<int> inside;
    QList<int> last;
    overflowPages(m_base, inside, last);
    const QByteArray base = readFile(m_base);
    const QString damaged = damagedCopy("ostile");
    // A cell pointer past the page; a payload size that is all continuation bytes.
    patch(damaged, offsetOf(leaves.at(3).number, 8), QByteArray("\xff\xf0", 2));
    patch(damaged, offsetOf(leaves.at(9).number, be16At(base, offsetOf(leaves.at(9).number, 8))),
          QByteArray(9, '\xff'));
    // A chain that loops on itself and one that runs off the file.
    patch(damaged, offsetOf(inside.first()), be32(quint32(inside.first())));
    patch(damaged, offsetOf(inside.last()), be32(0x7fffffff));
    // The root points its sixth child back at itself.
    patch(damaged, offsetOf(root, be16At(base, offsetOf(root, 12 + 2 * 5))), be32(quint32(root)));
    QVERIFY(!QTest::currentTestFailed());

    const Salvaged s = salvageChecked(damaged);
    const Rows& expected = m_expected.tables["biblio"];
    QCOMPARE(differences(expected, s.saved.tables["biblio"], lostOnlyItsNote), QStringList());
    QCOMPARE(missing(expected, s.saved.tables["biblio"]).size(), 2); // one cell on each damaged leaf
    QCOMPARE(s.outcome.rowsIncomplete, qint64(2));
    // The engine read around the two bad cells itself; the child cut off from the tree and the
    // book whose chain breaks where the engine notices come from the pages.
    QCOMPARE(s.outcome.rowsFromPages, qint64(leaves.at(5).cells + 1));
}

void TestSalvage::deletedRowsStayDeleted()
{
    // Freed pages that keep their old rows, as on an engine built without zeroing them.
    const QString damaged = damagedCopy("cancellati");
    store::Archive::open(damaged, store::Archive::Presence::None)
        ->exec(QStringLiteral("PRAGMA secure_delete=OFF; DELETE FROM biblio WHERE id BETWEEN 2000 AND 6000"));
    QVERIFY(scalar(damaged, "PRAGMA freelist_count").toLongLong() > 10);
    const Contents expected = contentsOf(damaged);
    QCOMPARE(allDifferences(expected, salvageChecked(damaged).saved), QStringList());
}

void TestSalvage::garbledCellsAreNeverSaved_data()
{
    // Pages that kept their header and cell pointers: either the whole cell area overwritten, or
    // every record keeping its header (so it reads as a book) over a body of random bytes.
    QTest::addColumn<bool>("keepRecordHeaders");
    QTest::newRow("area delle celle") << false;
    QTest::newRow("intestazioni valide") << true;
}

void TestSalvage::garbledCellsAreNeverSaved()
{
    QFETCH(bool, keepRecordHeaders);
    const QList<Page> leaves = pagesOf(m_base, "biblio", "leaf");
    const QByteArray base = readFile(m_base);
    const QString damaged = damagedCopy(keepRecordHeaders ? "intestazioni" : "celle");
    QSet<qint64> garbled;
    int records = 0;
    for (const int page : {leaves.at(4).number, leaves.at(leaves.size() / 2).number}) {
        const QList<RawCell> cells = cellsOn(base, page);
        garbled += keysOn(cells);
        records += int(cells.size());
        if (keepRecordHeaders) {
            for (const RawCell& c : cells) {
                patch(damaged, c.bodyAt, garbage(int(c.bodyEnd - c.bodyAt), quint32(c.key)));
            }
        } else {
            const int area = be16At(base, offsetOf(page, 5));
            patch(damaged, offsetOf(page, area), garbage(kPageSize - area, quint32(page)));
        }
    }
    QVERIFY(!QTest::currentTestFailed());

    const Salvaged s = salvageChecked(damaged);
    const Rows& expected = m_expected.tables["biblio"];
    // Not one saved book differs from the book written; the books lost are those of the pages.
    QCOMPARE(differences(expected, s.saved.tables["biblio"]), QStringList());
    const QList<qint64> lost = missing(expected, s.saved.tables["biblio"]);
    QCOMPARE(QSet<qint64>(lost.begin(), lost.end()), garbled);
    if (keepRecordHeaders) {
        // Each of them read as a record, and each was left out and counted.
        QCOMPARE(s.outcome.rowsUnreadable, qint64(records));
    }
    QCOMPARE(lossOf(s.outcome, "biblio"), QString::number(records));
    // No link points at a book that is not there.
    QVERIFY(s.saved.links == linksBetween(s.saved, m_expected.links));
    QCOMPARE(s.outcome.linksDropped, qint64(m_expected.links.size() - s.saved.links.size()));
    QCOMPARE(s.saved.tables["autore"], m_expected.tables["autore"]);
}

void TestSalvage::aRecordUnderAKeyNoBookHasIsLeftOut()
{
    // A cell whose key bytes changed into a key that no book has, still in order on its page: its
    // record is a sound book's, but not under that key.
    const QList<Page> leaves = pagesOf(m_base, "biblio", "leaf");
    const QByteArray base = readFile(m_base);
    const Rows& expected = m_expected.tables["biblio"];
    const QList<RawCell> cells = cellsOn(base, leaves.at(leaves.size() / 3).number);
    int victim = -1;
    for (int i = 0; i + 1 < cells.size() && victim < 0; ++i) {
        const qint64 key = cells.at(i).key;
        if (cells.at(i).keyLength == 2 && key + 1 < 16384 && key + 1 < cells.at(i + 1).key &&
            !expected.contains(key + 1)) {
            victim = i;
        }
    }
    QVERIFY(victim >= 0);
    const RawCell& c = cells.at(victim);
    const qint64 changed = c.key + 1;
    const QString damaged = damagedCopy("chiave");
    const char bytes[2] = {char(0x80 | (changed >> 7)), char(changed & 0x7f)};
    patch(damaged, c.keyAt, QByteArray(bytes, 2));

    const Salvaged s = salvageChecked(damaged);
    QCOMPARE(differences(expected, s.saved.tables["biblio"]), QStringList());
    QCOMPARE(missing(expected, s.saved.tables["biblio"]), QList<qint64>{c.key});
    QCOMPARE(s.outcome.rowsUnreadable, qint64(1));
}

void TestSalvage::linksToLostAuthorsAreDropped()
{
    const QList<Page> leaves = pagesOf(m_base, "autore", "leaf");
    QVERIFY(leaves.size() > 2);
    const Salvaged s = salvageChecked(damagedCopy("autori", {leaves.at(1).number}));
    const Rows& authors = s.saved.tables["autore"];
    QCOMPARE(authors.size(), m_expected.tables["autore"].size() - leaves.at(1).cells);
    QCOMPARE(differences(m_expected.tables["autore"], authors), QStringList());
    // Every book is there; each link to a lost author is gone, and counted.
    QCOMPARE(s.saved.tables["biblio"], m_expected.tables["biblio"]);
    const QSet<QPair<qint64, qint64>> kept = linksBetween(s.saved, m_expected.links);
    QVERIFY(kept.size() < m_expected.links.size());
    QVERIFY(s.saved.links == kept);
    QCOMPARE(s.outcome.linksDropped, qint64(m_expected.links.size() - kept.size()));
    QCOMPARE(scalar(s.fresh, "SELECT count(*) FROM autbiblio WHERE ID_autore NOT IN (SELECT ID_autore FROM autore) "
                             "OR ID_biblio NOT IN (SELECT id FROM biblio)")
                 .toLongLong(),
             qint64(0));
    QCOMPARE(lossOf(s.outcome, "autore"), QString::number(leaves.at(1).cells));
    QCOMPARE(lossOf(s.outcome, "autbiblio"), QString::number(s.outcome.linksDropped));
    // The lost authors' keys are not handed out again.
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='autore'").toLongLong(), qint64(kAuthors));
}

void TestSalvage::lostKeyCountersGoOnPastEveryKeySeen()
{
    // A link to an author deleted long ago, and a book of a publisher that is gone: their keys
    // were handed out once, and are the highest ones anywhere.
    const QString damaged = damagedCopy("contatori");
    store::Archive::open(damaged, store::Archive::Presence::None)
        ->exec(QStringLiteral("INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (4, 450);"
                              "UPDATE biblio SET id_edizione = 150 WHERE id = 7;"));
    Contents expected = contentsOf(damaged);
    const QList<Page> counters = pagesOf(damaged, "sqlite_sequence", "leaf");
    QCOMPARE(counters.size(), 1);
    patch(damaged, offsetOf(counters.first().number), garbage(kPageSize, 99));

    const Salvaged s = salvageChecked(damaged);
    expected.links.remove({4, 450});
    QCOMPARE(allDifferences(expected, s.saved), QStringList());
    QCOMPARE(s.outcome.linksDropped, qint64(1));
    // The highest key seen (in a row, a link or an index) and a margin of 1,000.
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='autore'").toLongLong(), qint64(450 + 1000));
    QCOMPARE(scalar(s.fresh, "SELECT seq FROM sqlite_sequence WHERE name='editori'").toLongLong(), qint64(150 + 1000));

    // Without those two, the highest surviving key goes on with the same margin.
    const QString plain = damagedCopy("contatori-semplici");
    patch(plain, offsetOf(pagesOf(plain, "sqlite_sequence", "leaf").first().number), garbage(kPageSize, 98));
    const Salvaged p = salvageChecked(plain);
    QCOMPARE(scalar(p.fresh, "SELECT seq FROM sqlite_sequence WHERE name='autore'").toLongLong(),
             qint64(kAuthors - kAuthorsDeleted + 1000));
    QCOMPARE(scalar(p.fresh, "SELECT seq FROM sqlite_sequence WHERE name='editori'").toLongLong(),
             qint64(kPublishers + 1000));
}

void TestSalvage::nothingOfAnArchive_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("byte a caso") << garbage(16 * kPageSize, 7);
    QTest::newRow("testo") << QByteArray("Elenco dei libri\r\nCittà di carta; Scaffale 1\r\n").repeated(400);
    QTest::newRow("vuoto") << QByteArray();
    // A sound database of another program: its table of two whole numbers looks like the links.
    QTemporaryDir other;
    const QString otherPath = other.filePath(QStringLiteral("altro.db"));
    sqlite3* db = nullptr;
    sqlite3_open(otherPath.toUtf8().constData(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE misure (a INTEGER, b INTEGER); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 "
                 "FROM n WHERE i < 2000) INSERT INTO misure SELECT i, i * 2 FROM n;",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QVERIFY(QFileInfo(otherPath).size() > 4 * kPageSize);
    QTest::newRow("altro database") << readFile(otherPath);
}

void TestSalvage::nothingOfAnArchive()
{
    QFETCH(QByteArray, content);
    const QString damaged = damagedCopy("niente");
    QVERIFY(writeFile(damaged, content));
    const Salvaged s = salvageChecked(damaged, store::ErrFileNotArchive);
    QCOMPARE(s.outcome.rowsSaved, qint64(0)); // and the fresh archive holds none
}

void TestSalvage::refusals()
{
    const QString damaged = damagedCopy("rifiuti");
    const QByteArray before = readFile(damaged);
    auto numberOf = [](const QString& from, const QString& to) {
        try {
            store::salvage::salvage(from, to);
        } catch (const DbError& e) {
            return e.number();
        }
        return 0;
    };
    // The fresh archive must exist; the damaged file is never the one written.
    QCOMPARE(numberOf(damaged, m_dir.filePath(QStringLiteral("manca/nuovo.mdb"))), 3024);
    QCOMPARE(numberOf(damaged, damaged), int(store::ErrInvalidProcedure));
    QCOMPARE(numberOf(damaged + QStringLiteral("x"), damaged), 3024);
    QVERIFY(readFile(damaged) == before);
}

CARTEO_TEST_GUILESS_MAIN(TestSalvage)
#include "tst_store_salvage.moc"
