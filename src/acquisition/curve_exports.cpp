// The output curve exports: front and rear settings in one call.
#include "KovranMS.h"
#include "acquisition/output_curve.h"
#include "api/frame.h"
#include "api/log.h"
#include "device/acq_mode.h"

using namespace kovran;

namespace {

constexpr int kCurveLimit = 100;

bool InRange(int16_t value) {
    return value >= -kCurveLimit && value <= kCurveLimit;
}

// Both values are checked before either side changes.
KVXResult SetBoth(int16_t front, int16_t rear, void (*set)(int, std::int16_t)) {
    if (!InRange(front) || !InRange(rear)) {
        LogPair("err - ", "invalid parameter");
        return KVX_ERR_INV_PARAMETER;
    }
    set(kFront, front);
    set(kRear, rear);
    return KVX_OK;
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXBrightness(int handle, int16_t front, int16_t rear) {
    return RunExport(
        {.name = "KVXBrightness", .tag = "Brigthness", .guard = Guard::Handle, .handle = handle},
        [&] { return SetBoth(front, rear, &acquisition::SetCurveBrightness); });
}

KVX_API KVXResult KVXContrast(int handle, int16_t front, int16_t rear) {
    return RunExport(
        {.name = "KVXContrast", .tag = "contrast", .guard = Guard::Handle, .handle = handle},
        [&] { return SetBoth(front, rear, &acquisition::SetCurveContrast); });
}

}  // extern "C"
