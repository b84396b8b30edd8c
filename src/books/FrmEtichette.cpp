#include "books/FrmEtichette.h"

#include "app/Guard.h"
#include "app/LoanSettings.h"
#include "app/Messages.h"
#include "books/BookLabels.h"
#include "books/FrmBiblio.h"
#include "books/LabelSheetPanel.h"
#include "controls/BoundControls.h"
#include "printing/PrintRun.h"
#include "store/Catalogue.h"
#include "store/DataSource.h"
#include "store/Recordset.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <climits>

using controls::captionFor;
using controls::named;

FrmEtichette::FrmEtichette(FrmBiblio& books) : QDialog(&books), m_books(books)
{
    setObjectName(QStringLiteral("FrmEtichette"));
    setWindowTitle(QStringLiteral("Stampa etichette"));
    setModal(true);

    // Which books.
    auto* which = named(new QGroupBox(QStringLiteral("Libri"), this), QStringLiteral("FraLibri"));
    const char* const choices[4] = {"Corrente", "Elenco", "Da codice", "Scelti"};
    for (int i = 0; i < 4; ++i) {
        OptLibri[i] =
            named(new QRadioButton(QString::fromLatin1(choices[i]), which), QStringLiteral("OptLibri_%1").arg(i));
    }
    OptLibri[1]->setToolTip(QStringLiteral("I libri dell'elenco dei titoli, come è mostrato"));
    OptLibri[1]->setChecked(true);
    TxtDaCodice = named(new QSpinBox(which), QStringLiteral("TxtDaCodice"));
    TxtACodice = named(new QSpinBox(which), QStringLiteral("TxtACodice"));
    for (QSpinBox* key : {TxtDaCodice, TxtACodice}) {
        key->setRange(1, INT_MAX);
        key->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    }
    TxtDaCodice->setAccessibleName(QStringLiteral("Da codice"));
    LstScelti = named(new QListWidget(which), QStringLiteral("LstScelti"));
    LstScelti->setAccessibleName(QStringLiteral("Libri scelti"));
    LstScelti->setMinimumHeight(120);
    auto* whichLayout = new QGridLayout(which);
    whichLayout->addWidget(OptLibri[0], 0, 0);
    whichLayout->addWidget(OptLibri[1], 1, 0);
    whichLayout->addWidget(OptLibri[2], 2, 0);
    whichLayout->addWidget(TxtDaCodice, 2, 1);
    whichLayout->addWidget(captionFor(which, QStringLiteral("LblACodice"), QStringLiteral("a codice"), TxtACodice), 2,
                           2);
    whichLayout->addWidget(TxtACodice, 2, 3);
    whichLayout->addWidget(OptLibri[3], 3, 0, Qt::AlignTop);
    whichLayout->addWidget(LstScelti, 3, 1, 1, 3);

    // What each label holds.
    auto* content = named(new QGroupBox(QStringLiteral("Su ogni etichetta"), this), QStringLiteral("FraContenuto"));
    ChkCodice = named(new QCheckBox(QStringLiteral("Codice a barre"), content), QStringLiteral("ChkCodice"));
    ChkTitolo = named(new QCheckBox(QStringLiteral("Titolo"), content), QStringLiteral("ChkTitolo"));
    ChkPosizione = named(new QCheckBox(QStringLiteral("Posizione"), content), QStringLiteral("ChkPosizione"));
    ChkBiblioteca =
        named(new QCheckBox(QStringLiteral("Nome della biblioteca"), content), QStringLiteral("ChkBiblioteca"));
    TxtBiblioteca = named(new QLineEdit(content), QStringLiteral("TxtBiblioteca"));
    TxtBiblioteca->setAccessibleName(QStringLiteral("Nome della biblioteca"));
    ChkDorso = named(new QCheckBox(QStringLiteral("Etichetta per il dorso"), content), QStringLiteral("ChkDorso"));
    ChkDorso->setToolTip(QStringLiteral("La sola posizione, a caratteri grandi"));
    ChkRuotata = named(new QCheckBox(QStringLiteral("Ruotata di 90°"), content), QStringLiteral("ChkRuotata"));
    ChkRuotata->setToolTip(QStringLiteral("Per i dorsi stretti"));
    for (QCheckBox* box : {ChkCodice, ChkTitolo, ChkPosizione}) {
        box->setChecked(true);
    }
    const QString library = LoanSettings::load().libraryName;
    TxtBiblioteca->setText(library);
    ChkBiblioteca->setChecked(!library.isEmpty());
    auto* contentLayout = new QGridLayout(content);
    contentLayout->addWidget(ChkCodice, 0, 0, 1, 2);
    contentLayout->addWidget(ChkTitolo, 1, 0, 1, 2);
    contentLayout->addWidget(ChkPosizione, 2, 0, 1, 2);
    contentLayout->addWidget(ChkBiblioteca, 3, 0);
    contentLayout->addWidget(TxtBiblioteca, 3, 1);
    contentLayout->addWidget(ChkDorso, 4, 0);
    contentLayout->addWidget(ChkRuotata, 4, 1);

    FraFoglio = new books::LabelSheetPanel(this);

    TxtCopie = named(new QSpinBox(this), QStringLiteral("TxtCopie"));
    TxtCopie->setRange(1, 99);
    TxtCopie->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    ChkContorno =
        named(new QCheckBox(QStringLiteral("Contorno per la prova su carta"), this), QStringLiteral("ChkContorno"));
    CmdStampa = named(new QPushButton(QStringLiteral("&Stampa…"), this), QStringLiteral("CmdStampa"));
    CmdChiudi = named(new QPushButton(QStringLiteral("Chiudi"), this), QStringLiteral("CmdChiudi"));
    CmdStampa->setDefault(true);
    CmdChiudi->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(which);
    left->addWidget(content);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addWidget(FraFoglio, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(captionFor(this, QStringLiteral("LblCopie"), QStringLiteral("Copie per libro"), TxtCopie));
    bottom->addWidget(TxtCopie);
    bottom->addSpacing(16);
    bottom->addWidget(ChkContorno);
    bottom->addStretch();
    bottom->addWidget(CmdStampa);
    bottom->addWidget(CmdChiudi);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(bottom);

    for (QRadioButton* option : OptLibri) {
        guard::connect(option, &QRadioButton::toggled, this, [this] { OptLibri_Click(); });
    }
    guard::connect(ChkDorso, &QCheckBox::toggled, this, [this] { ChkDorso_Click(); });
    guard::connect(CmdStampa, &QPushButton::clicked, this, [this] { CmdStampa_Click(); });
    guard::connect(CmdChiudi, &QPushButton::clicked, this, [this] { reject(); });
    // Typing a key selects "Da codice"; ticking a book selects "Scelti".
    guard::connect(TxtDaCodice, &QSpinBox::valueChanged, this, [this] { OptLibri[2]->setChecked(true); });
    guard::connect(TxtACodice, &QSpinBox::valueChanged, this, [this] { OptLibri[2]->setChecked(true); });
    guard::connect(LstScelti, &QListWidget::itemChanged, this, [this] { OptLibri[3]->setChecked(true); });

    OptLibri_Click();
    ChkDorso_Click();
}

void FrmEtichette::OptLibri_Click()
{
    if (OptLibri[3]->isChecked()) {
        fillChoiceList();
    }
}

void FrmEtichette::ChkDorso_Click()
{
    // A spine label holds the shelf mark alone.
    const bool spine = ChkDorso->isChecked();
    for (QWidget* w :
         std::initializer_list<QWidget*>{ChkCodice, ChkTitolo, ChkPosizione, ChkBiblioteca, TxtBiblioteca}) {
        w->setEnabled(!spine);
    }
    ChkRuotata->setEnabled(spine);
}

void FrmEtichette::fillChoiceList()
{
    if (m_choiceListFilled) {
        return;
    }
    m_choiceListFilled = true;
    const QSignalBlocker quiet(LstScelti);
    for (const printing::LabelBook& book : books::labelBooks(*m_books.archive(), m_books.shownBookKeys())) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 (%2)").arg(book.title).arg(book.key), LstScelti);
        item->setData(Qt::UserRole, book.key);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Unchecked);
    }
}

