// The version texts handed to hosts.
#pragma once

#include <string>

namespace kovran {

// "SW Version 2.2.5.5 build ZKT, " followed by the PIDs accepted without a
// serial check, or by the identified device's firmware and PID.
std::string LibraryVersionString();
std::string DeviceVersionString();

// Copies a version text into a caller's buffer by the Version rule of
// api/host_buffer.h: a null buffer or a length of 0 or less is a size query
// (text length + 1); otherwise the text is logged, a too short buffer logs
// "size too short" and gives -1 (last result -3), else the buffer is
// cleared, the text copied, the last result set to 0 and its length returned.
int LibraryText(char* buffer, int length);
int DeviceText(char* buffer, int length);

}  // namespace kovran
