// The program by keyboard alone and with a screen reader: menu mnemonics and shortcuts, F1, the
// Tab order of each window, the plan's marker moved by the arrow keys, Escape that closes what lies
// open before the window, and a name for every control a screen reader reaches.
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/AuthorsPanel.h"
#include "books/FloorPlan.h"
#include "books/FrmBiblio.h"
#include "books/SearchPanel.h"
#include "controls/DBList.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "pictures/frminserisci.h"
#include "pictures/frmpicture.h"
#include "printing/FrmStato.h"
#include "printing/frmstampa.h"
#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"
#include "store/Archive.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QToolBar>
#include <QtTest>

#include <memory>

using testsupport::NextModal;

namespace {

// Stands in for the desktop's browser: remembers the pages the program asks to open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// The objectNames Tab visits from `start`, once round (at most `limit` stops).
QStringList tabStops(QWidget* start, int limit = 80)
{
    QWidget* window = start->window();
    start->setFocus(Qt::TabFocusReason);
    QStringList stops;
    QWidget* first = window->focusWidget();
    QWidget* current = first;
    while (current && stops.size() < limit) {
        stops << current->objectName();
        QTest::keyClick(current, Qt::Key_Tab);
        current = window->focusWidget();
        if (current == first) {
            break;
        }
    }
    return stops;
}

// `stops` from the first occurrence of `from`, `count` of them.
QStringList slice(const QStringList& stops, const QString& from, int count)
{
    const qsizetype at = stops.indexOf(from);
    return at < 0 ? QStringList{QStringLiteral("(no %1 in %2)").arg(from, stops.join(QLatin1Char(' ')))}
                  : stops.mid(at, count);
}

// The interactive controls of `root` (shown or not) that a screen reader would find without a name,
// and the read-only fields that Tab would stop at.
QStringList unnamedControls(QWidget* root)
{
    QStringList unnamed;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        const bool interactive =
            qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QAbstractItemView*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
            (qobject_cast<QAbstractScrollArea*>(w) && w->focusPolicy() != Qt::NoFocus) ||
            (qobject_cast<QFrame*>(w) && (w->focusPolicy() & Qt::TabFocus));
        // The text box and the list inside a combo box are the combo box's own, and a list's header
        // is the list's.
        bool part = false;
        for (QWidget* up = w->parentWidget(); up && up != root; up = up->parentWidget()) {
            part = part || qobject_cast<QComboBox*>(up) || qobject_cast<QAbstractItemView*>(up);
        }
        if (!interactive || part) {
            continue;
        }
        // Parts Qt makes for itself (the toolbar's overflow button, a list's viewport) count too.
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
        const QString name = face ? face->text(QAccessible::Name).trimmed() : QString();
        // A field that takes no typing is no Tab stop either.
        const auto* line = qobject_cast<QLineEdit*>(w);
        if (line && line->isReadOnly() && (line->focusPolicy() & Qt::TabFocus)) {
            unnamed << QStringLiteral("%1 (read-only, yet a Tab stop, in %2)").arg(w->objectName(), root->objectName());
        }
        if (name.isEmpty()) {
            unnamed << QStringLiteral("%1 (%2 in %3)")
                           .arg(w->objectName().isEmpty() ? QStringLiteral("<no objectName>") : w->objectName(),
                                QString::fromLatin1(w->metaObject()->className()), root->objectName());
        }
    }
    return unnamed;
}

