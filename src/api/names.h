// Names the library discovers about itself at load.
#pragma once

#include <string>

namespace kovran {

inline constexpr const char* kLibraryBaseName = "KovranMS";
inline constexpr const char* kLibraryVersion = "2.2.5.5";
inline constexpr const char* kBuildTag = "ZKT";
inline constexpr const char* kWordSizeText = " 32 bit";

struct RuntimeNames {
    std::string modulePath;    // full path of the loaded library
    std::string libraryDir;    // modulePath up to and with its last separator
    std::string hostPath;      // full path of the host executable, or "unknown"
    std::string hostBaseName;  // host file name without ".exe"
    std::string iniPath;       // KOVRANMS.ini beside the library
};

RuntimeNames& Names();

// Fills Names() from the platform (module path, host executable).
void DiscoverNames();
// Derives the names from given paths (the rules of the discovery, testable).
RuntimeNames NamesFromPaths(const std::string& modulePath, const std::string& hostPath);

}  // namespace kovran
