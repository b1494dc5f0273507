// Text drawn with a system face: the face found through fontconfig, the
// glyphs rendered by FreeType at the pixel size a 96 dpi screen gives the
// point size, black on white on one line, as Windows draws a stamp.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "api/library.h"
#include "api/log.h"
#include "imaging/output/file_write.h"
#include "imaging/text_face.h"
#include "inkjet/stamp.h"
#include "inkjet/stamp_bitmap.h"
#include "inkjet/stamp_internal.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran::inkjet {

namespace {

constexpr std::size_t kMaxTextChars = 512;
constexpr std::size_t kMaxFaceChars = 31;
constexpr int kScreenDpi = 96;
constexpr int kPointsPerInch = 72;
// A screen font asked with height 0 gets the system's default size.
constexpr int kDefaultEmPixels = 16;
constexpr int kTabChars = 8;
// A bitmap larger than this is no stamp; the drawing refuses it.
constexpr std::size_t kMaxBitmapBytes = std::size_t{64} << 20;
// The widest type 1 stamp any printer holds: 255 x 64 buffer bytes, two per
// column. A wider drawing is refused by the printer's check; a line taller
// than that holds no character beside the measured "B". Both are refused
// before the glyphs are drawn: a huge point size would render glyphs of
// hundreds of megabytes each.
constexpr int kMaxType1Columns = 255 * 64 / 2;

// The faces outlive one composition: fontconfig's start-up is slow and the
// type 1 stamp is composed anew for every document.
struct SystemTextRecord {
    std::unique_ptr<imaging::TextFaceLibrary> faces;
};

imaging::TextFaceLibrary& Faces() {
    auto& record = lib().Get<SystemTextRecord>();
    if (!record.faces) record.faces = std::make_unique<imaging::TextFaceLibrary>();
    return *record.faces;
}

// The Windows faces stamps name, served by their metric-compatible families
// so that a stamp keeps its width.
std::string FamilyFor(std::string_view face) {
    const std::string upper = platform::ToUpper(face);
    if (upper == "ARIAL") return "Liberation Sans";
    if (upper == "TIMES NEW ROMAN") return "Liberation Serif";
    if (upper == "COURIER NEW") return "Liberation Mono";
    return std::string(face);
}

// The system code page's characters 0x80..0x9F (Windows-1252); the rest of
// the byte range is Latin-1.
char32_t FromCodePage(std::uint8_t c) {
    static constexpr char32_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (c >= 0x80 && c < 0xA0) return kHigh[c - 0x80];
    return c;
}

bool Invisible(char32_t c) {
    return c == U'\r' || c == U'\n';
}

struct PlacedGlyph {
    imaging::TextGlyph glyph;
    int x = 0;
};

// Lays the text out on one line: each glyph at its pen position, tabs to
// the next stop of eight average characters. Returns the measured width.
std::optional<int> Layout(const imaging::TextFace& face, std::string_view text, double em,
                          std::vector<PlacedGlyph>* placed, int maxWidth) {
    const auto average = face.Render(U'x', em, em);
    if (!average) return std::nullopt;
    const double tabStop = std::max(1.0, std::round(average->advance) * kTabChars);
    double pen = 0;
    for (const char ch : text) {
        const char32_t c = FromCodePage(static_cast<std::uint8_t>(ch));
        if (c == U'\t') {
            pen = (std::floor(pen / tabStop) + 1) * tabStop;
            continue;
        }
        auto glyph = face.Render(Invisible(c) ? U' ' : c, em, em);
        if (!glyph) return std::nullopt;
        const double advance = glyph->advance;
        if (placed != nullptr && !Invisible(c))
            placed->push_back({std::move(*glyph), static_cast<int>(std::lround(pen))});
        pen += advance;
        // Already too wide: the rest need not be drawn.
        if (pen > maxWidth) break;
    }
    return static_cast<int>(std::ceil(pen));
}

}  // namespace

