// `kvxscan scan`, the host program of the main job, run as a user runs it
// against the simulated scanner: the documents of the feeder scanned and
// saved, every file checked by the reference JPEG decoder, the JSON lines a
// program reads, Ctrl-C in the middle of a run, and its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "blackbox/kvxscan_run.h"
#include "blackbox/reference_decoders.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    return lines;
}

class KvxscanScan : public ::testing::Test {
  protected:
    // A desk scanner with a feeder (as the built-in default one) that holds
    // `documents` generated cheques.
    void Feeder(int documents) {
        WriteFileBytes(dir / "scanner.profile",
                       "[device]\nname = feeder\nconfig_word = 0x0A057982\n"
                       "config_word2 = 0x0030\ndevice_config = 0C 00 00 00 00 00 00 00\n"
                       "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n"
                       "documents = " +
                           std::to_string(documents) + "\n");
    }
    ToolRun Scan(std::vector<std::string> args, ToolRunOptions options = {}) {
        fs::create_directories(dir / "data");
        options.args = {"scan", "--out", out()};
        options.args.insert(options.args.end(), args.begin(), args.end());
        options.env = {{"KOVRAN_USB", "sim"},
                       {"KOVRAN_SIM", dir / "scanner.profile"},
                       {"KOVRAN_DATA_BASE", dir / "data"}};
        return RunKvxscan(options);
    }
    std::string out() const { return dir / "out"; }
    std::string LibraryLog() const {
        std::string text;
        for (const auto& e : fs::directory_iterator(dir / "data/Kovran/V3r")) {
            if (e.path().extension() == ".log") text += ReadFileBytes(e.path());
        }
        return text;
    }
    std::set<std::string> Files() const {
        std::set<std::string> names;
        if (!fs::exists(out())) return names;
        for (const auto& e : fs::directory_iterator(out())) names.insert(e.path().filename());
        return names;
    }
    // A saved side as the JSON line tells it, checked against the file.
    void ExpectSide(const nlohmann::json& side, int dpi, int components) {
        ASSERT_TRUE(side.is_object()) << side;
        const std::string path = side["file"];
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_EQ(side["bytes"].get<std::uintmax_t>(), fs::file_size(path)) << path;
        const std::optional<JpegFacts> jpeg = ReadJpeg(path);
        ASSERT_TRUE(jpeg) << path << " does not decode";
        EXPECT_EQ(jpeg->height, side["lines"].get<int>()) << path;
        // A cheque passes lying on its long edge: 2 to 8.64 inches (the
        // sensor) across the lines, at least 4 inches of lines.
        EXPECT_GE(jpeg->width, 2 * dpi) << path;
        EXPECT_LE(jpeg->width, dpi * 864 / 100) << path;
        EXPECT_GE(jpeg->height, 4 * dpi) << path;
        EXPECT_EQ(jpeg->components, components) << path;
        EXPECT_EQ(jpeg->densityUnit, 1) << path;
        EXPECT_EQ(jpeg->xDensity, dpi) << path;
        EXPECT_EQ(jpeg->yDensity, dpi) << path;
    }

    TempDir dir;
};

