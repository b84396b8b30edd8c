// Labels: the sheets' arithmetic, where each label falls (start position, sheets, copies), what a
// label holds, and the barcodes of a PDF of labels read back by a scanner program.
#include "PrintTests.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "printing/Labels.h"
#include "printing/PdfSurface.h"
#include "printing/PrintRun.h"
#include "printing/RecordingSurface.h"
#include "printing/frmstampa.h"
#include "store/DbError.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using printing::LabelBook;
using printing::LabelOptions;
using printing::LabelStock;
using printing::RecordingSurface;

namespace {

constexpr qreal kTwipsPerMm = 1440.0 / 25.4;

// Counts what the printout tells of its progress.
struct CountingProgress : printing::Progress {
    int total = -1;
    int steps = 0;
    void begin(int n) override { total = n; }
    void step() override { ++steps; }
};

const LabelStock& standard(int index)
{
    return printing::standardStocks().at(index);
}

QList<LabelBook> books(int count, qint64 firstKey = 1)
{
    QList<LabelBook> list;
    for (int i = 0; i < count; ++i) {
        list.append(LabelBook{firstKey + i, QStringLiteral("Titolo %1").arg(i + 1), QStringLiteral("A.%1").arg(i + 1)});
    }
    return list;
}

// The texts that are `text`, in order of printing.
QList<RecordingSurface::Text> textsEqual(const RecordingSurface& surface, const QString& text)
{
    QList<RecordingSurface::Text> found;
    for (const auto& t : surface.texts) {
        if (t.text == text) {
            found.append(t);
        }
    }
    return found;
}

// `mm` on the paper, in twips from the printable area of `surface`.
QRectF onPaper(const RecordingSurface& surface, const QRectF& mm)
{
    return QRectF(surface.paperCorner() + mm.topLeft() * kTwipsPerMm, mm.size() * kTwipsPerMm);
}

bool near(qreal a, qreal b, qreal tolerance)
{
    return std::abs(a - b) <= tolerance;
}

} // namespace

class TestLabels : public QObject {
    Q_OBJECT
  private slots:
    void everyStockFitsItsPage();
    void customStocksThatCannotBePrintedAreTold();
    void theStartPositionSkipsLabels();
    void hundredLabelsOverSeveralSheets();
    void whatALabelHolds();
    void spineLabelsAndOutline();
    void everyBarcodeOfAPdfScansBackToItsKey();
    void aLabelRunWritesItsOwnPage();
};

void TestLabels::everyStockFitsItsPage()
{
    struct Expected {
        QString name;
        double left, top, pitchX, pitchY, width, height;
        int columns, rows;
        double pageWidth, pageHeight;
    };
    // The sheets as they are cut: labels centred on A4.
    const QList<Expected> expected{
        {QStringLiteral("3×8 70×37 mm"), 0, 0.5, 70, 37, 70, 37, 3, 8, 210, 297},
        {QStringLiteral("3×7 70×42.3 mm"), 0, 0.45, 70, 42.3, 70, 42.3, 3, 7, 210, 297},
        {QStringLiteral("2×7 99.1×38.1 mm"), 4.65, 15.15, 101.6, 38.1, 99.1, 38.1, 2, 7, 210, 297},
        {QStringLiteral("4×10 48.5×25.4 mm"), 8, 21.5, 48.5, 25.4, 48.5, 25.4, 4, 10, 210, 297},
        {QStringLiteral("Etichettatrice 62×29 mm"), 0, 0, 62, 29, 62, 29, 1, 1, 62, 29},
    };
    const QList<LabelStock>& stocks = printing::standardStocks();
    QCOMPARE(stocks.size(), expected.size());
    for (int s = 0; s < stocks.size(); ++s) {
        const LabelStock& stock = stocks.at(s);
        const Expected& e = expected.at(s);
        QCOMPARE(stock.name, e.name);
        QVERIFY2(stock.problem().isEmpty(), qPrintable(stock.name + QLatin1Char(' ') + stock.problem()));
        QCOMPARE(stock.perSheet(), e.columns * e.rows);
        QVERIFY(near(stock.pageWidth, e.pageWidth, 0.05) && near(stock.pageHeight, e.pageHeight, 0.05));
        double right = 0, bottom = 0;
        for (int i = 0; i < stock.perSheet(); ++i) {
            const QRectF r = printing::labelRect(stock, i);
            const int column = i % e.columns, row = i / e.columns;
            QVERIFY2(near(r.left(), e.left + column * e.pitchX, 0.05) && near(r.top(), e.top + row * e.pitchY, 0.05),
                     qPrintable(QStringLiteral("%1, etichetta %2").arg(stock.name).arg(i)));
            QVERIFY(near(r.width(), e.width, 0.05) && near(r.height(), e.height, 0.05));
            QVERIFY(r.left() >= -0.05 && r.top() >= -0.05);
            right = std::max(right, r.right());
            bottom = std::max(bottom, r.bottom());
        }
        QVERIFY2(right <= stock.pageWidth + 0.05 && bottom <= stock.pageHeight + 0.05, qPrintable(stock.name));
        // Centred: as much paper is left on the right and below as on the left and above.
        QVERIFY2(near(stock.pageWidth - right, stock.marginLeft, 0.1), qPrintable(stock.name));
        QVERIFY2(near(stock.pageHeight - bottom, stock.marginTop, 0.1), qPrintable(stock.name));
    }
}

