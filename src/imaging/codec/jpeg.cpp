// JPEG on libjpeg(-turbo). libjpeg reports errors by calling error_exit,
// which must not return; it jumps back into RunGuarded, the one function
// that calls setjmp. What runs under the guard holds only the codec handle
// and plain pointers, so the jump skips no destructor.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <jpeglib.h>
// jerror.h needs jpeglib.h first.
#include <jerror.h>

#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec::detail {

namespace {

// More scans than any encoder writes: a file with thousands of tiny
// progressive scans only wastes time.
constexpr int kMaxScans = 200;
// libjpeg's own working memory while it decodes: a progressive file keeps
// every coefficient of the picture (two bytes a sample) until its last
// scan, which a header of a few bytes can make gigabytes large. A picture
// within kMaxBufferBytes needs at most this much; beyond it libjpeg fails
// (it has no backing store) instead of allocating.
constexpr long kMaxDecoderMemory = static_cast<long>(kMaxBufferBytes / 2);

struct JpegErrors {
    jpeg_error_mgr mgr{};
    std::jmp_buf jump{};
    char reason[JMSG_LENGTH_MAX] = {};
    bool corrupt = false;
    jpeg_progress_mgr progress{};
};

JpegErrors& ErrorsOf(j_common_ptr cinfo) {
    return *reinterpret_cast<JpegErrors*>(cinfo->err);
}

// Every way out of libjpeg: the reason is kept and the jump lands in
// RunGuarded.
[[noreturn]] void JumpOut(j_common_ptr cinfo, const char* reason) {
    JpegErrors& e = ErrorsOf(cinfo);
    if (reason != nullptr) std::snprintf(e.reason, sizeof e.reason, "%s", reason);
    std::longjmp(e.jump, 1);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, text);
    JumpOut(cinfo, text);
}

// Warnings (level -1) mean corrupt or truncated data: the picture would be
// filled with grey, so it counts as a failure. Trace messages are dropped;
// nothing goes to standard error.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    JpegErrors& e = ErrorsOf(cinfo);
    if (!e.corrupt) cinfo->err->format_message(cinfo, e.reason);
    e.corrupt = true;
}

void Progress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor ||
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans)
        return;
    JumpOut(cinfo, "more scans than any encoder writes");
}

void InstallErrors(JpegErrors& e) {
    jpeg_std_error(&e.mgr);
    e.mgr.error_exit = ErrorExit;
    e.mgr.emit_message = EmitMessage;
    e.progress.progress_monitor = Progress;
}

// The one place a libjpeg error lands: runs step(cinfo), false when libjpeg
// reported an error.
bool RunGuarded(JpegErrors& errors, void (*step)(void*), void* context) {
    if (setjmp(errors.jump) != 0) return false;
    step(context);
    return true;
}

template <typename Step>
bool Guarded(JpegErrors& errors, Step&& step) {
    return RunGuarded(
        errors, [](void* s) { (*static_cast<Step*>(s))(); }, &step);
}

