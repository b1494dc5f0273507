// UTF-8 decoding for texts that come from files (profiles, descriptions).
#pragma once

#include <string>
#include <string_view>

namespace kovran::platform {

// Code points of text. A broken sequence (bad lead or continuation byte,
// truncation, surrogate, beyond U+10FFFF) becomes one U+FFFD for its first
// byte and clears *valid.
std::u32string DecodeUtf8(std::string_view text, bool* valid = nullptr);

}  // namespace kovran::platform
