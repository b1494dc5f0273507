#include "testing/synth/document_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ocr/glyph_raster.h"
#include "platform/utf8.h"
#include "testing/synth/backgrounds.h"
#include "testing/synth/degradation.h"
#include "testing/synth/e13b_outlines.h"
#include "testing/synth/image_io.h"
#include "testing/synth/image_ops.h"
#include "testing/synth/magnetic_ink.h"
#include "testing/synth/microperforation.h"
#include "testing/synth/print_defects.h"
#include "testing/synth/project_glyphs.h"
#include "testing/synth/rng.h"
#include "testing/synth/symbols.h"

namespace kovran::synth {

namespace {

using nlohmann::json;

constexpr double kMmPerInch = 25.4;
// Codeline geometry of cheques: characters on a 1/8 inch grid, the last
// cell ending 5/16 inch from the right edge, the baseline 3/16 inch above
// the bottom edge, and a clear band 5/8 inch high kept free of other print.
constexpr double kCodelineRightInch = 5.0 / 16.0;
constexpr double kCodelineBaselineInch = 3.0 / 16.0;
constexpr double kClearBandInch = 5.0 / 8.0;
// The backdrop the scanner sees through holes and beyond skewed edges.
constexpr Rgb kBackdrop{28, 28, 30};

struct BoxMm {
    double left = 0, top = 0, right = 0, bottom = 0;
};

struct Canvas {
    ImageBuffer image;
    ImageBuffer ink;  // opacity of the print, for the backlight
    double pxX = 1, pxY = 1;
    json elements = json::array();
};

std::string CharName(char32_t c) {
    char buf[32];
    if (c >= 0x20 && c < 0x7F)
        std::snprintf(buf, sizeof buf, "'%c' (U+%04X)", static_cast<char>(c),
                      static_cast<unsigned>(c));
    else
        std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
    return buf;
}

void CheckInside(const BoxMm& b, const Description& d, const std::string& path) {
    constexpr double eps = 1e-6;
    if (b.left < -eps || b.top < -eps || b.right > d.widthMm + eps || b.bottom > d.heightMm + eps) {
        char buf[200];
        std::snprintf(
            buf, sizeof buf,
            "lies outside the page (box %.1f,%.1f to %.1f,%.1f mm on a %.1f x %.1f mm page)",
            b.left, b.top, b.right, b.bottom, d.widthMm, d.heightMm);
        throw DescriptionError(path, buf);
    }
}

void AccumulateInk(ImageBuffer& ink, const ImageBuffer& cov, int ox, int oy, float opacity = 1.0f) {
    for (int y = 0; y < cov.Height(); ++y) {
        const int ty = oy + y;
        if (ty < 0 || ty >= ink.Height()) continue;
        for (int x = 0; x < cov.Width(); ++x) {
            const int tx = ox + x;
            if (tx < 0 || tx >= ink.Width()) continue;
            std::uint8_t& v = ink.At(tx, ty);
            v = std::max(v, static_cast<std::uint8_t>(std::lround(cov.At(x, y) * opacity)));
        }
    }
}

json BoxJson(double l, double t, double r, double b) {
    return json::array({std::lround(l), std::lround(t), std::lround(r), std::lround(b)});
}

// The box a skewed scan shows: the bounding box of the four corners turned
// as rotateImage turns the image (counter-clockwise on screen about the
// centre).
json ScanBox(const json& box, double angleDeg, double cx, double cy) {
    const double a = angleDeg * M_PI / 180.0, ca = std::cos(a), sa = std::sin(a);
    double l = 1e18, t = 1e18, r = -1e18, b = -1e18;
    for (int k = 0; k < 4; ++k) {
        const double x = box[k & 1 ? 2 : 0].get<double>() - cx;
        const double y = box[k & 2 ? 3 : 1].get<double>() - cy;
        const double X = ca * x + sa * y + cx, Y = -sa * x + ca * y + cy;
        l = std::min(l, X);
        r = std::max(r, X);
        t = std::min(t, Y);
        b = std::max(b, Y);
    }
    return BoxJson(std::floor(l), std::floor(t), std::ceil(r), std::ceil(b));
}

void AddScanBoxes(json& items, double angleDeg, double cx, double cy) {
    for (auto& item : items) {
        if (item.contains("box")) item["box_scan"] = ScanBox(item["box"], angleDeg, cx, cy);
        if (item.contains("chars")) AddScanBoxes(item["chars"], angleDeg, cx, cy);
    }
}

// A machine-read print line (OCR-A, OCR-B) as the printer leaves it: the
// line rendered four times finer, its outline grown (bold print, ink
// spread) or thinned (light print) as a whole by `strokeMm`, and sampled
// back by area. The character boxes widen with a grown stroke.
TextLine PrintedLine(const SynthFont& face, const std::u32string& text, double sizePt, double dpiX,
                     double dpiY, double pitch, double strokeMm) {
    if (strokeMm == 0.0) return RenderLine(face, text, sizePt, dpiX, dpiY, pitch);
    constexpr int k = 4;
    const TextLine fine = RenderLine(face, text, sizePt, dpiX * k, dpiY * k, pitch * k);
    const int pad =
        strokeMm > 0 ? static_cast<int>(std::ceil(strokeMm * dpiX / kMmPerInch)) + 1 : 0;
    // Whole target pixels around the fine line, the baseline on a pixel edge.
    const int offX = pad * k, offY = pad * k + (k - fine.baseline % k) % k;
    const int w = (fine.coverage.Width() + offX + pad * k + k - 1) / k;
    const int h = (fine.coverage.Height() + offY + pad * k + k - 1) / k;
    ocr::FineMask mask(w * k, h * k, kMmPerInch / dpiX / k, kMmPerInch / dpiY / k);
    for (int y = 0; y < fine.coverage.Height(); ++y)
        for (int x = 0; x < fine.coverage.Width(); ++x)
            if (fine.coverage.At(x, y) >= 128) mask.At(x + offX, y + offY) = 1;
    ocr::OffsetOutline(mask, strokeMm);
    const std::vector<std::uint8_t> cov = ocr::AreaCoverage(mask, k, k);
    TextLine out;
    out.coverage = ImageBuffer(w, h, 1, 0);
    std::copy(cov.begin(), cov.end(), out.coverage.Data());
    out.baseline = (fine.baseline + offY) / k;
    const int gx = std::max(0, static_cast<int>(std::ceil(strokeMm * dpiX / kMmPerInch)));
    const int gy = std::max(0, static_cast<int>(std::ceil(strokeMm * dpiY / kMmPerInch)));
    for (const auto& b : fine.boxes) {
        TextLine::CharBox o = b;
        if (b.right > b.left) {
            o.left = std::max(0, (b.left + offX) / k - gx);
            o.top = std::max(0, (b.top + offY) / k - gy);
            o.right = std::min(w, (b.right + offX + k - 1) / k + gx);
            o.bottom = std::min(h, (b.bottom + offY + k - 1) / k + gy);
        } else {
            o.left = o.right = (b.left + offX) / k;
            o.top = o.bottom = (b.top + offY) / k;
        }
        out.boxes.push_back(o);
    }
    return out;
}

// Draws one intrusion across the codeline band into `plane` and gives its kind.
std::string DrawIntrusion(ImageBuffer& plane, const BoxMm& band, const Description& d,
                          SynthFontLibrary& fonts, Rng& rng, Rgb& colour) {
    const double pxX = d.dpiX / kMmPerInch, pxY = d.dpiY / kMmPerInch;
    static const char* kinds[] = {"signature", "handwriting", "stamp", "endorsement"};
    const std::string kind = kinds[rng.Integer(0, 3)];
    const double midY = (band.top + band.bottom) / 2;
    const double x0 = rng.Uniform(band.left, std::max(band.left, band.right - 40.0));
    auto pen = [&](double xmm, double ymm, double rmm) {
        FillDisc(plane, xmm * pxX, ymm * pxY, rmm * pxX);
    };
    if (kind == "signature" || kind == "handwriting") {
        colour = kind == "signature" ? Rgb{30, 40, 120} : Rgb{20, 20, 40};
        const double len = rng.Uniform(20.0, 45.0), amp = rng.Uniform(2.5, 6.0);
        const double f1 = rng.Uniform(0.15, 0.4), f2 = rng.Uniform(0.5, 1.2);
        const double r = rng.Uniform(0.15, 0.3);
        const double loop = kind == "handwriting" ? 1.2 : 0.0;
        for (double t = 0; t < len; t += 0.02) {
            const double x = x0 + t + loop * std::cos(t * 2.0);
            const double y =
                midY - 2.0 + amp * std::sin(t * f1) + 0.6 * amp * std::sin(t * f2 + 1.0);
            if (x < 0 || x > d.widthMm || y < 0 || y > d.heightMm) continue;
            pen(x, y, r);
        }
    } else if (kind == "stamp") {
        colour = Rgb{110, 40, 140};
        const double rx = rng.Uniform(10.0, 16.0), ry = rng.Uniform(6.0, 9.0);
        const double cx = x0 + rx, cy = band.top - ry * 0.4;
        for (double a = 0; a < 2 * M_PI; a += 0.002) {
            const double x = cx + rx * std::cos(a), y = cy + ry * std::sin(a);
            if (x < 0 || x > d.widthMm || y < 0 || y > d.heightMm) continue;
            pen(x, y, 0.25);
            const double x2 = cx + 0.8 * rx * std::cos(a), y2 = cy + 0.8 * ry * std::sin(a);
            pen(x2, y2, 0.15);
        }
    } else {
        colour = Rgb{40, 40, 60};
        const SynthFont& face = fonts.Open("Nimbus Sans");
        const TextLine line =
            RenderLine(face, U"FOR DEPOSIT ONLY 0123 4567", rng.Uniform(7.0, 9.0), d.dpiX, d.dpiY);
        const int ox = static_cast<int>(std::lround(x0 * pxX));
        const int oy = static_cast<int>(std::lround((midY + 0.8) * pxY)) - line.baseline;
        AccumulateInk(plane, line.coverage, ox, oy);
    }
    return kind;
}
}  // namespace

std::string DefaultE13bFontPath() {
    if (const char* env = std::getenv("KOVRAN_SYNTH_E13B_FONT"); env && *env) return env;
    return {};
}

const CodelineFont& DocumentRenderer::CodelineFontFor(const Element& e) {
    std::string key;
    if (e.glyphs == "project") {
        key = "project:" + e.font;
    } else if (e.font == "cmc7") {
        key = "cmc7:" + std::to_string(e.cmc7BarMm) + ":" + std::to_string(e.cmc7ShortMm) + ":" +
              std::to_string(e.cmc7LongMm);
    } else {
        const std::string file = e.fontFile.empty() ? DefaultE13bFontPath() : e.fontFile;
        // Without a font file the synthesizer's own E13B outlines stand in
        // (drawn apart from the databases' glyph data, with printed, rounded
        // corners, sampled by area), so that a clone of the repository
        // renders cheques with nothing beside it.
        key = file.empty() ? "print:e13b" : "e13b:" + file;
    }
    if (auto it = codelineFonts_.find(key); it != codelineFonts_.end()) return *it->second;
    std::unique_ptr<CodelineFont> font;
    try {
        if (key.starts_with("project:")) {
            font = MakeProjectCodelineFont(key.substr(8));
        } else if (key == "print:e13b") {
            font = MakeE13bOutlineFont();
        } else if (e.font == "cmc7") {
            Cmc7Geometry g;
            g.barWidthMm = e.cmc7BarMm;
            g.shortIntervalMm = e.cmc7ShortMm;
            g.longIntervalMm = e.cmc7LongMm;
            font = MakeCmc7Font(g);
        } else {
            font = MakeE13bFont(fonts_, key.substr(5));
        }
    } catch (const SynthError& failure) {
        throw DescriptionError(e.path + (e.fontFile.empty() ? ".font" : ".font_file"),
                               failure.what());
    }
    const CodelineFont& ref = *font;
    codelineFonts_.emplace(key, std::move(font));
    return ref;
}

RenderedDocument DocumentRenderer::Render(const Description& d) {
    RenderedDocument out;
    out.name = d.name;
    const double pxX = d.dpiX / kMmPerInch, pxY = d.dpiY / kMmPerInch;
    const int W = std::max(1, static_cast<int>(std::lround(d.widthMm * pxX)));
    const int H = std::max(1, static_cast<int>(std::lround(d.heightMm * pxY)));
    // Three RGB canvases and their planes live at once; keep them bounded.
    if (static_cast<long long>(W) * H > 60LL * 1000 * 1000)
        throw DescriptionError("scan.dpi",
                               "gives images of more than 60 million pixels for this paper");
    const DegradationValues deg = ResolveDegradation(d.degradation);
    Rng rng(d.degradation.seed);

    MagneticParams mp;
    mp.ratio = d.magnetic.ratio;
    mp.decimation = d.magnetic.decimation;
    mp.noise = d.magnetic.noise;
    mp.edgeLevel = d.magnetic.edgeLevel;
    mp.gapInch = d.magnetic.gapInch;
    mp.spacingInch = d.magnetic.spacingInch;
    mp.polarity = d.magnetic.reversedPolarity ? Polarity::Reversed : Polarity::Normal;
    Magnetisation magnet(mp, d.widthMm / kMmPerInch);
    // Magnetic ink is drawn at a fine resolution and resampled to the raw
    // sample grid; 1200 dpi resolves the narrowest CMC7 bar in 7 columns.
    const double magDpiX = std::min(mp.RawPerInch(), 1200.0);
    const double magDpiY = 600.0;
    const double bandTopMm = d.heightMm - kClearBandInch * kMmPerInch;
    // The head reads the document as it lies on the path, turned as the scan
    // shows it (RotateImage about the page centre): magnetic ink moves along
    // the track with its place on the page (turnedBy, inches along the
    // track), and its rows reach the gap along the slant the scan shows.
    const double skewSin = std::sin(deg.skewDeg * M_PI / 180.0);
    const double skewCos = std::cos(deg.skewDeg * M_PI / 180.0);
    const double shear = -skewSin * (d.dpiY / d.dpiX) * magDpiX / magDpiY;
    auto turnedBy = [&](double xIn, double yIn) {
        const double xp = xIn * d.dpiX - (W - 1) / 2.0;
        const double yp = yIn * d.dpiY - (H - 1) / 2.0;
        return ((skewCos - 1.0) * xp + skewSin * yp) / d.dpiX;
    };

    ImageBuffer holes(W, H);  // microperforation, front coordinates
    json codelineTruth = nullptr;
    BoxMm codelineBand;

    auto renderSide = [&](const SideDescription& side, Side face) {
        const bool isFront = face == Side::Front;
        Canvas c;
        c.image = ImageBuffer(W, H, 3);
        for (int i = 0; i < W * H; ++i) {
            c.image.Data()[3 * i] = d.paper.r;
            c.image.Data()[3 * i + 1] = d.paper.g;
            c.image.Data()[3 * i + 2] = d.paper.b;
        }
        c.ink = ImageBuffer(W, H);
        c.pxX = pxX;
        c.pxY = pxY;
        for (const Background& bg : side.background) DrawBackground(c.image, bg, pxX, pxY);
        const bool hasCodeline =
            std::any_of(side.elements.begin(), side.elements.end(),
                        [](const Element& e) { return e.kind == Element::Kind::Codeline; });
        auto checkBand = [&](const BoxMm& b, const Element& e) {
            if (isFront && hasCodeline && b.bottom > bandTopMm + 1e-6)
                throw DescriptionError(e.path,
                                       "overlaps the codeline clear band (the bottom 5/8 inch)");
        };
        for (const Element& e : side.elements) {
            json t = {{"type", nullptr}, {"path", e.path}};
            switch (e.kind) {
                case Element::Kind::Text:
                case Element::Kind::OcrbLine: {
                    const SynthFont* face = nullptr;
                    try {
                        face = &fonts_.Open(e.font);
                    } catch (const SynthError& failure) {
                        throw DescriptionError(e.path + ".font", failure.what());
                    }
                    bool utf8ok = true;
                    const std::u32string text = platform::DecodeUtf8(e.text, &utf8ok);
                    if (!utf8ok) throw DescriptionError(e.path + ".text", "is not valid UTF-8");
                    if (text.empty()) throw DescriptionError(e.path + ".text", "is empty");
                    for (char32_t ch : text)
                        if (!face->HasChar(ch))
                            throw DescriptionError(
                                e.path + ".text",
                                "character " + CharName(ch) + " is not in font '" + e.font + "'");
                    // The machine-read lines carry the level's print weight and
                    // darkness, as the codeline does.
                    const bool ocrLine =
                        e.kind == Element::Kind::OcrbLine || face->Family().starts_with("OCR");
                    double pitch = e.pitchMm * pxX;
                    if (ocrLine && pitch == 0.0 && deg.pitchSqueeze > 0.0) {
                        // A printer set to a tighter pitch than the font's:
                        // neighbours come close and touch.
                        const double emX = e.sizePt * d.dpiX / 72.0, emY = e.sizePt * d.dpiY / 72.0;
                        pitch = face->Render(text[0], emX, emY).advance * (1.0 - deg.pitchSqueeze);
                    }
                    TextLine line = PrintedLine(*face, text, e.sizePt, d.dpiX, d.dpiY, pitch,
                                                ocrLine ? deg.strokeMm : 0.0);
                    const float lineDarkness = ocrLine ? static_cast<float>(deg.inkDarkness) : 1.0f;
                    double penX, baseY;
                    if (e.kind == Element::Kind::OcrbLine && !e.xMm) {
                        // Payment forms: the line ends 8 mm from the right edge.
                        penX = (d.widthMm - 8.0) * pxX - line.coverage.Width();
                    } else {
                        penX = e.xMm.value_or(10.0) * pxX;
                    }
                    baseY = e.yMm ? *e.yMm * pxY : (d.heightMm - 8.0) * pxY;
                    int ox = static_cast<int>(std::lround(penX)),
                        oy = static_cast<int>(std::lround(baseY)) - line.baseline;
                    // Their characters also take the level's jitter and local
                    // defects, each line drawing from its own seed.
                    std::vector<CharPrint> charPrint;
                    ImageBuffer lineExtras;
                    // FNV-1a of the element's path, not std::hash: the
                    // corpus must not change with the standard library.
                    std::uint64_t pathHash = 0xcbf29ce484222325ULL;
                    for (const char ch : e.path)
                        pathHash = (pathHash ^ static_cast<unsigned char>(ch)) * 0x100000001b3ULL;
                    if (ocrLine && (deg.defects > 0 || deg.pitchJitterMm > 0.0 ||
                                    deg.baselineJitterMm > 0.0)) {
                        Rng lineRng(d.degradation.seed ^ 0x6F63726C696E6573ULL ^ pathHash);
                        lineExtras = ImageBuffer(W, H);
                        charPrint = DisturbPrintLine(line, ox, oy, deg, d.dpiX, d.dpiY, lineRng,
                                                     lineExtras);
                    }
                    // Faded patches, dot-matrix print and each character's
                    // own ink, from a seed of their own.
                    std::vector<double> charInk;
                    if (ocrLine) {
                        Rng wearRng(d.degradation.seed ^ 0x7765617270726E74ULL ^ pathHash);
                        charInk = WearPrintLine(line, deg, d.dpiX, d.dpiY, wearRng);
                    }
                    BoxMm b{1e9, 1e9, -1e9, -1e9};
                    for (const auto& cb : line.boxes) {
                        if (cb.right <= cb.left) continue;
                        b.left = std::min(b.left, (ox + cb.left) / pxX);
                        b.right = std::max(b.right, (ox + cb.right) / pxX);
                        b.top = std::min(b.top, (oy + cb.top) / pxY);
                        b.bottom = std::max(b.bottom, (oy + cb.bottom) / pxY);
                    }
                    if (b.right < b.left)
                        b = BoxMm{penX / pxX, baseY / pxY, penX / pxX, baseY / pxY};
                    CheckInside(b, d, e.path);
                    checkBand(b, e);
                    PaintCoverage(c.image, line.coverage, ox, oy, e.colour, lineDarkness);
                    AccumulateInk(c.ink, line.coverage, ox, oy, lineDarkness);
                    if (!lineExtras.Empty()) {
                        PaintCoverage(c.image, lineExtras, 0, 0, e.colour, lineDarkness);
                        AccumulateInk(c.ink, lineExtras, 0, 0, lineDarkness);
                    }
                    if (e.magnetic && isFront && b.bottom > bandTopMm) {
                        const TextLine m = RenderLine(*face, text, e.sizePt, magDpiX, magDpiY,
                                                      e.pitchMm / kMmPerInch * magDpiX);
                        // Placed and slanted as the scan shows the line.
                        const double leftIn = penX / pxX / kMmPerInch;
                        const double bottomIn = (oy + line.coverage.Height()) / pxY / kMmPerInch;
                        magnet.AddCoverage(m.coverage, leftIn + turnedBy(leftIn, bottomIn), magDpiX,
                                           magDpiY, e.strength, shear);
                    }
                    t["type"] = e.kind == Element::Kind::Text ? "text" : "ocrb_line";
                    t["text"] = e.text;
                    t["font"] = face->Family();
                    t["font_file"] = face->File();
                    t["size_pt"] = e.sizePt;
                    t["magnetic"] = e.magnetic;
                    {
                        // Per character boxes, for scoring a reader character by character.
                        json cb = json::array();
                        for (std::size_t i = 0; i < line.boxes.size(); ++i) {
                            const auto& b = line.boxes[i];
                            if (b.right <= b.left || b.ch > 0x7F) continue;
                            json cj = {{"c", std::string(1, static_cast<char>(b.ch))},
                                       {"box", BoxJson(ox + b.left, oy + b.top, ox + b.right,
                                                       oy + b.bottom)}};
                            if (i < charInk.size() && deg.charInkSd > 0.0) cj["ink"] = charInk[i];
                            if (i < charPrint.size()) {
                                cj["jitter_mm"] =
                                    json::array({charPrint[i].jitterXMm, charPrint[i].jitterYMm});
                                if (!charPrint[i].defects.empty())
                                    cj["defects"] = charPrint[i].defects;
                            }
                            cb.push_back(cj);
                        }
                        t["chars"] = cb;
                    }
                    t["box"] = BoxJson(b.left * pxX, b.top * pxY, b.right * pxX, b.bottom * pxY);
                    break;
                }
                case Element::Kind::Codeline: {
                    if (!isFront) throw DescriptionError(e.path, "a codeline belongs on the front");
                    if (!codelineTruth.is_null())
                        throw DescriptionError(e.path, "a document has one codeline");
                    const CodelineFont& font = CodelineFontFor(e);
                    if (e.text.empty()) throw DescriptionError(e.path + ".text", "is empty");
                    bool utf8ok = true;
                    const std::u32string asRead = platform::DecodeUtf8(e.text, &utf8ok);
                    if (!utf8ok) throw DescriptionError(e.path + ".text", "is not valid UTF-8");
                    for (char32_t ch : asRead)
                        if (ch >= 0x80 || !font.HasChar(static_cast<char>(ch)))
                            throw DescriptionError(e.path + ".text",
                                                   "character " + CharName(ch) + " is not in the " +
                                                       (e.font == "cmc7" ? "CMC7" : "E13B") +
                                                       " character set");
                    const double pitch = font.PitchInch();
                    const double n = static_cast<double>(e.text.size());
                    const double x0 = e.xMm
                                          ? *e.xMm / kMmPerInch
                                          : d.widthMm / kMmPerInch - kCodelineRightInch - n * pitch;
                    const double base = e.yMm ? *e.yMm / kMmPerInch
                                              : d.heightMm / kMmPerInch - kCodelineBaselineInch;
                    CheckInside(BoxMm{x0 * kMmPerInch, (base - font.HeightInch()) * kMmPerInch,
                                      (x0 + n * pitch) * kMmPerInch, base * kMmPerInch},
                                d, e.path);
                    json chars = json::array();
                    Rng printRng(d.degradation.seed ^ 0x636F64656C696E65ULL);
                    const std::vector<std::vector<std::string>> defects =
                        PlanDefects(e.text, deg.defects, printRng);
                    ImageBuffer extras(W, H);  // spatter, smudges and bridges beside the glyphs
                    double strokeTaken = 0.0;  // as the drawing took it, within its limits
                    const float darkness = static_cast<float>(deg.inkDarkness);
                    for (std::size_t i = 0; i < e.text.size(); ++i) {
                        const char ch = e.text[i];
                        json cj = {{"c", std::string(1, ch)}};
                        if (ch == ' ') {
                            chars.push_back(cj);
                            continue;
                        }
                        const double jx = Jitter(printRng, deg.pitchJitterMm) / kMmPerInch;
                        const double jy = Jitter(printRng, deg.baselineJitterMm) / kMmPerInch;
                        const double cell = x0 + static_cast<double>(i) * pitch + jx;
                        // A drawing that can move by a share of a pixel is
                        // placed where it falls; others at the nearest pixel.
                        const double at =
                            (cell + font.Render(ch, d.dpiX, d.dpiY, deg.strokeMm).leftInch) *
                            d.dpiX;
                        const long quarters = std::lround(at * 4.0);
                        const long whole = quarters >= 0 ? quarters / 4 : (quarters - 3) / 4;
                        const double phase = font.MovesByPhase()
                                                 ? static_cast<double>(quarters - 4 * whole) / 4
                                                 : 0.0;
                        CodelineGlyph g = font.Render(ch, d.dpiX, d.dpiY, deg.strokeMm, phase);
                        strokeTaken = g.growMm;
                        const int gx = font.MovesByPhase() ? static_cast<int>(whole)
                                                           : static_cast<int>(std::lround(at));
                        const int gy =
                            static_cast<int>(std::lround((base + jy - g.bottomInch) * d.dpiY)) -
                            g.coverage.Height();
                        double magFactor = 1.0;
                        bool smudged = false;
                        for (const std::string& kind : defects[i])
                            ApplyDefect(kind, g.coverage, gx, gy, extras, d.dpiX, d.dpiY, printRng,
                                        magFactor, smudged);
                        PaintCoverage(c.image, g.coverage, gx, gy, e.colour, darkness);
                        AccumulateInk(c.ink, g.coverage, gx, gy, darkness);
                        const InkBox ib = InkBoxOf(g.coverage);
                        cj["box"] = ib.empty ? BoxJson(gx, gy, gx, gy)
                                             : BoxJson(gx + ib.left, gy + ib.top, gx + ib.right + 1,
                                                       gy + ib.bottom + 1);
                        if (!defects[i].empty()) cj["defects"] = defects[i];
                        cj["jitter_mm"] = json::array({jx * kMmPerInch, jy * kMmPerInch});
                        const CodelineGlyph mg = font.Render(ch, magDpiX, magDpiY, deg.strokeMm);
                        const InkBox mb = InkBoxOf(mg.coverage);
                        // The glyph's bottom row (where the shear is 0) and its ink centre.
                        const double bottomIn = base + jy - mg.bottomInch;
                        const double magX =
                            cell + mg.leftInch + turnedBy(cell + mg.leftInch, bottomIn);
                        const double midShift =
                            turnedBy(cell + mg.leftInch +
                                         (mb.empty ? 0 : (mb.left + mb.right + 1) / 2.0) / magDpiX,
                                     bottomIn - (mb.empty ? 0
                                                          : (mg.coverage.Height() -
                                                             (mb.top + mb.bottom + 1) / 2.0) /
                                                                magDpiY));
                        const double left =
                            cell + mg.leftInch + (mb.empty ? 0 : mb.left) / magDpiX + midShift;
                        const double right =
                            cell + mg.leftInch + (mb.empty ? 0 : mb.right + 1) / magDpiX + midShift;
                        double load = d.magnetic.strength * magFactor;
                        if (d.magnetic.charStrengthSd > 0.0)
                            load *=
                                std::max(0.3, 1.0 + d.magnetic.charStrengthSd *
                                                        std::clamp(printRng.Normal(), -2.5, 2.5));
                        load *= e.strength;
                        if (e.magnetic) {
                            magnet.AddCoverage(mg.coverage, magX, magDpiX, magDpiY, load, shear);
                            // A smudge drags magnetic ink after the character.
                            if (smudged)
                                magnet.AddCoverage(mg.coverage, magX + 0.006, magDpiX, magDpiY,
                                                   0.35 * load, shear);
                        }
                        cj["magnetic_strength"] = e.magnetic ? load : 0.0;
                        cj["samples"] = json::array(
                            {static_cast<long>(std::floor(left * mp.DecimatedPerInch())),
                             static_cast<long>(std::ceil(right * mp.DecimatedPerInch()))});
                        chars.push_back(cj);
                    }
                    PaintCoverage(c.image, extras, 0, 0, e.colour, darkness);
                    AccumulateInk(c.ink, extras, 0, 0, darkness);
                    codelineBand = BoxMm{x0 * kMmPerInch, (base - font.HeightInch()) * kMmPerInch,
                                         (x0 + n * pitch) * kMmPerInch, base * kMmPerInch};
                    codelineTruth = {{"font", e.font},
                                     {"font_name", font.Name()},
                                     {"text", e.text},
                                     {"magnetic", e.magnetic},
                                     {"chars", chars},
                                     {"pitch_in", pitch},
                                     {"baseline_from_bottom_in", d.heightMm / kMmPerInch - base},
                                     // The growth the codeline's print took: within
                                     // the drawing's limits, none from a font file,
                                     // whatever the level asks.
                                     {"stroke_mm", strokeTaken}};
                    t["type"] = "codeline";
                    t["text"] = e.text;
                    break;
                }
                case Element::Kind::Barcode: {
                    SymbolModules sym;
                    try {
                        sym = EncodeSymbol(e.symbology, e.text, e.generator);
                    } catch (const SynthError& failure) {
                        throw DescriptionError(e.path + ".data", failure.what());
                    }
                    const double mw = e.moduleMm;
                    const double wMm = sym.cols * mw;
                    const double hMm = sym.linear ? e.heightMm : sym.rows * sym.rowModules * mw;
                    const double q = sym.quietModules * mw;
                    const BoxMm b{*e.xMm, *e.yMm, *e.xMm + wMm, *e.yMm + hMm};
                    CheckInside(BoxMm{b.left - q, b.top - (sym.linear ? 0.0 : q), b.right + q,
                                      b.bottom + (sym.linear ? 0.0 : q)},
                                d, e.path);
                    checkBand(b, e);
                    const int ox = static_cast<int>(std::floor(b.left * pxX)),
                              oy = static_cast<int>(std::floor(b.top * pxY));
                    ImageBuffer cov(static_cast<int>(std::ceil(b.right * pxX)) - ox + 1,
                                    static_cast<int>(std::ceil(b.bottom * pxY)) - oy + 1);
                    for (int r = 0; r < sym.rows; ++r)
                        for (int col = 0; col < sym.cols; ++col) {
                            if (!sym.IsDark(col, r)) continue;
                            const double y0 = sym.linear ? b.top : b.top + r * sym.rowModules * mw;
                            const double y1 = sym.linear ? b.bottom : y0 + sym.rowModules * mw;
                            FillRect(cov, (b.left + col * mw) * pxX - ox, y0 * pxY - oy,
                                     (b.left + (col + 1) * mw) * pxX - ox, y1 * pxY - oy);
                        }
                    PaintCoverage(c.image, cov, ox, oy, e.colour);
                    AccumulateInk(c.ink, cov, ox, oy);
                    t["type"] = "barcode";
                    t["symbology"] = e.symbology;
                    t["generator"] = e.generator;
                    t["data"] = e.text;
                    t["modules"] = json::array({sym.cols, sym.rows});
                    t["box"] = BoxJson(b.left * pxX, b.top * pxY, b.right * pxX, b.bottom * pxY);
                    break;
                }
                case Element::Kind::Microperforation: {
                    if (!isFront)
                        throw DescriptionError(
                            e.path,
                            "give microperforation on the front (it goes through the paper)");
                    const bool project = e.glyphs == "project";
                    for (unsigned char ch : e.text)
                        if (ch >= 0x80 ||
                            !(project ? ProjectPerforationHasChar(static_cast<char>(ch))
                                      : PerforationHasChar(static_cast<char>(ch))))
                            throw DescriptionError(
                                e.path + ".text",
                                "character " + CharName(ch) +
                                    " is not in the microperforation character set");
                    double p = e.holePitchMm;
                    double cellMm = (kPerforationCols + 1) * p;
                    if (project) {
                        ProjectPerforationHoles('0', d.dpiX, d.dpiY, &cellMm);
                        p = cellMm / (kPerforationCols + 1);
                    }
                    const BoxMm b{*e.xMm, *e.yMm, *e.xMm + e.text.size() * cellMm - p,
                                  *e.yMm + kPerforationRows * p};
                    CheckInside(b, d, e.path);
                    checkBand(b, e);
                    json chars = json::array();
                    for (std::size_t i = 0; i < e.text.size(); ++i) {
                        const double cx0 = *e.xMm + i * cellMm;
                        if (project) {
                            const ImageBuffer cell =
                                ProjectPerforationHoles(e.text[i], d.dpiX, d.dpiY, nullptr);
                            if (cell.Width() > 0)
                                AccumulateInk(holes, cell, static_cast<int>(std::lround(cx0 * pxX)),
                                              static_cast<int>(std::lround(b.top * pxY)));
                        }
                        for (auto [hc, hr] : project ? std::vector<std::pair<int, int>>{}
                                                     : PerforationHoles(e.text[i]))
                            FillDisc(holes, (cx0 + (hc + 0.5) * p) * pxX,
                                     (*e.yMm + (hr + 0.5) * p) * pxY, e.holeMm / 2.0 * pxX);
                        chars.push_back(
                            {{"c", std::string(1, e.text[i])},
                             {"box", BoxJson(cx0 * pxX, b.top * pxY,
                                             (cx0 + kPerforationCols * p) * pxX, b.bottom * pxY)}});
                    }
                    t["type"] = "microperforation";
                    t["text"] = e.text;
                    t["chars"] = chars;
                    t["box"] = BoxJson(b.left * pxX, b.top * pxY, b.right * pxX, b.bottom * pxY);
                    break;
                }
                case Element::Kind::Photo:
                case Element::Kind::Rect:
                case Element::Kind::MagneticNoise: {
                    const BoxMm b{*e.xMm, *e.yMm, *e.xMm + e.widthMm, *e.yMm + e.heightMm};
                    CheckInside(b, d, e.path);
                    const int ox = static_cast<int>(std::lround(b.left * pxX)),
                              oy = static_cast<int>(std::lround(b.top * pxY));
                    const int w = std::max(1, static_cast<int>(std::lround(e.widthMm * pxX)));
                    const int h = std::max(1, static_cast<int>(std::lround(e.heightMm * pxY)));
                    if (e.kind == Element::Kind::Photo) {
                        checkBand(b, e);
                        const ImageBuffer cov = PhotoCoverage(w, h, e.darkness, pxX, rng);
                        PaintCoverage(c.image, cov, ox, oy, Rgb{22, 18, 16});
                        AccumulateInk(c.ink, cov, ox, oy);
                        t["type"] = "photo";
                    } else if (e.kind == Element::Kind::Rect) {
                        checkBand(b, e);
                        ImageBuffer cov(w, h);
                        const double lw = e.lineMm * pxX, lh = e.lineMm * pxY;
                        if (e.fill) {
                            FillRect(cov, 0, 0, w, h);
                        } else {
                            FillRect(cov, 0, 0, w, lh);
                            FillRect(cov, 0, h - lh, w, h);
                            FillRect(cov, 0, lh, lw, h - lh);
                            FillRect(cov, w - lw, lh, w, h - lh);
                        }
                        PaintCoverage(c.image, cov, ox, oy, e.colour);
                        AccumulateInk(c.ink, cov, ox, oy);
                        t["type"] = "rect";
                    } else {
                        if (!isFront)
                            throw DescriptionError(e.path, "magnetic noise belongs on the front");
                        if (b.bottom > bandTopMm) {
                            // Where the scan shows the patch's centre.
                            const double along = turnedBy((b.left + b.right) / 2 / kMmPerInch,
                                                          (b.top + b.bottom) / 2 / kMmPerInch);
                            magnet.AddSpeckle(b.left / kMmPerInch + along,
                                              b.right / kMmPerInch + along, e.level, rng);
                        }
                        if (e.visible) {
                            ImageBuffer cov(w, h);
                            for (int k = 0; k < w * h / 40; ++k)
                                FillDisc(cov, rng.Uniform(0, w), rng.Uniform(0, h),
                                         rng.Uniform(0.3, 1.2) * pxX * 0.1);
                            PaintCoverage(c.image, cov, ox, oy, e.colour);
                            AccumulateInk(c.ink, cov, ox, oy);
                        }
                        t["type"] = "magnetic_noise";
                        t["level"] = e.level;
                    }
                    t["box"] = BoxJson(b.left * pxX, b.top * pxY, b.right * pxX, b.bottom * pxY);
                    break;
                }
            }
            c.elements.push_back(t);
        }
        if (isFront && !codelineTruth.is_null() && deg.intrusions > 0) {
            Rng irng(d.degradation.seed ^ 0x696E74727573696FULL);
            json list = json::array();
            ImageBuffer all(W, H);
            for (int k = 0; k < deg.intrusions; ++k) {
                ImageBuffer plane(W, H);
                Rgb colour;
                const std::string kind =
                    DrawIntrusion(plane, codelineBand, d, fonts_, irng, colour);
                PaintCoverage(c.image, plane, 0, 0, colour, 0.9f);
                AccumulateInk(c.ink, plane, 0, 0);
                AccumulateInk(all, plane, 0, 0);
                const InkBox ib = InkBoxOf(plane);
                list.push_back(
                    {{"kind", kind},
                     {"box", ib.empty ? BoxJson(0, 0, 0, 0)
                                      : BoxJson(ib.left, ib.top, ib.right + 1, ib.bottom + 1)}});
            }
            // Characters with foreign ink inside their box are scored apart.
            for (auto& cj : codelineTruth["chars"]) {
                if (!cj.contains("box")) continue;
                const auto& bx = cj["box"];
                bool hit = false;
                for (long y = bx[1].get<long>(); !hit && y < bx[3].get<long>(); ++y)
                    for (long x = bx[0].get<long>(); !hit && x < bx[2].get<long>(); ++x)
                        hit = x >= 0 && y >= 0 && x < W && y < H && all.At(x, y) >= 64;
                cj["under_intrusion"] = hit;
            }
            codelineTruth["intrusions"] = list;
        }
        return c;
    };

    Canvas front = renderSide(d.front, Side::Front);
    Canvas rear = renderSide(d.rear, Side::Rear);

    // Holes show the scanner's backdrop on both reflective sides (mirrored
    // on the rear) and let the full backlight through.
    PaintCoverage(front.image, holes, 0, 0, kBackdrop);
    ImageBuffer mirrored(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) mirrored.At(W - 1 - x, y) = holes.At(x, y);
    PaintCoverage(rear.image, mirrored, 0, 0, kBackdrop);

    ImageBuffer backlight(W, H, 1);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double t = d.transmission * (1.0 - 0.85 * CoverageShare(front.ink.At(x, y))) *
                             (1.0 - 0.85 * CoverageShare(rear.ink.At(W - 1 - x, y)));
            const double h = CoverageShare(holes.At(x, y));
            backlight.At(x, y) =
                static_cast<std::uint8_t>(std::lround(255.0 * (t * (1.0 - h) + h)));
        }

