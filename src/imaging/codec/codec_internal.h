// What the format files of the codec layer share: size checks, failure
// reasons, resolution units, and each format's decoder and encoder behind
// the dispatch of decode.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "imaging/codec/codec.h"

namespace kovran::imaging::codec::detail {

// Largest side a file may declare; every codec's own limit lies above it.
inline constexpr int kMaxSide = 1 << 20;

// True when a picture of this size fits a buffer (kMaxBufferBytes) and each
// side is positive and at most kMaxSide.
bool FitsBuffer(long long width, long long height, int channels);

// Stores reason in *error when error is given; returns nullopt / false so
// that a failing path reads `return Fail(error, "...")`.
struct Failure {
    template <typename T>
    operator std::optional<T>() const {  // NOLINT(google-explicit-constructor)
        return std::nullopt;
    }
    operator bool() const { return false; }  // NOLINT(google-explicit-constructor)
};
Failure Fail(std::string* error, const std::string& reason);

int Channels(Depth depth);
// The channel count must match the depth and the picture must not be empty.
bool CheckPicture(const Picture& picture, std::string* error);

// Pixels per metre of a resolution in dpi and back: an integer dpi written
// as pixels per metre reads back as the same integer.
long PixelsPerMetre(double dpi);
double DpiOfPixelsPerMetre(double ppm);

// A bilevel pixel is black below this value (pictures hold 0 and 255).
inline constexpr std::uint8_t kBilevelSplit = 128;

// Packs one row of Bilevel pixels to bits, most significant bit first;
// blackBit is the bit value a black pixel gets.
void PackBits(const std::uint8_t* pixels, int width, std::uint8_t* bits, int blackBit);
// Unpacks bits to 0 / 255; a bit equal to blackBit gives 0.
void UnpackBits(const std::uint8_t* bits, int width, std::uint8_t* pixels, int blackBit);

using File = std::span<const std::uint8_t>;

std::optional<Picture> DecodeBmp(File file, std::string* error);
std::optional<FileInfo> BmpInfo(File file, std::string* error);
std::optional<Bytes> EncodeBmp(const Picture& picture, ChannelOrder order, std::string* error);

std::optional<Picture> DecodeJpeg(File file, std::string* error);
std::optional<FileInfo> JpegInfo(File file, std::string* error);
std::optional<Bytes> EncodeJpeg(const Picture& picture, int quality, std::string* error);

std::optional<Picture> DecodeTiff(File file, std::string* error);
std::optional<FileInfo> TiffInfo(File file, std::string* error);
std::optional<Bytes> EncodeTiff(const Picture& picture, const EncodeOptions& options,
                                std::string* error);

std::optional<Picture> DecodePng(File file, std::string* error);
std::optional<FileInfo> PngInfo(File file, std::string* error);
std::optional<Bytes> EncodePng(const Picture& picture, std::string* error);

}  // namespace kovran::imaging::codec::detail
