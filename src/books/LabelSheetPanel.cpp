#include "books/LabelSheetPanel.h"

#include "app/Guard.h"
#include "app/Messages.h"
#include "books/SavedStocks.h"
#include "controls/BoundControls.h"
#include "store/DbError.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace books {

using controls::captionFor;
using controls::named;

namespace {

const QString kCustom = QStringLiteral("Personalizzato…");

// The grid shows at most this many labels a row and rows a sheet: the measures accept no more.
constexpr int kMaxColumns = 20;
constexpr int kMaxRows = 60;

struct Measure {
    const char* name;
    const char* caption;
    double printing::LabelStock::*member;
};

const std::array<Measure, 8> kMeasures{{
    {"TxtLarghezzaPagina", "Larghezza del foglio", &printing::LabelStock::pageWidth},
    {"TxtAltezzaPagina", "Altezza del foglio", &printing::LabelStock::pageHeight},
    {"TxtMargineSinistro", "Margine sinistro", &printing::LabelStock::marginLeft},
    {"TxtMargineSuperiore", "Margine superiore", &printing::LabelStock::marginTop},
    {"TxtPassoOrizzontale", "Passo orizzontale", &printing::LabelStock::pitchX},
    {"TxtPassoVerticale", "Passo verticale", &printing::LabelStock::pitchY},
    {"TxtLarghezzaEtichetta", "Larghezza dell'etichetta", &printing::LabelStock::labelWidth},
    {"TxtAltezzaEtichetta", "Altezza dell'etichetta", &printing::LabelStock::labelHeight},
}};

} // namespace

LabelSheetPanel::LabelSheetPanel(QWidget* parent) : QGroupBox(QStringLiteral("Foglio"), parent)
{
    setObjectName(QStringLiteral("FraFoglio"));
    CboFoglio = named(new QComboBox(this), QStringLiteral("CboFoglio"));
    FraMisure = named(new QWidget(this), QStringLiteral("FraMisure"));
    auto* measures = new QGridLayout(FraMisure);
    measures->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < int(kMeasures.size()); ++i) {
        auto* box = named(new QDoubleSpinBox(FraMisure), QString::fromLatin1(kMeasures[i].name));
        box->setDecimals(1);
        box->setSingleStep(0.1);
        box->setRange(0, 1000);
        box->setSuffix(QStringLiteral(" mm"));
        box->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
        TxtMisure[i] = box;
        const QString caption = QString::fromLatin1(kMeasures[i].name).replace(0, 3, QStringLiteral("Lbl"));
        measures->addWidget(captionFor(FraMisure, caption, QString::fromUtf8(kMeasures[i].caption), box), i / 2,
                            (i % 2) * 2);
        measures->addWidget(box, i / 2, (i % 2) * 2 + 1);
    }
    TxtColonne = named(new QSpinBox(FraMisure), QStringLiteral("TxtColonne"));
    TxtColonne->setRange(1, kMaxColumns);
    TxtRighe = named(new QSpinBox(FraMisure), QStringLiteral("TxtRighe"));
    TxtRighe->setRange(1, kMaxRows);
    measures->addWidget(captionFor(FraMisure, QStringLiteral("LblColonne"), QStringLiteral("Colonne"), TxtColonne), 4,
                        0);
    measures->addWidget(TxtColonne, 4, 1);
    measures->addWidget(captionFor(FraMisure, QStringLiteral("LblRighe"), QStringLiteral("Righe"), TxtRighe), 4, 2);
    measures->addWidget(TxtRighe, 4, 3);
    CmdSalvaFoglio =
        named(new QPushButton(QStringLiteral("Salva con nome…"), FraMisure), QStringLiteral("CmdSalvaFoglio"));
    CmdEliminaFoglio =
        named(new QPushButton(QStringLiteral("Elimina foglio"), FraMisure), QStringLiteral("CmdEliminaFoglio"));
    CmdSalvaFoglio->setAutoDefault(false);
    CmdEliminaFoglio->setAutoDefault(false);
    auto* saveRow = new QHBoxLayout;
    saveRow->addWidget(CmdSalvaFoglio);
    saveRow->addWidget(CmdEliminaFoglio);
    saveRow->addStretch();
    measures->addLayout(saveRow, 5, 0, 1, 4);

    GrdInizio = named(new QWidget(this), QStringLiteral("GrdInizio"));
    GrdInizio->setAccessibleName(QStringLiteral("Prima etichetta libera del foglio"));
    m_grid = new QGridLayout(GrdInizio);
    m_grid->setSpacing(1);
    m_grid->setContentsMargins(0, 0, 0, 0);
    LblInizio = named(new QLabel(this), QStringLiteral("LblInizio"));

    auto* layout = new QVBoxLayout(this);
    auto* stockRow = new QHBoxLayout;
    stockRow->addWidget(captionFor(this, QStringLiteral("LblFoglio"), QStringLiteral("Tipo di foglio"), CboFoglio));
    stockRow->addWidget(CboFoglio, 1);
    layout->addLayout(stockRow);
    layout->addWidget(FraMisure);
    layout->addWidget(new QLabel(QStringLiteral("Fare clic sulla prima etichetta libera del foglio:"), this));
    layout->addWidget(GrdInizio, 0, Qt::AlignLeft);
    layout->addWidget(LblInizio);

    fillStocks();
    guard::connect(CboFoglio, &QComboBox::currentIndexChanged, this, [this] { CboFoglio_Change(); });
    for (QDoubleSpinBox* box : TxtMisure) {
        guard::connect(box, &QDoubleSpinBox::valueChanged, this, [this] { rebuildGrid(); });
    }
    guard::connect(TxtColonne, &QSpinBox::valueChanged, this, [this] { rebuildGrid(); });
    guard::connect(TxtRighe, &QSpinBox::valueChanged, this, [this] { rebuildGrid(); });
    guard::connect(CmdSalvaFoglio, &QPushButton::clicked, this, [this] { CmdSalvaFoglio_Click(); });
    guard::connect(CmdEliminaFoglio, &QPushButton::clicked, this, [this] { CmdEliminaFoglio_Click(); });
    CboFoglio_Change();
}

