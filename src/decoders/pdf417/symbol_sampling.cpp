#include "decoders/pdf417/symbol_sampling.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>

#include <opencv2/imgproc.hpp>

#include "api/log.h"
#include "decoders/pdf417/codeword_table.h"
#include "decoders/pdf417/codewords.h"
#include "imaging/mat_adapter.h"

namespace kovran::decoders::pdf417 {

namespace {

constexpr int kLeastZoneWidth = 128;
constexpr int kLeastZoneHeight = 16;
constexpr int kLeastSymbolWidth = 32;
constexpr int kLeastSymbolHeight = 4;
constexpr int kLeastGridWidth = 150;
constexpr int kMostGridWidth = 3888;
constexpr int kSpeckColumns = 3;
constexpr int kEdgeWindow = 50;
constexpr int kEdgeInkCount = 10;
constexpr int kInkLevel = 100;
constexpr int kLeastSkewHeight = 20;
constexpr int kLeastSkewWidth = 100;
constexpr double kLeastAngle = 0.001;
constexpr float kMidGrey = 128.0F;
constexpr int kMostCodewordColumns = 63;
constexpr int kAdjustments = 5;
constexpr int kUnknown = -1;
constexpr int kLocateRetries = 4;
constexpr long kLeastRowProfile = 100;
constexpr int kLeastProfileRows = 20;
constexpr std::size_t kMostBands = 149;
constexpr double kLocateRaise = 1.2;

using Distances = std::array<int, 6>;

// Edge positions along one line, fractional; even indexes open a bar.
struct Line {
    std::vector<float> edges;
};

// The level between ink and paper of one line: halfway between its darkest
// and lightest twentieth, so that a darker or lighter cleaning, or blur that
// greys the narrow elements, does not shift the edges one way.
float MidLevel(const std::uint8_t* row, int from, int to) {
    std::array<int, 256> histogram{};
    for (int x = from; x < to; ++x) ++histogram[row[x]];
    const int count = to - from;
    const int tail = count / 20;
    int seen = 0;
    int low = 0;
    while (low < 255 && seen + histogram[low] <= tail) seen += histogram[low++];
    seen = 0;
    int high = 255;
    while (high > 0 && seen + histogram[high] <= tail) seen += histogram[high--];
    return high - low < 32 ? kMidGrey : 0.5F * static_cast<float>(low + high);
}

Line EdgesOf(const std::uint8_t* row, int width, float level) {
    Line line;
    bool dark = false;  // the zone's margin is paper
    for (int x = 0; x < width; ++x) {
        const bool isDark = row[x] < level;
        if (isDark == dark) continue;
        float at = static_cast<float>(x);
        if (x > 0 && row[x - 1] != row[x])
            at = static_cast<float>(x - 1) + (row[x - 1] - level) / float(row[x - 1] - row[x]);
        line.edges.push_back(at);
        dark = isDark;
    }
    if (dark) line.edges.push_back(static_cast<float>(width));
    return line;
}

// The six distances of the eight elements from bar edge `i`, in modules of
// the eight elements' own width, with each one's rounding residue.
struct Measured {
    Distances rounded{};
    std::array<float, 6> exact{};
    float width = 0.0F;
};

Measured Measure(const Line& line, std::size_t i) {
    Measured m;
    m.width = line.edges[i + 8] - line.edges[i];
    for (int k = 0; k < 6; ++k) {
        m.exact[k] = (line.edges[i + k + 2] - line.edges[i + k]) * kModulesPerCodeword / m.width;
        m.rounded[k] = static_cast<int>(std::lround(m.exact[k]));
    }
    return m;
}

int BitsDiffering(std::uint32_t a, std::uint32_t b) {
    return __builtin_popcount(a ^ b);
}

enum class Guard { Start, Stop, None };

Guard GuardOf(const Measured& m) {
    for (int d : m.rounded)
        if (d < 1 || d > 15) return Guard::None;
    const std::uint32_t key = DistanceKey(m.rounded);
    const int toStart = BitsDiffering(key, kStartDistances);
    const int toStop = BitsDiffering(key, kStopDistances);
    if (toStart == 0 || (toStart < 5 && toStart < toStop)) return Guard::Start;
    if (toStop == 0 || (toStop < 5 && toStop < toStart)) return Guard::Stop;
    return Guard::None;
}

struct LineGuards {
    Line line;
    std::optional<std::size_t> start;  // edge index of the start pattern
    std::optional<std::size_t> stop;   // edge index of the stop pattern
};

LineGuards FindGuards(Line line) {
    LineGuards g{std::move(line), {}, {}};
    const std::vector<float>& e = g.line.edges;
    if (e.size() < 9) return g;
    for (std::size_t i = 0; i + 8 < e.size(); i += 2) {
        if (GuardOf(Measure(g.line, i)) == Guard::Start) {
            g.start = i;
            break;
        }
    }
    for (std::size_t i = (e.size() - 9) & ~std::size_t{1};; i -= 2) {
        if (GuardOf(Measure(g.line, i)) == Guard::Stop && (!g.start || i > *g.start)) {
            g.stop = i;
            break;
        }
        if (i < 2) break;
    }
    return g;
}

// The value of one codeword in the cluster of that index, trying the
// roundings nearest to their midpoint in turn when the first gives another
// cluster or no value.
std::optional<int> DecodeCodeword(const Measured& m, int clusterIndex) {
    auto lookUp = [clusterIndex](const Distances& d) -> std::optional<int> {
        for (int x : d)
            if (x < 2 || x > 11) return std::nullopt;
        if (ClusterOfDistances(d) != 3 * clusterIndex) return std::nullopt;
        return LookUpDistances(clusterIndex, DistanceKey(d));
    };
    if (auto v = lookUp(m.rounded)) return v;
    std::array<int, 6> order{0, 1, 2, 3, 4, 5};
    auto doubt = [&m](int k) {
        return std::abs(std::abs(m.exact[k] - static_cast<float>(m.rounded[k])) - 0.5F);
    };
    std::sort(order.begin(), order.end(), [&](int a, int b) { return doubt(a) < doubt(b); });
    for (int t = 0; t < kAdjustments; ++t) {
        Distances d = m.rounded;
        const int k = order[t];
        d[k] += m.exact[k] > static_cast<float>(m.rounded[k]) ? 1 : -1;
        if (auto v = lookUp(d)) return v;
    }
    return std::nullopt;
}

// What one scan line says about its row.
struct LineCodewords {
    int clusterIndex = kUnknown;
    std::vector<int> values;  // codeword columns, indicators included
};

LineCodewords ReadCodewords(const LineGuards& g, int columns) {
    LineCodewords out;
    const std::vector<float>& e = g.line.edges;
    float first = 0.0F;
    float pitch = 0.0F;
    if (g.start && g.stop) {
        first = e[*g.start];
        pitch = (e[*g.stop] - first) / static_cast<float>(columns + 1);
    } else if (g.start) {
        first = e[*g.start];
        pitch = e[*g.start + 8] - first;
    } else if (g.stop) {
        pitch = e[*g.stop + 8] - e[*g.stop];
        first = e[*g.stop] - pitch * static_cast<float>(columns + 1);
    } else {
        return out;
    }
    if (pitch < 8.0F) return out;

    std::vector<std::optional<Measured>> measured(static_cast<std::size_t>(columns));
    std::array<int, kClusters> clusterVotes{};
    for (int k = 0; k < columns; ++k) {
        const float expected = first + pitch * static_cast<float>(k + 1);
        std::optional<std::size_t> best;
        float bestDistance = pitch * 0.3F;
        for (std::size_t i = 0; i + 8 < e.size(); i += 2) {
            const float d = std::abs(e[i] - expected);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
            if (e[i] > expected + pitch) break;
        }
        if (!best) continue;
        const Measured m = Measure(g.line, *best);
        if (std::abs(m.width - pitch) > 0.25F * pitch) continue;
        measured[k] = m;
        const int cluster = ClusterOfDistances(m.rounded);
        if (cluster % 3 == 0 && LookUpDistances(cluster / 3, DistanceKey(m.rounded)))
            ++clusterVotes[cluster / 3];
    }
    const auto most = std::max_element(clusterVotes.begin(), clusterVotes.end());
    if (*most < 2) return out;
    out.clusterIndex = static_cast<int>(most - clusterVotes.begin());
    out.values.assign(static_cast<std::size_t>(columns), kErasure);
    for (int k = 0; k < columns; ++k) {
        if (!measured[k]) continue;
        if (auto v = DecodeCodeword(*measured[k], out.clusterIndex)) out.values[k] = *v;
    }
    return out;
}

struct Votes {
    std::map<int, int> rowGroups, rowRest, columns, ecLevels;
    std::map<std::pair<int, int>, std::map<int, int>> cells;  // (row, column) -> value -> votes
    int lastRow = -1;
};

int Winner(const std::map<int, int>& votes) {
    int best = kUnknown;
    int count = 0;
    for (const auto& [value, n] : votes)
        if (n > count) {
            best = value;
            count = n;
        }
    return best;
}

// Row indicators: by cluster, the left one carries the row groups, the
// error correction level with the row count's rest, or the data columns; the
// right one the same in the order columns, row groups, level.
void VoteIndicator(Votes& votes, int clusterIndex, int value, bool left) {
    const int info = value % 30;
    const int slot = left ? clusterIndex : (clusterIndex + 2) % 3;
    if (slot == 0) ++votes.rowGroups[info];
    if (slot == 1) {
        ++votes.ecLevels[info / 3];
        ++votes.rowRest[info % 3];
    }
    if (slot == 2) ++votes.columns[info + 1];
}

struct Located {
    int left = 0;
    int right = 0;
};

// The symbol's columns: the first run of ink columns that is no speck, and
// the last ink column. `raise` lifts the threshold of ink columns when a
// first attempt took print beside the symbol for its edge.
std::optional<Located> LocateColumns(const cv::Mat& grey, double raise) {
    std::vector<long> sums(static_cast<std::size_t>(grey.cols), 0);
    for (int y = 0; y < grey.rows; ++y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y);
        for (int x = 0; x < grey.cols; ++x) sums[x] += 255 - row[x];
    }
    const long most = *std::max_element(sums.begin(), sums.end());
    const long threshold =
        std::max<long>(static_cast<long>(static_cast<double>(most / 5) * raise), 10);
    Located at;
    int run = 0;
    bool found = false;
    for (int x = 0; x < grey.cols && !found; ++x) {
        run = sums[x] > threshold ? run + 1 : 0;
        if (run >= kSpeckColumns) {
            at.left = x - run + 1;
            found = true;
        }
    }
    if (!found) return std::nullopt;
    at.right = grey.cols - 1;
    while (at.right > at.left && sums[at.right] <= threshold) --at.right;
    return at;
}

// The first row where more than kEdgeInkCount of the kEdgeWindow columns
// from `from` on are ink.
std::optional<int> FirstInkRow(const cv::Mat& grey, int from, int to) {
    from = std::max(from, 0);
    to = std::min(to, grey.cols);
    for (int y = 0; y < grey.rows; ++y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y);
        int ink = 0;
        for (int x = from; x < to; ++x) ink += row[x] < kInkLevel ? 1 : 0;
        if (ink > kEdgeInkCount) return y;
    }
    return std::nullopt;
}

