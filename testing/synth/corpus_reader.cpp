#include "testing/synth/corpus_reader.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "testing/synth/image_io.h"
#include "testing/synth/synth_error.h"

namespace kovran::synth {

namespace {

[[noreturn]] void Fail(const std::string& reason) {
    throw SynthError(reason);
}

nlohmann::json ReadJsonFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail("cannot open " + path);
    std::stringstream s;
    s << in.rdbuf();
    try {
        return nlohmann::json::parse(s.str());
    } catch (const nlohmann::json::exception& e) {
        Fail(path + ": " + e.what());
    }
}

// A file name from the truth must stay inside the corpus folder.
bool PlainName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name[0] != '.';
}

}  // namespace

std::vector<CorpusEntry> ReadCorpusIndex(const std::string& dir) {
    const nlohmann::json index = ReadJsonFile(dir + "/index.json");
    std::vector<CorpusEntry> entries;
    try {
        if (index.at("format") != "kvx-synth-corpus/1") Fail("unknown corpus format");
        for (const auto& d : index.at("documents"))
            entries.push_back({d.at("name").get<std::string>(), d.at("set").get<std::string>(),
                               d.at("level").get<int>()});
    } catch (const nlohmann::json::exception& e) {
        Fail(std::string("index.json: ") + e.what());
    }
    return entries;
}

CorpusDocument LoadCorpusDocument(const std::string& dir, const std::string& name) {
    if (!PlainName(name)) Fail("bad document name " + name);
    CorpusDocument out;
    out.name = name;
    nlohmann::json truth = ReadJsonFile(dir + "/" + name + ".json");
    try {
        const int w = truth.at("size_px").at(0), h = truth.at("size_px").at(1);
        for (const auto& [side, file] : truth.at("images").items()) {
            const std::string f = file.get<std::string>();
            if (!PlainName(f)) Fail("bad image name " + f);
            if (f.size() < 4 || f.substr(f.size() - 4) != ".png")
                Fail(f + ": only PNG corpora are read back");
            ImageBuffer img = ReadPng(dir + "/" + f);
            if (img.Width() != w || img.Height() != h)
                Fail(f + ": size differs from the ground truth");
            if (side == "front")
                out.front = std::move(img);
            else if (side == "rear")
                out.rear = std::move(img);
            else if (side == "backlight")
                out.backlight = std::move(img);
            else
                Fail("unknown side " + side);
        }
        const auto& m = truth.at("magnetic");
        out.ratio = m.at("ratio");
        out.decimation = m.at("decimation");
        const std::string f = m.at("file");
        const std::size_t count = m.at("count");
        if (!PlainName(f)) Fail("bad magnetic file name " + f);
        std::ifstream in(dir + "/" + f, std::ios::binary | std::ios::ate);
        if (!in) Fail("cannot open " + f);
        if (static_cast<std::size_t>(in.tellg()) != count)
            Fail(f + ": sample count differs from the ground truth");
        in.seekg(0);
        out.magnetic.resize(count);
        in.read(reinterpret_cast<char*>(out.magnetic.data()), static_cast<std::streamsize>(count));
        if (!in) Fail("cannot read " + f);
    } catch (const nlohmann::json::exception& e) {
        Fail(name + ".json: " + e.what());
    }
    out.truth = std::make_shared<const nlohmann::json>(std::move(truth));
    return out;
}

}  // namespace kovran::synth
