// File → Esporta… and File → Importa… in the frame: what each window exports, the files written
// and read back, the import's three steps on a crafted file, its preview and its writes, and
// "Interrompi" during both, driven from the work itself.
#include "app/ChildWindows.h"
#include "app/FileDialogs.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Paths.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "controls/RecordListModel.h"
#include "exchange/Sheet.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "printing/FrmStato.h"
#include "shell/MDIForm1.h"
#include "store/Archive.h"
#include "support/Restrictions.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "transfer/FrmEsporta.h"
#include "transfer/FrmImporta.h"
#include "transfer/MappingPage.h"
#include "transfer/PreviewPage.h"
#include "transfer/SourcePage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <QtTest>

using testsupport::rowCount;
using testsupport::scalar;

namespace {

// Four books, three of them novels (ELEFANTI with two authors, so a search lists it twice); two
// authors, two publishers.
QString catalogue()
{
    return QStringLiteral(
        "INSERT INTO editori (ID_Editore, nome) VALUES (1, 'MONDADORI'), (2, 'EINAUDI');"
        "INSERT INTO autore (ID_autore, nome) VALUES (1, 'ROSSI MARIO'), (2, 'VERDI ANNA');"
        "INSERT INTO biblio (id, titolo, genere, id_edizione, anno) VALUES (500, 'ZETA', 'ROMANZO', 1, '1998'),"
        " (600, 'ALFA', 'SAGGIO', 2, '2001'), (300, 'ELEFANTI', 'ROMANZO', NULL, '1985'),"
        " (700, 'BETA', 'ROMANZO', 2, NULL);"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (500, 1), (300, 1), (300, 2), (600, 2);");
}

// `count` more books, BOOK 0001…, for runs long enough to be stopped.
QString manyBooks(int count)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo) SELECT 1000 + i, printf('BOOK %04d', i) FROM n;")
        .arg(count);
}

// The program in a temporary program folder, started on an archive of its own.
class Frame : public testsupport::ProgramFrame {
  public:
    explicit Frame(const QString& populateSql = catalogue())
        : ProgramFrame(populateSql, {}, [] { FrmStato::setClockForTests({}); })
    {
    }
    // Brings the window to the front of the frame, as a click on it does.
    void front(QWidget* window)
    {
        auto* sub = qobject_cast<QMdiSubWindow*>(window->parentWidget());
        QVERIFY(sub);
        main->mdiArea()->setActiveSubWindow(sub);
        QCOMPARE(main->mdiArea()->currentSubWindow(), sub);
    }
    QString file(const QString& name) const { return folder.filePath(name); }
};

// Triggers `item` and hands its modal dialog to `drive`; the dialog is closed afterwards if
// `drive` left it open (a failed check), so one failure never holds up the program.
template <typename Dialog> bool withDialog(QAction* item, const std::function<void(Dialog&)>& drive)
{
    bool kind = false;
    testsupport::NextModal answer([&](QWidget* w) {
        if (auto* dialog = qobject_cast<Dialog*>(w)) {
            kind = true;
            drive(*dialog);
        }
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) {
            d->reject();
        }
    });
    item->trigger();
    return answer.answered() && kind;
}

// The rows of a CSV file as the program writes them (UTF-8, ";").
QList<QStringList> readCsv(const QString& path)
{
    QList<QStringList> rows;
    const auto reader = exchange::csvReader(path, exchange::CsvFormat{exchange::Encoding::Utf8, QLatin1Char(';')});
    exchange::ReadRow row;
    while (reader->next(row)) {
        rows << row.fields;
    }
    return rows;
}

QStringList column(const QList<QStringList>& rows, int c)
{
    QStringList texts;
    for (int r = 1; r < rows.size(); ++r) {
        texts << rows.at(r).value(c);
    }
    return texts;
}

