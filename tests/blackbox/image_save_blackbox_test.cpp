// Retrieval and saving as a host sees them: simulated cheques scanned from
// the feeder, then taken in memory and saved in every format, each file
// judged by the reference decoders; the refusals of bad requests, names
// and files, and the multipage TIFF.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"
#include "blackbox/reference_decoders.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFront = 1;
constexpr int kRear = 0;

class HostImages : public HostFixture {
  protected:
    void SetUp() override {
        setenv("KOVRAN_USB", "sim", 1);
        unsetenv("KOVRAN_SIM");
        Load(ini);
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0);
        fs::create_directories(out());
    }
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
    }
    void Scan(int dpiFront = 300, int dpiRear = 300) {
        ASSERT_EQ(KVX(KVXImgCreate)(handle, dpiFront, dpiRear), KVX_OK) << Log();
        ASSERT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
    }
    std::string Log() { return ReadFileBytes(LogFile()); }
    std::string out() const { return dir / "out"; }
    std::string File(const std::string& name) const { return out() + "/" + name; }
    // Every entry of the output directory: no temporary file may stay.
    std::vector<std::string> Entries(const std::string& where) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename());
        return names;
    }
    std::vector<unsigned char> Get(int side, int value, int request, KVXResult expect = KVX_OK) {
        std::int32_t length = -1;
        std::uint8_t* p = KVX(KVXImgGet)(handle, side, nullptr, value, request, &length);
        EXPECT_EQ(KVX(KVXGetLastResult)(), expect) << Log();
        if (p == nullptr) return {};
        std::vector<unsigned char> bytes(p, p + length);
        EXPECT_EQ(KVX(KVXImgGetFree)(handle, p), KVX_OK);
        return bytes;
    }

    std::string ini;
    int handle = 0;
};

TEST_F(HostImages, EveryFormatOfTheFrontPassesTheReferenceDecoders) {
    Scan();
    const std::uint16_t height = KVX(KVXGetAcqHeight)(handle, kFront, 300);
    ASSERT_GT(height, 300);

    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 80, KVX_FMT_JPEG, File("f.jpg").c_str()),
              KVX_OK)
        << Log();
    const auto jpeg = ReadJpeg(File("f.jpg"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->height, height);
    EXPECT_GT(jpeg->width, 600);  // a cheque, fed long edge first, at 300 dpi
    EXPECT_EQ(jpeg->components, 1);
    EXPECT_EQ(jpeg->densityUnit, 1);
    EXPECT_EQ(jpeg->xDensity, 300);
    EXPECT_EQ(jpeg->yDensity, 300);

    struct Tiff {
        int format;
        int bits;
        int compression;
        int bitsPerSample;
    };
    for (const Tiff t : {Tiff{KVX_FMT_TIFF_G3, 0, 3, 1}, Tiff{KVX_FMT_TIFF_G4, 1, 4, 1},
                         Tiff{KVX_FMT_TIFF_LZW, 0, 5, 8}, Tiff{KVX_FMT_TIFF_LZW, 1, 5, 1},
                         Tiff{KVX_FMT_TIFF, 8, 1, 8}, Tiff{KVX_FMT_TIFF_JPEG, 60, 7, 8}}) {
        SCOPED_TRACE(t.format * 100 + t.bits);
        const std::string name = File("f" + std::to_string(t.format) + ".tif");
        ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, t.bits, t.format, name.c_str()), KVX_OK)
            << Log();
        const auto pages = ReadTiff(name);
        ASSERT_TRUE(pages);
        ASSERT_EQ(pages->size(), 1u);
        const TiffPage& p = pages->front();
        EXPECT_EQ(p.width, jpeg->width);
        EXPECT_EQ(p.height, jpeg->height);
        EXPECT_EQ(p.compression, t.compression);
        EXPECT_EQ(p.bitsPerSample, t.bitsPerSample);
        EXPECT_EQ(p.samplesPerPixel, 1);
        EXPECT_EQ(p.resolutionUnit, 2);
        EXPECT_FLOAT_EQ(p.xResolution, 300.0f);
        EXPECT_FLOAT_EQ(p.yResolution, 300.0f);
    }

    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 0, KVX_FMT_PNG, File("f.png").c_str()),
              KVX_OK);
    const auto png = ReadPng(File("f.png"));
    ASSERT_TRUE(png);
    EXPECT_EQ(png->width, jpeg->width);
    EXPECT_EQ(png->height, jpeg->height);
    EXPECT_EQ(png->bitDepth, 8);
    EXPECT_EQ(png->xPixelsPerMetre, 11811u);  // 300 dpi

    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 24, KVX_FMT_BMP, File("f.bmp").c_str()),
              KVX_ERR_INV_PARAMETER);  // 24 bits of a grey scan
    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 1, KVX_FMT_BMP, File("f.bmp").c_str()),
              KVX_OK);
    std::ifstream in(File("f.bmp"), std::ios::binary);
    const std::vector<unsigned char> bmpBytes{std::istreambuf_iterator<char>(in), {}};
    const auto bmp = ReadBmp(bmpBytes);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->bitsPerPixel, 1);
    EXPECT_EQ(bmp->width, jpeg->width);

    // Nothing but the files asked for.
    EXPECT_EQ(Entries(out()).size(), 8u);
}

