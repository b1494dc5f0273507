// A host that knows its scanner's orientation: it scans a document whose
// marks tell every turn and mirror apart and saves each side with the
// quarter turn that stands it upright. A side delivered mirrored cannot be
// stood upright by any turn, so the marks land in the wrong corners.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"

namespace kovran::test {
namespace {

constexpr int kFront = 1;
constexpr int kRear = 0;
// A 5 x 2.5 inch document at 300 dpi, fed by its left edge.
constexpr int kDocWidth = 1500;
constexpr int kDocHeight = 750;
constexpr std::uint8_t kPaper = 235;
constexpr int kBigMark = 200;
constexpr int kSmallMark = 80;
constexpr int kMarkInset = 80;

// The page: a large square in its top-left corner, a small one in its
// top-right corner, nothing in its lower half.
void WritePage(const std::string& path) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(kDocWidth) * kDocHeight, kPaper);
    auto square = [&](int x0, int y0, int side) {
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x)
                pixels[static_cast<std::size_t>(y) * kDocWidth + x] = 0;
    };
    square(kMarkInset, kMarkInset, kBigMark);
    square(kDocWidth - kMarkInset - kSmallMark, kMarkInset, kSmallMark);
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << kDocWidth << " " << kDocHeight << "\n255\n";
    out.write(reinterpret_cast<const char*>(pixels.data()),
              static_cast<std::streamsize>(pixels.size()));
}

struct Grey {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // top row first
    std::uint8_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// An uncompressed 8- or 24-bit BMP file (the first byte of a pixel is
// enough for a grey page).
Grey ReadBmpPixels(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
    Grey g;
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') return g;
    auto u32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                         static_cast<std::uint32_t>(b[at + 3]) << 24);
    };
    const std::int32_t offset = u32(10);
    const std::int32_t width = u32(18);
    const std::int32_t height = u32(22);
    const int bytesPerPixel = (b[28] | b[29] << 8) / 8;
    if (width <= 0 || height == 0 || (bytesPerPixel != 1 && bytesPerPixel != 3)) return g;
    const int rows = std::abs(height);
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bytesPerPixel + 3) / 4 * 4;
    if (static_cast<std::size_t>(offset) + rowBytes * rows > b.size()) return g;
    g.width = width;
    g.height = rows;
    g.pixels.resize(static_cast<std::size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        const int fileRow = height > 0 ? rows - 1 - y : y;
        const std::uint8_t* row = &b[static_cast<std::size_t>(offset) + fileRow * rowBytes];
        for (int x = 0; x < width; ++x)
            g.pixels[static_cast<std::size_t>(y) * width + x] = row[x * bytesPerPixel];
    }
    return g;
}

// Dark pixels in the four quarters of the page, its borders left out (the
// crop may leave a thin dark edge).
struct Quarters {
    int topLeft = 0, topRight = 0, bottomLeft = 0, bottomRight = 0;
};

Quarters DarkQuarters(const Grey& g) {
    constexpr int kBorder = 25;
    Quarters q;
    for (int y = kBorder; y < g.height - kBorder; ++y)
        for (int x = kBorder; x < g.width - kBorder; ++x) {
            if (g.At(x, y) >= 100) continue;
            const bool top = y < g.height / 2;
            const bool left = x < g.width / 2;
            (top ? (left ? q.topLeft : q.topRight) : (left ? q.bottomLeft : q.bottomRight))++;
        }
    return q;
}

// One scanner, one way of feeding the page, and the turn a host asks for
// to stand both sides upright (a quarter turn is the one of the side with
// the magnetic head; the other side is turned the other way).
struct Feed {
    const char* name;
    const char* device;  // the profile's [device] lines before the feeder
    const char* edge;    // "left" or "top"
    double skew;
    int rotation;
};

// A scanner like the demo's, the magnetic head on the front.
constexpr const char* kMainFamily =
    "pid = 3\nserial = 000042\nfirmware = 0x5012\n"
    "config_word = 0x0A057982\nconfig_word2 = 0x0030\n"
    "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n";
