#include "api/error_text.h"

#include <array>
#include <cstddef>

#include "KovranMS.h"
#include "api/host_buffer.h"

namespace kovran {
namespace {

struct CodeRow {
    std::int32_t code;
    std::string_view name;
    std::string_view message;
};

#define KOVRAN_RESULT_ROW(name, value, message) CodeRow{name, #name, message},
constexpr std::array kCodes{KVX_RESULT_CODES(KOVRAN_RESULT_ROW)};
#undef KOVRAN_RESULT_ROW

constexpr std::string_view kUnknown = "Unknown error.";
// KVXErrorMsg renders into a work buffer of this size.
constexpr std::size_t kWorkBuffer = 256;

// How many rows give code a message.
constexpr int MessagesOf(std::int32_t code) {
    int count = 0;
    for (const CodeRow& row : kCodes)
        if (row.code == code && !row.message.empty()) ++count;
    return count;
}

// Every code of the header (each enumerator of KVXResultCode) has exactly
// one message: a second row with the same value, or an empty text, fails
// the build here.
#define KOVRAN_ONE_MESSAGE(name, value, message) \
    static_assert(MessagesOf(name) == 1, #name " needs exactly one message");
KVX_RESULT_CODES(KOVRAN_ONE_MESSAGE)
#undef KOVRAN_ONE_MESSAGE

constexpr bool MessagesFit() {
    for (const CodeRow& row : kCodes)
        if (row.message.size() >= kWorkBuffer) return false;
    return true;
}
static_assert(MessagesFit(), "a message does not fit the work buffer");

const CodeRow* Find(std::int32_t code) {
    for (const CodeRow& row : kCodes)
        if (row.code == code) return &row;
    return nullptr;
}

}  // namespace

std::string_view ErrorMessage(std::int32_t code) {
    const CodeRow* row = Find(code);
    return row ? row->message : kUnknown;
}

std::string_view ResultName(std::int32_t code) {
    const CodeRow* row = Find(code);
    return row ? row->name : std::string_view();
}

int ErrorText(std::int32_t code, char* buffer, int length) {
    return CopyToHost(ErrorMessage(code), {buffer, length}, HostBufferRule::Message);
}

}  // namespace kovran
