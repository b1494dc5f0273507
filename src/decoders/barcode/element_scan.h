// From the pixels of one band to element lists: the column profile at twice
// the pixel density, its edges, and the runs of bars and spaces between
// quiet zones.
#pragma once

#include <vector>

#include "imaging/image_view.h"

namespace kovran::decoders::barcode {

// Profile samples per pixel column.
inline constexpr int kSamplesPerPixel = 2;
// Element widths are in tenths of a profile sample.
inline constexpr int kWidthUnit = 10;

// For each column, the largest sum of grey values over `window` consecutive
// rows of the band, divided by 128; then interpolated to twice the columns.
std::vector<double> ColumnProfile(imaging::ConstImageView band, int window);

// One boundary between a bar and a space: its position in profile samples
// (sub-sample, from the edge's centroid), its strength and its sign (-1 when
// the profile falls, the start of a bar).
struct Edge {
    double position = 0.0;
    double strength = 0.0;
    int sign = 0;
};

// The edges of a profile: differences of at least `threshold`, of
// consecutive edges of one sign only the strongest.
std::vector<Edge> FindEdges(const std::vector<double>& profile, double threshold);

// The first edge threshold of a profile: half the mean difference magnitude
// (a quarter for windows over 64 rows), at least 1.
double EdgeThreshold(const std::vector<double>& profile, int window);

// A run of elements starting and ending with a bar.
struct ElementRun {
    std::vector<int> widths;  // tenths of a profile sample
    double start = 0.0;       // profile position of the first element's start
    double end = 0.0;         // and of the last element's end
};

// No boundary within this many samples ends a run.
inline constexpr double kRunGap = 64.0;
// Runs of this many elements or fewer are not barcodes.
inline constexpr std::size_t kMinRunElements = 5;

// Cuts boundaries (alternating in sign) into runs at gaps wider than
// kRunGap. A run begins with a falling edge; its element count is the number
// of its boundaries less one, so a run that ends with a falling edge has an
// even count (the caller walks it again).
std::vector<ElementRun> CutRuns(const std::vector<Edge>& boundaries);

// Splits a run at elements wider than six times the mean width (and at most
// ten times the most frequent width): quiet zones inside it. Pieces start
// and end with a bar; pieces of fewer than 6 elements are dropped.
std::vector<ElementRun> SplitAtQuietZones(const ElementRun& run);

}  // namespace kovran::decoders::barcode
