// The open's steps that belong to the scan geometry.
#include "device/scan_setup.h"

#include "api/frame_state.h"
#include "api/ini_settings.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"

namespace kovran::device {
namespace {

constexpr std::uint16_t kAutomaticMode = 8;
constexpr std::int32_t kGrey = 1;

}  // namespace

void PrepareScanDefaults() {
    if (const auto hook = InstalledImageHooks().openDefaults) hook();
    CopyIniDefaultsToCurrent();
    AcqRequest& request = AcqMode().request;
    request = AcqRequest{};
    request.requestedDpi = {300, 300, 0};
}

bool SelectDefaultAcqMode() {
    const int mode = DefaultAcqMode();
    SetAcqModeParameter(static_cast<std::uint16_t>(mode));
    const bool ok = SetUpAcqMode(0);
    const std::int32_t setUpResult = LastResult();
    // Automatic from here on, whatever the set-up said; its failure stays
    // the result of the open.
    SetAcqModeParameter(kAutomaticMode);
    if (!ok) SetLastResult(setUpResult);
    return ok;
}

void CheckDefaultColour() {
    const std::int32_t color = Settings().scan.color;
    // A valid colour is only checked: what the set-up left (a failed
    // configuration read, missing external power) stays the result.
    const std::int32_t before = LastResult();
    if (ApplyColour(color) == KVX_OK) {
        SetLastResult(before);
        return;
    }
    LogPairValue("err - ", "invalid default color", color);
    Settings().scanIni.color = kGrey;
    Settings().scan.color = kGrey;
    if (ApplyColour(kGrey) == KVX_OK)
        LogText("default color changed to gray");
    else
        LogPairValue("err - ", "changing color to GRAY", LastResult());
}

void FreeImageBuffers() {
    const ImageHooks hooks = InstalledImageHooks();
    if (hooks.releaseImages != nullptr)
        hooks.releaseImages();
    else if (hooks.freeImages != nullptr)
        hooks.freeImages();
}

}  // namespace kovran::device
