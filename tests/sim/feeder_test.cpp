// Documents for the simulated feeder: generated ones, image files and
// corpus folders, and how a profile fills the feeder. Files that are
// hostile or broken are refused with a reason.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "sim/document_source.h"
#include "sim/image_file.h"
#include "sim/profile_parser.h"
#include "sim/scanner_model.h"
#include "stream_rig.h"
#include "support/temp_dir.h"

namespace kovran::sim {
namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A grey PGM whose pixel (x, y) is (x + 2 y) % 251.
std::string Pgm(int w, int h) {
    std::string s = "P5\n# test\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) s.push_back(static_cast<char>((x + 2 * y) % 251));
    return s;
}

TEST(Feeder, GeneratedChequesAreRepeatableSkewedAndDifferent) {
    const auto a = GeneratedCheques(3, false, 5);
    const auto b = GeneratedCheques(3, false, 5);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0].RenderGrey(), b[0].RenderGrey());
    EXPECT_NE(a[0].RenderGrey(), a[1].RenderGrey());
    for (const SimDocument& d : a) {
        EXPECT_GE(std::abs(d.skewDegrees), 0.1);
        EXPECT_LE(std::abs(d.skewDegrees), 1.5);
        EXPECT_EQ(d.width, 1800);
        EXPECT_EQ(d.height, 825);
    }
    DocumentImages colour;
    std::string why;
    ASSERT_TRUE(GeneratedCheques(1, true)[0].Render(&colour, &why)) << why;
    EXPECT_EQ(colour.front.channels, 3);
    EXPECT_FALSE(colour.magnetic.samples.empty());
    // Paper, border and text: both light and dark pixels.
    const auto grey = a[0].RenderGrey();
    EXPECT_GT(std::count_if(grey.begin(), grey.end(), [](auto v) { return v < 60; }), 10000);
    EXPECT_GT(std::count_if(grey.begin(), grey.end(), [](auto v) { return v > 200; }), 1000000);
}

TEST(Feeder, PnmFilesAreReadAndBrokenOnesRefused) {
    SimImage img;
    std::string why;
    const std::string good = Pgm(7, 3);
    ASSERT_TRUE(
        DecodePnm(reinterpret_cast<const std::uint8_t*>(good.data()), good.size(), &img, &why))
        << why;
    EXPECT_EQ(img.width, 7);
    EXPECT_EQ(img.height, 3);
    EXPECT_EQ(img.At(2, 1, 0), 4);
    struct Case {
        std::string bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"P5\n99999 99999\n255\n", "image size"},
        {"P5\n20000 20000\n255\n", "larger than"},
        {"P5\n0 5\n255\n", "image size"},
        {"P6\n10 10\n255\nabc", "truncated"},
        {"P5\n10 10\n65535\n", "maximum value"},
        {"P5\n10", "header"},
        {"P5\n1234567890123 2\n255\n", "header"},
        {"GIF89a", "not a binary"},
        {"", "not a binary"},
    };
    for (const Case& c : cases) {
        why.clear();
        EXPECT_FALSE(DecodePnm(reinterpret_cast<const std::uint8_t*>(c.bytes.data()),
                               c.bytes.size(), &img, &why))
            << c.bytes;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.bytes << ": " << why;
    }
    // A file cut after the PNG signature, and one that does not exist.
    test::TempDir dir;
    WriteFile(dir / "cut.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
    EXPECT_FALSE(ReadImageFile(dir / "cut.png", &img, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(ReadImageFile(dir / "missing.pgm", &img, &why));
    EXPECT_NE(why.find("cannot open"), std::string::npos);
}

TEST(Feeder, AFeederLineNamesTheFilesAndHowTheDocumentLies) {
    test::TempDir dir;
    WriteFile(dir / "f.pgm", Pgm(600, 300));
    WriteFile(dir / "r.pgm", Pgm(600, 300));
    WriteFile(dir / "t.mag", std::string(2000, '\x80'));
    SimDocument d;
    std::string why;
    ASSERT_TRUE(
        ParseFeederLine(dir / "f.pgm" + " rear=" + dir / "r.pgm" + " mag=" + dir / "t.mag" +
                            " mag_per_inch=1000 dpi=200 dpi_y=100 skew=-0.7 feed=top double",
                        &d, &why))
        << why;
    EXPECT_EQ(d.width, 600);
    EXPECT_EQ(d.height, 300);
    EXPECT_EQ(d.dpiX, 200.0);
    EXPECT_EQ(d.dpiY, 100.0);
    EXPECT_EQ(d.skewDegrees, -0.7);
    EXPECT_EQ(d.feed, FeedEdge::Top);
    EXPECT_TRUE(d.doubleSheet);
    EXPECT_EQ(d.magneticPerInch, 1000.0);
    const char* bad[] = {
        "", "rear=x.pgm", "f.pgm colour=1", "f.pgm skew=90", "f.pgm dpi=abc", "f.pgm feed=side"};
    for (const char* line : bad) {
        std::string text = line;
        if (text.rfind("f.pgm", 0) == 0) text = dir / text;
        EXPECT_FALSE(ParseFeederLine(text, &d, &why)) << line;
    }
    // A front file that is not an image is named in the reason.
    WriteFile(dir / "junk.pgm", "P5\n5 5\n255\nxx");
    EXPECT_FALSE(ParseFeederLine(dir / "junk.pgm", &d, &why));
    EXPECT_NE(why.find("junk.pgm"), std::string::npos) << why;
}

// A corpus of one document in the folder format kvx-synth writes.
void WriteCorpus(const test::TempDir& dir, const std::string& frontName = "doc.front.pgm") {
    WriteFile(dir / "doc.front.pgm", Pgm(900, 400));
    WriteFile(dir / "doc.rear.pgm", Pgm(900, 400));
    WriteFile(dir / "doc.mag", std::string(9000, '\x80'));
    WriteFile(dir / "index.json",
              R"({"format": "kvx-synth-corpus/1", "seed": 1, "large": false,
                  "documents": [{"name": "doc", "set": "special", "level": 0, "truth": "doc.json"}]})");
    WriteFile(dir / "doc.json",
              R"({"name": "doc", "size_px": [900, 400], "dpi_x": 300.0, "dpi_y": 300.0,
        "images": {"front": ")" +
                  frontName + R"(", "rear": "doc.rear.pgm"},
        "magnetic": {"file": "doc.mag", "raw_per_inch": 3000.0, "baseline": 128}})");
}

