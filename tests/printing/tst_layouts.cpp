// The page layouts on the recording surface: rules, columns, cuts, the card's photo and notes, page
// advance. Positions are in twips; "Courier New" is 0.6 em wide, so column n of a 10-point line
// begins at (n - 1) x 120.
#include "printing/Layouts.h"
#include "printing/PrintText.h"
#include "printing/RecordingSurface.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QTest>

using printing::RecordingSurface;

namespace {

printing::RowValue rowOf(const QVariantMap& values)
{
    return [values](const QString& column) { return values.value(column.toLower()); };
}

printing::BookCard card(const QVariantMap& values, QStringList authors = {}, std::optional<QString> publisher = {})
{
    printing::BookCard c;
    c.book = rowOf(values);
    c.authors = std::move(authors);
    c.publisher = std::move(publisher);
    return c;
}

// The texts of the surface, in order of printing.
QStringList textsOf(const RecordingSurface& s)
{
    QStringList all;
    for (const auto& t : s.texts) {
        all << t.text;
    }
    return all;
}

const RecordingSurface::Text* find(const RecordingSurface& s, const QString& prefix)
{
    for (const auto& t : s.texts) {
        if (t.text.startsWith(prefix)) {
            return &t;
        }
    }
    return nullptr;
}

// Column n of the surface's current font.
qreal column(const RecordingSurface& s, int n)
{
    return (n - 1) * s.averageCharWidth();
}

void startLikeARun(RecordingSurface& s)
{
    s.setFontName(QStringLiteral("Arial"));
    s.setFontSize(8);
    s.setFontBold(false);
}

} // namespace

class TestLayouts : public QObject {
    Q_OBJECT
  private slots:
    void courierColumnsFallOnWholeCharacters();
    void rulesAreUnderscoresAtColumnFiveInTheFontOfTheMoment();
    void aColumnAlreadyPassedContinuesOnTheNextLine();
    void cardTitleOf45StaysOnItsLineAnd46MovesThePosition();
    void cardCutsTitleAndGenreTo50();
    void cardPrintsEveryAuthorAndNoAuthorLineWithoutThem();
    void cardWithoutPublisherPrintsTheLabelAlone();
    void cardPhotoIsHalfItsShownSizeAndTheTextFollowsIt();
    void noteLinesFollowTheWordsAndBreaks();
    void aWordLongerThanALineIsBrokenAndNothingIsLost();
    void numbersPrintWithABlankEachSide();
    void catalogueRowsPutFurtherAuthorsUnderTheAuthorColumn();
    void listColumnsCutWhereTheListSays();
    void linesPastTheBottomGoToANewPageAndPicturesDoNot();
    void eachDocumentKeepsItsOrientation();
};

void TestLayouts::courierColumnsFallOnWholeCharacters()
{
    RecordingSurface s;
    s.setFontName(QStringLiteral("Courier New"));
    for (const auto& [points, width] : {std::pair{8, 96.0}, {10, 120.0}, {12, 144.0}}) {
        s.setFontSize(points);
        QCOMPARE(s.averageCharWidth(), width);
        QCOMPARE(s.textWidth(QStringLiteral("ABCDEFGHIJ")), 10 * width);
    }
    s.setFontSize(10);
    s.printLine({printing::col(30), printing::txt(QStringLiteral("X"))});
    QCOMPARE(s.texts.at(0).at.x(), 3480.0);
}

void TestLayouts::rulesAreUnderscoresAtColumnFiveInTheFontOfTheMoment()
{
    RecordingSurface s;
    startLikeARun(s);
    printing::printBookCard(s, card({{"titolo", "A"}}));
    const auto& rule = s.texts.at(0);
    QCOMPARE(rule.text, QString(110, QLatin1Char('_')));
    QCOMPARE(rule.font, QStringLiteral("Arial"));
    QCOMPARE(rule.size, 8.0);
    RecordingSurface arial;
    startLikeARun(arial);
    QCOMPARE(rule.at, QPointF(4 * arial.averageCharWidth(), 0));
    // The card leaves "Courier New" 10 regular: the next card's rule is printed in it.
    const qreal next = s.currentY();
    printing::printBookCard(s, card({{"titolo", "B"}}));
    const auto second = s.lineAt(1, 1, next);
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.at(0).text, QString(110, QLatin1Char('_')));
    QCOMPARE(second.at(0).font, QStringLiteral("Courier New"));
    QCOMPARE(second.at(0).size, 10.0);
    QCOMPARE(second.at(0).at.x(), 4 * 120.0);
}

