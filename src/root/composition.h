// The composition root: the one place that knows every layer. It chooses
// the USB backend and connects the runtime services to the device layer
// above them.
#pragma once

#include <memory>

#include "platform/usb_backend.h"

namespace kovran::root {

// Installs the device hooks of the frame and the backend factory of the
// transport. The shared library's load runs it before anything else; tests
// that need a reopen through the guard run it too.
void InstallComposition();

// A new backend as KOVRAN_USB and KOVRAN_SIM say: "libusb" (the default,
// real scanners) or "sim" (the simulator, set up by the profile file named
// in KOVRAN_SIM, or one default device without it). The simulator is never
// a silent fallback: a production host must not scan invented documents.
std::unique_ptr<platform::UsbBackend> MakeUsbBackendFromEnvironment();

}  // namespace kovran::root