std::optional<SymbolCodewords> Assemble(const Votes& votes, int codewordColumns) {
    const int columns = Winner(votes.columns);
    const int groups = Winner(votes.rowGroups);
    const int rest = Winner(votes.rowRest);
    const int ecLevel = Winner(votes.ecLevels);
    if (columns == kUnknown || groups == kUnknown || rest == kUnknown || ecLevel == kUnknown)
        return std::nullopt;
    if (columns != codewordColumns - 2 || ecLevel > kMaxEcLevel) return std::nullopt;
    const int rows = groups * 3 + rest + 1;
    if (rows < kMinRows || rows > kMaxRows) return std::nullopt;
    if (rows * columns > kMaxSymbolCodewords) {
        LogValue("too many Cdw", rows * columns);
        return std::nullopt;
    }
    SymbolCodewords symbol{rows, columns, ecLevel, {}};
    symbol.codewords.assign(static_cast<std::size_t>(rows) * columns, kErasure);
    for (const auto& [cell, values] : votes.cells) {
        if (cell.first >= rows || cell.second >= columns) continue;
        symbol.codewords[static_cast<std::size_t>(cell.first) * columns + cell.second] =
            Winner(values);
    }
    return symbol;
}

// One symbol row as the row profile cuts it.
struct Band {
    int first = 0;
    int last = 0;
};

