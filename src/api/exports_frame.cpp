// Exports of the frame: the last result, the messages, the version texts and
// the log file name.
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/error_text.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/version_text.h"
#include "platform/sys_error.h"

using namespace kovran;

namespace {

constexpr int kWorkBuffer = 256;
constexpr std::size_t kPathField = 260;

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
    const CallInFlight inFlight;  // the read below comes before the frame
    const std::int32_t saved = LastResult();
    return RunExport<KVXResult>({.name = "KVXGetLastResult", .tag = "lastres"}, NoHandle,
                                std::nullopt, -1, [&] {
                                    SetLastResult(saved);
                                    return saved;
                                });
}

KVX_API void KVXSetLastResult(int value) {
    RunExportVoid({.name = "KVXSetLastResult", .tag = "setlastres"}, NoHandle,
                  [&] { SetLastResult(value); });
}

KVX_API KVXResult KVXErrorMsg(int code, BSTR* msg) {
    return RunExport<KVXResult>({.name = "KVXErrorMsg", .tag = "errMsg"}, NoHandle, std::nullopt,
                                -1, [&] { return MessageToBstr(code, msg); });
}

KVX_API KVXResult KVXErrorString(BSTR* msg) {
    return RunExport<KVXResult>({.name = "KVXErrorString", .tag = "KVXErrorString"}, NoHandle,
                                std::nullopt, -1, [&] { return MessageToBstr(LastResult(), msg); });
}

KVX_API int KVXErrorMsg2(int len, char* buf) {
    const CallInFlight inFlight;  // the steps below come before the frame
    if (buf == nullptr) {
        SetLastResult(-1);
        return -1;
    }
    const auto len16 = static_cast<std::int16_t>(len);
    if (len16 > 0) std::memset(buf, 0, static_cast<std::size_t>(len16));
    const std::int32_t saved = LastResult();
    return RunExport<int>({.name = "KVXErrorMsg2", .resultIsCode = false}, NoHandle, std::nullopt,
                          -1, [&] {
                              SetLastResult(saved);
                              return ErrorText(saved, buf, len);
                          });
}

KVX_API KVXResult KVXVersion(int handle, BSTR* version) {
    return RunExport<KVXResult>(
        {.name = "KVXVersion", .tag = "version"}, NoHandle, std::nullopt, -1, [&]() -> KVXResult {
            if (version == nullptr) {
                LogPair("err - ", "version with invalid pointer");
                return -3;
            }
            platform::FreeBstr(*version);
            *version = nullptr;
            const bool library = handle == 0 || handle == -1;
            const std::string text = library ? LibraryVersionString() : DeviceVersionString();
            // The string holds the text and its terminator, as hosts have
            // always received it.
            BSTR fresh =
                platform::AllocBstrBytes(text.c_str(), static_cast<unsigned>(text.size() + 1));
            if (fresh == nullptr) {
                LogPairValue("err - ", "version with invalid memory allocation",
                             platform::LastSystemError());
                return -4;
            }
            LogText(text.c_str());
            *version = fresh;
            return 0;
        });
}

KVX_API int KVXVersionC(int /*ignored*/, char* buf, uint16_t len) {
    return RunExport<int>(
        {.name = "KVXVersionC", .tag = "version", .resultIsCode = false}, NoHandle, std::nullopt,
        -1, [&] {
            // The result is handed back as a 16-bit number:
            // a failure reads 65535.
            return static_cast<int>(static_cast<std::uint16_t>(DeviceText(buf, len)));
        });
}

KVX_API KVXResult KVXLogFileName(char* buf) {
    return RunExport<KVXResult>({.name = "KVXLogFileName", .guarded = false}, NoHandle,
                                std::nullopt, -1, [&]() -> KVXResult {
                                    if (buf == nullptr) return -3;
                                    std::memset(buf, 0, kPathField);
                                    const std::string path = LogFileNameNow();
                                    std::strncpy(buf, path.c_str(), kPathField - 1);
                                    return 0;
                                });
}

KVX_API KVXResult KVXLogFileNameBSTR(BSTR* name) {
    return RunExport<KVXResult>({.name = "KVXLogFileNameBSTR", .guarded = false}, NoHandle,
                                std::nullopt, -1, [&]() -> KVXResult {
                                    const std::string path = LogFileNameNow();
                                    const int stored = StoreBstr(name, path);
                                    return stored == 0 ? 0 : stored;
                                });
}

}  // extern "C"
