// The libusb backend against an emulated scanner: libusb runs its real Linux
// code (udev enumeration, sysfs descriptors, usbfs URBs) and umockdev answers
// for the kernel (emulated_scanner.h).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys_error.h"
#include "platform/usb_libusb.h"
#include "platform/usb_sync.h"
#include "usb_emulation/emulated_scanner.h"

namespace kovran::platform {
namespace {

using test::EmulatedScanner;

// Bounds only: the emulated device answers at once, so no test waits them out
// unless the backend hangs.
constexpr unsigned kTransferTimeoutMs = 5000;
constexpr std::uint16_t kEnglish = 0x0409;
constexpr const char* kScannerPath =
    "\\\\?\\USB#VID_7E51&PID_0003#1-3#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return v;
}

std::vector<std::uint8_t> SetupBytes(const test::SeenControl& c) {
    return std::vector<std::uint8_t>(c.setup, c.setup + 8);
}

class LibusbOnEmulatedScanner : public ::testing::Test {
  protected:
    // Builds the emulated scanner and a backend that sees it; false (and the
    // test skipped) when umockdev or libusb cannot run here.
    bool Start(std::uint32_t caps = test::kCapsScatterGather,
               unsigned usbfsMemoryMb = test::kDefaultUsbfsMemoryMb, LibusbOptions options = {}) {
        scanner_ = std::make_unique<EmulatedScanner>(caps, usbfsMemoryMb);
        if (!scanner_->Ready()) {
            skipReason_ = scanner_->Problem();
            return false;
        }
        // libusb must start inside the testbed: it scans the bus at start.
        backend_ = MakeLibusbBackend(std::move(options));
        if (!backend_) {
            skipReason_ = "libusb cannot start in the umockdev testbed";
            return false;
        }
        return true;
    }

    std::unique_ptr<UsbDevice> OpenScanner() {
        int error = -1;
        auto device = backend_->Open(kScannerPath, &error);
        EXPECT_EQ(error, kErrorSuccess);
        return device;
    }

    void TearDown() override {
        // The backend's context goes before the testbed it was started in.
        backend_.reset();
        scanner_.reset();
    }

    std::unique_ptr<EmulatedScanner> scanner_;
    std::unique_ptr<UsbBackend> backend_;
    std::string skipReason_;
};

TEST_F(LibusbOnEmulatedScanner, EnumerationNamesTheScannerByBusAndPort) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    const std::vector<UsbDeviceInfo> found = backend_->Enumerate();
    // The root hub (vendor 1D6B) is not one of ours.
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path, kScannerPath);
    EXPECT_EQ(found[0].vid, 0x7E51);
    EXPECT_EQ(found[0].pid, 0x0003);

    auto device = OpenScanner();
    ASSERT_TRUE(device);
    std::uint32_t packet = 0;
    EXPECT_EQ(device->BulkInPacketSize(&packet), kErrorSuccess);
    EXPECT_EQ(packet, test::kBulkPacketSize);
    EXPECT_TRUE(scanner_->UnknownIoctls().empty());
}

TEST_F(LibusbOnEmulatedScanner, SerialNumberDescriptorReadsBack) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    std::uint8_t buffer[255] = {};
    std::size_t got = 0;
    ASSERT_EQ(ReadStringDescriptor(*device, test::kSerialIndex, kEnglish, buffer, sizeof buffer,
                                   &got, kTransferTimeoutMs),
              kErrorSuccess);
    const std::string serial = test::kEmulatedSerial;
    ASSERT_EQ(got, 2 + 2 * serial.size());
    EXPECT_EQ(buffer[0], got);
    EXPECT_EQ(buffer[1], 0x03);
    std::string text;
    for (std::size_t i = 2; i + 1 < got; i += 2) text.push_back(static_cast<char>(buffer[i]));
    EXPECT_EQ(text, serial);

    const auto seen = scanner_->Controls();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(SetupBytes(seen[0]), (std::vector<std::uint8_t>{0x80, 0x06, test::kSerialIndex, 0x03,
                                                              0x09, 0x04, 0xFF, 0x00}));
}