QList<qint64> FrmEtichette::chosenKeys() const
{
    if (OptLibri[0]->isChecked()) {
        const store::Recordset* rs = m_books.Data1->recordset();
        if (!rs || !rs->hasCurrent()) {
            return {};
        }
        return {rs->value(QStringLiteral("id")).toLongLong()};
    }
    if (OptLibri[1]->isChecked()) {
        return m_books.shownBookKeys();
    }
    if (OptLibri[2]->isChecked()) {
        TxtDaCodice->interpretText();
        TxtACodice->interpretText();
        const qint64 from = TxtDaCodice->value();
        const qint64 to = TxtACodice->value();
        return store::catalogue::bookKeysBetween(*m_books.archive(), std::min(from, to), std::max(from, to));
    }
    QList<qint64> keys;
    for (int i = 0; i < LstScelti->count(); ++i) {
        if (LstScelti->item(i)->checkState() == Qt::Checked) {
            keys << LstScelti->item(i)->data(Qt::UserRole).toLongLong();
        }
    }
    return keys;
}

printing::LabelOptions FrmEtichette::options() const
{
    TxtCopie->interpretText();
    printing::LabelOptions o;
    o.spine = ChkDorso->isChecked();
    o.turned = o.spine && ChkRuotata->isChecked();
    o.barcode = !o.spine && ChkCodice->isChecked();
    o.title = !o.spine && ChkTitolo->isChecked();
    o.position = o.spine || ChkPosizione->isChecked();
    o.libraryName = !o.spine && ChkBiblioteca->isChecked() ? TxtBiblioteca->text().trimmed() : QString();
    o.outline = ChkContorno->isChecked();
    o.copies = TxtCopie->value();
    o.start = FraFoglio->start();
    return o;
}

void FrmEtichette::CmdStampa_Click()
{
    const printing::LabelStock stock = FraFoglio->stock();
    if (const QString problem = stock.problem(); !problem.isEmpty()) {
        msg::show(problem, msg::Icon::Exclamation);
        return;
    }
    const printing::LabelOptions chosen = options();
    if (!chosen.spine && !chosen.barcode && !chosen.title && !chosen.position && chosen.libraryName.isEmpty()) {
        msg::show(QStringLiteral("Scegliere che cosa stampare sulle etichette."), msg::Icon::Exclamation);
        return;
    }
    const QList<printing::LabelBook> labels = books::labelBooks(*m_books.archive(), chosenKeys());
    if (labels.isEmpty()) {
        msg::show(QStringLiteral("Non ci sono libri di cui stampare le etichette."), msg::Icon::Exclamation);
        return;
    }
    printing::PrintRequest request;
    request.window = this;
    request.documentName = QStringLiteral("Etichette");
    // The sheet's own paper, labels placed from its corner; no logo over the first labels.
    request.page = printing::labelPage(stock);
    request.logo = false;
    request.content = [stock, chosen, labels](printing::PrintSurface& surface, printing::Progress& progress) {
        printing::printLabels(surface, progress, stock, chosen, labels);
    };
    printing::runPrint(request);
}
