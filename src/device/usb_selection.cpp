#include "device/usb_selection.h"

#include <cstdlib>
#include <cstring>

#include "api/library.h"
#include "api/log.h"
#include "platform/usb_libusb.h"
#include "sim/sim_backend.h"

namespace kovran::device {

std::unique_ptr<platform::UsbBackend> MakeUsbBackendFromEnvironment() {
    const char* choice = std::getenv("KOVRAN_USB");
    if (choice == nullptr || *choice == '\0' || std::strcmp(choice, "libusb") == 0) {
        auto backend = platform::MakeLibusbBackend();
        if (!backend) LogPair("err - ", "USB backend libusb not available");
        return backend;
    }
    if (std::strcmp(choice, "sim") == 0) {
        const char* profile = std::getenv("KOVRAN_SIM");
        if (profile != nullptr && *profile == '\0') profile = nullptr;
        LogPair("war - ", "USB backend sim: simulated scanner, no real device");
        auto backend = sim::MakeSimBackendFromEnv(profile);
        if (!backend) LogPair("err - ", "USB backend sim: profile not usable");
        return backend;
    }
    LogPair("err - ", (std::string("unknown USB backend KOVRAN_USB=") + choice).c_str());
    return nullptr;
}

platform::UsbBackend* UsbBackendInUse() {
    UsbTransportState& usb = lib().device.usb;
    if (!usb.backendChosen) {
        usb.backend = MakeUsbBackendFromEnvironment();
        usb.backendChosen = true;
    }
    return usb.backend.get();
}

void InstallUsbBackend(std::unique_ptr<platform::UsbBackend> backend) {
    UsbTransportState& usb = lib().device.usb;
    usb.backendChosen = backend != nullptr;
    usb.backend = std::move(backend);
}

}  // namespace kovran::device
