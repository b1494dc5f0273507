// The configuration directory: where the library writes its files and keeps
// per-device data.
#pragma once

#include <string>

namespace kovran {

inline constexpr std::size_t kConfigDirMax = 259;

struct ConfigState {
    std::string dir;        // the configuration directory (<= 259 characters)
    bool valid = false;
    std::string loadTimeDir;  // as established at load; "restore" returns here
};

}  // namespace kovran
