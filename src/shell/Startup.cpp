#include "shell/Startup.h"

#include "app/Guard.h"
#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <memory>

// The resources live in the program's static library: registered by hand, since nothing else
// refers to them and the linker would leave them out. Outside any namespace, as Qt requires.
static void registerProgramResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace shell {

void setProgramIcon()
{
    registerProgramResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icone/%1.png").arg(size), QSize(size, size));
    }
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(kDesktopId);
}

bool installItalianTranslations(QCoreApplication& app)
{
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    QCoreApplication::installTranslator(translator.get());
    // The application owns it from now on; it stays installed for the whole run.
    translator.release()->setParent(&app);
    return true;
}

void startWithSplash(FrmCopertina& splash, std::unique_ptr<MDIForm1>& mainWindow,
                     std::function<void(MDIForm1&)> started)
{
    splash.setShowMainWindow([&mainWindow, started = std::move(started)] {
        mainWindow = std::make_unique<MDIForm1>();
        mainWindow->show();
        // Started from the event loop: a "Yes" to the quit question during the start-up leaves the
        // loop, which only works once the loop runs.
        MDIForm1* window = mainWindow.get();
        QTimer::singleShot(0, window, [window, started] {
            guard::run([window] { window->MDIForm_Load(); });
            if (started) {
                guard::run([window, &started] { started(*window); });
            }
        });
    });
    splash.Form_Load();
    splash.show();
}

} // namespace shell
