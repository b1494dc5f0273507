#include "device/refusable_command.h"

namespace kovran::device {

int ControlMsgMayRefuse(std::uint8_t cls, std::uint32_t subCode, std::uint8_t* buffer,
                        unsigned length, Direction direction) {
    // Deciding afterwards from the last result would read what another
    // thread's export left there, and would put back a state that another
    // thread had meanwhile seen failed.
    return ControlMsgKeepingStateOnRefusal(cls, subCode, buffer, length, direction);
}

}  // namespace kovran::device
