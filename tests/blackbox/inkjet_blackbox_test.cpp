// The endorsement printers as a host drives them, against simulated
// scanners with a type 1 printhead or a TIJ2.5 cartridge. The simulator
// writes what it printed on each document (one pixel per dot) into the
// test's folder; the tests compare it with the stamp the host gave, pixel
// for pixel, and the virtual endorsement on the front with the same stamp.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "blackbox/host_fixture.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

// An 8-bit grey image, top row first.
struct Grey {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    std::uint8_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

void Le(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

// An 8-bit grey BMP file with a grey palette, rows bottom first.
std::string BmpFile(const Grey& g) {
    const int row = (g.width + 3) / 4 * 4;
    const std::uint32_t offset = 14 + 40 + 1024;
    std::string out = "BM";
    Le(out, offset + row * g.height, 4);
    Le(out, 0, 4);
    Le(out, offset, 4);
    Le(out, 40, 4);
    Le(out, g.width, 4);
    Le(out, g.height, 4);
    Le(out, 1, 2);
    Le(out, 8, 2);
    Le(out, 0, 4);
    Le(out, row * g.height, 4);
    Le(out, 2835, 4);
    Le(out, 2835, 4);
    Le(out, 256, 4);
    Le(out, 0, 4);
    for (int i = 0; i < 256; ++i) Le(out, static_cast<std::uint32_t>(i * 0x010101), 4);
    for (int y = g.height - 1; y >= 0; --y) {
        for (int x = 0; x < row; ++x)
            out.push_back(static_cast<char>(x < g.width ? g.At(x, y) : 0));
    }
    return out;
}

// A stamp with a pattern no shift or turn maps onto itself.
Grey Pattern(int width, int height) {
    Grey g{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, 255)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x * 7 + y * 3) % 5 == 0 || x == y)
                g.pixels[static_cast<std::size_t>(y) * width + x] = 0;
    return g;
}

std::optional<Grey> ReadPgm(const std::string& path) {
    std::istringstream in(ReadFileBytes(path));
    std::string magic;
    Grey g;
    int max = 0;
    if (!(in >> magic >> g.width >> g.height >> max) || magic != "P5") return std::nullopt;
    in.get();
    g.pixels.resize(static_cast<std::size_t>(g.width) * g.height);
    in.read(reinterpret_cast<char*>(g.pixels.data()),
            static_cast<std::streamsize>(g.pixels.size()));
    return g;
}

// A BMP file image of 8 bits per pixel (as KVXImgGet hands a grey side).
std::optional<Grey> ParseBmp(const std::uint8_t* b) {
    auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 |
                                          b[at + 3] << 24);
    };
    if (b[0] != 'B' || b[1] != 'M' || (b[28] | b[29] << 8) != 8) return std::nullopt;
    Grey g;
    g.width = static_cast<int>(u32(18));
    const int h = static_cast<int>(u32(22));
    g.height = h < 0 ? -h : h;
    const int row = (g.width + 3) / 4 * 4;
    g.pixels.resize(static_cast<std::size_t>(g.width) * g.height);
    for (int y = 0; y < g.height; ++y) {
        const int fileRow = h > 0 ? g.height - 1 - y : y;
        std::copy_n(b + u32(10) + static_cast<std::size_t>(fileRow) * row, g.width,
                    g.pixels.begin() + static_cast<std::ptrdiff_t>(y) * g.width);
    }
    return g;
}

std::string Hex(const std::vector<int>& bytes) {
    std::string out;
    for (int i = 0; i < 64; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X ", i < static_cast<int>(bytes.size()) ? bytes[i] : 0);
        out += b;
    }
    return out;
}

// Type 1: present, dot pitch 200 dpi, reference density 100, position base
// 50, position value 50 (1/100 inch), a 2048-byte buffer.
const std::string kType1Info = Hex({1, 200, 100, 50, 0, 0, 0, 50, 32});
// Type 2: reference density 100, default fire 5, position base 20.
const std::string kType2Info = Hex({1, 0, 100, 5, 0, 0, 20, 0});

