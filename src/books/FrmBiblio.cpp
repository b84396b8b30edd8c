#include "books/FrmBiblio.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "books/BiblioPanels.h"
#include "books/FloorPlan.h"
#include "controls/Barcode.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/DataSource.h"
#include "store/Sql.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

using controls::captionFor;
using controls::named;

struct FieldSpec {
    const char* field; // empty: not bound
    const char* caption;
};

// The record fields, by index of TxtFields.
constexpr FieldSpec kFields[19] = {
    {"TITOLO", "TITOLO"},
    {"POSIZIONE", "POSIZ."},
    {"", "GENERE"},
    {"ARGOMENTO", "ARGOMENTO"},
    {"LUOGO_STAMPA", "LUOGO DI STAMPA"},
    {"ANNO", "ANNO"},
    {"EDIZIONE", "EDIZ."},
    {"DATA_ACQUISTO", "DATA ACQUISTO"},
    {"COSTO_e", "EURO"},
    {"COSTO_L", "LIRE"},
    {"INSERITO_IN", "INSERITO IN"},
    {"PERIODICO", "PERIODICI"},
    {"ANNATA_NUM", "ANNATA/NUM"},
    {"NOTE", "NOTE"},
    {"POSIZIONE_ATTUALE", "POSIZIONE"},
    {"STATO", "STATO CONSERVAZ."},
    {"ID_Edizione", "EDITORE"},
    {"cod_biblio", "COD."},
    {"Num_pag", "PAG."},
};

// Prices as the regional settings write them: euro with two decimals, lire without.
QString formatEuro(const QVariant& v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    return v.isNull() || !ok ? v.toString() : QLocale().toString(d, 'f', 2);
}

QString formatLire(const QVariant& v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (v.isNull() || !ok) {
        return v.toString();
    }
    return d == 0 ? QString() : QLocale().toString(qint64(d + (d >= 0 ? 0.5 : -0.5)));
}

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

    // The window sees key releases before its controls do.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>()) {
        child->installEventFilter(this);
    }
}

FrmBiblio::~FrmBiblio() = default;

void FrmBiblio::connectHandlers()
{
    // Every handler runs guarded: an archive that cannot be read is reported, never fatal.
    guard::connect(Data6, &store::DataSource::reposition, this, [this] { Data6_Reposition(); });
    guard::connect(Data1, &store::DataSource::reposition, this, [this] {
        const store::Recordset* rs = Data1->recordset();
        Label4->setCode(rs && rs->hasCurrent() ? rs->value(QStringLiteral("id")).toString() : QString());
    });
    guard::connect(DBList1, &controls::DBList::entryClicked, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::keyReleased, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::mouseMoved, this, [this] { DBList1_MouseMove(); });
    for (int i = 0; i < 3; ++i) {
        guard::connect(Option2[i], &QRadioButton::clicked, this, [this, i] { Option2_Click(i); });
    }
    guard::connect(Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });
}

