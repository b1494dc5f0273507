#include "decoders/datamatrix/module_reading.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "decoders/datamatrix/symbol_sizes.h"

namespace kovran::decoders::datamatrix {

namespace {

constexpr int kMaxLevels = 29;
constexpr cv::RotateFlags kTurns[] = {cv::ROTATE_90_CLOCKWISE, cv::ROTATE_180,
                                      cv::ROTATE_90_COUNTERCLOCKWISE};
constexpr std::uint8_t kDarkBelow = 128;   // grey: dark means below this
constexpr std::uint8_t kLightAbove = 128;  // binary: light means above this
// From this value of the list on, failures are counted; five of them end
// the list early (a candidate that is not a symbol stops costing time).
constexpr int kCountFailuresFrom = 23;
constexpr int kFailuresToStop = 5;

struct Run {
    int start = 0;
    int end = 0;  // one past the last pixel
    int Length() const { return end - start; }
};

// The longest dark run along one line (pixel i at `at(i)`), replacing an
// earlier one only when longer by more than the tolerance.
template <typename At>
void LongestDarkRun(int length, At at, int tolerance, Run* best, bool* replaced) {
    int i = 0;
    while (i < length) {
        while (i < length && at(i) >= kDarkBelow) ++i;
        const int start = i;
        while (i < length && at(i) < kDarkBelow) ++i;
        if (i > start && i - start > best->Length() + tolerance) {
            *best = {start, i};
            *replaced = true;
        }
    }
}

std::optional<std::array<cv::Point2f, 4>> BoundingBoxCorners(const cv::Mat& grey) {
    if (grey.cols < 32 || grey.rows < 32) return std::nullopt;
    int left = grey.cols, right = -1, top = grey.rows, bottom = -1;
    for (int y = 0; y < grey.rows; ++y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y);
        for (int x = 0; x < grey.cols; ++x) {
            if (row[x] < 129) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right < 0) return std::nullopt;
    return std::array<cv::Point2f, 4>{cv::Point2f(left, top), cv::Point2f(left, bottom),
                                      cv::Point2f(right, bottom), cv::Point2f(right, top)};
}

float Distance(cv::Point2f a, cv::Point2f b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

// The symbol cut out along its corners and binarised at `level`: above is
// light (255), the rest dark (0).
std::optional<cv::Mat> Crop(const cv::Mat& grey, const std::array<cv::Point2f, 4>& c, int level,
                            const MessageSink& log) {
    const int width = static_cast<int>(std::min(Distance(c[0], c[3]), Distance(c[1], c[2])));
    const int height = static_cast<int>(std::min(Distance(c[0], c[1]), Distance(c[3], c[2])));
    if (width < 1 || height < 1) {
        if (log) log("invalid imageCropped");
        return std::nullopt;
    }
    const cv::Point2f source[4] = {c[0], c[3], c[2], c[1]};
    const cv::Point2f target[4] = {{0, 0},
                                   {static_cast<float>(width), 0},
                                   {static_cast<float>(width), static_cast<float>(height)},
                                   {0, static_cast<float>(height)}};
    cv::Mat cropped;
    // One pixel more than the distance both ways: the corner pixels are
    // part of the symbol.
    cv::warpPerspective(grey, cropped, cv::getPerspectiveTransform(source, target),
                        cv::Size(width + 1, height + 1), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                        cv::Scalar(255));
    if (cropped.empty()) {
        if (log) log("invalid imageCropped");
        return std::nullopt;
    }
    cv::threshold(cropped, cropped, level, 255, cv::THRESH_BINARY);
    return cropped;
}

// The mean of the first group of ten consecutive runs whose lengths all lie
// within the tolerance of their rounded mean, and the line's run count.
struct LineEstimate {
    double mean = 0;
    int sum = 0;
    int runs = 0;
};

// Whether ten runs (of total `sum`) all lie within the tolerance of their
// rounded mean: half the mean below 5 pixels, a quarter of the mean plus 1
// above 5 and below 8, a quarter otherwise. In tenths of a pixel, so that
// the test is exact.
bool GroupFits(const int* runs, int sum) {
    const int rounded = (sum + 5) / 10;
    for (int k = 0; k < 10; ++k) {
        const int off = std::abs(runs[k] - rounded);
        const bool fits = sum < 50
                              ? 20 * off <= sum
                              : (sum > 50 && sum < 80 ? 40 * off <= sum + 40 : 40 * off <= sum);
        if (!fits) return false;
    }
    return true;
}

// The estimate of every row of an image (0 dark, 255 light).
std::vector<std::optional<LineEstimate>> EstimateRows(const cv::Mat& image) {
    constexpr int kGroup = 10;
    std::vector<std::optional<LineEstimate>> estimates(image.rows);
    std::vector<int> runs;
    for (int y = 0; y < image.rows; ++y) {
        const std::uint8_t* line = image.ptr<std::uint8_t>(y);
        runs.clear();
        int i = 0;
        while (i < image.cols) {
            const bool light = line[i] > kLightAbove;
            const int start = i;
            while (i < image.cols && (line[i] > kLightAbove) == light) ++i;
            runs.push_back(i - start);
        }
        if (runs.size() < kGroup) continue;
        int sum = 0;
        for (int k = 0; k < kGroup; ++k) sum += runs[k];
        for (std::size_t first = 0;; ++first) {
            if (GroupFits(&runs[first], sum)) {
                estimates[y] = LineEstimate{sum / static_cast<double>(kGroup), sum,
                                            static_cast<int>(runs.size())};
                break;
            }
            if (first + kGroup >= runs.size()) break;
            sum += runs[first + kGroup] - runs[first];
        }
    }
    return estimates;
}

// Whether a line's estimate fits the line: as many modules of the mean run
// length in the whole length as there are runs. The strict test floors the
// quotient; the lenient one (used when no line passes the strict test)
// rounds it, since the crop may lose a pixel to interpolation.
bool Accepted(const LineEstimate& e, int length, bool lenient) {
    const double modules = length / e.mean;
    const int count = lenient ? static_cast<int>(std::lround(modules))
                              : static_cast<int>(static_cast<long long>(length) * 10 / e.sum);
    return count == e.runs && count != 1;
}

struct Starts {
    double x0 = 0;
    double y0 = 0;
};

// Where the data begins: after the solid left border and after the light
// top module of the right clock column.
Starts FindStartings(const cv::Mat& b, const ModuleSize& size) {
    Starts starts{size.width, size.height};
    const int rowFrom = static_cast<int>(size.height);
    const int rowTo = std::min(b.rows - 1, static_cast<int>(3 * size.height));
    const int scanWidth = std::min(b.cols, static_cast<int>(3 * size.width));
    for (int y = rowFrom; y <= rowTo; ++y) {
        const std::uint8_t* row = b.ptr<std::uint8_t>(y);
        int x = 0;
        while (x < scanWidth && row[x] > kLightAbove) ++x;
        if (x >= scanWidth) continue;
        while (x < scanWidth && row[x] <= kLightAbove) ++x;
        if (x < 2 * size.width) {
            starts.x0 = x == 1 ? size.width / 2 : x;
            break;
        }
    }
    const int columnTo = std::max(0, b.cols - static_cast<int>(3 * size.width));
    const int scanHeight = std::min(b.rows, static_cast<int>(3 * size.height));
    for (int x = b.cols - 1; x >= columnTo; --x) {
        int y = 0;
        while (y < scanHeight && b.at<std::uint8_t>(y, x) <= kLightAbove) ++y;
        if (y >= scanHeight) continue;
        while (y < scanHeight && b.at<std::uint8_t>(y, x) > kLightAbove) ++y;
        if (y < 2 * size.height) {
            starts.y0 = std::max<double>(y, size.height / 2);
            break;
        }
    }
    return starts;
}

// The data regions' modules sampled on the grid from (x0, y0); nullopt when
// a sample falls outside the image.
std::optional<ModuleMatrix> Sample(const cv::Mat& b, const SymbolSize& size, const ModuleSize& m,
                                   double x0, double y0) {
    ModuleMatrix matrix;
    matrix.rows = size.MatrixRows();
    matrix.columns = size.MatrixColumns();
    if (size.regionsVertical < 1 || size.regionsHorizontal < 1 || matrix.rows < 1 ||
        matrix.columns < 1 || matrix.rows > kMaxMatrixModules || matrix.columns > kMaxMatrixModules)
        return std::nullopt;
    matrix.modules.assign(static_cast<std::size_t>(matrix.rows) * matrix.columns, 0);
    for (int ry = 0; ry < size.regionsVertical; ++ry) {
        for (int i = 0; i < size.regionRows; ++i) {
            const int r = ry * (size.regionRows + 2) + 1 + i;
            const int py = static_cast<int>(y0 + std::floor((r - 1) * m.height + m.height / 2));
            if (py < 0 || py >= b.rows) return std::nullopt;
            const std::uint8_t* row = b.ptr<std::uint8_t>(py);
            for (int rx = 0; rx < size.regionsHorizontal; ++rx) {
                for (int j = 0; j < size.regionColumns; ++j) {
                    const int c = rx * (size.regionColumns + 2) + 1 + j;
                    const int px =
                        static_cast<int>(x0 + std::floor((c - 1) * m.width + m.width / 2));
                    if (px < 0 || px >= b.cols) return std::nullopt;
                    matrix.modules[static_cast<std::size_t>(ry * size.regionRows + i) *
                                       matrix.columns +
                                   rx * size.regionColumns + j] = row[px] < kDarkBelow ? 1 : 0;
                }
            }
        }
    }
    return matrix;
}

enum class Step { Found, Symbol, Size, Match, Sampling, Read };

// The codewords of a sampled grid, corrected and decoded. Without memory
// for its buffers the grid is dropped with the failing step's message.
CodewordOutcome ReadAndDecode(const SymbolSize& size, const ModuleMatrix& matrix,
                              const MessageSink& log) {
    std::vector<std::uint8_t> codewords;
    try {
        codewords = ReadMatrix(matrix);
    } catch (const std::bad_alloc&) {
        if (log) log("error allocating codewords");
        return {};
    }
    try {
        return DecodeCodewords(size, codewords, log);
    } catch (const std::bad_alloc&) {
        if (log) log("memory error");
        return {};
    }
}

}  // namespace

std::vector<int> BinarisationLevels(int threshold) {
    const int c = threshold / 2;
    std::vector<int> levels{c};
    for (int step : {10, 5, 3, 1}) {
        for (int v = c; v >= 5 && static_cast<int>(levels.size()) < kMaxLevels; v -= step)
            levels.push_back(v);
        for (int v = c; v <= threshold && static_cast<int>(levels.size()) < kMaxLevels; v += step)
            levels.push_back(v);
    }
    if (levels.size() > kMaxLevels) levels.resize(kMaxLevels);
    return levels;
}

std::optional<std::array<cv::Point2f, 4>> FindDataMatrix(const cv::Mat& grey, int tolerance,
                                                         int resolution, int typeDoc) {
    const int minimum = resolution * 32 / 300;
    if (grey.empty() || grey.cols < minimum || grey.rows < minimum) return std::nullopt;
    const bool cornerRules = IsCornerDocumentType(typeDoc);

    Run left;
    int leftColumn = -1;
    for (int x = 0; x < grey.cols; ++x) {
        bool replaced = false;
        LongestDarkRun(
            grey.rows, [&](int y) { return grey.at<std::uint8_t>(y, x); }, tolerance, &left,
            &replaced);
        if (replaced) leftColumn = x;
    }
    Run bottom;
    int bottomRow = -1;
    for (int y = grey.rows - 1; y >= 0; --y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y);
        bool replaced = false;
        LongestDarkRun(
            grey.cols, [&](int x) { return row[x]; }, tolerance, &bottom, &replaced);
        if (replaced) bottomRow = y;
    }