TEST_F(HostImages, TheBitmapAndItsConversionsInMemory) {
    Scan();
    const auto grey = Get(kFront, 0, KVX_FMT_BMP);
    const auto facts = ReadBmp(grey);
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->bitsPerPixel, 8);
    EXPECT_EQ(facts->xPixelsPerMetre, 11811);
    EXPECT_EQ(facts->height, KVX(KVXGetAcqHeight)(handle, kFront, 300));

    const auto rgb = ReadBmp(Get(kFront, 24, KVX_FMT_BMP));
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->bitsPerPixel, 24);
    EXPECT_EQ(rgb->width, facts->width);

    // A quarter turn exchanges the sides of the image.
    const auto turned = ReadBmp(Get(kFront, 0, KVX_FMT_BMP | KVX_ROT_CW));
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->width, facts->height);
    EXPECT_EQ(turned->height, facts->width);

    // Front and rear in one image: one above the other.
    std::int32_t length = 0;
    std::uint8_t* both = KVX(KVXImgGetFR)(handle, kFront, kRear, 0, KVX_FMT_BMP, &length);
    ASSERT_NE(both, nullptr) << Log();
    const auto composite = ReadBmp({both, both + length});
    ASSERT_TRUE(composite);
    EXPECT_EQ(composite->height, facts->height + KVX(KVXGetAcqHeight)(handle, kRear, 300));
    EXPECT_EQ(composite->width % 4, 0);
    EXPECT_EQ(KVX(KVXImgGetFree)(handle, both), KVX_OK);
    // Released once; the second release is refused instead of freeing twice.
    EXPECT_EQ(KVX(KVXImgGetFree)(handle, both), KVX_ERR_INV_PARAMETER);

    // Brightness of the front lightens what comes out.
    const auto before = Get(kFront, 0, KVX_FMT_BMP);
    EXPECT_EQ(KVX(KVXImgBright)(handle, kFront, 100), KVX_OK);
    const auto after = Get(kFront, 0, KVX_FMT_BMP);
    ASSERT_EQ(before.size(), after.size());
    long long sumBefore = 0, sumAfter = 0;
    for (std::size_t i = 54 + 1024; i < before.size(); ++i) {
        sumBefore += before[i];
        sumAfter += after[i];
    }
    EXPECT_GT(sumAfter, sumBefore);
    EXPECT_EQ(KVX(KVXImgBright)(handle, kFront, 101), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXImgBright)(handle, 2, 10), KVX_ERR_INV_PARAMETER);
}

