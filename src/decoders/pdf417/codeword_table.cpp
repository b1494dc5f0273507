#include "decoders/pdf417/codeword_table.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kovran::decoders::pdf417 {

namespace {

using SortedCluster = std::vector<std::pair<std::uint32_t, int>>;

const std::array<SortedCluster, kClusters>& SortedPatterns() {
    static const std::array<SortedCluster, kClusters> sorted = [] {
        std::array<SortedCluster, kClusters> s;
        for (int c = 0; c < kClusters; ++c) {
            s[c].reserve(kCodewordValues);
            for (int v = 0; v < kCodewordValues; ++v) s[c].emplace_back(kCodewordPatterns[c][v], v);
            std::sort(s[c].begin(), s[c].end());
        }
        return s;
    }();
    return sorted;
}

std::uint32_t DistancesOfPattern(std::uint32_t pattern) {
    std::array<int, kElementsPerCodeword> runs{};
    int element = 0;
    for (int bit = kModulesPerCodeword - 1; bit >= 0; --bit) {
        const bool bar = ((pattern >> bit) & 1U) != 0;
        if (bit < kModulesPerCodeword - 1 && bar != (((pattern >> (bit + 1)) & 1U) != 0)) ++element;
        if (element < kElementsPerCodeword) ++runs[element];
    }
    std::array<int, 6> d{};
    for (int i = 0; i < 6; ++i) d[i] = runs[i] + runs[i + 1];
    return DistanceKey(d);
}

const std::array<SortedCluster, kClusters>& SortedDistances() {
    static const std::array<SortedCluster, kClusters> sorted = [] {
        std::array<SortedCluster, kClusters> s;
        for (int c = 0; c < kClusters; ++c) {
            s[c].reserve(kCodewordValues);
            for (int v = 0; v < kCodewordValues; ++v)
                s[c].emplace_back(DistancesOfPattern(kCodewordPatterns[c][v]), v);
            std::sort(s[c].begin(), s[c].end());
        }
        return s;
    }();
    return sorted;
}

std::optional<int> Find(const SortedCluster& cluster, std::uint32_t key) {
    const auto it = std::lower_bound(cluster.begin(), cluster.end(), std::make_pair(key, 0));
    if (it == cluster.end() || it->first != key) return std::nullopt;
    return it->second;
}

}  // namespace

std::uint32_t DistanceKey(std::span<const int, 6> distances) {
    std::uint32_t key = 0;
    for (int d : distances) key = (key << 4) | static_cast<std::uint32_t>(d & 0xF);
    return key;
}

std::optional<int> LookUpDistances(int clusterIndex, std::uint32_t key) {
    if (clusterIndex < 0 || clusterIndex >= kClusters) return std::nullopt;
    return Find(SortedDistances()[clusterIndex], key);
}

int ClusterOfDistances(std::span<const int, 6> e) {
    return ((e[0] - e[1] + e[4] - e[5] + 9) % 9 + 9) % 9;
}

std::optional<int> LookUpPattern(int clusterIndex, std::uint32_t pattern) {
    if (clusterIndex < 0 || clusterIndex >= kClusters) return std::nullopt;
    return Find(SortedPatterns()[clusterIndex], pattern);
}

int ClusterOf(std::span<const int, kElementsPerCodeword> m) {
    return ((m[0] - m[2] + m[4] - m[6] + 9) % 9 + 9) % 9;
}

std::optional<std::uint32_t> PatternOf(std::span<const int, kElementsPerCodeword> modules) {
    int total = 0;
    std::uint32_t pattern = 0;
    for (int i = 0; i < kElementsPerCodeword; ++i) {
        if (modules[i] < 1 || modules[i] > 6) return std::nullopt;
        total += modules[i];
        const std::uint32_t bit = (i % 2 == 0) ? 1U : 0U;
        for (int k = 0; k < modules[i]; ++k) pattern = (pattern << 1) | bit;
    }
    if (total != kModulesPerCodeword) return std::nullopt;
    return pattern;
}

}  // namespace kovran::decoders::pdf417
