// Rewriting an image file in one of the image formats, in place: the
// multipage PDF converts every added file to its page format first.
#include <fcntl.h>

#include <algorithm>
#include <string>

#include "api/log.h"
#include "imaging/codec/codec.h"
#include "imaging/pdf/pdf.h"
#include "platform/file_descriptor.h"
#include "platform/sys_error.h"

namespace kovran::imaging::pdf {

namespace {

constexpr int kBilevelThreshold = 128;

void LogFailure(const char* what, const std::string& fileName) {
    const int err = platform::LastSystemError();
    LogPair(what, fileName.c_str());
    LogValue("error", err);
}

}  // namespace

bool ConvertiImg(const std::string& fileName, int format, int parameter) {
    if (format < 0 || format > 6) {
        LogPairValue("err - ", "invalid format", format);
        return false;
    }
    std::optional<codec::Picture> picture = codec::DecodeFile(fileName);
    if (!picture) {
        LogFailure("ConvertiImg - creating", fileName);
        return false;
    }
    codec::EncodeOptions options;
    options.format = static_cast<codec::Format>(format);
    options.quality = std::clamp(parameter, 1, 100);
    const bool toCcitt =
        options.format == codec::Format::TiffG3 || options.format == codec::Format::TiffG4;
    const bool toJpeg =
        options.format == codec::Format::Jpeg || options.format == codec::Format::TiffJpeg;
    if (toCcitt && picture->depth != codec::Depth::Bilevel) {
        picture = codec::Threshold(*picture, kBilevelThreshold);
    } else if (toJpeg && picture->depth == codec::Depth::Bilevel) {
        LogPair("war - ", "b&w image - changing from COMPRESSION_JPEG to COMPRESSION_NONE");
        if (options.format == codec::Format::TiffJpeg) {
            options.format = codec::Format::TiffNone;
        } else {
            // A JPEG file cannot hold one bit; the page still needs a JPEG.
            picture = codec::ConvertDepth(*picture, codec::Depth::Grey);
        }
    }
    // Encoded before the file is touched: a picture the encoder refuses
    // leaves the file as it was.
    std::optional<codec::Bytes> encoded = codec::Encode(*picture, options);
    if (!encoded) {
        LogFailure("ConvertiImg - encoding", fileName);
        return false;
    }
    platform::UniqueFd file(::open(fileName.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!file.valid()) {
        platform::SetLastSystemErrorFromErrno();
        LogFailure("ConvertiImg - opening", fileName);
        return false;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(encoded->data()), encoded->size());
    if (!platform::WriteAllBytes(file.get(), bytes) || !file.Close()) {
        platform::SetLastSystemErrorFromErrno();
        LogFailure("ConvertiImg - encoding", fileName);
        return false;
    }
    return true;
}

}  // namespace kovran::imaging::pdf