// The row bands: the profile of differences between each row and the one
// above is high where symbol rows meet; each peak opens a band that ends
// two rows before the next one's start. Empty when the profile shows no
// rows or too many.
std::vector<Band> RowBands(const cv::Mat& grey, int left, int right, double& meanHeight) {
    const int h = grey.rows;
    const int span = std::min(right - left + 1, 2 * h);
    std::vector<long> profile(static_cast<std::size_t>(h), 0);
    for (int y = 2; y <= h - 3; ++y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y) + left;
        const std::uint8_t* above = grey.ptr<std::uint8_t>(y - 1) + left;
        long sum = 0;
        for (int x = 0; x < span; ++x) sum += std::abs(int{row[x]} - int{above[x]});
        profile[y] = sum;
    }
    int start = 2;
    while (start <= h - 3 && profile[start] < kLeastRowProfile) ++start;
    if (h - 2 - start < kLeastProfileRows) return {};
    long total = 0;
    for (int y = start; y <= h - 3; ++y) total += profile[y];
    const long mean = total / (h - 2 - start);
    const long margin = mean / 8;
    auto at = [&](int y) { return y >= 2 && y <= h - 3 ? profile[y] : 0L; };

    std::vector<int> peaks;
    int y = start;
    while (y <= h - 3 && profile[y] < mean) ++y;
    while (y <= h - 3) {
        // A peak region: the rows at or above the mean, cut at a dip.
        int highest = y;
        for (++y; y <= h - 3 && profile[y] >= mean; ++y) {
            const long after = std::max({at(y + 1), at(y + 2), at(y + 3)});
            if (profile[y] + margin < profile[highest] && profile[y] + margin < at(y - 1) &&
                profile[y] + margin < after)
                break;
            if (profile[y] > profile[highest]) highest = y;
        }
        peaks.push_back(highest);
        // A valley: the rows below the mean, cut at a bump.
        int lowest = y;
        for (; y <= h - 3 && profile[y] < mean; ++y) {
            if (profile[y] > profile[lowest] + margin && profile[y] > at(y - 1) + margin &&
                profile[y] > at(y + 1) + margin)
                break;
            if (profile[y] < profile[lowest]) lowest = y;
        }
    }
    if (peaks.size() > kMostBands + 1) return {};
    std::vector<Band> bands;
    // The band after the last peak is the paper below the symbol.
    for (std::size_t i = 0; i + 1 < peaks.size(); ++i) {
        const int first = peaks[i] + 2;
        bands.push_back({first, std::max(first, peaks[i + 1] + 2 - 2)});
    }
    if (bands.size() < 2) return {};
    meanHeight = double(bands.back().first - bands.front().first) / double(bands.size() - 1);
    Band& lastBand = bands.back();
    if (lastBand.last - lastBand.first + 1 < meanHeight)
        lastBand.last = std::min(h - 1, lastBand.first + static_cast<int>(meanHeight) - 1);
    return bands;
}

