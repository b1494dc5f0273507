// What the end of an acquisition makes of the received lines: the page
// count, the heights without the margins, the skew of both sides, the
// deskew and crop of each side, and the document held at the input.
#include <algorithm>
#include <cmath>
#include <string>

#include "acquisition/acquire.h"
#include "acquisition/images.h"
#include "acquisition/inkjet_hooks.h"
#include "acquisition/post_hooks.h"
#include "acquisition/skew.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/counters.h"
#include "device/status.h"
#include "platform/sys_error.h"
#include "platform/usb_vendors.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint16_t kFirmwareStretch = 0x4002;
constexpr double kStretch = 1.03;
constexpr float kSmallAngleLong = 0.017444445f;
constexpr float kSmallAngleWide = 0.004361111f;
constexpr float kLargestMicrAngle = 0.5235988f;
constexpr std::int16_t kMinimumWeight = 4;

bool Moving(AcqPurpose p) {
    return p == AcqPurpose::MoveByTime || p == AcqPurpose::Movement;
}

bool HoldModel(const DeviceIdentity& id) {
    if (id.vid != platform::kMainVendor) return false;
    return id.pid == 3 || id.pid == 4 || id.pid == 8 || id.pid == 9 || id.pid == 14;
}

// Height and first line of a side once the margins are dropped.
void TrimSide(ImageRecord& r, std::int32_t received, std::int32_t leading, std::int32_t trailing,
              bool inputSensor, bool complete) {
    r.height0 = static_cast<std::uint16_t>(std::min(r.Height + r.top, 65535));
    std::int32_t lead = r.top;
    if (inputSensor) lead = std::max<std::int32_t>(r.top, leading);
    const std::int32_t drop = lead + (inputSensor && !complete ? trailing : 0);
    const std::int32_t height = std::max(received - drop, 0);
    r.Height = static_cast<std::uint16_t>(std::min(height, 65535));
    r.top = static_cast<std::int16_t>(std::min(lead, height));
}

}  // namespace

SkewPair CombineSkew(SkewPair in, const SkewContext& ctx) {
    SkewPair out = in;
    if (out.front == kNoSkew && out.rear == kNoSkew)
        return {0.0f, 0.0f, in.frontWeight, in.rearWeight};
    if (out.front == kNoSkew) out.front = -out.rear;
    if (out.rear == kNoSkew) out.rear = -out.front;
    auto zero = [&] {
        out.front = 0.0f;
        out.rear = 0.0f;
        return out;
    };
    if (ctx.cmc7Strip && !ctx.deskewMicr) return zero();
    // The rear sees the document mirrored: the same tilt reads with the
    // opposite sign, so equal signs mean the two measurements disagree.
    if ((out.front > 0 && out.rear > 0) || (out.front < 0 && out.rear < 0)) return zero();
    if (in.frontWeight < kMinimumWeight && in.rearWeight < kMinimumWeight) return zero();
    const float weights = static_cast<float>(in.frontWeight + in.rearWeight);
    float angle = (out.front * in.frontWeight - out.rear * in.rearWeight) / weights;
    const float small = ctx.heightsBelowWidths ? kSmallAngleLong : kSmallAngleWide;
    if (std::fabs(angle) < small) angle = 0.0f;
    if (ctx.cmc7Strip && std::fabs(angle) > kLargestMicrAngle) angle = 0.0f;
    out.front = angle;
    out.rear = -angle;
    return out;
}

