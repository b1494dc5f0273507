// Reading the modules of a straightened candidate: the L of the finder
// pattern, the module size, the start of the data, the sampling grid, the
// codewords and their correction, at a list of binarisation levels.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "decoders/datamatrix/codewords.h"
#include "decoders/datamatrix/document_context.h"
#include "decoders/datamatrix/symbol_sizes.h"

namespace kovran::decoders::datamatrix {

// Module grids whose codewords failed, kept over one zone's decoding: the
// codeword decoder gives the same answer for the same grid, and the many
// levels, origins and candidates of a zone sample the same grid again and
// again.
class FailedGrids {
  public:
    // False when the grid failed before; otherwise remembers it.
    bool FirstTime(const SymbolSize& size, const std::vector<std::uint8_t>& modules);

  private:
    static constexpr std::size_t kMaxKept = 20000;
    std::unordered_set<std::string> failed_;
};

struct ModuleReadingInput {
    int resolution = 0;  // dpi of the zone (R)
    int threshold = 0;   // of the search that found the candidate
    DocumentContext context;
};

struct ModuleReadingOutcome {
    std::optional<std::string> text;
    bool reachedSampling = false;  // some value got as far as the sampling grid
};

// The binarisation levels of one candidate, at most 29, in walking order.
std::vector<int> BinarisationLevels(int threshold);

// The four corners of the symbol in the straightened grey image: the top
// of the solid left border, the outer corner of the L, the end of the solid
// bottom border and the corner completing the parallelogram.
std::optional<std::array<cv::Point2f, 4>> FindDataMatrix(const cv::Mat& grey, int tolerance,
                                                         int resolution, int typeDoc);

struct ModuleSize {
    double width = 0;
    double height = 0;
};
// Module width and height of a binarised crop (0 dark, 255 light).
std::optional<ModuleSize> FindPixelSize(const cv::Mat& binary);

// Walks the binarisation levels over a straightened grey candidate.
ModuleReadingOutcome ReadModules(const cv::Mat& straightened, const ModuleReadingInput& input,
                                 FailedGrids* failedGrids, const MessageSink& log);

}  // namespace kovran::decoders::datamatrix
