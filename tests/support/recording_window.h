// A window for the engine that records what it is told, in order, and answers as a test says.
#pragma once

#include "migration/window_port.h"

#include <functional>
#include <string>
#include <vector>

namespace jor::test {

// A window that records what the engine sets, in order, as short texts:
// "max 3", "value 1", "text 0 von 3 ...", "status ...", "beenden 0",
// "migrieren 1", "arm", "disarm", "box stop|Jor-Orvek|...". Yields are counted,
// not recorded, and may run a hook and answer what the window asks of the run.
class RecordingWindow : public WindowPort {
public:
    std::string source, dest, temp, pacs = "HIPAX";
    int32_t debug = 0;

    std::vector<std::string> events;
    int yields = 0;
    bool armed = false;
    bool beendenEnabled = true;
    bool migrierenEnabled = true;
    int32_t progressMax = 0, progressValue = 0;
    std::string progressText, statusText;
    std::function<void()> onYield;
    std::function<void(const std::string&)> onMessage;

    std::string sourceText() const override { return source; }
    std::string destText() const override { return dest; }
    std::string tempText() const override { return temp; }
    std::string pacsText() const override { return pacs; }
    int32_t debugValue() const override { return debug; }

    void setProgressMax(int32_t v) override;
    void setProgressValue(int32_t v) override;
    void setProgressText(const std::string& t) override;
    void setStatusText(const std::string& t) override;
    void setMigrierenEnabled(bool e) override;
    void setBeendenEnabled(bool e) override;
    void armTimer() override;
    void disarmTimer() override;
    void showMessage(MessageIcon icon, const std::string& title, const std::string& text) override;
    // Recorded as "box question|title|text"; answered with `answer` (Ja).
    bool askQuestion(const std::string& title, const std::string& text) override;
    bool answer = true;
    // Recorded as "box choice|title|text|answer|…"; answered with `choice`.
    size_t askChoice(const std::string& title, const std::string& text,
                     const std::vector<std::string>& answers) override;
    size_t choice = 0;
    // What every yield answers, after the hook.
    RunRequest request = RunRequest::GoOn;
    RunRequest yield() override;

    // The recorded events that start with `prefix`.
    std::vector<std::string> eventsStartingWith(const std::string& prefix) const;
    std::vector<std::string> boxes() const { return eventsStartingWith("box "); }
};

}  // namespace jor::test
