// The reminder letters read back from their PDF as the user saves it with "PDF...", the pages they
// begin, their cuts and margins, the logo on every letter, nobody late; the loan settings dialog.
#include "app/FileDialogs.h"
#include "app/LoanSettings.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "loans/FrmImpostazioniPrestiti.h"
#include "loans/LoanPrinting.h"
#include "printing/LoanLetters.h"
#include "printing/PrintRun.h"
#include "printing/RecordingSurface.h"
#include "printing/frmstampa.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "store/Loans.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QTest>

namespace desk = store::loans;

namespace {

const QDate kToday(2026, 12, 9);

enum : qint64 { Anna = 1, Bruno = 2, Carla = 3 };

QString library()
{
    return QStringLiteral(
        "INSERT INTO biblio (id, titolo) VALUES (10, 'I PROMESSI SPOSI'), (20, 'L''ORO DI NAPOLI'), "
        "(30, 'LE CITTÀ INVISIBILI'), (40, 'ORIENTE'), (50, 'IL BARONE RAMPANTE'), (60, 'LA COSCIENZA DI ZENO'), "
        "(70, 'IL GATTOPARDO'), (80, 'STORIA DI UNA LUNGHISSIMA ESTATE PASSATA TRA LE COLLINE DELLE LANGHE "
        "A LEGGERE ROMANZI DI OGNI GENERE E DI OGNI EPOCA');"
        "INSERT INTO lettori (ID_Lettore, nome, indirizzo) VALUES (1, 'ANNA ROSSI', 'VIA ROMA 1\n00100 ROMA'), "
        "(2, 'BRUNO BIANCHI', 'VIA PO 2'), (3, 'CARLA VERDI', NULL);");
}

// What a system tool prints; empty when it fails.
QString run(const QString& tool, const QStringList& arguments)
{
    QProcess p;
    p.start(tool, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of `pdf` (of one page when `page` > 0), as pdftotext lays it out.
QString pdfText(const QString& pdf, int page = 0)
{
    QStringList arguments{QStringLiteral("-layout")};
    if (page > 0) {
        arguments << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l") << QString::number(page);
    }
    return run(QStringLiteral("pdftotext"), arguments << pdf << QStringLiteral("-"));
}

int pdfPages(const QString& pdf)
{
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {pdf}));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The lines of a text with their runs of blanks as one space (the layout's columns vary).
QStringList simplifiedLines(const QString& text)
{
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.trimmed().isEmpty()) {
            lines << line.simplified();
        }
    }
    return lines;
}

struct Box {
    double x0 = 0, x1 = 0;
    QString text;
};
QList<Box> boxesOf(const QString& pdf)
{
    static const QRegularExpression word(QStringLiteral("<word xMin=\"([0-9.]+)\" yMin=\"[0-9.]+\" "
                                                        "xMax=\"([0-9.]+)\" yMax=\"[0-9.]+\">([^<]*)</word>"));
    QList<Box> boxes;
    const QString out = run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    for (auto it = word.globalMatch(out); it.hasNext();) {
        const auto m = it.next();
        boxes.append(Box{m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return boxes;
}

void saveSettings(const QString& name, const QString& address, const QString& letter)
{
    LoanSettings s = LoanSettings::load();
    s.libraryName = name;
    s.libraryAddress = address;
    s.letterText = letter;
    s.save();
}

// The answer to the print options dialog: the logo box as told, then the button `button`.
std::unique_ptr<testsupport::NextModal> onPrintDialog(const QString& button, bool logo)
{
    return std::make_unique<testsupport::NextModal>([button, logo](QWidget* modal) {
        auto* dialog = qobject_cast<frmstampa*>(modal);
        if (!dialog) {
            modal->close();
            QFAIL(qPrintable(QStringLiteral("another dialog came first: ") + modal->objectName()));
        }
        dialog->findChild<QCheckBox*>(QStringLiteral("Check1"))->setChecked(logo);
        dialog->findChild<QPushButton*>(button)->click();
    });
}

// A program folder with an archive of borrowers and books, open, and a window to print from.
struct Desk {
    testsupport::ProgramFolder folder;
    QString path;
    std::shared_ptr<store::Archive> archive;
    QWidget window;

    Desk()
    {
        testsupport::resetShellState();
        path = folder.createArchive(QStringLiteral("archivio/prestiti.mdb"), library());
        archive = store::Archive::open(path);
        window.show();
    }

    void lend(qint64 book, qint64 borrower, const QDate& day, int days)
    {
        const desk::Result r = desk::lend(*archive, book, borrower, day, days, 0);
        QVERIFY2(r.done(), qPrintable(r.message));
    }

    // "Lettera" with the options dialog answered by "PDF..." and the file chosen `pdf`; true when
    // the dialog was shown and answered.
    bool lettersToPdf(const QString& pdf, bool logo = false)
    {
        dialogs::queueChoice(pdf);
        const auto answer = onPrintDialog(QStringLiteral("Command5"), logo);
        loans::printLetters(&window, *archive, kToday);
        return answer->answered();
    }
};

} // namespace

class TestLetters : public QObject {
    Q_OBJECT
  private slots:
    void init()
    {
        testsupport::resetShellState();
        paths::settings()->remove(QStringLiteral("Prestiti"));
    }

    void aLetterHoldsTheOverdueBooksAndEachBorrowerBeginsAPage();
    void longTitlesAreCutAndTheTextStaysWithinTheMargins();
    void theLogoHeadsEveryLetterAndTheProgressCountsLetters();
    void aNewPageIsBegunOnlyByWhatIsDrawnOnIt();
    void nobodyLateSaysSoAndWritesNothing();
    void settingsAreSavedAsTypedAndKeptInRange();
    void aSaveThatFailsKeepsTheDialogOpenWithWhatWasTyped();
    void theOptionsMenuOpensTheSettings();

  private:
    testsupport::ModalWatchdog m_watchdog{30000};
};

void TestLetters::aLetterHoldsTheOverdueBooksAndEachBorrowerBeginsAPage()
{
    Desk d;
    saveSettings(QStringLiteral("Biblioteca San Rocco"), QStringLiteral("Piazza Duomo 3\n20100 Milano"),
                 QStringLiteral("Gentile lettore,\nLa preghiamo di riportare i libri qui elencati."));
    // Anna: three books overdue, one not due yet, one returned late (no longer out).
    d.lend(10, Anna, QDate(2026, 10, 1), 30);  // due 31/10: 39 days late
    d.lend(20, Anna, QDate(2026, 10, 20), 15); // due 04/11: 35 days late
    d.lend(30, Anna, QDate(2026, 11, 1), 30);  // due 01/12: 8 days late
    d.lend(40, Anna, QDate(2026, 12, 1), 30);  // due 31/12
    d.lend(50, Anna, QDate(2026, 9, 1), 10);
    QVERIFY(desk::returnBook(*d.archive, 50, QDate(2026, 10, 15)).done());
    // Bruno: one book overdue; Carla: none.
    d.lend(60, Bruno, QDate(2026, 11, 2), 30); // due 02/12: 7 days late
    d.lend(70, Carla, QDate(2026, 12, 5), 30);

    const QString pdf = d.folder.filePath(QStringLiteral("lettere.pdf"));
    QVERIFY(d.lettersToPdf(pdf));
    QCOMPARE(msg::shownTexts(), QStringList());
    QCOMPARE(dialogs::requests().size(), 1);
    QVERIFY2(dialogs::requests().constFirst().initialFolder.endsWith(QLatin1String("Lettere di sollecito.pdf")),
             qPrintable(dialogs::requests().constFirst().initialFolder));
    QCOMPARE(pdfPages(pdf), 2);

    const QStringList anna = simplifiedLines(pdfText(pdf, 1));
    const QStringList expected{QStringLiteral("Biblioteca San Rocco"),
                               QStringLiteral("Piazza Duomo 3"),
                               QStringLiteral("20100 Milano"),
                               QStringLiteral("ANNA ROSSI"),
                               QStringLiteral("VIA ROMA 1"),
                               QStringLiteral("00100 ROMA"),
                               QStringLiteral("9 dicembre 2026"),
                               QStringLiteral("Oggetto: sollecito di restituzione dei libri in prestito"),
                               QStringLiteral("Gentile lettore,"),
                               QStringLiteral("La preghiamo di riportare i libri qui elencati."),
                               QStringLiteral("Titolo Prestato il Da restituire il Giorni di ritardo"),
                               QStringLiteral("I PROMESSI SPOSI 01/10/2026 31/10/2026 39"),
                               QStringLiteral("L'ORO DI NAPOLI 20/10/2026 04/11/2026 35"),
                               QStringLiteral("LE CITTÀ INVISIBILI 01/11/2026 01/12/2026 8"),
                               QStringLiteral("Biblioteca San Rocco")};
    QCOMPARE(anna, expected);

    const QString bruno = pdfText(pdf, 2);
    QVERIFY2(bruno.contains(QStringLiteral("BRUNO BIANCHI")), qPrintable(bruno));
    QVERIFY(simplifiedLines(bruno).contains(QStringLiteral("LA COSCIENZA DI ZENO 02/11/2026 02/12/2026 7")));
    QVERIFY(!bruno.contains(QStringLiteral("ANNA")));
    QVERIFY(!pdfText(pdf).contains(QStringLiteral("CARLA")));
}

void TestLetters::longTitlesAreCutAndTheTextStaysWithinTheMargins()
{
    Desk d;
    const QString word = QString(150, QLatin1Char('W')); // wider than the page
    QString paragraph;
    for (int i = 1; i <= 120; ++i) {
        paragraph += QStringLiteral("parola%1 ").arg(i);
    }
    saveSettings(QString(), QString(), paragraph + QLatin1Char('\n') + word);
    d.lend(80, Anna, QDate(2026, 11, 1), 10);

    const QString pdf = d.folder.filePath(QStringLiteral("lunghe.pdf"));
    QVERIFY(d.lettersToPdf(pdf));
    QCOMPARE(msg::shownTexts(), QStringList());
    const QStringList lines = simplifiedLines(pdfText(pdf));
    // The title is cut before the loan's dates, which follow on its line.
    const QString titleLine = lines.filter(QStringLiteral("STORIA DI UNA")).value(0);
    QVERIFY2(titleLine.endsWith(QStringLiteral("\u2026 01/11/2026 11/11/2026 28")), qPrintable(titleLine));
    QVERIFY(!titleLine.contains(QStringLiteral("EPOCA")));
    // No empty name of the library: the closing names the library plainly.
    QCOMPARE(lines.constLast(), QStringLiteral("La biblioteca"));

    // Every word of the paragraph, in order, over several lines; the long word broken into pieces.
    const QList<Box> boxes = boxesOf(pdf);
    QVERIFY(!boxes.isEmpty());
    QStringList words;
    QString broken;
    for (const Box& b : boxes) {
        if (b.text.startsWith(QLatin1String("parola"))) {
            words << b.text;
        } else if (b.text.startsWith(QLatin1Char('W'))) {
            broken += b.text;
        }
    }
    QCOMPARE(words.size(), 120);
    QCOMPARE(words.constLast(), QStringLiteral("parola120"));
    QCOMPARE(broken, word);
    QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^W+$"))).size() >= 2);
    QVERIFY(lines.filter(QStringLiteral("parola")).size() >= 5);
    // Nothing reaches past the right margin of the printable area.
    const QRectF area = printing::currentPrinter().pageLayout().paintRect(QPageLayout::Point);
    for (const Box& b : boxes) {
        QVERIFY2(b.x1 <= area.right() + 0.05, qPrintable(b.text + QStringLiteral(" ends at ") + QString::number(b.x1)));
        QVERIFY2(b.x0 >= area.left() - 0.05, qPrintable(b.text));
    }
}

void TestLetters::theLogoHeadsEveryLetterAndTheProgressCountsLetters()
{
    Desk d;
    QImage logo(40, 20, QImage::Format_RGB32);
    logo.fill(Qt::darkBlue);
    QVERIFY(logo.save(d.folder.filePath(QStringLiteral("logo.jpg")), "JPG"));
    d.lend(10, Anna, QDate(2026, 10, 1), 30);
    d.lend(20, Bruno, QDate(2026, 10, 1), 30);
    d.lend(30, Carla, QDate(2026, 10, 1), 30);

    printing::RecordingSurface surface;
    printing::setSurfaceForTests(&surface);
    const auto answer = onPrintDialog(QStringLiteral("Command2"), true);
    loans::printLetters(&d.window, *d.archive, kToday);
    printing::setSurfaceForTests(nullptr);
    QVERIFY(answer->answered());

    QCOMPARE(surface.documents.size(), 1);
    QCOMPARE(surface.documents.constFirst().pages, 3);
    QCOMPARE(surface.pictures.size(), 3);
    for (int page = 1; page <= 3; ++page) {
        QCOMPARE(surface.pictures.at(page - 1).page, page);
        // The letter's first line below the logo, where the text of every printout begins.
        for (const auto& t : surface.texts) {
            if (t.page == page) {
                QCOMPARE(t.at.y(), 1234.0);
                break;
            }
        }
    }
    const QStringList names{QStringLiteral("ANNA ROSSI"), QStringLiteral("BRUNO BIANCHI"),
                            QStringLiteral("CARLA VERDI")};
    for (const auto& t : surface.texts) {
        if (names.contains(t.text)) {
            QCOMPARE(t.page, int(names.indexOf(t.text)) + 1);
        }
    }

    // The progress counts letters, one step each.
    struct Counted : printing::Progress {
        QList<int> begun;
        int steps = 0;
        void begin(int total) override { begun << total; }
        void step() override { ++steps; }
    } progress;
    printing::RecordingSurface again;
    printing::printReminderLetters(again, progress, desk::overdueByBorrower(*d.archive, kToday), LoanSettings::load(),
                                   kToday, false);
    again.endDoc();
    QCOMPARE(progress.begun, QList<int>{3});
    QCOMPARE(progress.steps, 3);
    QCOMPARE(again.documents.constFirst().pages, 3);
    QVERIFY(again.pictures.isEmpty());

    // "Interrompi" answered as the second letter ends: the document ends with the letters done.
    struct Stopping : printing::Progress {
        int steps = 0;
        void begin(int) override {}
        void step() override
        {
            if (++steps == 2) {
                throw printing::Interrupted{};
            }
        }
    } stopping;
    printing::PrintRequest request;
    request.content = [&](printing::PrintSurface& surface, printing::Progress& p) {
        printing::printReminderLetters(surface, p, desk::overdueByBorrower(*d.archive, kToday), LoanSettings::load(),
                                       kToday, false);
    };
    printing::RecordingSurface stopped;
    QVERIFY_THROWS_EXCEPTION(printing::Interrupted, printing::printCopy(stopped, request, stopping));
    QCOMPARE(stopped.documents.size(), 1);
    QCOMPARE(stopped.documents.constFirst().pages, 2);
    QCOMPARE(stopped.abandoned, 0);
}

void TestLetters::aNewPageIsBegunOnlyByWhatIsDrawnOnIt()
{
    printing::RecordingSurface s;
    s.newPage(); // no document yet
    s.printLine({printing::txt(QStringLiteral("UNO"))});
    QCOMPARE(s.page(), 1);
    s.newPage();
    s.newPage(); // asked twice, one page
    QCOMPARE(s.page(), 1);
    QCOMPARE(s.currentY(), 0.0);
    s.printLine({});
    s.printLine({printing::txt(QStringLiteral("DUE"))});
    QCOMPARE(s.page(), 2);
    s.newPage(); // the document ends without an empty page
    s.endDoc();
    QCOMPARE(s.documents.size(), 1);
    QCOMPARE(s.documents.constFirst().pages, 2);
    const auto second = s.lineAt(1, 2, s.texts.constLast().at.y());
    QCOMPARE(second.size(), 1);
    QCOMPARE(second.constFirst().text, QStringLiteral("DUE"));
    QVERIFY(second.constFirst().at.y() > 0); // below the empty line at the page's top
}

void TestLetters::nobodyLateSaysSoAndWritesNothing()
{
    Desk d;
    d.lend(10, Anna, QDate(2026, 12, 1), 30);  // not due yet
    d.lend(20, Bruno, QDate(2026, 11, 9), 30); // due today: not late
    const QString pdf = d.folder.filePath(QStringLiteral("nessuna.pdf"));
    dialogs::queueChoice(pdf);
    msg::queueAnswer(msg::Answer::Ok);
    loans::printLetters(&d.window, *d.archive, kToday);
    QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Nessun prestito in ritardo.")});
    QVERIFY(dialogs::requests().isEmpty());
    QVERIFY(!QFileInfo::exists(pdf));
}

void TestLetters::settingsAreSavedAsTypedAndKeptInRange()
{
    bool seen = false;
    testsupport::NextModal answer([&seen](QWidget* modal) {
        auto* f = qobject_cast<FrmImpostazioniPrestiti*>(modal);
        if (!f) {
            modal->close();
            return;
        }
        seen = true;
        QCOMPARE(f->windowTitle(), QStringLiteral("Impostazioni prestiti"));
        // As saved, or the defaults.
        QCOMPARE(f->TxtGiorni->value(), 30);
        QCOMPARE(f->TxtLibri->text(), QStringLiteral("nessun limite"));
        QCOMPARE(f->TxtLettera->toPlainText(), LoanSettings::defaultLetterText());
        // Every field named by its caption, which takes the keyboard to it.
        const QList<std::pair<QWidget*, QString>> captions{
            {f->TxtBiblioteca, QStringLiteral("Nome della biblioteca")},
            {f->TxtIndirizzo, QStringLiteral("Indirizzo")},
            {f->TxtGiorni, QStringLiteral("Durata del prestito (giorni)")},
            {f->TxtLibri, QStringLiteral("Libri per lettore")},
            {f->TxtLettera, QStringLiteral("Testo della lettera")}};
        for (const auto& [field, caption] : captions) {
            QCOMPARE(field->accessibleName(), caption);
            bool buddied = false;
            for (QLabel* label : f->findChildren<QLabel*>()) {
                buddied = buddied || (label->buddy() == field && label->text() == caption);
            }
            QVERIFY2(buddied, qPrintable(caption));
        }

        QTest::keyClicks(f->TxtBiblioteca, QStringLiteral("Biblioteca del Borgo"));
        f->TxtIndirizzo->setFocus();
        QTest::keyClicks(f->TxtIndirizzo, QStringLiteral("Via Larga 5"));
        QTest::keyClick(f->TxtIndirizzo, Qt::Key_Return);
        QTest::keyClicks(f->TxtIndirizzo, QStringLiteral("10100 Torino"));
        // Typed past the range: the digit that would leave it is refused.
        f->TxtGiorni->selectAll();
        QTest::keyClicks(f->TxtGiorni, QStringLiteral("500"));
        QCOMPARE(f->TxtGiorni->text(), QStringLiteral("50"));
        f->TxtLibri->selectAll();
        QTest::keyClicks(f->TxtLibri, QStringLiteral("1234"));
        QCOMPARE(f->TxtLibri->text(), QStringLiteral("123"));
        f->TxtLettera->setPlainText(QStringLiteral("Altro testo"));
        f->CmdTestoPredefinito->click();
        QCOMPARE(f->TxtLettera->toPlainText(), LoanSettings::defaultLetterText());
        f->TxtLettera->setPlainText(QStringLiteral("Caro lettore,\nriporti i libri."));
        f->CmdSalva->click();
    });
    FrmImpostazioniPrestiti::showModal(nullptr);
    QVERIFY(answer.answered());
    QVERIFY(seen);
    QCOMPARE(msg::shownTexts(), QStringList());
    LoanSettings s = LoanSettings::load();
    QCOMPARE(s.libraryName, QStringLiteral("Biblioteca del Borgo"));
    QCOMPARE(s.libraryAddress, QStringLiteral("Via Larga 5\n10100 Torino"));
    QCOMPARE(s.loanDays, 50);
    QCOMPARE(s.maxBooks, 123);
    QCOMPARE(s.letterText, QStringLiteral("Caro lettore,\nriporti i libri."));

    // A 0 left in the days becomes the least allowed, 1; Esc after it gives up and changes nothing.
    testsupport::NextModal zero([](QWidget* modal) {
        auto* f = qobject_cast<FrmImpostazioniPrestiti*>(modal);
        f->TxtGiorni->selectAll();
        QTest::keyClicks(f->TxtGiorni, QStringLiteral("0"));
        f->TxtLibri->selectAll();
        QTest::keyClicks(f->TxtLibri, QStringLiteral("0"));
        f->CmdSalva->click();
    });
    FrmImpostazioniPrestiti::showModal(nullptr);
    QVERIFY(zero.answered());
    s = LoanSettings::load();
    QCOMPARE(s.loanDays, 1);
    QCOMPARE(s.maxBooks, 0);

    testsupport::NextModal escape([](QWidget* modal) {
        auto* f = qobject_cast<FrmImpostazioniPrestiti*>(modal);
        f->TxtBiblioteca->setText(QStringLiteral("Da non salvare"));
        QTest::keyClick(f->TxtBiblioteca, Qt::Key_Escape);
    });
    FrmImpostazioniPrestiti::showModal(nullptr);
    QVERIFY(escape.answered());
    QCOMPARE(LoanSettings::load().libraryName, QStringLiteral("Biblioteca del Borgo"));
}

void TestLetters::aSaveThatFailsKeepsTheDialogOpenWithWhatWasTyped()
{
    saveSettings(QStringLiteral("Prima"), QString(), LoanSettings::defaultLetterText());
    const QString folder = QFileInfo(paths::settings()->fileName()).absolutePath();
    testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Mount);
    if (!readOnly.isValid()) {
        QSKIP(qPrintable(readOnly.whyNot()));
    }
    bool keptOpen = false;
    QString kept;
    testsupport::NextModal answer([&](QWidget* modal) {
        auto* f = qobject_cast<FrmImpostazioniPrestiti*>(modal);
        f->TxtBiblioteca->setText(QStringLiteral("Dopo"));
        f->TxtGiorni->setValue(45);
        msg::queueAnswer(msg::Answer::Ok);
        f->CmdSalva->click();
        keptOpen = f->isVisible() && f->result() == QDialog::Rejected;
        kept = f->TxtBiblioteca->text() + QLatin1Char('/') + QString::number(f->TxtGiorni->value());
        f->CmdAnnulla->click();
    });
    FrmImpostazioniPrestiti::showModal(nullptr);
    QVERIFY(answer.answered());
    QCOMPARE(msg::shownTexts().size(), 1);
    QVERIFY2(msg::shownTexts().constFirst().startsWith(
                 QStringLiteral("Non è stato possibile salvare le impostazioni dei prestiti")),
             qPrintable(msg::shownTexts().constFirst()));
    QVERIFY(keptOpen);
    QCOMPARE(kept, QStringLiteral("Dopo/45"));
    QCOMPARE(LoanSettings::load().libraryName, QStringLiteral("Prima"));
}

void TestLetters::theOptionsMenuOpensTheSettings()
{
    MDIForm1 main;
    auto* options = main.findChild<QMenu*>(QStringLiteral("MnuOpzionI"));
    QVERIFY(options);
    QStringList names;
    for (QAction* a : options->actions()) {
        names << a->objectName();
    }
    const qsizetype at = names.indexOf(QStringLiteral("MnuOpzioniPrestiti"));
    QVERIFY2(at > 0 && names.at(at - 1) == QStringLiteral("MnuOpzioniRipristina"), qPrintable(names.join(',')));
    QString seen;
    testsupport::NextModal answer([&seen](QWidget* modal) {
        seen = modal->objectName();
        modal->findChild<QPushButton*>(QStringLiteral("CmdAnnulla"))->click();
    });
    options->actions().at(at)->trigger();
    QVERIFY(answer.answered());
    QCOMPARE(seen, QStringLiteral("FrmImpostazioniPrestiti"));
}

CARTEO_TEST_MAIN(TestLetters)
#include "tst_letters.moc"
