// The scan operations behind the exports: image creation and release, the
// scan proper (synchronous and asynchronous), the stop, and the queries of
// the acquired height and the forced resolutions.
#pragma once

#include <cstdint>

#include "KovranMS.h"
#include "acquisition/scan_state.h"
#include "device/connection_seams.h"

namespace kovran::acquisition {

// A creation, scan, paper movement or calibration replaces the images:
// refused (logged, true) while a scan of another thread or a pending
// asynchronous scan uses them.
bool RefuseWhileAnotherScanRuns();
// An asynchronous scan is pending and this is not its worker.
bool AsyncScanPending();

KVXResult ImgCreate(std::int16_t front, std::int16_t rear, std::int16_t backlight);
KVXResult ImgFree();
// The buffers freed for a new creation by the scan itself (the patch of a
// second scan, the asynchronous worker): the feeder's thread is ended first.
KVXResult FreeForRecreate();

// Host buffers of a scan: the codeline and confidence texts, `length`
// bytes each (null when no zones are read).
struct ScanTexts {
    char* codeline = nullptr;
    char* confidence = nullptr;
    std::int16_t length = 0;
};
KVXResult ImgScan(OcrZoneList* zones, const ScanTexts& texts);

// The zone list's validation and reading, which come with the document
// reading: today the count is checked and nothing is read.
KVXResult ValidateZones(const OcrZoneList& zones, const ScanTexts& texts);
KVXResult ReadZones(OcrZoneList& zones, const ScanTexts& texts);

// The asynchronous scan: start (status 0) or poll (any other status).
KVXResult ScanAsync(OcrZoneList* zones, const ScanTexts& texts, std::int16_t* status);
// The texts of the finished asynchronous scan (for the system-string form).
void AsyncTexts(const char** codeline, const char** confidence);
KVXResult ImgCreateAsync(std::int16_t front, std::int16_t rear, std::int16_t backlight);
// Ends a pending asynchronous scan (stop, close): always joined.
KVXResult AsyncThrClose();

KVXResult Stop(std::int16_t set);
void ClearStop();
// Ends the scans running on other host threads (the device is closing):
// false when one is still running at the limit.
bool EndScansOfOtherThreads();

std::uint16_t GetAcqHeight(std::int16_t side, std::int16_t dpi);
KVXResult GetForcedRes(std::int16_t* frontH, std::int16_t* rearH, std::int16_t* frontV,
                       std::int16_t* rearV);

// The acquisition height of an ordinary scan, in lines.
int AcquisitionHeight();

// Paper movement.
struct MoveCall {
    ScanDirection direction = ScanDirection::Forward;
    std::int32_t length = 0;  // lines at dpi; 0: by time
    std::int32_t dpi = 300;
    bool prefeed = false;
    std::int32_t limitMs = 0;
    bool endOption = false;
};
KVXResult MoveScanner(const MoveCall& call);
KVXResult MoveScannerForTime(std::int16_t direction, bool endOption, std::int32_t ms);
KVXResult MoveScannerLines(std::int16_t direction, std::int16_t lines, std::int16_t dpi);
KVXResult PreScan(std::int16_t ms);

// The continuous feeder: one document now, the next in the background.
KVXResult ADFAcq(int height);
KVXResult ADFThrClose();

// The steps the device connection runs at close, reset and open that
// belong to the scan: the stop request cleared, the running acquisitions
// ended and joined, the feeder's state, the brief feeder movement.
void AddScanSeams(device::ConnectionSeams& seams);

}  // namespace kovran::acquisition