TEST(Feeder, ACorpusFolderFillsTheFeeder) {
    test::TempDir dir;
    WriteCorpus(dir);
    std::vector<SimDocument> docs;
    std::string why;
    ASSERT_TRUE(LoadCorpus(dir.path(), &docs, &why)) << why;
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].name, "doc");
    EXPECT_EQ(docs[0].frontFile, dir / "doc.front.pgm");
    EXPECT_EQ(docs[0].magneticFile, dir / "doc.mag");
    DocumentImages images;
    ASSERT_TRUE(docs[0].Render(&images, &why)) << why;
    EXPECT_EQ(images.front.width, 900);
    EXPECT_EQ(images.magnetic.samples.size(), 9000u);
    // A name leading out of the folder, and an index that is not one.
    test::TempDir escape;
    WriteCorpus(escape, "../../etc/passwd");
    EXPECT_FALSE(LoadCorpus(escape.path(), &docs, &why));
    test::TempDir broken;
    WriteFile(broken / "index.json", "{\"format\": \"kvx-synth-corpus/1\", \"documents\": [");
    EXPECT_FALSE(LoadCorpus(broken.path(), &docs, &why));
    EXPECT_NE(why.find("not a JSON"), std::string::npos) << why;
}

TEST(Feeder, ACorpusWithMembersOfTheWrongTypeIsRefusedNotThrown) {
    std::vector<SimDocument> docs;
    std::string why;
    test::TempDir index;
    WriteFile(index / "index.json", R"({"format": 5, "documents": []})");
    bool ok = true;
    EXPECT_NO_THROW(ok = LoadCorpus(index.path(), &docs, &why));
    EXPECT_FALSE(ok);
    // A name that is not text falls back to the ground truth's file name.
    test::TempDir truth;
    WriteCorpus(truth);
    WriteFile(truth / "doc.json",
              R"({"name": 7, "dpi_x": 300, "dpi_y": 300, "images": {"front": "doc.front.pgm"}})");
    EXPECT_NO_THROW(ok = LoadCorpus(truth.path(), &docs, &why));
    ASSERT_TRUE(ok) << why;
    ASSERT_FALSE(docs.empty());
    EXPECT_EQ(docs.back().name, "doc.json");
    for (const char* hostile :
         {R"({"name": "x", "dpi_x": "300", "dpi_y": 300, "images": {"front": "doc.front.pgm"}})",
          R"({"name": "x", "dpi_x": 300, "dpi_y": 300, "images": {"front": ["a"]}})",
          R"({"name": "x", "dpi_x": 300, "dpi_y": 300, "images": {"front": "doc.front.pgm"},
              "magnetic": {"file": "doc.mag", "raw_per_inch": "a", "baseline": 1}})",
          R"([1, 2])"}) {
        WriteFile(truth / "doc.json", hostile);
        EXPECT_NO_THROW(ok = LoadCorpus(truth.path(), &docs, &why)) << hostile;
        EXPECT_FALSE(ok) << hostile;
    }
}

