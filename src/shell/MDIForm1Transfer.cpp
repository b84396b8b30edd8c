// The main window's part in export and import.
#include "shell/MDIForm1.h"

#include "app/ChildWindows.h"
#include "people/FrmEditori.h"
#include "people/frmAutori.h"
#include "transfer/FrmEsporta.h"
#include "transfer/FrmImporta.h"

#include <QMdiArea>
#include <QMdiSubWindow>

void MDIForm1::MnuFileEsporta_Click()
{
    // The window in front says what is exported; the last one activated while the menu is open.
    const QMdiSubWindow* front = m_area->currentSubWindow();
    const QWidget* shown = front ? front->widget() : nullptr;
    if (FrmBiblio* books = booksWindow(); books && shown == books) {
        FrmEsporta::showModal(this, FrmEsporta::What::Books, books->shownBookKeys());
    } else if (shown && shown == authorsWindow()) {
        FrmEsporta::showModal(this, FrmEsporta::What::Authors);
    } else if (shown && shown == publishersWindow()) {
        FrmEsporta::showModal(this, FrmEsporta::What::Publishers);
    } else {
        FrmEsporta::showModal(this, FrmEsporta::What::Catalogue);
    }
}

void MDIForm1::MnuFileImporta_Click()
{
    FrmImporta::showModal(this, [this] {
        // Every open list shows the books, authors and publishers written.
        if (FrmBiblio* books = booksWindow()) {
            books->readAgain();
        }
        if (frmAutori* authors = authorsWindow()) {
            authors->readAgain();
        }
        if (FrmEditori* publishers = publishersWindow()) {
            publishers->readAgain();
        }
    });
}
