// Work done in a forked child that has given up root's rights, so that permission bits bind.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

namespace jor::test {

// Whom the tests become when they run as root, as CI runs them.
constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

struct ChildWork {
    bool ran = false;
    std::string why;     // when it did not run
    std::string output;  // what the work gave back
};

// Runs `work` in a forked child: as nobody, for good, when the tests run as
// root, else as their own user. Where root's rights cannot be dropped, or the
// bits do not bind all the same (a kept capability, a user namespace), the
// work is not done and `why` says so: the test skips. A child that throws or
// crashes fails the test; its own EXPECTs are lost with it, so the work gives
// back what the test is to check.
ChildWork withoutRootsRights(const std::function<std::string()>& work);

// Gives `root` and everything below it to nobody, so that a child without
// root's rights may work there; for any other user they are theirs already.
void handOverToNobody(const std::string& root);

}  // namespace jor::test
