// The main window's menus and toolbar.
#include "shell/MDIForm1.h"

#include "app/Guard.h"
#include "controls/ReadingOrder.h"
#include "shell/FrmCopertina.h"

#include <QAction>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

namespace {

// `caption` carries its mnemonic ("&Esci"); `keys` is the item's shortcut, if any.
QAction* menuItem(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& keys = {})
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(keys);
    return action;
}

} // namespace

void MDIForm1::openGuide()
{
    // As the about window's link: without a browser or without the page nothing happens.
    QDesktopServices::openUrl(QUrl::fromLocalFile(FrmCopertina::guidePath()));
}

void MDIForm1::buildMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    guard::connect(menuItem(file, QStringLiteral("MnuFileApri"), QStringLiteral("&Apri Archivio"), QKeySequence::Open),
                   &QAction::triggered, this, [this] { MnuFileApri_Click(); });
    guard::connect(menuItem(file, QStringLiteral("MnuFileNew"), QStringLiteral("&Nuovo Archivio"),
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N)),
                   &QAction::triggered, this, [this] { MnuFileNew_Click(); });
    guard::connect(menuItem(file, QStringLiteral("MnuFileEsporta"), QStringLiteral("Es&porta…")), &QAction::triggered,
                   this, [this] { MnuFileEsporta_Click(); });
    guard::connect(menuItem(file, QStringLiteral("MnuFileImporta"), QStringLiteral("&Importa…")), &QAction::triggered,
                   this, [this] { MnuFileImporta_Click(); });
    guard::connect(menuItem(file, QStringLiteral("MnuFileImportaPrecedente"),
                            QStringLiteral("Importa archivio p&recedente…")),
                   &QAction::triggered, this, [this] { MnuFileImportaPrecedente_Click(); });
    file->addSeparator()->setObjectName(QStringLiteral("mnuFileSep1"));
    guard::connect(
        menuItem(file, QStringLiteral("MnFileEsci"), QStringLiteral("&Esci"), QKeySequence(Qt::CTRL | Qt::Key_Q)),
        &QAction::triggered, this, [this] { MnFileEsci_Click(); });

    QMenu* view = menuBar()->addMenu(QStringLiteral("&Visualizza"));
    view->setObjectName(QStringLiteral("MnuVisual"));
    guard::connect(menuItem(view, QStringLiteral("MnuVisualBiblio"), QStringLiteral("&Biblioteca"),
                            QKeySequence(Qt::CTRL | Qt::Key_1)),
                   &QAction::triggered, this, [this] { MnuVisualBiblio_Click(); });
    guard::connect(menuItem(view, QStringLiteral("MnuVisualAutori"), QStringLiteral("&Autori"),
                            QKeySequence(Qt::CTRL | Qt::Key_2)),
                   &QAction::triggered, this, [this] { MnuVisualAutori_Click(); });
    guard::connect(menuItem(view, QStringLiteral("MnuVisualEditori"), QStringLiteral("&Editori"),
                            QKeySequence(Qt::CTRL | Qt::Key_3)),
                   &QAction::triggered, this, [this] { MnuVisualEditori_Click(); });
    guard::connect(menuItem(view, QStringLiteral("MnuVisualPrestiti"), QStringLiteral("&Prestiti"),
                            QKeySequence(Qt::CTRL | Qt::Key_5)),
                   &QAction::triggered, this, [this] { MnuVisualPrestiti_Click(); });
    // The photo viewer is reached from the keyboard here too, not only from the toolbar.
    guard::connect(menuItem(view, QStringLiteral("MnuVisualAnteprima"), QStringLiteral("A&nteprima"),
                            QKeySequence(Qt::CTRL | Qt::Key_4)),
                   &QAction::triggered, this, [this] { Toolbar1_ButtonClick(7); });

    QMenu* options = menuBar()->addMenu(QStringLiteral("&Opzioni"));
    options->setObjectName(QStringLiteral("MnuOpzionI"));
    guard::connect(menuItem(options, QStringLiteral("MnuOpzioniRipara"), QStringLiteral("&Ripara e Compatta")),
                   &QAction::triggered, this, [this] { MnuOpzioniRipara_Click(); });
    guard::connect(menuItem(options, QStringLiteral("MnuOpzioniCopia"), QStringLiteral("&Crea Copia")),
                   &QAction::triggered, this, [this] { MnuOpzioniCopia_Click(); });
    MnuOpzioniTrasferisci =
        menuItem(options, QStringLiteral("MnuOpzioniTrasferisci"), QStringLiteral("Tra&sferisci sul server…"));
    MnuOpzioniTrasferisci->setEnabled(false); // until an archive file is open
    guard::connect(MnuOpzioniTrasferisci, &QAction::triggered, this, [this] { MnuOpzioniTrasferisci_Click(); });
    guard::connect(menuItem(options, QStringLiteral("MnuOpzioniRipristina"), QStringLiteral("Ri&pristina Copia…")),
                   &QAction::triggered, this, [this] { MnuOpzioniRipristina_Click(); });
    guard::connect(menuItem(options, QStringLiteral("MnuOpzioniPrestiti"), QStringLiteral("Impostazioni pres&titi…")),
                   &QAction::triggered, this, [this] { MnuOpzioniPrestiti_Click(); });
    guard::connect(menuItem(options, QStringLiteral("MnuOpzioniEtichette"), QStringLiteral("Stampa &etichette…")),
                   &QAction::triggered, this, [this] { MnuOpzioniEtichette_Click(); });
    options->addSeparator()->setObjectName(QStringLiteral("MnuSepOpzion"));
    guard::connect(menuItem(options, QStringLiteral("MnuOpzionInserisci"), QStringLiteral("&Inserisci Piantina")),
                   &QAction::triggered, this, [this] { MnuOpzionInserisci_Click(); });

    QMenu* info = menuBar()->addMenu(QStringLiteral("&?"));
    info->setObjectName(QStringLiteral("mnuInfo"));
    guard::connect(menuItem(info, QStringLiteral("mnuGuida"), QStringLiteral("&Guida"), QKeySequence::HelpContents),
                   &QAction::triggered, this, [] { openGuide(); });
    guard::connect(menuItem(info, QStringLiteral("mnuabaut"), QStringLiteral("&info...")), &QAction::triggered, this,
                   [this] { mnuabaut_Click(); });

    // Six blanks keep the date apart from the menus.
    QMenu* spacer = menuBar()->addMenu(QStringLiteral("      "));
    spacer->setObjectName(QStringLiteral("mnusep"));
    spacer->setEnabled(false);
    // Shows today's date once an archive is open.
    MnuData = menuBar()->addMenu(QStringLiteral("Data"));
    MnuData->setObjectName(QStringLiteral("MnuData"));
    // The button Qt adds when the menus do not fit is read out by its use.
    if (auto* more = menuBar()->findChild<QWidget*>(QStringLiteral("qt_menubar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("Altri menu"));
    }
}

void MDIForm1::buildToolbar()
{
    Toolbar1 = addToolBar(QStringLiteral("Toolbar1"));
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    struct Button {
        int index;
        const char* label;
        QStyle::StandardPixmap icon;
    };
    static constexpr Button buttons[] = {{1, "Biblioteca", QStyle::SP_FileDialogDetailedView},
                                         {3, "Autori", QStyle::SP_FileDialogContentsView},
                                         {5, "Editori", QStyle::SP_DirHomeIcon},
                                         {11, "Prestiti", QStyle::SP_ArrowRight},
                                         {7, "Anteprima", QStyle::SP_FileDialogInfoView},
                                         {9, "Esci", QStyle::SP_DialogCloseButton}};
    for (const Button& b : buttons) {
        if (b.index > 1) {
            // The separators keep their numbers, so the buttons keep theirs.
            Toolbar1->addSeparator()->setObjectName(QStringLiteral("Toolbar1_%1").arg(b.index - 1));
        }
        QAction* action = Toolbar1->addAction(style()->standardIcon(b.icon), QString::fromLatin1(b.label));
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(b.index));
        guard::connect(action, &QAction::triggered, this, [this, index = b.index] { Toolbar1_ButtonClick(index); });
    }
    Toolbar1->addSeparator();
    Text2 = new QLineEdit(QStringLiteral("Nome Archivio"), Toolbar1);
    Text2->setObjectName(QStringLiteral("Text2"));
    Text2->setReadOnly(true);
    Text2->setFocusPolicy(Qt::NoFocus);
    Text2->setAccessibleName(Text2->text());
    Text2->setFixedWidth(Text2->fontMetrics().horizontalAdvance(Text2->text()) + 16);
    Toolbar1->addWidget(Text2);
    // The program writes the path here; the user reads it (and may copy it) but never edits it.
    Text1 = new QLineEdit(Toolbar1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setReadOnly(true);
    Text1->setMinimumWidth(420);
    Text1->setAccessibleName(QStringLiteral("Nome Archivio"));
    controls::notTabStop(Text1);
    Toolbar1->addWidget(Text1);
    if (auto* more = Toolbar1->findChild<QWidget*>(QStringLiteral("qt_toolbar_ext_button"))) {
        more->setAccessibleName(QStringLiteral("Altri comandi"));
    }
}