TEST_F(HostImages, TheTwoCallFormKeepsTheImageUntilCopiedOut) {
    Scan();
    const std::int32_t n = KVX(KVXImgGet2)(handle, kFront, nullptr, 75, KVX_FMT_JPEG, nullptr);
    ASSERT_GT(n, 1000) << Log();
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n));
    EXPECT_EQ(KVX(KVXImgGet2)(handle, kFront, nullptr, 75, KVX_FMT_JPEG, buffer.data()), n);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(buffer[1], 0xD8);
    // The third call finds nothing kept and copies nothing.
    std::vector<std::uint8_t> again(static_cast<std::size_t>(n), 0xAB);
    EXPECT_EQ(KVX(KVXImgGet2)(handle, kFront, nullptr, 75, KVX_FMT_JPEG, again.data()),
              KVX_ERR_GENERIC);
    EXPECT_EQ(again[0], 0xAB);
    EXPECT_NE(Log().find("F not available side"), std::string::npos);

    EXPECT_EQ(
        KVX(KVXImgGet3)(handle, kFront, 0, 0, nullptr, 75, KVX_FMT_JPEG, 0, 0, 0, again.data()),
        KVX_ERR_GENERIC);
    const std::int32_t half =
        KVX(KVXImgGet3)(handle, kFront, 0, 0, nullptr, 0, KVX_FMT_BMP, 0, 150, 0, nullptr);
    ASSERT_GT(half, 0);
    std::vector<std::uint8_t> small(static_cast<std::size_t>(half));
    ASSERT_EQ(
        KVX(KVXImgGet3)(handle, kFront, 0, 0, nullptr, 0, KVX_FMT_BMP, 0, 150, 0, small.data()),
        half);
    const auto facts = ReadBmp(small);
    ASSERT_TRUE(facts);
    EXPECT_NEAR(facts->height, KVX(KVXGetAcqHeight)(handle, kFront, 150), 1);
}

TEST_F(HostImages, RefusedRequestsSidesAndNames) {
    Scan();
    const std::string name = File("x.jpg");
    struct Bad {
        int side;
        int value;
        int request;
    };
    for (const Bad b : {Bad{kFront, 0, KVX_FMT_JPEG}, Bad{kFront, 101, KVX_FMT_JPEG},
                        Bad{kFront, 999, KVX_FMT_TIFF_JPEG}, Bad{kFront, 8, KVX_FMT_TIFF_G4},
                        Bad{kFront, 24, KVX_FMT_TIFF_G3}, Bad{kFront, 4, KVX_FMT_TIFF_LZW},
                        Bad{kFront, 16, KVX_FMT_BMP}, Bad{kFront, 2, KVX_FMT_TIFF},
                        Bad{kFront, 0, 10}, Bad{kFront, 0, 15}, Bad{3, 75, 0}, Bad{4, 75, 0},
                        Bad{5, 75, 0}, Bad{6, 75, 0}, Bad{7, 75, 0}, Bad{10, 75, 0}}) {
        SCOPED_TRACE(std::to_string(b.side) + " " + std::to_string(b.value) + " " +
                     std::to_string(b.request));
        EXPECT_EQ(KVX(KVXImgSave)(handle, b.side, nullptr, b.value, b.request, name.c_str()),
                  KVX_ERR_INV_PARAMETER);
        std::int32_t length = 7;
        EXPECT_EQ(KVX(KVXImgGet)(handle, b.side, nullptr, b.value, b.request, &length), nullptr);
        EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_ERR_INV_PARAMETER);
    }
    // A JPEG of 1 bit, and the PDF formats in memory.
    EXPECT_EQ(
        KVX(KVXImgSave3)(handle, kFront, 0, 0, 0, 0, 0, 0, 75, KVX_FMT_JPEG, 0, 0, 1, name.c_str()),
        KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(kFront, 75, KVX_FMT_PDF_JPEG, KVX_ERR_INV_PARAMETER).size(), 0u);
    const std::string log = Log();
    for (const char* text :
         {"Image Elaboration - JPEG with invalid quality",
          "Image Elaboration -  with TIF invalid bpp", "Image Elaboration - LZW with invalid bpp",
          "Image Elaboration - BMP with invalid bpp", "Image Elaboration - with TIF invalid bpp",
          "Image Elaboration - invalid image format", "Image Elaboration - JPEG with B&W depth",
          "ImgSave with invalid side"})
        EXPECT_NE(log.find(text), std::string::npos) << text;

    EXPECT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, 0, nullptr), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, 0, (dir / "none/x.jpg").c_str()),
              KVX_ERR_WRITE);
    EXPECT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, 0, out().c_str()), KVX_ERR_WRITE);
    EXPECT_TRUE(fs::is_directory(out()));
    const std::string locked = dir / "locked";
    fs::create_directories(locked);
    chmod(locked.c_str(), 0500);
    if (access(locked.c_str(), W_OK) != 0) {  // root writes anywhere
        EXPECT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, 0, (locked + "/x.jpg").c_str()),
                  KVX_ERR_WRITE);
    }
    chmod(locked.c_str(), 0700);
    EXPECT_NE(Log().find("SaveImgStruct with invalid file name or path"), std::string::npos);
    EXPECT_TRUE(Entries(out()).empty());
}

