// Exported functions of the configuration directory.
#include <string>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/config_dir.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"
#include "api/log.h"

using namespace kovran;

extern "C" KVX_API KVXResult KVXConfigDirGet(int handle, char* buf) {
    return RunExport(
        {.name = "KVXConfigDirGet",
         .tag = "KVXConfigDirGet",
         .guard = Guard::HandleUnlessNoDevice,
         .handle = handle},
        [&] {
            return CopyToHost(Config().dir, {buf, kPathField}, HostBufferRule::PathField);
        });
}

extern "C" KVX_API KVXResult KVXConfigDirGetB(int handle, BSTR* dir) {
    return RunExport({.name = "KVXConfigDirGetB",
                      .tag = "KVXConfigDirGetB",
                      .guard = Guard::HandleUnlessZero,
                      .handle = handle},
                     [&]() -> KVXResult {
                         if (dir == nullptr) {
                             LogPair("err - ", "Serial number request with invalid pointer");
                             return KVX_ERR_INV_PARAMETER;
                         }
                         return StoreBstr(dir, Config().dir);
                     });
}

extern "C" KVX_API KVXResult KVXDefaultInitPath(BSTR* dir) {
    return RunExport({.name = "KVXDefaultInitPath", .guardFailLine = "KVXDefaultInitPath error"},
                     [&] {
                         SetConfigDir(nullptr);
                         if (dir != nullptr) StoreBstr(dir, Config().dir);
                         return LastResult();
                     });
}

extern "C" KVX_API KVXResult KVXRestoreDefaultInitPath(void) {
    return RunExport({.name = "KVXRestoreDefaultInitPath", .leave = true}, [] {
        if (SetConfigDir(nullptr, OnCreateFailure::Fail)) {
            SetLastResult(KVX_OK);
        } else {
            LogPair("err - ", "restoring config dir");
            SetLastResult(KVX_ERR_GENERIC);
        }
        return LastResult();
    });
}
