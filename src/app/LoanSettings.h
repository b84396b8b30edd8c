#pragma once

#include <QString>

// What the loans desk and the reminder letters follow: the loan period, the most books one
// borrower may hold, the library's name and address and the letter's text. Kept in the user's
// settings file (paths::settings(), group "Prestiti"), so each desk has them from its first
// start; "Opzioni → Impostazioni prestiti" changes them.
struct LoanSettings {
    static constexpr int kDefaultLoanDays = 30;
    static constexpr int kMaxLoanDays = 365;
    static constexpr int kMaxBooksLimit = 999;

    int loanDays = kDefaultLoanDays;
    int maxBooks = 0; // 0: no maximum
    QString libraryName;
    QString libraryAddress; // lines separated by '\n'
    QString letterText;     // paragraphs separated by '\n'

    // The letter's text before anyone changed it.
    static QString defaultLetterText();

    // The saved settings; a value missing or out of its range reads as its default.
    static LoanSettings load();
    // Saves them; throws store::DbError 75 when the settings file cannot be written.
    void save() const;
};
