#include "device/usb_selection.h"

#include <atomic>

#include "device/device_record.h"

namespace kovran::device {
namespace {

std::atomic<UsbBackendFactory> g_factory{nullptr};

}  // namespace

void InstallUsbBackendFactory(UsbBackendFactory factory) {
    g_factory.store(factory);
}

platform::UsbBackend* UsbBackendInUse() {
    UsbTransportState& usb = Device().usb;
    std::lock_guard<std::mutex> lock(usb.mutex);
    if (!usb.backendChosen) {
        const UsbBackendFactory factory = g_factory.load();
        usb.backend = factory != nullptr ? factory() : nullptr;
        usb.backendChosen = true;
    }
    return usb.backend.get();
}

void InstallUsbBackend(std::unique_ptr<platform::UsbBackend> backend) {
    UsbTransportState& usb = Device().usb;
    std::lock_guard<std::mutex> lock(usb.mutex);
    usb.backendChosen = backend != nullptr;
    usb.backend = std::move(backend);
}

}  // namespace kovran::device
