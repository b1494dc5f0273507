#include "ocr/glyph_sources.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace kovran::ocr {
namespace {

// Inked height in modules of each of the seven 0.013-inch columns, from the
// published measurements of a freely licensed E13B font ("-": no ink).
const std::map<char, std::string> kE13BProfiles = {
    {'0', "9 2 2 2 2 2 9"},   {'1', "- - - 5.5 9 4 4"}, {'2', "- - - 6 3 3 6"},
    {'3', "- - 3 3 3 9 4.5"}, {'4', "- 7 7 1 1 4 4"},   {'5', "- - 6 3 3 3 6"},
    {'6', "- 9 3 3 4.5 2 4"}, {'7', "- - 3 1 6 2 4"},   {'8', "4.5 9 3 3 3 9 4.5"},
    {'9', "- 5 2 2 2 6 9"},   {':', "6 6 - - 6 6 6"},   {'=', "4 4 - 4.5 - 4 4"},
    {'<', "6 - 6 - 4 4 4"},   {';', "4 4 - 4 4 - 4"},
};

std::vector<double> Profile(const std::string& text) {
    std::istringstream in(text);
    std::vector<double> out;
    std::string w;
    while (in >> w) out.push_back(w == "-" ? 0.0 : std::stod(w));
    return out;
}

TEST(GlyphSources, BuiltinSetsHoldTheirCharacters) {
    EXPECT_EQ(GlyphSet::Builtin(GlyphFamily::E13B).Characters(), "0123456789:=<;");
    const GlyphSet cmc7 = GlyphSet::Builtin(GlyphFamily::CMC7);
    EXPECT_EQ(cmc7.Characters(), "0123456789:;<=>");
    const GlyphSet micro = GlyphSet::Builtin(GlyphFamily::Microperforation);
    for (char c : std::string("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ/@&*#'-,"))
        EXPECT_TRUE(micro.Contains(c)) << c;
    EXPECT_FALSE(micro.Contains('a'));
    EXPECT_FALSE(cmc7.Render('A', {}));
    EXPECT_FALSE(cmc7.Render('0', {10, 0, 0}));
    EXPECT_FALSE(cmc7.Render('0', {300, 5000, 0}));
    EXPECT_FALSE(micro.Cmc7Code('0'));
}

TEST(GlyphSources, E13BColumnsMatchTheModuleProfiles) {
    // At this resolution a half module is exactly two pixels, so every
    // module column is four pixel columns and a module four pixel rows.
    const double dpi = 2 / (0.013 / 2);
    const GlyphSet e13b = GlyphSet::Builtin(GlyphFamily::E13B);
    for (const auto& [ch, text] : kE13BProfiles) {
        const auto r = e13b.Render(ch, {dpi, 0, 0});
        ASSERT_TRUE(r) << ch;
        const imaging::ImageBuffer& img = r->image;
        EXPECT_EQ(img.Height(), 36);
        const std::vector<double> want = Profile(text);
        // The 7-module grid is centred in the 0.125-inch pitch.
        const double left = (0.125 - 7 * 0.013) / 2 * dpi;
        for (int m = 0; m < 7; ++m) {
            for (int k = 0; k < 4; ++k) {
                const int x = static_cast<int>(left + 0.5) + 4 * m + k;
                int ink = 0;
                for (int y = 0; y < img.Height(); ++y) ink += img.At(x, y);
                EXPECT_EQ(ink, static_cast<int>(want[m] * 4)) << ch << " column " << m;
            }
        }
        // Right-justified: the last module column of every character is inked.
        EXPECT_GT(want[6], 0) << ch;
    }
}

// The CMC7 table: entry `code` of the 64 characters, '?' where no character.
char Cmc7FromCode(unsigned code) {
    static const char kTable[] =
        R"(???7?32??49?0????18?6???5????????:;?<???=???????>???????????????)";
    return code < 64 ? kTable[code] : '?';
}

TEST(GlyphSources, Cmc7GapPatternsDecodeToTheirCharacters) {
    const GlyphSet cmc7 = GlyphSet::Builtin(GlyphFamily::CMC7);
    for (double dpi : {200.0, 300.0, 600.0}) {
        for (char ch : cmc7.Characters()) {
            const auto r = cmc7.Render(ch, {dpi, 0, 0});
            ASSERT_TRUE(r);
            const imaging::ImageBuffer& img = r->image;
            // Stroke centres from the column projection.
            std::vector<double> centres;
            int runStart = -1;
            for (int x = 0; x <= img.Width(); ++x) {
                bool ink = false;
                for (int y = 0; x < img.Width() && y < img.Height() && !ink; ++y)
                    ink = img.At(x, y);
                if (ink && runStart < 0) runStart = x;
                if (!ink && runStart >= 0) {
                    centres.push_back((runStart + x - 1) / 2.0);
                    runStart = -1;
                }
            }
            ASSERT_EQ(centres.size(), 7u) << ch << " at " << dpi;
            unsigned code = 0;
            const double longLimit = 0.40 * dpi / 25.4;
            for (int k = 1; k < 7; ++k)
                if (centres[k] - centres[k - 1] > longLimit) code |= 1u << (k - 1);
            EXPECT_EQ(Cmc7FromCode(code), ch) << "at " << dpi << " dpi";
            EXPECT_EQ(cmc7.Cmc7Code(ch), code);
            // Digits are 2.85 mm high, the symbols 2.70 mm.
            const double mm = (r->inkBottom - r->inkTop + 1) * 25.4 / dpi;
            EXPECT_NEAR(mm, (ch >= '0' && ch <= '9') ? 2.85 : 2.70, 0.13) << ch;
        }
    }
}

int Components(const imaging::ImageBuffer& img) {
    std::vector<int> seen(img.Bytes(), 0);
    int n = 0;
    for (int y0 = 0; y0 < img.Height(); ++y0) {
        for (int x0 = 0; x0 < img.Width(); ++x0) {
            if (!img.At(x0, y0) || seen[y0 * img.Width() + x0]) continue;
            ++n;
            std::vector<std::pair<int, int>> stack{{x0, y0}};
            seen[y0 * img.Width() + x0] = 1;
            while (!stack.empty()) {
                auto [x, y] = stack.back();
                stack.pop_back();
                for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= img.Width() || ny >= img.Height()) continue;
                    const std::size_t i = static_cast<std::size_t>(ny) * img.Width() + nx;
                    if (img.Data()[i] && !seen[i]) {
                        seen[i] = 1;
                        stack.push_back({nx, ny});
                    }
                }
            }
        }
    }
    return n;
}

