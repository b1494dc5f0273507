#include <cstdio>

#include "platform/usb_backend.h"

namespace kovran::platform {

std::string UsbInterfacePath(std::uint16_t vid, std::uint16_t pid, std::string_view location) {
    char head[32];
    std::snprintf(head, sizeof head, "\\\\?\\USB#VID_%04X&PID_%04X#", vid, pid);
    std::string path = head;
    path += location;
    path += "#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
    return path;
}

}  // namespace kovran::platform
