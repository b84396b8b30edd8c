#include "loans/FrmPrestiti.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "app/Today.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "controls/ReadingOrder.h"
#include "loans/DeskStrip.h"
#include "loans/LoanPrinting.h"
#include "loans/LoanTable.h"
#include "store/Archive.h"
#include "store/DataSource.h"
#include "store/DbError.h"
#include "store/Loans.h"
#include "store/Sql.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

using controls::named;
using loans::LoanTableModel;
using Column = loans::LoanTableModel::Column;

namespace {

struct FieldSpec {
    const char* caption;
    const char* column;
    int maxLength;
    bool upperCase;
};

// The borrower's record, as the other record windows show theirs: captions in capitals.
constexpr FieldSpec kFields[] = {{"NOME", "nome", 80, true},        {"INDIRIZZO", "indirizzo", 120, true},
                                 {"TELEFONO", "telefono", 30, true}, {"E-MAIL", "email", 120, false},
                                 {"CLASSE O GRUPPO", "gruppo", 50, true}, {"NOTE", "note", 0, true}};

} // namespace

FrmPrestiti::FrmPrestiti(QWidget* parent) : RecordPanel(parent)
{
    setObjectName(QStringLiteral("FrmPrestiti"));
    setWindowTitle(QStringLiteral("Prestiti"));
    resize(960, 660);
    Data1 = named(new store::DataSource(this), QStringLiteral("Data1"));
    setRecords(Data1, QStringLiteral("ID_Lettore"), QStringLiteral("nome"));
    m_open = new LoanTableModel({Column::Title, Column::Lent, Column::Due, Column::DaysLate}, this);
    m_history = new LoanTableModel({Column::Title, Column::Lent, Column::Due, Column::Returned, Column::DaysLate}, this);
    m_overdue = new LoanTableModel({Column::Title, Column::Borrower, Column::Lent, Column::Due, Column::DaysLate}, this);

    Desk = new loans::DeskStrip(this);
    Schede = named(new QTabWidget(this), QStringLiteral("Schede"));
    Schede->addTab(buildBorrowersPage(), QStringLiteral("Lettori"));
    Schede->addTab(buildOverduePage(), QStringLiteral("In ritardo"));
    auto* main = new QVBoxLayout(this);
    main->addWidget(Desk);
    main->addWidget(Schede, 1);

    setButtons(CmdNuovo, CmdModifica, Cmdelimina);
    QList<QWidget*> order{Desk->TxtCodiceLibro, Desk->CmdSoloRestituzioni, Desk->CmdAnnullaUltimo, Schede,
                          TxtFiltro, DBList1, CmdNuovo, CmdModifica, Cmdelimina};
    order << Text1 << TblInCorso << TblStorico << TblRitardo << CmdLettera;
    controls::setReadingOrder(order);
    connectHandlers();
    windows::watchEscape(this, [this] { Form_KeyUp(27); });
}

FrmPrestiti::~FrmPrestiti() = default;

QWidget* FrmPrestiti::buildBorrowersPage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PaginaLettori"));

    TxtFiltro = named(new QLineEdit(page), QStringLiteral("TxtFiltro"));
    TxtFiltro->setPlaceholderText(QStringLiteral("parte del nome"));
    auto* filterCaption = controls::captionFor(page, QStringLiteral("LblFiltro"), QStringLiteral("Filtro"), TxtFiltro);
    TxtFiltro->setAccessibleName(QStringLiteral("Filtro dei lettori"));
    DBList1 = named(new controls::DBList(page), QStringLiteral("DBList1"));
    DBList1->setAccessibleName(QStringLiteral("Lettori"));
    setList(DBList1);
    Label1 = named(new QLabel(QStringLiteral("0"), page), QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignCenter);
    CmdNuovo = named(new QPushButton(page), QStringLiteral("CmdNuovo"));
    CmdModifica = named(new QPushButton(page), QStringLiteral("CmdModifica"));
    Cmdelimina = named(new QPushButton(QStringLiteral("Elimina"), page), QStringLiteral("Cmdelimina"));
    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(filterCaption);
    filterRow->addWidget(TxtFiltro, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CmdNuovo);
    buttons->addWidget(CmdModifica);
    buttons->addWidget(Cmdelimina);
    auto* left = new QVBoxLayout;
    left->addLayout(filterRow);
    left->addWidget(DBList1, 1);
    left->addWidget(Label1);
    left->addLayout(buttons);

    auto* fields = new QGridLayout;
    for (int i = 0; i < int(std::size(kFields)); ++i) {
        const FieldSpec& f = kFields[i];
        const QString name = QStringLiteral("Text1_%1").arg(i);
        QWidget* box = nullptr;
        if (i == int(std::size(kFields)) - 1) {
            auto* notes = named(new controls::BoundTextEdit(page), name);
            notes->setUpperCase(f.upperCase);
            notes->bindTo(Data1, QString::fromLatin1(f.column));
            notes->setMaximumHeight(4 * notes->fontMetrics().height() + 12);
            lockWhileBrowsing(notes);
            box = notes;
        } else {
            controls::BoundLineEdit* line = addField(name, QString::fromLatin1(f.column), f.maxLength, true);
            line->setParent(page);
            line->setUpperCase(f.upperCase);
            box = line;
        }
        // Read-only while browsing, but as legible as while editing.
        QPalette p = box->palette();
        p.setColor(QPalette::Disabled, QPalette::Text, p.color(QPalette::Active, QPalette::Text));
        box->setPalette(p);
        fields->addWidget(controls::captionFor(page, QStringLiteral("Label4_%1").arg(i), QString::fromLatin1(f.caption), box),
                          i, 0);
        fields->addWidget(box, i, 1);
        Text1.append(box);
    }
    TblInCorso = loans::loanTable(page, m_open, QStringLiteral("TblInCorso"), QStringLiteral("Libri in prestito"));
    TblStorico = loans::loanTable(page, m_history, QStringLiteral("TblStorico"), QStringLiteral("Storico dei prestiti"));
    auto* right = new QVBoxLayout;
    right->addLayout(fields);
    right->addWidget(controls::captionFor(page, QStringLiteral("LblInCorso"), QStringLiteral("IN PRESTITO"), TblInCorso));
    right->addWidget(TblInCorso, 1);
    right->addWidget(controls::captionFor(page, QStringLiteral("LblStorico"), QStringLiteral("STORICO"), TblStorico));
    right->addWidget(TblStorico, 1);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(left, 2);
    layout->addLayout(right, 5);
    return page;
}

