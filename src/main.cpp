#include "app/Guard.h"
#include "app/Paths.h"
#include "app/Version.h"
#include "shell/CommandLine.h"
#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// carteo --prova-avvio: a check that an installed copy starts. The program starts as usual (splash,
// start-up, archive) and, once the start-up has ended, prints "pronto" with the folder of its data
// and the guide it would open, and ends; or prints "non pronto" and ends with 1 when the books
// window is not shown. A message or a file dialog of the start-up waits for the user as usual.
void reportStartAndQuit(MDIForm1& mainWindow)
{
    const FrmBiblio* books = mainWindow.booksWindow();
    if (!books || !books->isVisible()) {
        std::printf("non pronto\n");
        std::fflush(stdout);
        QCoreApplication::exit(1);
        return;
    }
    std::printf("pronto\ndati: %s\nguida: %s\n", paths::programFolder().toUtf8().constData(),
                paths::guidePath().toUtf8().constData());
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    bool startCheck = false;
    // Answered before any window exists, so it works without a display and opens no archive.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Carteo %s\n", app::version().toUtf8().constData());
            return 0;
        }
        startCheck = startCheck || std::strcmp(argv[i], "--prova-avvio") == 0;
    }

    // Export and import from the command line: no window, no display.
    if (commandline::wanted(argc, argv)) {
        return commandline::run(argc, argv);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Carteo"));
    QApplication::setApplicationVersion(app::version());
    // No organization name: the user's data folder is the program's own name under the system's
    // data folder (~/.local/share/Carteo, %APPDATA%\Carteo), not a folder inside a folder.
    shell::setProgramIcon();
    shell::installItalianTranslations(app);
    guard::installWaitCursor();
    // The program ends only through the main window's quit guard; closing the splash is not an end.
    QApplication::setQuitOnLastWindowClosed(false);

    // Made when the splash leaves; it lives until the event loop ends.
    std::unique_ptr<MDIForm1> mainWindow;
    FrmCopertina splash;
    shell::startWithSplash(splash, mainWindow, startCheck ? reportStartAndQuit : std::function<void(MDIForm1&)>());
    return app.exec();
}
