// Reading a kvx-synth corpus back (for the reader black-box tests and the
// benchmarks): the index, and each document's images, magnetic samples and
// ground truth. Every size is checked against the ground truth.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "testing/synth/image.h"

namespace kovran::synth {

struct CorpusEntry {
    std::string name;
    std::string set;  // cheques-e13b, cheques-cmc7, payment-forms, symbols, special
    int level = 0;
};

struct CorpusDocument {
    std::string name;
    std::optional<ImageBuffer> front, rear, backlight;
    std::vector<std::uint8_t> magnetic;  // raw samples
    int ratio = 10;
    int decimation = 1;
    // Behind a pointer so that this header needs only json_fwd.hpp; never
    // changed once made, so copies may share it.
    std::shared_ptr<const nlohmann::json> truth;
};

// Each throws SynthError with the file and the reason.
std::vector<CorpusEntry> ReadCorpusIndex(const std::string& dir);
CorpusDocument LoadCorpusDocument(const std::string& dir, const std::string& name);

}  // namespace kovran::synth
