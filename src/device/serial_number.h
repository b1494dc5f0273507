// The scanner's serial number: the text of its string descriptor, and the
// two numbers derived from it that name the device's semaphores and files
// and make its handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kovran::device {

struct SerialNumbers {
    std::int32_t high = 0;
    std::int32_t low = 0;
};

// Of a text of 16 characters or more only the last 15 count. Up to 8
// characters: high 0, low the value of all; longer: low the value of the
// last 8, high the value of the ones before. On the main vendor every
// non-digit counts as '0'; on others the value stops at the first non-digit.
SerialNumbers ParseSerialNumbers(std::string_view serial, std::uint16_t vid);

// The text of a USB string descriptor (length byte, type byte, UTF-16LE
// units) of which `received` bytes arrived: (length - 2) / 2 characters, no
// more than arrived, up to the first NUL; characters outside the code page
// become '?'.
std::string SerialFromDescriptor(const std::uint8_t* data, std::size_t received);

}  // namespace kovran::device
