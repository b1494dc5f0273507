// kvx-synth: renders test documents for the scanner simulator and the
// reader tests.
//
//   kvx-synth render [options] DESCRIPTION.json...   render into --out
//   kvx-synth check DESCRIPTION.json...              validate only
//   kvx-synth corpus --out DIR [--large | --per-level N] [--seed N] [--dpi N] [--colour]
//   kvx-synth measure CORPUS_DIR DB_DIR              nearest-model and matcher tables
//   kvx-synth trace DOCUMENT.json INDEX              raw magnetic samples around a character
//   kvx-synth model-sheet FILE.db OUT.png            contact sheet of a database's models
//   kvx-synth drawing-sheet DRAWING DPI OUT.png      contact sheet of a codeline drawing
//   kvx-synth drawing-nearest DRAWING DB_DIR         nearest models of a drawing's characters
//
// render options: --out DIR (default .), --dpi N, --dpi-y N, --colour,
// --grey, --level N, --seed N, --format png|pnm, --sides front,rear,backlight
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "measure.h"
#include "testing/synth/corpus.h"
#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"
#include "testing/synth/synth_error.h"

using namespace kovran::synth;
using nlohmann::json;

namespace {

// A command line that cannot be run: the reason, then the usage.
struct UsageError : SynthError {
    using SynthError::SynthError;
};

int Usage() {
    std::fprintf(
        stderr,
        "usage: kvx-synth render [--out DIR] [--dpi N] [--dpi-y N] [--colour|--grey] [--level N]\n"
        "                        [--seed N] [--format png|pnm] [--sides LIST] DESCRIPTION.json...\n"
        "       kvx-synth check DESCRIPTION.json...\n"
        "       kvx-synth corpus --out DIR [--large | --per-level N] [--seed N] [--dpi N] "
        "[--colour]\n"
        "       kvx-synth measure CORPUS_DIR DB_DIR\n"
        "       kvx-synth trace DOCUMENT.json INDEX\n"
        "       kvx-synth model-sheet FILE.db OUT.png\n"
        "       kvx-synth drawing-sheet cmc7|cmc7-project|e13b|e13b-project DPI OUT.png\n"
        "       kvx-synth drawing-nearest cmc7|cmc7-project|e13b|e13b-project DB_DIR\n");
    return 2;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SynthError(path + ": cannot read");
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Refuses what is not a whole number in [lo, hi] (the option's value).
long long ParseNumber(const std::string& option, const char* s, long long lo, long long hi) {
    char* end = nullptr;
    const long long v = s ? std::strtoll(s, &end, 10) : 0;
    if (!s || !end || *end != '\0' || end == s || v < lo || v > hi)
        throw UsageError(option + " takes a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi));
    return v;
}

int Run(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "measure" && argc == 4) {
        MeasureCorpus(argv[2], argv[3]);
        return 0;
    }
    if (command == "trace" && argc == 4) {
        PrintMagneticTrace(argv[2], static_cast<int>(ParseNumber("INDEX", argv[3], 0, 1000)));
        return 0;
    }
    if (command == "model-sheet" && argc == 4) {
        WriteModelSheet(argv[2], argv[3]);
        return 0;
    }
    if (command == "drawing-sheet" && argc == 5) {
        WriteDrawingSheet(argv[2], static_cast<double>(ParseNumber("DPI", argv[3], 50, 1200)),
                          argv[4]);
        return 0;
    }
    if (command == "drawing-nearest" && argc == 4) {
        PrintDrawingNearest(argv[2], argv[3]);
        return 0;
    }
    std::string out = ".";
    json overrides = json::object();
    bool large = false, colourFlag = false;
    long long seed = -1, dpi = 0, perLevel = 0;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw UsageError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--out") {
            out = value();
        } else if (a == "--dpi" || a == "--dpi-y") {
            const long long n = ParseNumber(a, value(), 50, 1200);
            overrides["scan"][a == "--dpi" ? "dpi" : "dpi_y"] = n;
            if (a == "--dpi") dpi = n;
        } else if (a == "--colour" || a == "--grey") {
            overrides["scan"]["colour"] = a == "--colour";
            colourFlag = a == "--colour";
        } else if (a == "--level") {
            overrides["degradation"]["level"] = ParseNumber(a, value(), 0, 4);
        } else if (a == "--seed") {
            seed = ParseNumber(a, value(), 0, 1LL << 62);
            overrides["degradation"]["seed"] = seed;
        } else if (a == "--format") {
            overrides["scan"]["format"] = value();
        } else if (a == "--sides") {
            json list = json::array();
            std::stringstream ss(value());
            for (std::string s; std::getline(ss, s, ',');) list.push_back(s);
            overrides["scan"]["sides"] = list;
        } else if (a == "--large") {
            large = true;
        } else if (a == "--per-level") {
            perLevel = ParseNumber(a, value(), 1, 1000);
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            files.push_back(a);
        }
    }

    if (command == "corpus") {
        CorpusOptions options;
        options.dir = out;
        options.large = large;
        options.perLevel = static_cast<int>(perLevel);
        if (seed >= 0) options.seed = static_cast<std::uint64_t>(seed);
        if (dpi > 0) options.dpi = static_cast<int>(dpi);
        options.colour = colourFlag;
        int count = 0;
        MakeCorpus(options, [&](const std::string&) { ++count; });
        std::printf("kvx-synth: %d documents in %s\n", count, out.c_str());
        return 0;
    }
    if ((command != "render" && command != "check") || files.empty()) return Usage();

    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    for (const std::string& file : files) {
        const std::string text = ReadFile(file);
        try {
            json j;
            try {
                j = json::parse(text);
            } catch (const json::parse_error& e) {
                throw DescriptionError("(document)", std::string("not valid JSON: ") + e.what());
            }
            if (j.is_object()) j.merge_patch(overrides);
            const Description d = ParseDescription(j);
            const RenderedDocument doc = renderer.Render(d);
            if (command == "render") {
                WriteDocument(doc, out, d.format);
                std::printf("%s -> %s/%s.*\n", file.c_str(), out.c_str(), d.name.c_str());
            } else {
                std::printf("%s: ok\n", file.c_str());
            }
        } catch (const SynthError& e) {
            // The file the failure belongs to, for the one report in main.
            throw SynthError(file + ": " + e.what());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kvx-synth: %s\n", e.what());
        return Usage();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvx-synth: %s\n", e.what());
        return 1;
    }
}
