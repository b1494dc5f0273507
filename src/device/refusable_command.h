// Commands that some firmware does not know. A device that refuses one
// (the request stalls) has answered: it is not lost, and the transfers
// after it must not find it marked failed.
#pragma once

#include <cstdint>

#include "device/transport.h"

namespace kovran::device {

// ControlMsg; when the device was usable before and the transfer was
// refused (neither "not found" nor "not ready"), the device stays usable.
int ControlMsgMayRefuse(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                        unsigned length, Direction direction);

}  // namespace kovran::device