KVXResult ComposeSystemText(std::string_view text, std::string_view fontName, int sizePoints,
                            TextTarget target, const std::string& bitmapPath) {
    DropStampImage();
    if (text.size() > kMaxTextChars) {
        LogPair(kErr, "too many chars in the string");
        return KVX_ERR_INV_PARAMETER;
    }
    // A one-letter name is no face: the previous face stays.
    if (fontName.size() > 1) Stamp().faceName = std::string(fontName.substr(0, kMaxFaceChars));

    std::string reason;
    const imaging::TextFace* face = Faces().OpenFamily(FamilyFor(Stamp().faceName), "", &reason);
    if (face == nullptr) {
        LogPair(kErr, "error creating font");
        return KVX_ERR_GENERIC;
    }
    const double em = sizePoints == 0
                          ? kDefaultEmPixels
                          : static_cast<double>(std::abs(std::lround(
                                static_cast<double>(sizePoints) * kScreenDpi / kPointsPerInch)));
    const imaging::LineExtents extents = face->Extents();
    const int ascent = static_cast<int>(std::ceil(extents.ascent * em));
    const int descent = static_cast<int>(std::lround(extents.descent * em));
    const int lineRows = ascent + descent + 1;
    // The type 2 drawing's rows become the head's 150 nozzles.
    if (target == TextTarget::Type2 && lineRows > kType2Rows) {
        LogPairValue(kErr, "stamp too large", lineRows);
        return KVX_ERR_INV_PARAMETER;
    }
    if (target == TextTarget::Type1 && lineRows > kMaxType1Columns) {
        LogPairValue(kErr, "stamp is larger then stamp buffer", lineRows);
        return KVX_ERR_INV_PARAMETER;
    }
    const int maxWidth =
        target == TextTarget::Type1 ? kMaxType1Columns : std::numeric_limits<int>::max();

    // Type 1 measures one character more than it draws.
    const std::string measured = std::string(text) + (target == TextTarget::Type1 ? "B" : "");
    std::vector<PlacedGlyph> placed;
    const auto textWidth = Layout(*face, measured, em, nullptr, maxWidth);
    if (!textWidth) {
        LogPair(kErr, "error creating font");
        return KVX_ERR_GENERIC;
    }
    if (*textWidth > maxWidth) {
        LogPairValue(kErr, "stamp is larger then stamp buffer", *textWidth);
        return KVX_ERR_INV_PARAMETER;
    }
    if (!Layout(*face, text, em, &placed, maxWidth)) {
        LogPair(kErr, "error creating font");
        return KVX_ERR_GENERIC;
    }
    const int width = *textWidth + 1;
    const int height = ascent + descent + 1;
    if (static_cast<std::size_t>(width) * static_cast<std::size_t>(height) > kMaxBitmapBytes) {
        LogPairValue(kErr, "allocating stamp memory", platform::kErrorNotEnoughMemory);
        return KVX_ERR_OUT_OF_MEMORY;
    }

    // The drawing, top row first, 0 ink and 255 paper.
    std::vector<std::uint8_t> bitmap;
    try {
        bitmap.assign(static_cast<std::size_t>(width) * height, kBlank);
    } catch (const std::bad_alloc&) {
        LogPairValue(kErr, "allocating stamp memory", platform::kErrorNotEnoughMemory);
        return KVX_ERR_OUT_OF_MEMORY;
    }
    for (const PlacedGlyph& p : placed) {
        const imaging::ImageBuffer& cov = p.glyph.coverage;
        for (int gy = 0; gy < cov.Height(); ++gy) {
            const int y = ascent - p.glyph.top + gy;
            if (y < 0 || y >= height) continue;
            for (int gx = 0; gx < cov.Width(); ++gx) {
                const int x = p.x + p.glyph.left + gx;
                if (x < 0 || x >= width) continue;
                std::uint8_t& px = bitmap[static_cast<std::size_t>(y) * width + x];
                px = std::min<std::uint8_t>(px, static_cast<std::uint8_t>(255 - cov.At(gx, gy)));
            }
        }
    }

    // The band: rows counted from the bottom row of the drawing.
    const int band = target == TextTarget::Type1 ? kType1Rows : kType2Rows;
    const int firstKept = height > band ? ascent - band + 1 : 0;
    auto fromBottom = [&](int r) {
        return bitmap.data() + static_cast<std::size_t>(height - 1 - r) * width;
    };
    if (height > band) {
        for (int r = 0; r < height; ++r)
            if (r < firstKept || r > ascent) std::fill_n(fromBottom(r), width, kBlank);
    }

    const auto file = GreyBitmapFile(bitmap, width, height, kScreenDpi);
    int systemError = 0;
    if (imaging::output::WriteFileAtomically(bitmapPath, file, &systemError) !=
        imaging::output::WriteFailure::None) {
        platform::SetLastSystemError(platform::WinErrorFromErrno(systemError));
        LogTriple(kErr, "error writing", bitmapPath.c_str());
        return KVX_ERR_GENERIC;
    }

    auto image = BlankStampImage(width, band, kComposedResolution);
    if (!image) {
        LogPairValue(kErr, "allocating stamp memory", platform::LastSystemError());
        return KVX_ERR_OUT_OF_MEMORY;
    }
    // Rows the drawing does not reach stay blank.
    for (int r = 0; r < band; ++r) {
        const int source = firstKept + r;
        if (source < 0 || source >= height) continue;
        std::copy_n(fromBottom(source), width,
                    image->pixels.begin() + static_cast<std::ptrdiff_t>(r) * image->stride);
    }
    SetStampImage(std::move(*image));
    return KVX_OK;
}

}  // namespace kovran::inkjet