void TestLayouts::aColumnAlreadyPassedContinuesOnTheNextLine()
{
    RecordingSurface s;
    s.setFontName(QStringLiteral("Courier New"));
    s.setFontSize(10);
    const qreal line = s.lineHeight();
    s.printLine({printing::col(1), printing::txt(QString(12, QLatin1Char('A'))), printing::col(10),
                 printing::txt(QStringLiteral("B")), printing::col(13), printing::txt(QStringLiteral("C"))});
    QCOMPARE(s.texts.at(1).at, QPointF(9 * 120, line));
    // "B" ends at column 11, before column 13: same line.
    QCOMPARE(s.texts.at(2).at, QPointF(12 * 120, line));
    QCOMPARE(s.currentY(), 2 * line);
}

void TestLayouts::cardTitleOf45StaysOnItsLineAnd46MovesThePosition()
{
    for (const int length : {45, 46}) {
        RecordingSurface s;
        startLikeARun(s);
        printing::printBookCard(s, card({{"titolo", QString(length, QLatin1Char('T'))}, {"posizione", "B3"}}));
        const auto* title = find(s, QStringLiteral("Scheda di "));
        const auto* position = find(s, QStringLiteral("POSIZ.: "));
        QVERIFY(title && position);
        QCOMPARE(position->text, QStringLiteral("POSIZ.: B3"));
        QCOMPARE(title->at.x(), 9 * 144.0);
        QCOMPARE(position->at.x(), 64 * 144.0);
        QCOMPARE(title->font, QStringLiteral("Courier New"));
        QCOMPARE(title->size, 12.0);
        QVERIFY(title->bold);
        if (length == 45) {
            QCOMPARE(position->at.y(), title->at.y());
        } else {
            QVERIFY(position->at.y() > title->at.y());
        }
    }
}

void TestLayouts::cardCutsTitleAndGenreTo50()
{
    RecordingSurface s;
    const QString title = QString(50, QLatin1Char('T')) + QStringLiteral("XYZ");
    const QString genre = QString(50, QLatin1Char('G')) + QStringLiteral("XYZ");
    printing::printBookCard(s, card({{"titolo", title}, {"genere", genre}, {"argomento", QString(70, 'A')}}));
    QCOMPARE(find(s, QStringLiteral("Scheda di "))->text, QStringLiteral("Scheda di ") + title.left(50));
    QVERIFY(textsOf(s).contains(genre.left(50)));
    // Other fields are printed whole; the page cuts them.
    QVERIFY(textsOf(s).contains(QString(70, 'A')));
}

void TestLayouts::cardPrintsEveryAuthorAndNoAuthorLineWithoutThem()
{
    RecordingSurface s;
    s.setFontName(QStringLiteral("Courier New"));
    printing::printBookCard(s, card({{"titolo", "A"}}, {QStringLiteral("UNO"), QStringLiteral("DUE"), QStringLiteral("TRE")}));
    const auto* label = find(s, QStringLiteral("AUTORE: "));
    QVERIFY(label);
    QCOMPARE(textsOf(s).count(QStringLiteral("AUTORE: ")), 1);
    const auto line = s.lineAt(1, 1, label->at.y());
    QCOMPARE(line.size(), 2);
    QCOMPARE(line.at(1).text, QStringLiteral("UNO"));
    QCOMPARE(line.at(1).at.x(), 29 * 120.0);
    for (int i = 1; i < 3; ++i) {
        const auto further = s.lineAt(1, 1, label->at.y() + i * s.lineHeight());
        QCOMPARE(further.size(), 1);
        QCOMPARE(further.at(0).text, i == 1 ? QStringLiteral("DUE") : QStringLiteral("TRE"));
        QCOMPARE(further.at(0).at.x(), 29 * 120.0);
    }
    // The codes follow the last author.
    QCOMPARE(find(s, QStringLiteral("COD.BIB.: "))->at.y(), label->at.y() + 3 * s.lineHeight());

    RecordingSurface none;
    printing::printBookCard(none, card({{"titolo", "A"}}));
    QVERIFY(!find(none, QStringLiteral("AUTORE")));
}

