#include "acquisition/corr_info.h"

#include <algorithm>
#include <new>

#include "acquisition/calibration.h"
#include "acquisition/correction.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"

namespace kovran::acquisition {
namespace {

// Differences below this are dust or a dead pixel: amplified by a fixed 10.
constexpr int kSmallestUsableSpan = 26;
constexpr float kSmallSpanGain = 10.0f;

void FreeSide(CorrInfo& info) {
    info.white = {};
    info.black = {};
    info.pixels = 0;
    info.bytes = 0;
}

// False on allocation failure.
bool Allocate(std::vector<std::uint8_t>& reference, std::size_t bytes) {
    try {
        reference.assign(bytes, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

CorrInfoRecord& CorrInfos() {
    return lib().Get<CorrInfoRecord>();
}

void FreeCorrInfo() {
    CorrInfoRecord& r = CorrInfos();
    for (CorrInfo& info : r.sides) FreeSide(info);
    for (auto& g : r.gain) g = {};
}

KVXResult CreateCorrInfo(const std::array<SideGeometry, 3>& geometry, bool backlightOn) {
    CorrInfoRecord& r = CorrInfos();
    for (int side : {kRear, kFront, kBacklight}) {
        CorrInfo& info = r.sides[static_cast<std::size_t>(side)];
        const SideGeometry& g = geometry[static_cast<std::size_t>(side)];
        if (side == kBacklight && !backlightOn) {
            FreeSide(info);
            continue;
        }
        const std::size_t channels = side == kBacklight ? 1 : std::max<int>(g.channels, 1);
        const std::size_t bytes = static_cast<std::size_t>(g.sensorPixels) * channels;
        info.pixels = g.sensorPixels;
        info.bytes = static_cast<std::uint16_t>(std::min<std::size_t>(bytes, 0xFFFF));
        const char* failed = nullptr;
        if (!Allocate(info.white, info.bytes))
            failed = "CorrInfo creation with invalid memory allocation";
        else if (!Allocate(info.black, info.bytes))
            failed = "CorrInfo creation (2) with invalid memory allocation";
        if (failed != nullptr) {
            LogPair("err - ", failed);
            SetLastResult(KVX_ERR_OUT_OF_MEMORY);
            FreeCorrInfo();
            LogPair("err - ", "Create calibration file");
            SetLastResult(KVX_ERR_WRITE);
            return KVX_ERR_WRITE;
        }
    }
    return KVX_OK;
}

void SetDefaultReferences() {
    CorrInfoRecord& r = CorrInfos();
    for (int side : {kRear, kFront, kBacklight}) {
        CorrInfo& info = r.sides[static_cast<std::size_t>(side)];
        std::fill(info.white.begin(), info.white.end(), std::uint8_t{255});
        std::fill(info.black.begin(), info.black.end(), std::uint8_t{0});
        info.whiteLevel = {};
        info.blackLevel = {};
        info.mode = 0;
        if (side == kBacklight)
            info.level = {kDefaultBacklightLevel, 0, 0, 0, 0};
        else
            info.level.fill(kLevelModelMaximum);
    }
}

float GainNumerator(std::int32_t typeDoc) {
    switch (typeDoc) {
        case 3:
        case 4:
        case 6:
        case 7:
        case 8:
            return 255.0f;
        default:
            return 265.0f;
    }
}

std::vector<float> BuildGain(const CorrInfo& info, std::size_t entries, float k, bool calibrating) {
    std::vector<float> gain(entries, 1.0f);
    if (calibrating || info.white.empty() || info.black.empty()) return gain;
    const std::size_t n = std::min({entries, info.white.size(), info.black.size()});
    for (std::size_t i = 0; i < n; ++i) {
        const int d = int{info.white[i]} - int{info.black[i]};
        if (d >= kSmallestUsableSpan)
            gain[i] = k / static_cast<float>(d);
        else if (d > 0)
            gain[i] = kSmallSpanGain;
    }
    return gain;
}

// The references follow the mode: a change of geometry (a new mode) gets
// fresh references at their defaults until calibration loads its own.
bool PrepareCorrectionCoefficients(CorrectionKind kind) {
    return PrepareCorrectionCoefficients(kind, TakeAcqSettings());
}

bool PrepareCorrectionCoefficients(CorrectionKind kind, const AcqSettings& settings) {
    CorrInfoRecord& r = CorrInfos();
    const AcqModeRecord& mode = settings.mode;
    const bool backlightOn = settings.scan.backlightOn;
    bool matches = true;
    for (int side : {kRear, kFront, kBacklight}) {
        const CorrInfo& info = r.sides[static_cast<std::size_t>(side)];
        const SideGeometry& g = mode.geometry[static_cast<std::size_t>(side)];
        const std::size_t channels = side == kBacklight ? 1 : std::max<int>(g.channels, 1);
        const bool wanted = side != kBacklight || backlightOn;
        const std::size_t bytes = wanted ? g.sensorPixels * channels : 0;
        if (info.white.size() != bytes || info.pixels != (wanted ? g.sensorPixels : 0))
            matches = false;
    }
    if (!matches) {
        if (CreateCorrInfo(mode.geometry, backlightOn) != KVX_OK) {
            LogText("error creating correction coef");
            SetLastResult(KVX_ERR_GENERIC);
            return false;
        }
        SetDefaultReferences();
    }
    // The mode's own calibration, loaded again whenever the mode changed.
    if (kind == CorrectionKind::Ordinary) EnsureCalibrationLoaded(!matches);

    const float k = GainNumerator(settings.typeDoc);
    const bool calibrating = kind == CorrectionKind::Calibration;
    try {
        for (int side : {kRear, kFront, kBacklight}) {
            const auto s = static_cast<std::size_t>(side);
            const SideGeometry& g = mode.geometry[s];
            const std::size_t channels = side == kBacklight ? 1 : std::max<int>(g.channels, 1);
            const std::size_t entries = static_cast<std::size_t>(g.sensorPixels) * channels;
            // The backlight is not calibrated per pixel.
            r.gain[s] = side == kBacklight ? std::vector<float>(entries, 1.0f)
                                           : BuildGain(r.sides[s], entries, k, calibrating);
        }
    } catch (const std::bad_alloc&) {
        for (auto& g : r.gain) g = {};
        LogText("error creating correction coef");
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    return true;
}

void FreeCorrectionCoefficients() {
    for (auto& g : CorrInfos().gain) g = {};
}

}  // namespace kovran::acquisition
