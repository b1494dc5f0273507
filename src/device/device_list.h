// The list of scanners present, as text for hosts (kvxscan --list).
#pragma once

#include <string>

namespace kovran::device {

// One line per scanner: "VID\tPID\tserial\tpath\n", VID and PID in four hex
// digits.
std::string DeviceListText();

// Copies the list with its NUL into buf and returns the length + 1; with
// len 0 or less only returns that size. A null or too small buffer gives -1
// and the last result -3 (a too small one then holds an empty text).
int DeviceListInto(char* buf, int len);

}  // namespace kovran::device
