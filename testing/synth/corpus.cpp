#include "testing/synth/corpus.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "testing/synth/description.h"
#include "testing/synth/document_renderer.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

namespace {

using nlohmann::json;

std::string digits(Rng& r, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + r.Integer(0, 9)));
    return s;
}

std::string pick(Rng& r, const char* set) {
    const std::string s(set);
    return std::string(1,
                       s[static_cast<std::size_t>(r.Integer(0, static_cast<long>(s.size()) - 1))]);
}

std::string hex(Rng& r, int lo, int hi) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", static_cast<int>(r.Integer(lo, hi)),
                  static_cast<int>(r.Integer(lo, hi)), static_cast<int>(r.Integer(lo, hi)));
    return buf;
}

std::uint64_t DocSeed(std::uint64_t seed, const std::string& set, int index, int level) {
    std::uint64_t h = seed ^ 0xcbf29ce484222325ULL;
    for (char c : set) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return (h ^ (static_cast<std::uint64_t>(index) << 8) ^ static_cast<std::uint64_t>(level)) *
               0x9E3779B97F4A7C15ULL >>
           1;
}

// A CMC7 codeline in the layout of Italian cheques: ':' and five digit
// fields separated by symbols and blanks.
std::string ItalianCmc7(Rng& r) {
    const char* sym = ":;<=>";
    return ":" + digits(r, 10) + pick(r, sym) + " " + digits(r, 9) + pick(r, sym) + " " +
           digits(r, 8) + pick(r, sym) + " " + digits(r, 5) + pick(r, sym) + " " + digits(r, 10) +
           pick(r, sym);
}

// A US-style E13B codeline: check number on-us, transit field, account
// on-us, and sometimes the amount field.
std::string UsE13b(Rng& r) {
    std::string s =
        "<" + digits(r, 6) + "< :" + digits(r, 9) + ": " + digits(r, 4) + ";" + digits(r, 6) + "<";
    if (r.Uniform() < 0.5) s += " =" + digits(r, 10) + "=";
    return s;
}

json background(Rng& r) {
    static const char* kinds[] = {"waves", "lines", "dots", "gradient"};
    return {{"type", kinds[r.Integer(0, 3)]},
            {"colour", hex(r, 190, 235)},
            {"colour2", "#ffffff"},
            {"period_mm", r.Uniform(1.0, 3.0)},
            {"amplitude_mm", r.Uniform(0.3, 2.0)},
            {"line_mm", r.Uniform(0.08, 0.25)},
            {"angle_deg", r.Uniform(-30.0, 30.0)}};
}

json text(const std::string& t, const std::string& font, double size, double x, double y) {
    return {{"type", "text"},  {"text", t}, {"font", font},
            {"size_pt", size}, {"x_mm", x}, {"y_mm", y}};
}

// The resolutions of the scan modes, by level: level 0 is the nominal
// 300 dpi; higher levels add the low and mixed resolutions (a horizontal
// resolution other than the line resolution) that the modes deliver.
json ScanFor(Rng& r, int level) {
    static const int modes[][2] = {{300, 300}, {240, 240}, {200, 200}, {600, 600},
                                   {300, 150}, {200, 100}, {150, 150}, {100, 100}};
    // How many of the modes above each level may draw from.
    static const int upTo[] = {1, 3, 5, 7, 8};
    const auto m = modes[r.Integer(0, upTo[level] - 1)];
    return {{"dpi", m[0]},
            {"dpi_y", m[1]},
            {"colour", false},
            {"sides", json::array({"front", "rear"})}};
}

// The magnetic track varies with the ink, the transport and the head: a
// weak or strong load, speed jitter, drift, interference and spikes grow
// with the level; one document in ten has the reversed head wiring, and the
// two-sided modes sample at ratio 5.
json MagneticFor(Rng& r, int level) {
    const double k = level / 4.0;
    json m = {{"noise", 0.6 + 0.6 * level},
              {"ratio", r.Uniform() < 0.3 ? 5 : 10},
              {"strength", level == 0 ? 1.0 : r.Uniform(1.0 - 0.6 * k, 1.0 + 0.6 * k)},
              {"char_strength_sd", 0.01 + 0.04 * k},
              {"speed_jitter", 0.03 * k},
              {"drift", 8.0 * k},
              {"hum", r.Uniform() < 0.5 ? 0.0 : 4.0 * k},
              {"hum_per_inch", r.Uniform(40.0, 120.0)},
              {"spikes", static_cast<int>(10 * k)},
              {"spike_level", 60.0}};
    if (level > 0 && r.Uniform() < 0.1) m["polarity"] = "reversed";
    return m;
}

}  // namespace

