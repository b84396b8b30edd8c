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

} // namespace controls
