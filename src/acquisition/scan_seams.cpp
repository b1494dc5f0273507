// The steps of the device connection that belong to the scan. (The open's
// brief feeder movement of three firmware versions is not wired yet: it
// would add a whole acquisition to every open of those devices.)
#include "acquisition/acquire.h"
#include "acquisition/cleaning.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"

namespace kovran::acquisition {

namespace {

// The close frees the buffers and gives the device up next: nothing of a
// scan may still run then, whichever host thread started it.
void StopRunningAcquisitions() {
    AsyncThrClose();
    ADFThrClose();
    EndScansOfOtherThreads();
}

bool FeederRunning() {
    return Images().feederThreadRunning.load();
}

}  // namespace

void AddScanSeams(device::ConnectionSeams& seams) {
    seams.clearStopRequest = &ClearStop;
    seams.stopAcquisition = &StopRunningAcquisitions;
    seams.feederAcquisitionRunning = &FeederRunning;
    seams.calibrationState = [] {
        return CheckCalibration() == KVX_OK ? device::CalibrationState::Present
                                            : device::CalibrationState::Missing;
    };
    seams.cleaningRequired = &CleaningRequiredAtOpen;
}

}  // namespace kovran::acquisition
