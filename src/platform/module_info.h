// Where the library and its host live.
#pragma once

#include <string>

namespace kovran::platform {

// Full path of the file this code was loaded from (the shared library, or
// the executable when linked statically); empty when unknown.
std::string ModulePath();
// Full path of the host process's executable; empty when unknown.
std::string HostExecutablePath();

}  // namespace kovran::platform
