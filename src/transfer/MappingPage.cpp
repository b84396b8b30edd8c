#include "transfer/MappingPage.h"

#include "controls/BoundControls.h"
#include "transfer/SourcePage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

using controls::named;

namespace transfer {

MappingPage::MappingPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("MappingPage"));
    auto* hint =
        named(new QLabel(QStringLiteral("Sopra ogni colonna del file, il campo del catalogo in cui va:"), this),
              QStringLiteral("LblColonne"));
    GrdColonne = named(new QTableWidget(this), QStringLiteral("GrdColonne"));
    GrdColonne->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GrdColonne->setAccessibleName(hint->text());
    hint->setBuddy(GrdColonne);
    ChkSeparaE =
        named(new QCheckBox(QStringLiteral("Separa gli autori anche su « e »"), this), QStringLiteral("ChkSeparaE"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hint);
    layout->addWidget(GrdColonne, 1);
    layout->addWidget(ChkSeparaE);
}

void MappingPage::show(const QStringList& header, const QList<QStringList>& rows)
{
    // The same file read again keeps what the user chose.
    QList<exchange::Field> chosen;
    if (header == m_header) {
        for (const QComboBox* combo : CboCampo) {
            chosen << exchange::Field(combo->currentData().toInt());
        }
    }
    m_header = header;
    fillTable(GrdColonne, header, rows, 1);
    const exchange::Mapping guessed = exchange::guessMapping(header);
    CboCampo.clear();
    for (int c = 0; c < GrdColonne->columnCount(); ++c) {
        auto* combo = named(new QComboBox, QStringLiteral("CboCampo_%1").arg(c));
        combo->addItem(exchange::infoOf(exchange::Field::Ignore).heading, int(exchange::Field::Ignore));
        for (const exchange::FieldInfo& info : exchange::bookFields()) {
            combo->addItem(info.heading, int(info.field));
        }
        const exchange::Field field =
            c < chosen.size() ? chosen.at(c) : guessed.columns.value(c, exchange::Field::Ignore);
        combo->setCurrentIndex(combo->findData(int(field)));
        combo->setAccessibleName(
            QStringLiteral("Campo della colonna %1").arg(GrdColonne->horizontalHeaderItem(c)->text()));
        GrdColonne->setCellWidget(0, c, combo);
        CboCampo << combo;
    }
    GrdColonne->setVerticalHeaderItem(0, new QTableWidgetItem(QStringLiteral("Campo")));
    GrdColonne->resizeColumnsToContents();
}

exchange::Mapping MappingPage::mapping() const
{
    exchange::Mapping mapping;
    for (const QComboBox* combo : CboCampo) {
        mapping.columns << exchange::Field(combo->currentData().toInt());
    }
    mapping.splitOnE = ChkSeparaE->isChecked();
    return mapping;
}

QString MappingPage::refusal() const
{
    const exchange::Mapping chosen = mapping();
    if (!chosen.maps(exchange::Field::Title) && !chosen.maps(exchange::Field::Key)) {
        return QStringLiteral("Nessuna colonna va nel titolo né nel codice: scegliere almeno una colonna per "
                              "l'uno o per l'altro.");
    }
    for (int c = 0; c < chosen.columns.size(); ++c) {
        const exchange::Field field = chosen.columns.at(c);
        const int again = int(chosen.columns.indexOf(field, c + 1));
        if (field != exchange::Field::Ignore && again >= 0) {
            return QStringLiteral("Le colonne %1 e %2 vanno entrambe in «%3»: sceglierne una sola.")
                .arg(GrdColonne->horizontalHeaderItem(c)->text(), GrdColonne->horizontalHeaderItem(again)->text(),
                     exchange::infoOf(field).heading);
        }
    }
    return {};
}

} // namespace transfer
