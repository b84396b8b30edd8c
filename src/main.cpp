#include "app/Guard.h"
#include "app/Version.h"
#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char** argv)
{
    // Answered before any window exists, so it works without a display and opens no archive.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Carteo %s\n", app::version().toUtf8().constData());
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Carteo"));
    QApplication::setApplicationVersion(app::version());
    // No organization name: the user's data folder is the program's own name under the system's
    // data folder (~/.local/share/Carteo, %APPDATA%\Carteo), not a folder inside a folder.
    shell::installItalianTranslations(app);
    guard::installWaitCursor();
    // The program ends only through the main window's quit guard; closing the splash is not an end.
    QApplication::setQuitOnLastWindowClosed(false);

    // Made when the splash leaves; it lives until the event loop ends.
    std::unique_ptr<MDIForm1> mainWindow;
    FrmCopertina splash;
    shell::startWithSplash(splash, mainWindow);
    return app.exec();
}