TEST(GlyphSources, MicroperforationHolesStaySeparate) {
    const GlyphSet micro = GlyphSet::Builtin(GlyphFamily::Microperforation);
    // '8' has 17 holes on the 5 x 7 matrix; each is its own blob at 300 dpi,
    // and a hole is about 0.40 mm across.
    const auto r = micro.Render('8', {300, 0, 0});
    ASSERT_TRUE(r);
    EXPECT_EQ(Components(r->image), 17);
    const auto one = micro.Render('-', {300, 0, 0});
    ASSERT_TRUE(one);
    EXPECT_EQ(Components(one->image), 5);
    EXPECT_NEAR((one->inkBottom - one->inkTop + 1) * 25.4 / 300, 0.40, 0.09);
    // Heavier punching grows the holes until neighbours touch.
    const auto heavy = micro.Render('-', {300, 0, 0.06});
    ASSERT_TRUE(heavy);
    EXPECT_EQ(Components(heavy->image), 1);
}

TEST(GlyphSources, GrowthAndResolutionChangeTheInk) {
    const GlyphSet e13b = GlyphSet::Builtin(GlyphFamily::E13B);
    auto ink = [](const RenderedGlyph& g) {
        int n = 0;
        for (std::size_t i = 0; i < g.image.Bytes(); ++i) n += g.image.Data()[i];
        return n;
    };
    const auto nominal = e13b.Render('8', {300, 0, 0});
    const auto heavy = e13b.Render('8', {300, 0, 0.03});
    const auto light = e13b.Render('8', {300, 0, -0.03});
    const auto tall = e13b.Render('8', {300, 600, 0});
    ASSERT_TRUE(nominal && heavy && light && tall);
    EXPECT_GT(ink(*heavy), ink(*nominal));
    EXPECT_LT(ink(*light), ink(*nominal));
    EXPECT_EQ(tall->image.Width(), nominal->image.Width());
    EXPECT_EQ(tall->image.Height(), 2 * nominal->image.Height());
    EXPECT_EQ(nominal->image.Width(), 38);  // 0.125 inch at 300 dpi, rounded
}

TEST(GlyphSources, ParseErrorsNameTheProblem) {
    auto error = [](GlyphFamily f, const std::string& text) {
        return GlyphSet::Parse(f, text).error;
    };
    const std::string row14 = "##############\n";
    std::string e13b = "char 0\n";
    for (int i = 0; i < 17; ++i) e13b += row14;
    EXPECT_NE(error(GlyphFamily::E13B, e13b).find("expected 18 rows"), std::string::npos);
    e13b += row14;
    EXPECT_EQ(error(GlyphFamily::E13B, e13b), "");
    EXPECT_NE(error(GlyphFamily::E13B, e13b + e13b).find("given twice"), std::string::npos);
    EXPECT_NE(error(GlyphFamily::E13B, "").find("no characters"), std::string::npos);
    EXPECT_NE(error(GlyphFamily::E13B, "char 0\n###\n").find("line 1"), std::string::npos);

    std::string cmc7 = "char 0 long 3 4\n";
    for (int i = 0; i < 19; ++i) cmc7 += "######.\n";
    EXPECT_NE(error(GlyphFamily::CMC7, cmc7).find("stroke 7 has no ink"), std::string::npos);
    std::string same = "char 0 long 3 3\n";
    EXPECT_NE(error(GlyphFamily::CMC7, same).find("two different gaps"), std::string::npos);

    std::string micro = "char 1\n..#..\n..#..\n..#..\n..#..\n..#..\n..#..\n..#..\n";
    EXPECT_NE(error(GlyphFamily::Microperforation, micro).find("holes"), std::string::npos);
    EXPECT_EQ(error(GlyphFamily::Microperforation, "holes 0.4 pitch 0.5\n" + micro), "");
    EXPECT_NE(error(GlyphFamily::Microperforation, "holes 0.6 pitch 0.5\n" + micro), "");
}

}  // namespace
}  // namespace kovran::ocr
