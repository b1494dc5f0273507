// The messages and names of the result codes, from the one list in the
// public header (KVX_RESULT_CODES).
#pragma once

#include <cstdint>
#include <string_view>

namespace kovran {

// The message of a code; "Unknown error." for codes without one.
std::string_view ErrorMessage(std::int32_t code);

// The header's name of a code ("KVX_ERR_INV_PARAMETER"); empty for codes
// the header does not list.
std::string_view ResultName(std::int32_t code);

// Copies the message of code into buffer by the Message rule of
// api/host_buffer.h: a length of 0 or less (taken as a signed 16-bit
// number) is a size query; returns the message length + 1, or -1 (last
// result -3) for a null or too small buffer, which is then left empty.
int ErrorText(std::int32_t code, char* buffer, int length);

}  // namespace kovran
