// The classic error numbers' descriptions, and counts that raise instead of wrapping.
#include "platform/error.h"

#include <limits>

namespace jor {

std::string describeError(int32_t number) {
    switch (number) {
    case err::InvalidArgument: return "Invalid procedure call or argument";
    case err::Overflow: return "Overflow";
    case err::OutOfMemory: return "Out of memory";
    case err::UserInterrupt: return "User interrupt occurred";
    case err::BadFileName: return "Bad file name or number";
    case err::FileNotFound: return "File not found";
    case err::DeviceIo: return "Device I/O error";
    case err::FileExists: return "File already exists";
    case err::InputPastEnd: return "Input past end of file";
    case err::DiskFull: return "Disk full";
    case err::PermissionDenied: return "Permission denied";
    case err::PathFileAccess: return "Path/File access error";
    case err::PathNotFound: return "Path not found";
    default: return "Application-defined or object-defined error";
    }
}

int32_t checkedIncrement(int32_t value) {
    if (value == std::numeric_limits<int32_t>::max()) throw Error(err::Overflow, describeError(err::Overflow));
    return value + 1;
}

}  // namespace jor
