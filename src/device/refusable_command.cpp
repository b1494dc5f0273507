#include "device/refusable_command.h"

#include "KovranMS.h"
#include "api/frame_state.h"

namespace kovran::device {

int ControlMsgMayRefuse(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                        unsigned length, Direction direction) {
    const bool usableBefore = Frame().deviceState.load() == DeviceState::Open;
    const int got = ControlMsg(cls, subCode, buffer, length, direction);
    if (got < 0 && usableBefore && LastResult() == KVX_ERR_GENERIC) {
        DeviceState failed = DeviceState::Failed;
        Frame().deviceState.compare_exchange_strong(failed, DeviceState::Open);
    }
    return got;
}

}  // namespace kovran::device
