#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sim/fault_plan.h"
#include "sim/sim_backend.h"
#include "sim/sim_test_util.h"
#include "support/fake_clock.h"

namespace kovran::sim {
namespace {

using simio::Command;
using simio::Read;

constexpr std::uint16_t kFw = 0x5012;

struct Rig {
    test::FakeClock clock;
    test::ClockScope scope{clock};
    SimBackend backend{{DefaultDeviceProfile()}};
    SimulatedScanner& sim = backend.Device(0);
    std::unique_ptr<platform::UsbDevice> Open(int* error = nullptr) {
        int e = -1;
        auto dev = backend.Open(sim.Path(), &e);
        if (error) *error = e;
        return dev;
    }
};

TEST(FaultInjection, NotReadyTenTimesThenAnswers) {
    Rig rig;
    auto dev = rig.Open();
    ASSERT_TRUE(dev);
    rig.sim.Inject(NotReady{10});
    for (int i = 0; i < 10; ++i) {
        auto r = Read(*dev, kFw, 0xD0, 3, 8);
        EXPECT_EQ(r.error, 21) << i;
        EXPECT_EQ(r.transferred, 0u);
    }
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).error, 0);
    // A refusal aimed at one command leaves the others alone, and a refused
    // command has no effect.
    rig.sim.Inject(NotReady{1, FaultSite::Control, {0xD0, 0x09}});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).error, 0);
    EXPECT_EQ(Command(*dev, kFw, 0xD0, 0x09), 21);
    EXPECT_FALSE(rig.sim.Inspect([](const ScannerModel& m) { return m.Enabled(); }));
    EXPECT_EQ(Command(*dev, kFw, 0xD0, 0x09), 0);
    EXPECT_TRUE(rig.sim.Inspect([](const ScannerModel& m) { return m.Enabled(); }));
}

TEST(FaultInjection, AccessDeniedAtOpenAndOnTransfers) {
    Rig rig;
    rig.sim.Inject(AccessDenied{2});  // opens by default
    int error = 0;
    EXPECT_FALSE(rig.Open(&error));
    EXPECT_EQ(error, 5);
    EXPECT_FALSE(rig.Open(&error));
    auto dev = rig.Open(&error);
    ASSERT_TRUE(dev);
    EXPECT_EQ(error, 0);
    rig.sim.Inject(AccessDenied{kForever, FaultSite::Control});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).error, 5);
    rig.sim.ClearFaults();
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).error, 0);
    rig.sim.Inject(NotReady{1, FaultSite::Open});
    EXPECT_FALSE(rig.Open(&error));
    EXPECT_EQ(error, 21);
}

TEST(FaultInjection, UnplugAtACallAndReplug) {
    Rig rig;
    auto dev = rig.Open();
    ASSERT_TRUE(dev);
    rig.sim.Inject(Unplug{3, 0});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).error, 0);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).error, 0);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).error, 2);  // gone during the third
    EXPECT_FALSE(rig.sim.Plugged());
    EXPECT_TRUE(rig.backend.Enumerate().empty());
    int error = 0;
    EXPECT_FALSE(rig.Open(&error));
    EXPECT_EQ(error, 2);
    std::uint32_t packet = 0;
    EXPECT_EQ(dev->BulkInPacketSize(&packet), 2);
    platform::BulkTransferId id = 0;
    std::uint8_t buf[8];
    EXPECT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf, sizeof buf, &id), 2);

    rig.sim.Replug();
    EXPECT_EQ(rig.backend.Enumerate().size(), 1u);
    // The old handle belongs to the device that went away.
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).error, 2);
    auto again = rig.Open(&error);
    ASSERT_TRUE(again);
    EXPECT_EQ(Read(*again, kFw, 0xD0, 2, 5).error, 0);
}

TEST(FaultInjection, ReplugAfterSomeMisses) {
    Rig rig;
    auto dev = rig.Open();
    rig.sim.Inject(Replug{2});
    rig.sim.Unplug();
    // Between enumeration and open the device vanished: open fails.
    EXPECT_TRUE(rig.backend.Enumerate().empty());  // miss 1
    int error = 0;
    EXPECT_FALSE(rig.Open(&error));  // miss 2
    EXPECT_EQ(error, 2);
    auto back = rig.Open(&error);  // back now
    ASSERT_TRUE(back);
    EXPECT_EQ(rig.backend.Enumerate().size(), 1u);
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).error, 2);
}

