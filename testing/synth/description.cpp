#include "testing/synth/description.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

namespace kovran::synth {

namespace {

using nlohmann::json;

// Whether a field must be given.
enum class Presence { Optional, Required };

// Reads the members of one JSON object, remembering which were used, so
// that Finish() can refuse everything the reader did not ask for.
class Fields {
  public:
    Fields(const json& obj, std::string path) : obj_(obj), path_(std::move(path)) {
        if (!obj_.is_object()) throw DescriptionError(PathOr("(document)"), "must be an object");
    }
    std::string PathOf(const std::string& name) const {
        return path_.empty() ? name : path_ + "." + name;
    }
    bool Has(const std::string& name) {
        used_.insert(name);
        return obj_.contains(name);
    }
    const json& Raw(const std::string& name) {
        used_.insert(name);
        return obj_.at(name);
    }
    double Number(const std::string& name, double def, double lo, double hi) {
        if (!Has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_number()) throw DescriptionError(PathOf(name), "must be a number");
        const double d = v.get<double>();
        if (!std::isfinite(d) || d < lo || d > hi)
            throw DescriptionError(PathOf(name), "must lie between " + Fmt(lo) + " and " + Fmt(hi));
        return d;
    }
    std::optional<double> OptNumber(const std::string& name, double lo, double hi) {
        if (!obj_.contains(name)) {
            used_.insert(name);
            return std::nullopt;
        }
        return Number(name, 0.0, lo, hi);
    }
    int Integer(const std::string& name, int def, int lo, int hi) {
        if (!Has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_number_integer()) throw DescriptionError(PathOf(name), "must be an integer");
        const auto i = v.get<long long>();
        if (i < lo || i > hi)
            throw DescriptionError(PathOf(name), "must lie between " + std::to_string(lo) +
                                                     " and " + std::to_string(hi));
        return static_cast<int>(i);
    }
    std::string String(const std::string& name, const std::string& def,
                       Presence presence = Presence::Optional) {
        if (!Has(name)) {
            if (presence == Presence::Required) throw DescriptionError(PathOf(name), "is required");
            return def;
        }
        const json& v = obj_.at(name);
        if (!v.is_string()) throw DescriptionError(PathOf(name), "must be a string");
        return v.get<std::string>();
    }
    std::string Choice(const std::string& name, const std::string& def,
                       const std::set<std::string>& allowed,
                       Presence presence = Presence::Optional) {
        const std::string s = String(name, def, presence);
        if (!allowed.count(s)) {
            std::string list;
            for (const auto& a : allowed) list += (list.empty() ? "" : ", ") + a;
            throw DescriptionError(PathOf(name), "'" + s + "' is not one of " + list);
        }
        return s;
    }
    bool Boolean(const std::string& name, bool def) {
        if (!Has(name)) return def;
        const json& v = obj_.at(name);
        if (!v.is_boolean()) throw DescriptionError(PathOf(name), "must be true or false");
        return v.get<bool>();
    }
    Rgb Colour(const std::string& name, Rgb def) {
        if (!Has(name)) return def;
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
                // Read wide: a value beyond int must not wrap into 0..255.
                const json& e = v[i];
                ok =
                    ok && e.is_number_integer() &&
                    (e.is_number_unsigned() ? e.get<unsigned long long>() <= 255
                                            : e.get<long long>() >= 0 && e.get<long long>() <= 255);
                if (ok) c[i] = v[i].get<int>();
            }
            if (ok)
                return Rgb{static_cast<std::uint8_t>(c[0]), static_cast<std::uint8_t>(c[1]),
                           static_cast<std::uint8_t>(c[2])};
        }
        throw DescriptionError(PathOf(name),
                               "must be \"#rrggbb\" or [r, g, b] with values 0 to 255");
    }
    void Finish() const {
        for (auto it = obj_.begin(); it != obj_.end(); ++it)
            if (!used_.count(it.key())) throw DescriptionError(PathOf(it.key()), "unknown field");
    }

