// The errno values of Linux mapped onto the classic error numbers.
#include "platform/linux/errno_error.h"
#include "support/expect_error.h"

#include <cerrno>
#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(ErrorNumbers, ErrnoMapsOntoClassicNumbers) {
    struct Case {
        int errnoValue;
        bool folder;
        int32_t number;
        const char* description;
    };
    const Case cases[] = {
        {ENOENT, false, 53, "File not found"},
        {ENOENT, true, 76, "Path not found"},
        {ENOTDIR, false, 76, "Path not found"},
        {EACCES, false, 70, "Permission denied"},
        {EROFS, false, 70, "Permission denied"},
        {EEXIST, false, 58, "File already exists"},
        {ENOSPC, false, 61, "Disk full"},
        {EIO, false, 57, "Device I/O error"},
        {EINVAL, false, 5, "Invalid procedure call or argument"},
        {EBUSY, false, 75, "Path/File access error"},
    };
    for (const auto& c : cases)
        test::expectError([&] { raiseErrno(c.errnoValue, c.folder); }, c.number,
                          "errno " + std::to_string(c.errnoValue), c.description);
}

}  // namespace
}  // namespace jor
