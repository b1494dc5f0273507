// The image records that the mode set-up builds: heights and margins, the
// shared single-stream buffer and its views, the next-buffer set, the block
// sizes and the longest document.
#include <gtest/gtest.h>

#include <algorithm>

#include "acquisition/acq_fixture.h"

namespace kovran::test {
namespace {

constexpr int kGrey = 1;
constexpr int kColour = 2;

using ImagesTest = AcqFixture;

bool AllWhite(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 255; });
}

TEST_F(ImagesTest, SingleStreamDeviceSharesTheFrontBuffer) {
    Open(Scanner(0x5012));
    Request(kColour, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    ImageRecord& front = Img(kFront);
    ImageRecord& rear = Img(kRear);
    // 1 first line + 270/300 inch after the end + 1000, up to a multiple of 8.
    EXPECT_EQ(front.Height, 1272);
    EXPECT_EQ(front.height0, 1272);
    EXPECT_EQ(front.stride, 15552);
    EXPECT_EQ(front.lead, 15552) << "firmware above 0x3000 sends a line ahead";
    EXPECT_EQ(front.allocSize, (1272 + 16) * 15552);
    EXPECT_EQ(front.write, front.data + 15552);
    EXPECT_EQ(front.size, 1272 * 15552);
    ASSERT_NE(front.alloc, nullptr);
    EXPECT_TRUE(AllWhite(front.alloc->Bytes(), front.alloc->Size()));
    EXPECT_EQ(rear.data, front.data + 2592);
    EXPECT_EQ(Img(kBacklight).data, front.data + 5184 * 3);
    EXPECT_EQ(rear.alloc, front.alloc);
    EXPECT_EQ(rear.allocSize, 0);
    EXPECT_EQ(rear.skew, kNoSkew);
    EXPECT_TRUE(front.enabled);
    EXPECT_TRUE(rear.enabled);
    EXPECT_FALSE(Img(kBacklight).enabled);
    // The feeder's next buffer: the same geometry in memory of its own.
    EXPECT_EQ(Next(kFront).stride, 15552);
    ASSERT_NE(Next(kFront).alloc, nullptr);
    EXPECT_NE(Next(kFront).alloc, front.alloc);
    EXPECT_EQ(Next(kRear).data, Next(kFront).data + 2592);
    // Margins handed to the acquisition.
    EXPECT_EQ(acquisition::Images().leadingLines, 270);
    EXPECT_EQ(acquisition::Images().trailingLines, 0);
}

TEST_F(ImagesTest, AViewOutlivesTheRecordsThatHeldIt) {
    Open(Scanner(0x5012));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(100));
    const ImageRecord rear = Img(kRear);  // a reader's copy
    acquisition::FreeImages();
    EXPECT_EQ(Img(kFront).data, nullptr);
    EXPECT_EQ(Img(kFront).alloc, nullptr);
    // The copy keeps the front's memory alive (AddressSanitizer watches).
    rear.data[rear.Height * rear.stride - rear.sensorPixels - 1] = 0;
    EXPECT_EQ(rear.data[0], 255);
}

// What was made of a scan's lines afterwards (the crop, a stretch) lies
// where its records say: freed and created again, the memory comes back
// white there too.
TEST_F(ImagesTest, LinesAScansRecordsDescribeAreWhiteInTheNextImages) {
    Open(Scanner(0x5012));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    ImageRecord& front = Img(kFront);
    const ImageMemory* const memory = front.alloc.get();
    front.completed = true;
    front.Height = 900;
    std::fill(front.data, front.data + std::size_t{900} * front.stride, std::uint8_t{7});
    acquisition::FreeImages();
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    ASSERT_TRUE(Img(kFront).alloc.get() == memory || Next(kFront).alloc.get() == memory);
    for (ImageRecord* r : {&Img(kFront), &Next(kFront)})
        EXPECT_TRUE(AllWhite(r->alloc->Bytes(), r->alloc->Size()));
}

TEST_F(ImagesTest, TwoBufferDeviceOwnsBothSides) {
    Open(Scanner(0x2008));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(500));
    EXPECT_EQ(Img(kFront).lead, 0);
    EXPECT_EQ(Img(kFront).write, Img(kFront).data);
    // 1 + 150 * 270 / 300 + 500 = 636, up to a multiple of 4.
    EXPECT_EQ(Img(kFront).Height, 636);
    EXPECT_EQ(Img(kRear).Height, 636);
    ASSERT_NE(Img(kRear).alloc, nullptr);
    EXPECT_NE(Img(kRear).alloc, Img(kFront).alloc);
    EXPECT_EQ(Img(kRear).allocSize, (636 + 16) * 2 * 2592) << "lines scaled by dpiH / dpiV";
}