TEST_F(LibusbOnEmulatedScanner, VendorControlTransfersCarryTheirSetupAndData) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);

    // A multi-byte register write, then its read-back.
    std::uint8_t out[4] = {0xDE, 0xAD, 0x01, 0x02};
    std::size_t done = 0;
    EXPECT_EQ(device->Control({.requestType = 0x40, .request = 0x04, .value = 0x0112, .length = 4},
                              out, &done, kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(done, 4u);
    std::uint8_t in[4] = {};
    EXPECT_EQ(device->Control({.requestType = 0xC0, .request = 0x04, .value = 0x0112, .length = 4},
                              in, &done, kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(done, 4u);
    EXPECT_EQ(std::memcmp(in, out, 4), 0);

    // A command request: the class as bRequest, the sub-code as wValue; the
    // device answers fewer bytes than asked.
    scanner_->SetControlReply(0x21, 0x0003, {0x00, 0x55});
    std::uint8_t reply[8] = {};
    EXPECT_EQ(device->Control({.requestType = 0xC0, .request = 0x21, .value = 0x0003, .length = 8},
                              reply, &done, kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(reply[1], 0x55);

    // A request the device does not know stalls endpoint 0.
    EXPECT_EQ(device->Control({.requestType = 0xC0, .request = 0x7F, .value = 0, .length = 1},
                              reply, &done, kTransferTimeoutMs),
              kErrorGenFailure);

    const auto seen = scanner_->Controls();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(SetupBytes(seen[0]),
              (std::vector<std::uint8_t>{0x40, 0x04, 0x12, 0x01, 0x00, 0x00, 0x04, 0x00}));
    EXPECT_EQ(seen[0].outData, (std::vector<std::uint8_t>{0xDE, 0xAD, 0x01, 0x02}));
    EXPECT_EQ(SetupBytes(seen[1]),
              (std::vector<std::uint8_t>{0xC0, 0x04, 0x12, 0x01, 0x00, 0x00, 0x04, 0x00}));
    EXPECT_TRUE(seen[1].outData.empty());
    EXPECT_EQ(SetupBytes(seen[2]),
              (std::vector<std::uint8_t>{0xC0, 0x21, 0x03, 0x00, 0x00, 0x00, 0x08, 0x00}));
}

// Reads blocks of `block` bytes until a short one; returns what arrived.
std::vector<std::uint8_t> ReadUntilShort(UsbDevice& device, std::size_t block,
                                         std::vector<std::size_t>* sizes) {
    std::vector<std::uint8_t> all;
    for (;;) {
        std::vector<std::uint8_t> buffer(block);
        std::size_t got = 0;
        const int rc =
            BulkTransfer(device, BulkPipe::In, buffer.data(), block, &got, kTransferTimeoutMs);
        EXPECT_EQ(rc, kErrorSuccess);
        if (rc != kErrorSuccess) break;
        sizes->push_back(got);
        all.insert(all.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < block) break;
    }
    return all;
}

TEST_F(LibusbOnEmulatedScanner, BulkInBlocksEndWithAShortRead) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    constexpr std::size_t kBlock = 64 * 1024;
    const std::vector<std::uint8_t> image = Pattern(3 * kBlock + 1000, 3);
    scanner_->QueueBulkIn(image);

    std::vector<std::size_t> sizes;
    EXPECT_EQ(ReadUntilShort(*device, kBlock, &sizes), image);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{kBlock, kBlock, kBlock, 1000}));
    // With scatter-gather each read is one URB.
    EXPECT_EQ(scanner_->BulkUrbCount(test::kBulkInEndpoint), 4u);

    // Nothing more to read: the transfer stays pending until cancelled.
    std::vector<std::uint8_t> buffer(kBlock);
    BulkTransferId id = 0;
    ASSERT_EQ(device->SubmitBulk(BulkPipe::In, buffer.data(), kBlock, &id), kErrorSuccess);
    std::size_t got = 0;
    EXPECT_EQ(device->PollBulk(id, &got), kErrorIoIncomplete);
    EXPECT_EQ(CancelAndReap(*device, BulkPipe::In, id, &got), kErrorOperationAborted);
    EXPECT_EQ(got, 0u);

    // Bulk-out reaches the device whole.
    std::vector<std::uint8_t> print = Pattern(5000, 9);
    EXPECT_EQ(
        BulkTransfer(*device, BulkPipe::Out, print.data(), print.size(), &got, kTransferTimeoutMs),
        kErrorSuccess);
    EXPECT_EQ(got, print.size());
    EXPECT_EQ(scanner_->BulkOutData(), print);
    EXPECT_TRUE(scanner_->UnknownIoctls().empty());
}

TEST_F(LibusbOnEmulatedScanner, WithoutScatterGatherReadsAreSplitAndStillEndShort) {
    if (!Start(test::kCapsNoScatterGather)) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    constexpr std::size_t kBlock = 64 * 1024;
    const std::vector<std::uint8_t> image = Pattern(kBlock + 20000, 5);
    scanner_->QueueBulkIn(image);
    std::vector<std::size_t> sizes;
    EXPECT_EQ(ReadUntilShort(*device, kBlock, &sizes), image);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{kBlock, 20000}));
    // libusb cut each read into 16 KiB URBs.
    EXPECT_EQ(scanner_->LargestBulkUrb(test::kBulkInEndpoint), 16384u);
    EXPECT_EQ(scanner_->InFlightUrbs(), 0u);
}

