#include "platform/utf8.h"

namespace kovran::platform {

std::u32string DecodeUtf8(std::string_view text, bool* valid) {
    std::u32string out;
    bool good = true;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        char32_t cp = 0;
        std::size_t extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
        } else {
            extra = 4;  // never a lead byte
        }
        bool ok = extra < 4;
        for (std::size_t k = 1; ok && k <= extra; ++k) {
            if (i + k >= text.size()) {
                ok = false;
                break;
            }
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        // The shortest form only: an overlong one ("\xC0\xAF" for '/') would
        // let a byte that checks refuse pass in disguise.
        static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (ok && cp >= kLeast[extra] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(cp);
            i += extra + 1;
        } else {
            out.push_back(0xFFFD);
            good = false;
            ++i;
        }
    }
    if (valid) *valid = good;
    return out;
}

}  // namespace kovran::platform