TEST_F(KvxscanScan, JsonLinesNameEachDocumentsTwoDecodableJpegFiles) {
    Feeder(3);
    const ToolRun run = Scan({"--count", "2", "--dpi", "300", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<nlohmann::json> docs = JsonLines(run.out);
    ASSERT_EQ(docs.size(), 2u) << run.out;
    for (std::size_t i = 0; i < docs.size(); ++i) {
        SCOPED_TRACE(docs[i].dump());
        EXPECT_EQ(docs[i]["document"], i + 1);
        EXPECT_EQ(docs[i]["result"], KVX_OK);
        EXPECT_EQ(docs[i]["message"], "Success.");
        ExpectSide(docs[i]["front"], 300, 1);
        ExpectSide(docs[i]["rear"], 300, 1);
    }
    EXPECT_EQ(Files(), (std::set<std::string>{"doc0001-front.jpg", "doc0001-rear.jpg",
                                              "doc0002-front.jpg", "doc0002-rear.jpg"}));
    // The summary goes to standard error, the JSON alone to standard output.
    EXPECT_NE(run.err.find("2 documents in"), std::string::npos) << run.err;
}

TEST_F(KvxscanScan, EveryDocumentOfTheFeederByDefaultWithPlainLinesOffATerminal) {
    Feeder(2);
    const ToolRun run = Scan({"--color"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::regex line(
        R"(document ([0-9]+)  front ([0-9]+) lines [0-9.]+ KB  rear ([0-9]+) lines [0-9.]+ KB  0 Success\.)");
    std::istringstream in(run.out);
    int n = 0;
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, line)) << text;
        EXPECT_EQ(std::stoi(m[1]), ++n);
    }
    EXPECT_EQ(n, 2);
    EXPECT_EQ(Files().size(), 4u);
    for (const std::string& name : Files()) {
        const std::optional<JpegFacts> jpeg = ReadJpeg(out() + "/" + name);
        ASSERT_TRUE(jpeg) << name << " does not decode";
        EXPECT_EQ(jpeg->components, 3) << name;
        EXPECT_EQ(jpeg->xDensity, 200) << name;
    }
    // No bar drawn into a pipe: one summary line.
    EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("2 documents in"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("files in " + out()), std::string::npos) << run.err;
}

TEST_F(KvxscanScan, ATerminalSeesTheProgressBar) {
    Feeder(2);
    ToolRunOptions options;
    options.stderrTo = Stdio::Terminal;
    const ToolRun run = Scan({"--count", "2"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("\r\033[K[###############---------------] 1/2 documents"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("documents/min"), std::string::npos) << run.err;
}

TEST_F(KvxscanScan, CtrlCStopsTheRunCleanlyWithEveryReportedDocumentSavedWhole) {
    Feeder(200);
    ToolRunOptions options;
    options.interruptAfterLines = 1;
    const ToolRun run = Scan({"--json"}, options);
    ASSERT_FALSE(run.hung) << "no exit after Ctrl-C\n" << run.err;
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_NE(run.err.find("; stopped"), std::string::npos) << run.err;
    const std::vector<nlohmann::json> docs = JsonLines(run.out);
    ASSERT_GE(docs.size(), 1u);
    ASSERT_LT(docs.size(), 200u) << "the run ended before the interrupt";
    // Only complete files under their own names: two per reported document,
    // no temporary or half-written one.
    std::set<std::string> expected;
    for (const nlohmann::json& doc : docs) {
        EXPECT_EQ(doc["result"], KVX_OK) << doc;
        for (const char* side : {"front", "rear"}) {
            ASSERT_TRUE(doc[side].is_object()) << doc;
            expected.insert(fs::path(doc[side]["file"].get<std::string>()).filename());
            ExpectSide(doc[side], 200, 1);
        }
    }
    EXPECT_EQ(Files(), expected);
    // The scan in hand was stopped through the library before the close.
    const std::string log = LibraryLog();
    const std::size_t stop = log.find("KVXStop set");
    ASSERT_NE(stop, std::string::npos) << log;
    EXPECT_NE(log.find("device closed", stop), std::string::npos) << log;
    EXPECT_EQ(log.find("timeout waiting"), std::string::npos) << log;
}

// A service manager stops with SIGTERM: the run ends as cleanly as on
// Ctrl-C, and its status names the signal (128 + 15), not a Ctrl-C.
TEST_F(KvxscanScan, SigtermStopsCleanlyAndExitsWithItsOwnStatus) {
    Feeder(200);
    ToolRunOptions options;
    options.interruptAfterLines = 1;
    options.interruptSignal = SIGTERM;
    const ToolRun run = Scan({"--json"}, options);
    ASSERT_FALSE(run.hung) << "no exit after SIGTERM\n" << run.err;
    EXPECT_EQ(run.exitCode, 143) << run.err;
    EXPECT_NE(run.err.find("; stopped"), std::string::npos) << run.err;
    const std::vector<nlohmann::json> docs = JsonLines(run.out);
    ASSERT_GE(docs.size(), 1u);
    EXPECT_EQ(Files().size(), 2 * docs.size());
}

TEST_F(KvxscanScan, FailuresExitNonZeroWithTheReason) {
    Feeder(0);
    ToolRun run = Scan({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("kvxscan: no document in the feeder"), std::string::npos) << run.err;

    Feeder(1);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{"--dpi", "50"},
                                                {"--count", "0"},
                                                {"--format", "gif"},
                                                {"--count"},
                                                {"--fast"}}) {
        run = Scan(bad);
        EXPECT_EQ(run.exitCode, 2) << bad[0];
        EXPECT_NE(run.err.find("usage:"), std::string::npos) << run.err;
        EXPECT_TRUE(Files().empty());
    }

    // An output folder that cannot be made.
    fs::remove_all(out());
    WriteFileBytes(out(), "a file in the way");
    run = Scan({});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot make the folder"), std::string::npos) << run.err;
    fs::remove(out());

    // Fewer documents than asked for is not a failure: the run says so.
    run = Scan({"--count", "3"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("the feeder ran empty after 1 of 3 documents"), std::string::npos)
        << run.err;
}

// --endorse arms whichever printer the scanner has and each document comes
// back printed; a scanner without a printer is a failure before any scan.
// The paper moves at a real scanner's speed: the type 2 print streams
// while the document passes and must keep up with it, which a stream
// running as fast as the machine would not allow.
TEST_F(KvxscanScan, EndorsePrintsTheTextOnEachDocumentWithEitherPrinterKind) {
    const fs::path printed = dir / "printed";
    // Type 1: 200 dpi dots, reference density 100; type 2: reference
    // density 100, default fire 5.
    for (const char* kind :
         {"inkjet1_config = 01 C8 64 32 00 00 00 32 20\nconfig_word = 0x0A057B82",
          "inkjet2_config = 01 00 64 05 00 00 14 00\nconfig_word = 0x0A057D82"}) {
        SCOPED_TRACE(kind);
        fs::remove_all(printed);
        fs::remove_all(out());
        fs::create_directories(printed);
        WriteFileBytes(dir / "scanner.profile",
                       std::string("[device]\nname = printer\n") + kind +
                           "\nconfig_word2 = 0x0030\ndevice_config = 0C 00 00 00 00 00 00 00\n"
                           "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n"
                           "external_power = yes\ndocuments = 2\nstream = paced\n"
                           "paper_speed = 20\nprinter_output = " +
                           printed.string() + "\n");
        const ToolRun run = Scan({"--endorse", "PAID 10 DEC 2026", "--json"});
        ASSERT_EQ(run.exitCode, 0) << run.err << LibraryLog();
        ASSERT_EQ(JsonLines(run.out).size(), 2u) << run.out;
        for (const nlohmann::json& doc : JsonLines(run.out))
            EXPECT_EQ(doc["result"], KVX_OK) << doc;
        for (int n = 1; n <= 2; ++n) {
            // The dots the simulator recorded (a PGM, 0 where ink fell): the
            // text's strokes, so some of the area and far from all of it.
            std::istringstream pgm(
                ReadFileBytes(printed / ("printed_" + std::to_string(n) + ".pgm")));
            std::string magic;
            int width = 0, height = 0, max = 0;
            ASSERT_TRUE(pgm >> magic >> width >> height >> max) << n;
            pgm.get();
            const std::string dots{std::istreambuf_iterator<char>(pgm), {}};
            ASSERT_EQ(dots.size(), static_cast<std::size_t>(width) * height);
            EXPECT_GT(width, 40) << "a printed text of 16 characters";
            const auto ink = std::count(dots.begin(), dots.end(), '\0');
            EXPECT_GT(ink, static_cast<long>(dots.size() / 100));
            EXPECT_LT(ink, static_cast<long>(dots.size() * 3 / 4));
        }
        EXPECT_FALSE(fs::exists(printed / "printed_3.pgm"));
    }

    fs::remove_all(out());
    Feeder(1);
    ToolRun run = Scan({"--endorse", "PAID"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("no endorsement printer"), std::string::npos) << run.err;
    EXPECT_TRUE(Files().empty());
    run = Scan({"--endorse", ""});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("usage:"), std::string::npos) << run.err;
}

TEST_F(KvxscanScan, EachFormatGivesFilesTheReferenceDecodersRead) {
    Feeder(3);
    ToolRun run = Scan({"--count", "1", "--format", "tiff-g4", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    nlohmann::json doc = JsonLines(run.out).at(0);
    const std::optional<std::vector<TiffPage>> tiff = ReadTiff(doc["front"]["file"]);
    ASSERT_TRUE(tiff && tiff->size() == 1) << doc;
    EXPECT_EQ(tiff->front().compression, 4);
    EXPECT_EQ(tiff->front().bitsPerSample, 1);
    EXPECT_EQ(tiff->front().height, doc["front"]["lines"].get<int>());
    EXPECT_FLOAT_EQ(tiff->front().xResolution, 200);

    run = Scan({"--count", "1", "--format", "png", "--dpi", "150", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    doc = JsonLines(run.out).at(0);
    const std::optional<PngFacts> png = ReadPng(doc["rear"]["file"]);
    ASSERT_TRUE(png) << doc;
    EXPECT_EQ(png->height, doc["rear"]["lines"].get<int>());
    EXPECT_EQ(png->bitDepth, 8);

    run = Scan({"--count", "1", "--format", "bmp", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    doc = JsonLines(run.out).at(0);
    std::ifstream file(doc["front"]["file"].get<std::string>(), std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), {}};
    const std::optional<BmpFacts> bmp = ReadBmp(bytes);
    ASSERT_TRUE(bmp) << doc;
    EXPECT_EQ(bmp->height, doc["front"]["lines"].get<int>());
    EXPECT_EQ(bmp->bitsPerPixel, 8);
    EXPECT_EQ(bmp->fileSize, bytes.size());
}

TEST_F(KvxscanScan, PdfFilesAreWholeOrTheLibrarysReasonIsGiven) {
    Feeder(1);
    const ToolRun run = Scan({"--format", "pdf", "--json"});
    const std::vector<nlohmann::json> docs = JsonLines(run.out);
    ASSERT_EQ(docs.size(), 1u) << run.out << run.err;
    if (run.exitCode == 0) {
        for (const char* side : {"front", "rear"}) {
            const std::string bytes = ReadFileBytes(docs[0][side]["file"]);
            EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
            EXPECT_NE(bytes.find("%%EOF"), std::string::npos);
        }
        return;
    }
    // The PDF writer refused: the document's JSON and standard error carry
    // the library's result and message, and no file is left behind.
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_LT(docs[0]["result"].get<int>(), 0);
    EXPECT_FALSE(docs[0]["message"].get<std::string>().empty());
    EXPECT_NE(run.err.find("kvxscan: document 1: " + std::to_string(docs[0]["result"].get<int>())),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("(library log: " + dir.path() + "/data/Kovran/V3r/"), std::string::npos)
        << run.err;
    EXPECT_TRUE(Files().empty()) << *Files().begin();
}

}  // namespace
}  // namespace kovran::test