TEST(Feeder, AProfileFillsTheFeederAndSetsTheStream) {
    test::TempDir dir;
    WriteCorpus(dir);
    WriteFile(dir / "one.pgm", Pgm(300, 200));
    const std::string text =
        "[device]\ndocuments = 2\ndocuments_colour = yes\ndocuments = corpus:" + dir.path() + "\n";
    std::vector<DeviceProfile> devices;
    std::string why;
    // "documents" is one key: a number or a corpus, not both.
    EXPECT_FALSE(ParseProfiles(text, &devices, &why));
    const std::string good =
        "[device]\ndocuments = corpus:" + dir.path() + "\nfeeder = " + dir / "one.pgm" +
        " skew=1\nfeeder = " + dir / "one.pgm" +
        "\naligner = yes\nstream = paced\npaper_speed = 40\nsensor_gain = 80 95\n"
        "sensor_dark = 2 6\nsensor_seed = 9\nbulk_limit = 0\n"
        "fault = aligner_glitch 10 +1\nfault = rate_limit 1000\n";
    ASSERT_TRUE(ParseProfiles(good, &devices, &why)) << why;
    const DeviceProfile& p = devices.at(0);
    EXPECT_EQ(p.feeder.size(), 3u);
    EXPECT_TRUE(p.stream.aligner);
    EXPECT_EQ(p.stream.pace, StreamSettings::Pace::Paced);
    EXPECT_EQ(p.stream.paperInchesPerSecond, 40.0);
    EXPECT_DOUBLE_EQ(p.stream.sensor.gainMin, 0.80);
    EXPECT_DOUBLE_EQ(p.stream.sensor.darkMax, 6.0);
    EXPECT_EQ(p.stream.sensor.seed, 9u);
    EXPECT_EQ(p.bulkLimit, 0u);
    EXPECT_EQ(p.faults.size(), 2u);
    // The feeder holds them all, in order.
    SimulatedScanner scanner(p, "path");
    EXPECT_EQ(scanner.FeederCount(), 3u);
    for (const char* wrong :
         {"feeder = /nonexistent.png", "documents = corpus:", "stream = fast", "sensor_gain = 0 50",
          "sensor_dark = 9 2", "paper_speed = 0", "background = 255"}) {
        EXPECT_FALSE(ParseProfiles(std::string("[device]\n") + wrong + "\n", &devices, &why))
            << wrong;
    }
}

TEST(Feeder, AFileDocumentFedByItsTopEdgeLiesAlongTheSensor) {
    // A portrait page of 300 x 600 pixels fed top first: its width lies
    // across the sensor, its height along the paper path.
    test::TempDir dir;
    WriteFile(dir / "page.pgm", Pgm(300, 600));
    SimDocument d;
    std::string why;
    ASSERT_TRUE(ParseFeederLine(dir / "page.pgm" + " feed=top", &d, &why)) << why;
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = 0;
    p.feeder = {d};
    p.stream.sensor.gainMin = p.stream.sensor.gainMax = 1.0;
    p.stream.sensor.darkMin = p.stream.sensor.darkMax = 0.0;
    streamtest::Rig rig(p);
    streamtest::StartBits s;
    s.rear = false;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    constexpr int kPixels = 2592;
    EXPECT_EQ(bytes.size(), static_cast<std::size_t>(31 + 600 + 750) * kPixels);
    // Scan line 31 + y, pixel 60 + x sees the page's pixel (x, y).
    for (int y : {0, 77, 599}) {
        for (int x : {0, 150, 299}) {
            EXPECT_EQ(bytes[(31 + y) * kPixels + 60 + x], (x + 2 * y) % 251) << x << "," << y;
        }
    }
}

