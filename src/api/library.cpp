#include "api/library.h"

#include <new>
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

void resetLibraryForTests() {
    Library& current = lib();
    current.~Library();
    ::new (static_cast<void*>(&current)) Library();
}

}  // namespace kovran
