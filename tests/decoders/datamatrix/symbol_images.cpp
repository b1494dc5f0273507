#include "symbol_images.h"

#include <dmtx.h>
#include <zint.h>

#include <cmath>
#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imaging/mat_adapter.h"

namespace kovran::test {

namespace {

struct DmtxEncodeDeleter {
    void operator()(DmtxEncode* e) const { dmtxEncodeDestroy(&e); }
};
struct ZintDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

}  // namespace

std::optional<ModuleGrid> EncodeWithDmtx(std::string_view text, int symbolSize, int scheme) {
    std::unique_ptr<DmtxEncode, DmtxEncodeDeleter> encode(dmtxEncodeCreate());
    if (!encode) return std::nullopt;
    dmtxEncodeSetProp(encode.get(), DmtxPropModuleSize, 1);
    dmtxEncodeSetProp(encode.get(), DmtxPropMarginSize, 0);
    dmtxEncodeSetProp(encode.get(), DmtxPropSizeRequest, symbolSize);
    dmtxEncodeSetProp(encode.get(), DmtxPropScheme, scheme);
    std::string bytes(text);
    if (dmtxEncodeDataMatrix(encode.get(), static_cast<int>(bytes.size()),
                             reinterpret_cast<unsigned char*>(bytes.data())) != DmtxPass)
        return std::nullopt;
    DmtxImage* image = encode->image;
    ModuleGrid grid;
    grid.columns = dmtxImageGetProp(image, DmtxPropWidth);
    grid.rows = dmtxImageGetProp(image, DmtxPropHeight);
    grid.dark.resize(static_cast<std::size_t>(grid.rows) * grid.columns);
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) {
            int value = 0;
            dmtxImageGetPixelValue(image, c, r, 0, &value);
            grid.dark[static_cast<std::size_t>(r) * grid.columns + c] = value < 128 ? 1 : 0;
        }
    }
    // libdmtx counts rows from the bottom: turn the grid so that the solid
    // border is the bottom row.
    bool topSolid = true;
    for (int c = 0; c < grid.columns; ++c) topSolid = topSolid && grid.At(0, c);
    if (topSolid) {
        ModuleGrid flipped = grid;
        for (int r = 0; r < grid.rows; ++r)
            for (int c = 0; c < grid.columns; ++c)
                flipped.dark[static_cast<std::size_t>(r) * grid.columns + c] =
                    grid.At(grid.rows - 1 - r, c);
        grid = flipped;
    }
    return grid;
}

std::optional<ModuleGrid> EncodeWithZint(int symbology, std::string_view text, int option2) {
    std::unique_ptr<zint_symbol, ZintDeleter> symbol(ZBarcode_Create());
    if (!symbol) return std::nullopt;
    symbol->symbology = symbology;
    symbol->option_2 = option2;
    symbol->input_mode = DATA_MODE;
    if (ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(text.data()),
                        static_cast<int>(text.size())) >= ZINT_ERROR)
        return std::nullopt;
    ModuleGrid grid;
    grid.rows = symbol->rows;
    grid.columns = symbol->width;
    grid.dark.resize(static_cast<std::size_t>(grid.rows) * grid.columns);
    for (int r = 0; r < grid.rows; ++r)
        for (int c = 0; c < grid.columns; ++c)
            grid.dark[static_cast<std::size_t>(r) * grid.columns + c] =
                (symbol->encoded_data[r][c / 8] >> (c % 8)) & 1;
    return grid;
}

imaging::ImageBuffer Render(const ModuleGrid& grid, const RenderOptions& o) {
    const int quiet = o.quietModules;
    const int width =
        static_cast<int>(std::ceil((grid.columns + 2 * quiet) * o.moduleSize)) + 2 * o.margin;
    const int height =
        static_cast<int>(std::ceil((grid.rows + 2 * quiet) * o.moduleSize)) + 2 * o.margin;
    cv::Mat image(height, width, CV_8UC1, cv::Scalar(o.paper));
    for (int y = 0; y < height; ++y) {
        const int r = static_cast<int>(std::floor((y - o.margin + 0.5) / o.moduleSize)) - quiet;
        if (r < 0 || r >= grid.rows) continue;
        for (int x = 0; x < width; ++x) {
            const int c = static_cast<int>(std::floor((x - o.margin + 0.5) / o.moduleSize)) - quiet;
            if (c >= 0 && c < grid.columns && grid.At(r, c)) image.at<std::uint8_t>(y, x) = o.ink;
        }
    }
    for (int turn = 0; turn < ((o.quarterTurns % 4) + 4) % 4; ++turn)
        cv::rotate(image, image, cv::ROTATE_90_COUNTERCLOCKWISE);
    if (o.angleDegrees != 0) {
        const cv::Point2f centre(image.cols / 2.0f, image.rows / 2.0f);
        cv::Mat m = cv::getRotationMatrix2D(centre, o.angleDegrees, 1.0);
        const cv::Rect2f box =
            cv::RotatedRect(centre, image.size(), o.angleDegrees).boundingRect2f();
        m.at<double>(0, 2) += box.width / 2.0 - centre.x;
        m.at<double>(1, 2) += box.height / 2.0 - centre.y;
        cv::Mat rotated;
        cv::warpAffine(image, rotated, m, box.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                       cv::Scalar(o.paper));
        image = rotated;
    }
    if (o.blurSigma > 0) cv::GaussianBlur(image, image, cv::Size(0, 0), o.blurSigma);
    if (o.noiseSigma > 0) {
        cv::RNG rng(o.seed);
        cv::Mat noise(image.size(), CV_16SC1);
        rng.fill(noise, cv::RNG::NORMAL, 0, o.noiseSigma);
        cv::Mat wide;
        image.convertTo(wide, CV_16SC1);
        wide += noise;
        wide.convertTo(image, CV_8UC1);
    }
    const imaging::Resolution res{static_cast<double>(o.resolution),
                                  static_cast<double>(o.resolution)};
    imaging::ImageBuffer buffer(image.cols, image.rows, 1, 0, res);
    for (int y = 0; y < image.rows; ++y)
        std::copy_n(image.ptr<std::uint8_t>(y), image.cols, buffer.Row(y));
    return buffer;
}

imaging::ImageBuffer NoiseImage(int width, int height, std::uint64_t seed, int resolution) {
    imaging::ImageBuffer buffer(width, height, 1, 0,
                                {static_cast<double>(resolution), static_cast<double>(resolution)});
    cv::Mat view = imaging::ToMat(buffer.View());
    cv::RNG rng(seed);
    rng.fill(view, cv::RNG::UNIFORM, 0, 256);
    return buffer;
}

}  // namespace kovran::test
