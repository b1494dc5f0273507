// Fuzz target for the loader of host stamp bitmaps: any bytes are refused
// or give a stamp image whose pixels match its stated geometry.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "inkjet/stamp_bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kovran::inkjet::BitmapRefusal refusal{};
    int value = 0;
    const auto image = kovran::inkjet::ParseStampBitmap(std::span(data, size), &refusal, &value);
    if (!image) return 0;
    if (image->width <= 0 || image->height <= 0 || image->stride < image->width ||
        image->stride % 8 != 0 ||
        image->pixels.size() != static_cast<std::size_t>(image->stride) * image->height ||
        image->pixels.size() > 4 * size + 64)
        std::abort();
    return 0;
}
