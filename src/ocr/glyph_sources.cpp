#include "ocr/glyph_sources.h"

#include "ocr/glyph_raster.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace kovran::ocr {

namespace {

constexpr double kMmPerInch = 25.4;

// E13B: 0.013-inch modules, 7 x 9 per character, 0.125-inch pitch.
constexpr double kE13BModuleMm = 0.013 * kMmPerInch;
constexpr int kE13BColumns = 14;  // half modules
constexpr int kE13BRows = 18;
constexpr double kE13BPitchMm = 0.125 * kMmPerInch;

// CMC7: seven strokes 0.15 mm wide at 0.30 / 0.50 mm pitch, rows of 0.15 mm.
constexpr double kCmc7StrokeMm = 0.15;
constexpr double kCmc7ShortMm = 0.30;
constexpr double kCmc7LongMm = 0.50;
constexpr int kCmc7DigitRows = 19;   // 2.85 mm
constexpr int kCmc7SymbolRows = 18;  // 2.70 mm
constexpr double kCmc7PitchMm = 0.125 * kMmPerInch;

constexpr int kMicroColumns = 5;
constexpr int kMicroRows = 7;

struct Rect {  // millimetres, from the top left corner of the pitch cell
    double x0, y0, x1, y1;
};
struct Hole {
    double cx, cy;
};

struct Shape {
    char c = 0;
    std::vector<Rect> rects;
    std::vector<Hole> holes;
    unsigned cmc7Code = 0;
};

}  // namespace

struct GlyphSetData {
    GlyphFamily family = GlyphFamily::E13B;
    std::string chars;
    std::vector<Shape> shapes;
    double pitchMm = 0;
    double heightMm = 0;
    double holeDiameterMm = 0;
};

namespace {

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool ParseNumber(std::string_view s, double& out) {
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

bool ParseInt(std::string_view s, int& out) {
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && p == s.data() + s.size();
}

bool IsArtRow(std::string_view line) {
    return !line.empty() &&
           std::all_of(line.begin(), line.end(), [](char ch) { return ch == '#' || ch == '.'; });
}

// One block: "char X ..." then rows of art.
struct Block {
    std::size_t line = 0;  // 1-based line of the header
    char c = 0;
    std::vector<std::string_view> header;  // words after the character
    std::vector<std::string_view> rows;
};

struct Reader {
    std::vector<Block> blocks;
    std::vector<std::string_view> preamble;  // non-comment lines before the first block
    std::string error;
};

Reader ReadBlocks(std::string_view text) {
    Reader r;
    const auto lines = SplitLines(text);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.empty() || line.starts_with("//")) continue;
        if (line.starts_with("char ")) {
            const auto w = words(line);
            if (w.size() < 2 || w[1].size() != 1) {
                r.error = "line " + std::to_string(i + 1) + ": expected 'char' and one character";
                return r;
            }
            Block b;
            b.line = i + 1;
            b.c = w[1][0];
            b.header.assign(w.begin() + 2, w.end());
            r.blocks.push_back(b);
        } else if (IsArtRow(line) && !r.blocks.empty()) {
            r.blocks.back().rows.push_back(line);
        } else if (r.blocks.empty()) {
            r.preamble.push_back(line);
        } else {
            r.error = "line " + std::to_string(i + 1) + ": unexpected text";
            return r;
        }
    }
    for (std::size_t a = 0; a < r.blocks.size(); ++a) {
        for (std::size_t b = 0; b < a; ++b) {
            if (r.blocks[a].c == r.blocks[b].c) {
                r.error = "line " + std::to_string(r.blocks[a].line) + ": character '" +
                          std::string(1, r.blocks[a].c) + "' given twice";
                return r;
            }
        }
    }
    if (r.blocks.empty()) r.error = "no characters";
    return r;
}

std::string BlockError(const Block& b, const std::string& what) {
    return "line " + std::to_string(b.line) + " ('" + std::string(1, b.c) + "'): " + what;
}

bool CheckArt(const Block& b, std::size_t rows, std::size_t columns, std::string& error) {
    if (b.rows.size() != rows) {
        error = BlockError(b, "expected " + std::to_string(rows) + " rows, found " +
                                  std::to_string(b.rows.size()));
        return false;
    }
    for (std::string_view row : b.rows) {
        if (row.size() != columns) {
            error = BlockError(b, "expected rows of " + std::to_string(columns) + " columns");
            return false;
        }
    }
    return true;
}

std::string ParseE13B(const Reader& r, GlyphSetData& d) {
    d.pitchMm = kE13BPitchMm;
    d.heightMm = 9 * kE13BModuleMm;
    const double half = kE13BModuleMm / 2;
    // The widest characters are centred in the pitch; the rest keep their
    // right edge on the same line.
    const double left = (kE13BPitchMm - 7 * kE13BModuleMm) / 2;
    std::string error;
    for (const Block& b : r.blocks) {
        if (!CheckArt(b, kE13BRows, kE13BColumns, error)) return error;
        Shape s;
        s.c = b.c;
        for (int y = 0; y < kE13BRows; ++y) {
            const std::string_view row = b.rows[y];
            for (int x = 0; x < kE13BColumns;) {
                if (row[x] != '#') {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < kE13BColumns && row[x] == '#') ++x;
                s.rects.push_back({left + start * half, y * half, left + x * half, (y + 1) * half});
            }
        }
        if (s.rects.empty()) return BlockError(b, "no ink");
        d.shapes.push_back(std::move(s));
    }
    return {};
}