TEST_F(LibusbOnEmulatedScanner, StallOnBulkInThenCancelThenRead) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(4096);
    std::size_t got = 0;
    scanner_->StallBulkIn();
    EXPECT_EQ(
        BulkTransfer(*device, BulkPipe::In, buffer.data(), buffer.size(), &got, kTransferTimeoutMs),
        kErrorGenFailure);
    // The halt is cleared before the stall is reported.
    EXPECT_EQ(scanner_->ClearHaltCount(test::kBulkInEndpoint), 1u);
    // What the transport does after a failed read; it clears again.
    EXPECT_EQ(device->CancelBulk(BulkPipe::In), kErrorSuccess);
    EXPECT_EQ(scanner_->ClearHaltCount(test::kBulkInEndpoint), 2u);

    scanner_->QueueBulkIn(Pattern(4096, 1));
    EXPECT_EQ(
        BulkTransfer(*device, BulkPipe::In, buffer.data(), buffer.size(), &got, kTransferTimeoutMs),
        kErrorSuccess);
    EXPECT_EQ(got, buffer.size());
    EXPECT_EQ(buffer, Pattern(4096, 1));

    // A stall while nobody reads: only the cancel clears it, and the read
    // after that succeeds.
    scanner_->StallBulkIn();
    BulkTransferId id = 0;
    ASSERT_EQ(device->SubmitBulk(BulkPipe::In, buffer.data(), buffer.size(), &id), kErrorSuccess);
    EXPECT_EQ(device->WaitBulk(id, &got, kTransferTimeoutMs), kErrorGenFailure);
    EXPECT_EQ(device->CancelBulk(BulkPipe::In), kErrorSuccess);
    scanner_->QueueBulkIn(Pattern(100, 2));
    EXPECT_EQ(
        BulkTransfer(*device, BulkPipe::In, buffer.data(), buffer.size(), &got, kTransferTimeoutMs),
        kErrorSuccess);
    EXPECT_EQ(got, 100u);
    EXPECT_TRUE(scanner_->UnknownIoctls().empty());
}