class HostInkjet : public HostFixture {
  protected:
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
    }
    // A scanner with `documents` cheques and a printer of the kind given.
    void Open(int kind, const std::string& extra, int documents = 3, const std::string& info = "") {
        std::filesystem::create_directories(printed());
        const std::uint32_t word = 0x0A057982u | (kind == 1 ? 0x200u : 0x400u);
        std::ostringstream p;
        p << "[device]\nname = printer\nvid = 0x7E51\npid = 3\nserial = 123456\n"
          << "firmware = 0x5012\nspeed = high\nlocation = 1-1\nconfig_word = " << word
          << "\nconfig_word2 = 0x0030\ncis_voltage = 12\n"
          << "device_config = 0C 00 00 00 00 00 00 00\n"
          << "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n"
          << "sensor_options = 0x00\nhardware_key = 4B 56 58 2D 53 49 4D 00\nphoto_tuning = 80 80 "
             "80 80 40 40 40 40\n"
          << "external_power = yes\nbulk_limit = 16777216\n"
          << "documents = " << documents
          << "\n"
          // The paper moves at its own speed, so that the printing thread
          // streams beside a document that takes its time to pass, as on
          // the device (free-running, a document passes in a few
          // milliseconds and a loaded machine can miss it).
          << "stream = paced\n"
          << (kind == 1 ? "inkjet1_config = " : "inkjet2_config = ")
          << (!info.empty() ? info
              : kind == 1   ? kType1Info
                            : kType2Info)
          << "\nprinter_output = " << printed() << "\n"
          << extra;
        const std::string file = dir / "scanner.profile";
        WriteFileBytes(file, p.str());
        setenv("KOVRAN_USB", "sim", 1);
        setenv("KOVRAN_SIM", file.c_str(), 1);
        Load();
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0) << Log();
    }
    std::string printed() const { return dir / "printed"; }
    std::string Log() { return ReadFileBytes(LogFile()); }
    std::string Bitmap(const Grey& g, const std::string& name = "stamp.bmp") {
        const std::string path = dir / name;
        WriteFileBytes(path, BmpFile(g));
        return path;
    }
    KVXResult Scan() { return KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0); }
    int PrintedDocuments() {
        int n = 0;
        while (std::filesystem::exists(printed() + "/printed_" + std::to_string(n + 1) + ".pgm"))
            ++n;
        return n;
    }
    std::string PrintedSetUp(int n) {
        return ReadFileBytes(printed() + "/printed_" + std::to_string(n) + ".txt");
    }

    int handle = 0;
};

// Pixels of `printed` that differ from `expected` (ink below `threshold`).
int Differences(const Grey& printed, const Grey& expected, int threshold) {
    int n = 0;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            n += (printed.At(x, y) == 0) != (expected.At(x, y) < threshold);
    return n;
}

// The dots the first `columns` print columns of a stamp should put down:
// a type 1 head prints a stamp column per print column, a type 2 cartridge
// a stamp row (its 150 nozzles run along the stamp's 150 columns).
enum class PrintAxis : bool { Columns, Rows };
Grey ExpectedDots(const Grey& stamp, int columns, PrintAxis axis) {
    const int rows = axis == PrintAxis::Columns ? stamp.height : stamp.width;
    Grey g{columns, rows, std::vector<std::uint8_t>(static_cast<std::size_t>(columns) * rows)};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            g.pixels[static_cast<std::size_t>(y) * columns + x] =
                axis == PrintAxis::Columns ? stamp.At(x, y) : stamp.At(y, x);
    return g;
}

