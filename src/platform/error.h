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
class Error : public std::runtime_error {
public:
    Error(int32_t number, const std::string& description) : std::runtime_error(description), number_(number) {}

    int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    int32_t number_;
};

// Standard description of a classic number ("Disk full", ...).
std::string describeError(int32_t number);

// Adds 1 to a count, raising Overflow (6) instead of wrapping.
int32_t checkedIncrement(int32_t value);

}  // namespace jor
