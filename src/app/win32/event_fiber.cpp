// The window's event pumps and boxes on a fiber of their own (see event_fiber.h).
#include "app/win32/event_fiber.h"

#include <algorithm>
#include <utility>

namespace jor::app {

EventFiber::~EventFiber() {
    // A fiber left behind dies with its task unfinished: only a test gets here so.
    for (const auto& slot : slots_)
        if (slot->fiber != GetCurrentFiber()) DeleteFiber(slot->fiber);
    if (converted_ && !onEventFiber()) ConvertFiberToThread();
}

void WINAPI EventFiber::main(void* parameter) {
    Slot& slot = *static_cast<Slot*>(parameter);
    for (;;) {
        try {
            slot.task();
        } catch (...) {
            slot.failure = std::current_exception();
        }
        slot.task = nullptr;
        SwitchToFiber(slot.caller);
    }
}

bool EventFiber::onEventFiber() const {
    if (!IsThreadAFiber()) return false;
    const void* here = GetCurrentFiber();
    return std::any_of(slots_.begin(), slots_.end(), [here](const auto& slot) { return slot->fiber == here; });
}

void EventFiber::run(const std::function<void()>& task) {
    if (onEventFiber()) return task();
    if (!IsThreadAFiber()) {
        if (!ConvertThreadToFiber(nullptr)) return task();
        converted_ = true;
    }
    if (!current_) {
        auto slot = std::make_unique<Slot>();
        // The thread's own stack size: boxes and message handlers run here.
        slot->fiber = CreateFiber(0, &EventFiber::main, slot.get());
        if (!slot->fiber) return task();
        current_ = slot.get();
        slots_.push_back(std::move(slot));
    }
    Slot& slot = *current_;
    slot.caller = GetCurrentFiber();
    slot.task = task;
    SwitchToFiber(slot.fiber);
    if (slot.failure) std::rethrow_exception(std::exchange(slot.failure, nullptr));
}

bool EventFiber::leave() {
    if (!current_ || GetCurrentFiber() != current_->fiber) return false;
    Slot& slot = *std::exchange(current_, nullptr);
    SwitchToFiber(slot.caller);
    return true;
}

void EventFiber::resumeLeft() {
    if (onEventFiber() || !IsThreadAFiber()) return;
    for (auto it = slots_.begin(); it != slots_.end();) {
        Slot& slot = **it;
        if (&slot == current_) {
            ++it;
            continue;
        }
        if (slot.task) {
            slot.caller = GetCurrentFiber();
            SwitchToFiber(slot.fiber);
        }
        DeleteFiber(slot.fiber);
        it = slots_.erase(it);
    }
}

}  // namespace jor::app
