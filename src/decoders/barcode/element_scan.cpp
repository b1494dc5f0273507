#include "decoders/barcode/element_scan.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace kovran::decoders::barcode {

std::vector<double> ColumnProfile(imaging::ConstImageView band, int window) {
    const int width = band.Width();
    const int height = band.Height();
    std::vector<double> profile;
    if (width <= 0 || height <= 0) return profile;
    window = std::clamp(window, 1, height);
    std::vector<long long> best(static_cast<std::size_t>(width), 0);
    std::vector<long long> sum(static_cast<std::size_t>(width), 0);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = band.Row(y);
        const std::uint8_t* out = y >= window ? band.Row(y - window) : nullptr;
        const int step = band.Channels();
        for (int x = 0; x < width; ++x) {
            long long& s = sum[static_cast<std::size_t>(x)];
            s += in[x * step];
            if (out != nullptr) s -= out[x * step];
            if (y >= window - 1)
                best[static_cast<std::size_t>(x)] = std::max(best[static_cast<std::size_t>(x)], s);
        }
    }
    profile.resize(static_cast<std::size_t>(width) * kSamplesPerPixel - 1);
    for (int x = 0; x < width; ++x) {
        const double v = static_cast<double>(best[static_cast<std::size_t>(x)]) / 128.0;
        profile[static_cast<std::size_t>(2 * x)] = v;
        if (x + 1 < width)
            profile[static_cast<std::size_t>(2 * x + 1)] =
                (v + static_cast<double>(best[static_cast<std::size_t>(x + 1)]) / 128.0) / 2.0;
    }
    return profile;
}

double EdgeThreshold(const std::vector<double>& profile, int window) {
    double sum = 0.0;
    int count = 0;
    for (std::size_t i = 0; i + 1 < profile.size(); ++i) {
        const double d = std::fabs(profile[i + 1] - profile[i]);
        if (d > 0.0) {
            sum += d;
            ++count;
        }
    }
    if (count == 0) return 1.0;
    const double mean = sum / count;
    return std::max(1.0, window > 64 ? mean / 4.0 : mean / 2.0);
}

std::vector<Edge> FindEdges(const std::vector<double>& profile, double threshold) {
    std::vector<Edge> edges;
    const std::size_t n = profile.size() < 2 ? 0 : profile.size() - 1;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = profile[i + 1] - profile[i];
        if (std::fabs(d) < threshold || d == 0.0) continue;
        const int sign = d > 0 ? 1 : -1;
        // The edge's place: where the profile crosses the middle between the
        // extremes on either side of it. A narrow element that the blur keeps
        // from full contrast is measured at its own mid-level, not at the
        // steepest point, which overlapping edges push outward.
        std::size_t lo = i;
        while (lo > 0 && (profile[lo] - profile[lo - 1]) * sign > 0) --lo;
        std::size_t hi = i + 1;
        while (hi + 1 < profile.size() && (profile[hi + 1] - profile[hi]) * sign > 0) ++hi;
        const double mid = (profile[lo] + profile[hi]) / 2.0;
        double crossing = static_cast<double>(i) + 0.5;
        for (std::size_t k = lo; k < hi; ++k) {
            const double a = (profile[k] - mid) * sign;
            const double b = (profile[k + 1] - mid) * sign;
            if (a <= 0 && b > 0) {
                crossing = static_cast<double>(k) + (-a) / (b - a);
                break;
            }
        }
        const Edge edge{.position = crossing, .strength = std::fabs(d), .sign = sign};
        if (!edges.empty() && edges.back().sign == sign) {
            if (edge.strength > edges.back().strength) edges.back() = edge;
        } else {
            edges.push_back(edge);
        }
    }
    return edges;
}

std::vector<ElementRun> CutRuns(const std::vector<Edge>& boundaries) {
    std::vector<ElementRun> runs;
    std::size_t i = 0;
    while (i < boundaries.size()) {
        if (boundaries[i].sign > 0) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < boundaries.size() &&
               boundaries[j + 1].position - boundaries[j].position <= kRunGap)
            ++j;
        if (j > i) {
            ElementRun run;
            run.start = boundaries[i].position;
            run.end = boundaries[j].position;
            for (std::size_t k = i; k < j; ++k)
                run.widths.push_back(static_cast<int>(std::lround(
                    (boundaries[k + 1].position - boundaries[k].position) * kWidthUnit)));
            runs.push_back(std::move(run));
        }
        i = j + 1;
    }
    return runs;
}

std::vector<ElementRun> SplitAtQuietZones(const ElementRun& run) {
    std::vector<ElementRun> pieces;
    const auto& w = run.widths;
    if (w.empty()) return pieces;
    double mean = 0.0;
    std::map<int, int> histogram;  // widths rounded to whole samples
    for (int v : w) {
        mean += v;
        ++histogram[(v + kWidthUnit / 2) / kWidthUnit];
    }
    mean /= static_cast<double>(w.size());
    int typical = 1;
    int best = 0;
    for (const auto& [width, count] : histogram)
        if (count > best) {
            best = count;
            typical = std::max(1, width);
        }
    const double limit = std::min(6.0 * mean, 10.0 * typical * kWidthUnit);

    std::size_t from = 0;
    double position = run.start;
    double fromPosition = position;
    auto close = [&](std::size_t to, double endPosition) {
        // [from, to) with a bar at both ends (bars sit at even indexes).
        std::size_t a = from;
        double aPos = fromPosition;
        if (a % 2 == 1 && a < to) {
            aPos += w[a] / static_cast<double>(kWidthUnit);
            ++a;
        }
        std::size_t b = to;
        double bPos = endPosition;
        if (b > a && (b - a) % 2 == 0) {
            --b;
            bPos -= w[b] / static_cast<double>(kWidthUnit);
        }
        if (b > a && b - a >= 6) {
            ElementRun piece;
            piece.widths.assign(w.begin() + static_cast<std::ptrdiff_t>(a),
                                w.begin() + static_cast<std::ptrdiff_t>(b));
            piece.start = aPos;
            piece.end = bPos;
            pieces.push_back(std::move(piece));
        }
    };
    for (std::size_t k = 0; k < w.size(); ++k) {
        const double next = position + w[k] / static_cast<double>(kWidthUnit);
        if (w[k] > limit) {
            close(k, position);
            from = k + 1;
            fromPosition = next;
        }
        position = next;
    }
    close(w.size(), position);
    return pieces;
}

}  // namespace kovran::decoders::barcode