TEST_F(HostInkjet, AType1StampIsPrintedWholeOnEachDocumentAndEndorsedOnTheFront) {
    ASSERT_NO_FATAL_FAILURE(Open(1, ""));
    const Grey stamp = Pattern(40, 12);
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(stamp).c_str(), 0, 100, 1, 1, 0), KVX_OK)
        << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    const int before = KVX(KVXInkjetNumCur)(handle, 0);
    ASSERT_EQ(Scan(), KVX_OK) << Log();

    // Tolerance: none. The dots are the stamp's, column for column.
    ASSERT_EQ(PrintedDocuments(), 1);
    const std::optional<Grey> dots = ReadPgm(printed() + "/printed_1.pgm");
    ASSERT_TRUE(dots);
    ASSERT_EQ(dots->width, 40);
    ASSERT_EQ(dots->height, 12);
    EXPECT_EQ(Differences(*dots, stamp, 128), 0);
    // Position base 50 + offset 100 at the reference density.
    EXPECT_NE(PrintedSetUp(1).find("start 150\n"), std::string::npos) << PrintedSetUp(1);

    // The virtual endorsement: the stamp at 200 dpi both ways scaled to the
    // front's 300, turned, 0.5 inch from the far edge and 1 inch along.
    std::int32_t length = 0;
    std::uint8_t* image = KVX(KVXImgGet)(handle, 1, nullptr, 0, 4, &length);
    ASSERT_NE(image, nullptr) << Log();
    const std::optional<Grey> front = ParseBmp(image);
    KVX(KVXImgGetFree)(handle, image);
    ASSERT_TRUE(front);
    const int x0 = front->width - 300 * 50 / 100;
    const int y0 = 300 * 100 / 100;
    const int across = 300 * 12 / 200;
    const int along = 300 * 40 / 200;
    ASSERT_LE(x0 + across, front->width);
    ASSERT_LE(y0 + along, front->height);
    int mismatched = 0;
    for (int i = 0; i < along; ++i) {
        for (int j = 0; j < across; ++j) {
            const bool ink = stamp.At(i * 40 / along, j * 12 / across) < 128;
            const bool marked = front->At(x0 + j, y0 + i) == 50;
            // Where the stamp is blank the paper shows; it is rarely exactly 50.
            if (ink && !marked) ++mismatched;
            if (!ink && marked) ++mismatched;
        }
    }
    // Tolerance: 2% of the area for paper that happens to read 50.
    EXPECT_LE(mismatched, along * across / 50) << Log();

    // Kept: the next document gets the same stamp; each print counts once.
    ASSERT_EQ(Scan(), KVX_OK) << Log();
    ASSERT_EQ(PrintedDocuments(), 2);
    EXPECT_EQ(Differences(*ReadPgm(printed() + "/printed_2.pgm"), stamp, 128), 0);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), before + 2);
}

TEST_F(HostInkjet, AType1StampLongerThanTheDocumentIsReportedIncomplete) {
    // A printhead with the largest buffer (255 x 64 bytes) takes a stamp of
    // 3000 columns, 15 inches at its 200 dpi: longer than any cheque.
    ASSERT_NO_FATAL_FAILURE(Open(1, "", 3, Hex({1, 200, 100, 50, 0, 0, 0, 50, 255})));
    const Grey stamp = Pattern(3000, 12);
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(stamp).c_str(), 0, 0, 1, 1, 0), KVX_OK)
        << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    EXPECT_NE(Log().find("incomplete stamp "), std::string::npos) << Log();
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
    // The paper got the stamp's beginning, as long as the document.
    const std::optional<Grey> dots = ReadPgm(printed() + "/printed_1.pgm");
    ASSERT_TRUE(dots);
    EXPECT_GT(dots->width, 0);
    EXPECT_LE(dots->width, 864 * 2);
    EXPECT_EQ(Differences(*dots, ExpectedDots(stamp, dots->width, PrintAxis::Columns), 128), 0);
}

