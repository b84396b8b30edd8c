#include "loans/LoanPrinting.h"

#include "app/LoanSettings.h"
#include "app/Messages.h"
#include "app/Modulo1.h"
#include "printing/LoanLetters.h"
#include "printing/PrintRun.h"
#include "store/Loans.h"

namespace loans {

void printLetters(QWidget* window, store::Archive& archive, const QDate& today)
{
    const QList<store::loans::BorrowerLoans> late = store::loans::overdueByBorrower(archive, today);
    if (late.isEmpty()) {
        msg::show(QStringLiteral("Nessun prestito in ritardo."), msg::Icon::Information);
        return;
    }
    const LoanSettings settings = LoanSettings::load();
    printing::PrintRequest request;
    request.window = window;
    request.documentName = QStringLiteral("Lettere di sollecito");
    request.content = [late, settings, today](printing::PrintSurface& surface, printing::Progress& progress) {
        printing::printReminderLetters(surface, progress, late, settings, today, Modulo1::StampaLogo);
    };
    printing::runPrint(request);
}

} // namespace loans
