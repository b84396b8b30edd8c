// The labels dialog of the books window: how it opens, the custom sheets saved by name, the first
// free label, the books chosen, and a run through "PDF...".
#include "app/FileDialogs.h"
#include "app/LoanSettings.h"
#include "app/Messages.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "books/FrmEtichette.h"
#include "books/LabelSheetPanel.h"
#include "books/SavedStocks.h"
#include "printing/Labels.h"
#include "printing/frmstampa.h"
#include "shell/MDIForm1.h"
#include "store/DbError.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

using testsupport::BooksWindow;
using testsupport::NextModal;

namespace {

// Page, margins, pitch, label, in the order of the dialog's measures.
void typeMeasures(books::LabelSheetPanel& sheet, const std::array<double, 8>& mm, int columns, int rows)
{
    for (int i = 0; i < 8; ++i) {
        sheet.TxtMisure[i]->setValue(mm[i]);
    }
    sheet.TxtColonne->setValue(columns);
    sheet.TxtRighe->setValue(rows);
}

void chooseStock(books::LabelSheetPanel& sheet, const QString& name)
{
    const int index = sheet.CboFoglio->findText(name);
    QVERIFY2(index >= 0, qPrintable(name));
    sheet.CboFoglio->setCurrentIndex(index);
}

// What the dialog showed when it opened.
struct Opening {
    bool seen = false;
    bool elenco = false;
    int stock = -1;
    QString stockName;
    int start = -1;
    bool firstChecked = false;
    QString library;
};

// Answers the labels dialog with what it shows at opening, then closes it.
std::unique_ptr<NextModal> readOpening(Opening& seen)
{
    return std::make_unique<NextModal>([&seen](QWidget* modal) {
        auto* d = qobject_cast<FrmEtichette*>(modal);
        if (!d) {
            modal->close();
            return;
        }
        seen.seen = true;
        seen.elenco = d->OptLibri[1]->isChecked();
        seen.stock = d->FraFoglio->CboFoglio->currentIndex();
        seen.stockName = d->FraFoglio->CboFoglio->currentText();
        seen.start = d->options().start;
        seen.firstChecked = d->FraFoglio->CmdEtichetta.value(0) && d->FraFoglio->CmdEtichetta[0]->isChecked();
        seen.library = d->ChkBiblioteca->isChecked() ? d->TxtBiblioteca->text() : QString();
        d->CmdChiudi->click();
    });
}

QString pdfInfo(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pagesOf(const QString& info)
{
    const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

// The page's size in millimetres.
QSizeF pageSizeOf(const QString& info)
{
    const auto m = QRegularExpression(QStringLiteral("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")).match(info);
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble() * 25.4 / 72, m.captured(2).toDouble() * 25.4 / 72) : QSizeF();
}

QString numberedBooks(int count)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo, posizione) SELECT i, 'Libro ' || i, 'A' || i FROM n;")
        .arg(count);
}

} // namespace

