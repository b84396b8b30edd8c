#include "app/Guard.h"

#include "app/Messages.h"
#include "store/Archive.h"
#include "store/DbError.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QThread>

namespace guard {

bool run(const std::function<void()>& handler) noexcept
{
    QString text;
    try {
        handler();
        return true;
    } catch (const store::DbError& e) {
        text = e.description();
    } catch (const std::exception& e) {
        text = QStringLiteral("Errore imprevisto: ") + QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Errore imprevisto.");
    }
    try {
        msg::show(text);
    } catch (...) {
        // Nothing more can be done: the program must go on.
    }
    return false;
}

void installWaitCursor()
{
    store::setWaitNotifier([](bool waiting) {
        // The engine waits on the thread that asked; only the user-interface thread has a cursor.
        if (!qGuiApp || QThread::currentThread() != qGuiApp->thread()) {
            return;
        }
        if (waiting) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        } else {
            QGuiApplication::restoreOverrideCursor();
        }
    });
}

} // namespace guard
