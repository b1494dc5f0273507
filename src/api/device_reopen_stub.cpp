// Until the transport provides the reopen, a lost device stays lost.
#include "device/transport.h"

namespace kovran::device {
bool ReopenDevice() { return false; }
}  // namespace kovran::device
