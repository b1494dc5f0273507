// Which USB backend the transport speaks through. KOVRAN_USB chooses it:
// "libusb" (the default, real scanners) or "sim" (the simulator, set up by
// the profile file named in KOVRAN_SIM, or one default device without it).
// The simulator is never a silent fallback: a production host must not scan
// invented documents.
#pragma once

#include <memory>

#include "platform/usb_backend.h"

namespace kovran::device {

// The backend in use, chosen from the environment on first use. Null when
// the chosen one cannot start (then no device is ever found).
platform::UsbBackend* UsbBackendInUse();

// Puts a backend in place of the environment's choice (tests; null forgets
// the choice, so the next use chooses again).
void InstallUsbBackend(std::unique_ptr<platform::UsbBackend> backend);

// A new backend as KOVRAN_USB and KOVRAN_SIM say.
std::unique_ptr<platform::UsbBackend> MakeUsbBackendFromEnvironment();

}  // namespace kovran::device
