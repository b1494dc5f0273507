// The one device of the instance.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kovran {

struct DeviceRecord {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint16_t firmware = 0;
    std::string serialNumber;
    std::uint32_t serialHigh = 0;
    std::uint32_t serialLow = 0;
    std::string path;
    // 0 none opened, positive open and usable, -1 reopen at the next check,
    // -2 failed (the next check turns it into -1).
    std::atomic<std::int8_t> state{0};
};

}  // namespace kovran
