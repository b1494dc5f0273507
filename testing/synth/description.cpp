#include "testing/synth/description.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

namespace kovran::synth {

namespace {

using nlohmann::json;

// Reads the members of one JSON object, remembering which were used, so
// that finish() can refuse everything the reader did not ask for.
class Fields {
  public:
    Fields(const json& obj, std::string path) : obj_(obj), path_(std::move(path)) {
        if (!obj_.is_object()) throw DescriptionError(pathOr("(document)"), "must be an object");
    }
    std::string at(const std::string& name) const {
        return path_.empty() ? name : path_ + "." + name;
    }
    bool has(const std::string& name) {
        used_.insert(name);
        return obj_.contains(name);
    }
    const json& raw(const std::string& name) {
        used_.insert(name);
        return obj_.at(name);
    }
    double number(const std::string& name, double def, double lo, double hi) {
        if (!has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_number()) throw DescriptionError(at(name), "must be a number");
        const double d = v.get<double>();
        if (!std::isfinite(d) || d < lo || d > hi)
            throw DescriptionError(at(name), "must lie between " + fmt(lo) + " and " + fmt(hi));
        return d;
    }
    std::optional<double> optNumber(const std::string& name, double lo, double hi) {
        if (!obj_.contains(name)) {
            used_.insert(name);
            return std::nullopt;
        }
        return number(name, 0.0, lo, hi);
    }
    int integer(const std::string& name, int def, int lo, int hi) {
        if (!has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_number_integer()) throw DescriptionError(at(name), "must be an integer");
        const auto i = v.get<long long>();
        if (i < lo || i > hi)
            throw DescriptionError(
                at(name), "must lie between " + std::to_string(lo) + " and " + std::to_string(hi));
        return static_cast<int>(i);
    }
    std::string string(const std::string& name, const std::string& def, bool required = false) {
        if (!has(name)) {
            if (required) throw DescriptionError(at(name), "is required");
            return def;
        }
        const json& v = obj_.at(name);
        if (!v.is_string()) throw DescriptionError(at(name), "must be a string");
        return v.get<std::string>();
    }
    std::string choice(const std::string& name, const std::string& def,
                       const std::set<std::string>& allowed, bool required = false) {
        const std::string s = string(name, def, required);
        if (!allowed.count(s)) {
            std::string list;
            for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
            throw DescriptionError(at(name), "'" + s + "' is not one of " + list);
        }
        return s;
    }
    bool boolean(const std::string& name, bool def) {
        if (!has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_boolean()) throw DescriptionError(at(name), "must be true or false");
        return v.get<bool>();
    }
    Rgb colour(const std::string& name, Rgb def) {
        if (!has(name)) return def;
        const json& v = obj_.at(name);
        if (v.is_string()) {
            const std::string s = v.get<std::string>();
            if (s.size() == 7 && s[0] == '#' &&
                s.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos) {
                const unsigned long n = std::stoul(s.substr(1), nullptr, 16);
                return Rgb{static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 8),
                           static_cast<std::uint8_t>(n)};
            }
        } else if (v.is_array() && v.size() == 3) {
            int c[3];
            bool ok = true;
            for (int i = 0; i < 3; ++i) {
                ok = ok && v[i].is_number_integer() && v[i].get<int>() >= 0 &&
                     v[i].get<int>() <= 255;
                if (ok) c[i] = v[i].get<int>();
            }
            if (ok)
                return Rgb{static_cast<std::uint8_t>(c[0]), static_cast<std::uint8_t>(c[1]),
                           static_cast<std::uint8_t>(c[2])};
        }
        throw DescriptionError(at(name), "must be \"#rrggbb\" or [r, g, b] with values 0 to 255");
    }
    void finish() const {
        for (auto it = obj_.begin(); it != obj_.end(); ++it)
            if (!used_.count(it.key())) throw DescriptionError(at(it.key()), "unknown field");
    }

