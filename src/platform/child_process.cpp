// What a child program's wait is on every platform: the loop of checks, yields and the stop around the platform's wait.
#include "platform/child_process.h"

namespace jor {

bool ChildProcess::waitUntilEnded(const std::function<void()>& yield, const std::function<bool()>& stop) {
    for (;;) {
        if (hasEnded()) return true;
        if (stop && stop()) {
            killAndReap();
            return false;
        }
        if (yield) yield();
        // Only a caller that yields takes window messages.
        waitForEndOrMessage(static_cast<bool>(yield));
    }
}

}  // namespace jor