class Decompressor {
  public:
    Decompressor() {
        InstallErrors(errors_);
        cinfo_.err = &errors_.mgr;
        created_ = Guarded(errors_, [this] { jpeg_create_decompress(&cinfo_); });
        cinfo_.progress = &errors_.progress;
        if (created_) cinfo_.mem->max_memory_to_use = kMaxDecoderMemory;
    }
    ~Decompressor() {
        if (created_) jpeg_destroy_decompress(&cinfo_);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    bool Created() const { return created_; }
    jpeg_decompress_struct& Info() { return cinfo_; }
    JpegErrors& Errors() { return errors_; }
    std::string Reason() const {
        if (errors_.mgr.msg_code == JERR_NO_BACKING_STORE)
            return "JPEG: needs more working memory than a picture may have";
        return std::string("JPEG: ") + errors_.reason;
    }

  private:
    JpegErrors errors_;
    jpeg_decompress_struct cinfo_{};
    bool created_ = false;
};

class Compressor {
  public:
    Compressor() {
        InstallErrors(errors_);
        cinfo_.err = &errors_.mgr;
        created_ = Guarded(errors_, [this] { jpeg_create_compress(&cinfo_); });
    }
    ~Compressor() {
        if (created_) jpeg_destroy_compress(&cinfo_);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    bool Created() const { return created_; }
    jpeg_compress_struct& Info() { return cinfo_; }
    JpegErrors& Errors() { return errors_; }
    std::string Reason() const { return std::string("JPEG: ") + errors_.reason; }

  private:
    JpegErrors errors_;
    jpeg_compress_struct cinfo_{};
    bool created_ = false;
};

// A destination that grows a byte vector (libjpeg's own memory destination
// frees its first buffer when it grows, which leaves the caller's pointer
// dangling when an error follows).
struct VectorDestination {
    jpeg_destination_mgr pub{};
    Bytes* out = nullptr;

    static VectorDestination& Of(j_compress_ptr cinfo) {
        return *reinterpret_cast<VectorDestination*>(cinfo->dest);
    }
    static bool Grow(VectorDestination& d, std::size_t size) {
        try {
            d.out->resize(size);
        } catch (...) {
            return false;
        }
        return true;
    }
    static void Init(j_compress_ptr cinfo) {
        VectorDestination& d = Of(cinfo);
        if (!Grow(d, std::max<std::size_t>(d.out->size(), 64 * 1024)))
            JumpOut(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
        d.pub.next_output_byte = d.out->data();
        d.pub.free_in_buffer = d.out->size();
    }
    static boolean Empty(j_compress_ptr cinfo) {
        VectorDestination& d = Of(cinfo);
        const std::size_t used = d.out->size();
        if (used >= kMaxBufferBytes || !Grow(d, used * 2))
            JumpOut(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
        d.pub.next_output_byte = d.out->data() + used;
        d.pub.free_in_buffer = d.out->size() - used;
        return TRUE;
    }
    static void Term(j_compress_ptr cinfo) {
        VectorDestination& d = Of(cinfo);
        d.out->resize(d.out->size() - d.pub.free_in_buffer);
    }
};

double DensityDpi(const jpeg_decompress_struct& cinfo, UINT16 density) {
    if (cinfo.density_unit == 1) return density;
    if (cinfo.density_unit == 2) return density * 2.54;
    return 0.0;
}

// Reads the header of the file into the decompressor.
bool ReadHeader(Decompressor& d, File file, std::string* error) {
    if (!d.Created()) return Fail(error, d.Reason());
    jpeg_decompress_struct& cinfo = d.Info();
    const bool ok = Guarded(d.Errors(), [&cinfo, file] {
        jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&cinfo, TRUE);
    });
    if (!ok || d.Errors().corrupt) return Fail(error, d.Reason());
    return true;
}

}  // namespace

std::optional<FileInfo> JpegInfo(File file, std::string* error) {
    Decompressor d;
    if (!ReadHeader(d, file, error)) return std::nullopt;
    const jpeg_decompress_struct& cinfo = d.Info();
    if (!FitsBuffer(cinfo.image_width, cinfo.image_height, 1))
        return Fail(error, "JPEG of " + std::to_string(cinfo.image_width) + " x " +
                               std::to_string(cinfo.image_height) + " pixels");
    return FileInfo{static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height),
                    DensityDpi(cinfo, cinfo.X_density)};
}

std::optional<Picture> DecodeJpeg(File file, std::string* error) {
    Decompressor d;
    if (!ReadHeader(d, file, error)) return std::nullopt;
    jpeg_decompress_struct& cinfo = d.Info();
    const bool grey = cinfo.num_components == 1;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    if (!Guarded(d.Errors(), [&cinfo] { jpeg_calc_output_dimensions(&cinfo); }))
        return Fail(error, d.Reason());
    const int channels = grey ? 1 : 3;
    if (cinfo.output_components != channels ||
        !FitsBuffer(cinfo.output_width, cinfo.output_height, channels))
        return Fail(error, "JPEG of " + std::to_string(cinfo.output_width) + " x " +
                               std::to_string(cinfo.output_height) + " pixels");
    // A file of several scans is read whole by the start: a truncated or
    // oversized one fails before the picture's buffer is made.
    if (!Guarded(d.Errors(), [&cinfo] { jpeg_start_decompress(&cinfo); }) || d.Errors().corrupt)
        return Fail(error, d.Reason());
    Picture out{
        ImageBuffer(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    channels, 0,
                    {DensityDpi(cinfo, cinfo.X_density), DensityDpi(cinfo, cinfo.Y_density)}),
        grey ? Depth::Grey : Depth::Rgb};
    std::uint8_t* pixels = out.pixels.Data();
    const auto stride = static_cast<std::size_t>(out.pixels.Stride());
    const bool ok = Guarded(d.Errors(), [&cinfo, pixels, stride] {
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = pixels + cinfo.output_scanline * stride;
            if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
        }
        jpeg_finish_decompress(&cinfo);
    });
    if (!ok || d.Errors().corrupt || cinfo.output_scanline < cinfo.output_height)
        return Fail(error, d.Reason());
    return out;
}