TEST_F(HostInkjet, AType2StampIsStreamedWholeWhileTheDocumentMoves) {
    ASSERT_NO_FATAL_FAILURE(Open(2, ""));
    const Grey stamp = Pattern(150, 60);
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(stamp).c_str(), 30, 0), KVX_OK) << Log();
    EXPECT_NE(Log().find("cartridgeID"), std::string::npos);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    ASSERT_EQ(Scan(), KVX_OK) << Log();
    ASSERT_EQ(PrintedDocuments(), 1);
    const std::optional<Grey> dots = ReadPgm(printed() + "/printed_1.pgm");
    ASSERT_TRUE(dots);
    // One print column per bitmap row, one nozzle row per bitmap column.
    ASSERT_EQ(dots->width, 60);
    ASSERT_EQ(dots->height, 150);
    // Tolerance: none.
    EXPECT_EQ(Differences(*dots, ExpectedDots(stamp, 60, PrintAxis::Rows), 200), 0);
    // Twice the offset with the position base; the cartridge's own fire.
    EXPECT_NE(PrintedSetUp(1).find("start 100\n"), std::string::npos) << PrintedSetUp(1);
    EXPECT_NE(PrintedSetUp(1).find("fire 5\n"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 1);
}

TEST_F(HostInkjet, AType2TextTallerThanTheHeadIsRefused) {
    ASSERT_NO_FATAL_FAILURE(Open(2, ""));
    EXPECT_EQ(KVX(KVXInkjet2SetUp)(handle, "PAID", "ARIAL", 32767, 0, 0, 0, 0),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("stamp too large"), std::string::npos) << Log();
    // A text the head holds passes.
    EXPECT_EQ(KVX(KVXInkjet2SetUp)(handle, "PAID", "ARIAL", 40, 0, 0, 0, 0), KVX_OK) << Log();
}

TEST_F(HostInkjet, AStampLongerThanTheDocumentStopsAtItsTrailingEdge) {
    ASSERT_NO_FATAL_FAILURE(Open(2, ""));
    // 5957 print columns: almost 20 inches, longer than any cheque.
    const Grey stamp = Pattern(150, 5957);
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(stamp).c_str(), 0, 0), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("incomplete Stamp for acquisition end"), std::string::npos) << log;
    EXPECT_NE(log.find("incomplete stamp - not sent to printer"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
    // What reached the paper is the stamp's beginning, up to the document's
    // end (at most the 8.64 inches of the widest document). How much of it
    // the printing thread sent while the paper passed depends on the
    // machine's load: on a busy one, nothing may have.
    const std::optional<Grey> dots = ReadPgm(printed() + "/printed_1.pgm");
    if (!dots) return;
    EXPECT_LE(dots->width, 864 * 3);
    EXPECT_EQ(Differences(*dots, ExpectedDots(stamp, dots->width, PrintAxis::Rows), 200), 0);
}

TEST_F(HostInkjet, HostileType2BitmapsAreRefused) {
    ASSERT_NO_FATAL_FAILURE(Open(2, ""));
    // Headers that claim far more rows or columns than the file holds.
    for (const auto& [w, h] : std::vector<std::pair<std::uint32_t, std::uint32_t>>{
             {150, 0x7FFFFFFF}, {150, 0x80000001u}, {0x7FFFFFFF, 2}, {150, 0}, {0, 0}}) {
        std::string bmp = BmpFile(Pattern(150, 2));
        for (int i = 0; i < 4; ++i) {
            bmp[18 + i] = static_cast<char>(w >> (8 * i));
            bmp[22 + i] = static_cast<char>(h >> (8 * i));
        }
        const std::string path = dir / "hostile.bmp";
        WriteFileBytes(path, bmp);
        EXPECT_LT(KVX(KVXInkjet2SetUpImg)(handle, path.c_str(), 0, 0), 0) << w << "x" << h;
    }
    const std::string text = dir / "text.bmp";
    WriteFileBytes(text, "not a bitmap at all");
    EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, text.c_str(), 0, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("error reading"), std::string::npos);
    // Wider than the head.
    EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(151, 20)).c_str(), 0, 0),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("invalid print width"), std::string::npos);
}

