#include "exchange/Sheet.h"

#include "store/DbError.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <freexl.h>

#include <cmath>

namespace exchange {

using store::DbError;

namespace {

DbError notWorkbook(const QString& path, int code)
{
    QString description;
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        description = QStringLiteral("Impossibile aprire il file '%1'.").arg(QDir::toNativeSeparators(path));
        break;
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
    case FREEXL_BIFF_INVALID_BOF:
        description = QStringLiteral("Il file non è una cartella di Excel 97-2003.");
        break;
    case FREEXL_INSUFFICIENT_MEMORY:
        description = QStringLiteral("La cartella di Excel è troppo grande per essere letta.");
        break;
    default:
        description = QStringLiteral("La cartella di Excel è danneggiata e non si può leggere.");
        break;
    }
    return DbError(store::ErrNotATable, description, QStringLiteral("freexl: %1").arg(code));
}

// Numbers as a person would type them: no trailing zeros, a point for the decimals.
QString numberText(double value)
{
    if (!std::isfinite(value)) {
        return {};
    }
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return QString::number(qint64(value));
    }
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

QString dateText(const char* text)
{
    // 'YYYY-MM-DD', or 'YYYY-MM-DD HH:MM:SS' of which the date is kept.
    const QString value = QString::fromUtf8(text);
    const QDate date = QDate::fromString(value.left(10), QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : value;
}

// Closed whatever happens, a failed open included (the library asks for it).
struct Handle {
    const void* handle = nullptr;
    Handle() = default;
    ~Handle()
    {
        if (handle != nullptr) {
            freexl_close(handle);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

class XlsReader : public SheetReader {
  public:
    explicit XlsReader(const QString& path)
    {
        const int opened = freexl_open(QFile::encodeName(path).constData(), &m_handle);
        if (opened != FREEXL_OK) {
            throw notWorkbook(path, opened);
        }
        unsigned int password = 0;
        if (freexl_get_info(m_handle, FREEXL_BIFF_PASSWORD, &password) == FREEXL_OK &&
            password == FREEXL_BIFF_OBFUSCATED) {
            throw DbError(store::ErrNotATable, QStringLiteral("La cartella di Excel è protetta da una password."));
        }
        unsigned int sheets = 0;
        if (freexl_get_info(m_handle, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK || sheets == 0) {
            throw DbError(store::ErrNotATable, QStringLiteral("La cartella di Excel non ha fogli."));
        }
        const int selected = freexl_select_active_worksheet(m_handle, 0);
        if (selected != FREEXL_OK) {
            throw notWorkbook(path, selected);
        }
        const int measured = freexl_worksheet_dimensions(m_handle, &m_rows, &m_columns);
        if (measured != FREEXL_OK) {
            throw notWorkbook(path, measured);
        }
        m_path = path;
    }

    bool next(ReadRow& row) override
    {
        while (m_next < m_rows) {
            const unsigned int index = m_next++;
            row = ReadRow();
            row.line = int(index) + 1;
            int filled = 0;
            bool tooLong = false;
            for (unsigned short column = 0; column < m_columns; ++column) {
                FreeXL_CellValue cell{};
                const int got = freexl_get_cell_value(m_handle, index, column, &cell);
                if (got != FREEXL_OK) {
                    throw notWorkbook(m_path, got);
                }
                QString text = cellText(cell);
                if (text.size() > kLongestField) {
                    tooLong = true;
                    text.clear();
                }
                if (!text.isEmpty()) {
                    filled = column + 1;
                }
                if (row.fields.size() < kMostFields) {
                    row.fields.append(text);
                }
            }
            if (filled == 0) {
                continue; // a row without values gives no row, as an empty line of a CSV file
            }
            row.fields.resize(std::min(filled, kMostFields));
            if (filled > kMostFields) {
                row.problem = QStringLiteral("più di %1 colonne").arg(kMostFields);
            } else if (tooLong) {
                row.problem = QStringLiteral("campo più lungo di %1 caratteri").arg(kLongestField);
            }
            return true;
        }
        return false;
    }

    int progress() const override
    {
        return m_rows == 0 ? 1000 : int(qint64(m_next) * 1000 / m_rows);
    }

    void rewind() override
    {
        m_next = 0;
    }

  private:
    static QString cellText(const FreeXL_CellValue& cell)
    {
        switch (cell.type) {
        case FREEXL_CELL_INT:
            return QString::number(cell.value.int_value);
        case FREEXL_CELL_DOUBLE:
            return numberText(cell.value.double_value);
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_TIME:
            return cell.value.text_value != nullptr ? QString::fromUtf8(cell.value.text_value) : QString();
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
            return cell.value.text_value != nullptr ? dateText(cell.value.text_value) : QString();
        default:
            return {};
        }
    }

    Handle m_open;
    const void*& m_handle = m_open.handle;
    QString m_path;
    unsigned int m_rows = 0;
    unsigned short m_columns = 0;
    unsigned int m_next = 0;
};

} // namespace

std::unique_ptr<SheetReader> xlsReader(const QString& path)
{
    const FileKind kind = kindOf(path);
    if (kind == FileKind::Empty) {
        throw DbError(store::ErrNotATable, kindProblem(kind));
    }
    if (kind != FileKind::Xls) {
        throw DbError(store::ErrNotATable, QStringLiteral("Il file non è una cartella di Excel 97-2003."));
    }
    return std::make_unique<XlsReader>(path);
}

} // namespace exchange
