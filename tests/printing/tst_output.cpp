// What leaves the program: PDF files read back with pdftotext, their failures, the preview, and
// the printouts of the authors and publishers windows.
#include "PrintTests.h"

#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "controls/DBList.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "printing/Layouts.h"
#include "printing/PrintRun.h"
#include "printing/PdfSurface.h"
#include "printing/RecordingSurface.h"
#include "printing/frmstampa.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>

using printtests::Fixture;
using printtests::press;

namespace {

struct Word {
    int page = 0;
    double x = 0;
    double y = 0;
    QString text;
};

// The words of a PDF with their page and top-left corner in points, as pdftotext reads them.
QList<Word> wordsOf(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return {};
    }
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression word(QStringLiteral("<page |<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\"[^>]*>([^<]*)</word>"));
    QList<Word> words;
    int page = 0;
    for (auto it = word.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        words.append(Word{page, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return words;
}

// Every word of a PDF with its page and box, in points, as pdftotext -bbox reads them.
struct Box {
    int page = 0;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    QString text;
};
QList<Box> boxesOf(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return {};
    }
    static const QRegularExpression word(QStringLiteral("<page |<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" "
                                                        "xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    QList<Box> boxes;
    int page = 0;
    for (auto it = word.globalMatch(QString::fromUtf8(p.readAllStandardOutput())); it.hasNext();) {
        const auto m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            ++page;
            continue;
        }
        boxes.append(Box{page, m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                         m.captured(4).toDouble(), m.captured(5)});
    }
    return boxes;
}

// The words of `expected` that `got` lacks, matched one for one: same page, same text, the same
// left and right edges within 0.05 points, on the same line. The height of a word's box is the
// height its face declares, which differs between faces of the same widths: the lines are compared
// by the middle of the boxes, within much less than a line.
QStringList missingWords(const QList<Box>& expected, QList<Box> got)
{
    QStringList missing;
    for (const Box& e : expected) {
        const auto same = [&e](const Box& g) {
            return g.page == e.page && g.text == e.text && qAbs(g.x0 - e.x0) < 0.05 && qAbs(g.x1 - e.x1) < 0.05 &&
                   qAbs((g.y0 + g.y1) / 2 - (e.y0 + e.y1) / 2) < 1.5;
        };
        const auto found = std::find_if(got.begin(), got.end(), same);
        if (found == got.end()) {
            missing << QStringLiteral("page %1 at %2, %3: %4").arg(e.page).arg(e.x0).arg(e.y0).arg(e.text);
        } else {
            got.erase(found);
        }
    }
    return missing;
}

// A printout of every kind of line: the catalogue list over several pages, a card, and lines with
// texts that the system must lay out itself (accents, a tab, a combining mark, right-to-left and
// ideographic scripts) among plain ones.
void layOutEveryKindOfLine(printing::PrintSurface& s)
{
    using printing::col;
    using printing::txt;
    s.setFontName(QStringLiteral("Arial"));
    s.setFontSize(8);
    s.setFontBold(false);
    s.setOrientation(printing::PrintSurface::Orientation::Landscape);
    printing::printListHeading(s, QStringLiteral("Elenco Biblioteca "), printing::catalogueColumns());
    QVariantMap book;
    book["cod_biblio"] = "C17";
    book["titolo"] = "L'ISOLA DEL TESORO E ALTRI RACCONTI DI MARE E DI TERRA";
    book["anno"] = "1999";
    book["costo_l"] = 25000;
    book["costo_e"] = 12.91;
    book["posizione"] = "SC. 3 P. 2";
    book["genere"] = "ROMANZO";
    book["note"] = "UNA NOTA\r\nSU DUE RIGHE";
    const printing::RowValue row = [book](const QString& column) { return book.value(column.toLower()); };
    for (int i = 0; i < 90; ++i) {
        printing::printCatalogueRow(s, row, {QStringLiteral("AUTORE UNO"), QStringLiteral("AUTORE DUE")},
                                    QStringLiteral("EDITRICE"));
    }
    s.printLine({col(10), txt(QStringLiteral("Èlite € 12,50")), col(40), txt(QStringLiteral("UNO\tDUE")), col(60),
                 txt(QStringLiteral("CAFE\u0301 NOIR")), col(80), txt(QStringLiteral("\u05E9\u05DC\u05D5\u05DD")),
                 col(100), txt(QStringLiteral("\u66F8\u540D")), col(120), txt(QStringLiteral("DOPO"))});
    printing::BookCard card;
    card.book = row;
    card.authors = QStringList{QStringLiteral("AUTORE UNO")};
    printing::printBookCard(s, card);
    s.endDoc();
}

int pagesOf(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return -1;
    }
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString manyBooks(int count)
{
    return QStringLiteral("INSERT INTO editori (ID_Editore, nome) VALUES (1, 'EDITRICE');"
                          "INSERT INTO autore (ID_autore, nome) VALUES (1, 'AUTORE UNO'), (2, 'AUTORE DUE');"
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo, cod_biblio, anno, id_edizione, costo_L, costo_E) "
                          "SELECT i, printf('LIBRO %05d', i), printf('C%d', i), '1999', 1, 25000, 12.91 FROM n;"
                          "INSERT INTO autbiblio SELECT id, 1 FROM biblio;"
                          "INSERT INTO autbiblio VALUES (1, 2);")
        .arg(count);
}

QString peopleCatalogue()
{
    return testsupport::BooksWindow::catalogue() +
           QStringLiteral("UPDATE autore SET data_nascita='1265', luogo_nascita='FIRENZE' WHERE ID_autore=1;"
                          "UPDATE editori SET indirizzo='VIA BIANCAMANO 2', telefono='011 6561', "
                          "note='CASA EDITRICE\r\nFONDATA NEL 1933' WHERE ID_Editore=2;");
}

} // namespace

class TestOutput : public QObject {
    Q_OBJECT
  private slots:
    void init() { testsupport::resetShellState(); }

