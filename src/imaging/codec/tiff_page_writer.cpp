// The multipage TIFF file: one libtiff handle on the file, one directory
// written and flushed per page.
#include "imaging/codec/codec.h"
#include "imaging/codec/tiff_io.h"

namespace kovran::imaging::codec {

struct TiffPageWriter::State {
    detail::TiffHandle handle;
    EncodeOptions options;
    int pages = 0;
};

TiffPageWriter::TiffPageWriter() = default;
TiffPageWriter::~TiffPageWriter() = default;

bool TiffPageWriter::Open(const std::string& path, const EncodeOptions& options,
                          std::string* error) {
    Close();
    if (!detail::IsTiff(options.format)) return detail::Fail(error, "not a TIFF format");
    if (options.format == Format::TiffJpeg && (options.quality < 1 || options.quality > 100))
        return detail::Fail(error, "JPEG quality " + std::to_string(options.quality));
    auto state = std::make_unique<State>();
    state->options = options;
    if (!state->handle.OpenFile(path, error)) return false;
    state_ = std::move(state);
    return true;
}

bool TiffPageWriter::AppendPage(const Picture& picture, std::string* error) {
    if (!state_) return detail::Fail(error, "no multipage file open");
    if (!detail::CheckPicture(picture, error)) return false;
    const Format format = state_->options.format;
    const bool ccitt = format == Format::TiffG3 || format == Format::TiffG4;
    // Everything refused is refused before libtiff sees the page, so that a
    // refused page leaves the file ready for the next one.
    if (format == Format::TiffJpeg && picture.depth == Depth::Bilevel)
        return detail::Fail(error, "JPEG compression of a bilevel picture");
    TIFF* t = state_->handle.Get();
    const bool ok = ccitt && picture.depth != Depth::Bilevel
                        ? detail::WriteTiffPage(t, ConvertDepth(picture, Depth::Bilevel),
                                                state_->options, error)
                        : detail::WriteTiffPage(t, picture, state_->options, error);
    if (!ok) return false;
    // The page is on disk before the call returns.
    if (TIFFFlush(t) != 1 || state_->handle.Failed())
        return detail::Fail(error, state_->handle.Reason());
    ++state_->pages;
    return true;
}

void TiffPageWriter::Close() {
    if (state_) state_->handle.Close(nullptr);
    state_.reset();
}

bool TiffPageWriter::IsOpen() const {
    return state_ != nullptr;
}

int TiffPageWriter::Pages() const {
    return state_ ? state_->pages : 0;
}

}  // namespace kovran::imaging::codec
