// The blocking helpers over submit / poll / cancel.
#include "platform/usb_sync.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/sys_error.h"
#include "support/fake_clock.h"

namespace kovran::platform {
namespace {

// Transfers finish after a set number of polls, or only when cancelled.
class PollCountingDevice : public UsbDevice {
  public:
    int pollsToFinish = -1;  // -1: never
    std::size_t bytes = 0;
    int polls = 0;
    int cancels = 0;
    std::map<BulkTransferId, bool> cancelled;

    int Control(const UsbSetup& s, std::uint8_t* data, std::size_t* transferred,
                unsigned) override {
        last = s;
        for (std::size_t i = 0; i < s.length && i < 3; ++i) data[i] = static_cast<std::uint8_t>(i);
        *transferred = s.length + 5;  // a backend that overstates its count
        return 0;
    }
    int SubmitBulk(BulkPipe, std::uint8_t*, std::size_t, BulkTransferId* id) override {
        *id = ++next;
        cancelled[*id] = false;
        return 0;
    }
    int PollBulk(BulkTransferId id, std::size_t* transferred) override {
        ++polls;
        if (cancelled.at(id)) return kErrorOperationAborted;
        if (pollsToFinish >= 0 && polls >= pollsToFinish) {
            *transferred = bytes;
            return 0;
        }
        return kErrorIoIncomplete;
    }
    int WaitBulk(BulkTransferId id, std::size_t* transferred, unsigned) override {
        return PollBulk(id, transferred);
    }
    int CancelBulk(BulkPipe) override {
        ++cancels;
        for (auto& [id, c] : cancelled) c = true;
        return 0;
    }
    int BulkInPacketSize(std::uint32_t* size) override {
        *size = 512;
        return 0;
    }
    UsbSetup last;
    BulkTransferId next = 0;
};

TEST(UsbSync, RepeatedPollsAreBounded) {
    PollCountingDevice dev;
    test::FakeClock clock;
    test::ClockScope scope(clock);
    BulkTransferId id = 0;
    ASSERT_EQ(dev.SubmitBulk(BulkPipe::In, nullptr, 0, &id), 0);
    std::size_t got = 0;
    EXPECT_EQ(PollBulkRepeatedly(dev, id, &got, 10, 100), kErrorTimeout);
    EXPECT_EQ(dev.polls, 101);
    EXPECT_EQ(clock.Sleeps(), std::vector<unsigned>(100, 10));

    dev.polls = 0;
    dev.pollsToFinish = 5;
    dev.bytes = 4096;
    clock.ClearSleeps();
    EXPECT_EQ(PollBulkRepeatedly(dev, id, &got, 10, 100), 0);
    EXPECT_EQ(got, 4096u);
    EXPECT_EQ(clock.Sleeps().size(), 4u);
}

TEST(UsbSync, TimedOutBulkTransferIsCancelledAndReaped) {
    PollCountingDevice dev;
    std::uint8_t buf[16];
    std::size_t got = 99;
    EXPECT_EQ(BulkTransfer(dev, BulkPipe::In, buf, sizeof buf, &got, 5), kErrorTimeout);
    EXPECT_EQ(dev.cancels, 1);
    EXPECT_EQ(got, 0u);

    dev.pollsToFinish = 1;
    dev.polls = 0;
    dev.bytes = 16;
    EXPECT_EQ(BulkTransfer(dev, BulkPipe::In, buf, sizeof buf, &got, 5), 0);
    EXPECT_EQ(got, 16u);
}

TEST(UsbSync, StringDescriptorRequest) {
    PollCountingDevice dev;
    std::uint8_t buf[34] = {};
    std::size_t got = 0;
    EXPECT_EQ(ReadStringDescriptor(dev, 4, 0, buf, sizeof buf, &got, 100), 0);
    EXPECT_EQ(dev.last.requestType, 0x80);
    EXPECT_EQ(dev.last.request, 6);
    EXPECT_EQ(dev.last.value, 0x0304);
    EXPECT_EQ(dev.last.index, 0);
    EXPECT_EQ(dev.last.length, 34);
    // Never more than asked, whatever the backend says.
    EXPECT_EQ(got, 34u);
    EXPECT_EQ(ReadStringDescriptor(dev, 4, 0, nullptr, 34, &got, 100), kErrorInvalidParameter);
}

}  // namespace
}  // namespace kovran::platform
