// A host frees and creates the images for every document: the memory of the
// freed images serves the next ones. Whatever a scan left in it must never
// show through: new images are white from end to end, a shorter document
// after a longer one keeps none of the longer one's lines, and a creation
// that needs more (or other) memory gets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "acquisition/pipeline_fixture.h"
#include "imaging/record_planes.h"
#include "platform/clock.h"

namespace kovran::test {
namespace {

// Documents at 300 dpi: a long one (10 inches) and short ones (4 inches,
// large enough to be cropped).
constexpr int kLongW = 3000;
constexpr int kShortW = 1200;
constexpr int kDocH = 700;

// Raw lines of a short document's stream, with room to spare: the document,
// the simulator's gap before it and the trailing lines the start command
// asks for come to about 2300.
constexpr std::size_t kShortStreamLines = 2600;
// Raw lines the long document's stream reaches at least (about 4100).
constexpr std::size_t kLongStreamLines = 3800;

class MemoryReuse : public PipelineTest {
  protected:
    // Long documents stream slowly under the sanitizers: the scan's time
    // limit (parameter 103, seconds) leaves them room.
    sim::SimulatedScanner& Open(const sim::DeviceProfile& p) {
        sim::SimulatedScanner& scanner = PlugAndOpen(p);
        EXPECT_EQ(KVXSetParameter(103, 300), KVX_OK) << LogBytes();
        return scanner;
    }
    static const ImageRecord& Next(int side) {
        return acquisition::Images().nextImg[static_cast<std::size_t>(side)];
    }
};

std::size_t FirstNonWhite(const std::uint8_t* p, std::size_t from, std::size_t to) {
    const std::uint8_t* end = p + to;
    const std::uint8_t* at = std::find_if(p + from, end, [](std::uint8_t b) { return b != 255; });
    return at == end ? to : static_cast<std::size_t>(at - p);
}

// The whole memory of a side's images is white (each set's owner).
void ExpectWhiteImages(const char* when) {
    for (const ImageSet* set : {&acquisition::Images().myImg, &acquisition::Images().nextImg}) {
        const ImageRecord& front = (*set)[kFront];
        ASSERT_NE(front.alloc, nullptr) << when;
        const std::size_t size = front.alloc->Size();
        EXPECT_EQ(FirstNonWhite(front.alloc->Bytes(), 0, size), size)
            << when << ": the new images are not white";
    }
}

// The front's memory beyond the lines `lines` of the stream is white.
void ExpectWhiteBeyond(std::size_t lines, const char* when) {
    const ImageRecord& front = acquisition::Images().myImg[kFront];
    ASSERT_NE(front.alloc, nullptr);
    const std::size_t from = front.lead + lines * front.stride;
    const std::size_t size = front.alloc->Size();
    ASSERT_LT(from, size);
    const std::size_t at = FirstNonWhite(front.alloc->Bytes(), from, size);
    EXPECT_EQ(at, size) << when << ": byte " << at << " (line " << (at - front.lead) / front.stride
                        << ") is left from an earlier scan";
}

TEST_F(MemoryReuse, TheNextImagesTakeTheFreedMemoryWhiteAndAShortDocumentKeepsNothingOfALong) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kLongW, kDocH, false, 0, 0.8).document);
    p.feeder.push_back(Document(kShortW, kDocH, false, 1, -1.5).document);
    sim::SimulatedScanner& scanner = Open(p);

    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const std::size_t rawLine = Img(kFront).stride;
    const std::size_t longLines = scanner.BulkInBytes() / rawLine;
    ASSERT_GT(longLines, kLongStreamLines);
    const ImageMemory* const used = Img(kFront).alloc.get();
    ASSERT_EQ(KVXImgFree(handle), KVX_OK);
    EXPECT_EQ(Img(kFront).alloc, nullptr);

    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    EXPECT_TRUE(Img(kFront).alloc.get() == used || Next(kFront).alloc.get() == used)
        << "the freed memory is not reused";
    ExpectWhiteImages("created after a long document");

    const std::uint64_t before = scanner.BulkInBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const std::size_t shortLines = (scanner.BulkInBytes() - before) / rawLine;
    ASSERT_LT(shortLines + 100, longLines);
    ExpectWhiteBeyond(shortLines, "a short document after a long one");
    // The short document is cropped to its own size.
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4);

    // Freed images keep their memory until the device is closed.
    ASSERT_EQ(KVXImgFree(handle), KVX_OK);
    EXPECT_FALSE(acquisition::Images().spare.empty());
    KVXClose(handle);
    handle = 0;
    EXPECT_TRUE(acquisition::Images().spare.empty()) << "the close keeps image memory";
}

