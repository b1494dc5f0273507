// PLACEHOLDER exports of the scan API until the scan pipeline lands: each
// runs the frame and fails with KVX_ERR_SW_UNSUPPORTED.
#include "KovranMS.h"
#include "api/frame.h"

using namespace kovran;

namespace {
KVXResult NotBuiltYet() {
    return KVX_ERR_SW_UNSUPPORTED;
}
}  // namespace

extern "C" {

KVX_API KVXResult KVXBrightness(int handle, int16_t /*front*/, int16_t /*rear*/) {
    return RunExport({.name = "KVXBrightness", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXContrast(int handle, int16_t /*front*/, int16_t /*rear*/) {
    return RunExport({.name = "KVXContrast", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

}  // extern "C"