TEST_F(LibusbOnEmulatedScanner, ControlTransferThatTimesOutIsDiscarded) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    std::uint8_t reg = 0;
    std::size_t got = 0;
    // The device never answers; libusb discards the URB when the bound
    // passes (the bound is the only wait here).
    scanner_->HoldControl(test::Hold::On);
    EXPECT_EQ(device->Control({.requestType = 0xC0, .request = 0x0C, .value = 1, .length = 1}, &reg,
                              &got, 50),
              kErrorTimeout);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(scanner_->InFlightUrbs(), 0u);
    scanner_->HoldControl(test::Hold::Off);
    scanner_->SetControlReply(0x0C, 1, {0x5A});
    EXPECT_EQ(device->Control({.requestType = 0xC0, .request = 0x0C, .value = 1, .length = 1}, &reg,
                              &got, kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(reg, 0x5A);
}

TEST_F(LibusbOnEmulatedScanner, UnplugWhileTheSharedFileHasBulkInAndOutPending) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto acquisition = OpenScanner();
    auto printing = OpenScanner();
    ASSERT_TRUE(acquisition && printing);
    std::vector<std::uint8_t> buffer(4096);
    std::vector<std::uint8_t> print = Pattern(4096, 2);
    scanner_->HoldBulkOut(test::Hold::On);
    BulkTransferId id = 0;
    BulkTransferId outId = 0;
    ASSERT_EQ(acquisition->SubmitBulk(BulkPipe::In, buffer.data(), buffer.size(), &id),
              kErrorSuccess);
    ASSERT_EQ(printing->SubmitBulk(BulkPipe::Out, print.data(), print.size(), &outId),
              kErrorSuccess);
    std::size_t got = 0;
    ASSERT_EQ(acquisition->PollBulk(id, &got), kErrorIoIncomplete);
    ASSERT_EQ(printing->PollBulk(outId, &got), kErrorIoIncomplete);

    scanner_->Unplug();
    EXPECT_EQ(acquisition->WaitBulk(id, &got, kTransferTimeoutMs), kErrorFileNotFound);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(printing->WaitBulk(outId, &got, kTransferTimeoutMs), kErrorFileNotFound);
    // Everything after reports the device gone, on both device objects.
    std::uint8_t reg = 0;
    EXPECT_EQ(printing->Control({.requestType = 0xC0, .request = 0x0C, .value = 1, .length = 1},
                                &reg, &got, kTransferTimeoutMs),
              kErrorFileNotFound);
    EXPECT_EQ(acquisition->SubmitBulk(BulkPipe::In, buffer.data(), buffer.size(), &id),
              kErrorFileNotFound);
    EXPECT_EQ(printing->SubmitBulk(BulkPipe::Out, print.data(), print.size(), &outId),
              kErrorFileNotFound);
    EXPECT_TRUE(backend_->Enumerate().empty());
    // A new open does not hand out the dead file.
    int error = 0;
    EXPECT_FALSE(backend_->Open(kScannerPath, &error));
    EXPECT_EQ(error, kErrorFileNotFound);
    // Closing them after the unplug is clean.
    acquisition.reset();
    printing.reset();
    EXPECT_EQ(scanner_->InFlightUrbs(), 0u);
}

