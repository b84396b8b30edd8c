#pragma once

#include "exchange/Transfer.h"

#include <QList>
#include <QStringList>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace transfer {

// The first step of an import: the file, how its text is read (encoding and separator, as
// detected and as the user corrects them; a workbook has neither) and its first rows, read again
// at each change.
class SourcePage : public QWidget {
    Q_OBJECT
  public:
    // The rows shown under the header.
    static constexpr int kRowsShown = 20;

    explicit SourcePage(QWidget* parent);

    // "Sfoglia…": the open dialog, then the file read. A file that cannot be read as a table
    // throws its error and leaves the page as it was.
    void CmdSfoglia_Click();
    // Reads the file at `path` as detected; throws as CmdSfoglia_Click does.
    void open(const QString& path);

    bool hasSource() const { return m_source.has_value(); }
    const exchange::Source& source() const { return *m_source; }
    const QStringList& header() const { return m_header; }
    const QList<QStringList>& rows() const { return m_rows; }

    QPushButton* CmdSfoglia;
    QLineEdit* TxtFile;
    QComboBox* CboCodifica;   // "UTF-8", "Windows-1252 (Excel italiano)"
    QComboBox* CboSeparatore; // ";", ",", "Tabulazione"
    QTableWidget* GrdRighe;

  signals:
    // Another file, or the same read another way.
    void sourceChanged();

  private:
    void formatChosen();
    // The header and first rows of `source`; throws when it has none.
    void read(const exchange::Source& source);
    void showRows();
    void showFormat();

    std::optional<exchange::Source> m_source;
    QStringList m_header;
    QList<QStringList> m_rows;
};

// The texts of the first rows in a table, the header over them.
void fillTable(QTableWidget* table, const QStringList& header, const QList<QStringList>& rows, int firstRow = 0);

} // namespace transfer
