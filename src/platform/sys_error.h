// The thread-local system error: the stand-in for GetLastError. The platform
// layer sets it with Windows error numbers where callers test them.
#pragma once

namespace kovran::platform {

// Windows error numbers that callers compare with.
enum WinError : int {
    kErrorSuccess = 0,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorTooManyOpenFiles = 4,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorNotReady = 21,
    kErrorNotSameDevice = 17,
    kErrorGenFailure = 31,
    kErrorFileExists = 80,
    kErrorInvalidParameter = 87,
    kErrorDiskFull = 112,
    kErrorModNotFound = 126,
    kErrorDirNotEmpty = 145,
    kErrorBusy = 170,
    kErrorAlreadyExists = 183,
    kErrorBadExeFormat = 193,
    kErrorFilenameTooLong = 206,
    kErrorOperationAborted = 995,
    kErrorIoIncomplete = 996,
    kErrorIoPending = 997,
    kErrorNoSystemResources = 1450,
    kErrorTimeout = 1460,
};

int LastSystemError();
void SetLastSystemError(int code);
// Maps an errno value to the Windows number that the same failure gives.
int WinErrorFromErrno(int err);
// Sets the system error from errno.
void SetLastSystemErrorFromErrno();

}  // namespace kovran::platform