  private:
    std::string PathOr(const std::string& d) const { return path_.empty() ? d : path_; }
    static std::string Fmt(double d) {
        std::string s = std::to_string(d);
        while (s.size() > 1 && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
        return s;
    }
    const json& obj_;
    std::string path_;
    std::set<std::string> used_;
};

Background ParseBackground(const json& j, const std::string& path) {
    Fields f(j, path);
    Background b;
    const std::string type =
        f.Choice("type", "", {"waves", "lines", "dots", "gradient"}, Presence::Required);
    b.kind = type == "waves"   ? Background::Kind::Waves
             : type == "lines" ? Background::Kind::Lines
             : type == "dots"  ? Background::Kind::Dots
                               : Background::Kind::Gradient;
    b.colour = f.Colour("colour", b.colour);
    b.colour2 = f.Colour("colour2", b.colour2);
    b.periodMm = f.Number("period_mm", b.periodMm, 0.2, 100.0);
    b.amplitudeMm = f.Number("amplitude_mm", b.amplitudeMm, 0.0, 50.0);
    b.lineMm = f.Number("line_mm", b.lineMm, 0.02, 5.0);
    b.angleDeg = f.Number("angle_deg", b.angleDeg, -360.0, 360.0);
    f.Finish();
    return b;
}

Element ParseElement(const json& j, const std::string& path) {
    Fields f(j, path);
    Element e;
    e.path = path;
    const std::string type = f.Choice("type", "",
                                      {"text", "codeline", "ocrb_line", "barcode",
                                       "microperforation", "photo", "magnetic_noise", "rect"},
                                      Presence::Required);
    using K = Element::Kind;
    auto position = [&](Presence presence) {
        const bool required = presence == Presence::Required;
        if (required && !f.Has("x_mm")) throw DescriptionError(f.PathOf("x_mm"), "is required");
        if (required && !f.Has("y_mm")) throw DescriptionError(f.PathOf("y_mm"), "is required");
        e.xMm = f.OptNumber("x_mm", -1000.0, 1000.0);
        e.yMm = f.OptNumber("y_mm", -1000.0, 1000.0);
    };
    if (type == "text" || type == "ocrb_line") {
        e.kind = type == "text" ? K::Text : K::OcrbLine;
        e.text = f.String("text", "", Presence::Required);
        e.font = f.String("font", type == "text" ? "Nimbus Sans" : "OCR B");
        e.sizePt = f.Number("size_pt", type == "text" ? 10.0 : 11.0, 2.0, 200.0);
        e.pitchMm = f.Number("pitch_mm", 0.0, 0.0, 50.0);
        e.colour = f.Colour("colour", e.colour);
        e.magnetic = f.Boolean("magnetic", false);
        position(type == "text" ? Presence::Required : Presence::Optional);
    } else if (type == "codeline") {
        e.kind = K::Codeline;
        e.font = f.Choice("font", "", {"e13b", "cmc7"}, Presence::Required);
        e.text = f.String("text", "", Presence::Required);
        e.fontFile = f.String("font_file", "");
        e.glyphs = f.Choice("glyphs", "synth", {"synth", "project"});
        if (e.glyphs == "project" && !e.fontFile.empty())
            throw DescriptionError(f.PathOf("font_file"), "cannot be combined with project glyphs");
        if (f.Has("bar_mm") || f.Has("short_mm") || f.Has("long_mm")) {
            if (e.font != "cmc7" || e.glyphs != "synth")
                throw DescriptionError(f.PathOf("bar_mm"),
                                       "only the CMC7 bar drawing takes bar sizes");
            e.cmc7BarMm = f.Number("bar_mm", e.cmc7BarMm, 0.05, 0.4);
            e.cmc7ShortMm = f.Number("short_mm", e.cmc7ShortMm, 0.1, 1.0);
            e.cmc7LongMm = f.Number("long_mm", e.cmc7LongMm, 0.1, 1.5);
            if (e.cmc7ShortMm <= e.cmc7BarMm || e.cmc7LongMm <= e.cmc7ShortMm)
                throw DescriptionError(f.PathOf("long_mm"),
                                       "the intervals must exceed the bar and long exceed short");
        }
        e.magnetic = f.Boolean("magnetic", true);
        // No load at all is a non-magnetic look-alike: "magnetic": false.
        e.strength = f.Number("strength", 1.0, 0.05, 5.0);
        e.colour = f.Colour("colour", Rgb{25, 22, 20});
        position(Presence::Optional);
    } else if (type == "barcode") {
        e.kind = K::Barcode;
        e.symbology =
            f.Choice("symbology", "",
                     {"code128", "code39", "ean13", "itf", "pdf417", "datamatrix", "qrcode"},
                     Presence::Required);
        e.text = f.String("data", "", Presence::Required);
        e.generator = f.Choice("generator", "zint", {"zint", "libdmtx"});
        if (e.generator == "libdmtx" && e.symbology != "datamatrix")
            throw DescriptionError(f.PathOf("generator"), "libdmtx only generates datamatrix");
        e.moduleMm = f.Number("module_mm", 0.33, 0.05, 5.0);
        e.heightMm = f.Number("height_mm", 12.0, 1.0, 200.0);
        e.colour = f.Colour("colour", Rgb{0, 0, 0});
        position(Presence::Required);
    } else if (type == "microperforation") {
        e.kind = K::Microperforation;
        e.text = f.String("text", "", Presence::Required);
        e.glyphs = f.Choice("glyphs", "synth", {"synth", "project"});
        if (e.glyphs == "project" && (f.Has("hole_mm") || f.Has("pitch_mm")))
            throw DescriptionError(f.PathOf("glyphs"),
                                   "project glyphs bring their own hole size and pitch");
        e.holeMm = f.Number("hole_mm", 0.4, 0.05, 3.0);
        e.holePitchMm = f.Number("pitch_mm", 0.7, 0.1, 5.0);
        if (e.holeMm >= e.holePitchMm)
            throw DescriptionError(f.PathOf("hole_mm"), "must be smaller than pitch_mm");
        position(Presence::Required);
    } else if (type == "photo" || type == "rect" || type == "magnetic_noise") {
        e.kind = type == "photo" ? K::Photo : type == "rect" ? K::Rect : K::MagneticNoise;
        position(Presence::Required);
        e.widthMm = f.Number("width_mm", 0.0, 0.1, 1000.0);
        e.heightMm = f.Number("height_mm", 0.0, 0.1, 1000.0);
        if (!f.Has("width_mm")) throw DescriptionError(f.PathOf("width_mm"), "is required");
        if (!f.Has("height_mm")) throw DescriptionError(f.PathOf("height_mm"), "is required");
        if (type == "photo") e.darkness = f.Number("darkness", 0.8, 0.0, 1.0);
        if (type == "rect") {
            e.lineMm = f.Number("line_mm", 0.3, 0.02, 20.0);
            e.fill = f.Boolean("fill", false);
            e.colour = f.Colour("colour", e.colour);
        }
        if (type == "magnetic_noise") {
            e.level = f.Number("level", 0.3, 0.0, 5.0);
            e.visible = f.Boolean("visible", false);
            e.colour = f.Colour("colour", Rgb{90, 80, 70});
        }
    }
    f.Finish();
    return e;
}

SideDescription ParseSide(const json& j, const std::string& path) {
    Fields f(j, path);
    SideDescription s;
    if (f.Has("background")) {
        const json& list = f.Raw("background");
        if (!list.is_array()) throw DescriptionError(f.PathOf("background"), "must be an array");
        for (std::size_t i = 0; i < list.size(); ++i)
            s.background.push_back(
                ParseBackground(list[i], f.PathOf("background") + "[" + std::to_string(i) + "]"));
    }
    if (f.Has("elements")) {
        const json& list = f.Raw("elements");
        if (!list.is_array()) throw DescriptionError(f.PathOf("elements"), "must be an array");
        for (std::size_t i = 0; i < list.size(); ++i)
            s.elements.push_back(
                ParseElement(list[i], f.PathOf("elements") + "[" + std::to_string(i) + "]"));
    }
    f.Finish();
    return s;
}

}  // namespace

