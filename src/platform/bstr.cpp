#include "platform/bstr.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

constexpr std::size_t kPrefixBytes = sizeof(std::uint32_t);
constexpr std::size_t kTerminatorBytes = 2;

unsigned char* BlockOf(BSTR b) {
    return reinterpret_cast<unsigned char*>(b) - kPrefixBytes;
}

}  // namespace

BSTR AllocBstrBytes(const char* text, unsigned int len) {
    if (len > kBstrMaxBytes) {
        SetLastSystemError(kErrorNotEnoughMemory);
        return nullptr;
    }
    // Hosts release these through SysFreeString, which can only call free:
    // the block must come from malloc, not from new.
    auto* block = static_cast<unsigned char*>(
        std::malloc(kPrefixBytes + std::size_t{len} + kTerminatorBytes));
    if (block == nullptr) {
        SetLastSystemError(kErrorNotEnoughMemory);
        return nullptr;
    }
    const std::uint32_t prefix = len;
    std::memcpy(block, &prefix, kPrefixBytes);
    unsigned char* bytes = block + kPrefixBytes;
    if (text != nullptr) {
        if (len > 0) std::memcpy(bytes, text, len);
    } else {
        std::memset(bytes, 0, len);
    }
    bytes[len] = 0;
    bytes[len + 1] = 0;
    return reinterpret_cast<BSTR>(bytes);
}

void FreeBstr(BSTR b) {
    if (b != nullptr) std::free(BlockOf(b));
}

unsigned int BstrByteLen(BSTR b) {
    if (b == nullptr) return 0;
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, BlockOf(b), kPrefixBytes);
    return prefix;
}

std::string_view BstrView(BSTR b) {
    if (b == nullptr) return {};
    return {reinterpret_cast<const char*>(b), BstrByteLen(b)};
}

}  // namespace kovran::platform