void TestLabels::customStocksThatCannotBePrintedAreTold()
{
    LabelStock custom = standard(0);
    custom.name = QStringLiteral("Personalizzato");
    QVERIFY(custom.problem().isEmpty());

    LabelStock wide = custom;
    wide.marginLeft = 0.2; // three labels of 70 mm from 0.2 mm end past 210 mm
    QCOMPARE(wide.problem(), QStringLiteral("Le etichette escono dal foglio a destra."));
    LabelStock low = custom;
    low.marginTop = 4.35;
    QCOMPARE(low.problem(), QStringLiteral("Le etichette escono dal foglio in basso."));
    LabelStock overlapping = custom;
    overlapping.pitchX = 60;
    overlapping.marginLeft = 5;
    QVERIFY(!overlapping.problem().isEmpty());
    LabelStock none = custom;
    none.rows = 0;
    QVERIFY(!none.problem().isEmpty());
    LabelStock negative = custom;
    negative.labelHeight = -1;
    QVERIFY(!negative.problem().isEmpty());

    // A stock with a problem, or a start outside the sheet, prints nothing and says why.
    RecordingSurface surface;
    printing::SilentProgress progress;
    QVERIFY_THROWS_EXCEPTION(store::DbError, printing::printLabels(surface, progress, wide, LabelOptions{}, books(3)));
    LabelOptions pastTheSheet;
    pastTheSheet.start = 24;
    QVERIFY_THROWS_EXCEPTION(store::DbError, printing::printLabels(surface, progress, custom, pastTheSheet, books(3)));
    QVERIFY(surface.texts.isEmpty() && surface.rects.isEmpty());
}

void TestLabels::theStartPositionSkipsLabels()
{
    const LabelStock& stock = standard(0); // 3×8
    RecordingSurface surface;
    surface.portraitPaperCorner = QPointF(-300, -250); // the printer's own margins
    CountingProgress progress;
    LabelOptions options;
    options.outline = true;
    options.start = 5;
    printing::printLabels(surface, progress, stock, options, books(4, 100));
    surface.endDoc();

    QCOMPARE(surface.documents.size(), 1);
    QCOMPARE(surface.documents.at(0).pages, 1);
    QCOMPARE(surface.outlines.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const QRectF expected = onPaper(surface, printing::labelRect(stock, 5 + i));
        const QRectF drawn = surface.outlines.at(i).twips;
        // To a tenth of a millimetre.
        QVERIFY(near(drawn.left(), expected.left(), 0.1 * kTwipsPerMm));
        QVERIFY(near(drawn.top(), expected.top(), 0.1 * kTwipsPerMm));
        QVERIFY(near(drawn.width(), expected.width(), 0.1 * kTwipsPerMm));
        QVERIFY(near(drawn.height(), expected.height(), 0.1 * kTwipsPerMm));
        // The label's key and bars inside its rectangle.
        const auto key = textsEqual(surface, QString::number(100 + i));
        QCOMPARE(key.size(), 1);
        QVERIFY(drawn.contains(key.at(0).at));
    }
    // Label 6 (0-based 5) is the third of the second row: 140 mm from the paper's left edge.
    QVERIFY(near(surface.outlines.at(0).twips.left(), -300 + 140 * kTwipsPerMm, 1));
    QVERIFY(near(surface.outlines.at(0).twips.top(), -250 + 37.5 * kTwipsPerMm, 1));
    for (const auto& bar : surface.rects) {
        bool inside = false;
        for (const auto& outline : surface.outlines) {
            inside = inside || outline.twips.contains(bar.twips);
        }
        QVERIFY(inside);
    }
    QCOMPARE(progress.total, 4);
    QCOMPARE(progress.steps, 4);
}

