#include "books/FrmBiblio.h"

#include <QSet>

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/WindowClosing.h"
#include "books/AuthorsPanel.h"
#include "books/BookLabels.h"
#include "books/BookPrinting.h"
#include "books/BookFields.h"
#include "books/FloorPlan.h"
#include "books/PublishersPanel.h"
#include "books/LoanLine.h"
#include "books/QuickFind.h"
#include "books/SearchPanel.h"
#include "books/TitleList.h"
#include "controls/Barcode.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "controls/ReadingOrder.h"
#include "pictures/Photos.h"
#include "pictures/frmpicture.h"
#include "store/Catalogue.h"
#include "store/DataSource.h"
#include "store/Sql.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTimer>
#include <QVBoxLayout>


namespace {

using controls::named;

// A book key drawn at random, from 1 to the highest key.
qint64 randomBookKey()
{
    return qint64(QRandomGenerator::global()->bounded(store::catalogue::kHighestBookKey)) + 1;
}

// Tries of "Nuovo" when another computer takes the key drawn at the same moment.
constexpr int kNewBookTries = 4;

} // namespace

FrmBiblio::FrmBiblio(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FrmBiblio"));
    setWindowTitle(QStringLiteral("Biblioteca"));
    resize(1100, 720);
    Data1 = named(new store::DataSource(this), QStringLiteral("Data1"));
    Data2 = named(new store::DataSource(this), QStringLiteral("Data2"));
    Data3 = named(new store::DataSource(this), QStringLiteral("Data3"));
    Data4 = named(new store::DataSource(this), QStringLiteral("Data4"));
    Data5 = named(new store::DataSource(this), QStringLiteral("Data5"));
    Data6 = named(new store::DataSource(this), QStringLiteral("Data6"));
    Timer1 = named(new QTimer(this), QStringLiteral("Timer1"));
    buildControls();
    connectHandlers();
    windows::watchEscape(this, [this] { Form_KeyUp(27); });
}

FrmBiblio::~FrmBiblio() = default;

void FrmBiblio::buildControls()
{
    auto* listGroup = new books::TitleList(this, Data6);
    DBList1 = listGroup->DBList1;
    Option2 = listGroup->Option2;
    CmdNuovo = listGroup->CmdNuovo;
    CmdModifica = listGroup->CmdModifica;
    Cmdelimina = listGroup->Cmdelimina;
    m_titles = listGroup;

    // Record panel, with the author and publisher panels lying over it.
    m_fields = new books::BookFields(this, Data1, Data4, Data5, Data3);
    Frame1 = new books::AuthorsPanel(m_fields, Data2, Data3, Data1, m_fields);
    Frame1->setGeometry(40, 60, 420, 330);
    Frame2 = new books::PublishersPanel(m_fields, Data5, m_fields);
    Frame2->setGeometry(60, 80, 420, 330);

    m_search = new books::SearchPanel(this, Data6, [this](const QString& first) { selectTitle(first); });
    m_find = new books::QuickFind(this, m_search);
    m_find->acceptScansFrom(m_fields->TxtCodice);
    m_loanLine = new books::LoanLine(this);
    auto* bottomRight = new QWidget(this);
    m_plan = new books::FloorPlan(bottomRight, this);
    auto* planColumn = new QVBoxLayout(bottomRight);
    planColumn->setContentsMargins(0, 0, 0, 0);
    planColumn->addWidget(m_plan->Picture5);
    planColumn->addWidget(m_plan->Command17, 0, Qt::AlignRight);
    planColumn->addStretch();

    auto* lower = new QHBoxLayout;
    lower->addWidget(m_search, 1);
    lower->addWidget(bottomRight);
    auto* right = new QVBoxLayout;
    right->addWidget(m_fields);
    right->addWidget(m_loanLine);
    right->addLayout(lower);
    auto* main = new QHBoxLayout(this);
    auto* listColumn = new QVBoxLayout;
    listColumn->addWidget(m_find);
    listColumn->addWidget(listGroup, 1);
    main->addLayout(listColumn, 2);
    main->addLayout(right, 5);

    // Tab reads the window as the eye does: "Trova" and the titles, the record (with the publishers
    // panel after its chooser and the authors panel after the book's authors), the search, the plan.
    QList<QWidget*> order{m_find->TxtTrova};
    order << m_titles->readingOrder();
    const QList<QWidget*> record = m_fields->readingOrder();
    const qsizetype publisher = record.indexOf(m_fields->Command13) + 1;
    order << record.mid(0, publisher) << Frame2->readingOrder() << record.mid(publisher) << Frame1->readingOrder()
          << m_search->readingOrder() << m_plan->readingOrder();
    controls::setReadingOrder(order);
}

