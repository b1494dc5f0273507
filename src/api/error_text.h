// The messages of the result codes.
#pragma once

#include <cstdint>
#include <string_view>

namespace kovran {

// The message of a code; "Unknown error." for codes without one.
std::string_view ErrorMessage(std::int32_t code);

// Copies the message of code into buffer. A length of 0 or less (taken as a
// signed 16-bit number) is a size query. Returns the message length + 1, or
// -1 (last result -3) for a null or too small buffer; a too small buffer is
// left holding an empty string.
int ErrorText(std::int32_t code, char* buffer, int length);

}  // namespace kovran