void TestLayouts::cardWithoutPublisherPrintsTheLabelAlone()
{
    RecordingSurface with;
    printing::printBookCard(with, card({{"titolo", "A"}}, {}, QStringLiteral("MONDADORI")));
    const auto* label = find(with, QStringLiteral("EDITORE: "));
    QCOMPARE(with.lineAt(1, 1, label->at.y()).at(1).text, QStringLiteral("MONDADORI"));

    RecordingSurface without;
    printing::printBookCard(without, card({{"titolo", "A"}}));
    label = find(without, QStringLiteral("EDITORE: "));
    QCOMPARE(without.lineAt(1, 1, label->at.y()).size(), 1);
    QVERIFY(without.pictures.isEmpty());
    // Every label is printed whatever its field holds.
    for (const char* caption : {"COD.BIB.: ", "NUM.PAG.: ", "GENERE: ", "ARGOMENTO: ", "LUOGO DI STAMPA: ",
                                "ANNO DI STAMPA: ", "EDIZIONE: ", "DATA ACQUISTO: ", "INSERITO IN: ", "PERIODICI: ",
                                "ANNATA/NUM.: ", "POSIZIONE ATTUALE: ", "STATO CONS.: ", "NOTE: "}) {
        QVERIFY2(find(without, QString::fromLatin1(caption)), caption);
    }
}

void TestLayouts::cardPhotoIsHalfItsShownSizeAndTheTextFollowsIt()
{
    RecordingSurface s;
    startLikeARun(s);
    s.setCurrentY(1234);
    printing::BookCard c = card({{"titolo", "A"}});
    c.photo = QImage(400, 300, QImage::Format_RGB32);
    c.photoShown = QSizeF(4000, 3000);
    printing::printBookCard(s, c);
    QCOMPARE(s.pictures.size(), 1);
    // The rule's line and an empty line in Arial 8 come first.
    const qreal y = 1234 + 2 * [] {
        RecordingSurface m;
        return m.lineHeight();
    }();
    QCOMPARE(s.pictures.at(0).twips, QRectF(400, y, 2000, 1500));
    // The empty line before the title begins 1600 twips below the photo's top: the title follows it.
    RecordingSurface courier;
    courier.setFontName(QStringLiteral("Courier New"));
    courier.setFontSize(12);
    QCOMPARE(find(s, QStringLiteral("Scheda di "))->at.y(), y + 1600 + courier.lineHeight());
}

void TestLayouts::noteLinesFollowTheWordsAndBreaks()
{
    QCOMPARE(printing::noteLines(QStringLiteral("NOTE: abc")), QStringList{QStringLiteral("NOTE: abc")});

    QString words;
    for (int i = 0; words.size() < 194; ++i) {
        words += QStringLiteral("w%1 ").arg(i % 7 == 0 ? QStringLiteral("long") : QString::number(i));
    }
    words = words.left(194).trimmed();
    const QStringList lines = printing::noteLines(QStringLiteral("NOTE: ") + words);
    QVERIFY(lines.size() >= 3);
    for (const QString& line : lines) {
        QVERIFY2(line.size() <= 80, qPrintable(line));
        QVERIFY2(!line.endsWith(QLatin1Char(' ')), qPrintable(line));
    }
    // Joined at the spaces they broke at, the lines give the whole text back: every word, whole.
    QCOMPARE(lines.join(QLatin1Char(' ')), QStringLiteral("NOTE: ") + words);
    // Each line holds as many words as fit: the next word would not have.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        QVERIFY(lines[i].size() + 1 + lines[i + 1].section(QLatin1Char(' '), 0, 0).size() > 80);
    }
    // Lines of exactly 80 characters, ending with the window or just before a space or a line
    // break right after it; a word of 81 characters.
    const QString full = QString(75, QLatin1Char('a')) + QStringLiteral(" bbbb");
    QCOMPARE(printing::noteLines(full + QStringLiteral("\r\nnext")), (QStringList{full, QStringLiteral("next")}));
    QCOMPARE(printing::noteLines(full + QStringLiteral(" next")), (QStringList{full, QStringLiteral("next")}));
    QCOMPARE(printing::noteLines(QString(80, 'x') + QStringLiteral("\r\nnext")),
             (QStringList{QString(80, 'x'), QStringLiteral("next")}));
    QCOMPARE(printing::noteLines(QString(81, 'w')), (QStringList{QString(80, 'w'), QStringLiteral("w")}));

    QCOMPARE(printing::noteLines(QStringLiteral("NOTE: uno\r\ndue tre")),
             (QStringList{QStringLiteral("NOTE: uno"), QStringLiteral("due tre")}));
    QCOMPARE(printing::noteLines(QStringLiteral("NOTE: uno\r\n\r\ndue")),
             (QStringList{QStringLiteral("NOTE: uno"), QString(), QStringLiteral("due")}));
    // Line breaks written by other programs.
    QCOMPARE(printing::noteLines(QStringLiteral("NOTE: uno\ndue\rtre")),
             (QStringList{QStringLiteral("NOTE: uno"), QStringLiteral("due"), QStringLiteral("tre")}));

    // On the card: at column 10, one line each, in "Courier New" 10.
    RecordingSurface s;
    printing::printBookCard(s, card({{"titolo", "A"}, {"note", "uno\r\n\r\ndue"}}));
    const auto* first = find(s, QStringLiteral("NOTE: uno"));
    QCOMPARE(first->at.x(), 9 * 120.0);
    QCOMPARE(first->size, 10.0);
    QCOMPARE(find(s, QStringLiteral("due"))->at.y(), first->at.y() + 2 * s.lineHeight());
}

