// The automatic JPEG quality against an encoder that reports chosen sizes,
// the request validation table, and image files on a disk that fills up.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "api/frame_state.h"
#include "api/settings.h"
#include "imaging/output/autoquality.h"
#include "imaging/output/file_write.h"
#include "imaging/output/image_request.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

using namespace imaging::output;

class AutoQualityTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        ScanSettings& s = Settings().scan;
        s.qualityF = s.qualityR = s.qualityB = 20;
        s.kbMinF = 60;
        s.kbMaxF = 230;
        s.kbMinR = s.kbMinB = 40;
        s.kbMaxR = s.kbMaxB = 170;
        AutoQualityState().iqaCheckState = kIqaCheckActive;
    }
    void TearDown() override { ResetLibraryState(); }

    // The encoder: records the qualities asked for and answers with the
    // size the model gives.
    template <class Size>
    AutoQualityResult Run(int side, Size size) {
        return AutoQuality(side, [&](int q) -> std::optional<Bytes> {
            asked.push_back(q);
            return Bytes(static_cast<std::size_t>(size(q)), 0);
        });
    }

    std::vector<int> asked;
};

// Front window 60..230 KB narrows to 63..227 KB.
constexpr long long kLo = 63 * 1024;
constexpr long long kHi = 227 * 1024;

TEST_F(AutoQualityTest, FiveHundredKilobytesAtTwentyAsksForFive) {
    const auto r = Run(1, [](int q) { return 25600LL * q; });  // 512000 at 20
    EXPECT_EQ(asked, (std::vector<int>{20, 5}));
    EXPECT_EQ(r.result, KVX_OK);
    EXPECT_EQ(r.quality, 5);
    EXPECT_EQ(r.image.size(), 128000u);
    EXPECT_EQ(r.attempts, 1);
}

TEST_F(AutoQualityTest, TheWindowEdgesAreInside) {
    Run(1, [](int) { return kLo; });
    EXPECT_EQ(asked.size(), 1u);
    asked.clear();
    Run(1, [](int) { return kHi; });
    EXPECT_EQ(asked.size(), 1u);
    asked.clear();
    Run(1, [](int q) { return q == 20 ? kHi + 1 : kHi; });
    EXPECT_EQ(asked.size(), 2u);
    // Inside the ini's 60..230 KB but outside the narrowed window.
    for (long long first : {61LL * 1024, 229LL * 1024}) {
        asked.clear();
        Run(1, [&](int q) { return q == 20 ? first : kLo; });
        EXPECT_EQ(asked.size(), 2u) << first;
    }
}

TEST_F(AutoQualityTest, AtMostTenFurtherEncodings) {
    // Too big from 10 on, too small below: the search closes in on 9..10
    // and gives up.
    const auto r = Run(1, [](int q) { return q >= 10 ? 10 * kHi : kLo / 2; });
    EXPECT_EQ(asked.size(), 11u);
    EXPECT_EQ(r.attempts, 10);
    EXPECT_EQ(r.result, KVX_OK);
    EXPECT_FALSE(r.image.empty());
}

TEST_F(AutoQualityTest, StopsAtQualityOneAndReturnsThatImage) {
    const auto r = Run(1, [](int) { return 10 * kHi; });
    EXPECT_EQ(asked, (std::vector<int>{20, 1}));
    EXPECT_EQ(r.quality, 1);
    EXPECT_EQ(r.image.size(), static_cast<std::size_t>(10 * kHi));
}

TEST_F(AutoQualityTest, StopsAtQualityNinetyNine) {
    const auto r = Run(0, [](int) { return 1000; });
    EXPECT_EQ(asked, (std::vector<int>{20, 99}));
    EXPECT_EQ(r.quality, 99);
}

TEST_F(AutoQualityTest, NarrowWindowsAreKeptAndBadSidesRefused) {
    // Rear 40..46 KB: 6 KB wide, not narrowed.
    Settings().scan.kbMaxR = 46;
    Run(0, [](int) { return 40 * 1024; });
    EXPECT_EQ(asked.size(), 1u);
    asked.clear();
    const auto bad = Run(3, [](int) { return 1000; });
    EXPECT_EQ(bad.result, KVX_ERR_INV_PARAMETER);
    EXPECT_TRUE(asked.empty());
}