// Presses "Interrompi" on the progress window at the run's first report (a few hundred rows in),
// once the count is shown: the clock is asked when the window opens, then twice at a report
// (before and after letting the user in). `armed` says when to start; `calls` starts again at 0
// for each run.
struct Stopper {
    bool armed = true;
    int calls = 0;
    bool pressed = false;
    QString caption; // the progress window's, when pressed
    QString count;   // how far it had gone
    void install()
    {
        FrmStato::setClockForTests([this] {
            ++calls;
            if (armed && !pressed) {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    auto* window = qobject_cast<FrmStato*>(w);
                    if (window && window->isVisible() && calls > 2) {
                        pressed = true;
                        caption = window->windowTitle() + QLatin1Char('|') + window->Label1->text();
                        count = window->Label2->text();
                        window->Command1->click();
                    }
                }
            }
            return qint64(calls) * 1000; // every report lets the user in
        });
    }
};

QStringList entries(QWidget* window)
{
    QStringList texts;
    auto* list = window->findChild<controls::DBList*>(QStringLiteral("DBList1"));
    if (!list) {
        return texts;
    }
    for (int r = 0; r < list->listModel()->rowCount(); ++r) {
        texts << list->listModel()->textAt(r);
    }
    return texts;
}

QStringList listTexts(QTreeWidget* list, int c)
{
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        texts << list->topLevelItem(i)->text(c);
    }
    return texts;
}

// The crafted file: Windows-1252 with ";", the usual Italian headings; a row without title, a year
// that is not one, a repeat of row 2, a book already there (ZETA) with a price now.
QByteArray craftedCsv()
{
    return QByteArray("TITOLO;Autore;Casa editrice;Anno;Prezzo\r\n"
                      "Il nome della rosa;ECO UMBERTO;BOMPIANI;1980;12,50\r\n"
                      "Le citt\xe0 invisibili;CALVINO ITALO;EINAUDI;1972;9,00\r\n"
                      ";ROSSI MARIO;;1990;5\r\n"
                      "Libro strano;BIANCHI LUCA;;19x8;\r\n"
                      "Il nome della rosa;ECO UMBERTO;BOMPIANI;1980;12,50\r\n"
                      "ZETA;ROSSI MARIO;MONDADORI;1998;15,00\r\n");
}

} // namespace

class TestTransferWindows : public QObject {
    Q_OBJECT

    testsupport::ModalWatchdog m_watchdog;

  private slots:
    void initTestCase() { MDIForm1::setEndProgram([] {}); }
    void init()
    {
        testsupport::resetShellState();
        msg::setRecording(true);
    }

    void fileMenuHasExportAndImport()
    {
        Frame frame;
        QStringList names;
        for (QAction* a : frame.main->findChild<QMenu*>(QStringLiteral("mnuFile"))->actions()) {
            names << a->objectName();
        }
        QCOMPARE(names, (QStringList{QStringLiteral("MnuFileApri"), QStringLiteral("MnuFileNew"),
                                     QStringLiteral("MnuFileEsporta"), QStringLiteral("MnuFileImporta"),
                                     QStringLiteral("MnuFileImportaPrecedente"), QStringLiteral("mnuFileSep1"),
                                     QStringLiteral("MnFileEsci")}));
        QCOMPARE(frame.action(QStringLiteral("MnuFileEsporta"))->text(), QStringLiteral("Es&porta…"));
        QCOMPARE(frame.action(QStringLiteral("MnuFileImporta"))->text(), QStringLiteral("&Importa…"));
    }

    // "Importa archivio precedente…" reads the old archive through before it makes anything: a file
    // that is not such an archive, or one without the catalogue's tables, is told and the open
    // archive stays the open one.
    void legacyArchiveIsReadThroughFirst()
    {
        Frame frame;
        const QString before = Modulo1::PercorsoArchivio;
        const QDir folder(QFileInfo(frame.path).absolutePath());
        const QStringList archives = folder.entryList({QStringLiteral("*.mdb")}, QDir::Files);
        const QString sample = QFINDTESTDATA("data/users-jet4.mdb");
        QVERIFY2(!sample.isEmpty(), "the sample archive data/users-jet4.mdb is missing");
        QCOMPARE(exchange::kindOf(sample), exchange::FileKind::Legacy);

        dialogs::queueChoice(frame.path); // one of the program's own archives
        msg::queueAnswer(msg::Answer::Ok);
        frame.action(QStringLiteral("MnuFileImportaPrecedente"))->trigger();
        QVERIFY2(msg::shownTexts().value(0).contains(QStringLiteral("non è un archivio del programma precedente")),
                 qPrintable(msg::shownTexts().value(0)));

        dialogs::queueChoice(sample); // an archive of that engine, but not a catalogue
        msg::queueAnswer(msg::Answer::Ok);
        frame.action(QStringLiteral("MnuFileImportaPrecedente"))->trigger();
        QVERIFY2(msg::shownTexts().value(1).contains(QStringLiteral("manca la tabella \"biblio\"")),
                 qPrintable(msg::shownTexts().value(1)));
        QCOMPARE(Modulo1::PercorsoArchivio, before);
        QCOMPARE(folder.entryList({QStringLiteral("*.mdb")}, QDir::Files), archives); // no new archive made
    }

