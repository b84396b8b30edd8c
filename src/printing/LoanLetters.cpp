#include "printing/LoanLetters.h"

#include "printing/PrintRun.h"
#include "printing/PrintSurface.h"
#include "printing/Progress.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace printing {
namespace {

// A face of fixed pitch, as the cards: its bold and regular columns fall on the same places, so the
// list of books lines up under its headings.
const QString kCourier = QStringLiteral("Courier New");
const QString kEllipsis = QStringLiteral("\u2026");

// The letter's margins within the printable area, and the gap between the list's columns, in twips.
constexpr qreal kMargin = 600;
constexpr qreal kGap = 300;

void setFont(PrintSurface& s, qreal points, bool bold)
{
    s.setFontName(kCourier);
    s.setFontSize(points);
    s.setFontBold(bold);
}

// The column of the current font that begins nearest `x` twips, and where it begins: the surface
// places texts at columns only.
int columnAt(const PrintSurface& s, qreal x)
{
    return int(std::lround(x / s.averageCharWidth())) + 1;
}
qreal columnX(const PrintSurface& s, int column)
{
    return (column - 1) * s.averageCharWidth();
}

// Texts on one line, each at its place in twips.
void printAt(PrintSurface& s, const QList<std::pair<qreal, QString>>& cells)
{
    QList<PrintItem> items;
    for (const auto& [x, text] : cells) {
        items << col(columnAt(s, x)) << txt(text);
    }
    s.printLine(items);
}

void emptyLines(PrintSurface& s, int count)
{
    for (int i = 0; i < count; ++i) {
        s.printLine({});
    }
}

// The lines of a text typed in a box of several lines (an address, the letter), blank ones dropped
// when `dropBlank`.
QStringList linesOf(const QString& text, bool dropBlank)
{
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(breaks);
    if (dropBlank) {
        lines.removeIf([](const QString& line) { return line.trimmed().isEmpty(); });
    }
    return lines;
}

// A value printed on one line: line breaks and runs of blanks as one space.
QString oneLine(const QString& text)
{
    return text.simplified();
}

// The characters of `text` from `from` that fit `width`, at least one (a surrogate pair whole).
int fittingChars(const PrintSurface& s, const QString& text, int from, qreal width)
{
    int end = from;
    while (end < text.size()) {
        int next = end + 1;
        if (text.at(end).isHighSurrogate() && next < text.size()) {
            ++next;
        }
        if (end > from && s.textWidth(text.mid(from, next - from)) > width) {
            break;
        }
        end = next;
    }
    return end - from;
}

} // namespace

QString letterDate(const QDate& date)
{
    return QLocale(QLocale::Italian, QLocale::Italy).toString(date, QStringLiteral("d MMMM yyyy"));
}

QString fitted(const PrintSurface& surface, const QString& text, qreal width)
{
    if (surface.textWidth(text) <= width) {
        return text;
    }
    // The longest beginning that fits with the ellipsis after it.
    int low = 0;
    int high = int(text.size());
    while (low < high) {
        const int mid = (low + high + 1) / 2;
        if (surface.textWidth(text.left(mid).trimmed() + kEllipsis) <= width) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    if (low > 0 && text.at(low - 1).isHighSurrogate()) {
        --low;
    }
    const QString kept = text.left(low);
    return kept.trimmed().isEmpty() && surface.textWidth(kEllipsis) > width ? QString() : kept.trimmed() + kEllipsis;
}

QStringList wrappedLines(const PrintSurface& surface, const QString& paragraph, qreal width)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = paragraph.split(blanks, Qt::SkipEmptyParts);
    QStringList lines;
    QString line;
    for (const QString& word : words) {
        const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
        if (surface.textWidth(candidate) <= width) {
            line = candidate;
            continue;
        }
        if (!line.isEmpty()) {
            lines << line;
            line.clear();
        }
        // A word wider than the line goes on over as many lines as it needs.
        int from = 0;
        while (surface.textWidth(word.mid(from)) > width) {
            const int n = fittingChars(surface, word, from, width);
            lines << word.mid(from, n);
            from += n;
        }
        line = word.mid(from);
    }
    if (!line.isEmpty() || lines.isEmpty()) {
        lines << line;
    }
    return lines;
}

