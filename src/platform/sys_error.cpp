#include "platform/sys_error.h"

#include <cerrno>

namespace kovran::platform {

namespace {
// Each thread sees its own error, as GetLastError does.
thread_local int tLastError = kErrorSuccess;
}  // namespace

int LastSystemError() {
    return tLastError;
}

void SetLastSystemError(int code) {
    tLastError = code;
}

int WinErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EXDEV:
            return kErrorNotSameDevice;
        case ENODEV:
        case ENXIO:
            return kErrorNotReady;
        case EIO:
            return kErrorGenFailure;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOSPC:
            return kErrorDiskFull;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case EBUSY:
            return kErrorBusy;
        case EEXIST:
            return kErrorAlreadyExists;
        case ENAMETOOLONG:
            return kErrorFilenameTooLong;
        case ETIMEDOUT:
            return kErrorTimeout;
        default:
            return kErrorGenFailure;
    }
}

void SetLastSystemErrorFromErrno() {
    SetLastSystemError(WinErrorFromErrno(errno));
}

}  // namespace kovran::platform
