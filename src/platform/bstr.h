// Automation strings with the OLE layout: a 32-bit byte count, the bytes,
// then a two-byte NUL. The BSTR points at the bytes.
#pragma once

#include <memory>
#include <string_view>

// BSTR and OLECHAR come from the public header; the build defines
// KOVRAN_BUILDING_LIBRARY for every library target, so the declarations
// there carry the export visibility.
#include "KovranMS.h"

namespace kovran::platform {

// The longest BSTR, in bytes, that can be allocated.
inline constexpr unsigned int kBstrMaxBytes = 0x7FFFFFF0u;

// Allocates a BSTR holding len bytes copied from text (zero bytes when text
// is null). Null (system error kErrorNotEnoughMemory) on allocation failure
// or a length over kBstrMaxBytes. Free it with FreeBstr (or the exported
// SysFreeString): the memory comes from std::malloc.
BSTR AllocBstrBytes(const char* text, unsigned int len);
void FreeBstr(BSTR b);
unsigned int BstrByteLen(BSTR b);
// The bytes of b (empty for null).
std::string_view BstrView(BSTR b);

struct BstrDeleter {
    void operator()(OLECHAR* b) const { FreeBstr(b); }
};
using UniqueBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

}  // namespace kovran::platform