// Bands of the mean height from the first band's start, for rows the
// profile separated badly.
std::vector<Band> EvenBands(const std::vector<Band>& bands, double meanHeight, int height) {
    std::vector<Band> even;
    for (double first = bands.front().first; first + meanHeight <= height + 1;
         first += meanHeight) {
        const int f = static_cast<int>(first);
        even.push_back({f, std::min(height - 1, static_cast<int>(first + meanHeight) - 2)});
        if (even.size() > kMostBands) return {};
    }
    return even;
}

// Reads each band from its lines: the reading with the most valid
// codewords and an indicator that agrees with the band's row is kept; a
// later reading with more than five sixths of the codewords fills its
// erasures. Fails (badly separated rows) when the indicators disagree with
// the band rows too often.
std::optional<SymbolCodewords> ReadBands(const std::vector<Band>& bands,
                                         const std::vector<std::optional<LineCodewords>>& lines,
                                         int codewordColumns) {
    if (bands.size() < static_cast<std::size_t>(kMinRows) ||
        bands.size() > static_cast<std::size_t>(kMaxRows))
        return std::nullopt;
    Votes votes;
    int disagreeing = 0;
    for (std::size_t r = 0; r < bands.size(); ++r) {
        const int row = static_cast<int>(r);
        const int cluster = row % 3;
        const LineCodewords* kept = nullptr;
        int keptScore = -1;
        std::vector<int> values;
        auto valid = [](const LineCodewords& l) {
            return static_cast<int>(
                std::count_if(l.values.begin(), l.values.end(), [](int v) { return v >= 0; }));
        };
        auto agrees = [row](int indicator) { return indicator >= 0 && indicator / 30 == row / 3; };
        for (int y = bands[r].first; y <= bands[r].last && y < static_cast<int>(lines.size());
             ++y) {
            if (!lines[y] || lines[y]->clusterIndex != cluster) continue;
            const LineCodewords& line = *lines[y];
            const int score = valid(line) + (agrees(line.values.front()) ? 2 : 0) +
                              (agrees(line.values.back()) ? 2 : 0);
            if (kept == nullptr || score > keptScore) {
                kept = &line;
                keptScore = score;
            }
        }
        if (kept == nullptr || !(agrees(kept->values.front()) || agrees(kept->values.back()))) {
            ++disagreeing;
            continue;
        }
        values = kept->values;
        for (int y = bands[r].first; y <= bands[r].last && y < static_cast<int>(lines.size());
             ++y) {
            if (!lines[y] || lines[y]->clusterIndex != cluster || &*lines[y] == kept) continue;
            if (valid(*lines[y]) * 6 <= 5 * codewordColumns) continue;
            for (int k = 0; k < codewordColumns; ++k)
                if (values[k] < 0) values[k] = lines[y]->values[k];
        }
        if (agrees(values.front())) VoteIndicator(votes, cluster, values.front(), true);
        if (agrees(values.back())) VoteIndicator(votes, cluster, values.back(), false);
        for (int k = 1; k + 1 < codewordColumns; ++k)
            if (values[k] >= 0) ++votes.cells[{row, k - 1}][values[k]];
    }
    if (disagreeing * 4 > static_cast<int>(bands.size())) return std::nullopt;
    std::optional<SymbolCodewords> symbol = Assemble(votes, codewordColumns);
    if (symbol && symbol->rows != static_cast<int>(bands.size())) return std::nullopt;
    return symbol;
}

