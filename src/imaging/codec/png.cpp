// PNG on libpng. libpng reports errors through PngError, which must not
// return; it jumps back into RunGuarded, the one function that calls
// setjmp. What runs under the guard holds only the codec handles and plain
// pointers, so the jump skips no destructor.
#include <csetjmp>
#include <cstring>
#include <vector>

#include <png.h>

#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec::detail {

namespace {

struct PngErrors {
    std::jmp_buf jump{};
    char reason[256] = {};
};

[[noreturn]] void PngError(png_structp png, png_const_charp message) {
    auto* e = static_cast<PngErrors*>(png_get_error_ptr(png));
    std::snprintf(e->reason, sizeof e->reason, "PNG: %s", message);
    std::longjmp(e->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

bool RunGuarded(PngErrors& errors, void (*step)(void*), void* context) {
    if (setjmp(errors.jump) != 0) return false;
    step(context);
    return true;
}

template <typename Step>
bool Guarded(PngErrors& errors, Step&& step) {
    return RunGuarded(
        errors, [](void* s) { (*static_cast<Step*>(s))(); }, &step);
}

struct MemoryReader {
    File file;
    std::size_t position = 0;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (count > r->file.size() - r->position) png_error(png, "truncated file");
    std::memcpy(out, r->file.data() + r->position, count);
    r->position += count;
}

// Writes into a byte vector; a failed growth becomes a libpng error.
void WriteToMemory(png_structp png, png_bytep data, png_size_t count) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    bool grown = true;
    try {
        out->insert(out->end(), data, data + count);
    } catch (...) {
        grown = false;
    }
    if (!grown) png_error(png, "out of memory");
}

void FlushMemory(png_structp) {}

// One libpng handle pair, read or write, with its error state; destroyed
// with the object.
enum class Direction { Read, Write };
template <Direction kDirection>
class Handle {
  public:
    Handle() {
        png_ = kDirection == Direction::Read
                   ? png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors_, PngError, PngWarning)
                   : png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors_, PngError, PngWarning);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
    }
    ~Handle() {
        if (png_ == nullptr) return;
        png_infopp info = info_ != nullptr ? &info_ : nullptr;
        if constexpr (kDirection == Direction::Read)
            png_destroy_read_struct(&png_, info, nullptr);
        else
            png_destroy_write_struct(&png_, info);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool Created() const { return info_ != nullptr; }
    png_structp Png() const { return png_; }
    png_infop Info() const { return info_; }
    PngErrors& Errors() { return errors_; }

  private:
    PngErrors errors_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};
using Reader = Handle<Direction::Read>;
using Writer = Handle<Direction::Write>;

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    Resolution res;
};

// Reads the chunks before the pixels; sides beyond kMaxSide are refused by
// libpng itself.
bool ReadHeader(Reader& r, MemoryReader& source, PngHeader& header, std::string* error) {
    if (!r.Created()) return Fail(error, "PNG: out of memory");
    png_structp png = r.Png();
    png_infop info = r.Info();
    PngHeader* h = &header;
    const bool ok = Guarded(r.Errors(), [png, info, &source, h] {
        png_set_read_fn(png, &source, ReadFromMemory);
        png_set_user_limits(png, kMaxSide, kMaxSide);
        png_set_chunk_malloc_max(png, 8u << 20);
        png_read_info(png, info);
        int interlace = 0;
        png_get_IHDR(png, info, &h->width, &h->height, &h->bitDepth, &h->colourType, &interlace,
                     nullptr, nullptr);
        png_uint_32 x = 0;
        png_uint_32 y = 0;
        int unit = 0;
        if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER) {
            h->res.x = DpiOfPixelsPerMetre(x);
            h->res.y = DpiOfPixelsPerMetre(y);
        }
    });
    if (!ok) return Fail(error, r.Errors().reason);
    if (!FitsBuffer(header.width, header.height, 1))
        return Fail(error, "PNG of " + std::to_string(header.width) + " x " +
                               std::to_string(header.height) + " pixels");
    return true;
}

}  // namespace

std::optional<FileInfo> PngInfo(File file, std::string* error) {
    Reader r;
    MemoryReader source{file};
    PngHeader h;
    if (!ReadHeader(r, source, h, error)) return std::nullopt;
    return FileInfo{static_cast<int>(h.width), static_cast<int>(h.height), h.res.x};
}