json ChequeDescription(const std::string& font, int index, int level, std::uint64_t seed) {
    Rng r(seed);
    const bool cmc7 = font == "cmc7";
    const double w = cmc7 ? 178.0 : 158.0, h = cmc7 ? 80.0 : 72.0;
    const std::string code = cmc7 ? ItalianCmc7(r) : UsE13b(r);
    // Test fonts are not the ones the font databases are built from.
    static const char* faces[] = {"Nimbus Sans:style=Bold", "Nimbus Roman", "Nimbus Sans Narrow",
                                  "URW Gothic"};
    json front = json::array();
    front.push_back(text(cmc7 ? "BANCA DI PROVA S.p.A." : "FIRST TEST BANK", faces[r.Integer(0, 1)],
                         r.Uniform(10.0, 14.0), r.Uniform(6.0, 20.0), r.Uniform(9.0, 13.0)));
    front.push_back(text(cmc7 ? "Pagate per questo assegno" : "PAY TO THE ORDER OF",
                         faces[r.Integer(1, 3)], r.Uniform(7.0, 9.0), 8.0, r.Uniform(30.0, 36.0)));
    front.push_back({{"type", "rect"},
                     {"x_mm", w - 50.0},
                     {"y_mm", 26.0},
                     {"width_mm", 40.0},
                     {"height_mm", 9.0},
                     {"line_mm", 0.3}});
    front.push_back(text("**" + digits(r, 3) + "," + digits(r, 2) + "**", "Liberation Mono", 10.0,
                         w - 46.0, 32.5));
    front.push_back({{"type", "rect"},
                     {"x_mm", 8.0},
                     {"y_mm", 48.0},
                     {"width_mm", w - 70.0},
                     {"height_mm", 0.3},
                     {"line_mm", 0.15},
                     {"fill", true}});
    front.push_back(text("N. " + digits(r, 10), faces[r.Integer(0, 3)], 8.0, w - 55.0, 12.0));
    if (r.Uniform() < 0.3)
        front.push_back({{"type", "photo"},
                         {"x_mm", w - 45.0},
                         {"y_mm", 38.0},
                         {"width_mm", 16.0},
                         {"height_mm", 18.0},
                         {"darkness", r.Uniform(0.6, 0.9)}});
    front.push_back({{"type", "codeline"}, {"font", font}, {"text", code}});
    if (r.Uniform() < 0.2)
        front.push_back({{"type", "magnetic_noise"},
                         {"x_mm", r.Uniform(5.0, 60.0)},
                         {"y_mm", h - 14.0},
                         {"width_mm", 30.0},
                         {"height_mm", 8.0},
                         {"level", r.Uniform(0.05, 0.2)}});
    json rear = json::array();
    rear.push_back(text("GIRATA / ENDORSE HERE", "Nimbus Sans", 7.0, 10.0, 10.0));
    return {{"name", std::string(cmc7 ? "cheque-cmc7" : "cheque-e13b") + "-l" +
                         std::to_string(level) + "-" + std::to_string(index)},
            {"paper", {{"width_mm", w}, {"height_mm", h}, {"colour", hex(r, 225, 250)}}},
            {"front", {{"background", json::array({background(r)})}, {"elements", front}}},
            {"rear", {{"elements", rear}}},
            {"scan", ScanFor(r, level)},
            {"degradation", {{"level", level}, {"seed", seed}}},
            {"magnetic", MagneticFor(r, level)}};
}

