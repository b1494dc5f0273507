// Storing a text into a host's BSTR out argument, with the library's rules:
// a null target or text fails with -3; a negative length stores an empty
// string; an allocation failure sets -4; otherwise the old string is freed
// and the new one stored.
#pragma once

#include <string_view>

#include "platform/bstr.h"

namespace kovran {

// Stores len bytes of text into *target. Returns 0 or the error it set as
// the last result (-3, -4).
int StoreBstr(BSTR* target, const char* text, int len);
inline int StoreBstr(BSTR* target, std::string_view text) {
    return StoreBstr(target, text.data() ? text.data() : "", static_cast<int>(text.size()));
}

}  // namespace kovran