void TestLabels::hundredLabelsOverSeveralSheets()
{
    const LabelStock& stock = standard(0); // 24 to a sheet
    {
        RecordingSurface surface;
        CountingProgress progress;
        printing::printLabels(surface, progress, stock, LabelOptions{}, books(100));
        surface.endDoc();
        QCOMPARE(surface.documents.size(), 1);
        QCOMPARE(surface.documents.at(0).pages, 5); // 24 + 24 + 24 + 24 + 4
        for (int i = 0; i < 100; ++i) {
            const auto key = textsEqual(surface, QString::number(i + 1));
            QCOMPARE(key.size(), 1);
            QCOMPARE(key.at(0).page, i / 24 + 1);
        }
        QCOMPARE(progress.total, 100);
        QCOMPARE(progress.steps, 100);
    }
    {
        // Two copies of each, from the 21st label: 4 on the first sheet, then 196 on 9 more.
        RecordingSurface surface;
        CountingProgress progress;
        LabelOptions options;
        options.copies = 2;
        options.start = 20;
        printing::printLabels(surface, progress, stock, options, books(100));
        surface.endDoc();
        QCOMPARE(surface.documents.at(0).pages, 10);
        const auto first = textsEqual(surface, QStringLiteral("1"));
        QCOMPARE(first.size(), 2);
        QCOMPARE(first.at(1).page, 1);
        const auto third = textsEqual(surface, QStringLiteral("3"));
        QCOMPARE(third.at(0).page, 2); // labels 25 and 26 of the run: the second sheet's first two
        QCOMPARE(progress.total, 200);
        QCOMPARE(progress.steps, 200);
    }
}

void TestLabels::whatALabelHolds()
{
    const LabelStock& stock = standard(3); // 48.5×25.4 mm, the smallest
    RecordingSurface surface;
    surface.portraitPaperCorner = QPointF();
    printing::SilentProgress progress;
    LabelOptions options;
    options.libraryName = QStringLiteral("Biblioteca parrocchiale");
    const QString longTitle = QStringLiteral("Storia della letteratura italiana dalle origini ai giorni nostri, "
                                             "con un'appendice di documenti");
    printing::printLabels(
        surface, progress, stock, options,
        {LabelBook{4321, longTitle, QStringLiteral("B.12.3")}, LabelBook{7, QStringLiteral("Cuore"), {}}});
    surface.endDoc();

    const QRectF label = printing::labelRect(stock, 0);
    const QRectF labelTwips(label.topLeft() * kTwipsPerMm, label.size() * kTwipsPerMm);
    QList<RecordingSurface::Text> first;
    for (const auto& t : surface.texts) {
        if (labelTwips.contains(t.at)) {
            first.append(t);
        }
    }
    QStringList texts;
    for (const auto& t : first) {
        texts.append(t.text);
    }
    QCOMPARE(texts.size(), 4);
    QCOMPARE(texts.at(0), QStringLiteral("Biblioteca parrocchiale"));
    // The title cut to the label's width with "…".
    QVERIFY2(texts.at(1).endsWith(QStringLiteral("…")), qPrintable(texts.at(1)));
    QVERIFY(longTitle.startsWith(texts.at(1).chopped(1)));
    QVERIFY(texts.at(1).size() > 10);
    surface.setFontName(first.at(1).font);
    surface.setFontSize(first.at(1).size);
    surface.setFontBold(first.at(1).bold);
    QVERIFY(first.at(1).at.x() + surface.textWidth(texts.at(1)) <= labelTwips.right());
    QVERIFY(first.at(1).at.x() >= labelTwips.left());
    QCOMPARE(texts.at(2), QStringLiteral("B.12.3"));
    QCOMPARE(texts.at(3), QStringLiteral("4321"));
    // Top to bottom, the bars between the shelf mark and the key's digits.
    QVERIFY(first.at(0).at.y() < first.at(1).at.y() && first.at(1).at.y() < first.at(2).at.y());
    qreal barsTop = 1e9, barsBottom = 0;
    int bars = 0;
    for (const auto& r : surface.rects) {
        if (labelTwips.contains(r.twips)) {
            barsTop = std::min(barsTop, r.twips.top());
            barsBottom = std::max(barsBottom, r.twips.bottom());
            ++bars;
            QVERIFY(r.twips.width() >= 0.19 * kTwipsPerMm - 0.01);
        }
    }
    QCOMPARE(bars, 6 * 5); // *4321*: five bars to a character
    QVERIFY(barsTop > first.at(2).at.y() && barsBottom <= first.at(3).at.y() + 0.5);
    QVERIFY(barsBottom - barsTop >= 6 * kTwipsPerMm - 1);
    // A short title whole; no shelf mark, no line for it.
    QVERIFY(!textsEqual(surface, QStringLiteral("Cuore")).isEmpty());
    QCOMPARE(textsEqual(surface, QStringLiteral("7")).size(), 1);

    // A label too narrow for bars that read: the key in digits alone.
    LabelStock narrow = stock;
    narrow.labelWidth = narrow.pitchX = 20;
    RecordingSurface small;
    printing::printLabels(small, progress, narrow, LabelOptions{}, {LabelBook{123456, {}, {}}});
    QVERIFY(small.rects.isEmpty());
    QCOMPARE(textsEqual(small, QStringLiteral("123456")).size(), 1);
}