json PaymentFormDescription(int index, int level, std::uint64_t seed) {
    Rng r(seed);
    // Italian payment form codeline in OCR-B, at the bottom right.
    static const char* kinds[] = {"123", "247", "451", "674", "896"};
    const std::string line = "<" + digits(r, 18) + ">  " + digits(r, 8) + "+" + digits(r, 2) +
                             "> " + digits(r, 12) + "<  " + kinds[r.Integer(0, 4)] + ">";
    json front = json::array();
    front.push_back(text("CONTI CORRENTI POSTALI - Ricevuta di Versamento",
                         "Nimbus Sans:style=Bold", 9.0, 8.0, 10.0));
    front.push_back(text("sul C/C n. " + digits(r, 8), "Nimbus Sans", 8.0, 8.0, 20.0));
    front.push_back(
        text("di Euro  " + digits(r, 3) + "," + digits(r, 2), "Nimbus Sans", 8.0, 8.0, 28.0));
    front.push_back(text("INTESTATO A  SOCIETA DI PROVA", "Nimbus Roman", 8.0, 8.0, 36.0));
    front.push_back({{"type", "ocrb_line"}, {"text", line}, {"size_pt", r.Uniform(9.0, 10.8)}});
    // A reference line in OCR-A (font 2's characters), as some forms carry.
    front.push_back(text(digits(r, 10) + "<" + digits(r, 6) + ">" + digits(r, 4) + "+", "OCRA",
                         r.Uniform(9.5, 11.0), 8.0, 50.0));
    json out = {
        {"name", "payment-form-l" + std::to_string(level) + "-" + std::to_string(index)},
        {"paper", {{"width_mm", 240.0}, {"height_mm", 102.0}, {"colour", hex(r, 230, 250)}}},
        {"front", {{"background", json::array({background(r)})}, {"elements", front}}},
        {"degradation", {{"level", level}, {"seed", seed}}}};
    // Forms are scanned in the same modes as cheques.
    out["scan"] = ScanFor(r, level);
    out["scan"]["sides"] = json::array({"front"});
    return out;
}

json SymbolSheetDescription(int index, int level, std::uint64_t seed) {
    Rng r(seed);
    json e = json::array();
    const std::string id = digits(r, 12);
    e.push_back({{"type", "barcode"},
                 {"symbology", "code128"},
                 {"data", "KVX-" + digits(r, 8)},
                 {"x_mm", 10.0},
                 {"y_mm", 10.0},
                 {"module_mm", 0.33},
                 {"height_mm", 12.0}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "code39"},
                 {"data", "CODE" + digits(r, 6)},
                 {"x_mm", 10.0},
                 {"y_mm", 30.0},
                 {"module_mm", 0.3},
                 {"height_mm", 10.0}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "ean13"},
                 {"data", id},
                 {"x_mm", 120.0},
                 {"y_mm", 10.0},
                 {"module_mm", 0.33},
                 {"height_mm", 15.0}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "itf"},
                 {"data", digits(r, 14)},
                 {"x_mm", 120.0},
                 {"y_mm", 32.0},
                 {"module_mm", 0.33},
                 {"height_mm", 10.0}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "pdf417"},
                 {"data", "PDF417 " + digits(r, 20)},
                 {"x_mm", 10.0},
                 {"y_mm", 50.0},
                 {"module_mm", 0.3}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "datamatrix"},
                 {"data", "1" + digits(r, 39)},
                 {"x_mm", 110.0},
                 {"y_mm", 55.0},
                 {"module_mm", 0.5}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "datamatrix"},
                 {"generator", "libdmtx"},
                 {"data", "DMTX" + digits(r, 16)},
                 {"x_mm", 140.0},
                 {"y_mm", 55.0},
                 {"module_mm", 0.5}});
    e.push_back({{"type", "barcode"},
                 {"symbology", "qrcode"},
                 {"data", "https://example.invalid/" + digits(r, 6)},
                 {"x_mm", 170.0},
                 {"y_mm", 55.0},
                 {"module_mm", 0.5}});
    return {{"name", "symbols-l" + std::to_string(level) + "-" + std::to_string(index)},
            {"paper", {{"width_mm", 200.0}, {"height_mm", 90.0}}},
            {"front", {{"elements", e}}},
            {"scan", {{"dpi", 300}, {"colour", false}, {"sides", json::array({"front"})}}},
            {"degradation", {{"level", level}, {"seed", seed}}}};
}

