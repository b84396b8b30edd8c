#include "shell/MDIForm1.h"
#include "shell/Startup.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Carteo"));
    shell::installItalianTranslations(app);
    // The program ends only through the main window's quit guard.
    QApplication::setQuitOnLastWindowClosed(false);

    MDIForm1 main;
    main.show();
    // Started from the event loop: a "Yes" to the quit question during the start-up leaves the
    // loop, which only works once the loop runs.
    QTimer::singleShot(0, &main, &MDIForm1::MDIForm_Load);
    return app.exec();
}
