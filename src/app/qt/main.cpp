// Start-up in Qt: one instance per program folder, the main window, the session's end.
#include "app/qt/frm_main.h"
#include "platform/date_time.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"

#include "app/qt/session_end.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char** argv) {
    const std::string folder = jor::programFolder();
    // A second instance ends before it has a window, and so stores nothing.
    jor::SingleInstanceLock lock(folder);
    if (lock.anotherInstanceRunning()) return 0;

    QApplication app(argc, argv);
    jor::initLocale();
    jor::app::frmMain window(folder);
    window.InitMainWindow();
    window.centreOnScreen();
    // A session manager asks before the session ends, then the session's
    // end comes as a signal.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager& manager) {
        if (window.holdSessionEnd() && manager.allowsInteraction()) manager.cancel();
    });
    jor::app::SessionEnd sessionEnd([&window] { window.EndSession(); });
    window.show();
    return app.exec();
}