KVXResult PostProcess(ImageSet& work, const AcquireCall& call, bool documentComplete,
                      const AcqSettings& settings) {
    const DeviceIdentity id = device::Identity();
    const ScanSettings& scan = settings.scan;
    ImagesRecord& images = Images();
    const AcqModeRecord& mode = settings.mode;
    const bool moving = Moving(call.purpose);
    const bool calibrating = call.purpose == AcqPurpose::Calibration;

    if (call.purpose == AcqPurpose::Ordinary) device::CountPage();

    const bool inputSensor = id.capabilities.adf;
    for (int side : {kRear, kFront, kBacklight}) {
        ImageRecord& r = work[static_cast<std::size_t>(side)];
        if (!r.enabled && !(side == kBacklight && scan.backlightOn)) {
            r.Height = 0;
            continue;
        }
        const bool front = side != kRear;
        TrimSide(r, r.Height, front ? images.frontLeadingLines : images.leadingLines,
                 front ? images.frontTrailingLines : images.trailingLines, inputSensor,
                 documentComplete);
    }

    if (calibrating || moving) return KVX_OK;

    // The native stream measures no angle: the deskew of each side finds
    // its own. A measured pair (other back-ends) is combined here.
    SkewPair skew{kNoSkew, kNoSkew, work[kFront].skewWeight, work[kRear].skewWeight};
    if (work[kFront].enabled && mode.request.requestedDpi[kFront] > 0) skew.front = 0.0f;
    if (work[kRear].enabled && mode.request.requestedDpi[kRear] > 0) skew.rear = 0.0f;
    const int heights = work[kFront].Height + work[kRear].Height;
    const int widths = work[kFront].width + work[kRear].width;
    skew = CombineSkew(skew, {.cmc7Strip = mode.request.cmc7Strip,
                              .deskewMicr = settings.deskewMicr,
                              .heightsBelowWidths = heights < widths});
    work[kFront].skew = skew.front;
    work[kRear].skew = skew.rear;
    if (scan.backlightOn) {
        const int owner = id.capabilities.backlightSide == kRear ? kRear : kFront;
        ImageRecord& b = work[kBacklight];
        const ImageRecord& o = work[static_cast<std::size_t>(owner)];
        b.top = o.top;
        b.Height = o.Height;
        b.left = o.left;
        b.width = o.width;
        b.skew = o.skew;
    }

    const PostProcessHooks hooks = InstalledPostProcessHooks();
    const int backlightOwner = id.capabilities.backlightSide == kRear ? kRear : kFront;
    for (int side : {kFront, kRear}) {
        ImageRecord& r = work[static_cast<std::size_t>(side)];
        if (!r.enabled || r.Height == 0) continue;
        ImageRecord* backlight =
            scan.backlightOn && side == backlightOwner ? &work[kBacklight] : nullptr;
        if (hooks.deskewWrap != nullptr) {
            std::string message;
            DeskewCall deskew{.fullTransform = scan.deskew,
                              .backlight = backlight,
                              .firstPart = settings.twoPartAcq && !settings.secondPart};
            if (side == kFront && StampArmed()) VirtualEndorsement(r, &deskew.stamp);
            if (!hooks.deskewWrap(r, deskew, &message)) {
                LogValue("completed KO side", side);
                LogValue("GetLastError", platform::LastSystemError());
                return KVX_ERR_OUT_OF_MEMORY;
            }
        }
        r.completed = true;
        if (backlight != nullptr) backlight->completed = true;
    }

    if (id.firmware == kFirmwareStretch && hooks.fixVRes != nullptr) {
        for (ImageRecord& r : work) {
            if (r.Height == 0 || r.dpiH == 0 || r.stride == 0) continue;
            const std::int64_t allocated =
                r.allocSize > 0 ? r.allocSize / r.stride : work[kFront].allocSize / r.stride;
            const int spare = static_cast<int>(std::max<std::int64_t>(allocated - r.Height, 0));
            hooks.fixVRes(r, kStretch, spare);
        }
    }

    if (HoldModel(id) && !id.capabilities.adf && scan.autoMoveBack &&
        call.purpose != AcqPurpose::MoveByTime) {
        bool held = true;
        if (documentComplete) held = (device::ReadStatus() & device::kStatusDocumentAtInput) != 0;
        ScanState().documentHeld.store(held);
    }
    return KVX_OK;
}

}  // namespace kovran::acquisition