  private:
    std::string pathOr(const std::string& d) const { return path_.empty() ? d : path_; }
    static std::string fmt(double d) {
        std::string s = std::to_string(d);
        while (s.size() > 1 && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    }
    const json& obj_;
    std::string path_;
    std::set<std::string> used_;
};

Background parseBackground(const json& j, const std::string& path) {
    Fields f(j, path);
    Background b;
    const std::string type =
        f.choice("type", "", {"waves", "lines", "dots", "gradient"}, /*required=*/true);
    b.kind = type == "waves"   ? Background::Kind::Waves
             : type == "lines" ? Background::Kind::Lines
             : type == "dots"  ? Background::Kind::Dots
                               : Background::Kind::Gradient;
    b.colour = f.colour("colour", b.colour);
    b.colour2 = f.colour("colour2", b.colour2);
    b.periodMm = f.number("period_mm", b.periodMm, 0.2, 100.0);
    b.amplitudeMm = f.number("amplitude_mm", b.amplitudeMm, 0.0, 50.0);
    b.lineMm = f.number("line_mm", b.lineMm, 0.02, 5.0);
    b.angleDeg = f.number("angle_deg", b.angleDeg, -360.0, 360.0);
    f.finish();
    return b;
}

Element parseElement(const json& j, const std::string& path) {
    Fields f(j, path);
    Element e;
    e.path = path;
    const std::string type = f.choice("type", "",
                                      {"text", "codeline", "ocrb_line", "barcode",
                                       "microperforation", "photo", "magnetic_noise", "rect"},
                                      true);
    using K = Element::Kind;
    auto position = [&](bool required) {
        if (required && !f.has("x_mm")) throw DescriptionError(f.at("x_mm"), "is required");
        if (required && !f.has("y_mm")) throw DescriptionError(f.at("y_mm"), "is required");
        e.xMm = f.optNumber("x_mm", -1000.0, 1000.0);
        e.yMm = f.optNumber("y_mm", -1000.0, 1000.0);
    };
    if (type == "text" || type == "ocrb_line") {
        e.kind = type == "text" ? K::Text : K::OcrbLine;
        e.text = f.string("text", "", true);
        e.font = f.string("font", type == "text" ? "Nimbus Sans" : "OCR B");
        e.sizePt = f.number("size_pt", type == "text" ? 10.0 : 11.0, 2.0, 200.0);
        e.pitchMm = f.number("pitch_mm", 0.0, 0.0, 50.0);
        e.colour = f.colour("colour", e.colour);
        e.magnetic = f.boolean("magnetic", false);
        position(type == "text");
    } else if (type == "codeline") {
        e.kind = K::Codeline;
        e.font = f.choice("font", "", {"e13b", "cmc7"}, true);
        e.text = f.string("text", "", true);
        e.fontFile = f.string("font_file", "");
        e.glyphs = f.choice("glyphs", "synth", {"synth", "project"});
        if (e.glyphs == "project" && !e.fontFile.empty())
            throw DescriptionError(f.at("font_file"), "cannot be combined with project glyphs");
        if (f.has("bar_mm") || f.has("short_mm") || f.has("long_mm")) {
            if (e.font != "cmc7" || e.glyphs != "synth")
                throw DescriptionError(f.at("bar_mm"), "only the CMC7 bar drawing takes bar sizes");
            e.cmc7BarMm = f.number("bar_mm", e.cmc7BarMm, 0.05, 0.4);
            e.cmc7ShortMm = f.number("short_mm", e.cmc7ShortMm, 0.1, 1.0);
            e.cmc7LongMm = f.number("long_mm", e.cmc7LongMm, 0.1, 1.5);
            if (e.cmc7ShortMm <= e.cmc7BarMm || e.cmc7LongMm <= e.cmc7ShortMm)
                throw DescriptionError(f.at("long_mm"),
                                       "the intervals must exceed the bar and long exceed short");
        }
        e.magnetic = f.boolean("magnetic", true);
        e.strength = f.number("strength", 1.0, 0.0, 5.0);
        e.colour = f.colour("colour", Rgb{25, 22, 20});
        position(false);
    } else if (type == "barcode") {
        e.kind = K::Barcode;
        e.symbology =
            f.choice("symbology", "",
                     {"code128", "code39", "ean13", "itf", "pdf417", "datamatrix", "qrcode"}, true);
        e.text = f.string("data", "", true);
        e.generator = f.choice("generator", "zint", {"zint", "libdmtx"});
        if (e.generator == "libdmtx" && e.symbology != "datamatrix")
            throw DescriptionError(f.at("generator"), "libdmtx only generates datamatrix");
        e.moduleMm = f.number("module_mm", 0.33, 0.05, 5.0);
        e.heightMm = f.number("height_mm", 12.0, 1.0, 200.0);
        e.colour = f.colour("colour", Rgb{0, 0, 0});
        position(true);
    } else if (type == "microperforation") {
        e.kind = K::Microperforation;
        e.text = f.string("text", "", true);
        e.glyphs = f.choice("glyphs", "synth", {"synth", "project"});
        if (e.glyphs == "project" && (f.has("hole_mm") || f.has("pitch_mm")))
            throw DescriptionError(f.at("glyphs"),
                                   "project glyphs bring their own hole size and pitch");
        e.holeMm = f.number("hole_mm", 0.4, 0.05, 3.0);
        e.holePitchMm = f.number("pitch_mm", 0.7, 0.1, 5.0);
        if (e.holeMm >= e.holePitchMm)
            throw DescriptionError(f.at("hole_mm"), "must be smaller than pitch_mm");
        position(true);
    } else if (type == "photo" || type == "rect" || type == "magnetic_noise") {
        e.kind = type == "photo" ? K::Photo : type == "rect" ? K::Rect : K::MagneticNoise;
        position(true);
        e.widthMm = f.number("width_mm", 0.0, 0.1, 1000.0);
        e.heightMm = f.number("height_mm", 0.0, 0.1, 1000.0);
        if (!f.has("width_mm")) throw DescriptionError(f.at("width_mm"), "is required");
        if (!f.has("height_mm")) throw DescriptionError(f.at("height_mm"), "is required");
        if (type == "photo") e.darkness = f.number("darkness", 0.8, 0.0, 1.0);
        if (type == "rect") {
            e.lineMm = f.number("line_mm", 0.3, 0.02, 20.0);
            e.fill = f.boolean("fill", false);
            e.colour = f.colour("colour", e.colour);
        }
        if (type == "magnetic_noise") {
            e.level = f.number("level", 0.3, 0.0, 5.0);
            e.visible = f.boolean("visible", false);
            e.colour = f.colour("colour", Rgb{90, 80, 70});
        }
    }
    f.finish();
    return e;
}

SideDescription parseSide(const json& j, const std::string& path) {
    Fields f(j, path);
    SideDescription s;
    if (f.has("background")) {
        const json& list = f.raw("background");
        if (!list.is_array()) throw DescriptionError(f.at("background"), "must be an array");
        for (std::size_t i = 0; i < list.size(); ++i)
            s.background.push_back(
                parseBackground(list[i], f.at("background") + "[" + std::to_string(i) + "]"));
    }
    if (f.has("elements")) {
        const json& list = f.raw("elements");
        if (!list.is_array()) throw DescriptionError(f.at("elements"), "must be an array");
        for (std::size_t i = 0; i < list.size(); ++i)
            s.elements.push_back(
                parseElement(list[i], f.at("elements") + "[" + std::to_string(i) + "]"));
    }
    f.finish();
    return s;
}

}  // namespace

Description parseDescription(const nlohmann::json& j) {
    Fields top(j, "");
    Description d;
    d.name = top.string("name", d.name);
    if (d.name.empty() || d.name.find_first_of("/\\") != std::string::npos || d.name[0] == '.')
        throw DescriptionError("name", "must be a plain file stem");
    if (top.has("paper")) {
        Fields p(top.raw("paper"), "paper");
        d.widthMm = p.number("width_mm", d.widthMm, 20.0, 450.0);
        d.heightMm = p.number("height_mm", d.heightMm, 20.0, 450.0);
        d.paper = p.colour("colour", d.paper);
        d.transmission = p.number("transmission", d.transmission, 0.02, 1.0);
        p.finish();
    }
    if (top.has("front")) d.front = parseSide(top.raw("front"), "front");
    if (top.has("rear")) d.rear = parseSide(top.raw("rear"), "rear");
    if (top.has("scan")) {
        Fields s(top.raw("scan"), "scan");
        d.dpiX = s.number("dpi", d.dpiX, 50.0, 1200.0);
        d.dpiY = s.number("dpi_y", d.dpiX, 50.0, 1200.0);
        d.colour = s.boolean("colour", d.colour);
        d.format = s.choice("format", d.format, {"png", "pnm"});
        if (s.has("sides")) {
            const json& list = s.raw("sides");
            if (!list.is_array() || list.empty())
                throw DescriptionError(s.at("sides"), "must be a non-empty array");
            d.wantFront = d.wantRear = d.wantBacklight = false;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const std::string at = s.at("sides") + "[" + std::to_string(i) + "]";
                const std::string v = list[i].is_string() ? list[i].get<std::string>() : "";
                if (v == "front")
                    d.wantFront = true;
                else if (v == "rear")
                    d.wantRear = true;
                else if (v == "backlight")
                    d.wantBacklight = true;
                else
                    throw DescriptionError(at, "must be \"front\", \"rear\" or \"backlight\"");
            }
        }
        s.finish();
    }
    if (top.has("degradation")) {
        Fields g(top.raw("degradation"), "degradation");
        d.degradation.level = g.integer("level", 0, 0, 3);
        const json* seed = g.has("seed") ? &g.raw("seed") : nullptr;
        if (seed) {
            if (seed->is_number_unsigned()) {
                d.degradation.seed = seed->get<std::uint64_t>();
            } else if (seed->is_number_integer() && seed->get<long long>() >= 0) {
                d.degradation.seed = static_cast<std::uint64_t>(seed->get<long long>());
            } else {
                throw DescriptionError("degradation.seed", "must be a non-negative integer");
            }
        }
        d.degradation.skewDeg = g.optNumber("skew_deg", -10.0, 10.0);
        d.degradation.blur = g.optNumber("blur", 0.0, 10.0);
        d.degradation.noise = g.optNumber("noise", 0.0, 60.0);
        d.degradation.contrast = g.optNumber("contrast", 0.1, 2.0);
        d.degradation.brightness = g.optNumber("brightness", -128.0, 128.0);
        d.degradation.inkSpread = g.optNumber("ink_spread", 0.0, 5.0);
        if (g.has("jpeg_quality"))
            d.degradation.jpegQuality = g.integer("jpeg_quality", 90, 1, 100);
        g.finish();
    }
    if (top.has("magnetic")) {
        Fields m(top.raw("magnetic"), "magnetic");
        d.magnetic.ratio = m.integer("ratio", d.magnetic.ratio, 1, 100);
        d.magnetic.decimation = m.integer("decimation", d.magnetic.decimation, 1, 16);
        d.magnetic.noise = m.number("noise", d.magnetic.noise, 0.0, 50.0);
        d.magnetic.edgeLevel = m.number("edge_level", d.magnetic.edgeLevel, 0.0, 400.0);
        d.magnetic.gapInch = m.number("gap_in", d.magnetic.gapInch, 0.0001, 0.05);
        d.magnetic.spacingInch = m.number("spacing_in", d.magnetic.spacingInch, 0.0001, 0.05);
        m.finish();
    }
    top.finish();
    return d;
}

Description parseDescription(const std::string& text) {
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw DescriptionError("(document)", std::string("not valid JSON: ") + e.what());
    }
    return parseDescription(j);
}

}  // namespace kovran::synth
