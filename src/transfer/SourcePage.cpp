#include "transfer/SourcePage.h"

#include "app/FileDialogs.h"
#include "app/Guard.h"
#include "app/Modulo1.h"
#include "controls/BoundControls.h"
#include "store/DbError.h"
#include "transfer/ProgressRun.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

using controls::captionFor;
using controls::named;

namespace transfer {

namespace {

const QList<QChar> kSeparators{QLatin1Char(';'), QLatin1Char(','), QLatin1Char('\t')};

} // namespace

void fillTable(QTableWidget* table, const QStringList& header, const QList<QStringList>& rows, int firstRow)
{
    int columns = int(header.size());
    for (const QStringList& row : rows) {
        columns = qMax(columns, int(row.size()));
    }
    table->clear();
    table->setColumnCount(columns);
    table->setRowCount(firstRow + int(rows.size()));
    QStringList headings;
    for (int c = 0; c < columns; ++c) {
        const QString heading = c < header.size() ? header.at(c).trimmed() : QString();
        headings << (heading.isEmpty() ? QStringLiteral("Colonna %1").arg(c + 1) : heading);
    }
    table->setHorizontalHeaderLabels(headings);
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows.at(r).size(); ++c) {
            auto* item = new QTableWidgetItem(rows.at(r).at(c));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            table->setItem(firstRow + r, c, item);
        }
    }
}

SourcePage::SourcePage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SourcePage"));
    TxtFile = named(new QLineEdit(this), QStringLiteral("TxtFile"));
    TxtFile->setReadOnly(true);
    CmdSfoglia = named(new QPushButton(QStringLiteral("&Sfoglia…"), this), QStringLiteral("CmdSfoglia"));
    CmdSfoglia->setAutoDefault(false);
    CboCodifica = named(new QComboBox(this), QStringLiteral("CboCodifica"));
    CboCodifica->addItems({QStringLiteral("UTF-8"), QStringLiteral("Windows-1252 (Excel italiano)")});
    CboSeparatore = named(new QComboBox(this), QStringLiteral("CboSeparatore"));
    CboSeparatore->addItems({QStringLiteral(";"), QStringLiteral(","), QStringLiteral("Tabulazione")});
    CboCodifica->setEnabled(false);
    CboSeparatore->setEnabled(false);
    GrdRighe = named(new QTableWidget(this), QStringLiteral("GrdRighe"));
    GrdRighe->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GrdRighe->setAccessibleName(QStringLiteral("Le prime righe del file"));

    auto* grid = new QGridLayout;
    grid->addWidget(captionFor(this, QStringLiteral("LblFile"), QStringLiteral("File da importare"), TxtFile), 0, 0);
    grid->addWidget(TxtFile, 0, 1, 1, 3);
    grid->addWidget(CmdSfoglia, 0, 4);
    grid->addWidget(captionFor(this, QStringLiteral("LblCodifica"), QStringLiteral("Codifica"), CboCodifica), 1, 0);
    grid->addWidget(CboCodifica, 1, 1);
    grid->addWidget(captionFor(this, QStringLiteral("LblSeparatore"), QStringLiteral("Separatore"), CboSeparatore), 1,
                    2);
    grid->addWidget(CboSeparatore, 1, 3);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(GrdRighe, 1);

    guard::connect(CmdSfoglia, &QPushButton::clicked, this, [this] { CmdSfoglia_Click(); });
    guard::connect(CboCodifica, &QComboBox::currentIndexChanged, this, [this] { formatChosen(); });
    guard::connect(CboSeparatore, &QComboBox::currentIndexChanged, this, [this] { formatChosen(); });
}

void SourcePage::CmdSfoglia_Click()
{
    const QString folder = m_source                              ? QFileInfo(m_source->path).absolutePath()
                           : Modulo1::CartellaArchivio.isEmpty() ? QDir::homePath()
                                                                 : Modulo1::CartellaArchivio;
    QString path;
    if (!chosen([&] { path = dialogs::openTable(this, folder); })) {
        return;
    }
    open(path);
}

void SourcePage::open(const QString& path)
{
    const exchange::Source source = exchange::detectSource(path);
    read(source); // throws before anything shown changes
    m_source = source;
    TxtFile->setText(QDir::toNativeSeparators(path));
    showFormat();
    showRows();
    emit sourceChanged();
}

void SourcePage::formatChosen()
{
    if (!m_source || m_source->kind != exchange::FileKind::Csv) {
        return;
    }
    exchange::Source source = *m_source;
    source.csv.encoding = CboCodifica->currentIndex() == 1 ? exchange::Encoding::Windows1252 : exchange::Encoding::Utf8;
    source.csv.separator = kSeparators.value(CboSeparatore->currentIndex(), QLatin1Char(';'));
    try {
        read(source);
    } catch (...) {
        showFormat(); // the combos say again how the rows shown were read
        throw;
    }
    m_source = source;
    showRows();
    emit sourceChanged();
}

void SourcePage::read(const exchange::Source& source)
{
    const std::unique_ptr<exchange::SheetReader> reader = exchange::openSource(source);
    exchange::ReadRow row;
    if (!reader->next(row)) {
        throw store::DbError(store::ErrNotATable,
                             QStringLiteral("Il file %1 non contiene righe.").arg(QFileInfo(source.path).fileName()));
    }
    QStringList header = row.fields;
    QList<QStringList> rows;
    while (rows.size() < kRowsShown && reader->next(row)) {
        rows << row.fields;
    }
    m_header = header;
    m_rows = rows;
}

void SourcePage::showFormat()
{
    const QSignalBlocker encoding(CboCodifica);
    const QSignalBlocker separator(CboSeparatore);
    const bool csv = m_source && m_source->kind == exchange::FileKind::Csv;
    CboCodifica->setEnabled(csv);
    CboSeparatore->setEnabled(csv);
    if (!csv) {
        CboCodifica->setCurrentIndex(-1);
        CboSeparatore->setCurrentIndex(-1);
        return;
    }
    CboCodifica->setCurrentIndex(m_source->csv.encoding == exchange::Encoding::Windows1252 ? 1 : 0);
    CboSeparatore->setCurrentIndex(qMax(0, int(kSeparators.indexOf(m_source->csv.separator))));
}

void SourcePage::showRows()
{
    fillTable(GrdRighe, m_header, m_rows);
}

} // namespace transfer
