#include "imaging/codec/tiff_io.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace kovran::imaging::codec::detail {

namespace {

// No single libtiff allocation for our files needs more than a buffer.
constexpr tmsize_t kMaxSingleAlloc = static_cast<tmsize_t>(kMaxBufferBytes);

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
using Options = std::unique_ptr<TIFFOpenOptions, OptionsDeleter>;

}  // namespace

// What a handle's callbacks reach through their user data: the bytes it
// reads or writes and the reason libtiff gave.
struct TiffHandle::Sink {
    File input;
    Bytes* output = nullptr;
    std::uint64_t position = 0;
    std::string reason;
    bool failed = false;

    std::uint64_t Size() const { return output != nullptr ? output->size() : input.size(); }

    void Record(const char* module, const char* text) {
        if (!failed)
            reason = std::string("TIFF: ") + (module != nullptr ? module : "") + ": " + text;
        failed = true;
    }
    static int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        static_cast<Sink*>(user)->Record(module, text);
        return 1;  // handled: libtiff's global handler stays silent
    }
    // Warnings are dropped, except those that mean lost data: libtiff's
    // word that it could not read a tag's values (the file ends early and
    // the tag, a resolution or a colour map, would silently go missing), a
    // fax strip that ends or breaks off before its lines do (the missing
    // lines would read as white), and any warning of libjpeg inside a JPEG
    // strip (corrupt or truncated data, filled with grey).
    static int OnWarning(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        const bool jpeg = module != nullptr && std::strcmp(module, "JPEGLib") == 0;
        if (jpeg || std::strstr(text, "IO error") != nullptr ||
            std::strstr(text, "Premature EO") != nullptr ||
            std::strstr(text, "Line length mismatch") != nullptr)
            static_cast<Sink*>(user)->Record(module, text);
        return 1;
    }

    // The client procedures of TIFFClientOpen; never throw into libtiff.
    static tmsize_t Read(thandle_t h, void* buf, tmsize_t n) {
        auto* s = static_cast<Sink*>(h);
        const std::uint64_t size = s->Size();
        if (n < 0 || s->position >= size) return 0;
        const auto count = static_cast<tmsize_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(n), size - s->position));
        const std::uint8_t* from = s->output != nullptr ? s->output->data() : s->input.data();
        std::memcpy(buf, from + s->position, static_cast<std::size_t>(count));
        s->position += static_cast<std::uint64_t>(count);
        return count;
    }
    static tmsize_t Write(thandle_t h, void* buf, tmsize_t n) {
        auto* s = static_cast<Sink*>(h);
        if (s->output == nullptr || n < 0) return -1;
        const std::uint64_t end = s->position + static_cast<std::uint64_t>(n);
        if (end > kMaxBufferBytes) return -1;
        try {
            if (end > s->output->size()) s->output->resize(static_cast<std::size_t>(end));
        } catch (const std::bad_alloc&) {
            return -1;
        }
        std::memcpy(s->output->data() + s->position, buf, static_cast<std::size_t>(n));
        s->position = end;
        return n;
    }
    static toff_t Seek(thandle_t h, toff_t offset, int whence) {
        auto* s = static_cast<Sink*>(h);
        std::uint64_t base = 0;
        if (whence == SEEK_CUR)
            base = s->position;
        else if (whence == SEEK_END)
            base = s->Size();
        else if (whence != SEEK_SET)
            return static_cast<toff_t>(-1);
        if (offset > kMaxBufferBytes || base + offset > kMaxBufferBytes)
            return static_cast<toff_t>(-1);
        s->position = base + offset;
        return s->position;
    }
    static int Close(thandle_t) { return 0; }
    static toff_t SizeOf(thandle_t h) { return static_cast<Sink*>(h)->Size(); }
    // A file read from memory is "mapped": libtiff reads the strips in
    // place (it never writes into a file opened for reading), and its
    // reading of uncompressed tiles works only so.
    static int Map(thandle_t h, void** base, toff_t* size) {
        auto* s = static_cast<Sink*>(h);
        if (s->output != nullptr) return 0;
        *base = const_cast<std::uint8_t*>(s->input.data());
        *size = s->input.size();
        return 1;
    }
    static void Unmap(thandle_t, void*, toff_t) {}
};

TiffHandle::TiffHandle() : sink_(std::make_unique<Sink>()) {}

TiffHandle::~TiffHandle() {
    if (tif_ != nullptr) TIFFClose(tif_);
}

namespace {

Options MakeOptions(void* sink, TIFFErrorHandlerExtR onError, TIFFErrorHandlerExtR onWarning) {
    Options o(TIFFOpenOptionsAlloc());
    if (o) {
        TIFFOpenOptionsSetMaxSingleMemAlloc(o.get(), kMaxSingleAlloc);
        TIFFOpenOptionsSetErrorHandlerExtR(o.get(), onError, sink);
        TIFFOpenOptionsSetWarningHandlerExtR(o.get(), onWarning, sink);
    }
    return o;
}

}  // namespace

bool TiffHandle::OpenRead(File file, std::string* error) {
    sink_->input = file;
    const Options o = MakeOptions(sink_.get(), Sink::OnError, Sink::OnWarning);
    if (!o) return Fail(error, "TIFF: out of memory");
    tif_ = TIFFClientOpenExt("memory", "r", sink_.get(), Sink::Read, Sink::Write, Sink::Seek,
                             Sink::Close, Sink::SizeOf, Sink::Map, Sink::Unmap, o.get());
    if (tif_ == nullptr || sink_->failed) return Fail(error, Reason());
    return true;
}

bool TiffHandle::OpenWrite(Bytes* out, std::string* error) {
    sink_->output = out;
    const Options o = MakeOptions(sink_.get(), Sink::OnError, Sink::OnWarning);
    if (!o) return Fail(error, "TIFF: out of memory");
    tif_ = TIFFClientOpenExt("memory", "wm", sink_.get(), Sink::Read, Sink::Write, Sink::Seek,
                             Sink::Close, Sink::SizeOf, Sink::Map, Sink::Unmap, o.get());
    if (tif_ == nullptr || sink_->failed) return Fail(error, Reason());
    return true;
}

bool TiffHandle::OpenFile(const std::string& path, std::string* error) {
    const Options o = MakeOptions(sink_.get(), Sink::OnError, Sink::OnWarning);
    if (!o) return Fail(error, "TIFF: out of memory");
    tif_ = TIFFOpenExt(path.c_str(), "w", o.get());
    if (tif_ == nullptr || sink_->failed) return Fail(error, Reason());
    return true;
}

bool TiffHandle::Close(std::string* error) {
    if (tif_ != nullptr) {
        TIFFClose(tif_);
        tif_ = nullptr;
    }
    if (sink_->failed) return Fail(error, Reason());
    return true;
}

bool TiffHandle::Failed() const {
    return sink_->failed;
}

std::string TiffHandle::Reason() const {
    return sink_->reason.empty() ? std::string("TIFF") : sink_->reason;
}

}  // namespace kovran::imaging::codec::detail