    void catalogueInAPdfHasItsColumnsAndPages();
    void textsLandWhereTheyLandDrawnOneByOne();
    void copiesToPdfAreFilesOfTheirOwn();
    void aPdfThatCannotBeWrittenIsNamedAndNothingIsLeft();
    void aFullDiskKeepsThePdfThatWasThere();
    void thePreviewShowsThePagesToBePrinted();
    void authorsAndPublishersListsInPortrait();
    void peopleCardsHoldFieldsNotesAndTitles();

  private:
    testsupport::ModalWatchdog m_watchdog{30000};
};

void TestOutput::catalogueInAPdfHasItsColumnsAndPages()
{
    Fixture f(manyBooks(150));
    const QString pdf = f.folder.filePath(QStringLiteral("elenco.pdf"));
    dialogs::queueChoice(pdf);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command5")); }));
    QCOMPARE(msg::shownTexts(), QStringList());
    const QList<Word> words = wordsOf(pdf);
    QVERIFY2(!words.isEmpty(), "pdftotext read nothing");

    QPageLayout layout = printing::currentPrinter().pageLayout();
    layout.setOrientation(QPageLayout::Landscape);
    const QRectF area = layout.paintRect(QPageLayout::Point);
    const auto at = [&](const QString& text, int nth = 0) -> const Word* {
        for (const Word& w : words) {
            if (w.text == text && nth-- == 0) {
                return &w;
            }
        }
        return nullptr;
    };
    // Column n of "Courier New" 8 begins (n - 1) x 96 twips, 4.8 points, from the printable area's edge.
    const QList<std::pair<QString, int>> headings{{"Cod.Bib.", 10}, {"TITOLO", 20}, {"AUTORE", 60}, {"EDITORE", 100},
                                                  {"ANNO", 140}};
    for (const auto& [text, column] : headings) {
        const Word* w = at(text);
        QVERIFY2(w, qPrintable(text));
        QVERIFY2(qAbs(w->x - (area.left() + (column - 1) * 4.8)) < 0.05, qPrintable(text + QString::number(w->x)));
    }
    QVERIFY(qAbs(at(QStringLiteral("COSTO"), 0)->x - (area.left() + 147 * 4.8)) < 0.05);
    QVERIFY(qAbs(at(QStringLiteral("COSTO"), 1)->x - (area.left() + 159 * 4.8)) < 0.05);
    // The rule begins at 1234 twips, below the logo's place.
    const Word* rule = at(QString(140, QLatin1Char('_')));
    QVERIFY(rule);
    QVERIFY2(rule->y >= area.top() + 1234 / 20.0 - 0.5 && rule->y < area.top() + 1234 / 20.0 + 12, qPrintable(QString::number(rule->y)));
    // A row: code, title, author, publisher, year and prices, each at its column; the second
    // author below the first.
    const Word* title = at(QStringLiteral("00001"));
    QVERIFY(title);
    QVERIFY(qAbs(title->x - (area.left() + 25 * 4.8)) < 0.05);
    const Word* second = at(QStringLiteral("DUE"));
    QVERIFY(second && second->y > title->y && qAbs(second->x - (area.left() + 66 * 4.8)) < 0.05);
    QVERIFY(at(QStringLiteral("25000")) && at(QStringLiteral("12.91")));

    // As many pages as the recording surface lays out on the same page, the last row on the last.
    printing::RecordingSurface same(layout.paintRect(QPageLayout::Point).size().transposed() * 20.0);
    printing::setSurfaceForTests(&same);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command2")); }));
    printing::setSurfaceForTests(&f.surface);
    QVERIFY(same.documents.at(0).pages >= 2);
    QCOMPARE(pagesOf(pdf), same.documents.at(0).pages);
    QCOMPARE(at(QStringLiteral("00150"))->page, same.documents.at(0).pages);
}

void TestOutput::textsLandWhereTheyLandDrawnOneByOne()
{
    testsupport::ProgramFolder folder;
    QPageLayout layout = printing::currentPrinter().pageLayout();
    const QString printed = folder.filePath(QStringLiteral("stampa.pdf"));
    {
        printing::PdfSurface surface(printed, layout);
        layOutEveryKindOfLine(surface);
        surface.completeRun();
    }
    // The same printout, each text drawn alone with the system's own text drawing.
    printing::RecordingSurface recorded(layout.paintRect(QPageLayout::Point).size() * 20.0);
    layOutEveryKindOfLine(recorded);
    const QString alone = folder.filePath(QStringLiteral("una_per_una.pdf"));
    {
        layout.setOrientation(QPageLayout::Landscape);
        QPdfWriter writer(alone);
        writer.setPageLayout(layout);
        QPainter painter(&writer);
        const QRectF area(QPointF(0, 0), layout.paintRect(QPageLayout::Point).size() * 20.0);
        int page = 1;
        const auto prepare = [&] {
            painter.resetTransform();
            painter.scale(writer.logicalDpiX() / 1440.0, writer.logicalDpiY() / 1440.0);
            painter.setClipRect(area);
            painter.setPen(Qt::black);
        };
        prepare();
        for (const auto& t : recorded.texts) {
            for (; page < t.page; ++page) {
                writer.newPage();
                prepare();
            }
            const QFont font = printing::printFont(t.font, t.size, t.bold);
            painter.setFont(font);
            painter.drawText(QPointF(t.at.x(), t.at.y() + QFontMetricsF(font).ascent()), t.text);
        }
    }
    QFile::copy(alone, "/tmp/pdf-alone.pdf"); QFile::copy(printed, "/tmp/pdf-mine.pdf"); // DEBUG
    const QList<Box> expected = boxesOf(alone);
    QVERIFY2(expected.size() > 500, qPrintable(QString::number(expected.size())));
    QVERIFY(pagesOf(alone) >= 3);
    QCOMPARE(pagesOf(printed), pagesOf(alone));
    QList<Box> got = boxesOf(printed);
    // Characters that no face on the system holds are drawn as the missing-glyph box, which still
    // names them, where the system's own drawing names nothing.
    const QString ideographs = QStringLiteral("\u66F8\u540D");
    const auto isIdeographs = [&ideographs](const Box& b) { return b.text == ideographs; };
    if (std::none_of(expected.begin(), expected.end(), isIdeographs)) {
        QCOMPARE(got.removeIf(isIdeographs), 1);
    }
    const QStringList missing = missingWords(expected, got);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.mid(0, 8).join(QLatin1Char('\n'))));
    QCOMPARE(got.size(), expected.size());
}

