// The numbered run-time parameters: one table row per identifier with its
// accepted values, the setting it changes and the side effects. They live
// here, above the device layer, because they reach both the acquisition
// mode (parameter 1000) and the image state of a scan (the longest
// document, the requested resolutions, the feeder's acquisition thread).
#pragma once

#include <cstdint>
#include <optional>

#include "KovranMS.h"

namespace kovran::acquisition {

// Whether an unknown identifier is logged.
enum class Quiet : bool { No, Yes };

// Changes a parameter; returns the result, also left as the last result.
// `value` counts by its low 16 bits, taken as signed.
KVXResult SetParameter(std::int32_t id, std::int32_t value, Quiet quiet = Quiet::No);

// The parameter's value, or nothing when the identifier is not readable.
std::optional<std::uint16_t> ReadParameter(std::int32_t id);

}  // namespace kovran::acquisition
