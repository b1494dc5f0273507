#include "testing/synth/corpus_reader.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "testing/synth/image_io.h"

namespace kovran::synth {

namespace {

bool Fail(std::string* error, const std::string& reason) {
    if (error) *error = reason;
    return false;
}

bool ReadJsonFile(const std::string& path, nlohmann::json& out, std::string* error) {
    std::ifstream in(path);
    if (!in) return Fail(error, "cannot open " + path);
    std::stringstream s;
    s << in.rdbuf();
    try {
        out = nlohmann::json::parse(s.str());
    } catch (const nlohmann::json::exception& e) {
        return Fail(error, path + ": " + e.what());
    }
    return true;
}

// A file name from the truth must stay inside the corpus folder.
bool PlainName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos && name[0] != '.';
}

}  // namespace

bool ReadCorpusIndex(const std::string& dir, std::vector<CorpusEntry>& entries,
                     std::string* error) {
    nlohmann::json index;
    if (!ReadJsonFile(dir + "/index.json", index, error)) return false;
    try {
        if (index.at("format") != "kvx-synth-corpus/1") return Fail(error, "unknown corpus format");
        entries.clear();
        for (const auto& d : index.at("documents"))
            entries.push_back({d.at("name").get<std::string>(), d.at("set").get<std::string>(),
                               d.at("level").get<int>()});
    } catch (const nlohmann::json::exception& e) {
        return Fail(error, std::string("index.json: ") + e.what());
    }
    return true;
}

bool LoadCorpusDocument(const std::string& dir, const std::string& name, CorpusDocument& doc,
                        std::string* error) {
    if (!PlainName(name)) return Fail(error, "bad document name " + name);
    CorpusDocument out;
    out.name = name;
    nlohmann::json truth;
    if (!ReadJsonFile(dir + "/" + name + ".json", truth, error)) return false;
    try {
        const int w = truth.at("size_px").at(0), h = truth.at("size_px").at(1);
        for (const auto& [side, file] : truth.at("images").items()) {
            const std::string f = file.get<std::string>();
            if (!PlainName(f)) return Fail(error, "bad image name " + f);
            if (f.size() < 4 || f.substr(f.size() - 4) != ".png")
                return Fail(error, f + ": only PNG corpora are read back");
            ImageBuffer img;
            if (!ReadPng(dir + "/" + f, img, error)) return false;
            if (img.Width() != w || img.Height() != h)
                return Fail(error, f + ": size differs from the ground truth");
            if (side == "front")
                out.front = std::move(img);
            else if (side == "rear")
                out.rear = std::move(img);
            else if (side == "backlight")
                out.backlight = std::move(img);
            else
                return Fail(error, "unknown side " + side);
        }
        const auto& m = truth.at("magnetic");
        out.ratio = m.at("ratio");
        out.decimation = m.at("decimation");
        const std::string f = m.at("file");
        const std::size_t count = m.at("count");
        if (!PlainName(f)) return Fail(error, "bad magnetic file name " + f);
        std::ifstream in(dir + "/" + f, std::ios::binary | std::ios::ate);
        if (!in) return Fail(error, "cannot open " + f);
        if (static_cast<std::size_t>(in.tellg()) != count)
            return Fail(error, f + ": sample count differs from the ground truth");
        in.seekg(0);
        out.magnetic.resize(count);
        in.read(reinterpret_cast<char*>(out.magnetic.data()), static_cast<std::streamsize>(count));
        if (!in) return Fail(error, "cannot read " + f);
    } catch (const nlohmann::json::exception& e) {
        return Fail(error, name + ".json: " + e.what());
    }
    out.truth = std::make_shared<const nlohmann::json>(std::move(truth));
    doc = std::move(out);
    return true;
}

}  // namespace kovran::synth