TEST_F(MemoryReuse, OtherGeometryOrMoreLinesTakeOtherMemoryAndScan) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 3; ++i) p.feeder.push_back(Document(kShortW, kDocH, i == 1, i, 0).document);
    Open(p);
    ShortBuffers();

    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const std::size_t greyBytes = Img(kFront).alloc->Size();
    ASSERT_EQ(KVXImgFree(handle), KVX_OK);

    // Colour: three times the line, so the grey memory cannot serve.
    ASSERT_EQ(KVXSetParameter(0, 2), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    const ImageRecord& colour = Img(kFront);
    ASSERT_NE(colour.alloc, nullptr);
    EXPECT_GT(colour.alloc->Size(), greyBytes);
    EXPECT_EQ(colour.allocSize + colour.lead, static_cast<std::int32_t>(colour.alloc->Size()));
    ExpectWhiteImages("colour after grey");
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(Img(kFront).bytesPerPixel, 3);
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4);
    const ImageMemory* const colourMemory = Img(kFront).alloc.get();
    ASSERT_EQ(KVXImgFree(handle), KVX_OK);

    // Back to grey: the colour memory serves the smaller images, which see
    // only their own size of it.
    ASSERT_EQ(KVXSetParameter(0, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    EXPECT_TRUE(Img(kFront).alloc.get() == colourMemory ||
                Next(kFront).alloc.get() == colourMemory);
    EXPECT_EQ(Img(kFront).alloc->Size(), greyBytes);
    ExpectWhiteImages("grey after colour");
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_EQ(Img(kFront).bytesPerPixel, 1);
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4);
    ASSERT_EQ(KVXImgFree(handle), KVX_OK);

    // A longer accepted document than any before: more lines than the kept
    // memory holds.
    ASSERT_EQ(KVXSetParameter(9, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    EXPECT_GT(Img(kFront).alloc->Size(), greyBytes);
    ExpectWhiteImages("more lines after fewer");
}

// The continuous feeder takes the next document into the other set while
// the host reads the current one: that set, which held the long document
// before, is white again where the long one was.
TEST_F(MemoryReuse, TheFeedersNextSetKeepsNothingOfTheDocumentBeforeIt) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kLongW, kDocH, false, 0, 0).document);
    for (int i = 1; i < 3; ++i) p.feeder.push_back(Document(kShortW, kDocH, false, i, 0).document);
    Open(p);
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    // The long document into one set, then the first short one into the
    // other; the second short one goes where the long one was.
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const ImageMemory* const longMemory = Img(kFront).alloc.get();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(Img(kFront).alloc.get(), longMemory);
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4);
    ExpectWhiteBeyond(kShortStreamLines, "the feeder's short document after a long one");
}

// A stop cancels a read the device was still filling: what it wrote beyond
// the counted bytes does not show in the next images.
TEST_F(MemoryReuse, ACancelledReadLeavesNothingInTheNextImages) {
    sim::DeviceProfile p = Profile();
    p.feeder.push_back(Document(kLongW, kDocH, false, 0, 0).document);
    sim::SimulatedScanner& scanner = Open(p);
    scanner.Inject(sim::RateLimit{.bytesPerSecond = 8u << 20});
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    std::int16_t status = 0;
    char codeline[64] = {};
    char confidence[64] = {};
    ASSERT_EQ(KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status), KVX_OK);
    for (int i = 0; i < 100000 && scanner.BulkInBytes() < (4u << 20); ++i) platform::Sleep(1);
    ASSERT_GE(scanner.BulkInBytes(), 4u << 20) << LogBytes();
    EXPECT_EQ(KVXStop(handle, 1), KVX_OK);
    for (int i = 0; i < 100000 && status != 3; ++i) {
        KVXImgScan1Async(handle, nullptr, codeline, confidence, 64, &status);
        platform::Sleep(1);
    }
    ASSERT_EQ(status, 3);
    ASSERT_EQ(KVXStop(handle, 0), KVX_OK);
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    ExpectWhiteImages("created after a stopped stream");
}

// A deskew that outgrows its side's lines moves the side into memory of the
// deskewed size. When that set comes round again for the feeder's next
// document, it must get back memory of the created size, with the views of
// a shared stream inside it: else the next document is cut at the smaller
// memory or split into memory the stream does not fill.
TEST_F(MemoryReuse, TheFeedersNextSetGetsBackTheCreatedMemoryAfterADeskewMovedIt) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 3; ++i) p.feeder.push_back(Document(kShortW, kDocH, false, i, 0).document);
    Open(p);
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    const std::size_t created = Img(kFront).alloc->Capacity();
    // What the deskew does when the straightened side is wider than its
    // channel: fresh memory of the deskewed size.
    ImageRecord& front = acquisition::Images().myImg[kFront];
    ASSERT_TRUE(imaging::MakeRoom(front, front.channelPitch + 8, 200));
    ASSERT_LT(front.alloc->Capacity(), created / 4);
    // The second document was taken meanwhile; this call starts the third
    // into the set the first one left.
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4);
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    EXPECT_NEAR(Img(kFront).Height, kShortW, 4) << "the third document was cut";
    EXPECT_NEAR(Img(kRear).Height, kShortW, 4);
    EXPECT_GE(Img(kFront).alloc->Capacity(), created);
    const std::uint8_t* begin = Img(kFront).alloc->Bytes();
    for (int side : {kRear, kBacklight}) {
        if (Img(side).data != nullptr && Img(side).alloc == Img(kFront).alloc) {
            EXPECT_TRUE(Img(side).data >= begin && Img(side).data < begin + created);
        }
    }
}

// A mode change re-creates the images while the feeder may still be taking
// the next document into its set: that acquisition ends first, or its
// stream lands in memory the new images took (or that is gone).
TEST_F(MemoryReuse, AModeChangeEndsTheFeedersAcquisitionBeforeItTakesItsMemory) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 2; ++i) p.feeder.push_back(Document(kLongW, kDocH, false, i, 0).document);
    sim::SimulatedScanner& scanner = Open(p);
    scanner.Inject(sim::RateLimit{.bytesPerSecond = 4u << 20});
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate(handle, 300, 300), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    ASSERT_TRUE(acquisition::ScanState().feederThread.joinable());
    KVXSetParameter(1000, 7);
    EXPECT_FALSE(acquisition::ScanState().feederThread.joinable())
        << "the feeder still writes while the images are re-created";
    EXPECT_FALSE(WithActiveStream(acquisition::ScanState(), [](const auto&) {}));
}

}  // namespace
}  // namespace kovran::test