    // Scan: the same skew for every side (the rear turns the other way as it
    // is seen from the other face), then the sensor's degradations.
    const double dpi = std::sqrt(d.dpiX * d.dpiY);
    // The backlight sensor is grey whatever the reflective sides scan in.
    enum class Tone { AsDescribed, Grey };
    auto finish = [&](ImageBuffer img, Tone tone, double angle, std::uint64_t stream) {
        if (tone == Tone::Grey || !d.colour) img = ToGrey(img);
        if (angle != 0.0) img = RotateImage(img, angle, 0.0, 0.0, kBackdrop);
        DegradeImage(img, deg, dpi, d.degradation.seed, stream);
        return img;
    };
    if (d.wantFront) out.front = finish(std::move(front.image), Tone::AsDescribed, deg.skewDeg, 1);
    if (d.wantRear) out.rear = finish(std::move(rear.image), Tone::AsDescribed, -deg.skewDeg, 2);
    if (d.wantBacklight) out.backlight = finish(std::move(backlight), Tone::Grey, deg.skewDeg, 3);

    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    AddScanBoxes(front.elements, deg.skewDeg, cx, cy);
    AddScanBoxes(rear.elements, -deg.skewDeg, cx, cy);
    if (!codelineTruth.is_null()) {
        AddScanBoxes(codelineTruth["chars"], deg.skewDeg, cx, cy);
        // Intrusions are scored in the scan too.
        if (codelineTruth.contains("intrusions"))
            AddScanBoxes(codelineTruth["intrusions"], deg.skewDeg, cx, cy);
    }

