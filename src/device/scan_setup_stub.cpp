// Placeholder until the mode set-up and the image records exist: the open
// runs its geometry steps as no-ops.
#include "device/scan_setup.h"

namespace kovran::device {

void PrepareScanDefaults() {}
bool SelectDefaultAcqMode() {
    return true;
}
void CheckDefaultColour() {}
void FreeImageBuffers() {}

}  // namespace kovran::device
