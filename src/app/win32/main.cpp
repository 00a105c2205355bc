// Start-up on Windows: one instance per program folder, COM, the main window, the message loop.
#include "app/win32/frm_main.h"
#include "platform/date_time.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"

#include <windows.h>
#include <objbase.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int showCommand) {
    const std::string folder = jor::programFolder();
    // A second instance ends before it has a window, and so stores nothing.
    jor::SingleInstanceLock lock(folder);
    if (lock.anotherInstanceRunning()) return 0;

    // The shell's folder browser needs COM on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    jor::initLocale();
    int exitCode = 0;
    {
        jor::app::frmMain window(folder);
        window.InitMainWindow();
        window.setQuitOnDestroy(true);
        window.show(showCommand);
        MSG msg{};
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            if (window.preTranslate(msg)) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        exitCode = static_cast<int>(msg.wParam);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