    Rng magRng(d.degradation.seed ^ 0x6D61676E65746963ULL);
    const std::vector<double> shown = ApplySpeedJitter(magnet, d.magnetic.speedJitter, magRng);
    // The characters' sample ranges follow the jittered track.
    if (!shown.empty() && !codelineTruth.is_null()) {
        const double rawPerDecimated = mp.RawPerInch() / mp.DecimatedPerInch();
        for (auto& cj : codelineTruth["chars"]) {
            if (!cj.contains("samples")) continue;
            auto& s = cj["samples"];
            s = json::array(
                {static_cast<long>(std::floor(
                     JitteredSample(shown, s[0].get<long>() * rawPerDecimated) / rawPerDecimated)),
                 static_cast<long>(
                     std::ceil(JitteredSample(shown, s[1].get<long>() * rawPerDecimated) /
                               rawPerDecimated))});
        }
    }
    MagneticDisturbance dist;
    dist.speedJitter = d.magnetic.speedJitter;
    dist.driftCounts = d.magnetic.driftCounts;
    dist.humCounts = d.magnetic.humCounts;
    dist.humPerInch = d.magnetic.humPerInch;
    dist.spikes = d.magnetic.spikes;
    dist.spikeCounts = d.magnetic.spikeCounts;
    out.magnetic = QuantiseSignal(HeadSignal(magnet), mp, magRng, dist);

