// The shared library's load and unload: the process attach and detach of the
// library.
#include "api/lifecycle.h"
#include "root/composition.h"

namespace {

__attribute__((constructor)) void KovranLibraryLoad() {
    try {
        kovran::root::InstallComposition();
        kovran::ProcessAttach();
    } catch (...) {
        // A library that cannot start its services still loads; every call
        // then reports through its result.
    }
}

__attribute__((destructor)) void KovranLibraryUnload() {
    try {
        kovran::ProcessDetach();
    } catch (...) {
    }
}

}  // namespace
