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

KVX_API KVXResult KVXImgCreate(int handle, int16_t /*dpiFront*/, int16_t /*dpiRear*/) {
    return RunExport({.name = "KVXImgCreate", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgCreate1(int handle, int16_t /*dpiFront*/, int16_t /*dpiRear*/,
                                int16_t /*dpiBacklight*/) {
    return RunExport({.name = "KVXImgCreate1", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgCreate1Async(int handle, int16_t /*dpiFront*/, int16_t /*dpiRear*/,
                                     int16_t /*dpiBacklight*/) {
    return RunExport({.name = "KVXImgCreate1Async", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgFree(int handle) {
    return RunExport({.name = "KVXImgFree", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgScan1(int handle, OcrZoneList* /*zones*/, char* /*codeline*/,
                              char* /*confidence*/, int16_t /*length*/) {
    return RunExport({.name = "KVXImgScan1", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgScan(int handle, OcrZoneList* /*zones*/, BSTR* /*codeline*/,
                             BSTR* /*confidence*/) {
    return RunExport({.name = "KVXImgScan", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgScan1Async(int handle, OcrZoneList* /*zones*/, char* /*codeline*/,
                                   char* /*confidence*/, int16_t /*length*/, int16_t* /*status*/) {
    return RunExport({.name = "KVXImgScan1Async", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXImgScanAsync(int handle, OcrZoneList* /*zones*/, BSTR* /*codeline*/,
                                  BSTR* /*confidence*/, int16_t* /*status*/) {
    return RunExport({.name = "KVXImgScanAsync", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXMoveScanner(int handle, int16_t /*direction*/, int32_t /*timeMs*/) {
    return RunExport({.name = "KVXMoveScanner", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXMoveScanner_mSec(int handle, int16_t /*direction*/, int16_t /*endOption*/,
                                      int32_t /*timeMs*/) {
    return RunExport({.name = "KVXMoveScanner_mSec", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXMoveScannerLines(int handle, int16_t /*direction*/, int16_t /*lines*/,
                                      int16_t /*dpi*/) {
    return RunExport({.name = "KVXMoveScannerLines", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXPreScan(int handle, int16_t /*timeMs*/) {
    return RunExport({.name = "KVXPreScan", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXStop(int handle, int16_t /*set*/) {
    return RunExport({.name = "KVXStop", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API KVXResult KVXScanEnable(int handle, int16_t /*ignored*/) {
    return RunExport({.name = "KVXScanEnable", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

KVX_API uint16_t KVXGetAcqHeight(int handle, int16_t /*side*/, int16_t /*dpi*/) {
    return RunExport({.name = "KVXGetAcqHeight",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .returns = Returns::Value,
                      .guardFailure = 0},
                     []() -> uint16_t { return 0; });
}

KVX_API KVXResult KVXGetForcedRes(int handle, int16_t* /*dpiFrontH*/, int16_t* /*dpiRearH*/,
                                  int16_t* /*dpiFrontV*/, int16_t* /*dpiRearV*/) {
    return RunExport({.name = "KVXGetForcedRes", .guard = Guard::Handle, .handle = handle},
                     [] { return NotBuiltYet(); });
}

}  // extern "C"
