// The position record of one returned character: twelve 16-bit values. Value
// 1 is the character's left edge, 2 its right edge, 3 its top and 4 its
// bottom, in pixels of the zone image; values 0 and 5 to 11 belong to the
// reader that filled the record.
#pragma once

#include <array>
#include <cstdint>

namespace kovran::decoders {

struct CharBox {
    std::array<std::uint16_t, 12> values{};

    std::uint16_t Left() const { return values[1]; }
    std::uint16_t Right() const { return values[2]; }
    std::uint16_t Top() const { return values[3]; }
    std::uint16_t Bottom() const { return values[4]; }
    bool operator==(const CharBox&) const = default;
};

}  // namespace kovran::decoders