void FrmBiblio::buildControls()
{
    // Title list group.
    auto* listGroup = new QWidget(this);
    DBList1 = named(new controls::DBList(listGroup), QStringLiteral("DBList1"));
    DBList1->setAccessibleName(QStringLiteral("Titoli"));
    DBList1->setRowSource(Data6);
    DBList1->setListField(QStringLiteral("titolo"));
    DBList1->setBoundColumn(QStringLiteral("id"));
    Label2 = named(new QLabel(QStringLiteral("0"), listGroup), QStringLiteral("Label2"));
    Label2->setAccessibleName(QStringLiteral("Numero dei titoli: 0"));
    const char* const optionCaptions[3] = {"TITOLO", "GENERE", "ANNO"};
    auto* options = new QHBoxLayout;
    for (int i = 0; i < 3; ++i) {
        Option2[i] = named(new QRadioButton(QString::fromLatin1(optionCaptions[i]), listGroup),
                           QStringLiteral("Option2_%1").arg(i));
        options->addWidget(Option2[i]);
    }
    Option2[0]->setChecked(true);
    CmdNuovo = named(new QPushButton(QStringLiteral("Nuovo"), listGroup), QStringLiteral("CmdNuovo"));
    CmdModifica = named(new QPushButton(QStringLiteral("Modifica"), listGroup), QStringLiteral("CmdModifica"));
    Cmdelimina = named(new QPushButton(QStringLiteral("Elimina"), listGroup), QStringLiteral("Cmdelimina"));
    auto* editButtons = new QHBoxLayout;
    editButtons->addWidget(CmdNuovo);
    editButtons->addWidget(CmdModifica);
    editButtons->addWidget(Cmdelimina);
    Command1[0] = named(new QPushButton(QStringLiteral("STAMPA SCHEDA"), listGroup), QStringLiteral("Command1_0"));
    Command1[1] = named(new QPushButton(QStringLiteral("STAMPA ELENCO"), listGroup), QStringLiteral("Command1_1"));
    auto* printButtons = new QHBoxLayout;
    printButtons->addWidget(Command1[0]);
    printButtons->addWidget(Command1[1]);
    auto* countRow = new QHBoxLayout;
    auto* countCaption = new QLabel(QStringLiteral("TITOLI:"), listGroup);
    countCaption->setBuddy(DBList1);
    countRow->addWidget(countCaption);
    countRow->addWidget(Label2);
    countRow->addStretch();
    auto* listLayout = new QVBoxLayout(listGroup);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addLayout(countRow);
    listLayout->addWidget(DBList1, 1);
    listLayout->addLayout(options);
    listLayout->addLayout(editButtons);
    listLayout->addLayout(printButtons);

    // Record panel: usable only while a book is being edited.
    Picture2 = named(new QWidget(this), QStringLiteral("Picture2"));
    auto* grid = new QGridLayout(Picture2);
    for (int i = 0; i < 19; ++i) {
        auto* edit = named(new controls::BoundLineEdit(Picture2), QStringLiteral("TxtFields_%1").arg(i));
        edit->setUpperCase(true);
        const QString field = QString::fromLatin1(kFields[i].field);
        if (!field.isEmpty()) {
            edit->bindTo(Data1, field);
        }
        TxtFields[i] = edit;
    }
    TxtFields[8]->setFormatter(formatEuro);
    TxtFields[9]->setFormatter(formatLire);
    TxtFields[15]->setMaxLength(20);

    DBCombo2 = named(new controls::DBCombo(Picture2), QStringLiteral("DBCombo2"));
    DBCombo2->setEditable(true);
    DBCombo2->setRowSource(Data4);
    DBCombo2->setListField(QStringLiteral("genere"));
    DBCombo2->setBoundColumn(QStringLiteral("genere"));
    new controls::ComboFieldBinding(DBCombo2, Data1, QStringLiteral("genere"));
    controls::applyFieldColours(DBCombo2);
    Combo1 = named(new QComboBox(Picture2), QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Combo1->addItems({QStringLiteral("PESSIMO"), QStringLiteral("MALTENUTO"), QStringLiteral("DISCRETO"),
                      QStringLiteral("BUONO"), QStringLiteral("OTTIMO"), QStringLiteral("NUOVO!")});
    Combo1->lineEdit()->setMaxLength(20);
    new controls::ComboFieldBinding(Combo1, Data1, QStringLiteral("stato"));
    controls::applyFieldColours(Combo1);
    DBCombo3 = named(new controls::DBCombo(Picture2), QStringLiteral("DBCombo3"));
    DBCombo3->setRowSource(Data5);
    DBCombo3->setListField(QStringLiteral("nome"));
    DBCombo3->setBoundColumn(QStringLiteral("id_editore"));
    controls::applyFieldColours(DBCombo3);
    Command13 = named(new QPushButton(QStringLiteral("Nuovo"), Picture2), QStringLiteral("Command13"));
    Command13->setAccessibleName(QStringLiteral("Nuovo editore"));
    TxtCodice = named(new controls::BoundLineEdit(Picture2), QStringLiteral("TxtCodice"));
    TxtCodice->bindTo(Data1, QStringLiteral("ID"));
    TxtCodice->setReadOnly(true);
    Label4 = named(new controls::BarcodeLabel(Picture2), QStringLiteral("Label4"));
    Label4->setMinimumHeight(44);
    DBList2 = named(new controls::DBList(Picture2), QStringLiteral("DBList2"));
    DBList2->setRowSource(Data3);
    DBList2->setListField(QStringLiteral("nome"));
    DBList2->setBoundColumn(QStringLiteral("id_autore"));
    DBList2->setMaximumHeight(90);
    Command8 = named(new QPushButton(QStringLiteral("Aggiungi"), Picture2), QStringLiteral("Command8"));
    Command8->setAccessibleName(QStringLiteral("Aggiungi autore"));
    Command7 = named(new QPushButton(QStringLiteral("Elimina"), Picture2), QStringLiteral("Command7"));
    Command7->setAccessibleName(QStringLiteral("Elimina autore"));

    auto label = [this](int index, QWidget* buddy) {
        return captionFor(Picture2, QStringLiteral("Label1_%1").arg(index), QString::fromLatin1(kFields[index].caption),
                          buddy);
    };
    auto pair = [&](int row, int column, int index, QWidget* field, int span = 1) {
        grid->addWidget(label(index, field), row, column);
        grid->addWidget(field, row, column + 1, 1, span);
    };
    pair(0, 0, 0, TxtFields[0], 3);
    pair(1, 0, 1, TxtFields[1]);
    pair(1, 2, 2, DBCombo2);
    pair(2, 0, 3, TxtFields[3]);
    auto* publisher = new QHBoxLayout;
    publisher->addWidget(DBCombo3, 1);
    publisher->addWidget(Command13);
    grid->addWidget(label(16, DBCombo3), 2, 2);
    grid->addLayout(publisher, 2, 3);
    pair(3, 0, 4, TxtFields[4]);
    pair(3, 2, 5, TxtFields[5]);
    pair(4, 0, 6, TxtFields[6]);
    pair(4, 2, 7, TxtFields[7]);
    pair(5, 0, 8, TxtFields[8]);
    pair(5, 2, 9, TxtFields[9]);
    pair(6, 0, 10, TxtFields[10]);
    pair(6, 2, 11, TxtFields[11]);
    pair(7, 0, 12, TxtFields[12]);
    pair(7, 2, 18, TxtFields[18]);
    pair(8, 0, 14, TxtFields[14]);
    pair(8, 2, 15, Combo1);
    pair(9, 0, 17, TxtFields[17]);
    grid->addWidget(captionFor(Picture2, QStringLiteral("Label3"), QStringLiteral("CODICE"), TxtCodice), 9, 2);
    grid->addWidget(TxtCodice, 9, 3);
    grid->addWidget(Label4, 10, 3);
    pair(11, 0, 13, TxtFields[13], 3);
    auto* authorButtons = new QVBoxLayout;
    authorButtons->addWidget(Command8);
    authorButtons->addWidget(Command7);
    authorButtons->addStretch();
    auto* authors = new QHBoxLayout;
    authors->addWidget(DBList2, 1);
    authors->addLayout(authorButtons);
    grid->addWidget(captionFor(Picture2, QStringLiteral("Label8"), QStringLiteral("AUTORE"), DBList2), 12, 0);
    grid->addLayout(authors, 12, 1, 1, 3);
    // The genre, state and publisher fields lie under their choosers and are not shown.
    for (int i : {2, 15, 16}) {
        TxtFields[i]->hide();
    }
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    // While browsing the panel is disabled, but the book must stay as readable as when editing.
    QPalette readable = Picture2->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText, QPalette::Base}) {
        readable.setColor(QPalette::Disabled, role, readable.color(QPalette::Active, role));
    }
    Picture2->setPalette(readable);
    Picture2->setEnabled(false);

    Frame1 = new books::AuthorsPanel(Picture2, Data2);
    Frame1->setGeometry(40, 60, 420, 330);
    Frame2 = new books::PublishersPanel(Picture2, Data5);
    Frame2->setGeometry(60, 80, 420, 330);

    m_search = new books::SearchPanel(this);
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
    right->addWidget(Picture2);
    right->addLayout(lower);
    auto* main = new QHBoxLayout(this);
    main->addWidget(listGroup, 2);
    main->addLayout(right, 5);

    setTabOrder(DBList1, Option2[0]);
}