TEST_F(HostInkjet, ACartridgeWhoseIdentificationReadsAllHighIsRefused) {
    ASSERT_NO_FATAL_FAILURE(Open(2, "cartridge = invalid_id\n"));
    EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 20)).c_str(), 0, 0),
              KVX_ERR_HW_UNSUPPORTED);
    const std::string log = Log();
    EXPECT_NE(log.find("invalid cartridgeID"), std::string::npos) << log;
    EXPECT_NE(log.find("missing or not functioning cartridge"), std::string::npos);
    EXPECT_NE(log.find("no inkjet ready"), std::string::npos);
}

TEST_F(HostInkjet, CartridgesThatCannotPrintAreRefusedAtTheCheck) {
    for (const char* state : {"absent", "wrong_type"}) {
        ASSERT_NO_FATAL_FAILURE(Open(2, std::string("cartridge = ") + state + "\n"));
        EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 20)).c_str(), 0, 0),
                  KVX_ERR_HW_UNSUPPORTED)
            << state;
        KVX(KVXClose)(handle);
        handle = 0;
    }
}

TEST_F(HostInkjet, EveryPrintCountsOnceAcrossABatchWhoseCartridgeIsPulledOut) {
    ASSERT_NO_FATAL_FAILURE(Open(2, "cartridge_removed_after = 2\n", 4));
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 30)).c_str(), 0, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    // The third print start finds the cartridge gone: the scan fails before
    // the document moves and the stamp is disarmed.
    EXPECT_LT(Scan(), 0);
    EXPECT_NE(Log().find("TIJ2.5 cfault"), std::string::npos) << Log();
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(PrintedDocuments(), 2);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 2);
    EXPECT_EQ(KVX(KVXInkjetNumTot)(handle), 2);
}

TEST_F(HostInkjet, AType1PrinterEmptiedMidBatchCountsOnlyItsWholePrints) {
    ASSERT_NO_FATAL_FAILURE(Open(1, "cartridge_removed_after = 2\n", 4));
    const Grey stamp = Pattern(40, 12);
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(stamp).c_str(), 0, 100, 1, 1, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    // The printhead takes the columns but puts no ink on the paper: the
    // printed count says so, and the document is not counted.
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    EXPECT_NE(Log().find("incomplete stamp  0"), std::string::npos) << Log();
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 2);
    EXPECT_EQ(KVX(KVXInkjetNumTot)(handle), 2);
    // What reached the paper is the stamp, whole, twice.
    EXPECT_EQ(Differences(*ReadPgm(printed() + "/printed_1.pgm"), stamp, 128), 0);
    EXPECT_EQ(Differences(*ReadPgm(printed() + "/printed_2.pgm"), stamp, 128), 0);
}