std::string ParseCmc7(const Reader& r, GlyphSetData& d) {
    d.pitchMm = kCmc7PitchMm;
    d.heightMm = kCmc7DigitRows * kCmc7StrokeMm;
    std::string error;
    for (const Block& b : r.blocks) {
        int g1 = 0, g2 = 0;
        if (b.header.size() != 3 || b.header[0] != "long" || !ParseInt(b.header[1], g1) ||
            !ParseInt(b.header[2], g2) || g1 < 1 || g1 > 6 || g2 < 1 || g2 > 6 || g1 == g2)
            return BlockError(b, "expected 'long' and two different gaps 1 to 6");
        const bool digit = b.c >= '0' && b.c <= '9';
        const int rows = digit ? kCmc7DigitRows : kCmc7SymbolRows;
        if (!CheckArt(b, rows, 7, error)) return error;
        Shape s;
        s.c = b.c;
        s.cmc7Code = (1u << (g1 - 1)) | (1u << (g2 - 1));
        const double width = 4 * kCmc7ShortMm + 2 * kCmc7LongMm + kCmc7StrokeMm;
        double x = (kCmc7PitchMm - width) / 2;
        const double top = (rows == kCmc7DigitRows) ? 0.0 : kCmc7StrokeMm / 2;
        for (int k = 0; k < 7; ++k) {
            if (k > 0) x += ((s.cmc7Code >> (k - 1)) & 1u) ? kCmc7LongMm : kCmc7ShortMm;
            bool inked = false;
            // Each stroke is drawn as its uncut intervals.
            for (int y = 0; y < rows;) {
                if (b.rows[y][k] != '#') {
                    ++y;
                    continue;
                }
                const int start = y;
                while (y < rows && b.rows[y][k] == '#') ++y;
                s.rects.push_back(
                    {x, top + start * kCmc7StrokeMm, x + kCmc7StrokeMm, top + y * kCmc7StrokeMm});
                inked = true;
            }
            // A stroke cut away entirely would change the gap pattern.
            if (!inked) return BlockError(b, "stroke " + std::to_string(k + 1) + " has no ink");
        }
        d.shapes.push_back(std::move(s));
    }
    return {};
}

std::string ParseMicro(const Reader& r, GlyphSetData& d) {
    double diameter = 0, pitch = 0;
    if (r.preamble.size() != 1) return "expected one line 'holes <diameter> pitch <pitch>'";
    const auto w = words(r.preamble[0]);
    if (w.size() != 4 || w[0] != "holes" || w[2] != "pitch" || !ParseNumber(w[1], diameter) ||
        !ParseNumber(w[3], pitch) || !(diameter > 0.05) || !(pitch >= diameter) || !(pitch < 5))
        return "expected 'holes <diameter> pitch <pitch>' with 0.05 < diameter <= pitch < 5 mm";
    d.holeDiameterMm = diameter;
    d.pitchMm = (kMicroColumns + 1) * pitch;
    d.heightMm = (kMicroRows - 1) * pitch + diameter;
    const double left = (d.pitchMm - ((kMicroColumns - 1) * pitch + diameter)) / 2;
    std::string error;
    for (const Block& b : r.blocks) {
        if (!CheckArt(b, kMicroRows, kMicroColumns, error)) return error;
        Shape s;
        s.c = b.c;
        for (int y = 0; y < kMicroRows; ++y)
            for (int x = 0; x < kMicroColumns; ++x)
                if (b.rows[y][x] == '#')
                    s.holes.push_back({left + diameter / 2 + x * pitch, diameter / 2 + y * pitch});
        if (s.holes.empty()) return BlockError(b, "no holes");
        d.shapes.push_back(std::move(s));
    }
    return {};
}

const Shape* FindShape(const GlyphSetData& d, char c) {
    for (const Shape& s : d.shapes)
        if (s.c == c) return &s;
    return nullptr;
}

}  // namespace

GlyphSet::Parsed GlyphSet::Parse(GlyphFamily family, std::string_view text) {
    Parsed out;
    const Reader r = ReadBlocks(text);
    if (!r.error.empty()) {
        out.error = r.error;
        return out;
    }
    if (family != GlyphFamily::Microperforation && !r.preamble.empty()) {
        out.error = "unexpected text before the first character";
        return out;
    }
    auto d = std::make_shared<GlyphSetData>();
    d->family = family;
    switch (family) {
        case GlyphFamily::E13B:
            out.error = ParseE13B(r, *d);
            break;
        case GlyphFamily::CMC7:
            out.error = ParseCmc7(r, *d);
            break;
        case GlyphFamily::Microperforation:
            out.error = ParseMicro(r, *d);
            break;
    }
    if (!out.error.empty()) return out;
    for (const Shape& s : d->shapes) d->chars.push_back(s.c);
    out.set = GlyphSet(std::move(d));
    return out;
}

