// Reproducible corpora of synthetic documents for the reader black-box tests
// and the benchmarks: cheques per codeline font and degradation level,
// payment forms, symbol sheets and the look-alike and noise cases. The same
// options and seed give byte-identical files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace kovran::synth {

struct CorpusOptions {
    std::string dir;
    bool large = false;  // 100 cheques per font and level instead of 2
    // Cheques per font and level when not 0 (the first ones of the large
    // corpus) and as many payment forms per level; wins over `large`.
    int perLevel = 0;
    std::uint64_t seed = 2026;
    int dpi = 0;  // 0: each document's own resolution (by level); else all at this one
    bool colour = false;
    int threads = 2;  // documents rendered at once
};

// Descriptions of single documents (as JSON, ready for parseDescription).
nlohmann::json ChequeDescription(const std::string& font, int index, int level, std::uint64_t seed);
nlohmann::json PaymentFormDescription(int index, int level, std::uint64_t seed);
nlohmann::json SymbolSheetDescription(int index, int level, std::uint64_t seed);

// Renders the corpus into options.dir (created if missing), with index.json
// and README.md. Progress goes to `progress` when given. Throws SynthError
// naming the document that failed.
void MakeCorpus(const CorpusOptions& options,
                const std::function<void(const std::string&)>& progress = {});

// The corpus folder format, also written as the folder's README.md.
const char* CorpusReadme();

}  // namespace kovran::synth
