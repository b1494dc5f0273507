#include "device/device_list.h"

#include <cstdio>
#include <cstring>

#include "KovranMS.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "device/transport.h"

namespace kovran::device {

std::string DeviceListText() {
    std::string text;
    for (const FoundDevice& d : ListScanners()) {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04X\t%04X\t", d.vid, d.pid);
        text += ids + d.serial + "\t" + d.path + "\n";
    }
    return text;
}

int DeviceListInto(char* buf, int len) {
    const std::string text = DeviceListText();
    const int needed = static_cast<int>(text.size()) + 1;
    if (len <= 0) return needed;
    if (buf == nullptr) {
        LogPair("err - ", "device list buffer invalid");
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return -1;
    }
    if (len < needed) {
        buf[0] = '\0';
        LogPair("err - ", "device list buffer too small");
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return -1;
    }
    std::memcpy(buf, text.c_str(), static_cast<std::size_t>(needed));
    SetLastResult(KVX_OK);
    return needed;
}

}  // namespace kovran::device

KVX_API int KVXEnumerateDevices(char* buf, int len) {
    using namespace kovran;
    return RunExport<int>({.name = "KVXEnumerateDevices", .tag = "enumdev", .resultIsCode = false},
                          NoHandle, std::nullopt, -1,
                          [&] { return device::DeviceListInto(buf, len); });
}