TEST(Feeder, AMagneticTrackReachesTheStripAsTheCorpusReadmeMapsIt) {
    // The corpus README's mapping of a .mag track onto the stream, for the
    // default device in its two-sided grey mode: r = 5 samples after each
    // channel line at L = 300 lines per inch, head offset o = 200 pixels,
    // and 31 lines (1 + 30/300 inch) of background before the paper:
    //   stream[j] = mag[(j / (r L) + o / 300 - 31 / L) x raw_per_inch].
    // With a track at the mode's own rate (1500 per inch) that is
    // mag[j + 1000 - 155]; past the end of the track the baseline follows.
    test::TempDir dir;
    WriteFile(dir / "doc.pgm", Pgm(1800, 825));
    std::string mag;
    for (int i = 0; i < 9000; ++i) mag.push_back(static_cast<char>(20 + i % 200));
    WriteFile(dir / "doc.mag", mag);
    SimDocument d;
    std::string why;
    ASSERT_TRUE(ParseFeederLine(dir / "doc.pgm" + " mag=" + dir / "doc.mag" + " mag_per_inch=1500",
                                &d, &why))
        << why;
    DeviceProfile p = DefaultDeviceProfile();
    p.documents = 0;
    p.feeder = {d};
    streamtest::Rig rig(p);
    streamtest::StartBits s;
    s.strip = true;
    const std::vector<std::uint8_t> bytes = rig.Acquire(s);
    const streamtest::Layout l{.channels = 1, .frontPixels = 2592, .rearPixels = 2592, .strip = 5};
    ASSERT_EQ(bytes.size() % l.LineBytes(), 0u);
    std::vector<int> stream;
    for (std::size_t k = 0; k < bytes.size() / l.LineBytes(); ++k) {
        const streamtest::SplitLine line = streamtest::Split(&bytes[k * l.LineBytes()], l);
        stream.insert(stream.end(), line.strip[0].begin(), line.strip[0].end());
    }
    constexpr int kSkipped = 1000 - 155;
    ASSERT_GT(stream.size(), 9000u);
    int off = 0;
    for (int j = 0; j + kSkipped < 9000; ++j)
        if (std::abs(stream[j] - static_cast<std::uint8_t>(mag[j + kSkipped])) > 1 && off++ < 5)
            ADD_FAILURE() << "stream sample " << j << " is " << stream[j] << ", track sample "
                          << j + kSkipped << " is " << static_cast<int>(mag[j + kSkipped]);
    for (std::size_t j = 9000 - kSkipped + 1; j < stream.size(); ++j)
        ASSERT_EQ(stream[j], 128) << j;
}

}  // namespace
}  // namespace kovran::sim

namespace kovran::sim {
namespace {

TEST(Feeder, AProfileFileSelectsTheStreamAsTheEnvironmentDoes) {
    // What a black-box test writes before loading the library with
    // KOVRAN_USB=sim KOVRAN_SIM=<file>.
    test::TempDir dir;
    WriteFile(dir / "sim.profile",
              "[device]\ndocuments = 1\naligner = yes\nfault = short_document 40\n");
    std::string why;
    std::unique_ptr<SimBackend> backend = MakeSimBackend((dir / "sim.profile").c_str(), &why);
    ASSERT_TRUE(backend) << why;
    int error = -1;
    auto dev = backend->Open(backend->Enumerate().at(0).path, &error);
    ASSERT_TRUE(dev);
    ASSERT_EQ(simio::Write(*dev, streamtest::kFw, kClassD1, 0x33,
                           streamtest::StartCommandBytes(streamtest::StartBits{})),
              0);
    ASSERT_EQ(simio::Command(*dev, streamtest::kFw, kClassD1, 0x34), 0);
    std::vector<std::uint8_t> buffer(1 << 20);
    platform::BulkTransferId id = 0;
    std::size_t n = 0;
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buffer.data(), buffer.size(), &id), 0);
    ASSERT_EQ(dev->WaitBulk(id, &n, 1000), 0);
    EXPECT_EQ(n, 40u * 2 * 2592);
    EXPECT_EQ(buffer[0], 0);  // the aligner's mark
    EXPECT_EQ(buffer[2 * 2592], 0);
}

}  // namespace
}  // namespace kovran::sim
