// The type 1 printhead's stamp: twelve rows, sent as one 12-bit column word
// per stamp column.
#include <algorithm>
#include <new>
#include <string>

#include "api/log.h"
#include "inkjet/stamp.h"
#include "inkjet/stamp_internal.h"
#include "platform/sys_error.h"

namespace kovran::inkjet {

namespace {

// Scan modes up to this one can print.
constexpr int kMaxPrintingScanMode = 7;
constexpr std::uint8_t kInkBelow = 128;

KVXResult ComposeStoredText() {
    const StampSettings& settings = Stamp().settings;
    if (const auto fontPath = FontFilePath(settings.font))
        return ComposeFntText(settings.text, *fontPath, kType1Rows, GlyphFlip::Yes);
    return ComposeSystemText(settings.text, settings.font, settings.size, TextTarget::Type1,
                             ConfigFile("timbro.bmp"));
}

// The half turn: row r becomes row height - 1 - r and each row is reversed.
void TurnHalf(StampImage& image) {
    std::vector<std::uint8_t> turned(image.pixels.size(), kBlank);
    for (int y = 0; y < image.height; ++y) {
        const auto* in = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        auto* out = turned.data() + static_cast<std::size_t>(image.height - 1 - y) * image.stride;
        std::reverse_copy(in, in + image.width, out);
    }
    image.pixels = std::move(turned);
}

}  // namespace

KVXResult PrepareType1Stamp(const Type1Printer& printer) {
    if (printer.scanMode > kMaxPrintingScanMode) {
        LogPair(kErr, "unexpected mode when printing");
        return KVX_ERR_INV_PARAMETER;
    }
    if (!Stamp().image) {
        const KVXResult composed = ComposeStoredText();
        if (composed != KVX_OK) return composed;
        if (!Stamp().image) return KVX_ERR_GENERIC;
    }
    StampImage& image = *Stamp().image;
    if (Stamp().settings.mirror == Mirror::On && !Stamp().imageMirrored) {
        try {
            TurnHalf(image);
        } catch (const std::bad_alloc&) {
            LogPairValue(kErr, "creating stamp mirrored image", platform::kErrorNotEnoughMemory);
            DropStampImage();
            return KVX_ERR_GENERIC;
        }
        Stamp().imageMirrored = true;
    }
    // Twelve rows, and at least one column: a stamp of no column sends the
    // printhead nothing and would fail every document's print.
    if (image.height != kType1Rows || image.width <= 0) {
        DropStampImage();
        return KVX_ERR_INV_PARAMETER;
    }
    if (2 * static_cast<std::size_t>(image.width) > printer.stampBufferSize) {
        LogPairValue(kErr, "stamp is larger then stamp buffer", image.width);
        DropStampImage();
        return KVX_ERR_INV_PARAMETER;
    }
    return KVX_OK;
}

std::optional<std::vector<std::uint8_t>> PackType1Columns(std::size_t stampBufferSize,
                                                          int* columns) {
    if (!Stamp().image || Stamp().image->height != kType1Rows ||
        2 * static_cast<std::size_t>(Stamp().image->width) > stampBufferSize)
        return std::nullopt;
    StampImage& image = *Stamp().image;
    std::vector<std::uint8_t> buffer;
    try {
        buffer.assign(stampBufferSize, 0);
    } catch (const std::bad_alloc&) {
        LogPairValue(kErr, "error allocating stamp buffer", static_cast<int>(stampBufferSize));
        return std::nullopt;
    }
    for (int x = 0; x < image.width; ++x) {
        unsigned word = 0;
        for (int k = 0; k < kType1Rows; ++k) {
            std::uint8_t& px = image.pixels[static_cast<std::size_t>(k) * image.stride + x];
            px = px < kInkBelow ? kInk : kBlank;
            if (px == kInk) word |= 1U << k;
        }
        buffer[2 * static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(word);
        buffer[2 * static_cast<std::size_t>(x) + 1] = static_cast<std::uint8_t>(word >> 8);
    }
    if (columns != nullptr) *columns = image.width;
    return buffer;
}

}  // namespace kovran::inkjet