namespace {

// Documents that must not read as a magnetic codeline, or that carry a
// microperforated number seen in the backlight.
std::vector<json> SpecialDescriptions(std::uint64_t seed) {
    std::vector<json> out;
    json lookalike = ChequeDescription("e13b", 0, 1, DocSeed(seed, "lookalike", 0, 1));
    lookalike["name"] = "lookalike-e13b-0";
    for (auto& el : lookalike["front"]["elements"])
        if (el["type"] == "codeline") el["magnetic"] = false;
    out.push_back(lookalike);
    json noisy = ChequeDescription("cmc7", 0, 1, DocSeed(seed, "magnoise", 0, 1));
    noisy["name"] = "magnetic-noise-cmc7-0";
    noisy["front"]["elements"].push_back({{"type", "magnetic_noise"},
                                          {"x_mm", 5.0},
                                          {"y_mm", 66.0},
                                          {"width_mm", 165.0},
                                          {"height_mm", 12.0},
                                          {"level", 0.25}});
    out.push_back(noisy);
    Rng r(DocSeed(seed, "microperf", 0, 0));
    json perf = ChequeDescription("cmc7", 0, 0, DocSeed(seed, "microperf", 0, 0));
    perf["name"] = "microperforation-0";
    perf["front"]["elements"].push_back({{"type", "microperforation"},
                                         {"text", digits(r, 10)},
                                         {"x_mm", 12.0},
                                         {"y_mm", 52.0},
                                         {"hole_mm", 0.35},
                                         {"pitch_mm", 0.6}});
    perf["scan"]["sides"] = json::array({"front", "rear", "backlight"});
    out.push_back(perf);
    return out;
}

}  // namespace

void MakeCorpus(const CorpusOptions& options,
                const std::function<void(const std::string&)>& progress) {
    std::error_code ec;
    std::filesystem::create_directories(options.dir, ec);
    if (ec) throw SynthError("cannot create " + options.dir + ": " + ec.message());
    struct Item {
        std::string set;
        int level;
        json desc;
    };
    std::vector<Item> items;
    const int perLevel = options.perLevel > 0 ? options.perLevel : options.large ? 100 : 2;
    for (const char* font : {"e13b", "cmc7"})
        for (int level = 0; level <= kMaxDegradationLevel; ++level)
            for (int i = 0; i < perLevel; ++i)
                items.push_back(
                    {std::string("cheques-") + font, level,
                     ChequeDescription(font, i, level, DocSeed(options.seed, font, i, level))});
    // With --per-level, that many forms at each level, as for the cheques.
    const int forms = options.perLevel > 0 ? options.perLevel * (kMaxDegradationLevel + 1)
                      : options.large      ? 60
                                           : 2;
    for (int i = 0; i < forms; ++i) {
        const int level = i % (kMaxDegradationLevel + 1);
        items.push_back(
            {"payment-forms", level,
             PaymentFormDescription(i, level, DocSeed(options.seed, "form", i, level))});
    }
    const int sheets = options.large ? 30 : 1;
    for (int i = 0; i < sheets; ++i) {
        const int level = options.large ? i % (kMaxDegradationLevel + 1) : 1;
        items.push_back({"symbols", level,
                         SymbolSheetDescription(i, level, DocSeed(options.seed, "sym", i, level))});
    }
    for (json& d : SpecialDescriptions(options.seed))
        items.push_back({"special", d["degradation"]["level"], d});

    json index = {{"format", "kvx-synth-corpus/1"},
                  {"seed", options.seed},
                  {"large", options.large},
                  {"documents", json::array()}};
    for (Item& item : items) {
        if (options.dpi > 0) {
            item.desc["scan"]["dpi"] = options.dpi;
            item.desc["scan"]["dpi_y"] = options.dpi;
        }
        item.desc["scan"]["colour"] = options.colour;
    }
    // Documents are independent: the workers take them in turn, each with
    // its own fonts and renderer, and the index keeps the items' order.
    std::vector<json> entries(items.size());
    std::atomic<std::size_t> next{0};
    std::mutex reportMutex;
    std::string failure;
    auto work = [&] {
        SynthFontLibrary fonts;
        DocumentRenderer renderer(fonts);
        for (std::size_t i = next++; i < items.size(); i = next++) {
            Item& item = items[i];
            try {
                const Description d = ParseDescription(item.desc);
                const RenderedDocument doc = renderer.Render(d);
                WriteDocument(doc, options.dir, d.format);
                entries[i] = {{"name", d.name},
                              {"set", item.set},
                              {"level", item.level},
                              {"truth", d.name + ".json"}};
                std::lock_guard lock(reportMutex);
                if (progress) progress(d.name);
            } catch (const SynthError& e) {
                std::lock_guard lock(reportMutex);
                if (failure.empty()) failure = item.desc.value("name", "?") + ": " + e.what();
                next = items.size();
            }
        }
    };
    const int threads = std::clamp(options.threads, 1, 16);
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    if (!failure.empty()) throw SynthError(failure);
    for (json& e : entries) index["documents"].push_back(std::move(e));
    std::ofstream(options.dir + "/index.json") << index.dump(1) << "\n";
    std::ofstream readme(options.dir + "/README.md");
    readme << CorpusReadme();
    if (!readme) throw SynthError("cannot write " + options.dir + "/README.md");
}

