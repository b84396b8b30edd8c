#include "app/LoanSettings.h"

#include "app/Paths.h"
#include "store/DbError.h"

#include <QList>
#include <QSettings>

#include <utility>

namespace {

int bounded(const QVariant& value, int low, int high, int fallback)
{
    bool ok = false;
    const int n = value.toInt(&ok);
    return ok && n >= low && n <= high ? n : fallback;
}

} // namespace

QString LoanSettings::defaultLetterText()
{
    return QStringLiteral("Gentile lettrice, gentile lettore,\n"
                          "dai nostri registri risultano ancora in prestito a Lei i libri elencati qui sotto, "
                          "il cui termine di restituzione è scaduto.\n"
                          "La preghiamo di riportarli in biblioteca al più presto, perché altri lettori li "
                          "attendono. Se li ha già restituiti, non tenga conto di questa lettera.\n"
                          "Cordiali saluti.");
}

LoanSettings LoanSettings::load()
{
    LoanSettings s;
    const auto ini = paths::settings();
    ini->beginGroup(QStringLiteral("Prestiti"));
    s.loanDays = bounded(ini->value(QStringLiteral("giorni")), 1, kMaxLoanDays, kDefaultLoanDays);
    s.maxBooks = bounded(ini->value(QStringLiteral("massimo")), 0, kMaxBooksLimit, 0);
    s.libraryName = ini->value(QStringLiteral("biblioteca")).toString();
    s.libraryAddress = ini->value(QStringLiteral("indirizzo")).toString();
    s.letterText = ini->value(QStringLiteral("lettera"), defaultLetterText()).toString();
    ini->endGroup();
    return s;
}

void LoanSettings::save() const
{
    const auto ini = paths::settings();
    const QList<std::pair<QString, QVariant>> values{{QStringLiteral("giorni"), loanDays},
                                                     {QStringLiteral("massimo"), maxBooks},
                                                     {QStringLiteral("biblioteca"), libraryName},
                                                     {QStringLiteral("indirizzo"), libraryAddress},
                                                     {QStringLiteral("lettera"), letterText}};
    QList<std::pair<QString, QVariant>> before; // an invalid value: the key was not there
    ini->beginGroup(QStringLiteral("Prestiti"));
    for (const auto& [key, value] : values) {
        before.append({key, ini->contains(key) ? ini->value(key) : QVariant()});
        ini->setValue(key, value);
    }
    ini->endGroup();
    ini->sync();
    if (ini->status() != QSettings::NoError) {
        // The process keeps one copy of the file's values for every reader: put back what the file
        // still holds, or the rest of the run would follow settings that were never saved.
        ini->beginGroup(QStringLiteral("Prestiti"));
        for (const auto& [key, value] : before) {
            if (value.isValid()) {
                ini->setValue(key, value);
            } else {
                ini->remove(key);
            }
        }
        ini->endGroup();
        throw store::DbError(75,
                             QStringLiteral("Non è stato possibile salvare le impostazioni dei prestiti nel file ") +
                                 ini->fileName() + QStringLiteral("."));
    }
}