void TestLabels::spineLabelsAndOutline()
{
    LabelStock spine = standard(0);
    spine.name = QStringLiteral("Dorso");
    spine.labelWidth = spine.pitchX = 15;
    spine.labelHeight = spine.pitchY = 60;
    spine.columns = 10;
    spine.rows = 4;
    spine.marginLeft = 10;
    spine.marginTop = 10;
    QVERIFY(spine.problem().isEmpty());
    LabelOptions options;
    options.spine = true;
    options.outline = true;
    const QList<LabelBook> list{LabelBook{1, QStringLiteral("Titolo"), QStringLiteral("N 853.914 MAN")}};
    qreal uprightSize = 0;
    {
        RecordingSurface surface;
        printing::SilentProgress progress;
        printing::printLabels(surface, progress, spine, options, list);
        QCOMPARE(surface.texts.size(), 1); // the shelf mark alone
        QCOMPARE(surface.outlines.size(), 1);
        QVERIFY(surface.rects.isEmpty());
        QVERIFY(!surface.texts.at(0).turned);
        uprightSize = surface.texts.at(0).size;
    }
    options.turned = true;
    RecordingSurface surface;
    printing::SilentProgress progress;
    printing::printLabels(surface, progress, spine, options, list);
    QCOMPARE(surface.texts.size(), 1);
    const auto& mark = surface.texts.at(0);
    QCOMPARE(mark.text, QStringLiteral("N 853.914 MAN"));
    QVERIFY(mark.turned);
    // Along the spine the type is larger than across it, and all of it is within the label.
    QVERIFY2(mark.size > uprightSize, qPrintable(QStringLiteral("%1 %2").arg(mark.size).arg(uprightSize)));
    surface.setFontName(mark.font);
    surface.setFontSize(mark.size);
    surface.setFontBold(mark.bold);
    const QRectF covered(mark.at.x(), mark.at.y() - surface.textWidth(mark.text), surface.lineHeight(),
                         surface.textWidth(mark.text));
    const QRectF label = surface.outlines.at(0).twips;
    QVERIFY2(label.contains(covered), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                     .arg(covered.x())
                                                     .arg(covered.y())
                                                     .arg(covered.width())
                                                     .arg(covered.height())));
    QVERIFY(covered.height() > label.height() / 2);

    // On paper, the mark's ink runs up the label.
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (pdftoppm.isEmpty()) {
        QSKIP("pdftoppm is not installed (tools/install-deps.sh)");
    }
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("dorsi.pdf"));
    options.outline = false;
    {
        printing::PdfSurface output(pdf, printing::labelPage(spine));
        printing::printLabels(output, progress, spine, options, list);
        output.endDoc();
        output.completeRun();
    }
    QProcess render;
    render.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-gray"),
                            QStringLiteral("-singlefile"), pdf, folder.filePath(QStringLiteral("dorsi"))});
    QVERIFY(render.waitForFinished(60000) && render.exitCode() == 0);
    const QImage page(folder.filePath(QStringLiteral("dorsi.pgm")));
    QVERIFY(!page.isNull());
    QRect ink;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) {
            if (qGray(page.pixel(x, y)) < 128) {
                ink |= QRect(x, y, 1, 1);
            }
        }
    }
    const QRectF labelPoints(10 / 25.4 * 72, 10 / 25.4 * 72, 15 / 25.4 * 72, 60 / 25.4 * 72);
    QVERIFY(!ink.isEmpty());
    QVERIFY2(labelPoints.adjusted(-1, -1, 1, 1).contains(QRectF(ink)),
             qPrintable(QStringLiteral("%1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height())));
    QVERIFY(ink.height() > 3 * ink.width());
    QVERIFY(ink.height() > labelPoints.height() / 2);
}

void TestLabels::everyBarcodeOfAPdfScansBackToItsKey()
{
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    const QString pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    if (zbarimg.isEmpty() || pdftoppm.isEmpty()) {
        QSKIP("zbarimg or pdftoppm is not installed (tools/install-deps.sh)");
    }
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("etichette.pdf"));
    // The smallest labels, keys of every length; the sheet's first labels already used.
    const LabelStock& stock = standard(3);
    QList<LabelBook> list;
    const QList<qint64> keys{1,     7,     42,     99,      305,     1000,     4711,
                             12345, 99999, 123456, 2026001, 9876543, 12345678, 987654321};
    for (int i = 0; i < 3; ++i) {
        for (const qint64 key : keys) {
            list.append(LabelBook{key + i, QStringLiteral("Un titolo qualsiasi, abbastanza lungo da essere tagliato"),
                                  QStringLiteral("SCAFFALE %1").arg(i)});
        }
    }
    LabelOptions options;
    options.start = 3;
    options.outline = true;
    options.libraryName = QStringLiteral("Biblioteca");
    {
        // The page of a label run: the sheet's paper, no margins.
        printing::PdfSurface surface(pdf, QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        printing::SilentProgress progress;
        printing::printLabels(surface, progress, stock, options, list);
        surface.endDoc();
        surface.completeRun();
    }
    QProcess render;
    render.start(pdftoppm, {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-gray"), pdf,
                            folder.filePath(QStringLiteral("pagina"))});
    QVERIFY(render.waitForFinished(120000) && render.exitCode() == 0);
    // 42 labels from the fourth: two sheets.
    const QImage page1(folder.filePath(QStringLiteral("pagina-1.pgm")));
    const QImage page2(folder.filePath(QStringLiteral("pagina-2.pgm")));
    QVERIFY(!page1.isNull() && !page2.isNull());
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("pagina-3.pgm"))));

    const qreal dotsPerMm = 300 / 25.4;
    for (int n = 0; n < list.size(); ++n) {
        const int slot = options.start + n;
        const QImage& page = slot < stock.perSheet() ? page1 : page2;
        const QRectF mm = printing::labelRect(stock, slot % stock.perSheet());
        const QRect dots(qRound(mm.left() * dotsPerMm), qRound(mm.top() * dotsPerMm), qRound(mm.width() * dotsPerMm),
                         qRound(mm.height() * dotsPerMm));
        const QString crop = folder.filePath(QStringLiteral("etichetta-%1.png").arg(n));
        QVERIFY(page.copy(dots).save(crop));
        QProcess reader;
        reader.start(zbarimg, {QStringLiteral("--raw"), QStringLiteral("-q"), crop});
        QVERIFY(reader.waitForFinished(60000));
        const QString read = QString::fromLatin1(reader.readAllStandardOutput()).trimmed();
        QVERIFY2(
            read == QString::number(list.at(n).key),
            qPrintable(QStringLiteral("etichetta %1: letto \"%2\", atteso %3").arg(n).arg(read).arg(list.at(n).key)));
    }
}