QWidget* FrmPrestiti::buildOverduePage()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("PaginaRitardo"));
    TblRitardo = loans::loanTable(page, m_overdue, QStringLiteral("TblRitardo"), QStringLiteral("Prestiti in ritardo"));
    LblRitardo = named(new QLabel(page), QStringLiteral("LblRitardo"));
    CmdLettera = named(new QPushButton(QStringLiteral("Lettera"), page), QStringLiteral("CmdLettera"));
    CmdLettera->setToolTip(QStringLiteral("Stampa una lettera di sollecito per ogni lettore con libri in ritardo"));
    auto* top = new QHBoxLayout;
    top->addWidget(LblRitardo, 1);
    top->addWidget(CmdLettera);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(top);
    layout->addWidget(TblRitardo, 1);
    return page;
}

void FrmPrestiti::connectHandlers()
{
    guard::connect(DBList1, &controls::DBList::entryClicked, this, [this] { DBList1_Click(); });
    guard::connect(DBList1, &controls::DBList::keyReleased, this, [this] { DBList1_Click(); });
    guard::connect(TxtFiltro, &QLineEdit::textChanged, this, [this] { TxtFiltro_Change(); });
    guard::connect(CmdNuovo, &QPushButton::clicked, this, [this] { CmdNuovo_Click(); });
    guard::connect(CmdModifica, &QPushButton::clicked, this, [this] { CmdModifica_Click(); });
    guard::connect(Cmdelimina, &QPushButton::clicked, this, [this] { Cmdelimina_Click(); });
    guard::connect(CmdLettera, &QPushButton::clicked, this, [this] { CmdLettera_Click(); });
    guard::connect(Data1, &store::DataSource::reposition, this, [this] { showCount(); });
    guard::connect(Desk, &loans::DeskStrip::loansChanged, this, [this] {
        showLoans();
        emit loansChanged();
    });
    guard::connect(Desk, &loans::DeskStrip::borrowerCleared, this, [this] {
        if (!isEditing()) {
            DBList1->setBoundText(QString());
            DBList1_Click();
        }
    });
    // The list is locked with the record while it is edited; so is its filter.
    guard::connect(this, &controls::RecordPanel::editStateChanged, this,
                   [this] { TxtFiltro->setEnabled(!isEditing()); });
    guard::connect(Schede, &QTabWidget::currentChanged, this, [this] {
        if (Schede->currentIndex() == 1) {
            showOverdue(); // as it is now, also after other desks' loans
        }
    });
}

// ---------------------------------------------------------------- loading and browsing

void FrmPrestiti::Form_Load()
{
    m_archive = store::Archive::open(Modulo1::PercorsoArchivio);
    if (!store::loans::available(*m_archive)) {
        throw store::DbError(store::ErrNoLoans);
    }
    Data1->setArchive(m_archive);
    Desk->setArchive(m_archive);
    Data1->setRecordSource(sql::AllBorrowers);
    Data1->refresh();
    showCount();
    const store::Recordset& records = Data1->rs();
    if (records.recordCount() > 0) {
        DBList1->setBoundText(records.value(QStringLiteral("ID_Lettore")).toString());
    }
    DBList1_Click();
    showOverdue();
    Desk->TxtCodiceLibro->setFocus();
}