    // From the books window after a search: the books found, each once, in the list's order; the
    // whole catalogue when asked; a name without extension becomes a CSV file.
    void exportFromTheBooksWindowWritesWhatIsShown()
    {
        Frame frame;
        FrmBiblio* books = frame.main->booksWindow();
        QVERIFY(books);
        books::SearchPanel* search = books->searchPanel();
        search->Check1[2]->setChecked(true);
        search->Text2[2]->setText(QStringLiteral("ROMANZO"));
        search->Aggiorna();
        frame.front(books);
        QCOMPARE(books->shownBookKeys(), (QList<qint64>{700, 300, 500}));

        const QString found = frame.file(QStringLiteral("trovati"));
        dialogs::queueChoice(found);
        msg::queueAnswer(msg::Answer::Ok);
        QString shown, all;
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            shown = d.OptLibri_0->text();
            all = d.OptLibri_1->text();
            QVERIFY(d.OptLibri_0->isChecked());
            d.CmdEsporta->click();
        }));
        QCOMPARE(shown, QStringLiteral("I libri dell'elenco, come è mostrato (3)"));
        QCOMPARE(all, QStringLiteral("Tutto il catalogo (4)"));
        QCOMPARE(msg::shownTexts().value(0), QStringLiteral("Esportati 3 libri in trovati.csv."));
        const QList<QStringList> rows = readCsv(found + QStringLiteral(".csv"));
        QCOMPARE(rows.value(0).value(0), QStringLiteral("Codice"));
        QCOMPARE(column(rows, 0), (QStringList{QStringLiteral("700"), QStringLiteral("300"), QStringLiteral("500")}));
        QCOMPARE(rows.value(2).value(2), QStringLiteral("ROSSI MARIO; VERDI ANNA"));

        // The whole catalogue from the same window, in title order.
        const QString whole = frame.file(QStringLiteral("tutti.csv"));
        dialogs::queueChoice(whole);
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            d.OptLibri_1->click();
            d.CmdEsporta->click();
        }));
        QCOMPARE(msg::shownTexts().value(1), QStringLiteral("Esportati 4 libri in tutti.csv."));
        QCOMPARE(column(readCsv(whole), 1), (QStringList{QStringLiteral("ALFA"), QStringLiteral("BETA"),
                                                         QStringLiteral("ELEFANTI"), QStringLiteral("ZETA")}));
    }

    // The authors and publishers windows export their lists; with no window, the whole catalogue,
    // here as a workbook.
    void exportFromThePeopleWindowsAndWithoutWindow()
    {
        Frame frame;
        frame.main->MnuVisualAutori_Click();
        QVERIFY(frame.main->authorsWindow());
        frame.front(frame.main->authorsWindow());
        dialogs::queueChoice(frame.file(QStringLiteral("autori.csv")));
        msg::queueAnswer(msg::Answer::Ok);
        QString what;
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            what = d.LblCosa->text();
            QVERIFY(!d.OptLibri_0);
            d.CmdEsporta->click();
        }));
        QCOMPARE(what, QStringLiteral("L'elenco degli autori"));
        QCOMPARE(msg::shownTexts().value(0), QStringLiteral("Esportati 2 autori in autori.csv."));
        const QList<QStringList> authors = readCsv(frame.file(QStringLiteral("autori.csv")));
        QCOMPARE(authors.value(0), exchange::authorHeadings());
        QCOMPARE(column(authors, 0), (QStringList{QStringLiteral("ROSSI MARIO"), QStringLiteral("VERDI ANNA")}));

        frame.main->MnuVisualEditori_Click();
        QVERIFY(frame.main->publishersWindow());
        frame.front(frame.main->publishersWindow());
        dialogs::queueChoice(frame.file(QStringLiteral("editori.csv")));
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            what = d.LblCosa->text();
            d.CmdEsporta->click();
        }));
        QCOMPARE(what, QStringLiteral("L'elenco degli editori"));
        QCOMPARE(column(readCsv(frame.file(QStringLiteral("editori.csv"))), 0),
                 (QStringList{QStringLiteral("EINAUDI"), QStringLiteral("MONDADORI")}));

        // No window at all: the whole catalogue, to a workbook.
        for (auto kind : {childwindows::Kind::Books, childwindows::Kind::Authors, childwindows::Kind::Publishers}) {
            QVERIFY(childwindows::close(kind));
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const QString book = frame.file(QStringLiteral("catalogo.xlsx"));
        dialogs::queueChoice(book);
        msg::queueAnswer(msg::Answer::Ok);
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            what = d.LblCosa->text();
            d.CmdEsporta->click();
        }));
        QCOMPARE(what, QStringLiteral("Tutto il catalogo (4)"));
        QCOMPARE(msg::shownTexts().value(2), QStringLiteral("Esportati 4 libri in catalogo.xlsx."));
        QCOMPARE(testsupport::readFile(book).left(2), QByteArray("PK"));
    }

    // "Interrompi" at the first report of a long export: no file, nothing half-written beside it;
    // a cancelled save dialog does nothing at all.
    void exportStoppedLeavesNoFile()
    {
        Frame frame(catalogue() + manyBooks(1200));
        QVERIFY(childwindows::close(childwindows::Kind::Books));
        const QString target = frame.file(QStringLiteral("uscita/catalogo.csv"));
        QVERIFY(QDir().mkpath(frame.file(QStringLiteral("uscita"))));
        Stopper stopper;
        stopper.install();
        dialogs::queueChoice(target);
        dialogs::queueChoice(QString()); // then a cancel
        msg::queueAnswer(msg::Answer::Ok);
        bool stillOpen = false;
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            d.CmdEsporta->click();
            d.CmdEsporta->click(); // the cancel
            stillOpen = d.isVisible();
        }));
        QVERIFY(stopper.pressed);
        QCOMPARE(stopper.caption, QStringLiteral("Esportazione in corso...|Esportazione in corso..."));
        QCOMPARE(stopper.count, QStringLiteral("256 di 1204"));
        QVERIFY(stillOpen);
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Esportazione interrotta: nessun file è stato scritto.")});
        QCOMPARE(QDir(frame.file(QStringLiteral("uscita"))).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // A folder that cannot be written: the writer's message, the dialog open with its choice, no
    // file.
    void exportToAReadOnlyFolder()
    {
        Frame frame;
        const QString folder = frame.file(QStringLiteral("chiusa"));
        QVERIFY(QDir().mkpath(folder));
        testsupport::ReadOnlyFolder closed(folder, testsupport::ReadOnlyFolder::Way::Mount);
        if (!closed.isValid()) {
            QSKIP(qPrintable(closed.whyNot()));
        }
        frame.front(frame.main->booksWindow());
        dialogs::queueChoice(QDir(folder).filePath(QStringLiteral("catalogo.xlsx")));
        msg::queueAnswer(msg::Answer::Ok);
        bool stillOpen = false, wholeChosen = false;
        QVERIFY(withDialog<FrmEsporta>(frame.action(QStringLiteral("MnuFileEsporta")), [&](FrmEsporta& d) {
            d.OptLibri_1->click();
            d.CmdEsporta->click();
            stillOpen = d.isVisible();
            wholeChosen = d.OptLibri_1->isChecked();
        }));
        QVERIFY(stillOpen);
        QVERIFY(wholeChosen);
        QCOMPARE(msg::shownTexts().size(), 1);
        QVERIFY2(!msg::shownTexts().value(0).startsWith(QStringLiteral("Esportati")), qPrintable(msg::shownTexts().value(0)));
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // The wizard on a crafted file: what was detected, the columns guessed, the preview's counts and
    // reasons, and the import: books, authors, publishers, the windows and the archive's copy.
    void importWizardOnACraftedFile()
    {
        Frame frame;
        frame.main->MnuVisualAutori_Click();
        const QString csv = frame.file(QStringLiteral("nuovi.csv"));
        QVERIFY(testsupport::writeFile(csv, craftedCsv()));
        dialogs::queueChoice(csv);
        msg::queueAnswer(msg::Answer::Ok);

        QString encoding, separator, secondTitle, summary;
        QList<int> fields;
        QStringList discarded, updates, news;
        bool xlsDisabled = false;
        QVERIFY(withDialog<FrmImporta>(frame.action(QStringLiteral("MnuFileImporta")), [&](FrmImporta& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Importa"));
            QVERIFY(!d.CmdImporta->isEnabled());
            d.Origine->CmdSfoglia->click();
            encoding = d.Origine->CboCodifica->currentText();
            separator = d.Origine->CboSeparatore->currentText();
            secondTitle = d.Origine->GrdRighe->item(1, 0) ? d.Origine->GrdRighe->item(1, 0)->text() : QString();
            xlsDisabled = d.Origine->CboCodifica->isEnabled();
            d.CmdAvanti->click();
            QCOMPARE(d.step(), FrmImporta::Columns);
            for (QComboBox* combo : d.Colonne->CboCampo) {
                fields << combo->currentData().toInt();
            }
            d.CmdAvanti->click();
            QCOMPARE(d.step(), FrmImporta::Preview);
            summary = d.Anteprima->LblRiepilogo->text();
            QVERIFY(d.Anteprima->LblRiepilogo->font().bold());
            d.Anteprima->CboGruppo->setCurrentIndex(transfer::PreviewPage::News);
            news = listTexts(d.Anteprima->LstVoci, 1);
            d.Anteprima->CboGruppo->setCurrentIndex(transfer::PreviewPage::Discarded);
            discarded = listTexts(d.Anteprima->LstVoci, 2);
            d.Anteprima->CboGruppo->setCurrentIndex(transfer::PreviewPage::Updates);
            updates = listTexts(d.Anteprima->LstVoci, 2);
            QVERIFY(d.Anteprima->OptAggiorna_0->isChecked());
            QVERIFY(d.Anteprima->ChkSovrascrivi->isEnabled());
            QVERIFY(!d.Anteprima->ChkSovrascrivi->isChecked());
            d.Anteprima->OptAggiorna_1->click();
            QVERIFY(!d.Anteprima->ChkSovrascrivi->isEnabled());
            d.Anteprima->OptAggiorna_0->click();
            d.CmdImporta->click();
            QVERIFY(!d.isVisible());
        }));
        QCOMPARE(encoding, QStringLiteral("Windows-1252 (Excel italiano)"));
        QCOMPARE(separator, QStringLiteral(";"));
        QVERIFY(xlsDisabled);
        QCOMPARE(secondTitle, QStringLiteral("Le città invisibili"));
        using F = exchange::Field;
        QCOMPARE(fields, (QList<int>{int(F::Title), int(F::Authors), int(F::Publisher), int(F::Year), int(F::CostEuro)}));
        QCOMPARE(summary, QStringLiteral("2 nuovi, 1 da aggiornare, 0 uguali, 3 scartati"));
        QCOMPARE(news, (QStringList{QStringLiteral("Il nome della rosa"), QStringLiteral("Le città invisibili")}));
        QCOMPARE(discarded, (QStringList{QStringLiteral("riga senza titolo"), QStringLiteral("anno non valido: 19x8"),
                                         QStringLiteral("uguale alla riga 2")}));
        QCOMPARE(updates, QStringList{QStringLiteral("COSTO IN EURO: (vuoto) → 15,00")});

        // Written: the books, their authors and publishers, ZETA's price.
        QCOMPARE(rowCount(frame.path, QStringLiteral("biblio")), 6);
        QCOMPARE(scalar(frame.path, QStringLiteral("select costo_E from biblio where id = 500")).toDouble(), 15.0);
        QCOMPARE(scalar(frame.path, QStringLiteral("select count(*) from autore where nome in ('ECO UMBERTO', "
                                                   "'CALVINO ITALO')"))
                     .toInt(),
                 2);
        QCOMPARE(scalar(frame.path, QStringLiteral("select e.nome from biblio b join editori e on "
                                                   "b.id_edizione = e.ID_Editore where b.titolo = 'Le città invisibili'"))
                     .toString(),
                 QStringLiteral("EINAUDI"));
        const QString message = msg::shownTexts().value(0);
        const QString prefix = QStringLiteral("Importazione terminata: 2 libri aggiunti, 1 aggiornati.\r"
                                              "Copia dell'archivio prima dell'importazione: ");
        QVERIFY2(message.startsWith(prefix), qPrintable(message));
        const QString copy = QDir::fromNativeSeparators(message.mid(prefix.size()));
        QVERIFY2(QFileInfo::exists(copy), qPrintable(copy));
        QCOMPARE(QFileInfo(copy).dir().dirName(), QStringLiteral("copie"));
        QCOMPARE(rowCount(copy, QStringLiteral("biblio")), 4); // the archive as it was

        // The open windows show them.
        const QStringList titles = entries(frame.main->booksWindow());
        QVERIFY2(titles.contains(QStringLiteral("Le città invisibili")), qPrintable(titles.join(QLatin1Char('|'))));
        const QStringList names = entries(frame.main->authorsWindow());
        QVERIFY2(names.contains(QStringLiteral("CALVINO ITALO")), qPrintable(names.join(QLatin1Char('|'))));
    }

    // "Interrompi" during the preview goes back to the columns; during the import it writes nothing
    // and the window stays on its preview.
    void importStoppedWritesNothing()
    {
        Frame frame;
        QByteArray csv("Titolo;Anno\r\n");
        for (int i = 1; i <= 1500; ++i) {
            csv += QStringLiteral("NUOVO %1;2001\r\n").arg(i).toUtf8();
        }
        const QString file = frame.file(QStringLiteral("lungo.csv"));
        QVERIFY(testsupport::writeFile(file, csv));
        dialogs::queueChoice(file);
        msg::queueAnswer(msg::Answer::Ok);
        Stopper stopper;
        stopper.install();
        FrmImporta::Step afterStoppedPreview = FrmImporta::File, afterStoppedImport = FrmImporta::File;
        QString summary;
        QVERIFY(withDialog<FrmImporta>(frame.action(QStringLiteral("MnuFileImporta")), [&](FrmImporta& d) {
            d.Origine->CmdSfoglia->click();
            d.CmdAvanti->click();
            d.CmdAvanti->click(); // the preview, stopped
            afterStoppedPreview = d.step();
            stopper.armed = false;
            d.CmdAvanti->click(); // the preview, through
            summary = d.Anteprima->LblRiepilogo->text();
            stopper.armed = true;
            stopper.pressed = false;
            stopper.calls = 0;
            d.CmdImporta->click(); // stopped
            afterStoppedImport = d.step();
        }));
        QCOMPARE(afterStoppedPreview, FrmImporta::Columns);
        QCOMPARE(summary, QStringLiteral("1500 nuovi, 0 da aggiornare, 0 uguali, 0 scartati"));
        QVERIFY(stopper.pressed);
        QCOMPARE(stopper.caption, QStringLiteral("Importazione in corso...|Importazione in corso..."));
        QVERIFY2(stopper.count.endsWith(QLatin1Char('%')), qPrintable(stopper.count));
        QCOMPARE(afterStoppedImport, FrmImporta::Preview);
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Importazione interrotta: nulla è stato scritto.")});
        QCOMPARE(rowCount(frame.path, QStringLiteral("biblio")), 4);
    }

    // A workbook of Excel 2007, a picture, an empty file: the message, and the step stays; "Avanti"
    // without a file, or with no column for the title or the key, is refused with a message.
    void filesThatAreNotTablesAndColumnsThatCannotBeUsed()
    {
        Frame frame;
        const QString workbook = frame.file(QStringLiteral("nuovo.xlsx"));
        {
            auto writer = exchange::xlsxWriter(workbook, QStringLiteral("Libri"));
            writer->writeHeader({QStringLiteral("Titolo")});
            writer->writeRow({exchange::Cell::ofText(QStringLiteral("UNO"))});
            writer->finish();
        }
        const QString picture = frame.file(QStringLiteral("foto.csv"));
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(picture, "PNG"));
        const QString good = frame.file(QStringLiteral("buono.csv"));
        QVERIFY(testsupport::writeFile(good, "Anno;Note\r\n1999;una nota\r\n"));
        for (const QString& path : {workbook, picture, good}) {
            dialogs::queueChoice(path);
        }
        for (int i = 0; i < 4; ++i) {
            msg::queueAnswer(msg::Answer::Ok);
        }
        QList<FrmImporta::Step> steps;
        bool sourceAfterBad = true;
        QVERIFY(withDialog<FrmImporta>(frame.action(QStringLiteral("MnuFileImporta")), [&](FrmImporta& d) {
            d.CmdAvanti->click(); // no file yet
            steps << d.step();
            d.Origine->CmdSfoglia->click(); // the workbook
            d.Origine->CmdSfoglia->click(); // the picture
            sourceAfterBad = d.Origine->hasSource();
            steps << d.step();
            d.Origine->CmdSfoglia->click(); // a table with neither title nor key
            d.CmdAvanti->click();
            d.CmdAvanti->click(); // refused
            steps << d.step();
        }));
        QCOMPARE(steps, (QList<FrmImporta::Step>{FrmImporta::File, FrmImporta::File, FrmImporta::Columns}));
        QVERIFY(!sourceAfterBad);
        const QStringList texts = msg::shownTexts();
        QCOMPARE(texts.size(), 4);
        QCOMPARE(texts.value(0), QStringLiteral("Scegliere prima il file da importare."));
        QVERIFY2(texts.value(1).contains(QStringLiteral("nuovo.xlsx")) && texts.value(1).contains(QStringLiteral(".xls")),
                 qPrintable(texts.value(1)));
        QVERIFY2(texts.value(2).contains(QStringLiteral("foto.csv")), qPrintable(texts.value(2)));
        QVERIFY2(texts.value(3).startsWith(QStringLiteral("Nessuna colonna va nel titolo né nel codice")),
                 qPrintable(texts.value(3)));
        QCOMPARE(rowCount(frame.path, QStringLiteral("biblio")), 4);
    }

    // The archive busy with another user's write: the import says so and stays on its preview
    // with the choices made; once the archive is free, the same "Importa" writes.
    void importOnABusyArchiveStaysOnItsStep()
    {
        Frame frame;
        const QString csv = frame.file(QStringLiteral("nuovi.csv"));
        QVERIFY(testsupport::writeFile(csv, craftedCsv()));
        dialogs::queueChoice(csv);
        msg::queueAnswer(msg::Answer::Ok);
        msg::queueAnswer(msg::Answer::Ok);
        FrmImporta::Step after = FrmImporta::File;
        bool keptChoice = false;
        QVERIFY(withDialog<FrmImporta>(frame.action(QStringLiteral("MnuFileImporta")), [&](FrmImporta& d) {
            d.Origine->CmdSfoglia->click();
            d.CmdAvanti->click();
            d.CmdAvanti->click();
            d.Anteprima->OptAggiorna_1->click();
            {
                const auto other = store::Archive::open(frame.path);
                store::Transaction writing(*other);
                other->exec(QStringLiteral("UPDATE biblio SET note = 'altro' WHERE id = 600"));
                d.CmdImporta->click(); // busy
                after = d.step();
                keptChoice = d.Anteprima->OptAggiorna_1->isChecked();
            }
            d.CmdImporta->click();
        }));
        QCOMPARE(after, FrmImporta::Preview);
        QVERIFY(keptChoice);
        QCOMPARE(msg::shownTexts().size(), 2);
        QVERIFY2(msg::shownTexts().value(1).startsWith(QStringLiteral("Importazione terminata: 2 libri aggiunti, 0 "
                                                                      "aggiornati.")),
                 qPrintable(msg::shownTexts().join(QLatin1Char('|'))));
        QCOMPARE(rowCount(frame.path, QStringLiteral("biblio")), 6);
        QVERIFY(scalar(frame.path, QStringLiteral("select costo_E from biblio where id = 500")).isNull());
    }
};

CARTEO_TEST_MAIN(TestTransferWindows)
#include "tst_windows.moc"
