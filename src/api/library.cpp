#include "api/library.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <type_traits>

namespace kovran {
namespace {

// Storage for the one instance. The object is built on first use and never
// destroyed by the runtime: the unload steps run from the library's
// destructor function, and must find the state intact whatever order the
// loader finalises things in.
alignas(Library) unsigned char g_storage[sizeof(Library)];

Library& Build() {
    ::new (static_cast<void*>(g_storage)) Library();

    return *std::launder(reinterpret_cast<Library*>(g_storage));
}

}  // namespace

Library& lib() {
    static Library& instance = Build();
    return instance;
}

void releaseLibraryAtUnload() {
    std::array<char, 1024> path{};
    const std::string current = lib().log.on ? lib().log.filePath : std::string();
    if (current.size() < path.size()) std::copy(current.begin(), current.end(), path.begin());
    const bool stamp = lib().log.timeStamp;
    resetLibraryForTests();
    Library& fresh = lib();
    fresh.frame.detaching.store(true);
    fresh.log.unloadPath = path;
    fresh.log.unloadTimeStamp = stamp;
}

void resetLibraryForTests() {
    Library& current = lib();
    current.~Library();
    ::new (static_cast<void*>(&current)) Library();
}

}  // namespace kovran
