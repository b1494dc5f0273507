// The entry points of the codec layer: the format of a file by its
// signature, files read whole into memory, and the encoder by format.
#include <cstring>
#include <fstream>

#include "imaging/codec/codec.h"
#include "imaging/codec/codec_internal.h"

namespace kovran::imaging::codec {

namespace {

enum class Kind { Unknown, Jpeg, Tiff, Png, Bmp };

Kind KindOf(std::span<const std::uint8_t> f) {
    const auto starts = [f](const char* magic, std::size_t n) {
        return f.size() >= n && std::memcmp(f.data(), magic, n) == 0;
    };
    if (starts("\xff\xd8\xff", 3)) return Kind::Jpeg;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return Kind::Tiff;
    if (starts("\x89PNG\r\n\x1a\n", 8)) return Kind::Png;
    if (starts("BM", 2)) return Kind::Bmp;
    return Kind::Unknown;
}

std::optional<Bytes> ReadWholeFile(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return detail::Fail(error, "cannot open " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return detail::Fail(error, "cannot read " + path);
    if (static_cast<unsigned long long>(size) > kMaxBufferBytes)
        return detail::Fail(error, path + " is larger than an image file may be");
    in.seekg(0);
    Bytes bytes(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
        return detail::Fail(error, "cannot read " + path);
    return bytes;
}

}  // namespace

std::optional<Picture> Decode(std::span<const std::uint8_t> file, std::string* error) {
    switch (KindOf(file)) {
        case Kind::Jpeg:
            return detail::DecodeJpeg(file, error);
        case Kind::Tiff:
            return detail::DecodeTiff(file, error);
        case Kind::Png:
            return detail::DecodePng(file, error);
        case Kind::Bmp:
            return detail::DecodeBmp(file, error);
        case Kind::Unknown:
            break;
    }
    return detail::Fail(error, "not an image file of a known format");
}

std::optional<Picture> DecodeFile(const std::string& path, std::string* error) {
    const auto bytes = ReadWholeFile(path, error);
    if (!bytes) return std::nullopt;
    return Decode(*bytes, error);
}

std::optional<FileInfo> ReadFileInfo(const std::string& path, std::string* error) {
    const auto bytes = ReadWholeFile(path, error);
    if (!bytes) return std::nullopt;
    const std::span<const std::uint8_t> file(*bytes);
    switch (KindOf(file)) {
        case Kind::Jpeg:
            return detail::JpegInfo(file, error);
        case Kind::Tiff:
            return detail::TiffInfo(file, error);
        case Kind::Png:
            return detail::PngInfo(file, error);
        case Kind::Bmp:
            return detail::BmpInfo(file, error);
        case Kind::Unknown:
            break;
    }
    return detail::Fail(error, "not an image file of a known format");
}

std::optional<Bytes> Encode(const Picture& picture, const EncodeOptions& options,
                            std::string* error) {
    if (!detail::CheckPicture(picture, error)) return std::nullopt;
    switch (options.format) {
        case Format::Jpeg:
            return detail::EncodeJpeg(picture, options.quality, error);
        case Format::Bmp:
            return detail::EncodeBmp(picture, options.bmpOrder, error);
        case Format::Png:
            return detail::EncodePng(picture, error);
        case Format::TiffG3:
        case Format::TiffG4:
        case Format::TiffLzw:
        case Format::TiffNone:
        case Format::TiffJpeg:
            return detail::EncodeTiff(picture, options, error);
    }
    return detail::Fail(error, "unknown output format");
}

}  // namespace kovran::imaging::codec
