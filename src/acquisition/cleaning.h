// Cleaning the sensors with a cleaning sheet, and the cleaning check.
#pragma once

#include "KovranMS.h"

namespace kovran::acquisition {

// Waits for the cleaning sheet, strokes it past the sensors and ejects it;
// clears the cleaning request.
KVXResult Clean();
// KVX_WAR_DIRTY when the sensors want cleaning on a calibrated device.
KVXResult CheckCleaning();
// The open's question (the device announcement).
bool CleaningRequiredAtOpen();

// Every mode is calibrated: KVX_OK, else KVX_WAR_NO_CALIBRATION.
KVXResult CheckCalibration();
// The sheet calibration of every mode.
KVXResult Calibrate();

}  // namespace kovran::acquisition