TEST_F(HostInkjet, AnEmptyCartridgeLeavesTheDocumentUnprintedAndUncounted) {
    ASSERT_NO_FATAL_FAILURE(Open(2, "cartridge = empty\n"));
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 30)).c_str(), 0, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    EXPECT_NE(Log().find("incomplete stamp - not printed"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
}

TEST_F(HostInkjet, APrinterThatStallsEndsThePrintWithTheDocument) {
    ASSERT_NO_FATAL_FAILURE(Open(2, "printer_stall = 968\n"));
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 200)).c_str(), 0, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_ERR_INKJET_INCOMPLETE) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("incomplete Stamp for acquisition end"), std::string::npos) << log;
    EXPECT_NE(log.find("incomplete stamp - not sent to printer"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
    // What did reach the printer was printed: two blocks of 11 columns.
    const std::optional<Grey> dots = ReadPgm(printed() + "/printed_1.pgm");
    ASSERT_TRUE(dots);
    EXPECT_EQ(dots->width, 22);
}

TEST_F(HostInkjet, AScanStoppedDuringThePrintReportsTheIncompleteStamp) {
    // The stream and the printer both stall, so the print is under way
    // when the host stops.
    ASSERT_NO_FATAL_FAILURE(Open(2, "printer_stall = 484\nfault = bulk_stall 100000\n"));
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 200)).c_str(), 0, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    std::int16_t status = 0;
    ASSERT_EQ(KVX(KVXImgScan1Async)(handle, nullptr, nullptr, nullptr, 0, &status), KVX_OK);
    for (int i = 0; i < 100000000 && Log().find("start acquisition") == std::string::npos; ++i)
        std::this_thread::yield();
    EXPECT_EQ(KVX(KVXStop)(handle, 1), KVX_OK);
    KVXResult r = KVX_OK;
    for (int i = 0; i < 100000000 && status != 3; ++i) {
        r = KVX(KVXImgScan1Async)(handle, nullptr, nullptr, nullptr, 0, &status);
        std::this_thread::yield();
    }
    EXPECT_EQ(status, 3);
    // The stop ends the asynchronous scan: its polls report a failure.
    EXPECT_LT(r, 0);
    const std::string log = Log();
    EXPECT_NE(log.find("incomplete Stamp for stop"), std::string::npos) << log;
    EXPECT_NE(log.find("incomplete stamp - not sent to printer"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
}

TEST_F(HostInkjet, ASetUpDuringAnAsynchronousScanLeavesThePrintUnderWayWhole) {
    // The paper moves at an inch a second and the printer takes a block
    // every 20 ms, so a long stamp is still streaming when the host sets up
    // the next one.
    ASSERT_NO_FATAL_FAILURE(Open(2, "printer_slow_ms = 20\npaper_speed = 1\n"));
    const Grey first = Pattern(150, 5957);
    ASSERT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(first).c_str(), 0, 0), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    std::int16_t status = 0;
    ASSERT_EQ(KVX(KVXImgScan1Async)(handle, nullptr, nullptr, nullptr, 0, &status), KVX_OK);
    for (int i = 0; i < 100000000 && Log().find("start acquisition") == std::string::npos; ++i)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The next stamp replaces the armed one; the print under way keeps its
    // own data to the end.
    EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 10), "next.bmp").c_str(), 0, 0),
              KVX_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(KVX(KVXStop)(handle, 1), KVX_OK);
    const std::string log = Log();
    EXPECT_NE(log.find("incomplete Stamp for stop"), std::string::npos) << log;
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
}

TEST_F(HostInkjet, AStopSwitchesThePrinterOffUntilTheNextSetUp) {
    ASSERT_NO_FATAL_FAILURE(Open(1, ""));
    const std::string stamp = Bitmap(Pattern(40, 12));
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, stamp.c_str(), 0, 100, 1, 1, 0), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    ASSERT_EQ(Scan(), KVX_OK) << Log();
    ASSERT_EQ(PrintedDocuments(), 1);
    // The host stops: the printer goes off and prints nothing more, even
    // with the stamp kept, once the stop is taken back.
    EXPECT_EQ(KVX(KVXStop)(handle, 1), KVX_OK);
    EXPECT_EQ(KVX(KVXStop)(handle, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(PrintedDocuments(), 1);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 1);
    // A new set-up prints again.
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, stamp.c_str(), 0, 100, 1, 1, 0), KVX_OK) << Log();
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(PrintedDocuments(), 2);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 2);
}

TEST_F(HostInkjet, AScannerWithoutAPrinterOpenedAfterOneWithAPrinterPrintsNothing) {
    // Two scanners on the bus: the first with the type 1 printhead, the
    // second without a printer.
    ASSERT_NO_FATAL_FAILURE(
        Open(1,
             "[device]\nname = plain\nvid = 0x7E51\npid = 3\nserial = 654321\n"
             "firmware = 0x5012\nspeed = high\nlocation = 1-2\nconfig_word = 0x0A057982\n"
             "config_word2 = 0x0030\ncis_voltage = 12\ndevice_config = 0C 00 00 00 00 00 00 00\n"
             "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n"
             "sensor_options = 0x00\nexternal_power = yes\nbulk_limit = 16777216\n"
             "stream = paced\ndocuments = 2\n"));
    // A stamp armed on the first, which then closes before any document.
    ASSERT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(Pattern(40, 12)).c_str(), 0, 100, 1, 1, 0),
              KVX_OK)
        << Log();
    KVX(KVXClose)(handle);
    handle = KVX(KVXInitializeSN)(configDir().c_str(), "654321");
    ASSERT_GT(handle, 0) << Log();
    // The second scans as a scanner without a printer does.
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(PrintedDocuments(), 0);
    EXPECT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(Pattern(40, 12)).c_str(), 0, 100, 1, 1, 0),
              KVX_ERR_HW_UNSUPPORTED);
    EXPECT_NE(Log().find("no inkjet detected"), std::string::npos);
}

