#include "device/serial_number.h"

#include "platform/usb_vendors.h"

namespace kovran::device {

namespace {

constexpr std::size_t kLongSerial = 16;
constexpr std::size_t kKeptOfLong = 15;
constexpr std::size_t kLowDigits = 8;

std::int32_t Value(std::string_view digits, bool mainVendor) {
    // At most 8 characters reach here, so the value fits in 32 bits.
    std::int32_t v = 0;
    for (char c : digits) {
        const bool digit = c >= '0' && c <= '9';
        if (!digit && !mainVendor) break;
        v = v * 10 + (digit ? c - '0' : 0);
    }
    return v;
}

}  // namespace

SerialNumbers ParseSerialNumbers(std::string_view serial, std::uint16_t vid) {
    const bool mainVendor = vid == platform::kMainVendor;
    if (serial.size() >= kLongSerial) serial = serial.substr(serial.size() - kKeptOfLong);
    SerialNumbers n;
    if (serial.size() <= kLowDigits) {
        n.low = Value(serial, mainVendor);
        return n;
    }
    const std::size_t split = serial.size() - kLowDigits;
    n.high = Value(serial.substr(0, split), mainVendor);
    n.low = Value(serial.substr(split), mainVendor);
    return n;
}

std::string SerialFromDescriptor(const std::uint8_t* data, std::size_t received) {
    std::string text;
    if (data == nullptr || received < 2) return text;
    const std::size_t declared = data[0];
    const std::size_t usable = declared < received ? declared : received;
    if (usable < 2) return text;
    const std::size_t count = (usable - 2) / 2;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned unit = data[2 + 2 * i] | (unsigned{data[3 + 2 * i]} << 8);
        if (unit == 0) break;
        text.push_back(unit <= 0xFF ? static_cast<char>(unit) : '?');
    }
    return text;
}

}  // namespace kovran::device