TEST(FaultInjection, VanishesBetweenEnumerationAndOpen) {
    Rig rig;
    rig.sim.Inject(Unplug{0, 0, 2});
    auto first = rig.Open();
    ASSERT_TRUE(first);
    ASSERT_EQ(rig.backend.Enumerate().size(), 1u);
    int error = 0;
    EXPECT_FALSE(rig.Open(&error));  // listed a moment ago, gone now
    EXPECT_EQ(error, 2);
    EXPECT_TRUE(rig.backend.Enumerate().empty());
    EXPECT_EQ(Read(*first, kFw, 0xD0, 2, 5).error, 2);
}

TEST(FaultInjection, CorruptRepliesHitOneByte) {
    Rig rig;
    auto dev = rig.Open();
    std::vector<std::uint8_t> tune{1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(simio::Write(*dev, kFw, 0xD0, 0x14, tune), 0);
    rig.sim.Inject(CorruptReply{1, 7, 0x01, {0xD0, 0x15}});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).bytes[1], 5);  // another command
    auto back = Read(*dev, kFw, 0xD0, 0x15, 8);
    EXPECT_EQ(back.transferred, 8u);
    EXPECT_EQ(back.bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 9}));
    // The device kept what was written.
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x15, 8).bytes, tune);
    // An offset beyond the reply changes nothing.
    rig.sim.Inject(CorruptReply{1, 20, 0xFF});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 0x15, 8).bytes, tune);
}

TEST(FaultInjection, UnplugAtAByteOfTheBulkStream) {
    Rig rig;
    auto dev = rig.Open();
    std::vector<std::uint8_t> block(484, 0);
    platform::BulkTransferId id = 0;
    std::size_t n = 0;
    rig.sim.Inject(Unplug{0, 1000});
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::Out, block.data(), block.size(), &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 0);
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::Out, block.data(), block.size(), &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 0);
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::Out, block.data(), block.size(), &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 2);  // byte 1000 lies in the third block
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(rig.sim.Plugged());
    EXPECT_EQ(rig.sim.BulkOutBytes(), 968u);
}

TEST(FaultInjection, ZeroStatusWords) {
    Rig rig;
    auto dev = rig.Open();
    rig.sim.Inject(ZeroStatus{11});
    // Other reads are untouched and do not use up the fault.
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).bytes[1], 5);
    for (int i = 0; i < 11; ++i) {
        auto r = Read(*dev, kFw, 0xD0, 3, 8);
        EXPECT_EQ(r.error, 0);
        EXPECT_EQ(r.transferred, 8u);
        EXPECT_EQ(r.bytes, std::vector<std::uint8_t>(8, 0)) << i;
    }
    EXPECT_NE(Read(*dev, kFw, 0xD0, 3, 8).bytes, std::vector<std::uint8_t>(8, 0));
}

TEST(FaultInjection, WrongByteCounts) {
    Rig rig;
    auto dev = rig.Open();
    rig.sim.Inject(WrongLength{1, -3});
    auto shortReply = Read(*dev, kFw, 0xD0, 2, 5);
    EXPECT_EQ(shortReply.error, 0);
    EXPECT_EQ(shortReply.transferred, 2u);
    EXPECT_EQ(shortReply.bytes[2], 0xEE);  // not written
    // A longer count than the buffer is reported, never written past it.
    rig.sim.Inject(WrongLength{1, 4, {0xD0, 0x03}});
    auto v = Read(*dev, kFw, 0xD0, 2, 5);
    EXPECT_EQ(v.transferred, 5u);
    std::vector<std::uint8_t> guard(16, 0xEE);
    std::size_t n = 0;
    ASSERT_EQ(dev->Control(EncodeCommand(kFw, 0xD0, 3, platform::Direction::In, 8), guard.data(),
                           &n, 1000),
              0);
    EXPECT_EQ(n, 12u);
    EXPECT_EQ(guard[8], 0xEE);
    // Fewer than nothing is nothing.
    rig.sim.Inject(WrongLength{1, -64});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 3, 8).transferred, 0u);
}

TEST(FaultInjection, SlowRepliesUseTheSimulatorClock) {
    Rig rig;
    auto dev = rig.Open();
    rig.sim.Inject(SlowReply{250, 2});
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5, 1000).error, 0);
    EXPECT_EQ(rig.clock.SleptMs(), 250u);
    // Slower than the time-out: 1460 after the time-out, and no effect.
    std::uint8_t scratch = 0;
    std::size_t n = 0;
    EXPECT_EQ(
        dev->Control(EncodeCommand(kFw, 0xD0, 9, platform::Direction::In, 1), &scratch, &n, 100),
        1460);
    EXPECT_EQ(rig.clock.SleptMs(), 350u);
    EXPECT_FALSE(rig.sim.Inspect([](const ScannerModel& m) { return m.Enabled(); }));
    EXPECT_EQ(Read(*dev, kFw, 0xD0, 2, 5).error, 0);
    EXPECT_EQ(rig.clock.SleptMs(), 350u);  // the two slow replies are spent
}

