// jor::Error, the classic error numbers and their English descriptions.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace jor {

// Classic error numbers: log readers know them from the tools this one replaces.
namespace err {
inline constexpr int32_t Own = -1;  // failures the program detects itself
inline constexpr int32_t InvalidArgument = 5;
inline constexpr int32_t Overflow = 6;
inline constexpr int32_t OutOfMemory = 7;
inline constexpr int32_t UserInterrupt = 18;
inline constexpr int32_t BadFileName = 52;  // a path that cannot name a file (a NUL byte in it)
inline constexpr int32_t FileNotFound = 53;
inline constexpr int32_t DeviceIo = 57;
inline constexpr int32_t FileExists = 58;
inline constexpr int32_t InputPastEnd = 62;
inline constexpr int32_t DiskFull = 61;
inline constexpr int32_t PermissionDenied = 70;
inline constexpr int32_t PathFileAccess = 75;
inline constexpr int32_t PathNotFound = 76;
}  // namespace err

// The one way a failure travels: an error number and an English description.
// A failure the system reported also says which of its codes it came from
// ("Win32 error 32", "errno 13"): the classic number folds many codes into
// one (75 above all), and a rare failure must be understood from one log.
class Error : public std::runtime_error {
public:
    Error(int32_t number, const std::string& description, std::string origin = {}, bool inUse = false)
        : std::runtime_error(description), number_(number), origin_(std::move(origin)), inUse_(inUse) {}

    int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }
    const std::string& origin() const noexcept { return origin_; }  // empty for the program's own
    // Another program holds the file open and shares it with nobody (a
    // spreadsheet showing it, on Windows): it can be written once it lets go.
    bool inUse() const noexcept { return inUse_; }

private:
    int32_t number_;
    std::string origin_;
    bool inUse_;
};

// Standard description of a classic number ("Disk full", ...).
std::string describeError(int32_t number);

// Adds 1 to a count, raising Overflow (6) instead of wrapping.
int32_t checkedIncrement(int32_t value);

}  // namespace jor
