#include "exchange/Sheet.h"
#include "exchange/WorkingFile.h"

#include "store/DbError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>

namespace exchange {

using store::DbError;

namespace {

constexpr int kNarrowest = 6;
constexpr int kWidest = 60;
constexpr int kLongestCellText = 32767;
constexpr lxw_row_t kLastRow = 1048575;

class XlsxWriter : public SheetWriter {
  public:
    XlsxWriter(const QString& path, const QString& name)
        : m_work(path)
        , m_tmpdir(QFile::encodeName(QFileInfo(m_work.target()).absolutePath()))
    {
        // Rows go to working files as they are written; kept beside the target rather than in the
        // system's temporary folder, which may be memory.
        lxw_workbook_options options{};
        options.constant_memory = LXW_TRUE;
        options.tmpdir = m_tmpdir.data();
        m_book = workbook_new_opt(QFile::encodeName(m_work.path()).constData(), &options);
        if (m_book == nullptr) {
            throw m_work.failure();
        }
        m_sheet = workbook_add_worksheet(m_book, sheetName(name).toUtf8().constData());
        if (m_sheet == nullptr) {
            // The sheet's working file could not be made.
            throw m_work.failure();
        }
        m_bold = workbook_add_format(m_book);
        format_set_bold(m_bold);
        m_amount = workbook_add_format(m_book);
        format_set_num_format(m_amount, "0.00");
        m_date = workbook_add_format(m_book);
        format_set_num_format(m_date, "dd/mm/yyyy");
        worksheet_freeze_panes(m_sheet, 1, 0);
    }

    ~XlsxWriter() override
    {
        if (m_book != nullptr) {
            lxw_workbook_free(m_book);
        }
    }

    void writeHeader(const QStringList& headings) override
    {
        for (qsizetype column = 0; column < headings.size(); ++column) {
            writeText(column, headings.at(column), m_bold);
        }
        m_row = 1;
    }

    void writeRow(const Row& row) override
    {
        if (m_row > kLastRow) {
            throw DbError(store::ErrWorkbook, QStringLiteral("Una cartella di Excel non può tenere più di %1 righe.")
                                                  .arg(QLocale(QLocale::Italian).toString(kLastRow + 1)));
        }
        for (qsizetype column = 0; column < row.size(); ++column) {
            const Cell& cell = row.at(column);
            const auto col = lxw_col_t(column);
            switch (cell.kind) {
            case Cell::Kind::Empty:
                break;
            case Cell::Kind::Text:
                writeText(column, cell.text, nullptr);
                break;
            case Cell::Kind::Integer:
                check(worksheet_write_number(m_sheet, m_row, col, double(cell.integer), nullptr));
                fit(column, QString::number(cell.integer).size());
                break;
            case Cell::Kind::Amount:
                if (std::isfinite(cell.amount)) {
                    check(worksheet_write_number(m_sheet, m_row, col, cell.amount, m_amount));
                    fit(column, QString::number(cell.amount, 'f', 2).size());
                }
                break;
            case Cell::Kind::Date:
                if (!cell.date.isValid()) {
                    break;
                }
                if (cell.date.year() < 1900 || cell.date.year() > 9999) {
                    writeText(column, cell.csvText(), nullptr);
                    break;
                }
                {
                    lxw_datetime when{};
                    when.year = cell.date.year();
                    when.month = cell.date.month();
                    when.day = cell.date.day();
                    check(worksheet_write_datetime(m_sheet, m_row, col, &when, m_date));
                    fit(column, 10);
                }
                break;
            }
        }
        ++m_row;
    }

    void finish() override
    {
        // The widths take every row into account: the library keeps the columns apart from the
        // rows it streams, and writes them at the close.
        for (qsizetype column = 0; column < m_widths.size(); ++column) {
            const int width = std::clamp(m_widths.at(column) + 1, kNarrowest, kWidest);
            worksheet_set_column(m_sheet, lxw_col_t(column), lxw_col_t(column), width, nullptr);
        }
        const lxw_error error = workbook_close(m_book);
        m_book = nullptr; // freed by the close, whatever its outcome
        if (error != LXW_NO_ERROR) {
            DbError cause = m_work.failure();
            if (cause.number() != store::ErrPathFileAccess) {
                throw cause;
            }
            throw DbError(store::ErrWorkbook,
                          QStringLiteral("Impossibile scrivere la cartella di Excel '%1'.")
                              .arg(QDir::toNativeSeparators(m_work.target())),
                          QString::fromUtf8(lxw_strerror(error)));
        }
        m_work.commit();
    }

  private:
    void writeText(qsizetype column, const QString& text, lxw_format* format)
    {
        if (text.size() > kLongestCellText) {
            throw DbError(store::ErrWorkbook,
                          QStringLiteral("Il testo della riga %1, colonna %2 è più lungo dei %3 caratteri che una "
                                         "cella di Excel può tenere.")
                              .arg(m_row + 1)
                              .arg(column + 1)
                              .arg(QLocale(QLocale::Italian).toString(kLongestCellText)));
        }
        check(worksheet_write_string(m_sheet, m_row, lxw_col_t(column), text.toUtf8().constData(), format));
        qsizetype longest = 0;
        for (const QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
            longest = std::max(longest, line.size());
        }
        fit(column, longest + (format == m_bold ? 1 : 0));
    }

    void fit(qsizetype column, qsizetype width)
    {
        if (m_widths.size() <= column) {
            m_widths.resize(column + 1, 0);
        }
        m_widths[column] = int(std::max<qsizetype>(m_widths.at(column), std::min<qsizetype>(width, kWidest)));
    }

    void check(lxw_error error) const
    {
        if (error != LXW_NO_ERROR) {
            throw DbError(store::ErrWorkbook,
                          QStringLiteral("Impossibile scrivere la riga %1 nella cartella di Excel.").arg(m_row + 1),
                          QString::fromUtf8(lxw_strerror(error)));
        }
    }

    detail::WorkingFile m_work;
    QByteArray m_tmpdir;
    lxw_workbook* m_book = nullptr;
    lxw_worksheet* m_sheet = nullptr;
    lxw_format* m_bold = nullptr;
    lxw_format* m_amount = nullptr;
    lxw_format* m_date = nullptr;
    lxw_row_t m_row = 0;
    QList<int> m_widths;
};

} // namespace

QString sheetName(const QString& name)
{
    QString result = name;
    for (QChar& c : result) {
        if (QStringView(u"[]:*?/\\").contains(c) || c.category() == QChar::Other_Control) {
            c = QLatin1Char('_');
        }
    }
    while (result.startsWith(QLatin1Char('\''))) {
        result.remove(0, 1);
    }
    result.truncate(31);
    if (!result.isEmpty() && result.back().isHighSurrogate()) {
        result.chop(1);
    }
    while (result.endsWith(QLatin1Char('\''))) {
        result.chop(1);
    }
    result = result.trimmed();
    return result.isEmpty() ? QStringLiteral("Foglio1") : result;
}

std::unique_ptr<SheetWriter> xlsxWriter(const QString& path, const QString& sheetName)
{
    return std::make_unique<XlsxWriter>(path, sheetName);
}

} // namespace exchange