    std::optional<std::array<cv::Point2f, 4>> corners;
    const int meet = resolution * 10 / 300;
    if (leftColumn >= 0 && bottomRow > 15 && bottom.end - 1 > 15 &&
        std::abs((left.end - 1) - bottomRow) <= meet &&
        std::abs(leftColumn - bottom.start) <= meet) {
        const cv::Point2f top(leftColumn, left.start);
        const cv::Point2f corner(std::min(leftColumn, bottom.start),
                                 std::max(left.end - 1, bottomRow));
        const cv::Point2f end(bottom.end - 1, bottomRow);
        const cv::Point2f fourth = top + end - corner;
        std::array<cv::Point2f, 4> l{top, corner, end, fourth};
        for (cv::Point2f& p : l) {
            p.x = std::clamp(p.x, 0.0f, static_cast<float>(grey.cols - 1));
            p.y = std::clamp(p.y, 0.0f, static_cast<float>(grey.rows - 1));
        }
        corners = l;
    }
    if (cornerRules) {
        bool useBox = !corners;
        if (corners) {
            const cv::Rect box =
                cv::boundingRect(std::vector<cv::Point2f>(corners->begin(), corners->end()));
            const int least = resolution * 130 / 300;
            useBox = box.width < least || box.height < least ||
                     std::abs(box.width - box.height) > resolution * 10 / 300;
        }
        if (useBox) corners = BoundingBoxCorners(grey);
    }
    return corners;
}

std::optional<ModuleSize> FindPixelSize(const cv::Mat& binary) {
    if (std::min(binary.cols, binary.rows) <= 9) return std::nullopt;
    // Columns are read as the rows of the transposed image.
    cv::Mat columns;
    cv::transpose(binary, columns);
    const auto rowEstimates = EstimateRows(binary);
    const auto columnEstimates = EstimateRows(columns);
    for (bool lenient : {false, true}) {
        // The last accepted row from the top, the first accepted column from
        // the right.
        std::optional<double> width;
        for (const auto& e : rowEstimates)
            if (e && Accepted(*e, binary.cols, lenient)) width = e->mean;
        std::optional<double> height;
        for (auto it = columnEstimates.rbegin(); it != columnEstimates.rend() && !height; ++it)
            if (*it && Accepted(**it, binary.rows, lenient)) height = (*it)->mean;
        if (!width && !height) continue;
        return ModuleSize{width.value_or(*height), height.value_or(*width)};
    }
    return std::nullopt;
}

bool FailedGrids::FirstTime(const SymbolSize& size, const std::vector<std::uint8_t>& modules) {
    std::string key{static_cast<char>(size.rows), static_cast<char>(size.columns)};
    key.append(modules.begin(), modules.end());
    if (failed_.contains(key)) return false;
    if (failed_.size() < kMaxKept) failed_.insert(std::move(key));
    return true;
}

ModuleReadingOutcome ReadModules(const cv::Mat& straightened, const ModuleReadingInput& input,
                                 FailedGrids* failedGrids, const MessageSink& log) {
    ModuleReadingOutcome outcome;
    const int threshold = input.threshold;
    const int margin = input.resolution * 14 / 300;  // L: how far the sampling origin may move
    cv::Mat previous;
    // The L is looked for on the grey image, the same for every value. The
    // straightening keeps the symbol's quarter turn (a symbol upside down,
    // or a rectangle taken by its short side), so when the L is not at the
    // left and bottom the image is turned until it is.
    std::optional<std::array<cv::Point2f, 4>> corners;
    cv::Mat turned = straightened;
    for (int turn = 0; turn < 4 && !corners; ++turn) {
        if (turn > 0) cv::rotate(straightened, turned, kTurns[turn - 1]);
        for (int tolerance = 0; tolerance <= 2 && !corners; ++tolerance)
            corners = FindDataMatrix(turned, tolerance, input.resolution, input.context.typeDoc);
    }
    int failures = 0;
    const std::vector<int> levels = BinarisationLevels(threshold);
    for (int index = 0; index < static_cast<int>(levels.size()); ++index) {
        const int v = levels[index];
        if (v < 5 || v > threshold) continue;
        const bool counting = index >= kCountFailuresFrom;
        // Failures before sampling may end the list; a failed sampling is
        // only counted.
        const auto fail = [&](Step step) {
            if (!counting) return false;
            if (step != Step::Sampling && failures >= kFailuresToStop) return true;
            ++failures;
            return false;
        };

        std::optional<cv::Mat> binary;
        if (corners) binary = Crop(turned, *corners, v, log);
        if (!binary) {
            if (fail(Step::Found)) break;
            continue;
        }
        if (!previous.empty() && previous.size() == binary->size() &&
            cv::countNonZero(previous != *binary) == 0)
            continue;
        try {
            previous = binary->clone();
        } catch (const std::bad_alloc&) {
            if (log) log("unexpected memory error; skipping");
            continue;
        } catch (const cv::Exception&) {
            if (log) log("unexpected memory error; skipping");
            continue;
        }

        const std::optional<ModuleSize> module = FindPixelSize(*binary);
        if (!module || module->width <= 0 || module->height <= 0) {
            if (fail(Step::Symbol)) break;
            continue;
        }
        const Starts starts = FindStartings(*binary, *module);
        const int columns = static_cast<int>(binary->cols / module->width);
        const int rows = static_cast<int>(binary->rows / module->height);
        const std::optional<SymbolSize> size = MatchSize(rows, columns);
        if (!size) {
            if (fail(Step::Match)) break;
            continue;
        }

        bool sampled = false;
        std::optional<std::string> text;
        for (int dx = 0; dx <= margin && !text; ++dx) {
            bool outside = false;
            for (int dy = 0; dy <= margin && !text; ++dy) {
                const std::optional<ModuleMatrix> matrix =
                    Sample(*binary, *size, *module, starts.x0 + dx, starts.y0 + dy);
                if (!matrix) {
                    outside = true;
                    break;
                }
                sampled = true;
                outcome.reachedSampling = true;
                // A grid seen before (a shift within one module, another
                // level or candidate) would give the same answer again.
                if (!failedGrids->FirstTime(*size, matrix->modules)) continue;
                const CodewordOutcome read = ReadAndDecode(*size, *matrix, log);
                if (read.result == CodewordResult::Read) text = read.text;
            }
            if (outside) break;
        }
        if (sampled)
            failures = 0;
        else if (fail(Step::Sampling))
            break;
        if (!text || text->empty()) continue;
        // On a document with microperforation the symbol carries the whole
        // cheque record; a short text is a misread of something else.
        if (input.context.microperforationZone && text->size() < 29) continue;
        outcome.text = std::move(text);
        return outcome;
    }
    return outcome;
}

}  // namespace kovran::decoders::datamatrix
