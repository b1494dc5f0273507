#include "api/version_text.h"
#include "api/frame_state.h"
#include "api/names.h"

#include <cstdio>
#include <cstring>

#include "KovranMS.h"
#include "api/device_hooks.h"
#include "api/host_buffer.h"
#include "api/library.h"
#include "api/log.h"

namespace kovran {
namespace {

constexpr std::size_t kTextLimit = 1024;
// Product IDs of the main vendor opened without a serial number check.
constexpr int kOpenPids[] = {3, 4, 5, 8, 9, 14};

std::string VersionPart() {
    return std::string("SW Version ") + kLibraryVersion + " build " + kBuildTag + ", ";
}

}  // namespace

std::string LibraryVersionString() {
    std::string text = VersionPart();
    for (int pid = 1; pid <= 99; ++pid) {
        bool open = false;
        for (int p : kOpenPids) open = open || p == pid;
        if (!open) continue;
        char item[16];
        std::snprintf(item, sizeof item, "PID_%04x, ", pid);
        if (text.size() + std::strlen(item) >= kTextLimit) {
            LogPair("err - ", "KVXVersion with invalid string size");
            LogText(text.c_str());
            SetLastResult(KVX_ERR_GENERIC);
            continue;
        }
        text += item;
    }
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ", ") == 0)
        text.resize(text.size() - 2);
    return text;
}

std::string DeviceVersionString() {
    std::string text = VersionPart();
    const DeviceSummary dev = CurrentDeviceSummary();
    if (dev.pid != 0) {
        char item[40];
        std::snprintf(item, sizeof item, "FW 0x%x, PID_%04x", dev.firmware, dev.pid);
        LogText(item);
        text += item;
    }
    return text;
}

int LibraryText(char* buffer, int length) {
    return CopyToHost(LibraryVersionString(), {buffer, length}, HostBufferRule::Version);
}

int DeviceText(char* buffer, int length) {
    return CopyToHost(DeviceVersionString(), {buffer, length}, HostBufferRule::Version);
}

}  // namespace kovran
