#include "root/composition.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "acquisition/correction.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/device_hooks.h"
#include "api/log.h"
#include "decoders/stripe/stripe_reader.h"
#include "device/connection.h"
#include "device/connection_seams.h"
#include "device/device_record.h"
#include "device/transport.h"
#include "device/usb_selection.h"
#include "imaging/deskew.h"
#include "imaging/output/debug_image.h"
#include "inkjet/install.h"
#include "platform/usb_libusb.h"
#include "sim/sim_backend.h"

namespace kovran::root {
namespace {

DeviceSummary Summary() {
    const DeviceIdentity id = device::Identity();
    return {.pid = id.pid, .firmware = id.firmware, .serialLow = id.serialLow};
}

}  // namespace

void InstallComposition() {
    InstallDeviceHooks({.reopen = &device::ReopenDevice,
                        .summary = &Summary,
                        .closeAtUnload = &device::CloseAtUnload,
                        .logIdentityLine = &device::LogIdentityLine});
    device::InstallUsbBackendFactory(&MakeUsbBackendFromEnvironment);
    InstallImageHooks(acquisition::MakeImageHooks());
    device::ConnectionSeams seams;
    acquisition::AddScanSeams(seams);
    seams.switchStripeReader = &decoders::stripe::SwitchReaderAtInitialise;
    inkjet::AddInkjetSeams(seams);
    device::InstallConnectionSeams(seams);
    acquisition::InstallPostProcessHooks(imaging::MakePostProcessHooks());
    acquisition::InstallGlitchImageWriter(&imaging::output::WriteGlitchImage);
    inkjet::InstallInkjet();
}

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

}  // namespace kovran::root