    // Intrusions cross the codeline's clear band: a document without a
    // codeline has none, whatever its level draws.
    json applied = ToJson(deg);
    if (codelineTruth.is_null()) applied["intrusions"] = 0;
    out.truth = std::make_shared<const json>(json{
        {"format", "kvx-synth-truth/1"},
        {"name", d.name},
        {"seed", d.degradation.seed},
        {"level", d.degradation.level},
        {"paper", {{"width_mm", d.widthMm}, {"height_mm", d.heightMm}}},
        {"dpi_x", d.dpiX},
        {"dpi_y", d.dpiY},
        {"colour", d.colour},
        {"size_px", json::array({W, H})},
        {"degradation", applied},
        {"skew_centre_px", json::array({cx, cy})},
        {"front", front.elements},
        {"rear", rear.elements},
        {"codeline", codelineTruth},
        {"magnetic",
         {{"ratio", mp.ratio},
          {"decimation", mp.decimation},
          {"raw_per_inch", mp.RawPerInch()},
          {"decimated_per_inch", mp.DecimatedPerInch()},
          {"count", out.magnetic.size()},
          {"baseline", mp.baseline},
          {"noise", mp.noise},
          {"edge_level", mp.edgeLevel},
          {"polarity", d.magnetic.reversedPolarity ? "reversed" : "normal"},
          {"onset", d.magnetic.reversedPolarity ? "above_baseline" : "below_baseline"},
          {"strength", d.magnetic.strength},
          {"char_strength_sd", d.magnetic.charStrengthSd},
          {"speed_jitter", d.magnetic.speedJitter},
          {"drift", d.magnetic.driftCounts},
          {"hum", d.magnetic.humCounts},
          {"hum_per_inch", d.magnetic.humPerInch},
          {"spikes", d.magnetic.spikes},
          {"spike_level", d.magnetic.spikeCounts},
          {"skew_deg", deg.skewDeg}}},
    });
    return out;
}

