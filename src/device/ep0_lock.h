// The endpoint-0 lock: a named semaphore per device, shared by every process
// and library instance that talks to the same scanner, so that their control
// transfers never interleave. Its waits are bounded: a semaphore left taken
// by a crashed process delays transfers but never stops them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/device_record.h"

namespace kovran::device {

// "vid_%04x_pid_%04x_snLow_%d_EP0".
std::string Ep0SemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow);

// The device's semaphore, opened (or created with count 1) when there is
// none yet or the device's identity changed. Null when it cannot be had
// ("creating EP0Semaphore" is logged); transfers then go ahead unlocked.
std::shared_ptr<platform::NamedSemaphore> Ep0Semaphore(DeviceRecord& device);

// Closes the device's semaphore handle (device close). The count is left
// alone: this library never keeps the semaphore past one transfer, and an
// extra release would let two transfers in at once.
void CloseEp0Semaphore(DeviceRecord& device);

// Holds the semaphore for one transfer when the bounded wait obtained it.
// `tag` ends the log lines ("AA" for the transfers on a caller's handle,
// "BB" for the others).
class Ep0Hold {
  public:
    Ep0Hold(std::shared_ptr<platform::NamedSemaphore> sem, unsigned timeoutMs, const char* tag);
    ~Ep0Hold();
    Ep0Hold(const Ep0Hold&) = delete;
    Ep0Hold& operator=(const Ep0Hold&) = delete;
    bool Held() const { return held_; }

  private:
    std::shared_ptr<platform::NamedSemaphore> sem_;
    bool held_ = false;
};

}  // namespace kovran::device
