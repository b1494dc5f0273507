#include "symbol_images.h"

#include <zint.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>

namespace kovran::decoders::barcode::testing {

std::vector<bool> ZintModules(int zintSymbology, const std::string& data, int option2) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    if (!symbol) throw std::runtime_error("zint: no symbol");
    symbol->symbology = zintSymbology;
    symbol->option_2 = option2;
    symbol->show_hrt = 0;
    symbol->scale = 0.5f;  // one pixel per module
    symbol->whitespace_width = 0;
    symbol->border_width = 0;
    const int rc = ZBarcode_Encode_and_Buffer(symbol.get(),
                                              reinterpret_cast<const unsigned char*>(data.data()),
                                              static_cast<int>(data.size()), 0);
    if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("zint: ") + symbol->errtxt);
    const int w = symbol->bitmap_width;
    const int h = symbol->bitmap_height;
    if (w <= 0 || h <= 0 || symbol->bitmap == nullptr) throw std::runtime_error("zint: no bitmap");
    // The row a third of the way down crosses every bar (guards and digits).
    const unsigned char* row = symbol->bitmap + static_cast<std::size_t>(h / 3) * w * 3;
    std::vector<bool> modules(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) modules[static_cast<std::size_t>(x)] = row[x * 3] < 128;
    // Trim the paper zint leaves around the symbol.
    auto first = std::find(modules.begin(), modules.end(), true);
    auto last = std::find(modules.rbegin(), modules.rend(), true).base();
    if (first >= last) throw std::runtime_error("zint: empty symbol");
    return std::vector<bool>(first, last);
}

std::vector<int> ModuleWidths(const std::vector<bool>& modules) {
    std::vector<int> widths;
    for (std::size_t i = 0; i < modules.size();) {
        std::size_t j = i;
        while (j < modules.size() && modules[j] == modules[i]) ++j;
        widths.push_back(static_cast<int>(j - i));
        i = j;
    }
    return widths;
}

namespace {

// Share of the pixel [x0, x1) covered by bars.
double Coverage(const std::vector<bool>& modules, double m, double x0, double x1) {
    double covered = 0.0;
    const auto n = static_cast<long>(modules.size());
    long k0 = static_cast<long>(std::floor(x0 / m));
    const long k1 = static_cast<long>(std::floor(x1 / m));
    for (long k = std::max(0L, k0); k <= std::min(k1, n - 1); ++k) {
        if (!modules[static_cast<std::size_t>(k)]) continue;
        const double a = std::max(x0, k * m);
        const double b = std::min(x1, (k + 1) * m);
        if (b > a) covered += b - a;
    }
    return covered / (x1 - x0);
}

std::vector<double> GaussKernel(double sigma) {
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<double> k(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        k[static_cast<std::size_t>(i + radius)] = std::exp(-0.5 * i * i / (sigma * sigma));
        sum += k[static_cast<std::size_t>(i + radius)];
    }
    for (double& v : k) v /= sum;
    return k;
}

}  // namespace

imaging::ImageBuffer RenderSymbol(const std::vector<bool>& modules, const Degradation& d,
                                  int height, int quietModules, int dpi, int minWidth) {
    const double m = d.modulePixels;
    const double symbolWidth = static_cast<double>(modules.size()) * m;
    const double slope = std::tan(d.skewDegrees * M_PI / 180.0);
    const int lean = static_cast<int>(std::ceil(std::fabs(slope) * height));
    const int width =
        std::max(minWidth, static_cast<int>(std::ceil(symbolWidth + 2 * quietModules * m)) + lean);
    std::vector<double> grey(static_cast<std::size_t>(width) * height, d.paper);
    const int top = height / 10;
    const int bottom = height - height / 10;
    const double left0 = (width - symbolWidth - lean) / 2.0 + (slope < 0 ? lean : 0);
    for (int y = top; y < bottom; ++y) {
        const double left = left0 + slope * (y - top);
        for (int x = 0; x < width; ++x) {
            const double c = Coverage(modules, m, x - left, x + 1 - left);
            grey[static_cast<std::size_t>(y) * width + x] = d.paper - c * (d.paper - d.ink);
        }
    }
    if (d.blurSigma > 0.0) {
        const std::vector<double> k = GaussKernel(d.blurSigma);
        const int radius = static_cast<int>(k.size() / 2);
        std::vector<double> tmp(grey.size());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double s = 0.0;
                for (int i = -radius; i <= radius; ++i) {
                    const int xx = std::clamp(x + i, 0, width - 1);
                    s += k[static_cast<std::size_t>(i + radius)] *
                         grey[static_cast<std::size_t>(y) * width + xx];
                }
                tmp[static_cast<std::size_t>(y) * width + x] = s;
            }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double s = 0.0;
                for (int i = -radius; i <= radius; ++i) {
                    const int yy = std::clamp(y + i, 0, height - 1);
                    s += k[static_cast<std::size_t>(i + radius)] *
                         tmp[static_cast<std::size_t>(yy) * width + x];
                }
                grey[static_cast<std::size_t>(y) * width + x] = s;
            }
    }
    std::mt19937 rng(d.seed);
    std::normal_distribution<double> noise(0.0, d.noiseSigma > 0 ? d.noiseSigma : 1.0);
    imaging::ImageBuffer image(width, height, 1, 0,
                               {static_cast<double>(dpi), static_cast<double>(dpi)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = grey[static_cast<std::size_t>(y) * width + x];
            if (d.noiseSigma > 0.0) v += noise(rng);
            image.At(x, y) = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
        }
    return image;
}

}  // namespace kovran::decoders::barcode::testing

namespace kovran::decoders::barcode::testing {

std::string ZintText(int zintSymbology, const std::string& data, int option2) {
    std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> symbol(ZBarcode_Create(), ZBarcode_Delete);
    symbol->symbology = zintSymbology;
    symbol->option_2 = option2;
    const int rc =
        ZBarcode_Encode(symbol.get(), reinterpret_cast<const unsigned char*>(data.data()),
                        static_cast<int>(data.size()));
    if (rc >= ZINT_ERROR) throw std::runtime_error(std::string("zint: ") + symbol->errtxt);
    return reinterpret_cast<const char*>(symbol->text);
}

}  // namespace kovran::decoders::barcode::testing
