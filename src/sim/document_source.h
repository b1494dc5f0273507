// Fills a simulated feeder from files: a kvx-synth corpus folder (its
// index.json and the ground truth of each document) or single image files
// described on one line. Files are checked when they are named; their
// pixels are read when the scanner takes the document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/feeder.h"

namespace kovran::sim {

// Every document of the corpus in `dir`, in the index's order.
bool LoadCorpus(const std::string& dir, std::vector<SimDocument>* out, std::string* error);

// One document from a line such as
//   "front.png rear=rear.png backlight=bl.png mag=track.mag mag_per_inch=3000
//    dpi=300 dpi_y=300 skew=0.8 feed=left double"
// (every item but the front image is optional; the rear defaults to blank
// paper, the resolution to 300 dpi, the feed edge to the image's left).
bool ParseFeederLine(std::string_view line, SimDocument* out, std::string* error);

// The sensors a double sheet covers, as their digits ("13": sensors 1 and
// 3) into a mask of bits 0 to 2; false for anything else.
bool ParseDoubleSheetSensors(std::string_view digits, std::uint8_t* mask);

}  // namespace kovran::sim
