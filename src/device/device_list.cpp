#include "device/device_list.h"

#include <cstdio>

#include "KovranMS.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/host_buffer.h"
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
    return CopyToHost(DeviceListText(), {buf, len}, HostBufferRule::DeviceList);
}

}  // namespace kovran::device

KVX_API int KVXEnumerateDevices(char* buf, int len) {
    using namespace kovran;
    return RunExport({.name = "KVXEnumerateDevices", .tag = "enumdev", .returns = Returns::Value},
                     [&] { return device::DeviceListInto(buf, len); });
}
