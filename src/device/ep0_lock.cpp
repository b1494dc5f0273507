#include "device/ep0_lock.h"

#include <cstdio>
#include <utility>

#include "api/log.h"
#include "platform/sys_error.h"

namespace kovran::device {

namespace {

std::string DeviceLockName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow,
                           const char* what) {
    char name[64];
    std::snprintf(name, sizeof name, "vid_%04x_pid_%04x_snLow_%d_%s", vid, pid, serialLow, what);
    return name;
}

}  // namespace

std::string Ep0SemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow) {
    return DeviceLockName(vid, pid, serialLow, "EP0");
}

std::string AcqSemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow) {
    return DeviceLockName(vid, pid, serialLow, "Acq");
}

std::shared_ptr<platform::ProcessLock> Ep0Semaphore(DeviceRecord& device) {
    const std::shared_ptr<const DeviceIdentity> id = device.identity.Load();
    const std::string name = Ep0SemaphoreName(id->vid, id->pid, id->serialLow);
    std::shared_ptr<platform::ProcessLock> lock = device.ep0Semaphore.Load();
    if (lock && lock->name() == name) return lock;
    // Two threads may both get here; each then has its own object on the
    // one lock file, which locks the same.
    lock = platform::ProcessLock::Open(name, device.lockDirectory);
    if (!lock) LogPairValue("err - ", "creating EP0Semaphore", platform::LastSystemError());
    device.ep0Semaphore.Store(lock);
    return lock;
}

void CloseEp0Semaphore(DeviceRecord& device) {
    device.ep0Semaphore.Store(nullptr);
}

std::unique_ptr<platform::ProcessLock> OpenAcqSemaphore(const DeviceRecord& device,
                                                        const DeviceIdentity& identity) {
    return platform::ProcessLock::Open(
        AcqSemaphoreName(identity.vid, identity.pid, identity.serialLow), device.lockDirectory);
}

Ep0Hold::Ep0Hold(std::shared_ptr<platform::ProcessLock> lock, unsigned timeoutMs, const char* tag)
    : lock_(std::move(lock)) {
    if (lock_ == nullptr) return;
    hold_ = lock_->Acquire(timeoutMs);
    if (hold_.held()) return;
    const int err = platform::LastSystemError();
    const std::string which = std::string("waiting EP0Sem (") + tag + ")";
    if (err == platform::kErrorTimeout)
        LogText("timeout " + which);
    else
        LogValue(which.c_str(), err);
}

}  // namespace kovran::device
