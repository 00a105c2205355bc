// errno values as classic error numbers.
#include "platform/linux/errno_error.h"

#include <cerrno>

namespace jor {

int32_t numberForErrno(int e, bool isFolder) {
    switch (e) {
    case ENOENT: return isFolder ? err::PathNotFound : err::FileNotFound;
    case ENOTDIR: return err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY: return err::PermissionDenied;
    case EEXIST:
    case ENOTEMPTY: return err::FileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return err::DiskFull;
    case EIO:
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM: return err::DeviceIo;
    case EINVAL: return err::InvalidArgument;
    case EOVERFLOW: return err::Overflow;
    case ENOMEM: return err::OutOfMemory;
    default: return err::PathFileAccess;
    }
}

void raiseErrno(int e, bool isFolder) {
    const int32_t number = numberForErrno(e, isFolder);
    throw Error(number, describeError(number), "errno " + std::to_string(e));
}

}  // namespace jor
