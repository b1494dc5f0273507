// What the composition root installs for the printers: the device's seams
// (printer information at open, stop and switch off) and the scan's hooks.
#pragma once

#include "device/connection_seams.h"

namespace kovran::inkjet {

void AddInkjetSeams(device::ConnectionSeams& seams);
void InstallInkjet();

}  // namespace kovran::inkjet
