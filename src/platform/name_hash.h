// The 64-bit FNV-1a hash that shortens names too long for the system (lock
// files, semaphores): the same name always gives the same hash, in every
// process and on every run.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovran::platform {

constexpr std::uint64_t Fnv1a64(std::string_view text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace kovran::platform