GlyphSet GlyphSet::Builtin(GlyphFamily family) {
    Parsed p = Parse(family, BuiltinGlyphText(family));
    // The built-in files are part of the build and parsed by its tests; a
    // failure here is a broken build, not bad input.
    if (!p.set) throw std::logic_error("built-in glyph data: " + p.error);
    return std::move(*p.set);
}

GlyphFamily GlyphSet::Family() const {
    return data_->family;
}
const std::string& GlyphSet::Characters() const {
    return data_->chars;
}
bool GlyphSet::Contains(char c) const {
    return FindShape(*data_, c) != nullptr;
}
double GlyphSet::PitchMm() const {
    return data_->pitchMm;
}
double GlyphSet::HeightMm() const {
    return data_->heightMm;
}

std::optional<unsigned> GlyphSet::Cmc7Code(char c) const {
    const Shape* s = FindShape(*data_, c);
    if (data_->family != GlyphFamily::CMC7 || s == nullptr) return std::nullopt;
    return s->cmc7Code;
}

std::optional<RenderedGlyph> GlyphSet::Render(char c, const GlyphRenderOptions& options) const {
    const Shape* s = FindShape(*data_, c);
    const double dpiX = options.dpi;
    const double dpiY = options.dpiV > 0 ? options.dpiV : options.dpi;
    if (s == nullptr || !(dpiX >= 50 && dpiX <= 2400) || !(dpiY >= 50 && dpiY <= 2400))
        return std::nullopt;
    // Growth beyond a few strokes would only merge everything into one blot.
    const double grow = std::clamp(options.growMm, -0.2, 0.3);
    const double corner = std::clamp(options.cornerMm, 0.0, 0.3);
    // Within one pixel: a larger move would only shift the ink box.
    const double shift = std::clamp(options.shiftMm, 0.0, kMmPerInch / dpiX);

    RenderedGlyph out;
    const int w = std::max(1, static_cast<int>(std::lround(data_->pitchMm * dpiX / kMmPerInch)));
    const int pad = grow > 0 ? static_cast<int>(std::ceil(grow * dpiY / kMmPerInch)) + 1 : 0;
    const int h =
        std::max(1, static_cast<int>(std::lround(data_->heightMm * dpiY / kMmPerInch))) + 2 * pad;
    out.padRows = pad;
    // The fine grid: whole fine pixels per pixel, at least 2400 dpi.
    const int fx = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiX)));
    const int fy = std::max(2, static_cast<int>(std::ceil(2400.0 / dpiY)));
    const double pitchX = kMmPerInch / dpiX / fx, pitchY = kMmPerInch / dpiY / fy;
    FineMask mask(w * fx, h * fy, pitchX, pitchY);
    const double top = -pad * kMmPerInch / dpiY;  // mm of fine row 0's top edge
    // A fine pixel is ink when its centre lies in a rectangle or a hole.
    auto firstAt = [](double mm, double pitch, double origin) {
        return static_cast<int>(std::ceil((mm - origin) / pitch - 0.5));
    };
    for (const Rect& r : s->rects) {
        const int x0 = std::max(0, firstAt(r.x0, pitchX, -shift));
        const int x1 = std::min(mask.width, firstAt(r.x1, pitchX, -shift));
        const int y0 = std::max(0, firstAt(r.y0, pitchY, top));
        const int y1 = std::min(mask.height, firstAt(r.y1, pitchY, top));
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) mask.At(x, y) = 1;
    }
    const double radius = data_->holeDiameterMm / 2;
    for (const Hole& hole : s->holes) {
        const int x0 = std::max(0, firstAt(hole.cx - radius, pitchX, -shift));
        const int x1 = std::min(mask.width, firstAt(hole.cx + radius, pitchX, -shift) + 1);
        const int y0 = std::max(0, firstAt(hole.cy - radius, pitchY, top));
        const int y1 = std::min(mask.height, firstAt(hole.cy + radius, pitchY, top) + 1);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const double dx = (x + 0.5) * pitchX - shift - hole.cx,
                             dy = top + (y + 0.5) * pitchY - hole.cy;
                if (dx * dx + dy * dy <= radius * radius) mask.At(x, y) = 1;
            }
    }
    RoundCorners(mask, corner);
    OffsetOutline(mask, grow);
    const std::vector<std::uint8_t> cov = AreaCoverage(mask, fx, fy);
    out.image = imaging::ImageBuffer(w, h, 1, 0, {dpiX, dpiY});
    out.coverage = imaging::ImageBuffer(w, h, 1, 0, {dpiX, dpiY});
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t c = cov[static_cast<std::size_t>(y) * w + x];
            out.coverage.At(x, y) = c;
            if (c < 128) continue;
            out.image.At(x, y) = 1;
            if (out.inkLeft < 0 || x < out.inkLeft) out.inkLeft = x;
            if (out.inkTop < 0) out.inkTop = y;
            out.inkRight = std::max(out.inkRight, x);
            out.inkBottom = y;
        }
    return out;
}

}  // namespace kovran::ocr
