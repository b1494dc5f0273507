// Image data in the pages: every TIFF layout and JPEG the writer takes is
// rendered by an independent reader (pdftoppm) and compared with the
// picture; files that are cut short or lie about their sizes give -1 and
// leave the document as it was.
#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "api/frame_state.h"
#include "imaging/pdf/pdf_image.h"
#include "imaging/pdf_fixture.h"
#include "platform/process_lock.h"
#include "support/fake_clock.h"

namespace kovran::test::pdf {
namespace {

class PdfImageTest : public PdfFixture {
  protected:
    // One page of the image, checked by qpdf and by its rendering at the
    // image's own resolution (so one rendered pixel is one image pixel).
    void ExpectRendered(const std::string& image, int format, int width, int height, int dpi,
                        const PdfOptions& options = {}) {
        const std::string pdf = Write("page.pdf", options, {{image, format}});
        EXPECT_TRUE(QpdfClean(pdf));
        EXPECT_TRUE(ShowsPicture(Render(pdf, 1, dpi), TestPattern(width, height))) << image;
    }
    void RequireTools() {
        if (!HaveTool("qpdf") || !HaveTool("pdftoppm"))
            GTEST_SKIP() << "qpdf and pdftoppm (poppler-utils) are needed: scripts/setup";
    }
};

TEST_F(PdfImageTest, RawSingleStripTiffsShowThePicture) {
    RequireTools();
    struct Case {
        const char* name;
        TiffSpec spec;
    };
    const Case cases[] = {
        {"none 1-bit white is zero", {.compression = 1, .photometric = 0}},
        {"none 1-bit black is zero", {.compression = 1, .photometric = 1}},
        {"group 3", {.compression = 3, .photometric = 0}},
        {"group 4", {.compression = 4, .photometric = 0}},
        {"group 4 black is zero", {.compression = 4, .photometric = 1}},
        {"group 3 black is zero", {.compression = 3, .photometric = 1}},
        {"lzw 1-bit", {.compression = 5, .photometric = 0}},
        {"lzw grey", {.bitsPerSample = 8, .compression = 5, .photometric = 1}},
        {"lzw grey white is zero", {.bitsPerSample = 8, .compression = 5, .photometric = 0}},
        {"none rgb",
         {.bitsPerSample = 8, .samplesPerPixel = 3, .compression = 1, .photometric = 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRendered(Tiff("raw.tif", c.spec), 1, c.spec.width, c.spec.height, 200);
    }
}

TEST_F(PdfImageTest, RawStripIsEmbeddedUnchanged) {
    const std::string path = Tiff("g4.tif", TiffSpec{.compression = 4});
    std::optional<PdfImageData> image = LoadTiffImage(path, LzwUse::Allowed);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->filter, PdfFilter::CcittG4);
    const std::string file = ReadFileBytes(path);
    const std::string strip(image->bytes.begin(), image->bytes.end());
    EXPECT_NE(file.find(strip), std::string::npos);
}

TEST_F(PdfImageTest, ReencodedTiffsShowThePicture) {
    RequireTools();
    struct Case {
        const char* name;
        TiffSpec spec;
    };
    const Case cases[] = {
        {"group 3 strips", {.compression = 3, .rowsPerStrip = 7}},
        {"group 4 strips", {.compression = 4, .rowsPerStrip = 5}},
        {"group 4 strips black is zero", {.compression = 4, .photometric = 1, .rowsPerStrip = 5}},
        {"group 4 fill order 2", {.compression = 4, .fillOrder = 2}},
        {"group 3 fill order 2 strips", {.compression = 3, .fillOrder = 2, .rowsPerStrip = 9}},
        {"group 3 2D", {.compression = 3, .group3Options = 1}},
        {"lzw grey strips",
         {.bitsPerSample = 8, .compression = 5, .photometric = 1, .rowsPerStrip = 4}},
        {"lzw rgb strips",
         {.bitsPerSample = 8,
          .samplesPerPixel = 3,
          .compression = 5,
          .photometric = 2,
          .rowsPerStrip = 6}},
        {"lzw predictor", {.bitsPerSample = 8, .compression = 5, .photometric = 1, .predictor = 2}},
        {"none strips", {.compression = 1, .photometric = 1, .rowsPerStrip = 3}},
        {"packbits", {.compression = 32773, .photometric = 0}},
        {"jpeg in tiff",
         {.bitsPerSample = 8, .samplesPerPixel = 3, .compression = 7, .photometric = 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectRendered(Tiff("strips.tif", c.spec), 1, c.spec.width, c.spec.height, 200);
    }
}

TEST_F(PdfImageTest, JpegPagesShowThePicture) {
    RequireTools();
    ExpectRendered(Jpeg("grey.jpg", 120, 80, 150), 0, 120, 80, 150);
    ExpectRendered(Jpeg("rgb.jpg", 120, 80, 150, 3), 0, 120, 80, 150);
    const std::string bytes = ReadFileBytes(tmp_ / "page.pdf");
    EXPECT_NE(bytes.find("/ColorSpace /DeviceRGB"), std::string::npos);
    EXPECT_NE(bytes.find("/BitsPerComponent 8"), std::string::npos);
}

TEST_F(PdfImageTest, EveryImageGetsItsOwnObject) {
    const std::string a = Tiff("a.tif");
    const std::string bytes = ReadFileBytes(Write("twice.pdf", {}, {{a, 1}, {a, 1}}));
    EXPECT_NE(ObjectText(bytes, 6).find("/Subtype /Image"), std::string::npos);
    EXPECT_NE(ObjectText(bytes, 9).find("/Subtype /Image"), std::string::npos);
}

class HostileImageTest : public PdfImageTest {
  protected:
    // The add fails cleanly and the document stays valid and unchanged.
    void ExpectRefused(const std::string& image, int format) {
        const std::string pdf = tmp_ / "hostile.pdf";
        PdfDocumentPtr doc = PdfOpen(pdf, 3, {});
        ASSERT_TRUE(doc);
        SetLastResult(KVX_OK);
        EXPECT_EQ(PdfAddImagePage(*doc, image.c_str(), format), -1) << image;
        EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
        EXPECT_EQ(doc->pageCount, 0);
        EXPECT_EQ(doc->nextObjectNumber, 4);
        ASSERT_TRUE(PdfClose(std::move(doc)));
        if (HaveTool("qpdf")) {
            EXPECT_TRUE(QpdfClean(pdf));
        }
    }
    std::string Cut(const std::string& path, std::size_t keep) {
        std::string bytes = ReadFileBytes(path);
        bytes.resize(std::min(keep, bytes.size()));
        const std::string cut = path + ".cut";
        WriteFileBytes(cut, bytes);
        return cut;
    }
};

TEST_F(HostileImageTest, MissingEmptyAndTruncatedFiles) {
    ExpectRefused(tmp_ / "missing.jpg", 0);
    ExpectRefused(tmp_ / "missing.tif", 1);
    WriteFileBytes(tmp_ / "empty", "");
    ExpectRefused(tmp_ / "empty", 0);
    ExpectRefused(tmp_ / "empty", 1);
    const std::string jpeg = Jpeg("j.jpg", 200, 100, 200);
    const std::size_t jpegSize = ReadFileBytes(jpeg).size();
    for (std::size_t keep : {std::size_t{2}, std::size_t{100}, jpegSize / 2, jpegSize - 2})
        ExpectRefused(Cut(jpeg, keep), 0);
    for (int compression : {1, 3, 4, 5}) {
        const std::string tiff =
            Tiff("t.tif", TiffSpec{.width = 300, .height = 200, .compression = compression});
        const std::size_t size = ReadFileBytes(tiff).size();
        for (std::size_t keep : {std::size_t{8}, size / 3, size - 40})
            ExpectRefused(Cut(tiff, keep), 1);
    }
    // A TIFF handed over as a JPEG page, and the other way round.
    ExpectRefused(Tiff("t2.tif"), 0);
    ExpectRefused(jpeg, 1);
}

TEST_F(HostileImageTest, StripSizesThatLie) {
    // Group 4, one strip, whose byte count the directory states.
    const std::string path = Tiff("lie.tif", TiffSpec{.width = 64, .height = 48, .compression = 4});
    std::optional<PdfImageData> honest = LoadTiffImage(path, LzwUse::Allowed);
    ASSERT_TRUE(honest);
    const std::string bytes = ReadFileBytes(path);
    const std::uint32_t count = static_cast<std::uint32_t>(honest->bytes.size());
    // Tag 279 (StripByteCounts) in the first directory of this
    // little-endian file: type LONG or SHORT, count 1, value inline.
    ASSERT_EQ(bytes.substr(0, 2), "II");
    const auto u16 = [&](std::size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    const std::size_t ifd = u16(4) | u16(6) << 16;
    std::size_t at = std::string::npos;
    for (unsigned i = 0; i < u16(ifd); ++i)
        if (u16(ifd + 2 + 12 * i) == 279) at = ifd + 2 + 12 * i;
    ASSERT_NE(at, std::string::npos);
    auto withCount = [&](std::uint32_t value, const char* name) {
        std::string lie = bytes;
        const bool shortType = static_cast<unsigned char>(lie[at + 2]) == 3;
        lie[at + 8] = static_cast<char>(value & 0xFF);
        lie[at + 9] = static_cast<char>((value >> 8) & 0xFF);
        if (!shortType) {
            lie[at + 10] = static_cast<char>((value >> 16) & 0xFF);
            lie[at + 11] = static_cast<char>((value >> 24) & 0xFF);
        }
        WriteFileBytes(tmp_ / name, lie);
        return tmp_ / name;
    };
    ExpectRefused(withCount(count / 4, "short.tif"), 1);
    ExpectRefused(withCount(0xFFFF, "huge.tif"), 1);
    // A count of 0 is one libtiff replaces by the data up to the end of
    // the file; the strip is then whole, and the page shows it.
    if (HaveTool("qpdf") && HaveTool("pdftoppm")) {
        const std::string pdf = Write("zero.pdf", {}, {{withCount(0, "zero.tif"), 1}});
        EXPECT_TRUE(QpdfClean(pdf));
        EXPECT_TRUE(ShowsPicture(Render(pdf, 1, 200), TestPattern(64, 48)));
    }
}

TEST_F(HostileImageTest, SizesAndLayoutsAPageCannotShow) {
    ExpectRefused(
        Tiff("rgba.tif", TiffSpec{.bitsPerSample = 8, .samplesPerPixel = 4, .photometric = 2}), 1);
    ExpectRefused(Tiff("sixteen.tif", TiffSpec{.bitsPerSample = 16, .photometric = 1}), 1);
}

using namespace std::string_literals;

// A one-strip little-endian TIFF whose directory states the size and the
// strip, followed by the given strip data.
std::string ClaimingTiff(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                         std::uint16_t compression, std::uint16_t photometric,
                         const std::string& data) {
    std::string out = "II*"s + '\0';
    const auto put16 = [&](unsigned v) {
        out += static_cast<char>(v & 0xFF);
        out += static_cast<char>((v >> 8) & 0xFF);
    };
    const auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put32(8);
    constexpr unsigned kEntries = 9;
    const std::uint32_t dataAt = 8 + 2 + 12 * kEntries + 4;
    put16(kEntries);
    const auto entry = [&](unsigned tag, unsigned type, std::uint32_t value) {
        put16(tag);
        put16(type);
        put32(1);
        if (type == 3) {
            put16(value);
            put16(0);
        } else {
            put32(value);
        }
    };
    entry(256, 4, width);
    entry(257, 4, height);
    entry(258, 3, bits);
    entry(259, 3, compression);
    entry(262, 3, photometric);
    entry(273, 4, dataAt);
    entry(277, 3, 1);
    entry(278, 4, height);
    entry(279, 4, static_cast<std::uint32_t>(data.size()));
    put32(0);
    return out + data;
}

bool LoadWithin256Mb(const std::string& path) {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = rlim_t{256} << 20;
    ::setrlimit(RLIMIT_AS, &limit);
    return LoadTiffImage(path, LzwUse::Allowed).has_value();
}

// Directories that claim pages of hundreds of megabytes over a few bytes:
// refused before a decode buffer of the claimed size exists. Run with the
// address space held to 256 MB, where allocating the claim would abort.
TEST_F(HostileImageTest, ClaimedSizesBeyondTheDataAllocateNothing) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve more address space than the limit";
#else
    std::string junk;
    for (int i = 0; i < 64; ++i) junk += static_cast<char>(i * 37 + 11);
    struct Case {
        const char* name;
        std::uint32_t size;
        std::uint16_t bits;
        std::uint16_t compression;
        std::uint16_t photometric;
    };
    const Case cases[] = {
        {"none.tif", 60000, 1, 1, 0},         {"g3.tif", 65000, 1, 3, 0},
        {"g4.tif", 65000, 1, 4, 0},           {"lzw.tif", 20000, 8, 5, 1},
        {"packbits.tif", 20000, 8, 32773, 1},
    };
    for (const Case& c : cases) {
        const std::string path = tmp_ / c.name;
        WriteFileBytes(path,
                       ClaimingTiff(c.size, c.size, c.bits, c.compression, c.photometric, junk));
        EXPECT_EXIT(std::exit(LoadWithin256Mb(path) ? 1 : 0), ::testing::ExitedWithCode(0), "")
            << c.name;
        ExpectRefused(path, 1);
    }
#endif
}

// The re-encoding of strips runs under the machine-wide lock: while another
// holder has it the writer waits (on the installed clock) and then goes
// ahead; every path gives it back; a raw strip never touches it.
TEST_F(PdfImageTest, StripReencodingTakesAndGivesBackTheLock) {
    FakeClock clock;
    ClockScope scope(clock);
    const std::unique_ptr<platform::ProcessLock> lock = platform::ProcessLock::Open(kPdfLockName);
    ASSERT_TRUE(lock);
    const std::string strips = Tiff("strips.tif", TiffSpec{.compression = 4, .rowsPerStrip = 5});
    const std::string raw = Tiff("raw.tif", TiffSpec{.compression = 4});
    const std::string broken = tmp_ / "broken.tif";
    {
        std::string bytes = ReadFileBytes(strips);
        // Damage the coded data of the last strips; the directory stays whole.
        for (std::size_t i = 8; i < 60 && i < bytes.size(); ++i) bytes[i] = '\xFF';
        WriteFileBytes(broken, bytes);
    }
    PdfDocumentPtr doc = PdfOpen(tmp_ / "lock.pdf", 3, {});
    ASSERT_TRUE(doc);
    {
        const platform::ProcessLock::Hold other = lock->Acquire(0);
        ASSERT_TRUE(other.held()) << "another process holds " << kPdfLockName;
        EXPECT_EQ(PdfAddImagePage(*doc, raw.c_str(), 1), 1);
        EXPECT_EQ(clock.SleptMs(), 0u);
        EXPECT_EQ(PdfAddImagePage(*doc, strips.c_str(), 1), 1);
        EXPECT_GE(clock.SleptMs(), 30000u);
    }
    for (const std::string& file : {strips, broken}) {
        PdfAddImagePage(*doc, file.c_str(), 1);
        EXPECT_TRUE(lock->Acquire(0).held()) << file;
    }
    EXPECT_TRUE(PdfClose(std::move(doc)));
}

}  // namespace
}  // namespace kovran::test::pdf
