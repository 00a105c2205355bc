// One running instance per program folder.
#pragma once

#include <cstdint>
#include <string>

namespace jor {

// Held while this instance runs. Keyed on the program folder, so copies of
// the program in other folders run side by side. The system drops the lock
// when the process ends, crash included, so no stale lock blocks a start.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const std::string& programFolder);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True only when another instance of the same program folder holds it;
    // a lock that cannot be taken for any other reason lets the program start.
    bool anotherInstanceRunning() const { return another_; }

private:
    intptr_t handle_ = -1;  // the held socket or mutex
    bool another_ = false;
};

}  // namespace jor
