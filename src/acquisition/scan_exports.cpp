// The exported scan API: each export runs the frame and one scan operation.
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "acquisition/scan.h"
#include "api/bstr_out.h"
#include "api/frame.h"
#include "api/log.h"

using namespace kovran;
using namespace kovran::acquisition;

namespace {

constexpr std::int16_t kInternalLength = static_cast<std::int16_t>(kAsyncTextBytes);

// The system-string forms: empty strings after a failed scan.
KVXResult StoreTexts(KVXResult result, const char* codeline, const char* confidence,
                     BSTR* outCodeline, BSTR* outConfidence, int length) {
    const bool failed = result < 0;
    const int n = failed ? 0 : length;
    if (outCodeline != nullptr && StoreBstr(outCodeline, failed ? "" : codeline, n) != KVX_OK) {
        LogText("codeline string allocation failed");
        return KVX_ERR_OUT_OF_MEMORY;
    }
    if (outConfidence != nullptr &&
        StoreBstr(outConfidence, failed ? "" : confidence, n) != KVX_OK) {
        LogText("confidence string allocation failed");
        return KVX_ERR_OUT_OF_MEMORY;
    }
    return result;
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXImgCreate(int handle, int16_t dpiFront, int16_t dpiRear) {
    return RunExport(
        {.name = "KVXImgCreate", .tag = "create", .guard = Guard::Handle, .handle = handle},
        [&] { return ImgCreate(dpiFront, dpiRear, 0); });
}

KVX_API KVXResult KVXImgCreate1(int handle, int16_t dpiFront, int16_t dpiRear,
                                int16_t dpiBacklight) {
    return RunExport(
        {.name = "KVXImgCreate1", .tag = "create", .guard = Guard::Handle, .handle = handle},
        [&] { return ImgCreate(dpiFront, dpiRear, dpiBacklight); });
}

KVX_API KVXResult KVXImgCreate1Async(int handle, int16_t dpiFront, int16_t dpiRear,
                                     int16_t dpiBacklight) {
    return RunExport({.name = "KVXImgCreate1Async",
                      .tag = "create1async",
                      .guard = Guard::Handle,
                      .handle = handle},
                     [&] { return ImgCreateAsync(dpiFront, dpiRear, dpiBacklight); });
}

KVX_API KVXResult KVXImgFree(int handle) {
    return RunExport(
        {.name = "KVXImgFree", .tag = "free", .guard = Guard::Handle, .handle = handle},
        [] { return ImgFree(); });
}

KVX_API KVXResult KVXImgScan1(int handle, OcrZoneList* zones, char* codeline, char* confidence,
                              int16_t length) {
    return RunExport(
        {.name = "KVXImgScan1", .tag = "scan1", .guard = Guard::Handle, .handle = handle}, [&] {
            return ImgScan(zones,
                           {.codeline = codeline, .confidence = confidence, .length = length});
        });
}

KVX_API KVXResult KVXImgScan(int handle, OcrZoneList* zones, BSTR* codeline, BSTR* confidence) {
    return RunExport(
        {.name = "KVXImgScan", .tag = "scan", .guard = Guard::Handle, .handle = handle}, [&] {
            std::string c(kAsyncTextBytes, '\0');
            std::string k(kAsyncTextBytes, '\0');
            const KVXResult r = ImgScan(
                zones, {.codeline = c.data(), .confidence = k.data(), .length = kInternalLength});
            const auto n = static_cast<int>(std::strlen(k.c_str()));
            return StoreTexts(r, c.c_str(), k.c_str(), codeline, confidence, n);
        });
}

KVX_API KVXResult KVXImgScan1Async(int handle, OcrZoneList* zones, char* codeline, char* confidence,
                                   int16_t length, int16_t* status) {
    return RunExport(
        {.name = "KVXImgScan1Async", .tag = "scan1", .guard = Guard::Handle, .handle = handle},
        [&] {
            return ScanAsync(
                zones, {.codeline = codeline, .confidence = confidence, .length = length}, status);
        });
}

KVX_API KVXResult KVXImgScanAsync(int handle, OcrZoneList* zones, BSTR* codeline, BSTR* confidence,
                                  int16_t* status) {
    return RunExport(
        {.name = "KVXImgScanAsync", .tag = "scan", .guard = Guard::Handle, .handle = handle}, [&] {
            std::string c(kAsyncTextBytes, '\0');
            std::string k(kAsyncTextBytes, '\0');
            const KVXResult r = ScanAsync(
                zones, {.codeline = c.data(), .confidence = k.data(), .length = kInternalLength},
                status);
            if (status == nullptr || *status != 3) return r;
            const auto n = static_cast<int>(std::strlen(k.c_str()));
            return StoreTexts(r, c.c_str(), k.c_str(), codeline, confidence, n);
        });
}

KVX_API KVXResult KVXMoveScanner(int handle, int16_t direction, int32_t timeMs) {
    return RunExport(
        {.name = "KVXMoveScanner", .tag = "move", .guard = Guard::Handle, .handle = handle},
        [&] { return MoveScannerForTime(direction, false, timeMs); });
}

KVX_API KVXResult KVXMoveScanner_mSec(int handle, int16_t direction, int16_t endOption,
                                      int32_t timeMs) {
    return RunExport(
        {.name = "KVXMoveScanner_mSec", .tag = "move", .guard = Guard::Handle, .handle = handle},
        [&] { return MoveScannerForTime(direction, endOption > 0, timeMs); });
}

KVX_API KVXResult KVXMoveScannerLines(int handle, int16_t direction, int16_t lines, int16_t dpi) {
    return RunExport(
        {.name = "KVXMoveScannerLines", .tag = "move", .guard = Guard::Handle, .handle = handle},
        [&] { return MoveScannerLines(direction, lines, dpi); });
}

KVX_API KVXResult KVXPreScan(int handle, int16_t timeMs) {
    return RunExport(
        {.name = "KVXPreScan", .tag = "move", .guard = Guard::Handle, .handle = handle},
        [&] { return PreScan(timeMs); });
}

KVX_API KVXResult KVXStop(int handle, int16_t set) {
    return RunExport({.name = "KVXStop", .guard = Guard::Handle, .handle = handle},
                     [&] { return Stop(set); });
}

KVX_API KVXResult KVXScanEnable(int handle, int16_t /*ignored*/) {
    return RunExport({.name = "KVXScanEnable", .guard = Guard::Handle, .handle = handle}, [] {
        ClearStop();
        return KVX_OK;
    });
}

KVX_API uint16_t KVXGetAcqHeight(int handle, int16_t side, int16_t dpi) {
    return RunExport({.name = "KVXGetAcqHeight",
                      .guard = Guard::Handle,
                      .handle = handle,
                      .returns = Returns::Value,
                      .keepLastResult = true,
                      .guardFailure = 0},
                     [&]() -> uint16_t { return GetAcqHeight(side, dpi); });
}

KVX_API KVXResult KVXGetForcedRes(int handle, int16_t* dpiFrontH, int16_t* dpiRearH,
                                  int16_t* dpiFrontV, int16_t* dpiRearV) {
    return RunExport({.name = "KVXGetForcedRes", .guard = Guard::Handle, .handle = handle},
                     [&] { return GetForcedRes(dpiFrontH, dpiRearH, dpiFrontV, dpiRearV); });
}

}  // extern "C"
