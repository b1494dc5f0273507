// The per-side output curve: brightness and contrast folded into one
// 256-entry table per side (rear, front, backlight). The settings last
// across scans until changed; the correction takes a copy of the tables at
// the start of each acquisition, so a change during a scan never tears a
// table under the correction thread.
#pragma once

#include <array>
#include <cstdint>

namespace kovran::acquisition {

using CurveTable = std::array<std::uint8_t, 256>;

// Entry i = clamp(i + brightness + (contrast * (i - 128) >> 7), 0, 255).
CurveTable BuildCurve(std::int16_t brightness, std::int16_t contrast);

// Settings of a side (0 rear, 1 front, 2 backlight); the table is rebuilt.
// Values are taken as they are: the exports check the range.
void SetCurveBrightness(int side, std::int16_t brightness);
void SetCurveContrast(int side, std::int16_t contrast);

// Queries; with an alternative back-end the curve is the identity and the
// settings read 0. A side outside 0..2 reads as the identity.
std::int16_t CurveBrightness(int side);
std::int16_t CurveContrast(int side);
std::uint8_t CurveValue(int side, std::uint8_t input);
CurveTable CurveOf(int side);

// Back to brightness 0 and contrast 0 on every side.
void ResetCurves();

}  // namespace kovran::acquisition