void TestOutput::copiesToPdfAreFilesOfTheirOwn()
{
    Fixture f;
    f.makeLogo(30, 30);
    dialogs::queuePrinterChoice({true, 2, {}});
    const QString pdf = f.folder.filePath(QStringLiteral("schede.pdf"));
    dialogs::queueChoice(pdf);
    std::unique_ptr<testsupport::NextModal> second;
    QVERIFY(f.print(0, [&](frmstampa& d) {
        second = printtests::onPrintDialog([](frmstampa& again) { press(&again, QStringLiteral("Command5")); });
        press(&d, QStringLiteral("Command1"));
    }));
    const int pages = pagesOf(pdf);
    QVERIFY(pages >= 1);
    for (const QString& file : {pdf, f.folder.filePath(QStringLiteral("schede (2).pdf"))}) {
        QCOMPARE(pagesOf(file), pages);
        QStringList texts;
        for (const Word& w : wordsOf(file)) {
            texts << w.text;
        }
        QCOMPARE(texts.count(QStringLiteral("Scheda")), 4);
    }
    QVERIFY(!QFile::exists(f.folder.filePath(QStringLiteral("schede (3).pdf"))));
}

void TestOutput::aPdfThatCannotBeWrittenIsNamedAndNothingIsLeft()
{
    Fixture f;
    const QString locked = f.folder.filePath(QStringLiteral("chiusa"));
    QVERIFY(QDir().mkpath(locked));
    testsupport::ReadOnlyFolder readOnly(locked, testsupport::ReadOnlyFolder::Way::Mount);
    if (!readOnly.isValid()) {
        QSKIP(qPrintable(readOnly.whyNot()));
    }
    const QString pdf = locked + QStringLiteral("/elenco.pdf");
    dialogs::queueChoice(pdf);
    msg::queueAnswer(msg::Answer::Ok);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command5")); }));
    QCOMPARE(msg::shownTexts().size(), 1);
    QVERIFY2(msg::shownTexts().at(0).contains(QDir::toNativeSeparators(pdf)), qPrintable(msg::shownTexts().at(0)));
    QVERIFY(QDir(locked).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestOutput::aFullDiskKeepsThePdfThatWasThere()
{
    Fixture f(manyBooks(3000));
    const QString disk = f.folder.filePath(QStringLiteral("piccolo"));
    QVERIFY(QDir().mkpath(disk));
    testsupport::SmallDisk small(disk, 32 * 1024);
    if (!small.isValid()) {
        QSKIP(qPrintable(small.whyNot()));
    }
    const QString pdf = disk + QStringLiteral("/elenco.pdf");
    QVERIFY(testsupport::writeFile(pdf, "la stampa di ieri"));
    dialogs::queueChoice(pdf);
    msg::queueAnswer(msg::Answer::Ok);
    QVERIFY(f.print(1, [](frmstampa& d) { press(&d, QStringLiteral("Command5")); }));
    QCOMPARE(msg::shownTexts().size(), 1);
    QVERIFY2(msg::shownTexts().at(0).startsWith(QStringLiteral("Il disco è pieno")), qPrintable(msg::shownTexts().at(0)));
    QCOMPARE(testsupport::readFile(pdf), QByteArray("la stampa di ieri"));
    QCOMPARE(QDir(disk).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("elenco.pdf")});
}

void TestOutput::thePreviewShowsThePagesToBePrinted()
{
    Fixture f(manyBooks(150));
    int pages = 0;
    bool shown = false;
    // The progress window comes and goes while the preview lays the pages out: wait for the preview.
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible()) {
            shown = true;
            if (auto* widget = dialog->findChild<QPrintPreviewWidget*>()) {
                pages = widget->pageCount();
            }
            poll.stop();
            dialog->close();
        }
    });
    QVERIFY(f.print(1, [&](frmstampa& d) {
        poll.start();
        press(&d, QStringLiteral("Command4"));
    }));
    QVERIFY(shown);
    QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));
    QCOMPARE(msg::shownTexts(), QStringList());
}

