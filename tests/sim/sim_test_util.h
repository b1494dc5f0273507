// Small helpers for driving a simulated scanner the way the transport does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/usb_backend.h"
#include "sim/command_table.h"

namespace kovran::sim::simio {

struct Reply {
    int error = -1;
    std::size_t transferred = 0;
    std::vector<std::uint8_t> bytes;  // the buffer, as long as asked
};

inline Reply Read(platform::UsbDevice& dev, std::uint16_t fw, std::uint8_t cls, std::uint8_t sub,
                  std::uint16_t length, unsigned timeoutMs = 10000) {
    Reply r;
    r.bytes.assign(length, 0xEE);
    platform::UsbSetup setup = EncodeCommand(fw, cls, sub, platform::Direction::In, length);
    r.error = dev.Control(setup, r.bytes.data(), &r.transferred, timeoutMs);
    return r;
}

inline int Write(platform::UsbDevice& dev, std::uint16_t fw, std::uint8_t cls, std::uint8_t sub,
                 std::vector<std::uint8_t> data, std::size_t* transferred = nullptr) {
    std::size_t scratch = 0;
    platform::UsbSetup setup = EncodeCommand(fw, cls, sub, platform::Direction::Out,
                                             static_cast<std::uint16_t>(data.size()));
    return dev.Control(setup, data.data(), transferred ? transferred : &scratch, 10000);
}

// A command without data, sent as the transport does on firmware above
// 0x2006: a read of one scratch byte.
inline int Command(platform::UsbDevice& dev, std::uint16_t fw, std::uint8_t cls, std::uint8_t sub) {
    std::uint8_t scratch = 0;
    std::size_t n = 0;
    std::uint16_t len = FirmwareVersion(fw) > 0x2006 ? 1 : 0;
    return dev.Control(EncodeCommand(fw, cls, sub, platform::Direction::In, len), &scratch, &n,
                       10000);
}

inline int Raw(platform::UsbDevice& dev, std::uint8_t type, std::uint8_t request,
               std::uint16_t value, std::uint16_t index, std::uint16_t length,
               std::vector<std::uint8_t>* out = nullptr) {
    std::vector<std::uint8_t> buf(length, 0);
    std::size_t n = 0;
    platform::UsbSetup s{type, request, value, index, length};
    int e = dev.Control(s, buf.data(), &n, 10000);
    if (out) {
        buf.resize(std::min(n, buf.size()));
        *out = buf;
    }
    return e;
}

}  // namespace kovran::sim::simio