TEST_F(ImagesTest, MarginsByModelAndScan) {
    // PID 11 leads with 100/300 inch.
    Open(Scanner(0x5012, 11));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    EXPECT_EQ(Img(kFront).Height, 1376);  // 1 + 100 + 270 + 1000 -> 1376
    EXPECT_EQ(acquisition::Images().leadingLines, 0);
    EXPECT_EQ(acquisition::Images().trailingLines, 100);
    // 0x1005 keeps nothing after the end.
    Open(Scanner(0x1005));
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    EXPECT_EQ(Img(kFront).Height, 1004);  // 1 + 1000 -> multiple of 4
    // Calibration uses none.
    Open(Scanner(0x5012));
    device::AcqMode().request.kind = ScanKind::Calibration;
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    EXPECT_EQ(Img(kFront).Height, 1008);
    EXPECT_EQ(Next(kFront).alloc, nullptr) << "no next buffer outside ordinary scans";
    // The first part of a two-part scan uses the leading pair only.
    device::AcqMode().request.kind = ScanKind::Ordinary;
    acquisition::Images().twoPartAcq = true;
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    EXPECT_EQ(Img(kFront).Height, 1008);
    EXPECT_EQ(acquisition::Images().leadingLines, 270);
    // The second part continues the first part's buffers.
    std::uint8_t* const firstPart = Img(kFront).data;
    acquisition::Images().secondPart = true;
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    EXPECT_EQ(Img(kFront).data, firstPart);
    EXPECT_EQ(Img(kFront).Height, 1272);
}

TEST_F(ImagesTest, HeightIsCappedAt65535) {
    Open(Scanner(0x5012));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    acquisition::ComputeHeights(70000);
    EXPECT_EQ(Img(kFront).Height, 65535);
}

TEST_F(ImagesTest, AnAllocationBeyondReachFreesEverything) {
    // Colour at 100 dpi along the paper: the lines are scaled by 3 and the
    // buffer passes what a record can describe.
    DeviceIdentity id = Scanner(0x5012);
    id.capabilities.micr.greyLineRateLimit = 300;
    id.capabilities.micr.colourResolutionLimit = 100;
    Open(id);
    Request(kColour, 300, 300);
    device::AcqMode().request.cmc7Strip = true;
    EXPECT_FALSE(device::SetUpAcqMode(60000));
    EXPECT_EQ(LastResult(), KVX_ERR_OUT_OF_MEMORY);
    EXPECT_EQ(Count("err -  set image buffer with invalid memory allocation"), 1);
    EXPECT_EQ(Count("InitMyImg - memory allocation failed"), 1);
    for (int side : {kRear, kFront, kBacklight}) {
        EXPECT_EQ(Img(side).alloc, nullptr);
        EXPECT_EQ(Next(side).alloc, nullptr);
    }
    EXPECT_EQ(acquisition::Images().cmc7, nullptr);
}

TEST_F(ImagesTest, Cmc7BufferHoldsTwiceTheStrip) {
    DeviceIdentity id = Scanner(0x5012);
    id.capabilities.micr.greyLineRateLimit = 300;
    id.capabilities.micr.ratioBothSides = 2;
    Open(id);
    Request(kGrey, 300, 300);
    device::AcqMode().request.cmc7Strip = true;
    ASSERT_TRUE(device::SetUpAcqMode(1000));
    ASSERT_NE(acquisition::Images().cmc7, nullptr);
    EXPECT_EQ(acquisition::Images().cmc7->Size(), 1272u * 2 * 2);
    EXPECT_EQ(Img(kFront).allocSize, (1272 + 16) * (5184 + 2));
}

TEST_F(ImagesTest, SizesRoundToTheBlockUnit) {
    Open(Scanner(0x5012));
    Request(kGrey, 300, 300);
    ASSERT_TRUE(device::SetUpAcqMode(0));
    Img(kFront).Height = 1;
    Img(kFront).size = 700;
    acquisition::SetImgSize();
    EXPECT_EQ(Img(kFront).size, 1024);
    EXPECT_EQ(Count("err -  SetImgSize not multiple of wBlock  700"), 1);
    Img(kFront).size = 511;
    acquisition::SetImgSize();
    EXPECT_EQ(Img(kFront).size, 0);
    Img(kFront).size = 1024;
    acquisition::SetImgSize();
    EXPECT_EQ(Img(kFront).size, 1024);
    EXPECT_EQ(Count("SetImgSize not multiple of wBlock"), 1);
}

TEST_F(ImagesTest, DefaultLongestDocument) {
    DeviceIdentity id = Scanner(0x5012);
    Open(id);
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 2048);
    id.capabilities.adf = true;
    Open(id);
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 2048 + 256 + 2048);
    acquisition::Images().movementFlag = true;
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 2304);
    id.capabilities.inkjetType2 = true;
    Open(id);
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 2816);
    device::AcqMode().request.cmc7Strip = true;
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 4 * 2816);
    Settings().scan.maxHeight150 = 20000;
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 65535);
    device::AcqMode().request.cmc7Strip = false;
    EXPECT_EQ(acquisition::DefaultMaxHeight150(), 20000);
}

}  // namespace
}  // namespace kovran::test