void LabelSheetPanel::fillStocks(const QString& select)
{
    m_filling = true;
    m_saved = stocks::saved();
    CboFoglio->clear();
    for (const printing::LabelStock& s : printing::standardStocks()) {
        CboFoglio->addItem(s.name, int(Standard));
    }
    for (const printing::LabelStock& s : m_saved) {
        CboFoglio->addItem(s.name, int(Saved));
    }
    CboFoglio->addItem(kCustom, int(Custom));
    int index = 0;
    if (!select.isEmpty()) {
        for (int i = 0; i < m_saved.size(); ++i) {
            if (m_saved[i].name.compare(select, Qt::CaseInsensitive) == 0) {
                index = int(printing::standardStocks().size()) + i;
            }
        }
    }
    CboFoglio->setCurrentIndex(index);
    m_filling = false;
}

LabelSheetPanel::Kind LabelSheetPanel::kind() const
{
    return Kind(CboFoglio->currentData().toInt());
}

printing::LabelStock LabelSheetPanel::stock() const
{
    const int index = std::max(0, CboFoglio->currentIndex());
    if (kind() == Standard) {
        return printing::standardStocks().value(index);
    }
    printing::LabelStock s;
    s.name = kind() == Saved ? CboFoglio->currentText() : QStringLiteral("Personalizzato");
    for (int i = 0; i < int(kMeasures.size()); ++i) {
        // A measure still being typed counts as typed.
        TxtMisure[i]->interpretText();
        s.*kMeasures[i].member = TxtMisure[i]->value();
    }
    TxtColonne->interpretText();
    TxtRighe->interpretText();
    s.columns = TxtColonne->value();
    s.rows = TxtRighe->value();
    return s;
}

void LabelSheetPanel::CboFoglio_Change()
{
    if (m_filling) {
        return;
    }
    const Kind k = kind();
    if (k == Saved) {
        showMeasures(m_saved.value(CboFoglio->currentIndex() - int(printing::standardStocks().size())));
    } else if (k == Custom && m_shownKind == Standard) {
        // The custom measures start from the stock that was chosen before, the closest to what
        // the user has in hand.
        showMeasures(m_shown);
    }
    FraMisure->setVisible(k != Standard);
    CmdEliminaFoglio->setEnabled(k == Saved);
    m_shown = stock();
    m_shownKind = k;
    rebuildGrid();
}

void LabelSheetPanel::showMeasures(const printing::LabelStock& s)
{
    m_filling = true;
    for (int i = 0; i < int(kMeasures.size()); ++i) {
        TxtMisure[i]->setValue(s.*kMeasures[i].member);
    }
    TxtColonne->setValue(std::clamp(s.columns, 1, kMaxColumns));
    TxtRighe->setValue(std::clamp(s.rows, 1, kMaxRows));
    m_filling = false;
}

