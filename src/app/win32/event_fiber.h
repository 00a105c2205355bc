// The window's event pumps and boxes during a run, on a fiber of their own.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <vector>

namespace jor::app {

// A run yields to the window's events from deep in its own frames. Windows
// may end the process as soon as WM_ENDSESSION is answered, so that message
// must stay unanswered until the run has ended; handled on this fiber, it
// hands control back to the run without returning, and the run unwinds
// through its own code before the process ends.
class EventFiber {
public:
    EventFiber() = default;
    ~EventFiber();
    EventFiber(const EventFiber&) = delete;
    EventFiber& operator=(const EventFiber&) = delete;

    // Runs `task` on the event fiber (at once when already on one, or when
    // the thread cannot have fibers); what it throws is thrown here.
    void run(const std::function<void()>& task);
    // From a message handler on the event fiber: back to the caller of run(),
    // the task left unfinished; false elsewhere. Returns, true, only once
    // resumeLeft() lets the task go on.
    bool leave();
    // Lets the tasks left behind finish: a process that did not end (a test's).
    void resumeLeft();

private:
    struct Slot {
        void* fiber = nullptr;
        void* caller = nullptr;
        std::function<void()> task;
        std::exception_ptr failure;
    };
    static void WINAPI main(void* slot);
    bool onEventFiber() const;

    Slot* current_ = nullptr;
    std::vector<std::unique_ptr<Slot>> slots_;  // current_ and those left
    bool converted_ = false;                    // the thread became a fiber here
};

}  // namespace jor::app
