#include "people/RecordWindow.h"

#include "app/Guard.h"
#include "app/Twips.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/WindowClosing.h"
#include "books/FrmBiblio.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "controls/ReadingOrder.h"
#include "people/PeoplePrinting.h"
#include "pictures/frmpicture.h"
#include "store/Archive.h"
#include "store/DataSource.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include <cmath>


namespace people {

using controls::named;

QFont windowFont(qreal points)
{
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

QRect twips(int left, int top, int width, int height)
{
    return twips::rect(left, top, width, height);
}

namespace {

constexpr QSize kClientTwips(11880, 8595);

void setBackground(QWidget* widget, const QColor& colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::Window, colour);
    p.setColor(QPalette::Button, colour);
    widget->setPalette(p);
    widget->setAutoFillBackground(true);
}

QLabel* centredLabel(QWidget* parent, const QString& text, qreal points, const QRect& box)
{
    auto* label = new QLabel(text, parent);
    label->setFont(windowFont(points));
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(box);
    return label;
}

} // namespace

RecordWindow::RecordWindow(const Description& description, QWidget* parent)
    : RecordPanel(parent), m_description(description)
{
    setObjectName(description.objectName);
    setWindowTitle(description.caption);
    setFixedSize(twips(0, 0, kClientTwips.width(), kClientTwips.height()).size());
    Data1 = named(new store::DataSource(this), QStringLiteral("Data1"));
    Data2 = named(new store::DataSource(this), QStringLiteral("Data2"));
    Data3 = named(new store::DataSource(this), QStringLiteral("Data3"));
    setRecords(Data1, description.keyField, description.nameField);
    build();
    connectHandlers();
    windows::watchEscape(this, [this] { Form_KeyUp(27); });
}

RecordWindow::~RecordWindow() = default;

void RecordWindow::build()
{
    const Description& d = m_description;
    auto* title = centredLabel(this, d.title, 18, d.titleBox);
    title->setObjectName(QStringLiteral("LabelTitolo"));
    setBackground(title, d.titleColour);

    auto* listPanel = named(new QWidget(this), QStringLiteral("Picture1"));
    listPanel->setGeometry(d.listPanel);
    DBList1 = named(new controls::DBList(listPanel), QStringLiteral("DBList1"));
    DBList1->setGeometry(d.listBox);
    DBList1->setAccessibleName(d.caption);
    setList(DBList1);
    Label1 = named(centredLabel(listPanel, QStringLiteral("0"), 9.75, d.counterBox), QStringLiteral("Label1"));

    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(d.frameBox);
    auto* buttonPanel = named(new QWidget(this), QStringLiteral("Picture3"));
    buttonPanel->setGeometry(d.buttonPanel);
    setBackground(buttonPanel, QColor(224, 224, 224));
    const auto editButton = [&](const char* name, const QString& caption, int left, const QColor& colour) {
        auto* b = named(new QPushButton(caption, buttonPanel), QLatin1String(name));
        b->setFont(windowFont(8.25));
        b->setGeometry(twips(left, 0, 855, 375));
        setBackground(b, colour);
        return b;
    };
    CmdNuovo = editButton("CmdNuovo", QString(), 0, QColor(192, 255, 192));
    CmdModifica = editButton("CmdModifica", QString(), 960, QColor(192, 255, 255));
    Cmdelimina = editButton("Cmdelimina", QStringLiteral("Elimina"), 1920, QColor(255, 192, 192));
    // The print buttons stand in the frame under the edit buttons.
    const QStringList printCaptions{QStringLiteral("STAMPA SCHEDA"), QStringLiteral("STAMPA ELENCO")};
    for (int i = 0; i < 2; ++i) {
        Command1[i] = named(new QPushButton(printCaptions[i], this), QStringLiteral("Command1_%1").arg(i));
        Command1[i]->setFont(windowFont(8.25));
        Command1[i]->setGeometry(d.frameBox.x() + 6 + i * 98, d.buttonPanel.bottom() + 20, 96, 33);
    }

    auto* fieldPanel = named(new QWidget(this), QStringLiteral("Picture2"));
    fieldPanel->setGeometry(d.fieldPanel);
    for (int i = 0; i < d.fields.size(); ++i) {
        const Field& f = d.fields[i];
        QWidget* box = nullptr;
        const QString name = QStringLiteral("Text1_%1").arg(i);
        if (f.multiLine) {
            auto* notes = named(new controls::BoundTextEdit(fieldPanel), name);
            notes->setUpperCase(true);
            notes->bindTo(Data1, f.column);
            lockWhileBrowsing(notes);
            box = notes;
        } else {
            controls::BoundLineEdit* line = addField(name, f.column, f.maxLength, true);
            line->setParent(fieldPanel);
            box = line;
        }
        box->setGeometry(f.box);
        QFont font = windowFont(f.navy ? 9.75 : 8.25);
        box->setFont(font);
        // Read-only while browsing, but as legible as while editing.
        QPalette p = box->palette();
        const QColor ink = f.navy ? QColor(0, 0, 128) : p.color(QPalette::Active, QPalette::Text);
        p.setColor(QPalette::Text, ink);
        p.setColor(QPalette::Disabled, QPalette::Text, ink);
        box->setPalette(p);
        QLabel* label = controls::captionFor(fieldPanel, QStringLiteral("Label4_%1").arg(i), f.caption, box);
        label->setFont(windowFont(8.25));
        label->setWordWrap(true);
        label->setGeometry(twips(120, f.labelTop, f.box.x() * 15 - 150, 495));
        Text1.append(box);
    }

    buildLinked(d.titles, DBList2, Label2, Command2[0], QStringLiteral("2"));
    buildLinked(d.others, DBList3, Label3, Command2[1], QStringLiteral("3"));
    Command2[0]->setObjectName(QStringLiteral("Command2_0"));
    Command2[1]->setObjectName(QStringLiteral("Command2_1"));
    DBList2->setRowSource(Data2);
    DBList3->setRowSource(Data3);

    setButtons(CmdNuovo, CmdModifica, Cmdelimina);

    // Tab reads the list column first, then the record and its two linked lists, each with its button.
    QList<QWidget*> order{DBList1, CmdNuovo, CmdModifica, Cmdelimina, Command1[0], Command1[1]};
    order << Text1 << DBList2 << Command2[0] << DBList3 << Command2[1];
    controls::setReadingOrder(order);
}

void RecordWindow::buildLinked(const Linked& linked, controls::DBList*& list, QLabel*& counter, QPushButton*& button,
                               const QString& suffix)
{
    centredLabel(this, linked.heading, 9.75, linked.headingBox);
    list = named(new controls::DBList(this), QStringLiteral("DBList") + suffix);
    list->setGeometry(linked.listBox);
    list->setAccessibleName(linked.heading);
    list->setListField(linked.listField);
    list->setBoundColumn(linked.keyField);
    counter = named(centredLabel(this, QStringLiteral("0"), 9.75, linked.counterBox), QStringLiteral("Label") + suffix);
    button = new QPushButton(linked.button, this);
    button->setFont(windowFont(8.25));
    button->setToolTip(linked.buttonTip);
    button->setGeometry(linked.buttonBox);
}

void RecordWindow::connectHandlers()
{
    guard::connect(DBList1, &controls::DBList::entryClicked, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::keyReleased, this, [this] { DBList1_Click(); });
    guard::connect(DBList2, &controls::DBList::entryClicked, this, [this] { DBList2_Click(); });
    guard::connect(DBList2, &controls::DBList::keyReleased, this, [this] { DBList2_Click(); });
    guard::connect(DBList3, &controls::DBList::entryClicked, this, [this] { DBList3_Click(); });
    guard::connect(DBList3, &controls::DBList::keyReleased, this, [this] { DBList3_Click(); });
    guard::connect(CmdNuovo, &QPushButton::clicked, this, [this] { CmdNuovo_Click(); });
    guard::connect(CmdModifica, &QPushButton::clicked, this, [this] { CmdModifica_Click(); });
    guard::connect(Cmdelimina, &QPushButton::clicked, this, [this] { Cmdelimina_Click(); });
    for (int i = 0; i < 2; ++i) {
        guard::connect(Command2[i], &QPushButton::clicked, this, [this, i] { Command2_Click(i); });
        guard::connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    }
    // Counters follow their lists, also when a query runs again.
    guard::connect(Data1, &store::DataSource::reposition, this, [this] { showCount(Data1, Label1); });
    guard::connect(Data2, &store::DataSource::reposition, this, [this] { showCount(Data2, Label2); });
    guard::connect(Data3, &store::DataSource::reposition, this, [this] { showCount(Data3, Label3); });
}

// ---------------------------------------------------------------- loading and browsing

void RecordWindow::Form_Load()
{
    m_archive = store::Archive::open(Modulo1::PercorsoArchivio);
    for (store::DataSource* d : {Data1, Data2, Data3}) {
        d->setArchive(m_archive);
    }
    Data1->setRecordSource(m_description.allRecords);
    Data1->refresh();
    m_listStamp = m_archive->changeStamp();
    showCount(Data1, Label1);
    const store::Recordset& records = Data1->rs();
    if (records.recordCount() > 0) {
        DBList1->setBoundText(QString::number(records.value(m_description.keyField).toLongLong()));
        DBList1_Click();
    } else {
        showNoRecord();
    }
}

void RecordWindow::Command1_Click(int index)
{
    printFromWindow(*this, index);
}

void RecordWindow::showSelected()
{
    DBList1_Click();
}

void RecordWindow::DBList1_Click()
{
    const qint64 key = DBList1->boundText().toLongLong(); // no key counts as 0
    if (key == 0 || Data1->rs().findRow(m_description.keyField, key) < 0) {
        // Nothing selected, or deleted meanwhile on another computer: no record rather than the
        // wrong one.
        showNoRecord();
        return;
    }
    // The linked lists first: should the archive refuse them, the window stays on the record it
    // showed, its lists and the selection with it.
    const store::Query titlesBefore = Data2->recordSource();
    try {
        showLinked(Data2, m_description.titlesOf, key);
        showLinked(Data3, m_description.othersOf, key);
    } catch (...) {
        try {
            if (Data2->recordSource() != titlesBefore) {
                Data2->setRecordSource(titlesBefore);
                Data2->refresh();
            }
            const store::Recordset& records = Data1->rs();
            DBList1->setBoundText(records.hasCurrent() ? records.value(m_description.keyField).toString() : QString());
        } catch (...) {
        }
        throw;
    }
    Data1->findFirst(m_description.keyField, key);
    setCurrentRecord(key);
}

void RecordWindow::showNoRecord()
{
    DBList1->setBoundText(QString());
    if (store::Recordset* records = Data1->recordset(); records && records->hasCurrent()) {
        records->setAbsolutePosition(-1);
        Data1->notifyReposition();
    }
    setCurrentRecord(0);
    showLinked(Data2, m_description.titlesOf, 0);
    showLinked(Data3, m_description.othersOf, 0);
}

void RecordWindow::showLinked(store::DataSource* source, const std::function<store::Query(qint64)>& query, qint64 key)
{
    if (key == 0 && !source->recordset()) {
        return; // never run: the list is empty already
    }
    source->setRecordSource(query(key));
    source->refresh();
}

void RecordWindow::showCount(store::DataSource* source, QLabel* counter)
{
    const store::Recordset* records = source->recordset();
    counter->setText(QString::number(records ? records->recordCount() : 0));
    // A bare number means nothing to a listener: it is read with the list it counts.
    const QWidget* list = counter == Label1 ? DBList1 : counter == Label2 ? DBList2 : DBList3;
    const QString name = list->accessibleName();
    counter->setAccessibleName(name.left(1).toUpper() + name.mid(1).toLower() + QStringLiteral(" in elenco: ") +
                               counter->text());
}

void RecordWindow::DBList2_Click()
{
    Modulo1::IdLibroCorrente = DBList2->boundText().toLongLong();
    // The photo viewer, when open, shows the chosen title's photo at once.
    frmpicture::CercaFotoSeAperta();
}

// ---------------------------------------------------------------- editing

void RecordWindow::CmdNuovo_Click()
{
    newOrCancel();
}

void RecordWindow::CmdModifica_Click()
{
    if (!isEditing() && !Data1->rs().hasCurrent()) {
        return; // no record to change
    }
    editOrSave();
}

void RecordWindow::Cmdelimina_Click()
{
    remove(m_description.deleteQuestion, QStringLiteral(" dall'elenco?"));
}

// ---------------------------------------------------------------- cross-references

void RecordWindow::readAgain()
{
    if (isEditing()) {
        return;
    }
    const qint64 shown = DBList1->boundText().toLongLong();
    Data1->refresh();
    m_listStamp = m_archive->changeStamp();
    showCount(Data1, Label1);
    if (shown != 0 && showRecord(shown)) {
        return;
    }
    if (Data1->rs().recordCount() > 0) {
        DBList1->setBoundText(Data1->rs().valueAt(0, Data1->rs().columnIndex(m_description.keyField)).toString());
        DBList1_Click();
    }
}

bool RecordWindow::showRecord(qint64 key)
{
    const QString before = DBList1->boundText();
    const QString wanted = QString::number(key);
    if (m_archive->changeStamp() != m_listStamp) {
        // Records were added or deleted since the list was read (in another window, or on another
        // computer): the list is read again first.
        Data1->refresh();
        m_listStamp = m_archive->changeStamp();
    }
    DBList1->setBoundText(wanted);
    if (DBList1->boundText() != wanted) {
        DBList1->setBoundText(before);
        DBList1_Click();
        return false;
    }
    DBList1_Click();
    return true;
}

bool RecordWindow::showInWindow(childwindows::Kind kind, qint64 key)
{
    // A window loaded for this shows its first record, which sets the current book, author and
    // publisher; should it go unseen, they are put back as they were.
    struct Selection {
        qint64 book = Modulo1::IdLibroCorrente;
        qint64 author = Modulo1::IdAutoreCorrente;
        qint32 publisher = Modulo1::IdEditoreCorrente;
        void restore() const
        {
            Modulo1::IdLibroCorrente = book;
            Modulo1::IdAutoreCorrente = author;
            Modulo1::IdEditoreCorrente = publisher;
            frmpicture::CercaFotoSeAperta();
        }
    } const selection;
    childwindows::Loaded target = childwindows::load(kind);
    if (target.made) {
        selection.restore();
    }
    auto* books = qobject_cast<FrmBiblio*>(target.window);
    auto* records = qobject_cast<RecordWindow*>(target.window);
    if ((books && books->isEditing()) || (records && records->isEditing())) {
        // Its list is locked on the record being edited.
        childwindows::show(kind);
        msg::show(QStringLiteral("E' in corso una modifica del record!!!"), msg::Icon::Information);
        return true;
    }
    bool found = false;
    if (books) {
        found = books->showTitle(key);
    } else if (records) {
        found = records->showRecord(key);
    }
    if (!found) {
        if (target.made) {
            selection.restore(); // the window loaded for this goes unseen
        }
        return false;
    }
    childwindows::show(kind, std::move(target.made));
    return true;
}

void RecordWindow::Command2_Click(int index)
{
    // The entry chosen in this window's list, whatever other windows chose since (the current
    // book, author and publisher are the whole program's).
    if (index == 0) {
        const qint64 title = DBList2->boundText().toLongLong();
        if (title == 0 || !showInWindow(childwindows::Kind::Books, title)) {
            msg::show(QStringLiteral("Nessun Titolo corrispondente presente!"));
        }
        return;
    }
    const qint64 other = std::llround(DBList3->boundText().toDouble());
    if (other == 0 || !showInWindow(otherKind(), other)) {
        msg::show(missingOther());
    }
}

// ---------------------------------------------------------------- closing

void RecordWindow::Form_KeyUp(int keyCode)
{
    if (keyCode == 27) {
        closeWindow();
    }
}

bool RecordWindow::closeWindow()
{
    return windows::closeWindow(this);
}

void RecordWindow::closeEvent(QCloseEvent* event)
{
    windows::guardClose(event, isEditing());
}

} // namespace people