void LabelSheetPanel::CmdSalvaFoglio_Click()
{
    printing::LabelStock s = stock();
    // An unsound stock is refused before a name is asked for.
    if (const QString problem = s.problem(); !problem.isEmpty()) {
        msg::show(problem, msg::Icon::Exclamation);
        return;
    }
    QInputDialog ask(this);
    ask.setObjectName(QStringLiteral("NomeFoglio"));
    ask.setWindowTitle(QStringLiteral("Salva foglio"));
    ask.setLabelText(QStringLiteral("Nome del foglio di etichette:"));
    ask.setOkButtonText(QStringLiteral("Salva"));
    ask.setCancelButtonText(QStringLiteral("Annulla"));
    ask.setTextValue(kind() == Saved ? CboFoglio->currentText() : QString());
    if (ask.exec() != QDialog::Accepted) {
        return;
    }
    s.name = ask.textValue().trimmed();
    if (s.name == kCustom ||
        std::any_of(printing::standardStocks().begin(), printing::standardStocks().end(),
                    [&s](const printing::LabelStock& t) { return t.name.compare(s.name, Qt::CaseInsensitive) == 0; })) {
        msg::show(QStringLiteral("Il nome \"") + s.name +
                      QStringLiteral("\" è quello di un foglio del programma: sceglierne un altro."),
                  msg::Icon::Exclamation);
        return;
    }
    const auto& saved = m_saved;
    const bool exists = std::any_of(saved.begin(), saved.end(), [&s](const printing::LabelStock& t) {
        return t.name.compare(s.name, Qt::CaseInsensitive) == 0;
    });
    if (exists && (kind() != Saved || CboFoglio->currentText().compare(s.name, Qt::CaseInsensitive) != 0) &&
        msg::show(QStringLiteral("Esiste già un foglio \"") + s.name + QStringLiteral("\". Sostituirlo?"),
                  msg::Icon::Exclamation, msg::Buttons::YesNo) != msg::Answer::Yes) {
        return;
    }
    stocks::save(s);
    fillStocks(s.name);
    CboFoglio_Change();
}

void LabelSheetPanel::CmdEliminaFoglio_Click()
{
    if (kind() != Saved) {
        return;
    }
    const QString name = CboFoglio->currentText();
    if (msg::show(QStringLiteral("Eliminare il foglio \"") + name + QStringLiteral("\"?"), msg::Icon::Exclamation,
                  msg::Buttons::YesNo) != msg::Answer::Yes) {
        return;
    }
    stocks::remove(name);
    fillStocks();
    CboFoglio_Change();
}

void LabelSheetPanel::rebuildGrid()
{
    if (m_filling) {
        return;
    }
    const printing::LabelStock s = stock();
    const int columns = std::clamp(s.columns, 1, kMaxColumns);
    const int rows = std::clamp(s.rows, 1, kMaxRows);
    if (CmdEtichetta.size() != columns * rows || m_gridColumns != columns) {
        m_gridColumns = columns;
        qDeleteAll(CmdEtichetta);
        CmdEtichetta.clear();
        for (int i = 0; i < columns * rows; ++i) {
            auto* label = named(new QToolButton(GrdInizio), QStringLiteral("CmdEtichetta_%1").arg(i));
            label->setCheckable(true);
            label->setFixedSize(22, 14);
            label->setFocusPolicy(Qt::TabFocus);
            m_grid->addWidget(label, i / columns, i % columns);
            guard::connect(label, &QToolButton::clicked, this, [this, i] { setStart(i); });
            CmdEtichetta << label;
        }
    }
    setStart(m_start < columns * rows ? m_start : 0);
}

void LabelSheetPanel::setStart(int index)
{
    m_start = std::clamp(index, 0, std::max(0, int(CmdEtichetta.size()) - 1));
    showStart();
}

void LabelSheetPanel::showStart()
{
    const int perRow = m_gridColumns;
    for (int i = 0; i < CmdEtichetta.size(); ++i) {
        QToolButton* label = CmdEtichetta[i];
        const bool used = i < m_start;
        // Used labels are pressed in and crossed out; the first free one is checked.
        label->setText(used ? QStringLiteral("×") : QString());
        label->setChecked(i == m_start);
        label->setDown(used);
        label->setAccessibleName(QStringLiteral("Etichetta %1, riga %2, colonna %3%4")
                                     .arg(i + 1)
                                     .arg(i / perRow + 1)
                                     .arg(i % perRow + 1)
                                     .arg(used ? QStringLiteral(", già usata") : QString()));
    }
    LblInizio->setText(QStringLiteral("Si comincia dall'etichetta %1 (riga %2, colonna %3).")
                           .arg(m_start + 1)
                           .arg(m_start / perRow + 1)
                           .arg(m_start % perRow + 1));
}

} // namespace books