// `guardsSeen` tells whether any line showed a start or stop pattern: the
// sign of a symbol worth another cleaning or threshold.
std::vector<SymbolCodewords> ReadLocated(cv::Mat grey, std::optional<Located> at, double raise,
                                         bool& guardsSeen) {
    // Skew from the top of the start pattern and the top of the stop pattern.
    const int width = at->right - at->left;
    const std::optional<int> topLeft = FirstInkRow(grey, at->left, at->left + kEdgeWindow);
    const std::optional<int> topRight =
        FirstInkRow(grey, at->right - kEdgeWindow + 1, at->right + 1);
    if (topLeft && topRight && width >= kLeastSkewWidth && grey.rows >= kLeastSkewHeight) {
        const double angle = std::atan(double(*topRight - *topLeft) / double(width));
        if (std::abs(angle) > kLeastAngle) {
            const cv::Point2f centre(static_cast<float>(grey.cols) / 2.0F,
                                     static_cast<float>(grey.rows) / 2.0F);
            const cv::Mat turn = cv::getRotationMatrix2D(centre, angle * 180.0 / CV_PI, 1.0);
            cv::Mat straight;
            cv::warpAffine(grey, straight, turn, grey.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                           cv::Scalar(255));
            const int margin = static_cast<int>(std::abs(std::sin(angle)) * width) + 5;
            if (std::optional<Located> again = LocateColumns(straight, raise)) {
                const int left = std::max(again->left - margin, 0);
                const int right = std::min(again->right + margin, straight.cols - 1);
                grey = straight.colRange(left, right + 1).clone();
                at = Located{again->left - left, again->right - left};
            }
        }
    }
    if (at->right - at->left + 1 < kLeastSymbolWidth || grey.rows < kLeastSymbolHeight) return {};
    if (at->right - at->left + 1 < kLeastGridWidth || at->right - at->left + 1 > kMostGridWidth)
        return {};

    // Scan lines average three pixel rows: the rows of a symbol are three
    // modules high, and grain of the paper and the sensor then weighs less
    // in the edge positions.
    cv::blur(grey, grey, cv::Size(1, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);

    // Every scan line: its start and stop patterns, then the codeword
    // columns between them, which the lines agree on.
    std::vector<LineGuards> lines;
    std::vector<int> lineRows;
    lines.reserve(static_cast<std::size_t>(grey.rows));
    std::map<int, int> columnVotes;
    for (int y = 0; y < grey.rows; ++y) {
        const std::uint8_t* row = grey.ptr<std::uint8_t>(y);
        LineGuards g = FindGuards(EdgesOf(row, grey.cols, MidLevel(row, at->left, at->right + 1)));
        if (g.start && g.stop) {
            const std::vector<float>& e = g.line.edges;
            const float pitch = e[*g.start + 8] - e[*g.start];
            if (pitch > 0.0F) {
                const int count =
                    static_cast<int>(std::lround((e[*g.stop] - e[*g.start]) / pitch)) - 1;
                ++columnVotes[count];
            }
        }
        if (g.start || g.stop) {
            lines.push_back(std::move(g));
            lineRows.push_back(y);
        }
    }
    guardsSeen = guardsSeen || !lines.empty();
    const int codewordColumns = Winner(columnVotes);
    if (codewordColumns == kUnknown) return {};
    if (codewordColumns - 2 > kMostCodewordColumns) {
        LogValue("too many Cdw per Row", codewordColumns - 2);
        return {};
    }
    if (codewordColumns >= kMostCodewordColumns) {
        LogText("too many pdf codeworks");
        return {};
    }
    if (codewordColumns < 3) return {};

    std::vector<std::optional<LineCodewords>> perRow(static_cast<std::size_t>(grey.rows));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        LineCodewords read = ReadCodewords(lines[i], codewordColumns);
        if (read.clusterIndex != kUnknown) perRow[lineRows[i]] = std::move(read);
    }

    std::vector<SymbolCodewords> candidates;
    // The symbol's rows as the row profile cuts them; rebuilt at equal
    // spacing when the profile separated them badly.
    double meanHeight = 0.0;
    const std::vector<Band> bands = RowBands(grey, at->left, at->right, meanHeight);
    if (!bands.empty()) {
        std::optional<SymbolCodewords> read = ReadBands(bands, perRow, codewordColumns);
        if (!read && meanHeight > 1.0)
            read = ReadBands(EvenBands(bands, meanHeight, grey.rows), perRow, codewordColumns);
        if (read) candidates.push_back(std::move(*read));
    }

    // Every line placed by its own row indicators and cluster, voting per
    // codeword: rows that no band split finds (a remaining skew, uneven
    // row heights) are read this way.
    Votes votes;
    for (const std::optional<LineCodewords>& read : perRow) {
        if (!read) continue;
        const int leftIndicator = read->values.front();
        const int rightIndicator = read->values.back();
        int row = kUnknown;
        if (leftIndicator >= 0) row = leftIndicator / 30 * 3 + read->clusterIndex;
        if (rightIndicator >= 0) {
            const int other = rightIndicator / 30 * 3 + read->clusterIndex;
            if (row != kUnknown && other != row) continue;
            row = other;
        }
        if (row == kUnknown) continue;
        if (leftIndicator >= 0) VoteIndicator(votes, read->clusterIndex, leftIndicator, true);
        if (rightIndicator >= 0) VoteIndicator(votes, read->clusterIndex, rightIndicator, false);
        for (int k = 1; k + 1 < codewordColumns; ++k)
            if (read->values[k] >= 0) ++votes.cells[{row, k - 1}][read->values[k]];
    }
    if (std::optional<SymbolCodewords> voted = Assemble(votes, codewordColumns))
        candidates.push_back(std::move(*voted));
    return candidates;
}

}  // namespace

SamplingOutcome SampleSymbol(imaging::ConstImageView cleaned) {
    SamplingOutcome outcome;
    if (cleaned.Width() < kLeastZoneWidth || cleaned.Height() < kLeastZoneHeight) return outcome;
    const cv::Mat grey = imaging::ToMat(cleaned);
    std::optional<Located> previous;
    double raise = 1.0;
    for (int retry = 0; retry <= kLocateRetries; ++retry, raise *= kLocateRaise) {
        const std::optional<Located> at = LocateColumns(grey, raise);
        if (!at) break;

        if (previous && previous->left == at->left && previous->right == at->right) continue;
        previous = at;
        bool guardsSeen = false;
        outcome.candidates = ReadLocated(grey.clone(), at, raise, guardsSeen);
        outcome.symbolLike = outcome.symbolLike || guardsSeen;
        if (!outcome.candidates.empty() || !guardsSeen) break;
    }
    return outcome;
}

}  // namespace kovran::decoders::pdf417