void TestLayouts::aWordLongerThanALineIsBrokenAndNothingIsLost()
{
    const QString word = QString(100, QLatin1Char('x'));
    const QStringList lines = printing::noteLines(QStringLiteral("NOTE: ") + word + QStringLiteral(" fine"));
    // The line breaks at its last space as usual; the word alone is then broken at 80.
    QCOMPARE(lines, (QStringList{QStringLiteral("NOTE:"), word.left(80), word.mid(80) + QStringLiteral(" fine")}));
    const QString address = QStringLiteral("https://") + QString(150, QLatin1Char('a'));
    QCOMPARE(printing::noteLines(address).join(QString()), address);
}

void TestLayouts::numbersPrintWithABlankEachSide()
{
    QCOMPARE(printing::fieldText(QVariant(qint64(350))), QStringLiteral(" 350 "));
    QCOMPARE(printing::fieldText(QVariant(12.5)), QStringLiteral(" 12.5 "));
    {
        // The user's decimal sign, and no grouping of thousands: as stored.
        const QLocale before;
        QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
        const QString italian = printing::fieldText(QVariant(1500.5));
        QLocale::setDefault(before);
        QCOMPARE(italian, QStringLiteral(" 1500,5 "));
    }
    QCOMPARE(printing::fieldText(QVariant(QStringLiteral("350"))), QStringLiteral("350"));
    QCOMPARE(printing::fieldText(QVariant()), QString());
    RecordingSurface s;
    printing::printBookCard(s, card({{"titolo", "A"}, {"num_pag", qint64(350)}}));
    QVERIFY(find(s, QStringLiteral("NUM.PAG.:  350 ")));
}

void TestLayouts::catalogueRowsPutFurtherAuthorsUnderTheAuthorColumn()
{
    RecordingSurface s;
    startLikeARun(s);
    printing::printListHeading(s, QStringLiteral("Elenco Biblioteca "), printing::catalogueColumns());
    QCOMPARE(s.texts.at(0).text, QString(140, QLatin1Char('_')));
    QCOMPARE(s.texts.at(1).text, QStringLiteral("Elenco Biblioteca "));
    QCOMPARE(s.texts.at(1).size, 12.0);
    const QStringList headings{"Cod.Bib.", "TITOLO", "AUTORE", "EDITORE", "ANNO", "COSTO L.", "COSTO \u20AC"};
    const QList<int> columns{10, 20, 60, 100, 140, 148, 160};
    for (int i = 0; i < headings.size(); ++i) {
        const auto& h = s.texts.at(2 + i);
        QCOMPARE(h.text, headings[i]);
        QCOMPARE(h.at.x(), (columns[i] - 1) * 96.0);
        QVERIFY(h.bold);
        QCOMPARE(h.size, 8.0);
    }
    const qreal firstRow = s.currentY();
    printing::printCatalogueRow(s, rowOf({{"cod_biblio", "C1"}, {"titolo", "Breve"}, {"anno", "1990"},
                                          {"costo_l", qint64(25000)}, {"costo_e", 12.91}}),
                                {QStringLiteral("PRIMO"), QStringLiteral("SECONDO"), QStringLiteral("TERZO")},
                                QStringLiteral("EINAUDI"));
    const auto row = s.lineAt(1, 1, firstRow);
    QStringList printed;
    for (const auto& t : row) {
        printed << t.text;
        QVERIFY(!t.bold);
    }
    QCOMPARE(printed, (QStringList{"C1", "Breve", "PRIMO", "EINAUDI", "1990", " 25000 ", " 12.91 "}));
    QCOMPARE(s.lineAt(1, 1, firstRow + s.lineHeight()).at(0).text, QStringLiteral("SECONDO"));
    QCOMPARE(s.lineAt(1, 1, firstRow + 2 * s.lineHeight()).at(0).at.x(), 59 * 96.0);

    // A title of 41 characters runs past column 60: the rest of its row goes to the next line.
    const qreal next = s.currentY();
    printing::printCatalogueRow(s, rowOf({{"titolo", QString(41, 'T')}, {"anno", "2000"}}), {}, std::nullopt);
    QCOMPARE(s.lineAt(1, 1, next).size(), 1);
    QCOMPARE(s.lineAt(1, 1, next + s.lineHeight()).at(0).text, QStringLiteral("2000"));
}

