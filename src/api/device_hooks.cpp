#include "api/device_hooks.h"

#include <atomic>

namespace kovran {
namespace {

// Installed once at load, before any export can run; atomics so that a test
// installing its own never races a worker thread's read.
std::atomic<bool (*)()> g_reopen{nullptr};
std::atomic<DeviceSummary (*)()> g_summary{nullptr};
std::atomic<void (*)()> g_closeAtUnload{nullptr};
std::atomic<void (*)()> g_logIdentityLine{nullptr};

}  // namespace

void InstallDeviceHooks(const DeviceHooks& hooks) {
    g_reopen.store(hooks.reopen);
    g_summary.store(hooks.summary);
    g_closeAtUnload.store(hooks.closeAtUnload);
    g_logIdentityLine.store(hooks.logIdentityLine);
}

bool ReopenDeviceThroughHook() {
    auto* reopen = g_reopen.load();
    return reopen != nullptr && reopen();
}

DeviceSummary CurrentDeviceSummary() {
    auto* summary = g_summary.load();
    return summary != nullptr ? summary() : DeviceSummary{};
}

void CloseDeviceAtUnloadThroughHook() {
    if (auto* close = g_closeAtUnload.load()) close();
}

void LogDeviceIdentityLineThroughHook() {
    if (auto* line = g_logIdentityLine.load()) line();
}

}  // namespace kovran
