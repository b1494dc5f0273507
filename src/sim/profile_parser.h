// The simulator's profile file: one "[device]" section per simulated
// scanner, "key = value" lines, '#' or ';' starting a comment line. Numbers
// are decimal or 0x-hex; byte blocks are two-digit hex bytes separated by
// blanks ("00 82 0C 79"); flags are yes/no (also 1/0, on/off, true/false).
// Every key may appear once per section, except "fault" (one per line).
// Blocks shorter than their field are padded with zeros; longer ones, unknown
// keys, values out of range and text outside a section are refused with the
// line number. data/sim/example.profile lists every key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sim/device_profile.h"

namespace kovran::sim {

inline constexpr std::size_t kMaxProfileFileBytes = 1 << 20;
inline constexpr std::size_t kMaxProfileLineBytes = 4096;
inline constexpr std::size_t kMaxProfileDevices = 16;

// Parses a whole profile text. False with *error = "line <n>: <reason>" (or
// a reason without a line for faults of the whole file).
bool ParseProfiles(std::string_view text, std::vector<DeviceProfile>* devices, std::string* error);

// Reads and parses a profile file.
bool LoadProfileFile(const std::string& path, std::vector<DeviceProfile>* devices,
                     std::string* error);

}  // namespace kovran::sim