std::optional<Picture> DecodePng(File file, std::string* error) {
    Reader r;
    MemoryReader source{file};
    PngHeader h;
    if (!ReadHeader(r, source, h, error)) return std::nullopt;
    png_structp png = r.Png();
    png_infop info = r.Info();

    // A palette decodes to Grey when every entry is grey.
    bool greyPalette = false;
    bool blackWhitePalette = false;
    if (h.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int entries = 0;
        if (png_get_PLTE(png, info, &palette, &entries) != 0) {
            greyPalette = blackWhitePalette = true;
            for (int i = 0; i < entries; ++i) {
                const png_color& c = palette[i];
                greyPalette = greyPalette && c.red == c.green && c.green == c.blue;
                blackWhitePalette =
                    blackWhitePalette && greyPalette && (c.red == 0 || c.red == 255);
            }
        }
    }
    const bool greyFile = (h.colourType & PNG_COLOR_MASK_COLOR) == 0;
    const bool oneBit = h.bitDepth == 1;
    const Depth depth = (greyFile || blackWhitePalette) && oneBit ? Depth::Bilevel
                        : greyFile || greyPalette                 ? Depth::Grey
                                                                  : Depth::Rgb;
    const int channels = Channels(depth);
    if (!FitsBuffer(h.width, h.height, 3)) return Fail(error, "PNG too large");
    // Deflate shrinks data at most about 1032 times: a file too short for
    // its declared size is refused before the pixels' buffer is made.
    const auto samples = static_cast<unsigned long long>(png_get_channels(png, info));
    const auto rawBytes =
        (static_cast<unsigned long long>(h.width) * samples * h.bitDepth + 7) / 8 * h.height;
    if (rawBytes > static_cast<unsigned long long>(file.size()) * 1100)
        return Fail(error, "PNG declares more pixels than its file holds");
    // Palette files are expanded to RGB first and reduced to grey after.
    const bool viaRgb = h.colourType == PNG_COLOR_TYPE_PALETTE && channels == 1;
    Picture out{
        ImageBuffer(static_cast<int>(h.width), static_cast<int>(h.height), channels, 0, h.res),
        depth};
    std::vector<std::uint8_t> rgb;
    if (viaRgb) rgb.resize(static_cast<std::size_t>(h.width) * h.height * 3);
    std::vector<png_bytep> rows(h.height);
    for (png_uint_32 y = 0; y < h.height; ++y)
        rows[y] = viaRgb ? rgb.data() + static_cast<std::size_t>(y) * h.width * 3
                         : out.pixels.Row(static_cast<int>(y));
    png_bytepp rowPointers = rows.data();
    const bool ok = Guarded(r.Errors(), [png, info, rowPointers] {
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_strip_alpha(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_read_image(png, rowPointers);
        png_read_end(png, nullptr);
    });
    if (!ok) return Fail(error, r.Errors().reason);
    if (viaRgb)
        for (std::size_t i = 0, n = static_cast<std::size_t>(h.width) * h.height; i < n; ++i)
            out.pixels.Data()[i] = rgb[3 * i];
    return out;
}

std::optional<Bytes> EncodePng(const Picture& picture, std::string* error) {
    if (!CheckPicture(picture, error)) return std::nullopt;
    Writer w;
    if (!w.Created()) return Fail(error, "PNG: out of memory");
    const ImageBuffer& in = picture.pixels;
    const bool bilevel = picture.depth == Depth::Bilevel;
    // Bilevel rows are packed first: 0 black, 1 white, as PNG grey of 1 bit.
    std::vector<std::uint8_t> packed;
    std::vector<png_bytep> rows(static_cast<std::size_t>(in.Height()));
    const std::size_t packedRow = (static_cast<std::size_t>(in.Width()) + 7) / 8;
    if (bilevel) packed.resize(packedRow * static_cast<std::size_t>(in.Height()));
    for (int y = 0; y < in.Height(); ++y) {
        if (bilevel) {
            PackBits(in.Row(y), in.Width(), packed.data() + packedRow * y, 0);
            rows[static_cast<std::size_t>(y)] = packed.data() + packedRow * y;
        } else {
            // libpng reads the rows and never writes them.
            rows[static_cast<std::size_t>(y)] = const_cast<std::uint8_t*>(in.Row(y));
        }
    }
    Bytes out;
    Bytes* target = &out;
    png_structp png = w.Png();
    png_infop info = w.Info();
    const auto width = static_cast<png_uint_32>(in.Width());
    const auto height = static_cast<png_uint_32>(in.Height());
    const int bitDepth = bilevel ? 1 : 8;
    const int colourType = picture.depth == Depth::Rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY;
    const long ppmX = PixelsPerMetre(in.Res().x);
    const long ppmY = PixelsPerMetre(in.Res().y);
    png_bytepp rowPointers = rows.data();
    const bool ok = Guarded(w.Errors(), [=] {
        png_set_write_fn(png, target, WriteToMemory, FlushMemory);
        png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (ppmX > 0 && ppmY > 0)
            png_set_pHYs(png, info, static_cast<png_uint_32>(ppmX), static_cast<png_uint_32>(ppmY),
                         PNG_RESOLUTION_METER);
        png_write_info(png, info);
        png_write_image(png, rowPointers);
        png_write_end(png, nullptr);
    });
    if (!ok) return Fail(error, w.Errors().reason);
    return out;
}

}  // namespace kovran::imaging::codec::detail
