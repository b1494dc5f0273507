// kvx-synth: renders test documents for the scanner simulator and the
// reader tests.
//
//   kvx-synth render [options] DESCRIPTION.json...   render into --out
//   kvx-synth check DESCRIPTION.json...              validate only
//   kvx-synth corpus --out DIR [--large] [--seed N] [--dpi N] [--colour]
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

#include "testing/synth/corpus.h"
#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"

using namespace kovran::synth;
using nlohmann::json;

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: kvx-synth render [--out DIR] [--dpi N] [--dpi-y N] [--colour|--grey] [--level N]\n"
        "                        [--seed N] [--format png|pnm] [--sides LIST] DESCRIPTION.json...\n"
        "       kvx-synth check DESCRIPTION.json...\n"
        "       kvx-synth corpus --out DIR [--large] [--seed N] [--dpi N] [--colour]\n");
    return 2;
}

bool ReadFile(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

bool ParseNumber(const char* s, long long lo, long long hi, long long& out) {
    char* end = nullptr;
    const long long v = std::strtoll(s, &end, 10);
    if (!end || *end != '\0' || end == s || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    std::string out = ".", format, sides;
    json overrides = json::object();
    bool large = false, colourFlag = false;
    long long seed = -1, dpi = 0;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long long n = 0;
        if (a == "--out") {
            const char* v = value();
            if (!v) return Usage();
            out = v;
        } else if (a == "--dpi" || a == "--dpi-y") {
            const char* v = value();
            if (!v || !ParseNumber(v, 50, 1200, n)) return Usage();
            overrides["scan"][a == "--dpi" ? "dpi" : "dpi_y"] = n;
            if (a == "--dpi") dpi = n;
        } else if (a == "--colour" || a == "--grey") {
            overrides["scan"]["colour"] = a == "--colour";
            colourFlag = a == "--colour";
        } else if (a == "--level") {
            const char* v = value();
            if (!v || !ParseNumber(v, 0, 3, n)) return Usage();
            overrides["degradation"]["level"] = n;
        } else if (a == "--seed") {
            const char* v = value();
            if (!v || !ParseNumber(v, 0, (1LL << 62), n)) return Usage();
            overrides["degradation"]["seed"] = n;
            seed = n;
        } else if (a == "--format") {
            const char* v = value();
            if (!v) return Usage();
            overrides["scan"]["format"] = v;
        } else if (a == "--sides") {
            const char* v = value();
            if (!v) return Usage();
            json list = json::array();
            std::stringstream ss(v);
            for (std::string s; std::getline(ss, s, ',');) list.push_back(s);
            overrides["scan"]["sides"] = list;
        } else if (a == "--large") {
            large = true;
        } else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "kvx-synth: unknown option %s\n", a.c_str());
            return Usage();
        } else {
            files.push_back(a);
        }
    }

    if (command == "corpus") {
        CorpusOptions options;
        options.dir = out;
        options.large = large;
        if (seed >= 0) options.seed = static_cast<std::uint64_t>(seed);
        if (dpi > 0) options.dpi = static_cast<int>(dpi);
        options.colour = colourFlag;
        std::string error;
        int count = 0;
        if (!MakeCorpus(options, &error, [&](const std::string&) { ++count; })) {
            std::fprintf(stderr, "kvx-synth: %s\n", error.c_str());
            return 1;
        }
        std::printf("kvx-synth: %d documents in %s\n", count, out.c_str());
        return 0;
    }
    if ((command != "render" && command != "check") || files.empty()) return Usage();

    SynthFontLibrary fonts;
    DocumentRenderer renderer(fonts);
    int failures = 0;
    for (const std::string& file : files) {
        std::string text;
        if (!ReadFile(file, text)) {
            std::fprintf(stderr, "kvx-synth: %s: cannot read\n", file.c_str());
            ++failures;
            continue;
        }
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
                std::string error;
                if (!WriteDocument(doc, out, d.format, &error)) {
                    std::fprintf(stderr, "kvx-synth: %s: %s\n", file.c_str(), error.c_str());
                    ++failures;
                    continue;
                }
                std::printf("%s -> %s/%s.*\n", file.c_str(), out.c_str(), d.name.c_str());
            } else {
                std::printf("%s: ok\n", file.c_str());
            }
        } catch (const DescriptionError& e) {
            std::fprintf(stderr, "kvx-synth: %s: %s: %s\n", file.c_str(), e.field.c_str(),
                         e.reason.c_str());
            ++failures;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kvx-synth: %s: %s\n", file.c_str(), e.what());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