TEST(FaultInjection, BulkLimitAndHeldReads) {
    Rig rig;
    auto dev = rig.Open();
    std::vector<std::uint8_t> buf(2048);
    platform::BulkTransferId id = 0;
    std::size_t n = 0;
    rig.sim.Inject(BulkTooLarge{1024});
    EXPECT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf.data(), 2048, &id), 1450);
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf.data(), 1024, &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 0);

    // A held read stays pending until cancelled; waiting costs no real time.
    rig.sim.SetBulkIn(sim::SimulatedScanner::BulkIn::Held);
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf.data(), 512, &id), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 996);
    const std::int64_t before = platform::SteadyNowMs();
    EXPECT_EQ(dev->WaitBulk(id, &n, 5000), 996);
    EXPECT_GE(platform::SteadyNowMs() - before, 5000);
    EXPECT_EQ(dev->CancelBulk(platform::BulkPipe::Out), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 996);  // another pipe
    EXPECT_EQ(dev->CancelBulk(platform::BulkPipe::In), 0);
    EXPECT_EQ(dev->PollBulk(id, &n), 995);
    // Released: a short read again. Unplugged: the pending read fails.
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf.data(), 512, &id), 0);
    rig.sim.SetBulkIn(sim::SimulatedScanner::BulkIn::Flowing);
    EXPECT_EQ(dev->WaitBulk(id, &n, 10), 0);
    rig.sim.SetBulkIn(sim::SimulatedScanner::BulkIn::Held);
    ASSERT_EQ(dev->SubmitBulk(platform::BulkPipe::In, buf.data(), 512, &id), 0);
    rig.sim.Unplug();
    EXPECT_EQ(dev->PollBulk(id, &n), 2);
}

TEST(FaultInjection, ParsesFaultTexts) {
    std::string error;
    auto f = ParseFault("not_ready 10", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<NotReady>(*f).count, 10);
    f = ParseFault("access_denied forever control cmd 0xD0 3", &error);
    ASSERT_TRUE(f);
    auto& d = std::get<AccessDenied>(*f);
    EXPECT_EQ(d.count, kForever);
    EXPECT_EQ(d.site, FaultSite::Control);
    EXPECT_EQ(d.only.cls, 0xD0);
    EXPECT_EQ(d.only.sub, 3);
    f = ParseFault("unplug byte 4096", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<Unplug>(*f).atByte, 4096u);
    f = ParseFault("slow_reply 50 cmd 0xD1", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<SlowReply>(*f).count, kForever);
    EXPECT_EQ(std::get<SlowReply>(*f).only.cls, 0xD1);
    f = ParseFault("unplug open 1", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<Unplug>(*f).atOpen, 1u);
    f = ParseFault("unplug call 2 cmd 0xD0 0x23", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<Unplug>(*f).atCall, 2u);
    EXPECT_EQ(std::get<Unplug>(*f).only.sub, 0x23);
    f = ParseFault("corrupt_reply 1 7 0x01 cmd 0xD0 0x15", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<CorruptReply>(*f).offset, 7u);
    EXPECT_EQ(std::get<CorruptReply>(*f).only.sub, 0x15);
    f = ParseFault("wrong_length 2 -3", &error);
    ASSERT_TRUE(f);
    EXPECT_EQ(std::get<WrongLength>(*f).delta, -3);

    for (const char* bad : {"",
                            "explode",
                            "not_ready",
                            "not_ready -1",
                            "not_ready x",
                            "not_ready 1 open cmd 0xD0",
                            "not_ready 1 cmd 0xD5",
                            "not_ready 1 cmd 0xD0 0x100",
                            "not_ready 1 cmd",
                            "unplug call 0",
                            "unplug byte 4 cmd 0xD0",
                            "unplug 3",
                            "unplug call 3 4",
                            "replug",
                            "zero_status 1 2",
                            "wrong_length 1 0",
                            "wrong_length 1 65",
                            "slow_reply",
                            "slow_reply 600001",
                            "bulk_limit 0",
                            "not_ready 99999999999999999999"}) {
        error.clear();
        EXPECT_FALSE(ParseFault(bad, &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
}  // namespace kovran::sim