void FrmBiblio::connectHandlers()
{
    // Every handler runs guarded: an archive that cannot be read is reported, never fatal.
    guard::connect(Data6, &store::DataSource::reposition, this, [this] { Data6_Reposition(); });
    guard::connect(Data1, &store::DataSource::reposition, this, [this] {
        const store::Recordset* rs = Data1->recordset();
        const bool shown = rs && rs->hasCurrent();
        m_fields->Label4->setCode(shown ? rs->value(QStringLiteral("id")).toString() : QString());
        if (m_archive) {
            m_loanLine->showLoanOf(*m_archive, shown ? rs->value(QStringLiteral("id")).toLongLong() : 0);
        }
    });
    connect(m_find, &books::QuickFind::keyEntered, this,
            [this](qint64 key) { guard::run([&] { showScannedBook(key); }); });
    guard::connect(DBList1, &controls::DBList::entryClicked, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::keyReleased, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::mouseMoved, this, [this] { DBList1_MouseMove(); });
    for (int i = 0; i < 3; ++i) {
        guard::connect(Option2[i], &QRadioButton::clicked, this, [this, i] { Option2_Click(i); });
    }
    guard::connect(CmdNuovo, &QPushButton::clicked, this, [this] { CmdNuovo_Click(); });
    guard::connect(CmdModifica, &QPushButton::clicked, this, [this] { CmdModifica_Click(); });
    guard::connect(Cmdelimina, &QPushButton::clicked, this, [this] { Cmdelimina_Click(); });
    guard::connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
    for (int i = 0; i < 3; ++i) {
        guard::connect(m_titles->Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
}

void FrmBiblio::Command1_Click(int index)
{
    if (index == 2) {
        books::openLabels(*this);
        return;
    }
    books::printFromBooksWindow(*this, DBList1, index);
}

// ---------------------------------------------------------------- loading and browsing

void FrmBiblio::Form_Load()
{
    // A viewer left open while the window was closed and opened again (another archive) goes on
    // following the books.
    Modulo1::FotoAperta = frmpicture::openViewer() != nullptr;
    // One connection for the whole window: its data sources share it, so one transaction can
    // cover a book and its links.
    m_archive = store::Archive::open(Modulo1::PercorsoArchivio);
    for (store::DataSource* d : {Data1, Data2, Data3, Data4, Data5, Data6}) {
        d->setArchive(m_archive);
    }
    Data6->setRecordSource(sql::AllBooks);
    Data6->refresh();
    Data1->setRecordSource(sql::AllBooks);
    Data1->refresh();
    Data2->setRecordSource(sql::AllAuthors);
    Data2->refresh();
    Data4->setRecordSource(sql::DistinctGenres);
    Data4->refresh();
    // The publishers panel shows and stores a publisher's notes too.
    Data5->setRecordSource(sql::PublishersWithNotes);
    Data5->refresh();
    Modulo1::NuovoRecord = false;
    Timer1->setInterval(500);
    Timer1->start();
    m_choosersStamp = m_archive->changeStamp();
    CaricaPianta();
    if (Data6->rs().recordCount() > 0) {
        const qint64 id = Data6->rs().value(QStringLiteral("id")).toLongLong();
        DBList1->setBoundText(QString::number(id));
        DBList1_Click();
    } else {
        // No book: no current book either, so no photo is shown or imported for a book of the
        // archive opened before.
        showNoBook();
    }
}

void FrmBiblio::DBList1_Click()
{
    const QString key = DBList1->boundText();
    if (key.isEmpty()) {
        return;
    }
    showBook(key.toLongLong());
}

void FrmBiblio::showBook(qint64 id)
{
    if (!Data1->findFirst(QStringLiteral("id"), id)) {
        // Deleted meanwhile on another computer: no book is shown rather than the wrong one.
        showNoBook();
        return;
    }
    Modulo1::IdLibroCorrente = id;
    showBookDetails();
    showPhoto();
}

void FrmBiblio::showBookDetails()
{
    // From the current row, or from the row just read afresh for an edit.
    const store::Recordset& book = Data1->rs();
    Frame1->showAuthorsOf(book.value(QStringLiteral("id")).toLongLong());

    m_plan->placeMarkers(
        QPoint(book.value(QStringLiteral("posx")).toInt(), book.value(QStringLiteral("posy")).toInt()));
    m_plan->Image2->show();

    const QVariant publisher = book.value(QStringLiteral("ID_Edizione"));
    Modulo1::IdEditoreCorrente = publisher.toInt();
    showPublisher(publisher);

    QLineEdit* genre = m_fields->DBCombo2->lineEdit();
    if (genre && genre->hasSelectedText()) {
        genre->deselect();
    }
}

void FrmBiblio::showNoBook()
{
    Data1->rs().setAbsolutePosition(-1);
    Data1->notifyReposition();
    Frame1->showAuthorsOf(0);
    m_plan->setMarkersVisible(false);
    m_fields->DBCombo3->setCurrentIndex(-1);
    Modulo1::IdLibroCorrente = 0;
    showPhoto();
}

void FrmBiblio::showPublisher(const QVariant& publisherKey)
{
    // An open publisher edit, or a town or note typed into the panel, is never moved off its row
    // by choosing a book: the chooser finds the name by itself. Only the user's own choice in the
    // panel stores what was typed.
    bool found = false;
    if (!Data5->isEditing() && !Data5->hasPendingChanges()) {
        found = Data5->findFirst(QStringLiteral("id_Editore"), publisherKey);
    } else {
        found = m_fields->DBCombo3->listModel()->rowOfKey(publisherKey.toString()) >= 0;
    }
    if (found) {
        m_fields->DBCombo3->setBoundText(publisherKey.toString());
    } else {
        m_fields->DBCombo3->setCurrentIndex(-1);
    }
}

void FrmBiblio::selectTitle(const QString& key)
{
    DBList1->setBoundText(key);
    DBList1_Click();
}

bool FrmBiblio::showTitle(qint64 id)
{
    refreshChoosers();
    const QString before = DBList1->boundText();
    const QString wanted = QString::number(id);
    DBList1->setBoundText(wanted);
    if (DBList1->boundText() != wanted) {
        DBList1->setBoundText(before);
        return false;
    }
    DBList1_Click();
    return true;
}

QList<qint64> FrmBiblio::shownBookKeys() const
{
    QList<qint64> keys;
    const store::Recordset* titles = Data6->recordset();
    if (!titles) {
        return keys;
    }
    const int column = titles->columnIndex(QStringLiteral("biblio.id"));
    if (column < 0) {
        return keys;
    }
    // A search's list has a row per book and author: each book once, where it first appears.
    QSet<qint64> seen;
    for (int row = 0; row < titles->recordCount(); ++row) {
        const qint64 key = titles->valueAt(row, column).toLongLong();
        if (!seen.contains(key)) {
            seen.insert(key);
            keys << key;
        }
    }
    return keys;
}

void FrmBiblio::readAgain()
{
    if (hasOpenEdit()) {
        return;
    }
    const QString shown = DBList1->boundText();
    m_search->refreshTitles();
    Data1->refresh();
    refreshChoosers();
    if (!shown.isEmpty() && showTitle(shown.toLongLong())) {
        return;
    }
    if (Data6->rs().recordCount() > 0) {
        selectTitle(Data6->rs().valueAt(0, Data6->rs().columnIndex(QStringLiteral("biblio.id"))).toString());
    } else {
        showNoBook();
    }
}

void FrmBiblio::showScannedBook(qint64 key)
{
    if (isEditing()) {
        return;
    }
    const qint64 before = DBList1->boundText().toLongLong();
    // The key read stands for the book, not for words to find: the whole list again, then the book.
    m_find->TxtTrova->clear();
    if (!showTitle(key)) {
        // The book shown before stays shown, not the first of the list read again.
        if (before != 0) {
            showTitle(before);
        }
        msg::show(QStringLiteral("Nessun libro con il codice %1 nell'elenco.").arg(key));
    }
}

void FrmBiblio::showPhoto()
{
    // Moving through the titles keeps the photo viewer in step: it shows the book once its key is
    // the current one.
    if (!isEditing() && Modulo1::FotoAperta) {
        frmpicture::CercaFotoSeAperta();
    }
}

// ---------------------------------------------------------------- editing

void FrmBiblio::showEditState(bool editing)
{
    m_editing = editing;
    CmdNuovo->setText(editing ? QStringLiteral("Annulla") : QStringLiteral("Nuovo"));
    CmdModifica->setText(editing ? QStringLiteral("Salva") : QStringLiteral("Modifica"));
    Cmdelimina->setEnabled(!editing);
    m_fields->setEnabled(editing);
    m_plan->Picture7->setEnabled(editing);
    m_plan->setMovable(editing);
    DBList1->setEnabled(!editing);
    // The search would move the window off the book being edited.
    m_search->setEnabled(!editing);
    m_find->setEnabled(!editing);
}

void FrmBiblio::enterEditMode()
{
    m_placeAtEdit = m_plan->smallMarker();
    m_publisherAtEdit = m_fields->DBCombo3->boundText();
    showEditState(true);
    m_fields->TxtFields[0]->setFocus();
    Timer1->stop();
    m_plan->setMarkersVisible(true);
}

void FrmBiblio::CmdNuovo_Click()
{
    if (!m_editing) {
        startNewBook();
    } else {
        cancelBook();
    }
}

void FrmBiblio::CmdModifica_Click()
{
    if (!m_editing) {
        Modulo1::NuovoRecord = false;
        // Read afresh: a book deleted meanwhile on another computer says so here, and what another
        // user changed since the book was shown (its publisher, its place) is what the edit starts from.
        Data1->edit();
        showBookDetails();
        m_genreAtEdit = m_fields->DBCombo2->currentText();
        enterEditMode();
    } else {
        saveBook();
    }
}

void FrmBiblio::startNewBook()
{
    // A key no book has, stored at once with the new row. Another computer may take the same key
    // at the same moment: then another key is drawn.
    qint64 key = 0;
    for (int attempt = 1;; ++attempt) {
        const std::optional<qint64> free = store::catalogue::freeBookKey(*m_archive, randomBookKey);
        if (!free) {
            msg::show(QStringLiteral("L'archivio contiene già un libro per ognuno dei %1 codici possibili: non si "
                                     "possono aggiungere altri libri.")
                          .arg(QLocale().toString(store::catalogue::kHighestBookKey)),
                      msg::Icon::Information);
            return;
        }
        Data1->addNew();
        m_fields->TxtCodice->setText(QString::number(*free));
        try {
            Data1->updateRecord();
            key = *free;
            break;
        } catch (const store::DbError& e) {
            Data1->cancelUpdate();
            if (e.number() != store::ErrDuplicateKey || attempt == kNewBookTries) {
                throw;
            }
        }
    }
    Data1->setBookmark(Data1->rs().lastModified());
    try {
        Data1->edit();
    } catch (...) {
        // No half-made book is left behind when its edit cannot be opened (if the archive lets
        // it go); the first error is the one reported.
        try {
            Data1->deleteCurrent();
        } catch (...) {
        }
        throw;
    }
    Modulo1::NuovoRecord = true;
    m_newBook = key;
    m_genreAtEdit.clear();
    m_plan->placeSmallMarker(QPoint(10, 10));
    m_fields->DBCombo3->setCurrentIndex(-1);
    enterEditMode();
    Frame1->showAuthorsOf(key);
}

void FrmBiblio::saveBook()
{
    m_fields->fillEmptyAmounts();
    // A new book takes its place and publisher whatever they are; a book that was there keeps
    // those the user did not change, whoever changed them meanwhile.
    const bool newBook = m_newBook != 0;
    const QString publisher = m_fields->DBCombo3->boundText();
    if (!publisher.isEmpty() && (newBook || publisher != m_publisherAtEdit)) {
        m_fields->TxtFields[16]->setTextToStore(publisher);
    }
    store::Recordset& book = Data1->rs();
    if (newBook || m_plan->smallMarker() != m_placeAtEdit) {
        book.setValue(QStringLiteral("posx"), m_plan->smallMarker().x());
        book.setValue(QStringLiteral("posy"), m_plan->smallMarker().y());
    }
    // A save that fails (someone else changed or deleted the book, a busy archive) leaves the
    // edit open with what was typed.
    Data1->updateRecord();
    // Saved: a new book is a book like the others from here on, and the window browses again,
    // whatever fails below.
    Modulo1::NuovoRecord = false;
    m_newBook = 0;
    const qint64 id = book.lastModified();
    const bool searchPending = m_search->consumePending();
    showEditState(false);
    Timer1->start();
    const QString genre = m_fields->DBCombo2->currentText();

    if (searchPending) {
        m_search->refreshTitles(); // the values typed before the edit
    } else {
        Data6->refresh();
    }
    Data6->findFirst(QStringLiteral("id"), id);
    Data1->refresh();
    // A genre typed for the first time joins the list, one that no book has any more leaves it.
    if (genre != m_genreAtEdit && (!m_genreAtEdit.isEmpty() || m_fields->DBCombo2->listModel()->rowOfKey(genre) < 0)) {
        Data4->refresh();
    }
    // The saved book is shown, selected when the list (perhaps a search) holds it.
    DBList1->setBoundText(QString::number(id));
    showBook(id);
    DBList1->setFocus();
}

void FrmBiblio::cancelBook()
{
    // Someone else's change or deletion meanwhile shows once the edit is dropped: the title list is
    // read again too.
    bool changed = false;
    if (Data1->isEditing()) {
        changed = Data1->cancelUpdate();
    }
    // A new book was stored by "Nuovo": it goes again, with the authors linked to it meanwhile.
    // Should that fail, the edit is opened again, so that the window and the archive agree and
    // "Annulla" can be pressed again.
    if (Modulo1::NuovoRecord && m_newBook != 0 && Data1->findFirst(QStringLiteral("id"), m_newBook)) {
        try {
            Data1->deleteCurrent();
        } catch (...) {
            try {
                Data1->edit();
            } catch (...) {
            }
            throw;
        }
    }
    Modulo1::NuovoRecord = false;
    m_newBook = 0;
    const QString selected = DBList1->boundText();
    const bool searchPending = m_search->consumePending();
    showEditState(false);
    Timer1->start();
    if (searchPending) {
        m_search->refreshTitles();
        DBList1->setBoundText(selected);
    } else if (changed) {
        Data6->refresh();
        DBList1->setBoundText(selected);
    }
    if (DBList1->boundText().isEmpty()) {
        showNoBook();
    } else {
        DBList1_Click();
    }
    DBList1->setFocus();
}

void FrmBiblio::Cmdelimina_Click()
{
    store::Recordset& books = Data1->rs();
    if (!books.hasCurrent()) {
        return;
    }
    const qint64 id = books.value(QStringLiteral("id")).toLongLong();
    const QString title = books.value(QStringLiteral("titolo")).toString();
    if (msg::show(QStringLiteral("Eliminare il titolo ") + title + QStringLiteral(" dall'elenco?"), msg::Icon::None,
                  msg::Buttons::YesNo) == msg::Answer::No) {
        return;
    }
    // The book deleted is the one the question named, wherever the record moved while it was
    // asked; gone meanwhile (another computer), nothing is deleted.
    if (!Data1->findFirst(QStringLiteral("id"), id)) {
        showNoBook();
        return;
    }
    // Only the book's row is deleted here; the archive removes its links to authors with it.
    Data1->deleteCurrent();
    qint64 next = 0;
    if (!books.eof()) {
        Data1->moveNext();
        if (books.hasCurrent()) {
            next = books.value(QStringLiteral("id")).toLongLong();
        }
    }
    Data6->refresh();
    // The next title is shown when the list (perhaps a search) holds it; otherwise no book is.
    const QString nextKey = next == 0 ? QString() : QString::number(next);
    DBList1->setBoundText(nextKey);
    if (DBList1->boundText().isEmpty()) {
        showNoBook();
    } else {
        DBList1_Click();
    }
}

// ---------------------------------------------------------------- list, count, marker

void FrmBiblio::Option2_Click(int index)
{
    static const char* const fields[3] = {"titolo", "genere", "anno"};
    if (index < 0 || index > 2) {
        return;
    }
    DBList1->setListField(QString::fromLatin1(fields[index]));
}

void FrmBiblio::Data6_Reposition()
{
    const store::Recordset* rs = Data6->recordset();
    m_titles->showCount(rs ? rs->recordCount() : 0);
}

void FrmBiblio::DBList1_MouseMove()
{
    DBList1->setToolTip(DBList1->text());
}

void FrmBiblio::Timer1_Timer()
{
    m_plan->blink();
}

void FrmBiblio::CaricaPianta()
{
    m_plan->load(pictures::planOfOpenArchive());
}

bool FrmBiblio::hasOpenEdit() const
{
    return m_editing || Frame1->isEditing() || Frame2->isEditing();
}

// ---------------------------------------------------------------- keys, focus, closing

void FrmBiblio::refreshChoosers()
{
    if (isEditing() || Frame1->isEditing() || Frame2->isEditing() || Data2->hasPendingChanges() ||
        Data5->hasPendingChanges()) {
        return;
    }
    if (m_archive->changeStamp() == m_choosersStamp) {
        return;
    }
    Data2->refresh();
    Data4->refresh();
    Data5->refresh();
    m_choosersStamp = m_archive->changeStamp();
    // A publisher deleted meanwhile is no longer offered, nor shown for its books.
    if (Data1->rs().hasCurrent()) {
        showPublisher(Data1->rs().value(QStringLiteral("ID_Edizione")));
    }
}

void FrmBiblio::Form_Activate()
{
    refreshChoosers();
    if (DBList1->isEnabled() && DBList1->isVisible()) {
        DBList1->setFocus();
    }
}

void FrmBiblio::Form_KeyUp(int keyCode)
{
    if (keyCode != 27) {
        return;
    }
    // Escape closes what lies open over the window, one thing at a time, before the window itself.
    // The keyboard goes back to the button that opened a panel, when it can be used.
    const auto backTo = [this](QWidget* opener) {
        if (opener->isEnabled()) {
            opener->setFocus();
        }
    };
    if (Frame1->isVisible()) {
        Frame1->hide();
        backTo(m_fields->Command8);
    } else if (Frame2->isVisible()) {
        Frame2->hide();
        backTo(m_fields->Command13);
    } else if (m_plan->Picture8->isVisible()) {
        m_plan->closeLargeView();
    } else if (!m_editing && m_search->isOpen()) {
        m_search->closeSearch(DBList1->boundText());
    } else {
        closeWindow();
    }
}

bool FrmBiblio::closeWindow()
{
    return windows::closeWindow(this);
}

void FrmBiblio::closeEvent(QCloseEvent* event)
{
    windows::guardClose(event, hasOpenEdit());
    if (event->isAccepted()) {
        Timer1->stop();
    }
}

bool FrmBiblio::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::WindowActivate && watched == parentWidget()) {
        guard::run([this] { Form_Activate(); });
    }
    return QWidget::eventFilter(watched, event);
}

void FrmBiblio::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ParentChange && parentWidget()) {
        parentWidget()->installEventFilter(this);
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() && !parentWidget()) {
        guard::run([this] { Form_Activate(); });
    }
}
