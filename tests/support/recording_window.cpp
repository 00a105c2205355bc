// The recording window: each call of the engine kept as a short text, and the answers it was given.
#include "support/recording_window.h"

namespace jor::test {

void RecordingWindow::setProgressMax(int32_t v) {
    progressMax = v;
    events.push_back("max " + std::to_string(v));
}
void RecordingWindow::setProgressValue(int32_t v) {
    progressValue = v;
    events.push_back("value " + std::to_string(v));
}
void RecordingWindow::setProgressText(const std::string& t) {
    progressText = t;
    events.push_back("text " + t);
}
void RecordingWindow::setStatusText(const std::string& t) {
    statusText = t;
    events.push_back("status " + t);
}
void RecordingWindow::setMigrierenEnabled(bool e) {
    migrierenEnabled = e;
    events.push_back(std::string("migrieren ") + (e ? "1" : "0"));
}
void RecordingWindow::setBeendenEnabled(bool e) {
    beendenEnabled = e;
    events.push_back(std::string("beenden ") + (e ? "1" : "0"));
}
void RecordingWindow::armTimer() {
    armed = true;
    events.push_back("arm");
}
void RecordingWindow::disarmTimer() {
    armed = false;
    events.push_back("disarm");
}

bool RecordingWindow::askQuestion(const std::string& title, const std::string& text) {
    events.push_back("box question|" + title + "|" + text);
    return answer;
}

size_t RecordingWindow::askChoice(const std::string& title, const std::string& text,
                                  const std::vector<std::string>& answers) {
    std::string box = "box choice|" + title + "|" + text;
    for (const std::string& answer : answers) box += "|" + answer;
    events.push_back(box);
    return choice;
}

void RecordingWindow::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    const std::string box =
        std::string("box ") + iconName(icon) + "|" + title + "|" + text;
    events.push_back(box);
    if (onMessage) onMessage(box);
}

RunRequest RecordingWindow::yield() {
    ++yields;
    if (onYield) onYield();
    return request;
}

std::vector<std::string> RecordingWindow::eventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& e : events)
        if (e.starts_with(prefix)) out.push_back(e);
    return out;
}

}  // namespace jor::test