Description ParseDescription(const nlohmann::json& j) {
    Fields top(j, "");
    Description d;
    d.name = top.String("name", d.name);
    // Control characters (a NUL above all) would cut or garble the file names.
    if (d.name.empty() || d.name.find_first_of("/\\") != std::string::npos || d.name[0] == '.' ||
        std::any_of(d.name.begin(), d.name.end(),
                    [](char ch) { return static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F; }))
        throw DescriptionError("name", "must be a plain file stem");
    if (top.Has("paper")) {
        Fields p(top.Raw("paper"), "paper");
        d.widthMm = p.Number("width_mm", d.widthMm, 20.0, 450.0);
        d.heightMm = p.Number("height_mm", d.heightMm, 20.0, 450.0);
        d.paper = p.Colour("colour", d.paper);
        d.transmission = p.Number("transmission", d.transmission, 0.02, 1.0);
        p.Finish();
    }
    if (top.Has("front")) d.front = ParseSide(top.Raw("front"), "front");
    if (top.Has("rear")) d.rear = ParseSide(top.Raw("rear"), "rear");
    if (top.Has("scan")) {
        Fields s(top.Raw("scan"), "scan");
        d.dpiX = s.Number("dpi", d.dpiX, 50.0, 1200.0);
        d.dpiY = s.Number("dpi_y", d.dpiX, 50.0, 1200.0);
        d.colour = s.Boolean("colour", d.colour);
        d.format = s.Choice("format", d.format, {"png", "pnm"});
        if (s.Has("sides")) {
            const json& list = s.Raw("sides");
            if (!list.is_array() || list.empty())
                throw DescriptionError(s.PathOf("sides"), "must be a non-empty array");
            d.wantFront = d.wantRear = d.wantBacklight = false;
            for (std::size_t i = 0; i < list.size(); ++i) {
                const std::string at = s.PathOf("sides") + "[" + std::to_string(i) + "]";
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
        s.Finish();
    }
    if (top.Has("degradation")) {
        Fields g(top.Raw("degradation"), "degradation");
        d.degradation.level = g.Integer("level", 0, 0, kMaxDegradationLevel);
        const json* seed = g.Has("seed") ? &g.Raw("seed") : nullptr;
        if (seed) {
            if (seed->is_number_unsigned()) {
                d.degradation.seed = seed->get<std::uint64_t>();
            } else if (seed->is_number_integer() && seed->get<long long>() >= 0) {
                d.degradation.seed = static_cast<std::uint64_t>(seed->get<long long>());
            } else {
                throw DescriptionError("degradation.seed", "must be a non-negative integer");
            }
        }
        d.degradation.skewDeg = g.OptNumber("skew_deg", -10.0, 10.0);
        d.degradation.blur = g.OptNumber("blur", 0.0, 10.0);
        d.degradation.opticsBlur = g.OptNumber("optics_blur", 0.0, 2.0);
        d.degradation.noise = g.OptNumber("noise", 0.0, 60.0);
        d.degradation.contrast = g.OptNumber("contrast", 0.1, 2.0);
        d.degradation.brightness = g.OptNumber("brightness", -128.0, 128.0);
        d.degradation.inkSpread = g.OptNumber("ink_spread", 0.0, 5.0);
        if (g.Has("jpeg_quality"))
            d.degradation.jpegQuality = g.Integer("jpeg_quality", 90, 1, 100);
        d.degradation.strokeMm = g.OptNumber("stroke_mm", -0.06, 0.2);
        d.degradation.inkDarkness = g.OptNumber("ink_darkness", 0.1, 1.0);
        d.degradation.pitchJitterMm = g.OptNumber("pitch_jitter_mm", 0.0, 0.5);
        d.degradation.baselineJitterMm = g.OptNumber("baseline_jitter_mm", 0.0, 0.5);
        if (g.Has("defects")) d.degradation.defects = g.Integer("defects", 0, 0, 60);
        if (g.Has("intrusions")) d.degradation.intrusions = g.Integer("intrusions", 0, 0, 6);
        d.degradation.fadeDepth = g.OptNumber("fade_depth", 0.0, 0.95);
        d.degradation.dotPitchMm = g.OptNumber("dot_pitch_mm", 0.0, 0.5);
        if (d.degradation.dotPitchMm && *d.degradation.dotPitchMm > 0.0 &&
            *d.degradation.dotPitchMm < 0.05)
            throw DescriptionError("degradation.dot_pitch_mm",
                                   "must be 0 (solid print) or from 0.05 to 0.5");
        d.degradation.pitchSqueeze = g.OptNumber("pitch_squeeze", 0.0, 0.4);
        d.degradation.charInkSd = g.OptNumber("char_ink_sd", 0.0, 0.4);
        g.Finish();
    }
    if (top.Has("magnetic")) {
        Fields m(top.Raw("magnetic"), "magnetic");
        d.magnetic.ratio = m.Integer("ratio", d.magnetic.ratio, 1, 100);
        d.magnetic.decimation = m.Integer("decimation", d.magnetic.decimation, 1, 16);
        d.magnetic.noise = m.Number("noise", d.magnetic.noise, 0.0, 50.0);
        d.magnetic.edgeLevel = m.Number("edge_level", d.magnetic.edgeLevel, 0.0, 400.0);
        d.magnetic.gapInch = m.Number("gap_in", d.magnetic.gapInch, 0.0001, 0.05);
        d.magnetic.spacingInch = m.Number("spacing_in", d.magnetic.spacingInch, 0.0001, 0.05);
        d.magnetic.reversedPolarity =
            m.Choice("polarity", "normal", {"normal", "reversed"}) == "reversed";
        // A load of 0 would be a non-magnetic look-alike: that is the
        // codeline's "magnetic": false, not a strength.
        d.magnetic.strength = m.Number("strength", 1.0, 0.05, 3.0);
        d.magnetic.charStrengthSd = m.Number("char_strength_sd", 0.0, 0.0, 0.3);
        d.magnetic.speedJitter = m.Number("speed_jitter", 0.0, 0.0, 0.2);
        d.magnetic.driftCounts = m.Number("drift", 0.0, 0.0, 60.0);
        d.magnetic.humCounts = m.Number("hum", 0.0, 0.0, 60.0);
        d.magnetic.humPerInch = m.Number("hum_per_inch", 50.0, 0.1, 2000.0);
        d.magnetic.spikes = m.Integer("spikes", 0, 0, 1000);
        d.magnetic.spikeCounts = m.Number("spike_level", 60.0, 0.0, 127.0);
        m.Finish();
    }
    top.Finish();
    return d;
}

Description ParseDescription(const std::string& text) {
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw DescriptionError("(document)", std::string("not valid JSON: ") + e.what());
    }
    return ParseDescription(j);
}

}  // namespace kovran::synth