TEST_F(AutoQualityTest, AnEncoderFailureEndsTheSearch) {
    const auto r = AutoQuality(1, [&](int q) -> std::optional<Bytes> {
        asked.push_back(q);
        if (q == 20) return Bytes(10 * kHi);
        return std::nullopt;
    });
    EXPECT_EQ(r.result, KVX_ERR_GENERIC);
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(AutoQualityTest, WithoutTheChequeCheckOneEncodingAtTheIniQuality) {
    AutoQualityState().iqaCheckState = 0;
    const auto r = Run(1, [](int) { return 10 * kHi; });
    EXPECT_EQ(asked, (std::vector<int>{30}));  // "Autoquality" default
    EXPECT_EQ(r.quality, 30);
}

TEST(ImageRequest, TheValidationTable) {
    ResetLibraryState();
    struct Row {
        int format;
        int quality;
        int bits;
        KVXResult memory;
        KVXResult file;
    };
    const KVXResult ok = KVX_OK;
    const KVXResult bad = KVX_ERR_INV_PARAMETER;
    for (const Row& r : std::vector<Row>{{kFormatJpeg, 1, 0, ok, ok},
                                         {kFormatJpeg, 100, 0, ok, ok},
                                         {kFormatJpeg, 999, 0, ok, ok},
                                         {kFormatJpeg, 0, 0, bad, bad},
                                         {kFormatJpeg, 101, 0, bad, bad},
                                         {kFormatJpeg, 75, 1, bad, bad},
                                         {kFormatJpeg, 75, 8, ok, ok},
                                         {kFormatTiffJpeg, 999, 0, bad, bad},
                                         {kFormatTiffJpeg, 50, 24, ok, ok},
                                         {kFormatTiffJpeg, 50, 1, bad, bad},
                                         {kFormatTiffG3, 0, 0, ok, ok},
                                         {kFormatTiffG3, 0, 1, ok, ok},
                                         {kFormatTiffG3, 0, 8, bad, bad},
                                         {kFormatTiffG4, 0, 24, bad, bad},
                                         {kFormatTiffLzw, 0, 24, ok, ok},
                                         {kFormatTiffLzw, 0, 4, bad, bad},
                                         {kFormatBmp, 0, 1, ok, ok},
                                         {kFormatBmp, 0, 16, bad, bad},
                                         {kFormatTiff, 0, 8, ok, ok},
                                         {kFormatTiff, 0, 2, bad, bad},
                                         {kFormatPng, 0, 16, ok, ok},
                                         {kFormatPdfJpeg, 75, 0, bad, ok},
                                         {kFormatPdfJpeg, 0, 0, bad, bad},
                                         {kFormatPdfTiff, 0, 1, bad, ok},
                                         {10, 0, 0, bad, bad},
                                         {15, 0, 0, bad, bad}}) {
        SCOPED_TRACE(std::to_string(r.format) + " " + std::to_string(r.quality) + " " +
                     std::to_string(r.bits));
        ImageRequest q;
        q.format = r.format;
        q.quality = r.quality;
        q.bitsPerPixel = r.bits;
        EXPECT_EQ(ValidateRequest(q, Destination::Memory), r.memory);
        EXPECT_EQ(ValidateRequest(q, Destination::File), r.file);
    }
    // Infrared and ultraviolet need their channel and refuse 24 bits.
    ImageRequest ir;
    ir.format = kFormatBmp;
    ir.channel = kChannelInfrared;
    EXPECT_EQ(ValidateRequest(ir, Destination::Memory), bad);
    Settings().scan.color = 1 | 0x08;
    EXPECT_EQ(ValidateRequest(ir, Destination::Memory), ok);
    ir.bitsPerPixel = 24;
    EXPECT_EQ(ValidateRequest(ir, Destination::Memory), bad);
    ir.bitsPerPixel = 0;
    ir.channel = kChannelUltraviolet;
    EXPECT_EQ(ValidateRequest(ir, Destination::Memory), bad);
    ResetLibraryState();
}

TEST(ImageRequest, TheRequestWord) {
    const ImageRequest a = FromRequestWord(0x1000 | 0x800 | 0x300 | kFormatBmp, 24);
    EXPECT_EQ(a.format, kFormatBmp);
    EXPECT_EQ(a.rotation, 0x300);
    EXPECT_TRUE(a.flip);
    EXPECT_EQ(a.order, ByteOrder::Rgb);
    EXPECT_EQ(a.bitsPerPixel, 24);
    const ImageRequest j = FromRequestWord(0x400 | 0x100 | kFormatTiffJpeg, 60);
    EXPECT_EQ(j.rotation, kRotationAuto);
    EXPECT_EQ(j.quality, 60);
    EXPECT_EQ(j.bitsPerPixel, 0);
}

// Accepts a few bytes, then reports a full disk.
ssize_t FullAfterFewBytes(int fd, const void* data, std::size_t size) {
    static_cast<void>(fd);
    static_cast<void>(data);
    if (size > 100) return 100;
    errno = ENOSPC;
    return -1;
}

TEST(FileWrite, AFullDiskLeavesNothingUnderTheName) {
    TempDir dir;
    const std::string name = dir / "image.jpg";
    WriteFileBytes(name, "the older file");
    InstallWriteHook(&FullAfterFewBytes);
    int error = 0;
    const std::vector<std::uint8_t> bytes(50000, 7);
    EXPECT_EQ(WriteFileAtomically(name, bytes, &error), WriteFailure::Write);
    InstallWriteHook(nullptr);
    EXPECT_EQ(error, ENOSPC);
    // The older file is untouched and no temporary file stays.
    EXPECT_EQ(ReadFileBytes(name), "the older file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    EXPECT_EQ(WriteFileAtomically(name, bytes, &error), WriteFailure::None);
    EXPECT_EQ(ReadFileBytes(name).size(), bytes.size());
    EXPECT_EQ(WriteFileAtomically(dir.path(), bytes, &error), WriteFailure::Open);
    EXPECT_EQ(WriteFileAtomically(dir / "no/such.jpg", bytes, &error), WriteFailure::Open);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace kovran::test
