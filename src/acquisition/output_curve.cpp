#include "acquisition/output_curve.h"

#include <algorithm>
#include <mutex>

#include "api/library.h"
#include "device/device_record.h"

namespace kovran::acquisition {
namespace {

constexpr int kSides = 3;

CurveTable Identity() {
    CurveTable t{};
    for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    return t;
}

struct CurveRecord {
    // The host's thread writes, the correction thread copies at its start.
    std::mutex mutex;
    std::array<std::int16_t, kSides> brightness{};
    std::array<std::int16_t, kSides> contrast{};
    std::array<CurveTable, kSides> tables{Identity(), Identity(), Identity()};
};

CurveRecord& Curves() {
    return lib().Get<CurveRecord>();
}

bool ValidSide(int side) {
    return side >= 0 && side < kSides;
}

// The other vendors' back-ends deliver finished images.
bool Alternative() {
    return device::Identity().alternative;
}

void Rebuild(CurveRecord& r, std::size_t s) {
    r.tables[s] = BuildCurve(r.brightness[s], r.contrast[s]);
}

}  // namespace

CurveTable BuildCurve(std::int16_t brightness, std::int16_t contrast) {
    CurveTable t{};
    for (int i = 0; i < 256; ++i) {
        // An arithmetic shift: the contrast term rounds towards minus infinity.
        const int v = i + brightness + ((contrast * (i - 128)) >> 7);
        t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
    }
    return t;
}

void SetCurveBrightness(int side, std::int16_t brightness) {
    if (!ValidSide(side)) return;
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.brightness[static_cast<std::size_t>(side)] = brightness;
    Rebuild(r, static_cast<std::size_t>(side));
}

void SetCurveContrast(int side, std::int16_t contrast) {
    if (!ValidSide(side)) return;
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.contrast[static_cast<std::size_t>(side)] = contrast;
    Rebuild(r, static_cast<std::size_t>(side));
}

std::int16_t CurveBrightness(int side) {
    if (!ValidSide(side) || Alternative()) return 0;
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    return r.brightness[static_cast<std::size_t>(side)];
}

std::int16_t CurveContrast(int side) {
    if (!ValidSide(side) || Alternative()) return 0;
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    return r.contrast[static_cast<std::size_t>(side)];
}

CurveTable CurveOf(int side) {
    if (!ValidSide(side) || Alternative()) return Identity();
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    return r.tables[static_cast<std::size_t>(side)];
}

std::uint8_t CurveValue(int side, std::uint8_t input) {
    return CurveOf(side)[input];
}

void ResetCurves() {
    CurveRecord& r = Curves();
    const std::lock_guard<std::mutex> lock(r.mutex);
    r.brightness = {};
    r.contrast = {};
    r.tables = {Identity(), Identity(), Identity()};
}

}  // namespace kovran::acquisition
