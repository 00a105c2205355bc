// GetLastError codes as classic error numbers.
#include "platform/win32/win_error.h"

#include "platform/win32/windows_api.h"

namespace jor {
namespace {
constexpr DWORD ErrorDiskQuotaExceeded = 1295;  // not in mingw's headers
}  // namespace

int32_t numberForWinError(uint32_t code, bool isFolder) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME: return isFolder ? err::PathNotFound : err::FileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return err::PathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_PRIVILEGE_NOT_HELD: return err::PermissionDenied;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_DIR_NOT_EMPTY: return err::FileExists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ErrorDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE: return err::DiskFull;
    case ERROR_NOT_READY:
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_UNRECOGNIZED_MEDIA: return err::DeviceIo;
    case ERROR_INVALID_PARAMETER: return err::InvalidArgument;
    case ERROR_ARITHMETIC_OVERFLOW: return err::Overflow;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return err::OutOfMemory;
    default: return err::PathFileAccess;
    }
}

void raiseWinError(uint32_t code, bool isFolder) {
    const int32_t number = numberForWinError(code, isFolder);
    throw Error(number, describeError(number), "Win32 error " + std::to_string(code),
                code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION);
}

void raiseLastError(bool isFolder) { raiseWinError(::GetLastError(), isFolder); }

void raiseNotFound(bool isFolder) { raiseWinError(ERROR_FILE_NOT_FOUND, isFolder); }

}  // namespace jor