void TestLabels::aLabelRunWritesItsOwnPage()
{
    printtests::Fixture f;
    f.makeLogo(60, 30);
    const QPageLayout printerPage = printing::currentPrinter().pageLayout();
    const LabelStock& roll = standard(4); // one label 62×29 mm to a page
    const QString pdf = f.folder.filePath(QStringLiteral("etichette.pdf"));
    dialogs::queueChoice(pdf);
    printing::PrintRequest request;
    request.documentName = QStringLiteral("Etichette");
    request.page = printing::labelPage(roll);
    request.logo = false;
    request.content = [&](printing::PrintSurface& surface, printing::Progress& progress) {
        printing::printLabels(surface, progress, roll, LabelOptions{}, books(3));
    };
    const auto answer = printtests::onPrintDialog([](frmstampa& d) {
        d.Check1->setChecked(true); // the logo asked for: still not on labels
        printtests::press(&d, QStringLiteral("Command5"));
    });
    printing::runPrint(request);
    QVERIFY(answer->answered());
    QCOMPARE(msg::shownTexts(), QStringList());

    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY(info.waitForFinished(60000) && info.exitCode() == 0);
    const QString said = QString::fromUtf8(info.readAllStandardOutput());
    QVERIFY2(said.contains(QRegularExpression(QStringLiteral("Pages:\\s+3\\n"))), qPrintable(said));
    // 62 × 29 mm in points, which the page layout gives to the whole point.
    QVERIFY2(said.contains(QRegularExpression(QStringLiteral("Page size:\\s+17[56](\\.\\d+)? x 82(\\.\\d+)? pts"))),
             qPrintable(said));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains("/Subtype /Image"));
    // The printer keeps its own page for the printouts after.
    QCOMPARE(printing::currentPrinter().pageLayout(), printerPage);
}

CARTEO_TEST_MAIN(TestLabels)
#include "tst_labels.moc"