// The model whose front sensor reads its line from the other end: the
// library turns the mirrored front back. Its magnetic head reads the rear.
constexpr const char* kMirroredFront =
    "pid = 11\nserial = 110001\nfirmware = 0x5010\nconfig_word = 0x00005102\n"
    "micr_block = 28 49 90 01 3C 0A 05 00 00 00 1E 00 00 00 00 00\nsensor_options = 0x01\n";

class HostOrientation : public HostFixture, public testing::WithParamInterface<Feed> {
  protected:
    void SetUp() override {
        setenv("KOVRAN_USB", "sim", 1);
        const std::string page = dir / "page.pgm";
        WritePage(page);
        const std::string profile = dir / "scanner.profile";
        std::ofstream(profile) << "[device]\n"
                               << GetParam().device << "external_power = yes\n"
                               << "feeder = " << page << " rear=" << page
                               << " dpi=300 skew=" << GetParam().skew << " feed=" << GetParam().edge
                               << "\n";
        setenv("KOVRAN_SIM", profile.c_str(), 1);
        Load();
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0) << Log();
    }
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
    }
    std::string Log() { return ReadFileBytes(LogFile()); }
    Grey Save(int side, int rotation) {
        const std::string path = dir / ("side" + std::to_string(side) + ".bmp");
        EXPECT_EQ(
            KVX(KVXImgSave3)(handle, static_cast<int16_t>(side), 0, 0, 0, 0, 0, 0, 0, KVX_FMT_BMP,
                             static_cast<int16_t>(rotation), 300, 0, path.c_str()),
            KVX_OK)
            << Log();
        return ReadBmpPixels(path);
    }
    void ExpectUpright(const Grey& g, const char* what) {
        SCOPED_TRACE(what);
        // Upright and cropped to the paper: landscape, at the page's size.
        const int along = std::string(GetParam().edge) == "left" ? g.width : g.height;
        const int across = std::string(GetParam().edge) == "left" ? g.height : g.width;
        const int pageAlong = std::string(GetParam().edge) == "left" ? kDocWidth : kDocHeight;
        const int pageAcross = std::string(GetParam().edge) == "left" ? kDocHeight : kDocWidth;
        EXPECT_NEAR(along, pageAlong, 12);
        EXPECT_NEAR(across, pageAcross, 12);
        const Quarters q = DarkQuarters(g);
        EXPECT_GT(q.topLeft, kBigMark * kBigMark * 3 / 4);
        EXPECT_GT(q.topRight, kSmallMark * kSmallMark / 2);
        EXPECT_LT(q.topRight, kBigMark * kBigMark / 2);
        EXPECT_LT(q.bottomLeft, 500);
        EXPECT_LT(q.bottomRight, 500);
    }

    int handle = 0;
};

// Fed by its left edge, the front stands upright after a quarter turn
// counter-clockwise and the rear, seen from the other face, after one
// clockwise: one request gives both (counter-clockwise where the magnetic
// head reads the front, clockwise where it reads the rear). Fed by its top
// edge, both come out upright. A tilted document is turned the same way
// once deskewed. The mirrored model comes out as the others.
TEST_P(HostOrientation, TheRequestedTurnStandsFrontAndRearUpright) {
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
    ExpectUpright(Save(kFront, GetParam().rotation), "front");
    ExpectUpright(Save(kRear, GetParam().rotation), "rear");
}

INSTANTIATE_TEST_SUITE_P(
    Feeds, HostOrientation,
    testing::Values(Feed{"LeftEdge", kMainFamily, "left", 0.0, KVX_ROT_CCW},
                    Feed{"LeftEdgeTilted", kMainFamily, "left", 2.5, KVX_ROT_CCW},
                    Feed{"TopEdge", kMainFamily, "top", 0.0, 0},
                    Feed{"MirroredFrontLeftEdge", kMirroredFront, "left", 0.0, KVX_ROT_CW},
                    Feed{"MirroredFrontTopEdge", kMirroredFront, "top", 0.0, 0},
                    Feed{"MirroredFrontTilted", kMirroredFront, "left", -1.8, KVX_ROT_CW}),
    [](const testing::TestParamInfo<Feed>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kovran::test