TEST_F(HostImages, AFullDiskLeavesNoFileUnderTheName) {
    Scan();
    // The file size limit makes every write past 64 KB fail as on a full
    // disk; SIGXFSZ is ignored so that the write reports it instead.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit tiny = before;
    tiny.rlim_cur = 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const KVXResult r =
        KVX(KVXImgSave)(handle, kFront, nullptr, 0, KVX_FMT_TIFF, File("full.tif").c_str());
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r, KVX_ERR_WRITE);
    EXPECT_TRUE(Entries(out()).empty());
    EXPECT_NE(Log().find("SaveImgStruct with invalid nBytes written"), std::string::npos);
}

TEST_F(HostImages, AMultipageTiffOfEveryKindOfPage) {
    Scan();
    ASSERT_EQ(KVX(KVXImgSave)(handle, kFront, nullptr, 75, KVX_FMT_JPEG, File("a.jpg").c_str()),
              KVX_OK);
    ASSERT_EQ(KVX(KVXImgSave)(handle, kRear, nullptr, 0, KVX_FMT_PNG, File("b.png").c_str()),
              KVX_OK);
    ASSERT_EQ(KVX(KVXImgSave)(handle, kRear, nullptr, 0, KVX_FMT_BMP, File("c.bmp").c_str()),
              KVX_OK);
    {
        std::ofstream(File("text.txt")) << "not an image";
        const std::string bytes = ReadFileBytes(File("a.jpg"));
        std::ofstream(File("cut.jpg"), std::ios::binary) << bytes.substr(0, bytes.size() / 3);
        // A BMP of 0 x 0 pixels.
        std::vector<char> empty(54 + 1024, 0);
        const unsigned char header[] = {'B',  'M',  0x36, 0x04, 0,  0, 0, 0, 0, 0,
                                        0x36, 0x04, 0,    0,    40, 0, 0, 0, 0, 0,
                                        0,    0,    0,    0,    0,  0, 1, 0, 8, 0};
        std::copy(std::begin(header), std::end(header), empty.begin());
        std::ofstream(File("empty.bmp"), std::ios::binary).write(empty.data(), empty.size());
    }
    const std::string multiDir = dir / "multi";
    fs::create_directories(multiDir);
    const std::string multi = multiDir + "/multi.tif";
    EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File("a.jpg").c_str()), KVX_ERR_NOT_INITIALIZED);
    EXPECT_EQ(KVX(KVXMultiPageClose)(handle), KVX_ERR_NOT_INITIALIZED);
    EXPECT_EQ(KVX(KVXMultiPageInit)(handle, multi.c_str(), 4), KVX_ERR_INV_PARAMETER);
    ASSERT_EQ(KVX(KVXMultiPageInit)(handle, multi.c_str(), KVX_FMT_TIFF_G4), KVX_OK) << Log();
    EXPECT_EQ(KVX(KVXMultiPageInit)(handle, multi.c_str(), KVX_FMT_TIFF_G4), KVX_ERR_GENERIC);
    EXPECT_FALSE(fs::exists(multi));  // complete only at the close
    for (const char* page : {"a.jpg", "b.png", "c.bmp"})
        EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File(page).c_str()), KVX_OK) << page << Log();
    for (const char* bad : {"text.txt", "cut.jpg", "empty.bmp", "missing.jpg"})
        EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File(bad).c_str()), KVX_ERR_GENERIC) << bad;
    EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, nullptr), KVX_ERR_GENERIC);
    // A failed page leaves the file open for more.
    EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File("a.jpg").c_str()), KVX_OK);
    EXPECT_EQ(KVX(KVXMultiPageClose)(handle), KVX_OK);
    EXPECT_EQ(KVX(KVXMultiPageClose)(handle), KVX_ERR_NOT_INITIALIZED);

    const auto pages = ReadTiff(multi);
    ASSERT_TRUE(pages);
    ASSERT_EQ(pages->size(), 4u);
    for (const TiffPage& p : *pages) {
        EXPECT_EQ(p.compression, 4);
        EXPECT_EQ(p.bitsPerSample, 1);
        EXPECT_FLOAT_EQ(p.xResolution, 300.0f);
    }
    EXPECT_EQ(Entries(multiDir), std::vector<std::string>{"multi.tif"});
    EXPECT_NE(Log().find("loading multipage file"), std::string::npos);
    EXPECT_NE(Log().find("multipage pending"), std::string::npos);

    // JPEG compression keeps grey pages.
    ASSERT_EQ(KVX(KVXMultiPageInit0)(handle, multi.c_str(), KVX_FMT_TIFF_JPEG, 500), KVX_OK);
    EXPECT_EQ(KVX(KVXMultiPageAdd)(handle, File("b.png").c_str()), KVX_OK);
    EXPECT_EQ(KVX(KVXMultiPageClose)(handle), KVX_OK);
    const auto jpegPages = ReadTiff(multi);
    ASSERT_TRUE(jpegPages);
    ASSERT_EQ(jpegPages->size(), 1u);
    EXPECT_EQ(jpegPages->front().compression, 7);
    EXPECT_NE(Log().find("MultiPage - invalid quality value - forcing 60"), std::string::npos);
}

TEST_F(HostImages, ThePdfFormatsLeaveNoTemporaryFiles) {
    Scan();
    const KVXResult r =
        KVX(KVXImgSave)(handle, kFront, nullptr, 75, KVX_FMT_PDF_JPEG, File("f.pdf").c_str());
    const KVXResult t =
        KVX(KVXImgSave)(handle, kFront, nullptr, 1, KVX_FMT_PDF_TIFF, File("g.pdf").c_str());
    if (r != KVX_OK) {
        // Without the PDF writer the save fails and says so.
        EXPECT_EQ(r, KVX_ERR_GENERIC);
        EXPECT_EQ(t, KVX_ERR_GENERIC);
        EXPECT_NE(Log().find("could not open pdf to write to (A)"), std::string::npos);
        EXPECT_TRUE(Entries(out()).empty());
    } else {
        EXPECT_EQ(t, KVX_OK);
        EXPECT_EQ(ReadFileBytes(File("f.pdf")).substr(0, 5), "%PDF-");
        EXPECT_EQ(Entries(out()).size(), 2u);
    }
    for (const std::string& e : Entries(configDir()))
        EXPECT_EQ(e.rfind("tmp", 0), std::string::npos) << e;
}

}  // namespace
}  // namespace kovran::test
