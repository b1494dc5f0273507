// The type 2 (TIJ2.5) cartridge's stamp: a bitmap 150 pixels wide whose
// rows are print columns, turned into nozzle words.
#include <algorithm>
#include <array>
#include <string>

#include "api/log.h"
#include "imaging/codec/codec.h"
#include "imaging/output/file_write.h"
#include "inkjet/stamp.h"
#include "inkjet/stamp_internal.h"

namespace kovran::inkjet {

namespace {

namespace codec = imaging::codec;

constexpr int kAddresses = 22;
constexpr int kPrimitives = 7;
constexpr std::uint8_t kInkBelow = 200;

// The odd nozzle each address fires through bit 2j; 0 where none is wired.
constexpr std::array<std::array<int, kPrimitives>, kAddresses> kNozzles = {{
    {1, 45, 89, 133, 177, 221, 265},   {7, 51, 95, 139, 183, 227, 271},
    {13, 57, 101, 145, 189, 233, 277}, {19, 63, 107, 151, 195, 239, 283},
    {25, 69, 113, 157, 201, 245, 289}, {31, 75, 119, 163, 207, 251, 295},
    {37, 81, 125, 169, 213, 257, 0},   {0, 43, 87, 131, 175, 219, 263},
    {5, 49, 93, 137, 181, 225, 269},   {11, 55, 99, 143, 187, 231, 275},
    {17, 61, 105, 149, 193, 237, 281}, {23, 67, 111, 155, 199, 243, 287},
    {29, 73, 117, 161, 205, 249, 293}, {35, 79, 123, 167, 211, 255, 299},
    {0, 41, 85, 129, 173, 217, 261},   {3, 47, 91, 135, 179, 223, 267},
    {9, 53, 97, 141, 185, 229, 273},   {15, 59, 103, 147, 191, 235, 279},
    {21, 65, 109, 153, 197, 241, 285}, {27, 71, 115, 159, 203, 247, 291},
    {33, 77, 121, 165, 209, 253, 297}, {39, 83, 127, 171, 215, 259, 0},
}};

std::optional<codec::Picture> ReadGrey(const std::string& path) {
    auto picture = codec::DecodeFile(path);
    if (!picture) return std::nullopt;
    if (picture->depth != codec::Depth::Grey)
        picture = codec::ConvertDepth(*picture, codec::Depth::Grey);
    return picture;
}

}  // namespace

KVXResult OrientType2Bitmap(const std::string& path, Type2Orientation orientation) {
    LogPair("fName", path.c_str());
    const auto picture = ReadGrey(path);
    if (!picture) {
        LogTriple(kErr, "invalid stamp fname", path.c_str());
        return KVX_ERR_INV_PARAMETER;
    }
    const imaging::ImageBuffer& in = picture->pixels;
    const int rows = in.Height();
    const int width = in.Width();
    if (rows > kType2Rows) {
        LogPairValue(kErr, "stamp too large", rows);
        return KVX_ERR_INV_PARAMETER;
    }
    if (rows == kType2Rows) return KVX_OK;

    // Default: upside down at the top. Turned: mirrored, ending one row above
    // the bottom.
    const bool turned = orientation == Type2Orientation::Turned;
    const int top = turned ? kType2Rows - rows - 1 : 0;
    // The padded stamp transposed at once: output row x is padded column x.
    codec::Picture out;
    out.depth = codec::Depth::Grey;
    out.pixels = imaging::ImageBuffer(kType2Rows, width, 1, kBlank, {in.Res().y, in.Res().x});
    for (int y = 0; y < rows; ++y) {
        const int sourceRow = turned ? y : rows - 1 - y;
        for (int x = 0; x < width; ++x) {
            const int sourceColumn = turned ? width - 1 - x : x;
            out.pixels.At(top + y, x) = in.At(sourceColumn, sourceRow);
        }
    }
    const auto bytes = codec::Encode(out, {.format = codec::Format::Bmp});
    if (!bytes ||
        imaging::output::WriteFileAtomically(path, *bytes) != imaging::output::WriteFailure::None) {
        LogTriple(kErr, "error writing", path.c_str());
        return KVX_ERR_GENERIC;
    }
    return KVX_OK;
}

KVXResult ConvertType2Bitmap(const std::string& path, std::vector<std::uint8_t>* nozzleData) {
    const auto picture = ReadGrey(path);
    if (!picture) {
        LogTriple(kErr, "error reading", path.c_str());
        return KVX_ERR_INV_PARAMETER;
    }
    const imaging::ImageBuffer& image = picture->pixels;
    if (image.Width() != kType2Rows) {
        LogPairValue(kWar, "invalid print width", image.Width());
        return KVX_ERR_INV_PARAMETER;
    }
    int columns = image.Height();
    if (columns > kType2MaxColumns) {
        LogPairValue(kWar, "print area too long - truncated", columns);
        columns = kType2MaxColumns;
    }
    std::vector<std::uint8_t> data(static_cast<std::size_t>(columns) * kType2BytesPerColumn, 0);
    for (int column = 0; column < columns; ++column) {
        const std::uint8_t* row = image.Row(column);
        std::uint8_t* out = data.data() + static_cast<std::size_t>(column) * kType2BytesPerColumn;
        for (int a = 0; a < kAddresses; ++a) {
            unsigned word = 0;
            for (int j = 0; j < kPrimitives; ++j) {
                const int nozzle = kNozzles[a][j];
                // Odd nozzles 1..299 are pixels 0..149: the row exactly.
                if (nozzle != 0 && row[(nozzle - 1) / 2] < kInkBelow) word |= 1U << (2 * j);
            }
            out[2 * a] = static_cast<std::uint8_t>(word);
            out[2 * a + 1] = static_cast<std::uint8_t>(word >> 8);
        }
    }
    if (nozzleData != nullptr) *nozzleData = std::move(data);
    return KVX_OK;
}

}  // namespace kovran::inkjet