void FrmPrestiti::showSelected()
{
    DBList1_Click();
}

void FrmPrestiti::DBList1_Click()
{
    const qint64 key = DBList1->boundText().toLongLong();
    if (key == 0 || Data1->rs().findRow(QStringLiteral("ID_Lettore"), key) < 0) {
        // Nothing chosen, or deleted meanwhile at another desk: no borrower rather than the wrong one.
        DBList1->setBoundText(QString());
        if (store::Recordset* records = Data1->recordset(); records && records->hasCurrent()) {
            records->setAbsolutePosition(-1);
            Data1->notifyReposition();
        }
        showBorrowerLoans(0);
        return;
    }
    RecordPanel::showSelected();
    showBorrowerLoans(key);
}

void FrmPrestiti::showBorrowerLoans(qint64 key)
{
    const QDate day = today::date();
    if (key == 0) {
        m_open->setLoans({}, day);
        m_history->setLoans({}, day);
        Desk->setBorrower(0, {});
        return;
    }
    m_open->setLoans(store::loans::openLoansOf(*m_archive, key), day);
    QList<store::loans::Loan> history = store::loans::historyOf(*m_archive, key);
    history.removeIf([](const store::loans::Loan& loan) { return loan.isOpen(); });
    m_history->setLoans(std::move(history), day);
    Desk->setBorrower(key, Data1->rs().value(QStringLiteral("nome")).toString());
}

void FrmPrestiti::showOverdue()
{
    const QDate day = today::date();
    m_overdue->setLoans(store::loans::overdue(*m_archive, day), day);
    const qsizetype n = m_overdue->loans().size();
    LblRitardo->setText(n == 0   ? QStringLiteral("Nessun prestito in ritardo.")
                        : n == 1 ? QStringLiteral("1 prestito in ritardo.")
                                 : QStringLiteral("%1 prestiti in ritardo.").arg(n));
    Schede->setTabText(1, n == 0 ? QStringLiteral("In ritardo") : QStringLiteral("In ritardo (%1)").arg(n));
    CmdLettera->setEnabled(n > 0);
}

void FrmPrestiti::showLoans()
{
    if (!m_archive) {
        return;
    }
    showBorrowerLoans(DBList1->boundText().toLongLong());
    if (Schede->currentIndex() == 1) {
        showOverdue();
        return;
    }
    // The overdue list is read when its page is shown; a scan at the desk only counts it, so the
    // next scan is not kept waiting for thousands of loans read again.
    const qint64 n = store::loans::overdueCount(*m_archive, today::date());
    Schede->setTabText(1, n == 0 ? QStringLiteral("In ritardo") : QStringLiteral("In ritardo (%1)").arg(n));
}

void FrmPrestiti::showCount()
{
    const store::Recordset* records = Data1->recordset();
    Label1->setText(QString::number(records ? records->recordCount() : 0));
    Label1->setAccessibleName(QStringLiteral("Lettori in elenco: ") + Label1->text());
}

void FrmPrestiti::TxtFiltro_Change()
{
    const QString before = DBList1->boundText();
    Data1->setRecordSource(sql::borrowersNamed(TxtFiltro->text()));
    Data1->refresh();
    showCount();
    // The borrower chosen stays chosen while the filter keeps them; otherwise the first one found.
    DBList1->setBoundText(before);
    if (DBList1->boundText().isEmpty() && Data1->rs().recordCount() > 0) {
        Data1->rs().moveFirst();
        DBList1->setBoundText(Data1->rs().value(QStringLiteral("ID_Lettore")).toString());
    }
    DBList1_Click();
}

// ---------------------------------------------------------------- editing

void FrmPrestiti::CmdNuovo_Click()
{
    newOrCancel();
}

void FrmPrestiti::CmdModifica_Click()
{
    if (!isEditing() && !Data1->rs().hasCurrent()) {
        return; // no borrower to change
    }
    editOrSave();
}

void FrmPrestiti::Cmdelimina_Click()
{
    remove(QStringLiteral("Eliminare il lettore "), QStringLiteral(" dall'elenco?"));
}

void FrmPrestiti::CmdLettera_Click()
{
    loans::printLetters(this, *m_archive, today::date());
}

// ---------------------------------------------------------------- closing

void FrmPrestiti::Form_KeyUp(int keyCode)
{
    if (keyCode == 27) {
        closeWindow();
    }
}

bool FrmPrestiti::closeWindow()
{
    return windows::closeWindow(this);
}

void FrmPrestiti::closeEvent(QCloseEvent* event)
{
    windows::guardClose(event, isEditing());
}
