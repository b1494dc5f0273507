// The codeword patterns of the three clusters and the arithmetic that turns
// the widths of one codeword's eight elements into a cluster and a value.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace kovran::decoders::pdf417 {

inline constexpr int kCodewordValues = 929;
inline constexpr int kClusters = 3;
inline constexpr int kModulesPerCodeword = 17;
inline constexpr int kElementsPerCodeword = 8;

// Start pattern 81111113 and stop pattern 711311121 as edge-to-edge module
// distances (elements 1+2 ... 6+7) packed as six nibbles, the first highest.
inline constexpr std::uint32_t kStartDistances = 0x922222;
inline constexpr std::uint32_t kStopDistances = 0x824422;

// kCodewordPatterns[cluster index][value]: 17 modules, the first in bit 16.
// The cluster index is the cluster number (0, 3, 6) divided by 3.
extern const std::array<std::array<std::uint32_t, kCodewordValues>, kClusters> kCodewordPatterns;

// The value of a 17-module pattern in the cluster of that index, if any.
std::optional<int> LookUpPattern(int clusterIndex, std::uint32_t pattern);

// Six edge-to-edge distances in modules (elements 1+2 ... 6+7) packed as
// nibbles, the first highest: the form in which a codeword is read, since
// the distances from edge to like edge do not change when ink spreads.
std::uint32_t DistanceKey(std::span<const int, 6> distances);
// The value whose distances in the cluster of that index are `key`; the
// distances identify a value within its cluster.
std::optional<int> LookUpDistances(int clusterIndex, std::uint32_t key);
// The cluster number of six distances: (e1 - e2 + e5 - e6 + 9) mod 9.
int ClusterOfDistances(std::span<const int, 6> distances);

// The cluster number (e1 - e2 + e5 - e6 + 9) mod 9 of eight element widths
// in modules (bar first).
int ClusterOf(std::span<const int, kElementsPerCodeword> modules);

// Eight element widths in modules as the 17-module pattern; nullopt when
// they do not add up to 17 or an element is outside 1 to 6.
std::optional<std::uint32_t> PatternOf(std::span<const int, kElementsPerCodeword> modules);

}  // namespace kovran::decoders::pdf417
