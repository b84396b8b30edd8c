#include "shell/Startup.h"

#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace shell {

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

void startWithSplash(FrmCopertina& splash, std::unique_ptr<MDIForm1>& mainWindow)
{
    splash.setShowMainWindow([&mainWindow] {
        mainWindow = std::make_unique<MDIForm1>();
        mainWindow->show();
        // Started from the event loop: a "Yes" to the quit question during the start-up leaves the
        // loop, which only works once the loop runs.
        QTimer::singleShot(0, mainWindow.get(), &MDIForm1::MDIForm_Load);
    });
    splash.Form_Load();
    splash.show();
}

} // namespace shell
