// What the engine reads from and sets on the main window; each toolkit's window implements it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jor {

enum class MessageIcon { Stop, Information, Warning };

// What the window's events asked of a run while the engine yielded, in
// rising order: the window closed (the run ends after the file at hand), or
// the desktop session ends (the run ends now).
enum class RunRequest { GoOn, StopAfterFile, EndNow };

// "stop", "info", "warning": how tests and the windows' object names tell the boxes apart.
constexpr const char* iconName(MessageIcon icon) {
    return icon == MessageIcon::Stop ? "stop" : icon == MessageIcon::Warning ? "warning" : "info";
}

// Everything the engine reads from and sets on the main window. The window
// implements it; tests use a recording fake.
class WindowPort {
public:
    virtual ~WindowPort() = default;

    virtual std::string sourceText() const = 0;  // txtSource
    virtual std::string destText() const = 0;    // txtDest
    virtual std::string tempText() const = 0;    // txtTemp
    virtual std::string pacsText() const = 0;    // cboPACS
    virtual int32_t debugValue() const = 0;      // chkDebug: 0 clear, 1 ticked, 2 dimmed

    virtual void setProgressMax(int32_t value) = 0;  // ProgBar
    virtual void setProgressValue(int32_t value) = 0;
    virtual void setProgressText(const std::string& text) = 0;
    virtual void setStatusText(const std::string& text) = 0;  // lblLoadInfo

    virtual void setMigrierenEnabled(bool enabled) = 0;  // toolbar button 1
    virtual void setBeendenEnabled(bool enabled) = 0;    // toolbar button 2
    virtual void armTimer() = 0;                         // tmrMig, 1 ms, single shot
    virtual void disarmTimer() = 0;

    // Modal, one OK button; returns when it is closed.
    virtual void showMessage(MessageIcon icon, const std::string& title, const std::string& text) = 0;
    // Modal, question icon, buttons Ja and Nein with Nein the default; true for Ja.
    virtual bool askQuestion(const std::string& title, const std::string& text) = 0;
    // Modal, question icon, a button for each answer with the first the
    // default (also Enter); the index of the answer taken, the last when the
    // box is closed without one.
    virtual size_t askChoice(const std::string& title, const std::string& text,
                             const std::vector<std::string>& answers) = 0;
    // Processes pending window events; what they asked of the run so far.
    virtual RunRequest yield() = 0;
};

}  // namespace jor