void TestOutput::authorsAndPublishersListsInPortrait()
{
    Fixture f(peopleCatalogue());
    frmAutori authors;
    authors.Form_Load();
    authors.show();
    msg::clearQueuedAnswers();
    const auto answer = printtests::onPrintDialog([](frmstampa& d) {
        QVERIFY(!d.Picture1->isVisible());
        press(&d, QStringLiteral("Command2"));
    });
    authors.Command1[1]->click();
    QVERIFY(answer->answered());
    QCOMPARE(f.surface.documents.at(0).orientation, printing::PrintSurface::Orientation::Portrait);
    QCOMPARE(f.texts().mid(1), (QStringList{"ELENCO AUTORI ", "NOME AUTORE", "DATA", "LOCALITA'", "DANTE ALIGHIERI",
                                            "1265", "FIRENZE", "ITALO CALVINO"}));
    const auto row = f.surface.lineAt(1, 1, f.surface.texts.at(5).at.y());
    QCOMPARE(row.size(), 3);
    QCOMPARE(row.at(1).at.x(), 59 * 96.0);
    QCOMPARE(row.at(2).at.x(), 79 * 96.0);
    // The list does not move the window.
    QCOMPARE(authors.DBList1->boundText(), QStringLiteral("1"));

    FrmEditori publishers;
    publishers.Form_Load();
    publishers.show();
    const auto again = printtests::onPrintDialog([](frmstampa& d) { press(&d, QStringLiteral("Command2")); });
    publishers.Command1[1]->click();
    QCOMPARE(f.texts(2).mid(1), (QStringList{"ELENCO EDITORI ", "NOME EDITORE", "INDIRIZZO", "LOCALITA'", "TELEFONO",
                                             "EINAUDI", "VIA BIANCAMANO 2", "TORINO", "011 6561", "MONDADORI",
                                             "MILANO"}));
}

