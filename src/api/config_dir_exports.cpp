// Exported functions of the configuration directory.
#include <cstring>
#include <optional>
#include <string>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/config_dir.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"

using namespace kovran;

namespace {

// Handles meaning "no device": the query then needs no guard.
HandleRef GuardUnless(int handle, bool minusOneIsNoDevice) {
    if (handle == 0 || (minusOneIsNoDevice && handle == -1)) return NoHandle;
    return HandleRef{handle};
}

}  // namespace

extern "C" KVX_API KVXResult KVXConfigDirGet(int handle, char* buf) {
    return RunExport<KVXResult>(ExportInfo{"KVXConfigDirGet", "KVXConfigDirGet"},
                                GuardUnless(handle, true), std::nullopt, -1, [&]() -> KVXResult {
                                    if (buf == nullptr) return KVX_ERR_INV_PARAMETER;
                                    const std::string& dir = Config().dir;
                                    std::memcpy(buf, dir.c_str(), dir.size() + 1);
                                    return KVX_OK;
                                });
}

extern "C" KVX_API KVXResult KVXConfigDirGetB(int handle, BSTR* dir) {
    return RunExport<KVXResult>(ExportInfo{"KVXConfigDirGetB", "KVXConfigDirGetB"},
                                GuardUnless(handle, false), std::nullopt, -1, [&]() -> KVXResult {
                                    if (dir == nullptr) {
                                        LogPair("err - ",
                                                "Serial number request with invalid pointer");
                                        return KVX_ERR_INV_PARAMETER;
                                    }
                                    return StoreBstr(dir, Config().dir);
                                });
}

extern "C" KVX_API KVXResult KVXDefaultInitPath(BSTR* dir) {
    const CallInFlight inFlight;  // the log line below comes after the frame
    bool ran = false;
    KVXResult result = RunExport<KVXResult>(ExportInfo{"KVXDefaultInitPath"}, NoHandle,
                                            std::nullopt, -1, [&]() -> KVXResult {
                                                ran = true;
                                                SetConfigDir(nullptr, false, false);
                                                if (dir != nullptr) StoreBstr(dir, Config().dir);
                                                return LastResult();
                                            });
    if (!ran) LogText("KVXDefaultInitPath error");
    return result;
}

extern "C" KVX_API KVXResult KVXRestoreDefaultInitPath(void) {
    return RunExport<KVXResult>(ExportInfo{"KVXRestoreDefaultInitPath", nullptr, true}, NoHandle,
                                std::nullopt, -1, []() -> KVXResult {
                                    if (SetConfigDir(nullptr, true, false)) {
                                        SetLastResult(KVX_OK);
                                    } else {
                                        LogPair("err - ", "restoring config dir");
                                        SetLastResult(KVX_ERR_GENERIC);
                                    }
                                    return LastResult();
                                });
}
