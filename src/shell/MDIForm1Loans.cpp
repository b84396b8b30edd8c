// The main window's part in the loans: the loans window and the count of overdue loans.
#include "shell/MDIForm1.h"

#include "app/ChildWindows.h"
#include "app/Guard.h"
#include "app/Modulo1.h"
#include "app/Today.h"
#include "loans/FrmPrestiti.h"
#include "store/Archive.h"
#include "store/Loans.h"

#include <QLabel>
#include <QStatusBar>

FrmPrestiti* MDIForm1::loansWindow() const
{
    return qobject_cast<FrmPrestiti*>(childwindows::find(childwindows::Kind::Loans));
}

void MDIForm1::MnuVisualPrestiti_Click()
{
    const bool wasOpen = loansWindow() != nullptr;
    auto* window = qobject_cast<FrmPrestiti*>(childwindows::show(childwindows::Kind::Loans));
    if (window && !wasOpen) {
        guard::connect(window, &FrmPrestiti::loansChanged, this, [this] { showOverdueCount(); });
    }
}

void MDIForm1::buildStatusLine()
{
    LblRitardi = new QLabel(this);
    LblRitardi->setObjectName(QStringLiteral("LblRitardi"));
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addPermanentWidget(LblRitardi);
}

void MDIForm1::showOverdueCount()
{
    if (!LblRitardi) {
        buildStatusLine();
    }
    qint64 late = 0;
    if (!Modulo1::PercorsoArchivio.isEmpty()) {
        try {
            const auto archive = store::Archive::open(Modulo1::PercorsoArchivio);
            if (store::loans::available(*archive)) {
                late = store::loans::overdueCount(*archive, today::date());
            }
        } catch (...) {
            // The count is a hint: an archive that cannot be read says so where it is opened.
        }
    }
    LblRitardi->setText(late == 0   ? QString()
                        : late == 1 ? QStringLiteral("1 prestito in ritardo")
                                    : QStringLiteral("%1 prestiti in ritardo").arg(late));
    LblRitardi->setAccessibleName(LblRitardi->text());
}
