#include "imaging/output/debug_image.h"

#include <limits>

#include "api/log.h"
#include "imaging/codec/codec.h"
#include "imaging/output/file_write.h"

namespace kovran::imaging::output {

namespace {

constexpr int kGlitchQuality = 75;

bool Fail(const char* text) {
    LogPair("err - ", text);
    return false;
}

}  // namespace

bool ImgWrite(const char* fileName, const std::uint8_t* pixels, int width, int height,
              std::ptrdiff_t stride, int quality) {
    if (pixels == nullptr) return Fail("ImgWrite - NULL image pointer");
    if (width <= 0) return Fail("ImgWrite - null width for image buffer");
    if (height <= 0) return Fail("ImgWrite - null height for image buffer");
    if (stride < width) return Fail("ImgWrite - NULL image buffer");
    if (fileName == nullptr) return Fail("ImgWrite - error");
    try {
        codec::Picture picture;
        picture.depth = codec::Depth::Grey;
        picture.pixels = ImageBuffer::CopyOf(ConstImageView(pixels, width, height, stride));
        codec::EncodeOptions options;
        options.format = codec::Format::Jpeg;
        options.quality = quality;
        const std::optional<codec::Bytes> jpeg = codec::Encode(picture, options);
        if (!jpeg || WriteFileAtomically(fileName, *jpeg) != WriteFailure::None)
            return Fail("ImgWrite - error");
    } catch (const std::exception&) {
        return Fail("ImgWrite - error");
    }
    return true;
}

void WriteGlitchImage(const char* path, const std::uint8_t* lines, std::size_t lineLength,
                      std::int32_t count) {
    if (lineLength > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        Fail("ImgWrite - null width for image buffer");
        return;
    }
    const int width = static_cast<int>(lineLength);
    ImgWrite(path, lines, width, count, width, kGlitchQuality);
}

}  // namespace kovran::imaging::output
