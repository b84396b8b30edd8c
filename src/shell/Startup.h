#pragma once

#include <memory>

class FrmCopertina;
class MDIForm1;
class QCoreApplication;

namespace shell {

// Loads Qt's own Italian texts, so that standard buttons read "Sì", "No", "Annulla" whatever the
// user's language. Returns false when the translations are not installed (the buttons then keep
// Qt's English texts).
bool installItalianTranslations(QCoreApplication& app);

// The start of the program: shows the cover window as the splash; when it leaves, the main
// window is made in `mainWindow`, shown, and runs its start-up from the event loop.
void startWithSplash(FrmCopertina& splash, std::unique_ptr<MDIForm1>& mainWindow);

} // namespace shell
