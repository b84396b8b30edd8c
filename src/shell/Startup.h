#pragma once

#include <QString>

#include <functional>
#include <memory>

class FrmCopertina;
class MDIForm1;
class QCoreApplication;

namespace shell {

// Loads Qt's own Italian texts, so that standard buttons read "Sì", "No", "Annulla" whatever the
// user's language. Returns false when the translations are not installed (the buttons then keep
// Qt's English texts).
bool installItalianTranslations(QCoreApplication& app);

// The name of the program's desktop entry (<id>.desktop), icon and AppStream metadata.
inline const QString kDesktopId = QStringLiteral("org.carteo.Carteo");

// The program's icon on every window, from the PNG sizes built into the program (no SVG reader is
// needed), and the desktop entry's name, by which desktops match the windows to the menu entry.
void setProgramIcon();

// The start of the program: shows the cover window as the splash; when it leaves, the main
// window is made in `mainWindow`, shown, and runs its start-up from the event loop; `started`,
// when given, runs once that start-up has ended, whatever it did.
void startWithSplash(FrmCopertina& splash, std::unique_ptr<MDIForm1>& mainWindow,
                     std::function<void(MDIForm1&)> started = {});

} // namespace shell
