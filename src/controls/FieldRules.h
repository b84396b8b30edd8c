#pragma once

#include <QString>
#include <QVariant>

#include <optional>

namespace controls {

// How a record field takes what is typed, shows its value and gives it back to be stored. The
// record windows keep one table of these rules instead of code per field.
struct FieldRule {
    enum class Number {
        None,
        Lire, // a whole amount: grouped in thousands while typed ("##,###,##0", caret to the end),
              // grouped on leaving and when shown, a zero showing empty ("##,###,###")
        Euro, // an amount with two decimals on leaving and when shown ("##,###,##0.00")
        Whole // a whole number stored as a number, shown as stored
    };
    QString accepted;      // the characters that may be typed (Backspace always); empty: any
    bool upperCase = true; // typed text turned to upper case, the caret kept
    Number number = Number::None;
    bool selectOnEntry = false; // entering the field selects its whole text
    QString whenEmptyOnSave;    // what an empty field is given before a save ("0"); empty: nothing
    int maxLength = 0;
};

// Number formats of the rules, in the regional settings of the system (QLocale()): with Italian
// settings "." groups thousands and "," separates decimals. Text that is not a number is given back
// as it is.
QString formatLireTyping(const QString& text); // "##,###,##0"
QString formatLire(const QVariant& value);     // "##,###,###"
QString formatEuro(const QVariant& value);     // "##,###,##0.00"
// The number a field's text stands for; nothing for text that is not a number.
std::optional<double> parseAmount(const QString& text);

// The largest amounts a field takes: fifteen significant digits, which the archive stores exactly
// (a whole amount also fits the engine's integers). A larger one is refused when saved, and shown
// as it was typed, never as another number.
inline constexpr double kLargestWhole = 999'999'999'999'999.0;
inline constexpr double kLargestEuro = 9'999'999'999'999.99;
// True when `amount` is within the limits of a field of this kind.
bool withinLimits(double amount, FieldRule::Number number);
// The largest amount of this kind, as the regional settings write it.
QString largestAmount(FieldRule::Number number);

} // namespace controls
