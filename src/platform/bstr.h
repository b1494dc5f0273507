// Automation strings with the OLE layout: a 32-bit byte count, the bytes,
// then a two-byte NUL. The BSTR points at the bytes.
#pragma once

#include <memory>
#include <string_view>

#define KOVRAN_BUILDING_LIBRARY 1
#include "KovranMS.h"

namespace kovran::platform {

// Allocates a BSTR holding len bytes copied from text (zero bytes when text
// is null). Null on allocation failure or a length over the 32-bit limit.
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
