#include "device/ep0_lock.h"

#include <cstdio>
#include <utility>

#include "api/log.h"
#include "platform/sys_error.h"

namespace kovran::device {

std::string Ep0SemaphoreName(std::uint16_t vid, std::uint16_t pid, std::int32_t serialLow) {
    char name[64];
    std::snprintf(name, sizeof name, "vid_%04x_pid_%04x_snLow_%d_EP0", vid, pid, serialLow);
    return name;
}

std::shared_ptr<platform::NamedSemaphore> Ep0Semaphore(DeviceRecord& device) {
    const std::shared_ptr<const DeviceIdentity> id = device.identity.Load();
    const std::string name = Ep0SemaphoreName(id->vid, id->pid, id->serialLow);
    std::shared_ptr<platform::NamedSemaphore> sem = device.ep0Semaphore.Load();
    if (sem && sem->name() == name) return sem;
    // Two threads may both get here; each then holds its own handle on the
    // one system semaphore, which locks the same.
    sem = platform::NamedSemaphore::Open(name, 1);
    if (!sem) LogPairValue("err - ", "creating EP0Semaphore", platform::LastSystemError());
    device.ep0Semaphore.Store(sem);
    return sem;
}

void CloseEp0Semaphore(DeviceRecord& device) {
    device.ep0Semaphore.Store(nullptr);
}

Ep0Hold::Ep0Hold(std::shared_ptr<platform::NamedSemaphore> sem, unsigned timeoutMs, const char* tag)
    : sem_(std::move(sem)) {
    if (sem_ == nullptr) return;
    held_ = sem_->Wait(timeoutMs);
    if (held_) return;
    const int err = platform::LastSystemError();
    const std::string which = std::string("waiting EP0Sem (") + tag + ")";
    if (err == platform::kErrorTimeout)
        LogText("timeout " + which);
    else
        LogValue(which.c_str(), err);
}

Ep0Hold::~Ep0Hold() {
    if (held_) sem_->Release();
}

}  // namespace kovran::device
