#include "shell/FrmCopertina.h"
#include "shell/MDIForm1.h"
#include "shell/Startup.h"

#include <QApplication>
#include <QTimer>

#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Carteo"));
    shell::installItalianTranslations(app);
    // The program ends only through the main window's quit guard; closing the splash is not an end.
    QApplication::setQuitOnLastWindowClosed(false);

    // Made when the splash leaves; it lives until the event loop ends.
    std::unique_ptr<MDIForm1> mainWindow;
    FrmCopertina splash;
    splash.setShowMainWindow([&mainWindow] {
        mainWindow = std::make_unique<MDIForm1>();
        mainWindow->show();
        // Started from the event loop: a "Yes" to the quit question during the start-up leaves the
        // loop, which only works once the loop runs.
        QTimer::singleShot(0, mainWindow.get(), &MDIForm1::MDIForm_Load);
    });
    splash.Form_Load();
    splash.show();
    return app.exec();
}
