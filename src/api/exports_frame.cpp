// Exports of the frame: the last result, the messages, the version texts and
// the log file name.
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/error_text.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"
#include "api/log.h"
#include "api/version_text.h"
#include "platform/sys_error.h"

using namespace kovran;

namespace {

constexpr int kWorkBuffer = 256;

// Renders the message of code and stores it in *msg; the last result
// becomes 0, or the BSTR failure.
KVXResult MessageToBstr(std::int32_t code, BSTR* msg) {
    char work[kWorkBuffer] = {};
    ErrorText(code, work, kWorkBuffer);
    const int stored = StoreBstr(msg, work, static_cast<int>(std::strlen(work)));
    SetLastResult(stored);
    return stored;
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXGetLastResult(void) {
    return RunExport({.name = "KVXGetLastResult", .tag = "lastres", .keepLastResult = true},
                     [] { return LastResult(); });
}

KVX_API void KVXSetLastResult(int value) {
    RunExport({.name = "KVXSetLastResult", .tag = "setlastres"}, [&] { SetLastResult(value); });
}

KVX_API KVXResult KVXErrorMsg(int code, BSTR* msg) {
    return RunExport({.name = "KVXErrorMsg", .tag = "errMsg"},
                     [&] { return MessageToBstr(code, msg); });
}

KVX_API KVXResult KVXErrorString(BSTR* msg) {
    return RunExport({.name = "KVXErrorString", .tag = "KVXErrorString"},
                     [&] { return MessageToBstr(LastResult(), msg); });
}

KVX_API int KVXErrorMsg2(int len, char* buf) {
    return RunExport({.name = "KVXErrorMsg2",
                      .returns = Returns::Value,
                      .keepLastResult = true,
                      .clearBeforeGuard = HostBuffer{buf, len}},
                     [&] { return ErrorText(LastResult(), buf, len); });
}

KVX_API KVXResult KVXVersion(int handle, BSTR* version) {
    return RunExport({.name = "KVXVersion", .tag = "version"}, [&]() -> KVXResult {
        if (version == nullptr) {
            LogPair("err - ", "version with invalid pointer");
            return KVX_ERR_INV_PARAMETER;
        }
        platform::FreeBstr(*version);
        *version = nullptr;
        const bool library = handle == 0 || handle == kNoHandle;
        const std::string text = library ? LibraryVersionString() : DeviceVersionString();
        // The string holds the text and its terminator, as hosts have
        // always received it.
        BSTR fresh = platform::AllocBstrBytes(text.c_str(), static_cast<unsigned>(text.size() + 1));
        if (fresh == nullptr) {
            LogPairValue("err - ", "version with invalid memory allocation",
                         platform::LastSystemError());
            return KVX_ERR_OUT_OF_MEMORY;
        }
        LogText(text.c_str());
        *version = fresh;
        return KVX_OK;
    });
}

KVX_API int KVXVersionC(int /*ignored*/, char* buf, uint16_t len) {
    return RunExport({.name = "KVXVersionC", .tag = "version", .returns = Returns::Value}, [&] {
        // The result is handed back as a 16-bit number: a failure reads 65535.
        return static_cast<int>(static_cast<std::uint16_t>(DeviceText(buf, len)));
    });
}

KVX_API KVXResult KVXLogFileName(char* buf) {
    return RunExport({.name = "KVXLogFileName", .guard = Guard::None}, [&] {
        // Asking for the name may begin the new day's file: not for a null buffer.
        const std::string path = buf != nullptr ? LogFileNameNow() : std::string();
        return CopyToHost(path, {buf, kPathField}, HostBufferRule::PathField);
    });
}

KVX_API KVXResult KVXLogFileNameBSTR(BSTR* name) {
    return RunExport({.name = "KVXLogFileNameBSTR", .guard = Guard::None},
                     [&] { return StoreBstr(name, LogFileNameNow()); });
}

}  // extern "C"