std::optional<Bytes> EncodeJpeg(const Picture& picture, int quality, std::string* error) {
    if (!CheckPicture(picture, error)) return std::nullopt;
    if (picture.depth == Depth::Bilevel) return Fail(error, "JPEG of a bilevel picture");
    if (quality < 1 || quality > 100) return Fail(error, "JPEG quality " + std::to_string(quality));
    Compressor c;
    if (!c.Created()) return Fail(error, c.Reason());
    jpeg_compress_struct& cinfo = c.Info();
    const ImageBuffer& in = picture.pixels;
    const bool grey = picture.depth == Depth::Grey;
    const auto dpi = [](double v) {
        return static_cast<UINT16>(v > 0.0 && v < 65535.0 ? v + 0.5 : 0.0);
    };
    const UINT16 dpiX = dpi(in.Res().x);
    const UINT16 dpiY = dpi(in.Res().y);
    // libjpeg reads the rows and never writes them.
    auto* pixels = const_cast<std::uint8_t*>(in.Data());
    const auto stride = static_cast<std::size_t>(in.Stride());
    Bytes out;
    VectorDestination destination;
    destination.out = &out;
    destination.pub.init_destination = VectorDestination::Init;
    destination.pub.empty_output_buffer = VectorDestination::Empty;
    destination.pub.term_destination = VectorDestination::Term;
    jpeg_destination_mgr* dest = &destination.pub;
    const bool ok =
        Guarded(c.Errors(), [&cinfo, &in, grey, quality, dpiX, dpiY, pixels, stride, dest] {
            cinfo.dest = dest;
            cinfo.image_width = static_cast<JDIMENSION>(in.Width());
            cinfo.image_height = static_cast<JDIMENSION>(in.Height());
            cinfo.input_components = grey ? 1 : 3;
            cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
            jpeg_set_defaults(&cinfo);
            jpeg_set_quality(&cinfo, quality, TRUE);
            if (dpiX > 0 && dpiY > 0) {
                cinfo.density_unit = 1;
                cinfo.X_density = dpiX;
                cinfo.Y_density = dpiY;
            }
            jpeg_start_compress(&cinfo, TRUE);
            while (cinfo.next_scanline < cinfo.image_height) {
                JSAMPROW row = pixels + cinfo.next_scanline * stride;
                jpeg_write_scanlines(&cinfo, &row, 1);
            }
            jpeg_finish_compress(&cinfo);
        });
    if (!ok) return Fail(error, c.Reason());
    return out;
}

}  // namespace kovran::imaging::codec::detail
