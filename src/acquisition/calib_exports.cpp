// The calibration and cleaning exports.
#include "KovranMS.h"
#include "acquisition/cleaning.h"
#include "api/frame.h"

using namespace kovran;

extern "C" {

KVX_API KVXResult KVXCalibrate(int handle) {
    return RunExport({.name = "KVXCalibrate", .guard = Guard::Handle, .handle = handle},
                     [] { return acquisition::Calibrate(); });
}

KVX_API KVXResult KVXCheckCalibration(int handle) {
    return RunExport({.name = "KVXCheckCalibration", .guard = Guard::Handle, .handle = handle},
                     [] { return acquisition::CheckCalibration(); });
}

KVX_API KVXResult KVXClean(int handle) {
    return RunExport({.name = "KVXClean", .guard = Guard::Handle, .handle = handle},
                     [] { return acquisition::Clean(); });
}

KVX_API KVXResult KVXCheckCleaning(int handle) {
    return RunExport({.name = "KVXCheckCleaning", .guard = Guard::Handle, .handle = handle},
                     [] { return acquisition::CheckCleaning(); });
}

}  // extern "C"
