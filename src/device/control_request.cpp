#include "device/control_request.h"

namespace kovran::device {

std::optional<std::uint16_t> RegisterNumber(std::uint8_t cls, std::uint32_t subCode) {
    std::uint32_t reg = subCode;
    if (cls == kClassAcquisition)
        reg = (subCode & 0xFF) + 10;
    else if (cls == kClassStripe)
        reg = (subCode & 0xFF) + 50;
    if (reg > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(reg);
}

platform::UsbSetup RegisterSetup(platform::Direction direction, std::uint16_t reg,
                                 std::uint16_t length) {
    platform::UsbSetup s;
    s.requestType = direction == platform::Direction::In ? 0xC0 : 0x40;
    s.request = length > 1 ? 0x04 : 0x0C;
    s.value = reg;
    s.index = 0;
    s.length = length;
    return s;
}

platform::UsbSetup CommandRequestSetup(std::uint8_t cls, std::uint32_t subCode,
                                       std::uint16_t length) {
    platform::UsbSetup s;
    s.requestType = 0xC0;
    s.request = cls;
    s.value = static_cast<std::uint16_t>(subCode & 0xFF);
    s.index = 0;
    s.length = length;
    return s;
}

}  // namespace kovran::device