TEST_F(HostInkjet, BadSetUpsAreRefusedWithTheirMessagesAndPrintNothing) {
    ASSERT_NO_FATAL_FAILURE(Open(1, ""));
    // An empty text arms nothing.
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "", "ARIAL", 10, 0, 0, 0), KVX_OK);
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, std::string(1000, 'A').c_str(), "ARIAL", 10, 0, 0, 0),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("stamp too long"), std::string::npos);
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "PAID", "ARIAL", -1, 0, 0, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "PAID", nullptr, 10, 0, 0, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(Pattern(40, 12)).c_str(), 0, -5, 0, 1, 0),
              KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("negative offset"), std::string::npos);
    // Not a bitmap, nothing in it, taller than the printhead.
    const std::string junk = dir / "junk.bmp";
    WriteFileBytes(junk, "this is no bitmap");
    EXPECT_EQ(KVX(KVXInkjet1SetUpImg)(handle, junk.c_str(), 0, 0, 0, 1, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("stamp file invalid"), std::string::npos);
    EXPECT_LT(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(Grey{0, 0, {}}).c_str(), 0, 0, 0, 1, 0), 0);
    EXPECT_LT(KVX(KVXInkjet1SetUpImg)(handle, Bitmap(Pattern(40, 13)).c_str(), 0, 0, 0, 1, 0), 0);
    EXPECT_LT(KVX(KVXInkjet1SetUpImg)(handle, nullptr, 0, 0, 0, 1, 0), 0);
    // A point size no printhead holds (a 43689-pixel em) is refused as the
    // printer's check refuses it, without drawing glyphs of that size.
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "PAID", "ARIAL", 32767, 0, 0, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("stamp is larger then stamp buffer"), std::string::npos);
    // A corrupt font file.
    WriteFileBytes(configDir() + "/broken.fnt", "AB\n\x05");
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "AB", "broken", 0, 0, 0, 0), KVX_ERR_GENERIC);
    // Stamps with no column to print: a font whose glyphs have no width,
    // and a text of line ends alone.
    WriteFileBytes(configDir() + "/thin.fnt", std::string("A\n\0\0", 4) + std::string(12, '\n'));
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "AAA", "thin", 0, 0, 0, 0), KVX_ERR_INV_PARAMETER);
    WriteFileBytes(
        configDir() + "/one.fnt", std::string("A\n\x02\0", 4) + [] {
            std::string rows;
            for (int i = 0; i < 12; ++i) rows += "##\n";
            return rows;
        }());
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "\r\n", "one", 0, 0, 0, 0), KVX_ERR_INV_PARAMETER);
    // The same font prints a text it holds.
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "A", "one", 0, 0, 0, 0), KVX_OK) << Log();
    EXPECT_EQ(KVX(KVXInkjet1SetUp)(handle, "", "one", 0, 0, 0, 0), KVX_OK);
    // None of them armed a stamp: the scan prints nothing.
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(Scan(), KVX_OK) << Log();
    EXPECT_EQ(PrintedDocuments(), 0);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 0);
    // The other printer's set-ups find no printer.
    EXPECT_EQ(KVX(KVXInkjet2SetUpImg)(handle, Bitmap(Pattern(150, 20)).c_str(), 0, 0),
              KVX_ERR_HW_UNSUPPORTED);
    EXPECT_NE(Log().find("no inkjet detected"), std::string::npos);
}

}  // namespace
}  // namespace kovran::test