// ---------------------------------------------------------------- loading and browsing

void FrmBiblio::Form_Load()
{
    Modulo1::FotoAperta = false;
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
    Data5->setRecordSource(sql::PublishersForBooks);
    Data5->refresh();
    Modulo1::NuovoRecord = false;
    Timer1->setInterval(500);
    Timer1->start();
    CaricaPianta();
    if (Data6->rs().recordCount() > 0) {
        const qint64 id = Data6->rs().value(QStringLiteral("id")).toLongLong();
        DBList1->setBoundText(QString::number(id));
        DBList1_Click();
    }
}

void FrmBiblio::DBList1_Click()
{
    const QString key = DBList1->boundText();
    if (key.isEmpty()) {
        return;
    }
    Modulo1::IdLibroCorrente = key.toLongLong();
    Data1->findFirst(QStringLiteral("id"), Modulo1::IdLibroCorrente);
    const store::Recordset& book = Data1->rs();

    Data3->setRecordSource(sql::authorsOfBook(book.value(QStringLiteral("id")).toLongLong()));
    Data3->refresh();

    m_plan->placeSmallMarker(
        QPoint(book.value(QStringLiteral("posx")).toInt(), book.value(QStringLiteral("posy")).toInt()));
    m_plan->Image2->show();
    const QPoint small = m_plan->smallMarker();
    m_plan->placeLargeMarker(QPointF(small.x() * 2.22, small.y() * 2.28));

    const QVariant publisher = book.value(QStringLiteral("ID_Edizione"));
    Modulo1::IdEditoreCorrente = publisher.toInt();
    showPublisher(publisher);

    if (DBCombo2->lineEdit() && DBCombo2->lineEdit()->hasSelectedText()) {
        DBCombo2->lineEdit()->deselect();
    }
}

