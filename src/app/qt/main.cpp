#include "app/qt/frm_main.h"
#include "platform/date_time.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"

#include <QApplication>

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
    window.show();
    return app.exec();
}
