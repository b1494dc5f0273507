// The mode set-up: what the tables decide, put into the scan settings and
// the image records, and the failure paths.
#include "device/acq_mode.h"

#include <algorithm>
#include <atomic>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"

namespace kovran {
namespace {

// Installed once at load (like the device hooks, outside the library
// records, so that they survive a reset of the records); atomics so that a
// test installing its own never races a worker thread's read.
std::atomic<bool (*)(int, bool*)> g_secondPart{nullptr};
std::atomic<bool (*)()> g_imagesInUse{nullptr};
std::atomic<bool (*)()> g_prepareStamp{nullptr};
std::atomic<void (*)()> g_freeImages{nullptr};
std::atomic<void (*)()> g_releaseImages{nullptr};
std::atomic<bool (*)(int)> g_buildImages{nullptr};
std::atomic<void (*)()> g_openDefaults{nullptr};

constexpr std::uint16_t kFailedResolution = 100;
// Parameter 1000's value for "choose at every set-up".
constexpr std::uint16_t kAutomaticMode = 8;
constexpr int kDeviceFeatureForcedModes = 6;

}  // namespace

void InstallImageHooks(const ImageHooks& hooks) {
    g_secondPart.store(hooks.secondPart);
    g_imagesInUse.store(hooks.imagesInUse);
    g_prepareStamp.store(hooks.prepareStamp);
    g_freeImages.store(hooks.freeImages);
    g_releaseImages.store(hooks.releaseImages);
    g_buildImages.store(hooks.buildImages);
    g_openDefaults.store(hooks.openDefaults);
}

ImageHooks InstalledImageHooks() {
    return {.secondPart = g_secondPart.load(),
            .imagesInUse = g_imagesInUse.load(),
            .prepareStamp = g_prepareStamp.load(),
            .freeImages = g_freeImages.load(),
            .releaseImages = g_releaseImages.load(),
            .buildImages = g_buildImages.load(),
            .openDefaults = g_openDefaults.load()};
}

namespace device {

AcqModeRecord& AcqMode() {
    return lib().Get<AcqModeRecord>();
}

ColourRequest ColourOf(std::int32_t colorSetting) {
    const std::int32_t part = colorSetting & ~0x18;
    return {.colour = part >= 2 && part <= 5,
            .infrared = (colorSetting & 0x08) != 0,
            .ultraviolet = (colorSetting & 0x10) != 0};
}

ModeInputs CurrentModeInputs() {
    ModeInputs in;
    in.id = Identity();
    in.scan = Settings().scan;
    in.request = AcqMode().request;
    in.slowAcquisition = in.id.capabilities.slowAcquisition;
    return in;
}

int DefaultAcqMode() {
    const DeviceIdentity id = Identity();
    bool unsupported = false;
    const int mode = DefaultModeFor(id, ColourOf(Settings().scan.color).colour, &unsupported);
    if (unsupported) {
        LogUnsupportedVersion(id.firmware);
        SetLastResult(KVX_ERR_SW_UNSUPPORTED);
    }
    return mode;
}

bool SetUpAcqMode(int height) {
    const ImageHooks hooks = InstalledImageHooks();
    if (hooks.imagesInUse != nullptr && hooks.imagesInUse()) {
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    // The second part of a two-part scan continues the first part's buffers.
    bool secondPartOk = false;
    if (hooks.secondPart != nullptr && hooks.secondPart(height, &secondPartOk)) return secondPartOk;
    if (height != 0 && hooks.prepareStamp != nullptr && !hooks.prepareStamp()) return false;
    if (hooks.freeImages != nullptr) hooks.freeImages();

    ModeInputs in = CurrentModeInputs();
    AcqModeSettings& acq = in.scan.acq;
    const ColourRequest colour = ColourOf(in.scan.color);
    acq.lineMultiple = 1;
    acq.colourChannels = colour.colour ? 3 : 1;
    acq.channelLines =
        static_cast<std::uint8_t>(acq.colourChannels + colour.infrared + colour.ultraviolet);

    AcqModeRecord& record = AcqMode();
    AcqModeRecord out = record;
    out.geometry = {};
    for (int side : {kRear, kFront, kBacklight}) {
        SideGeometry& g = out.geometry[static_cast<std::size_t>(side)];
        g.side = static_cast<std::uint8_t>(side);
        g.bytesPerPixel = side == kBacklight ? 1 : acq.colourChannels;
        g.channels = side == kBacklight ? 1 : acq.channelLines;
    }

    KVXResult result = KVX_OK;
    // The other vendors' back-ends set their own geometry.
    if (!in.id.alternative) result = RunModeTable(in, acq.mode, out);
    if (result != KVX_OK) {
        if (result == KVX_ERR_INV_PARAMETER) {
            if (height != 0)
                LogPairValue("err - ", "Setting invalid Acquisition Mode", in.triedMode);
        } else {
            LogUnsupportedVersion(in.id.firmware);
            result = KVX_ERR_SW_UNSUPPORTED;
        }
        SetLastResult(result);
        record.disabled = out.disabled;
        Settings().scan.acq.acquiredRes.fill(kFailedResolution);
        return false;
    }
    SetLastResult(KVX_OK);

    auto& g = out.geometry;
    acq.acquiredRes = {g[kRear].dpiH, g[kFront].dpiH, g[kBacklight].dpiH,
                       std::max(g[kRear].dpiV, g[kFront].dpiV)};
    // The first-line offsets are channel lines; the records count scan lines.
    auto lines = [](int offset, int channels) {
        return static_cast<std::int16_t>((offset + channels - 1) / std::max(channels, 1));
    };
    g[kFront].top = lines(acq.firstLineFront, g[kFront].channels);
    g[kRear].top = lines(acq.firstLineRear, g[kRear].channels);
    acq.firstLineFront = g[kFront].top;
    acq.firstLineRear = g[kRear].top;
    g[kBacklight].top = g[in.id.capabilities.backlightSide == kRear ? kRear : kFront].top;
    for (SideGeometry& s : g) {
        s.top0 = s.top;
        s.left0 = s.left;
        s.width0 = s.width;
        s.right = static_cast<std::uint16_t>(s.left + s.width);
    }
    Settings().scan.acq = acq;
    record.geometry = out.geometry;
    record.disabled = out.disabled;
    record.magneticRatio = out.magneticRatio;
    record.stripBytes = out.stripBytes;

    if (hooks.buildImages != nullptr) return hooks.buildImages(height);
    return true;
}

bool SetAcqMode(int height, int mode) {
    const ScanSettings kept = Settings().scan;
    if (Settings().scan.acq.forced) Settings().scan.acq.mode = static_cast<std::uint8_t>(mode);
    // The set-up also builds the image records for the height, so nothing
    // is left to allocate here.
    if (SetUpAcqMode(height)) return true;
    Settings().scan = kept;
    return false;
}

KVXResult SetAcqModeParameter(std::uint16_t value) {
    const ScanSettings kept = Settings().scan;
    KVXResult result = KVX_OK;
    if (Identity().capabilities.feature[kDeviceFeatureForcedModes]) {
        if (value == kAutomaticMode) {
            Settings().scan.acq.forced = false;
        } else if (value < kAutomaticMode) {
            Settings().scan.acq.forced = true;
            if (SetAcqMode(0, value)) {
                return static_cast<KVXResult>(LastResult());
            }
            Settings().scan = kept;
            result = KVX_ERR_INV_PARAMETER;
        } else {
            result = KVX_ERR_INV_PARAMETER;
        }
    } else if (value != 0 && value != kAutomaticMode) {
        result = KVX_ERR_INV_PARAMETER;
    }
    SetLastResult(result);
    return result;
}

KVXResult ApplyColour(std::int32_t value) {
    const std::int32_t part = value & ~0x18;
    const bool greyWithExtras = part == 0 && (value & 0x18) != 0;
    if (!greyWithExtras && (part < 1 || part > 5)) {
        LogPairValue("err - ", "invalid color request", value);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_INV_PARAMETER;
    }
    const ScanSettings kept = Settings().scan;
    Settings().scan.color = value;
    if (SetUpAcqMode(0)) return KVX_OK;
    Settings().scan = kept;
    SetLastResult(KVX_ERR_INV_PARAMETER);
    return KVX_ERR_INV_PARAMETER;
}

}  // namespace device
}  // namespace kovran