// The letter after '&' in a caption, lower-cased; empty when it has none.
QString mnemonic(const QString& caption)
{
    const qsizetype at = caption.indexOf(QLatin1Char('&'));
    return at < 0 || at + 1 >= caption.size() ? QString() : caption.mid(at + 1, 1).toLower();
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

  private:
    testsupport::ModalWatchdog m_watchdog;
    std::unique_ptr<testsupport::ProgramFolder> m_folder;
    UrlCatcher m_browser;

    void startOnDefault(MDIForm1& main)
    {
        main.show();
        main.MDIForm_Load();
        QVERIFY(main.booksWindow());
        QCOMPARE(msg::shownTexts(), QStringList());
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
    }

    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

  private slots:
    void initTestCase()
    {
        QVERIFY(shell::installItalianTranslations(*QCoreApplication::instance()));
        MDIForm1::setEndProgram([] {});
    }

    void init()
    {
        testsupport::resetShellState();
        msg::setRecording(true);
        m_folder = std::make_unique<testsupport::ProgramFolder>();
        QVERIFY(m_folder->isValid());
        store::Archive::open(m_folder->defaultArchive())
            ->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (42, 'IL BARONE RAMPANTE')"));
        m_browser.opened.clear();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_browser, "open");
    }

    void cleanup()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        if (frmpicture* viewer = frmpicture::openViewer()) {
            viewer->close();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_folder.reset();
    }

    // ------------------------------------------------------------ menus

    void menusHaveMnemonicsAndShortcuts()
    {
        MDIForm1 main;
        startOnDefault(main);

        // Every menu and every item has a letter of its own within its menu.
        QStringList menuLetters;
        for (QAction* a : main.menuBar()->actions()) {
            if (a->menu()->objectName() == QLatin1String("mnusep") || a->menu()->objectName() == QLatin1String("MnuData")) {
                continue;
            }
            QVERIFY2(!mnemonic(a->text()).isEmpty(), qPrintable(a->text()));
            QVERIFY2(!menuLetters.contains(mnemonic(a->text())), qPrintable(a->text()));
            menuLetters << mnemonic(a->text());
            QStringList letters;
            for (QAction* item : a->menu()->actions()) {
                if (item->isSeparator()) {
                    continue;
                }
                QVERIFY2(!mnemonic(item->text()).isEmpty(), qPrintable(item->text()));
                QVERIFY2(!letters.contains(mnemonic(item->text())), qPrintable(item->text()));
                letters << mnemonic(item->text());
            }
        }
        QCOMPARE(menuLetters, (QStringList{"f", "v", "o", "?"}));

        // Every toolbar command is in a menu too, with a shortcut, and the shortcuts differ.
        const QStringList commands{"MnuFileApri", "MnuFileNew",       "MnFileEsci",         "MnuVisualBiblio",
                                   "MnuVisualAutori", "MnuVisualEditori", "MnuVisualAnteprima", "mnuGuida"};
        QSet<QKeySequence> keys;
        for (const QString& name : commands) {
            auto* a = main.findChild<QAction*>(name);
            QVERIFY2(a && !a->shortcut().isEmpty(), qPrintable(name));
            QVERIFY2(!keys.contains(a->shortcut()), qPrintable(name));
            keys.insert(a->shortcut());
        }
        QCOMPARE(main.findChild<QAction*>(QStringLiteral("MnuVisualAnteprima"))->parent()->objectName(),
                 QStringLiteral("MnuVisual"));
        QCOMPARE(main.findChild<QAction*>(QStringLiteral("mnuGuida"))->shortcut(), QKeySequence(Qt::Key_F1));

        // The shortcuts run their commands.
        QVERIFY(!main.authorsWindow());
        QTest::keyClick(&main, Qt::Key_2, Qt::ControlModifier);
        QVERIFY(main.authorsWindow());
        QTest::keyClick(&main, Qt::Key_3, Qt::ControlModifier);
        QVERIFY(main.publishersWindow());
        QVERIFY(!frmpicture::openViewer());
        QTest::keyClick(&main, Qt::Key_4, Qt::ControlModifier);
        QVERIFY(frmpicture::openViewer());
        frmpicture::openViewer()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(main.booksWindow()->closeWindow());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!main.booksWindow());
        main.activateWindow();
        QTest::keyClick(&main, Qt::Key_1, Qt::ControlModifier);
        QVERIFY(main.booksWindow());

        // F1 opens the guide, from the frame and from inside a window.
        QTest::keyClick(&main, Qt::Key_F1);
        QCOMPARE(m_browser.opened, QList<QUrl>{QUrl::fromLocalFile(FrmCopertina::guidePath())});
        QTest::keyClick(main.booksWindow()->findChild<QWidget*>(QStringLiteral("DBList1")), Qt::Key_F1);
        QCOMPARE(m_browser.opened.size(), 2);

        // Ctrl+Q asks before the program ends.
        msg::queueAnswer(msg::Answer::No);
        QTest::keyClick(&main, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(msg::shownTexts(), QStringList{QStringLiteral("Si vuole uscire dal programma?")});
        QVERIFY(main.isVisible());

        // Alt and the menu's letter open it; the item's letter runs the command.
        QTest::keyClick(&main, Qt::Key_V, Qt::AltModifier);
        auto* view = main.findChild<QMenu*>(QStringLiteral("MnuVisual"));
        QTRY_VERIFY(view->isVisible());
        QPointer<QWidget> authors = main.authorsWindow();
        QTest::keyClick(view, Qt::Key_A);
        QTRY_VERIFY(!view->isVisible());
        // "Autori" opens the window anew.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(main.authorsWindow());
        QVERIFY(!authors);

    }

    // ------------------------------------------------------------ Tab order

    void tabFollowsTheReadingOrder()
    {
        testsupport::BooksWindow books;
        FrmBiblio& w = books.window();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));

        const QStringList titles{"DBList1", "Option2_0", "CmdNuovo", "CmdModifica", "Cmdelimina", "Command1_0",
                                 "Command1_1", "Command1_2"};
        const QStringList search{"Check1_0", "Text2_0", "Check1_1", "Text2_1", "Check1_2", "Text2_2", "Check1_3",
                                 "Text2_3",  "Check1_4", "Text2_4", "Option1_0", "Command2"};
        // Browsing: the record and the plan take no typing, so Tab passes them by; "Trova", above the
        // titles, comes round after the plan.
        const QStringList browsing = titles + search + QStringList{"Command17", "TxtTrova"};
        QCOMPARE(tabStops(books.widget(QStringLiteral("DBList1"))), browsing);

        // Editing: the record row by row, left to right; never the code the program gives.
        click(books.widget(QStringLiteral("CmdModifica")));
        QVERIFY(w.isEditing());
        const QStringList record{"TxtFields_0",  "TxtFields_1",  "DBCombo2",     "TxtFields_3",  "DBCombo3",
                                 "Command13",    "TxtFields_4",  "TxtFields_5",  "TxtFields_6",  "TxtFields_7",
                                 "TxtFields_8",  "TxtFields_9",  "TxtFields_10", "TxtFields_11", "TxtFields_12",
                                 "TxtFields_18", "TxtFields_14", "Combo1",       "TxtFields_17", "TxtFields_13",
                                 "DBList2",      "Command8",     "Command7"};
        const QStringList editing = tabStops(books.widget(QStringLiteral("CmdNuovo")));
        QCOMPARE(slice(editing, QStringLiteral("TxtFields_0"), record.size() + 2),
                 (record + QStringList{"Picture5", "Command17"}));
        QVERIFY(!editing.contains(QStringLiteral("TxtCodice")));
        QVERIFY(books.widget(QStringLiteral("TxtCodice"))->focusPolicy() == Qt::ClickFocus);

        // The panels: their own controls, after the button that opens them.
        click(books.widget(QStringLiteral("Command13")));
        QCOMPARE(slice(tabStops(books.widget(QStringLiteral("Command13"))), QStringLiteral("Command13"), 5),
                 (QStringList{"Command13", "Command14", "DBList4", "Text1_4", "Text1_3"}));
        click(books.widget(QStringLiteral("Command14")));
        click(books.widget(QStringLiteral("Command8")));
        QCOMPARE(slice(tabStops(books.widget(QStringLiteral("Command7"))), QStringLiteral("Command7"), 5),
                 (QStringList{"Command7", "Command15", "DBList3", "Text1_1", "Text1_2"}));
        click(books.widget(QStringLiteral("Command15")));
        click(books.widget(QStringLiteral("CmdNuovo"))); // Annulla
        QVERIFY(!w.isEditing());

        // The authors and publishers windows: the list column, then the record and its lists.
        for (int kind = 0; kind < 2; ++kind) {
            std::unique_ptr<people::RecordWindow> people;
            if (kind == 0) {
                people = std::make_unique<frmAutori>();
            } else {
                people = std::make_unique<FrmEditori>();
            }
            people->Form_Load();
            // The counters are read with the list they count.
            QCOMPARE(people->Label1->accessibleName(),
                     (kind == 0 ? QStringLiteral("Autori") : QStringLiteral("Editori")) +
                         QStringLiteral(" in elenco: ") + people->Label1->text());
            QCOMPARE(people->Label2->accessibleName(), QStringLiteral("Titoli in elenco: ") + people->Label2->text());
            people->show();
            people->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(people.get()));
            QCOMPARE(tabStops(people->DBList1), (QStringList{"DBList1", "CmdNuovo", "CmdModifica", "Cmdelimina",
                                                             "Command1_0", "Command1_1", "DBList2", "Command2_0",
                                                             "DBList3", "Command2_1"}));
            people->CmdModifica_Click();
            QCOMPARE(slice(tabStops(people->CmdNuovo), QStringLiteral("Text1_0"), 4),
                     (QStringList{"Text1_0", "Text1_1", "Text1_2", "Text1_3"}));
            people->CmdNuovo_Click();
        }

        // The print dialog.
        frmstampa print(nullptr, true, QStringLiteral("Stampante"));
        print.show();
        print.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&print));
        // Row by row: the choice of cards (one stop, the arrows move within it) before the logo box.
        QCOMPARE(tabStops(print.Command1), (QStringList{"Command1", "Command2", "Command3", "Option1_0", "Check1",
                                                        "Command4", "Command5"}));
    }

    // ------------------------------------------------------------ the plan by keyboard

    void planMarkerMovesByArrowKeys()
    {
        testsupport::BooksWindow books;
        FrmBiblio& w = books.window();
        books::FloorPlan* plan = w.floorPlan();
        QWidget* panel = plan->Picture5;
        const QPoint start = plan->smallMarker();
        const int step = books::FloorPlan::kShortStep * books::kTwipsPerPixel;
        const int longStep = books::FloorPlan::kLongStep * books::kTwipsPerPixel;

        // Browsing: no Tab stop, and the keys move nothing.
        QCOMPARE(panel->focusPolicy(), Qt::NoFocus);
        QTest::keyClick(panel, Qt::Key_Right);
        QCOMPARE(plan->smallMarker(), start);

        click(books.widget(QStringLiteral("CmdModifica")));
        QVERIFY(panel->focusPolicy() & Qt::TabFocus);
        plan->placeMarkers(QPoint(600, 600));
        QTest::keyClick(panel, Qt::Key_Right);
        QCOMPARE(plan->smallMarker(), QPoint(600 + step, 600));
        QTest::keyClick(panel, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(plan->smallMarker(), QPoint(600 + step, 600 + longStep));
        QTest::keyClick(panel, Qt::Key_Left);
        QTest::keyClick(panel, Qt::Key_Up);
        QCOMPARE(plan->smallMarker(), QPoint(600, 600 + longStep - step));

        // At the edges the drop's rules hold: above or left of the panel is 10, beyond it the edge.
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(panel, Qt::Key_Up, Qt::ShiftModifier);
            QTest::keyClick(panel, Qt::Key_Left, Qt::ShiftModifier);
        }
        QCOMPARE(plan->smallMarker(), QPoint(10, 10));
        for (int i = 0; i < 40; ++i) {
            QTest::keyClick(panel, Qt::Key_Right, Qt::ShiftModifier);
            QTest::keyClick(panel, Qt::Key_Down, Qt::ShiftModifier);
        }
        const QPoint edge(panel->width() * books::kTwipsPerPixel, panel->height() * books::kTwipsPerPixel);
        QCOMPARE(plan->smallMarker(), edge);

        plan->placeMarkers(QPoint(900, 700));
        // The large view moves its marker and carries the place back to the small one.
        plan->openLargeView();
        const QPointF large = plan->largeMarker();
        QTest::keyClick(plan->Picture7, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(plan->largeMarker(), large - QPointF(longStep, 0));
        QCOMPARE(plan->smallMarker().x(), qRound(plan->largeMarker().x() / 2.195));
        plan->closeLargeView();

        // Stored as a mouse move is: the save writes the place.
        plan->placeMarkers(QPoint(900, 700));
        QTest::keyClick(panel, Qt::Key_Right);
        click(books.widget(QStringLiteral("CmdModifica"))); // Salva
        QVERIFY(!w.isEditing());
        const QString place = QStringLiteral("SELECT posx || ',' || posy FROM biblio WHERE id=%1");
        QCOMPARE(testsupport::scalar(books.path(), place.arg(Modulo1::IdLibroCorrente)).toString(),
                 QStringLiteral("%1,700").arg(900 + step));

        // Browsing again: the keys move nothing.
        const QPoint saved = plan->smallMarker();
        QTest::keyClick(panel, Qt::Key_Left);
        QCOMPARE(plan->smallMarker(), saved);
        QCOMPARE(panel->focusPolicy(), Qt::NoFocus);
    }

    // ------------------------------------------------------------ Escape

    void escapeClosesWhatIsOpenBeforeTheWindow()
    {
        testsupport::BooksWindow books;
        FrmBiblio& w = books.window();
        QWidget* list = books.widget(QStringLiteral("DBList1"));
        w.show();

        // A panel: the first Escape closes it alone.
        click(books.widget(QStringLiteral("CmdModifica")));
        click(books.widget(QStringLiteral("Command8")));
        QVERIFY(w.authorsPanel()->isVisible());
        QTest::keyClick(w.authorsPanel()->DBList3, Qt::Key_Escape);
        QVERIFY(!w.authorsPanel()->isVisible());
        QVERIFY(w.isVisible());
        QCOMPARE(w.focusWidget(), books.widget(QStringLiteral("Command8")));
        click(books.widget(QStringLiteral("CmdNuovo"))); // Annulla

        // The large plan, then an open search: each is closed alone; the search's values stay, the
        // book shown stays shown.
        w.floorPlan()->openLargeView();
        auto* genre = books.control<QCheckBox>(QStringLiteral("Check1_2"));
        click(genre);
        books.control<QLineEdit>(QStringLiteral("Text2_2"))->setText(QStringLiteral("ROMANZO"));
        w.searchPanel()->typingPauseEnded();
        QCOMPARE(books.entries(QStringLiteral("DBList1")).size(), 2); // Zeta, once per author
        const qint64 shown = Modulo1::IdLibroCorrente;
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!w.floorPlan()->Picture8->isVisible());
        QVERIFY(w.searchPanel()->isOpen());
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(w.isVisible());
        QVERIFY(!w.searchPanel()->isOpen());
        QCOMPARE(books.text(QStringLiteral("Text2_2")), QStringLiteral("ROMANZO"));
        QCOMPARE(books.entries(QStringLiteral("DBList1")).size(), 4);
        QCOMPARE(Modulo1::IdLibroCorrente, shown);
        QCOMPARE(books.control<controls::DBList>(QStringLiteral("DBList1"))->boundText(), QString::number(shown));

        // With nothing open, Escape closes the window.
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!w.isVisible());

        // During an edit the search is not closed, and the window stays with its message.
        w.show();
        click(genre);
        click(books.widget(QStringLiteral("CmdModifica")));
        msg::shownTexts().clear();
        msg::queueAnswer(msg::Answer::Ok);
        QTest::keyClick(books.widget(QStringLiteral("TxtFields_0")), Qt::Key_Escape);
        QCOMPARE(msg::shownTexts(), QStringList{msg::kEditingOpen});
        QVERIFY(w.isVisible());
        QVERIFY(w.searchPanel()->isOpen());
        QCOMPARE(books.text(QStringLiteral("TxtFields_0")).isEmpty(), false);
    }

    // ------------------------------------------------------------ screen readers

    void everyControlHasAName()
    {
        MDIForm1 main;
        startOnDefault(main);
        QStringList unnamed = unnamedControls(&main);

        FrmBiblio* books = main.booksWindow();
        books->CmdModifica_Click();
        books->findChild<QPushButton*>(QStringLiteral("Command8"))->click();
        books->findChild<QPushButton*>(QStringLiteral("Command13"))->click();
        books->floorPlan()->openLargeView();
        books->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
        unnamed << unnamedControls(books);
        books->CmdNuovo_Click();

        main.MnuVisualAutori_Click();
        main.MnuVisualEditori_Click();
        unnamed << unnamedControls(main.authorsWindow()) << unnamedControls(main.publishersWindow());

        for (bool cards : {true, false}) {
            frmstampa print(&main, cards, QStringLiteral("Stampante"));
            unnamed << unnamedControls(&print);
        }
        FrmStato progress;
        unnamed << unnamedControls(&progress);
        FrmCopertina cover;
        unnamed << unnamedControls(&cover);

        frmpicture viewer(&main);
        unnamed << unnamedControls(&viewer);

        frminserisci import(&main);
        unnamed << unnamedControls(&import);

        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
    }

    void messagesAndCountsAreReadOut()
    {
        // A message box is an alert to a screen reader, named after the program, its text read
        // with it; when assistive technology listens, showing it raises the alert event.
        static QList<QAccessible::Event> events;
        events.clear();
        QAccessible::installUpdateHandler([](QAccessibleEvent* e) { events << e->type(); });
        msg::setRecording(false);
        QAccessible::Role role = QAccessible::NoRole;
        QString spoken;
        NextModal ok([&](QWidget* box) {
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(box);
            role = face->role();
            spoken = face->text(QAccessible::Name) + QLatin1Char('|') + face->text(QAccessible::Value) +
                     QLatin1Char('|') + face->text(QAccessible::Description);
            qobject_cast<QMessageBox*>(box)->accept();
        });
        msg::show(QStringLiteral("Operazione completata!"), msg::Icon::Exclamation);
        QAccessible::installUpdateHandler(nullptr);
        QVERIFY(ok.answered());
        QCOMPARE(role, QAccessible::AlertMessage);
        QVERIFY2(spoken.startsWith(QStringLiteral("Carteo|")), qPrintable(spoken));
        QVERIFY2(spoken.contains(QStringLiteral("Operazione completata!")), qPrintable(spoken));
        // Offscreen no assistive technology listens, and Qt then raises no events at all.
        QCOMPARE(events.contains(QAccessible::Alert), QAccessible::isActive());

        // The number of titles is named with its meaning and follows the list.
        testsupport::BooksWindow books;
        auto* count = books.control<QLabel>(QStringLiteral("Label2"));
        QCOMPARE(count->accessibleName(), QStringLiteral("Numero dei titoli: 4"));
        books.control<QLineEdit>(QStringLiteral("Text2_0"))->setText(QStringLiteral("NESSUNA"));
        click(books.control<QCheckBox>(QStringLiteral("Check1_0")));
        QCOMPARE(count->accessibleName(), QStringLiteral("Numero dei titoli: 0"));
    }
};

CARTEO_TEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
