// Fuzz target for the font database parser: any bytes must either be refused
// or parse into models that encode back to the same leading bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "ocr/font_db_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kovran::ocr::FontDbRead r = kovran::ocr::ParseFontDb(std::span(data, size));
    if (!r.Ok()) {
        if (!r.models.empty()) std::abort();
        return 0;
    }
    const auto bytes = kovran::ocr::EncodeFontDb(r.models);
    // The reserved header word is not kept; everything else must survive.
    if (bytes.size() > size || std::memcmp(bytes.data(), data, 2) != 0 ||
        std::memcmp(bytes.data() + 4, data + 4, bytes.size() - 4) != 0)
        std::abort();
    return 0;
}