void TestLayouts::listColumnsCutWhereTheListSays()
{
    RecordingSurface s;
    s.setFontName(QStringLiteral("Courier New"));
    s.setFontSize(8);
    printing::printListRow(s, printing::publisherColumns(),
                           rowOf({{"nome", "N"}, {"indirizzo", QString(40, 'I')}, {"residenza", QString(30, 'R')},
                                  {"telefono", "0123"}}));
    QCOMPARE(textsOf(s), (QStringList{"N", QString(30, 'I'), QString(20, 'R'), "0123"}));
    QCOMPARE(s.texts.at(3).at.y(), 0.0);
}

void TestLayouts::linesPastTheBottomGoToANewPageAndPicturesDoNot()
{
    RecordingSurface s(QSizeF(8000, 2000));
    s.setFontName(QStringLiteral("Courier New"));
    s.setFontSize(10);
    const qreal line = s.lineHeight();
    for (int i = 0; i < 12; ++i) {
        s.printLine({printing::col(1), printing::txt(QString::number(i))});
    }
    // Every line of the first page ends within it; the first line of the second would not have.
    int first = 0;
    while (s.texts.at(first).page == 1) {
        QVERIFY(s.texts.at(first).at.y() + line <= 2000);
        ++first;
    }
    QCOMPARE(s.texts.at(first).page, 2);
    QCOMPARE(s.texts.at(first).at.y(), 0.0);
    QVERIFY(s.texts.at(first - 1).at.y() + 2 * line > 2000);
    QCOMPARE(s.texts.at(first + 1).at.y(), line);
    // A picture reaching past the bottom stays on its page; the text after it begins a new one.
    s.setCurrentY(1800);
    s.paintPicture(QImage(10, 10, QImage::Format_RGB32), QRectF(400, 1800, 1000, 1000));
    QCOMPARE(s.pictures.at(0).page, 2);
    s.setCurrentY(2900);
    s.printLine({printing::txt(QStringLiteral("dopo"))});
    QCOMPARE(s.texts.last().page, 3);
    QCOMPARE(s.texts.last().at.y(), 0.0);
    s.endDoc();
    QCOMPARE(s.documents.at(0).pages, 3);
}

void TestLayouts::eachDocumentKeepsItsOrientation()
{
    RecordingSurface s(QSizeF(11506, 16438));
    s.setOrientation(printing::PrintSurface::Orientation::Landscape);
    QCOMPARE(s.pageSize(), QSizeF(16438, 11506));
    s.printLine({printing::txt(QStringLiteral("a"))});
    s.setOrientation(printing::PrintSurface::Orientation::Portrait);
    QCOMPARE(s.pageSize(), QSizeF(16438, 11506));
    s.endDoc();
    s.printLine({printing::txt(QStringLiteral("b"))});
    s.endDoc();
    QCOMPARE(s.documents.size(), 2);
    QCOMPARE(s.documents.at(0).orientation, printing::PrintSurface::Orientation::Landscape);
    QCOMPARE(s.documents.at(1).orientation, printing::PrintSurface::Orientation::Portrait);
    QCOMPARE(s.texts.at(1).document, 2);
}

CARTEO_TEST_MAIN(TestLayouts)
#include "tst_layouts.moc"