class TestLabelsDialog : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void init() { testsupport::resetShellState(); }

    void buttonAndMenuOpenOnTheListTheFirstStockAndLabel()
    {
        LoanSettings settings = LoanSettings::load();
        settings.libraryName = QStringLiteral("Biblioteca parrocchiale");
        settings.save();
        testsupport::ProgramFrame frame(BooksWindow::catalogue());
        // The menu item opens the books window first when it was closed.
        QVERIFY(frame.main->booksWindow());
        QVERIFY(frame.main->booksWindow()->closeWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTRY_VERIFY(!frame.main->booksWindow());
        Opening fromMenu;
        auto answer = readOpening(fromMenu);
        frame.action(QStringLiteral("MnuOpzioniEtichette"))->trigger();
        QVERIFY(fromMenu.seen);
        QVERIFY(frame.main->booksWindow());
        for (const Opening& o : {fromMenu}) {
            QVERIFY(o.elenco);
            QCOMPARE(o.stock, 0);
            QCOMPARE(o.stockName, printing::standardStocks().first().name);
            QCOMPARE(o.start, 0);
            QVERIFY(o.firstChecked);
            QCOMPARE(o.library, QStringLiteral("Biblioteca parrocchiale"));
        }
        // The button sits beside the two print buttons, and opens the same dialog.
        FrmBiblio* books = frame.main->booksWindow();
        auto* button = books->findChild<QPushButton*>(QStringLiteral("Command1_2"));
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("STAMPA ETICHETTE"));
        QCOMPARE(button->parentWidget(), books->findChild<QPushButton*>(QStringLiteral("Command1_1"))->parentWidget());
        Opening fromButton;
        answer = readOpening(fromButton);
        button->click();
        QVERIFY(fromButton.seen);
        QVERIFY(fromButton.elenco);
        QCOMPARE(fromButton.stock, 0);
        QCOMPARE(fromButton.start, 0);
        QVERIFY(fromButton.firstChecked);
        QVERIFY(msg::shownTexts().isEmpty());
    }

    void customStockIsSavedByNameAndReadBack()
    {
        BooksWindow books;
        const QString custom = QStringLiteral("Personalizzato…");
        {
            FrmEtichette d(books.window());
            d.show();
            books::LabelSheetPanel& sheet = *d.FraFoglio;
            QVERIFY(!sheet.FraMisure->isVisibleTo(&d));
            chooseStock(sheet, custom);
            QVERIFY(sheet.FraMisure->isVisibleTo(&d));
            typeMeasures(sheet, {210, 297, 10.5, 15.2, 95.3, 40.1, 90.4, 38.6}, 2, 6);
            QCOMPARE(sheet.CmdEtichetta.size(), 12);
            NextModal name([](QWidget* modal) {
                auto* ask = qobject_cast<QInputDialog*>(modal);
                if (!ask) {
                    modal->close();
                    return;
                }
                ask->setTextValue(QStringLiteral("  Scuola 2×6 "));
                ask->accept();
            });
            sheet.CmdSalvaFoglio->click();
            QVERIFY(name.answered());
            QCOMPARE(sheet.CboFoglio->currentText(), QStringLiteral("Scuola 2×6"));
            QVERIFY(sheet.CmdEliminaFoglio->isEnabled());
        }
        // Read back by a dialog opened again: after the standard stocks, before "Personalizzato…".
        {
            FrmEtichette d(books.window());
            books::LabelSheetPanel& sheet = *d.FraFoglio;
            const int standard = int(printing::standardStocks().size());
            QCOMPARE(sheet.CboFoglio->count(), standard + 2);
            QCOMPARE(sheet.CboFoglio->itemText(standard), QStringLiteral("Scuola 2×6"));
            QCOMPARE(sheet.CboFoglio->itemText(standard + 1), custom);
            sheet.CboFoglio->setCurrentIndex(standard);
            const printing::LabelStock s = sheet.stock();
            QCOMPARE(s.name, QStringLiteral("Scuola 2×6"));
            const std::array<double, 8> read{s.pageWidth, s.pageHeight, s.marginLeft, s.marginTop,
                                             s.pitchX,    s.pitchY,     s.labelWidth, s.labelHeight};
            const std::array<double, 8> typed{210, 297, 10.5, 15.2, 95.3, 40.1, 90.4, 38.6};
            for (int i = 0; i < 8; ++i) {
                QVERIFY2(qAbs(read[i] - typed[i]) < 0.05, qPrintable(QString::number(i)));
            }
            QCOMPARE(s.columns, 2);
            QCOMPARE(s.rows, 6);
            QCOMPARE(sheet.CmdEtichetta.size(), 12);
            // Deleted, after the question.
            msg::queueAnswer(msg::Answer::Yes);
            sheet.CmdEliminaFoglio->click();
            QCOMPARE(sheet.CboFoglio->count(), standard + 1);
        }
        QVERIFY(books::stocks::saved().isEmpty());
    }

    void unsoundStockIsRefused()
    {
        BooksWindow books;
        FrmEtichette d(books.window());
        books::LabelSheetPanel& sheet = *d.FraFoglio;
        chooseStock(sheet, QStringLiteral("Personalizzato…"));
        // Two labels 120 mm wide do not fit an A4 page.
        typeMeasures(sheet, {210, 297, 0, 0, 120, 40, 120, 40}, 2, 5);
        const QString problem = sheet.stock().problem();
        QVERIFY(!problem.isEmpty());
        msg::queueAnswer(msg::Answer::Ok);
        sheet.CmdSalvaFoglio->click(); // no name is asked: the watchdog would fail an unanswered dialog
        QCOMPARE(msg::shownTexts(), QStringList{problem});
        QVERIFY(books::stocks::saved().isEmpty());
        // Nor is it printed on.
        msg::queueAnswer(msg::Answer::Ok);
        d.CmdStampa->click();
        QCOMPARE(msg::shownTexts(), (QStringList{problem, problem}));
        QVERIFY_THROWS_EXCEPTION(store::DbError, books::stocks::save(sheet.stock()));
        QVERIFY(books::stocks::saved().isEmpty());
        // A saved stock damaged in the settings file (a measure that is not a number, labels off
        // the page) is not offered; the sound one beside it is.
        printing::LabelStock sound = printing::standardStocks().first();
        for (const QString& name : {QStringLiteral("Uno"), QStringLiteral("Due"), QStringLiteral("Tre")}) {
            sound.name = name;
            books::stocks::save(sound);
        }
        {
            const auto ini = paths::settings();
            ini->setValue(QStringLiteral("Etichette/fogli/1/larghezza_etichetta"), QStringLiteral("molto"));
            ini->setValue(QStringLiteral("Etichette/fogli/3/larghezza_pagina"), 20);
        }
        const QList<printing::LabelStock> offered = books::stocks::saved();
        QCOMPARE(offered.size(), 1);
        QCOMPARE(offered.first().name, QStringLiteral("Due"));
    }

    void startPositionIsTheLabelClicked()
    {
        BooksWindow books;
        FrmEtichette d(books.window());
        books::LabelSheetPanel& sheet = *d.FraFoglio;
        const printing::LabelStock first = printing::standardStocks().first();
        QCOMPARE(sheet.CmdEtichetta.size(), first.perSheet());
        QTest::mouseClick(sheet.CmdEtichetta[4], Qt::LeftButton);
        QCOMPARE(sheet.start(), 4);
        QCOMPARE(d.options().start, 4);
        for (int i = 0; i < sheet.CmdEtichetta.size(); ++i) {
            QCOMPARE(sheet.CmdEtichetta[i]->isChecked(), i == 4);
            QCOMPARE(sheet.CmdEtichetta[i]->text().isEmpty(), i >= 4); // the ones before are used
        }
        QVERIFY(sheet.CmdEtichetta[0]->accessibleName().contains(QStringLiteral("già usata")));
        QVERIFY(sheet.LblInizio->text().contains(
            QStringLiteral("riga %1, colonna %2").arg(4 / first.columns + 1).arg(4 % first.columns + 1)));
        // A stock with room for it keeps it; one without goes back to the first label.
        const printing::LabelStock* single = nullptr;
        for (const printing::LabelStock& s : printing::standardStocks()) {
            if (s.perSheet() <= 4) {
                single = &s;
            }
        }
        QVERIFY(single);
        chooseStock(sheet, single->name);
        QCOMPARE(sheet.CmdEtichetta.size(), single->perSheet());
        QCOMPARE(sheet.start(), 0);
    }

    void booksChosenAreExactlyThose()
    {
        BooksWindow books; // keys 300, 500, 700, 900; the list shows edera (900) first
        FrmEtichette d(books.window());
        QVERIFY(d.OptLibri[1]->isChecked());
        QCOMPARE(d.chosenKeys(), books.window().shownBookKeys());
        QCOMPARE(d.chosenKeys().size(), 4);
        d.OptLibri[0]->setChecked(true);
        QCOMPARE(d.chosenKeys(), QList<qint64>{900});
        d.TxtDaCodice->setValue(500);
        d.TxtACodice->setValue(700);
        QVERIFY(d.OptLibri[2]->isChecked());
        QCOMPARE(d.chosenKeys(), (QList<qint64>{500, 700}));
        d.TxtDaCodice->setValue(701);
        d.TxtACodice->setValue(299);
        QCOMPARE(d.chosenKeys(), (QList<qint64>{300, 500, 700}));
        d.OptLibri[3]->setChecked(true);
        QCOMPARE(d.LstScelti->count(), 4);
        QVERIFY(d.chosenKeys().isEmpty());
        d.LstScelti->item(3)->setCheckState(Qt::Checked);
        d.LstScelti->item(1)->setCheckState(Qt::Checked);
        const QList<qint64> listed = books.window().shownBookKeys();
        QCOMPARE(d.chosenKeys(), (QList<qint64>{listed[1], listed[3]}));
        QVERIFY(d.LstScelti->item(0)->text().startsWith(QStringLiteral("edera")));
        // Nothing chosen: said, and nothing printed.
        d.LstScelti->item(3)->setCheckState(Qt::Unchecked);
        d.LstScelti->item(1)->setCheckState(Qt::Unchecked);
        msg::queueAnswer(msg::Answer::Ok);
        d.CmdStampa->click();
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Non ci sono libri di cui stampare le etichette.")});
    }

    void pdfHasOnePagePerSheet()
    {
        BooksWindow books(numberedBooks(40));
        FrmEtichette d(books.window());
        books::LabelSheetPanel& sheet = *d.FraFoglio;
        const printing::LabelStock stock = printing::standardStocks().first();
        QCOMPARE(sheet.stock().name, stock.name);
        // Books 1 to 30 from label 20 of a part-used sheet: the rest of the first sheet, one full
        // sheet, and what is left on a third.
        d.TxtDaCodice->setValue(1);
        d.TxtACodice->setValue(30);
        QTest::mouseClick(sheet.CmdEtichetta[20], Qt::LeftButton);
        const int labels = 30;
        const int first = stock.perSheet() - 20;
        const int expected = 1 + (labels - first + stock.perSheet() - 1) / stock.perSheet();
        QTemporaryDir out;
        const QString pdf = out.filePath(QStringLiteral("etichette.pdf"));
        dialogs::queueChoice(pdf);
        NextModal options([](QWidget* modal) {
            auto* dialog = qobject_cast<frmstampa*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            dialog->findChild<QPushButton*>(QStringLiteral("Command5"))->click();
        });
        d.CmdStampa->click();
        QVERIFY(options.answered());
        QVERIFY2(msg::shownTexts().isEmpty(), qPrintable(msg::shownTexts().join(QLatin1Char('\n'))));
        const QString info = pdfInfo(pdf);
        QCOMPARE(pagesOf(info), expected);
        // The sheet's own paper.
        const QSizeF page = pageSizeOf(info);
        QVERIFY2(qAbs(page.width() - stock.pageWidth) < 0.5 && qAbs(page.height() - stock.pageHeight) < 0.5,
                 qPrintable(info));
        QVERIFY(dialogs::requests().size() == 1 && dialogs::requests().first().save);
        QVERIFY(dialogs::requests().first().initialFolder.endsWith(QStringLiteral("Etichette.pdf")));
    }
};

CARTEO_TEST_MAIN(TestLabelsDialog)
#include "tst_labels_dialog.moc"
