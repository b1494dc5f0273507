// Which USB backend the transport speaks through. The composition root
// installs the factory that chooses it; tests install a backend directly.
#pragma once

#include <memory>

#include "platform/usb_backend.h"

namespace kovran::device {

using UsbBackendFactory = std::unique_ptr<platform::UsbBackend> (*)();

// The backend in use, made by the installed factory on first use. Null when
// there is no factory or the chosen backend cannot start (then no device is
// ever found).
platform::UsbBackend* UsbBackendInUse();

// Puts a backend in place of the factory's choice (tests; null forgets the
// choice, so the next use chooses again).
void InstallUsbBackend(std::unique_ptr<platform::UsbBackend> backend);

void InstallUsbBackendFactory(UsbBackendFactory factory);

}  // namespace kovran::device
