// The program's own PDF writer, read back with the system's PDF tools: the file's structure, texts in
// the standard faces and in any script, pictures, the printable area's edges, a device that fails.
#include "printing/PdfDocument.h"
#include "printing/PrintSurface.h"
#include "support/TestMain.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QProcess>
#include <QSet>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// What a tool of the system prints about `pdf`; empty when it fails.
QString run(const QString& tool, QStringList arguments)
{
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Page `page` drawn at 72 dots an inch: one pixel is one point.
QImage rendered(const QString& pdf, int page, const QString& folder)
{
    const QString stem = folder + QStringLiteral("/pagina");
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-f"), QString::number(page),
                                     QStringLiteral("-l"), QString::number(page), QStringLiteral("-singlefile"),
                                     QStringLiteral("-png"), pdf, stem});
    return QImage(stem + QStringLiteral(".png"));
}

// Ink, however light (a thin rule is drawn in grey at this size).
bool inked(QRgb pixel)
{
    return qGray(pixel) < 220;
}

// A4 upright with margins of 10 mm: the printable area begins 28 points (whole points, as the page
// layout gives them) from the left and top.
QPageLayout a4()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
}

} // namespace

class TestPdf : public QObject {
    Q_OBJECT
  private slots:
    void textsOfEveryScriptAreReadBackInOrder();
    void picturesAndTheAreaEdge();
    void aDeviceThatFailsIsTold();
};

void TestPdf::textsOfEveryScriptAreReadBackInOrder()
{
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("prova.pdf"));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    const QStringList lines{QStringLiteral("CATALOGO (RIDOTTO) \\ 2026"), QStringLiteral("Perché più € 12,50 «sì» – già"),
                            QStringLiteral("Ελληνικά και Кириллица"), QStringLiteral("ULTIMA RIGA")};
    {
        printing::PdfDocument document(file, a4()); // the first page is open
        qreal y = 400;
        for (int i = 0; i < lines.size(); ++i) {
            const QFont font = printing::printFont(i % 2 ? QStringLiteral("Arial") : QStringLiteral("Courier New"), 10, i == 3);
            document.text(200, y, lines.at(i), font);
            y += 400;
        }
        document.newPage();
        document.text(200, 400, QStringLiteral("SECONDA PAGINA"), printing::printFont(QStringLiteral("Arial"), 12, true));
        document.finish();
        QVERIFY(!document.failed());
        QCOMPARE(document.pages(), 2);
    }
    file.close();

    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+2\\n"))), qPrintable(info));
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Producer:\\s+Carteo\\n"))), qPrintable(info));
    QVERIFY2(info.contains(QStringLiteral("Page size:       595 x 842 pts (A4)")), qPrintable(info));
    // pdftotext finds no fault in the cross-reference table (it would rebuild it, and say so).
    QProcess text;
    text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(text.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(text.readAllStandardError()), QString());
    QStringList read;
    for (const QString& line : QString::fromUtf8(text.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty()) {
            read << line.trimmed().remove(QLatin1Char('\f'));
        }
    }
    QCOMPARE(read, lines + QStringList{QStringLiteral("SECONDA PAGINA")});
    // The first line begins 10 points (200 twips) into the area.
    const QString boxes = run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    QVERIFY2(boxes.contains(QStringLiteral("xMin=\"38.000")), qPrintable(boxes.mid(boxes.indexOf(QStringLiteral("<word")), 200)));
    QVERIFY(!rendered(pdf, 2, folder.path()).isNull());
}

void TestPdf::picturesAndTheAreaEdge()
{
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("figure.pdf"));
    QFile file(pdf);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QImage logo(60, 30, QImage::Format_RGB32);
    logo.fill(QColor(200, 0, 0));
    {
        printing::PdfDocument document(file, a4());
        for (int page = 0; page < 3; ++page) {
            if (page > 0) {
                document.newPage();
            }
            // 100 x 50 points, its corner 100 points into the area.
            document.image(logo, QRectF(2000, 2000, 2000, 1000));
            // A rule far longer than the page is wide: cut at the area's right edge.
            document.text(0, 6000, QString(200, QLatin1Char('_')), printing::printFont(QStringLiteral("Courier New"), 10, false));
        }
        document.finish();
        QVERIFY(!document.failed());
    }
    file.close();

    // One picture written once, shown on every page.
    const QString images = run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    const QStringList rows = images.split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(2);
    QCOMPARE(rows.size(), 3);
    QSet<QString> objects; // the object number, the 12th column
    for (const QString& row : rows) {
        objects.insert(row.simplified().section(QLatin1Char(' '), 11, 11));
    }
    QCOMPARE(objects.size(), 1);
    QVERIFY2(QFileInfo(pdf).size() < 20000, qPrintable(QString::number(QFileInfo(pdf).size())));

    const QImage page = rendered(pdf, 3, folder.path());
    QCOMPARE(page.size(), QSize(595, 842));
    const QColor inside = page.pixelColor(28 + 150, 28 + 125);
    QVERIFY2(inside.red() > 150 && inside.green() < 60 && inside.blue() < 60, qPrintable(inside.name()));
    QVERIFY(!inked(page.pixel(28 + 95, 28 + 125)));
    // The rule (its underscores just above the baseline at 300 points) reaches the right margin and
    // stops there.
    const int rule = 28 + 300 + 1;
    const auto inkIn = [&](int from, int to) {
        for (int x = from; x < to; ++x) {
            for (int y = rule - 2; y <= rule + 2; ++y) {
                if (inked(page.pixel(x, y))) {
                    return true;
                }
            }
        }
        return false;
    };
    QVERIFY(inkIn(30, 40));
    QVERIFY(inkIn(555, 566));
    QVERIFY(!inkIn(568, 595));
}

void TestPdf::aDeviceThatFailsIsTold()
{
    QBuffer closed; // not open for writing: every write fails
    printing::PdfDocument document(closed, a4());
    for (int i = 0; i < 2000; ++i) {
        document.text(0, 200 + i, QStringLiteral("RIGA %1").arg(i), printing::printFont(QStringLiteral("Arial"), 10, false));
        document.newPage();
    }
    document.finish();
    QVERIFY(document.failed());
}

CARTEO_TEST_MAIN(TestPdf)
#include "tst_pdf.moc"