TEST_F(LibusbOnEmulatedScanner, AcquisitionAndPrintingRunBulkAtOnceOnTwoDevices) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto acquisition = OpenScanner();
    auto printing = OpenScanner();
    ASSERT_TRUE(acquisition && printing);

    std::vector<std::uint8_t> image(4096);
    BulkTransferId readId = 0;
    ASSERT_EQ(acquisition->SubmitBulk(BulkPipe::In, image.data(), image.size(), &readId),
              kErrorSuccess);
    // Control transfers on the other device meanwhile.
    std::uint8_t reg[2] = {};
    std::size_t got = 0;
    scanner_->SetControlReply(0x04, 0x0020, {0x12, 0x34});
    EXPECT_EQ(printing->Control({.requestType = 0xC0, .request = 0x04, .value = 0x20, .length = 2},
                                reg, &got, kTransferTimeoutMs),
              kErrorSuccess);

    // The print data goes out while the read is pending (on one usbfs
    // file: a second file would get "busy" from the kernel).
    std::vector<std::uint8_t> print = Pattern(2048, 4);
    EXPECT_EQ(BulkTransfer(*printing, BulkPipe::Out, print.data(), print.size(), &got,
                           kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(scanner_->BulkOutData(), print);
    scanner_->QueueBulkIn(Pattern(image.size(), 8));
    EXPECT_EQ(acquisition->WaitBulk(readId, &got, kTransferTimeoutMs), kErrorSuccess);
    EXPECT_EQ(got, image.size());
    EXPECT_EQ(image, Pattern(image.size(), 8));

    // Both at once from their own threads, as the acquisition and the
    // printing threads run: blocks of an image in, columns of a stamp out.
    constexpr std::size_t kBlock = 16 * 1024;
    constexpr int kBlocks = 24;
    const std::vector<std::uint8_t> stream = Pattern(kBlock * kBlocks, 6);
    scanner_->QueueBulkIn(stream);
    std::vector<std::uint8_t> received;
    int readFailures = 0;
    std::thread reader([&] {
        std::vector<std::uint8_t> block(kBlock);
        for (int i = 0; i < kBlocks; ++i) {
            std::size_t n = 0;
            if (BulkTransfer(*acquisition, BulkPipe::In, block.data(), kBlock, &n,
                             kTransferTimeoutMs) != kErrorSuccess) {
                ++readFailures;
                continue;
            }
            received.insert(received.end(), block.begin(),
                            block.begin() + static_cast<std::ptrdiff_t>(n));
        }
    });
    int writeFailures = 0;
    std::vector<std::uint8_t> columns = Pattern(484, 9);
    for (int i = 0; i < kBlocks; ++i) {
        std::size_t n = 0;
        if (BulkTransfer(*printing, BulkPipe::Out, columns.data(), columns.size(), &n,
                         kTransferTimeoutMs) != kErrorSuccess)
            ++writeFailures;
    }
    reader.join();
    EXPECT_EQ(readFailures, 0);
    EXPECT_EQ(writeFailures, 0);
    EXPECT_EQ(received, stream);
    EXPECT_EQ(scanner_->BulkOutData().size(), print.size() + kBlocks * columns.size());

    // Closing one device keeps the file (and the claim) for the other.
    acquisition.reset();
    EXPECT_EQ(BulkTransfer(*printing, BulkPipe::Out, print.data(), print.size(), &got,
                           kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_TRUE(scanner_->UnknownIoctls().empty());
}

TEST_F(LibusbOnEmulatedScanner, TheClaimGoesWithTheLastDeviceThatMovedBulkData) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    // The device kept for the control commands, open as long as the library.
    auto kept = OpenScanner();
    auto acquisition = OpenScanner();
    ASSERT_TRUE(kept && acquisition);
    scanner_->QueueBulkIn(Pattern(100, 1));
    std::vector<std::uint8_t> buffer(4096);
    std::size_t got = 0;
    ASSERT_EQ(BulkTransfer(*acquisition, BulkPipe::In, buffer.data(), buffer.size(), &got,
                           kTransferTimeoutMs),
              kErrorSuccess);
    // Another program (its own libusb, its own usbfs file) is refused while
    // the scan runs ...
    auto otherProgram = MakeLibusbBackend();
    ASSERT_TRUE(otherProgram);
    int error = -1;
    auto other = otherProgram->Open(kScannerPath, &error);
    ASSERT_TRUE(other);
    std::vector<std::uint8_t> print = Pattern(512, 3);
    EXPECT_EQ(
        BulkTransfer(*other, BulkPipe::Out, print.data(), print.size(), &got, kTransferTimeoutMs),
        kErrorBusy);
    // ... and may print once it ended, the kept device still open.
    acquisition.reset();
    EXPECT_EQ(
        BulkTransfer(*other, BulkPipe::Out, print.data(), print.size(), &got, kTransferTimeoutMs),
        kErrorSuccess);
    EXPECT_EQ(scanner_->BulkOutData(), print);
    std::uint8_t reg = 0;
    scanner_->SetControlReply(0x0C, 1, {0x5A});
    EXPECT_EQ(kept->Control({.requestType = 0xC0, .request = 0x0C, .value = 1, .length = 1}, &reg,
                            &got, kTransferTimeoutMs),
              kErrorSuccess);
    other.reset();
    otherProgram.reset();
}

TEST_F(LibusbOnEmulatedScanner, ACancelClearsThePipesHaltOnlyWhenNothingMovesOnIt) {
    if (!Start()) GTEST_SKIP() << skipReason_;
    auto acquisition = OpenScanner();
    auto printing = OpenScanner();
    ASSERT_TRUE(acquisition && printing);
    // The printing thread's columns are on their way ...
    scanner_->HoldBulkOut(test::Hold::On);
    std::vector<std::uint8_t> columns = Pattern(484, 1);
    BulkTransferId outId = 0;
    ASSERT_EQ(printing->SubmitBulk(BulkPipe::Out, columns.data(), columns.size(), &outId),
              kErrorSuccess);
    // ... when the acquisition cancels both pipes of its own device object:
    // a clear now would reset the data toggle under the moving transfer.
    EXPECT_EQ(acquisition->CancelBulk(BulkPipe::Out), kErrorSuccess);
    EXPECT_EQ(scanner_->ClearHaltCount(test::kBulkOutEndpoint), 0u);
    std::size_t got = 0;
    EXPECT_EQ(printing->PollBulk(outId, &got), kErrorIoIncomplete);
    scanner_->HoldBulkOut(test::Hold::Off);
    EXPECT_EQ(printing->WaitBulk(outId, &got, kTransferTimeoutMs), kErrorSuccess);
    EXPECT_EQ(got, columns.size());
    // The next transfer on the idle pipe clears it first.
    EXPECT_EQ(BulkTransfer(*printing, BulkPipe::Out, columns.data(), columns.size(), &got,
                           kTransferTimeoutMs),
              kErrorSuccess);
    EXPECT_EQ(scanner_->ClearHaltCount(test::kBulkOutEndpoint), 1u);
    EXPECT_EQ(scanner_->BulkOutData().size(), 2 * columns.size());
}

// The block-size ladder of the acquisition: a read refused with 1450 is
// tried again at d / 32 x 16 until it is accepted. The first size accepted.
std::size_t LadderStart(UsbDevice& device, std::vector<std::uint8_t>& buffer, int* refusals) {
    std::size_t d = 32u << 20;
    *refusals = 0;
    for (;;) {
        BulkTransferId id = 0;
        const int rc = device.SubmitBulk(BulkPipe::In, buffer.data(), d, &id);
        if (rc == kErrorSuccess) {
            std::size_t got = 0;
            EXPECT_EQ(CancelAndReap(device, BulkPipe::In, id, &got), kErrorOperationAborted);
            return d;
        }
        EXPECT_EQ(rc, kErrorNoSystemResources) << d;
        if (rc != kErrorNoSystemResources || d <= 0x9FFF) return 0;
        ++*refusals;
        d = d / 32 * 16;
    }
}

TEST_F(LibusbOnEmulatedScanner, TheBlockSizeLadderStartsAtTheSameSizeOnEveryController) {
    std::vector<std::uint8_t> buffer(32u << 20);
    std::vector<std::size_t> starts;
    for (const std::uint32_t caps : {test::kCapsScatterGather, test::kCapsNoScatterGather}) {
        TearDown();
        if (!Start(caps, test::kDefaultUsbfsMemoryMb)) GTEST_SKIP() << skipReason_;
        auto device = OpenScanner();
        ASSERT_TRUE(device);
        int refusals = 0;
        starts.push_back(LadderStart(*device, buffer, &refusals));
        // 32 MiB and 16 MiB (the limit itself, with the kernel's own
        // bookkeeping on top) are refused before anything reaches the device.
        EXPECT_EQ(refusals, 2) << caps;
        EXPECT_EQ(scanner_->InFlightUrbs(), 0u);
        // The accepted size reads.
        const std::vector<std::uint8_t> data = Pattern(5000, 3);
        scanner_->QueueBulkIn(data);
        std::size_t got = 0;
        EXPECT_EQ(BulkTransfer(*device, BulkPipe::In, buffer.data(), starts.back(), &got,
                               kTransferTimeoutMs),
                  kErrorSuccess);
        EXPECT_EQ(got, data.size());
    }
    EXPECT_EQ(starts, (std::vector<std::size_t>{8u << 20, 8u << 20}));
}

TEST_F(LibusbOnEmulatedScanner, TheUsbfsLimitCountsWhatIsInFlightOnTheScanner) {
    if (!Start(test::kCapsNoScatterGather, test::kDefaultUsbfsMemoryMb))
        GTEST_SKIP() << skipReason_;
    auto acquisition = OpenScanner();
    auto printing = OpenScanner();
    ASSERT_TRUE(acquisition && printing);
    std::vector<std::uint8_t> in(8u << 20);
    std::vector<std::uint8_t> out(8u << 20);
    BulkTransferId id = 0;
    ASSERT_EQ(acquisition->SubmitBulk(BulkPipe::In, in.data(), in.size(), &id), kErrorSuccess);
    // With 8 MiB pending on the file, another 8 MiB would pass the limit.
    BulkTransferId outId = 0;
    EXPECT_EQ(printing->SubmitBulk(BulkPipe::Out, out.data(), out.size(), &outId),
              kErrorNoSystemResources);
    std::size_t got = 0;
    EXPECT_EQ(CancelAndReap(*acquisition, BulkPipe::In, id, &got), kErrorOperationAborted);
    // Reaped, its room is free again.
    EXPECT_EQ(
        BulkTransfer(*printing, BulkPipe::Out, out.data(), out.size(), &got, kTransferTimeoutMs),
        kErrorSuccess);
    EXPECT_EQ(got, out.size());
}

TEST_F(LibusbOnEmulatedScanner, TheUsbfsLimitIsReadWhereTheOptionsSay) {
    const std::string parameter =
        ::testing::TempDir() + "usbfs_memory_mb." + std::to_string(::getpid());
    std::ofstream(parameter) << "0\n";
    // No limit at all: the full first rung is submitted (with scatter-gather
    // as one URB; the emulated kernel has no limit either).
    if (!Start(test::kCapsScatterGather, 0, {.usbfsMemoryParameter = parameter}))
        GTEST_SKIP() << skipReason_;
    auto device = OpenScanner();
    ASSERT_TRUE(device);
    std::vector<std::uint8_t> buffer(32u << 20);
    int refusals = 0;
    EXPECT_EQ(LadderStart(*device, buffer, &refusals), 32u << 20);
    EXPECT_EQ(refusals, 0);
    device.reset();

    // A limit of 4 MiB, read when the scanner's file opens.
    std::ofstream(parameter) << "4\n";
    device = OpenScanner();
    ASSERT_TRUE(device);
    EXPECT_EQ(LadderStart(*device, buffer, &refusals), 2u << 20);
    EXPECT_EQ(refusals, 4);
    device.reset();

    // What is not a plain number of MiB, and a missing parameter, mean the
    // kernel's old fixed 16 MiB; a number beyond the address space, none.
    struct Case {
        const char* text;
        std::size_t start;
    };
    for (const Case& c : {Case{"-1\n", 8u << 20}, Case{"garbage\n", 8u << 20}, Case{"\n", 8u << 20},
                          Case{"16 MiB\n", 8u << 20}, Case{"99999999999999999999999\n", 32u << 20},
                          Case{nullptr, 8u << 20}}) {
        std::remove(parameter.c_str());
        if (c.text != nullptr) std::ofstream(parameter) << c.text;
        device = OpenScanner();
        ASSERT_TRUE(device);
        EXPECT_EQ(LadderStart(*device, buffer, &refusals), c.start)
            << (c.text != nullptr ? c.text : "(missing)");
        device.reset();
    }
    std::remove(parameter.c_str());
}

}  // namespace
}  // namespace kovran::platform
