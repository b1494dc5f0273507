#include "api/names.h"

#include "api/library.h"
#include "platform/module_info.h"

namespace kovran {

RuntimeNames& Names() {
    return lib().Get<RuntimeNames>();
}
namespace {

std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

}  // namespace

RuntimeNames NamesFromPaths(const std::string& modulePath, const std::string& hostPath) {
    RuntimeNames n;
    n.modulePath = modulePath;
    const std::size_t sep = LastSeparator(modulePath);
    n.libraryDir = sep == std::string::npos ? std::string("./") : modulePath.substr(0, sep + 1);

    n.hostPath = hostPath.empty() ? std::string("unknown") : hostPath;
    if (hostPath.empty()) {
        n.hostBaseName = "unknown";
    } else {
        const std::size_t hs = LastSeparator(hostPath);
        std::string file = hs == std::string::npos ? hostPath : hostPath.substr(hs + 1);
        // A Windows host keeps its name without ".exe"; a Linux host has no
        // extension and keeps its whole file name.
        if (const std::size_t exe = file.find(".exe"); exe != std::string::npos) file.resize(exe);
        n.hostBaseName = file.empty() ? std::string("unknown") : file;
    }

    // The ini file lives beside the library, whatever the library file is
    // called; without a known location it is looked for by its bare name.
    n.iniPath =
        modulePath.empty() ? std::string(kLibraryBaseName) + ".ini" : n.libraryDir + "KOVRANMS.ini";
    return n;
}

void DiscoverNames() {
    Names() = NamesFromPaths(platform::ModulePath(), platform::HostExecutablePath());
}

}  // namespace kovran