void WriteDocument(const RenderedDocument& doc, const std::string& dir, const std::string& format) {
    json truth = *doc.truth;
    json images = json::object();
    const double dpi = truth.value("dpi_x", 0.0);
    auto save = [&](const std::optional<ImageBuffer>& img, const char* side) {
        if (!img) return;
        const std::string ext = format == "pnm" ? (img->Channels() == 3 ? ".ppm" : ".pgm") : ".png";
        const std::string file = doc.name + "." + side + ext;
        images[side] = file;
        if (format == "pnm")
            WritePnm(*img, dir + "/" + file);
        else
            WritePng(*img, dir + "/" + file, dpi);
    };
    save(doc.front, "front");
    save(doc.rear, "rear");
    save(doc.backlight, "backlight");
    truth["images"] = images;
    truth["magnetic"]["file"] = doc.name + ".mag";
    {
        std::ofstream mag(dir + "/" + doc.name + ".mag", std::ios::binary);
        mag.write(reinterpret_cast<const char*>(doc.magnetic.data()),
                  static_cast<std::streamsize>(doc.magnetic.size()));
        if (!mag) throw SynthError("cannot write " + dir + "/" + doc.name + ".mag");
    }
    std::ofstream js(dir + "/" + doc.name + ".json");
    js << truth.dump(1) << "\n";
    if (!js) throw SynthError("cannot write " + dir + "/" + doc.name + ".json");
}

}  // namespace kovran::synth
