// The device locks: one per scanner for endpoint 0, so that the control
// transfers of every process and library instance that talks to it never
// interleave, and one for the received-byte count of the acquisition on
// older firmware. Both are platform::ProcessLock files named after the
// device: the kernel drops a lock with the process that held it, so a host
// killed inside a transfer (SIGKILL, a crash, Ctrl-C during a scan) costs
// the next transfer nothing. Waits are bounded on the installable
// (monotonic) clock, and a wait that times out still lets the work go ahead.
//
// Permissions: the lock files are made 0666 in /dev/shm (see
// platform/process_lock.h). A 0660 file in the scanner group would need
// every creator to be a member of that group, which desktop sessions that
// reach the scanner through a logind ACL (uaccess) are not: their opens of
// a file made by another user would fail, and their transfers would run
// unlocked. The file holds nothing, and a stranger holding the lock can
// only delay a transfer by the bounded wait, never stop it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/device_record.h"
#include "platform/process_lock.h"

namespace kovran::device {

// "vid_%04x_pid_%04x_snLow_%d_EP0".
std::string Ep0SemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow);
// "vid_%04x_pid_%04x_snLow_%d_Acq".
std::string AcqSemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow);

// The device's endpoint-0 lock, opened when there is none yet or the
// device's identity changed. Null when it cannot be had (lock directory
// missing or read-only: "creating EP0Semaphore" is logged); transfers then
// go ahead unlocked.
std::shared_ptr<platform::ProcessLock> Ep0Semaphore(DeviceRecord& device);

// Forgets the device's endpoint-0 lock (device close). A transfer that
// holds it meanwhile keeps it until its end.
void CloseEp0Semaphore(DeviceRecord& device);

// The acquisition's lock of the received-byte count for this identity, in
// the device's lock directory; null (system error set) when it cannot be
// had.
std::unique_ptr<platform::ProcessLock> OpenAcqSemaphore(const DeviceRecord& device,
                                                        const DeviceIdentity& identity);

// Holds the endpoint-0 lock for one transfer when the bounded wait
// obtained it. `tag` ends the log lines ("AA" for the transfers on a
// caller's handle, "BB" for the others).
class Ep0Hold {
  public:
    Ep0Hold(std::shared_ptr<platform::ProcessLock> lock, unsigned timeoutMs, const char* tag);
    Ep0Hold(const Ep0Hold&) = delete;
    Ep0Hold& operator=(const Ep0Hold&) = delete;
    bool Held() const { return hold_.held(); }

  private:
    // Kept alive until the hold ends, whatever a close does to the record.
    std::shared_ptr<platform::ProcessLock> lock_;
    platform::ProcessLock::Hold hold_;
};

}  // namespace kovran::device
