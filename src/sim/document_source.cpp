#include "sim/document_source.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>

#include "sim/image_file.h"

namespace kovran::sim {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxJsonBytes = 16u << 20;
constexpr std::size_t kMaxCorpusDocuments = 100000;

bool ReadJson(const std::string& path, json* out, std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, kMaxJsonBytes, &bytes, error)) return false;
    *out = json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (out->is_discarded() || !out->is_object()) {
        *error = path + ": not a JSON object";
        return false;
    }
    return true;
}

// A plain name inside the corpus folder: no separators, no way out of it.
bool PlainName(const json& v, std::string* out) {
    if (!v.is_string()) return false;
    const std::string s = v.get<std::string>();
    if (s.empty() || s.size() > 255 || s.find('/') != std::string::npos || s == "." || s == "..")
        return false;
    *out = s;
    return true;
}

// A text member, or `fallback` when it is missing or not text (a hostile
// file must not throw out of the parser).
std::string TextOr(const json& object, const char* key, const std::string& fallback) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

bool Dpi(const json& truth, const char* key, double* out) {
    auto it = truth.find(key);
    if (it == truth.end() || !it->is_number()) return false;
    const double v = it->get<double>();
    if (!(v >= 50.0 && v <= 2400.0)) return false;
    *out = v;
    return true;
}

bool ParseDouble(std::string_view v, double lo, double hi, double* out) {
    double d = 0.0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
    if (ec != std::errc() || end != v.data() + v.size() || !(d >= lo && d <= hi)) return false;
    *out = d;
    return true;
}

}  // namespace

bool LoadCorpus(const std::string& dir, std::vector<SimDocument>* out, std::string* error) {
    json index;
    if (!ReadJson(dir + "/index.json", &index, error)) return false;
    auto docs = index.find("documents");
    if (TextOr(index, "format", std::string()) != "kvx-synth-corpus/1" || docs == index.end() ||
        !docs->is_array() || docs->size() > kMaxCorpusDocuments) {
        *error = dir + "/index.json: not a kvx-synth corpus index";
        return false;
    }
    std::vector<SimDocument> result;
    for (const json& entry : *docs) {
        std::string truthName;
        if (!entry.is_object() || !PlainName(entry.value("truth", json()), &truthName)) {
            *error = dir + "/index.json: a document without its ground truth";
            return false;
        }
        json truth;
        const std::string truthPath = dir + "/" + truthName;
        if (!ReadJson(truthPath, &truth, error)) return false;
        SimDocument d;
        d.name = TextOr(truth, "name", truthName);
        auto images = truth.find("images");
        std::string front;
        if (images == truth.end() || !images->is_object() ||
            !PlainName(images->value("front", json()), &front) || !Dpi(truth, "dpi_x", &d.dpiX) ||
            !Dpi(truth, "dpi_y", &d.dpiY)) {
            *error = truthPath + ": images.front, dpi_x and dpi_y are needed";
            return false;
        }
        d.frontFile = dir + "/" + front;
        std::string name;
        if (PlainName(images->value("rear", json()), &name)) d.rearFile = dir + "/" + name;
        if (PlainName(images->value("backlight", json()), &name))
            d.backlightFile = dir + "/" + name;
        auto mag = truth.find("magnetic");
        if (mag != truth.end() && mag->is_object() &&
            PlainName(mag->value("file", json()), &name)) {
            d.magneticFile = dir + "/" + name;
            const json per = mag->value("raw_per_inch", json());
            const json base = mag->value("baseline", json());
            if (!per.is_number() || !(per.get<double>() > 0.0 && per.get<double>() < 1e6) ||
                !base.is_number_integer() || base.get<long long>() < 0 ||
                base.get<long long>() > 255) {
                *error = truthPath + ": magnetic.raw_per_inch or magnetic.baseline out of range";
                return false;
            }
            d.magneticPerInch = per.get<double>();
            d.magneticBaseline = static_cast<std::uint8_t>(base.get<long long>());
        }
        auto size = truth.find("size_px");
        if (size != truth.end() && size->is_array() && size->size() == 2 &&
            (*size)[0].is_number_integer() && (*size)[1].is_number_integer()) {
            const long long w = (*size)[0].get<long long>();
            const long long h = (*size)[1].get<long long>();
            if (w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide) {
                d.width = static_cast<int>(w);
                d.height = static_cast<int>(h);
            }
        }
        result.push_back(std::move(d));
    }
    out->insert(out->end(), result.begin(), result.end());
    return true;
}

bool ParseDoubleSheetSensors(std::string_view digits, std::uint8_t* mask) {
    std::uint8_t m = 0;
    for (const char c : digits) {
        if (c < '1' || c > '3') return false;
        m = static_cast<std::uint8_t>(m | (1u << (c - '1')));
    }
    if (m == 0) return false;
    *mask = m;
    return true;
}

bool ParseFeederLine(std::string_view line, SimDocument* out, std::string* error) {
    SimDocument d;
    bool first = true;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i == start) break;
        const std::string_view word = line.substr(start, i - start);
        if (first) {
            d.frontFile = std::string(word);
            first = false;
            continue;
        }
        const std::size_t eq = word.find('=');
        const std::string_view key = word.substr(0, eq);
        const std::string_view value = eq == std::string_view::npos ? "" : word.substr(eq + 1);
        bool ok = true;
        if (key == "double" && eq == std::string_view::npos) {
            d.doubleSheet = true;
        } else if (key == "double") {
            ok = ParseDoubleSheetSensors(value, &d.doubleSheetSensors);
            d.doubleSheet = ok;
        } else if (key == "rear") {
            d.rearFile = std::string(value);
        } else if (key == "backlight") {
            d.backlightFile = std::string(value);
        } else if (key == "mag") {
            d.magneticFile = std::string(value);
        } else if (key == "mag_per_inch") {
            ok = ParseDouble(value, 1.0, 1e6, &d.magneticPerInch);
        } else if (key == "dpi") {
            ok = ParseDouble(value, 50.0, 2400.0, &d.dpiX);
            d.dpiY = d.dpiX;
        } else if (key == "dpi_y") {
            ok = ParseDouble(value, 50.0, 2400.0, &d.dpiY);
        } else if (key == "skew") {
            ok = ParseDouble(value, -45.0, 45.0, &d.skewDegrees);
        } else if (key == "feed") {
            ok = value == "left" || value == "top";
            d.feed = value == "top" ? FeedEdge::Top : FeedEdge::Left;
        } else {
            *error = "feeder: unknown item \"" + std::string(word) + "\"";
            return false;
        }
        if (!ok || (eq != std::string_view::npos && value.empty())) {
            *error = "feeder: bad value in \"" + std::string(word) + "\"";
            return false;
        }
    }
    if (d.frontFile.empty()) {
        *error = "feeder: a front image file is needed";
        return false;
    }
    // The files are read now, so a profile naming a bad one is refused at
    // once with the reason.
    DocumentImages images;
    d.name = d.frontFile;
    if (!d.Render(&images, error)) return false;
    d.width = images.front.width;
    d.height = images.front.height;
    *out = std::move(d);
    return true;
}

}  // namespace kovran::sim