void FrmBiblio::showPublisher(const QVariant& publisherKey)
{
    // An open publisher edit is never moved off its row: the chooser finds the name by itself.
    bool found = false;
    if (!Data5->isEditing()) {
        found = Data5->findFirst(QStringLiteral("id_Editore"), publisherKey);
    } else {
        found = DBCombo3->listModel()->rowOfKey(publisherKey.toString()) >= 0;
    }
    if (found) {
        DBCombo3->setBoundText(publisherKey.toString());
    } else {
        DBCombo3->setCurrentIndex(-1);
    }
}

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
    Label2->setText(QString::number(rs ? rs->recordCount() : 0));
    // A screen reader reads the count with its meaning.
    Label2->setAccessibleName(QStringLiteral("Numero dei titoli: ") + Label2->text());
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
    // The plan of an archive is "pianta" + the archive's name without its extension + ".jpg",
    // beside the archive.
    const QString name = Modulo1::FileArchivio;
    if (name.size() < 4) {
        return;
    }
    m_plan->load(Modulo1::CartellaArchivio + QStringLiteral("pianta") + name.left(name.size() - 4) +
                 QStringLiteral(".jpg"));
}

bool FrmBiblio::isEditing() const
{
    return CmdNuovo->text() == QStringLiteral("Annulla");
}

// ---------------------------------------------------------------- keys, focus, closing

void FrmBiblio::Form_Activate()
{
    if (DBList1->isEnabled() && DBList1->isVisible()) {
        DBList1->setFocus();
    }
}

void FrmBiblio::Form_KeyUp(int keyCode)
{
    if (keyCode != 27) {
        return;
    }
    if (Frame1->isVisible()) {
        Frame1->hide();
    } else if (Frame2->isVisible()) {
        Frame2->hide();
    } else {
        closeWindow();
    }
}

bool FrmBiblio::closeWindow()
{
    if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
        return sub->close();
    }
    return close();
}

void FrmBiblio::closeEvent(QCloseEvent* event)
{
    if (isEditing()) {
        guard::run([] { msg::show(msg::kEditingOpen, msg::Icon::Information); });
        event->ignore();
        return;
    }
    Timer1->stop();
    event->accept();
}

bool FrmBiblio::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) {
            guard::run([this] { Form_KeyUp(27); });
            return true;
        }
    } else if (event->type() == QEvent::WindowActivate && watched == parentWidget()) {
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