void TestOutput::peopleCardsHoldFieldsNotesAndTitles()
{
    Fixture f(peopleCatalogue());
    FrmEditori publishers;
    publishers.Form_Load();
    publishers.show();
    QVERIFY(publishers.showRecord(2));
    const auto all = printtests::onPrintDialog([](frmstampa& d) {
        QVERIFY(d.Picture1->isVisible());
        press(&d, QStringLiteral("Command2"));
    });
    publishers.Command1[0]->click();
    QVERIFY(all->answered());
    const QStringList texts = f.texts();
    QCOMPARE(texts.filter(QStringLiteral("Scheda di ")),
             (QStringList{"Scheda di EINAUDI", "Scheda di MONDADORI"}));
    for (const char* expected : {"LOCALITA': ", "TORINO", "INDIRIZZO: ", "VIA BIANCAMANO 2", "TELEFONO: ", "011 6561",
                                 "NOTE: CASA EDITRICE", "FONDATA NEL 1933", "TITOLI: ", "Elefanti", "Zeta"}) {
        QVERIFY2(texts.contains(QString::fromUtf8(expected)), expected);
    }
    // The titles follow their publisher's card.
    QVERIFY(texts.indexOf(QStringLiteral("Elefanti")) < texts.indexOf(QStringLiteral("Scheda di MONDADORI")));
    QVERIFY(texts.indexOf(QStringLiteral("Zeta")) > texts.indexOf(QStringLiteral("Scheda di MONDADORI")));

    const auto current = printtests::onPrintDialog([](frmstampa& d) {
        QTest::mouseClick(d.Option1[1], Qt::LeftButton);
        press(&d, QStringLiteral("Command2"));
    });
    publishers.Command1[0]->click();
    QCOMPARE(f.texts(2).filter(QStringLiteral("Scheda di ")), QStringList{"Scheda di EINAUDI"});
    QCOMPARE(publishers.DBList1->boundText(), QStringLiteral("2"));
}

CARTEO_TEST_MAIN(TestOutput)
#include "tst_output.moc"