void printReminderLetters(PrintSurface& s, Progress& progress, const QList<store::loans::BorrowerLoans>& late,
                          const LoanSettings& settings, const QDate& today, bool logoOnEachLetter)
{
    const QString library = oneLine(settings.libraryName);
    const QStringList libraryAddress = linesOf(settings.libraryAddress, true);
    const QStringList letter = linesOf(settings.letterText, false);
    const QString date = letterDate(today);

    progress.begin(int(late.size()));
    for (int i = 0; i < late.size(); ++i) {
        const store::loans::BorrowerLoans& one = late.at(i);
        if (i > 0) {
            // Each letter begins a page of its own, headed as the first is.
            s.newPage();
            if (logoOnEachLetter) {
                printLogo(s);
            }
        }
        const qreal right = s.pageSize().width() - kMargin;
        const qreal recipient = qMax(kMargin, s.pageSize().width() * 0.55);

        // The library.
        if (!library.isEmpty()) {
            setFont(s, 12, true);
            printAt(s, {{kMargin, fitted(s, library, right - kMargin)}});
        }
        setFont(s, 10, false);
        for (const QString& line : libraryAddress) {
            printAt(s, {{kMargin, fitted(s, oneLine(line), right - kMargin)}});
        }
        if (!library.isEmpty() || !libraryAddress.isEmpty()) {
            emptyLines(s, 3);
        }

        // The borrower, and the day.
        setFont(s, 10, true);
        printAt(s, {{recipient, fitted(s, oneLine(one.borrower.nome), right - recipient)}});
        setFont(s, 10, false);
        for (const QString& line : linesOf(one.borrower.indirizzo, true)) {
            printAt(s, {{recipient, fitted(s, oneLine(line), right - recipient)}});
        }
        emptyLines(s, 2);
        printAt(s, {{recipient, date}});
        emptyLines(s, 2);

        setFont(s, 10, true);
        printAt(s, {{kMargin, QStringLiteral("Oggetto: sollecito di restituzione dei libri in prestito")}});
        setFont(s, 10, false);
        emptyLines(s, 1);

        // The letter's text, within the margins whatever is typed.
        const qreal textLeft = columnX(s, columnAt(s, kMargin));
        for (const QString& paragraph : letter) {
            for (const QString& line : wrappedLines(s, paragraph, right - textLeft)) {
                if (line.isEmpty()) {
                    s.printLine({});
                } else {
                    printAt(s, {{kMargin, line}});
                }
            }
        }
        emptyLines(s, 1);

        // The overdue books: the columns are laid out from the right edge, the title takes the rest.
        setFont(s, 10, true);
        const QString lentHeading = QStringLiteral("Prestato il");
        const QString dueHeading = QStringLiteral("Da restituire il");
        const QString lateHeading = QStringLiteral("Giorni di ritardo");
        const qreal dateWidth = s.textWidth(QStringLiteral("00/00/0000"));
        const qreal xLate = right - s.textWidth(lateHeading);
        const qreal xDue = xLate - kGap - qMax(dateWidth, s.textWidth(dueHeading));
        const qreal xLent = xDue - kGap - qMax(dateWidth, s.textWidth(lentHeading));
        printAt(s,
                {{kMargin, QStringLiteral("Titolo")}, {xLent, lentHeading}, {xDue, dueHeading}, {xLate, lateHeading}});
        setFont(s, 10, false);
        const qreal titleWidth = columnX(s, columnAt(s, xLent)) - columnX(s, columnAt(s, kMargin)) - kGap / 2;
        for (const store::loans::Loan& loan : one.loans) {
            const QString title =
                oneLine(loan.title).isEmpty() ? QStringLiteral("(libro non più in archivio)") : oneLine(loan.title);
            printAt(s, {{kMargin, fitted(s, title, titleWidth)},
                        {xLent, store::loans::formatDate(loan.lent)},
                        {xDue, store::loans::formatDate(loan.due)},
                        {xLate, QString::number(loan.daysLate(today))}});
        }
        emptyLines(s, 2);

        // The closing.
        setFont(s, 10, true);
        printAt(s, {{recipient,
                     fitted(s, library.isEmpty() ? QStringLiteral("La biblioteca") : library, right - recipient)}});
        progress.step();
    }
}

} // namespace printing