const char* CorpusReadme() {
    return R"(# kvx-synth corpus

Synthetic scans made by `kvx-synth` (scripts/make-corpus). The same seed and
options give the same files.

## Files

- `index.json`: `{"format": "kvx-synth-corpus/1", "seed", "large",
  "documents": [{"name", "set", "level", "truth"}]}`. Sets: `cheques-e13b`,
  `cheques-cmc7`, `payment-forms`, `symbols`, `special` (non-magnetic
  look-alike codeline, magnetic noise, microperforation with backlight).
  Levels: 0 clean, 1 light, 2 medium, 3 heavy, 4 hard (see
  testing/synth/degradation.h for what each applies).
- `<name>.front.png`, `<name>.rear.png`, `<name>.backlight.png`: 8-bit grey
  (or RGB) images of the document as the scanner sees each side, at the
  resolution given in the ground truth (`dpi_x`, `dpi_y`). The rear is seen
  from its own face (mirrored left to right against the front). The
  backlight image has the front's orientation. With format `pnm` the files
  are `.pgm` / `.ppm`.
- `<name>.mag`: the magnetic head's raw samples, unsigned 8-bit, no header.
  Sample 0 lies at the leading edge of the document (the left edge of the
  front image); samples run along the document at `magnetic.raw_per_inch` =
  300 x `magnetic.ratio` x `magnetic.decimation` per inch. The idle level is
  `magnetic.baseline` (128). Polarity: with `magnetic.polarity` "normal" an
  ink onset (the leading edge of a stroke) takes the signal below the
  baseline (`magnetic.onset` "below_baseline"), as the decoder's smoothing
  (mean - value) expects; "reversed" is the opposite wiring, for testing the
  reversed-polarity retry.

## Feeding a `.mag` track as the device's stream

The decoder averages u = 3 x f raw samples into one decimated sample (f the
mode's decimation) and converts positions with
sample = trunc(r x (x + s - o) / 3), x in pixels at 300 dpi, r the mode's
magnetic ratio, o the head offset in 300-dpi pixels (half the 16-bit value
of the device's MICR configuration; 200 for the default simulated device),
s the image shift (0 for an unshifted image). x counts the pixels along
the document, the stream's scan lines, as the device sends them, and the
image starts before the paper: the simulated
device first sends `lead` lines of background, 1 + ceil(G x L / 300) at a
line resolution of L dpi (G the profile's lead gap in 300-dpi pixels, 30
by default: 31 lines at 300 dpi). Decimated stream sample k belongs to
image line x = 3 k / r + o, and raw stream sample j (counted over every
strip of the stream) to the paper position

    position(j) = j / (r L c) + o / 300 - lead / L   (inches from the leading edge)

with r raw samples after each channel line and c = 1 for grey, 3 for colour
(on model 11 every channel line counts, infrared and ultraviolet
included; on other models j counts the strips of those lines too while c
does not, so with infrared or ultraviolet the simulator reads the track
faster than the paper moves). In a grey 300-dpi mode with f = 1 this is
j / (300 r) + o / 300 - lead / 300. A simulated device delivers

    stream[j] = mag[position(j) x raw_per_inch]    (the `.mag`'s own rate)

- When the track was rendered at the mode's rate (300 x `magnetic.ratio`
  per inch for a grey 300-dpi mode), this is stream[j] = mag[j + (o - lead)
  r]: for the default device's two-sided grey mode (r = 5, o = 200, 31
  lead lines) stream[j] = mag[j + 845]. Positions before the track or past
  its end read as the baseline.
- Otherwise the track is resampled linearly at those positions (for a
  two-sided mode with r = 5, a track rendered at ratio 10 gives every other
  raw sample); rendering the corpus at the mode's ratio (`magnetic.ratio`,
  5 on about 30 % of the cheques) avoids the resampling.
- Count: the stream holds r samples after every channel line of the scan,
  the lead, the document, the sensors' delays and the trailing length
  included; the decoder drops a remainder below u.
- The simulated head is never reversed (MICR configuration bit 5 is not
  modelled). A head configured as reversed would deliver the stream back
  to front, stream'[j] = stream[count - 1 - j]: the head's direction,
  independent of the polarity above.
- The skew of the document is in the track itself (the head track crosses
  the characters at `magnetic.skew_deg`); the simulator reads the track
  along the paper path as it is.

- `<name>.json`: the ground truth:
  - `paper` (mm), `size_px` [width, height], `dpi_x`, `dpi_y`, `colour`,
    `seed`, `level`, `degradation` (the values actually applied: skew in
    degrees counter-clockwise about `skew_centre_px`, blur sigma, the
    scanner's own `optics_blur` (added in quadrature) and ink spread in
    pixels at 300 dpi, noise sigma, contrast, brightness, JPEG quality or
    0);
  - `images`: side -> file name;
  - `codeline` (or null): `font` (`e13b` or `cmc7`), `text` as the library
    writes it (E13B symbols ':' transit, '=' amount, '<' on-us, ';' dash;
    CMC7 symbols ':' ';' '<' '=' '>'), `magnetic` (false for a printed
    look-alike without magnetic ink), `chars`: per character `c`, `box`
    [left, top, right, bottom) in front pixels before skew, `box_scan`
    the bounding box of the same box in the skewed image, `samples`
    [first, last] in decimated magnetic samples;
  - `front`, `rear`: the elements printed on each side with `type`,
    `text` or `data`, `font`, `font_file`, `symbology`, `generator`,
    `box` (pixels before skew) and `box_scan` (in the image as written);
  - codeline `chars` also carry `jitter_mm` [x, y] (pitch and baseline
    jitter applied), `defects` (local defects: `void`, `spatter`, `break`,
    `smudge`, `touching`), `magnetic_strength` (the character's ink load)
    and `under_intrusion` (foreign ink inside its box: score these apart);
    `codeline.stroke_mm` is the growth the codeline's print took, within
    its drawing's limits (the CMC7 strokes grow to 0.1 mm, the E13B
    outlines to 0.15 mm, both thin to -0.05 mm; 0 from a MICR font file,
    which is printed as it is), where `degradation.stroke_mm` is the
    growth asked;
    `codeline.intrusions` lists the strokes across the clear band (`kind`
    `signature`, `handwriting`, `stamp`, `endorsement`, `box` and
    `box_scan`);
  - text elements carry per-character `chars` boxes (OCR-A, OCR-B lines);
  - `degradation` also holds the codeline print values: `stroke_mm`
    (growth of the stroke, < 0 light print), `ink_darkness`,
    `pitch_jitter_mm`, `baseline_jitter_mm`, `defects`, `intrusions`, and
    the OCR lines' wear: `fade_depth`, `dot_pitch_mm`, `pitch_squeeze`,
    `char_ink_sd` (see Levels);
  - `magnetic`: `file`, `ratio`, `decimation`, `raw_per_inch`,
    `decimated_per_inch`, `count`, `baseline`, `noise`, `edge_level`,
    `polarity`, `onset`, `strength` (document load), `char_strength_sd`,
    `speed_jitter`, `drift`, `hum`, `hum_per_inch`, `spikes`, `spike_level`,
    `skew_deg` (the head track crosses the characters at this angle).

## Levels

Every scan, at every level, passes through the scanner's optics: a
Gaussian blur of 0.45 pixel at 300 dpi (about 0.04 mm on the paper), with
the level's own blur added in quadrature. A contact image sensor never
samples paper point by point; without it a 0.15 mm CMC7 stroke that falls
badly on the pixel grid would binarise one pixel wide at 300 dpi, as no
real scanner delivers it.

- 0 clean: nominal print, 300 dpi, nominal magnetic track.
- 1 light: noise, skew up to 0.5 degree, stroke -0.01 to +0.03 mm, slight
  jitter, at most one local defect; 300, 240 or 200 dpi; magnetic load
  85-115 %.
- 2 medium: skew up to 1.2 degrees, JPEG 55-75, stroke -0.02 to +0.06 mm,
  grey print, one or two defects, an intrusion on half of the cheques;
  also 600 and 300 x 150 dpi; load 70-130 %, speed jitter, drift,
  interference, spikes.
- 3 heavy: skew up to 2 degrees, stroke -0.03 to +0.09 mm, low contrast,
  two to four defects, one intrusion; also 200 x 100 and 150 dpi;
  load 55-145 %.
- 4 hard: skew up to 3 degrees, strong blur and noise, stroke -0.03 to
  +0.12 mm (counters fill), grey print, three to seven defects, two
  intrusions; down to 100 dpi; load 40-160 %.
One magnetic track in ten above level 0 has the reversed polarity. The
stroke, ink darkness, pitch and baseline jitter and local defects also apply
to the OCR-A and OCR-B lines of the payment forms (each line draws its own
defects, `degradation.defects` of them, from its own seed; their `chars`
carry `jitter_mm` and `defects` as the codeline's do), which are scanned in
the same modes as the cheques.

The OCR lines also wear as forms from office and impact printers do (the
codeline keeps its own print). Each is seeded per line and recorded in
`degradation`: `fade_depth` (low toner or a worn ribbon: patches about
0.5 mm across lose up to this share of their ink, so strokes fade along
part of their length), `dot_pitch_mm` (0 solid print; else printed by an
impact printer's pins on this grid, dots a little under the pitch across),
`pitch_squeeze` (the pitch this share tighter than the font's, so that
neighbours come close or touch and their ink enters the true boxes) and
`char_ink_sd` (each character's ink, recorded as `ink` in its `chars`
entry, a factor from 0.3 to 1 of the line's darkness):

| level | fade_depth | dot-matrix print | pitch_squeeze | char_ink_sd |
|---|---|---|---|---|
| 0 | 0 | never | 0 | 0 |
| 1 | 0.12-0.2 | never | 0-0.03 | 0.04 |
| 2 | 0.27-0.45 | 1 form in 10, 0.14-0.18 mm | 0-0.07 | 0.08 |
| 3 | 0.42-0.7 | 35 in 100, 0.17-0.25 mm | 0-0.12 | 0.12 |
| 4 | 0.45-0.75 | 35 in 100, 0.18-0.28 mm | 0-0.14 | 0.15 |

With `--per-level N` the corpus holds N payment forms at each level.

## Drawings

- E13B: the synthesizer's own outlines (testing/synth/e13b_outlines.cpp),
  not the glyph data the font databases are built from. Each character is
  drawn in thousandths of an inch on the font's grid of 0.013 inch modules:
  digits 0.117 inch tall, 4 to 7 modules wide, right-aligned in a 7-module
  box centred in the 0.125 inch pitch, with stroke widths of its own (the
  sides of the '0' 0.015 inch, heavy lower parts on '1' to '9'); corners
  rounded over 0.07 mm, grown or thinned as a whole, sampled by area. A
  MICR font file (`font_file`, or KOVRAN_SYNTH_E13B_FONT) replaces it.
  `glyphs: "project"` prints the databases' own art instead.
- CMC7: seven strokes on the short (0.30 mm) and long (0.50 mm) intervals of
  the code table, with the character cut out of them: a digit is a pen path
  (a broad nib about two strokes wide and a tenth of the height deep, drawn
  along the digit's centre line across the seven stroke positions, so the
  '0' keeps its hole), and the five symbols are cut by rules of their own.
  This shares no data with data/glyphs/cmc7.txt, but shows the same
  characters, so that a template reader's CMC7 rates measure the reader.
  Each character is placed at its true position to a quarter of a pixel:
  at 300 dpi a 0.15 mm stroke then binarises one or two pixels wide as the
  scan's pixels fall on it, as on real scans.
- Open question, CMC7 symbols: the code table fixes which gaps of each
  symbol are long, so the symbols always decode apart; nothing we hold
  fixes the outline cut out of their strokes. Drawing and databases agree
  on our reading: ':' a window across the middle third, ';' the lower half
  of every second stroke cut away, '<' tapering to a point on the left,
  '=' a band cut down from the top left corner, '>' tapering to a point on
  the right. A printed CMC7 reference may decide otherwise.
- CMC7 resolutions: the CMC7 databases hold models of 300 to 400 dpi only.
  Below 300 dpi a 0.15 mm gap is under 1.7 pixels and binarising at half
  coverage closes some gap in every character, so a model there would be a
  merged blob; the corpus still scans CMC7 cheques at 100 to 240 dpi above
  level 0, where the template reading is expected to fail and the bar
  reading of the grey profile to carry the codeline.
)";
}

}  // namespace kovran::synth
