#include "sim/scripted_chat.h"

#include <gtest/gtest.h>

#include "sim/sim_backend.h"
#include "sim/sim_test_util.h"
#include "support/fake_clock.h"

namespace kovran::sim {
namespace {

using simio::Command;
using simio::Read;
using simio::Write;

struct ChatRig {
    explicit ChatRig(std::uint16_t fw) : chat(std::make_shared<ScriptedChat>(fw)), fw_(fw) {
        DeviceProfile p = DefaultDeviceProfile();
        p.firmware = fw;
        backend = std::make_unique<SimBackend>(std::vector<DeviceProfile>{p});
        backend->Device(0).AttachChat(chat);
        int error = 0;
        dev = backend->Open(backend->Device(0).Path(), &error);
    }
    test::FakeClock clock;
    test::ClockScope scope{clock};
    std::shared_ptr<ScriptedChat> chat;
    std::unique_ptr<SimBackend> backend;
    std::unique_ptr<platform::UsbDevice> dev;
    std::uint16_t fw_;
};

TEST(ScriptedChat, AConversationAsScripted) {
    ChatRig rig(0x5012);
    ASSERT_TRUE(rig.dev);
    rig.chat->Expect(ChatRequest::In(0xD0, 2, 5))
        .Reply({2, 5, 0, 1, 2})
        .Expect(ChatRequest::Out(0xD0, 0x14, {1, 2, 3, 4, 5, 6, 7, 8}))
        .Ok()
        .Expect(ChatRequest::NoData(0xD1, 0x36))
        .Ok()
        .Expect(ChatRequest::In(0xD0, 3, 8))
        .Fail(21)
        .Expect(ChatRequest::In(0xD0, 3, 8))
        .TimeOut()
        .Expect(ChatRequest::In(0xD0, 0x2A, 4))
        .Reply({1, 2, 3, 4, 5, 6});  // longer than asked: cut

    auto v = Read(*rig.dev, 0x5012, 0xD0, 2, 5);
    EXPECT_EQ(v.error, 0);
    EXPECT_EQ(v.bytes, (std::vector<std::uint8_t>{2, 5, 0, 1, 2}));
    EXPECT_EQ(Write(*rig.dev, 0x5012, 0xD0, 0x14, {1, 2, 3, 4, 5, 6, 7, 8}), 0);
    EXPECT_EQ(Command(*rig.dev, 0x5012, 0xD1, 0x36), 0);
    EXPECT_EQ(Read(*rig.dev, 0x5012, 0xD0, 3, 8).error, 21);
    EXPECT_EQ(Read(*rig.dev, 0x5012, 0xD0, 3, 8, 3000).error, 1460);
    EXPECT_EQ(rig.clock.SleptMs(), 3000u);
    auto c = Read(*rig.dev, 0x5012, 0xD0, 0x2A, 4);
    EXPECT_EQ(c.transferred, 4u);
    EXPECT_TRUE(rig.chat->Verify().empty());
    EXPECT_EQ(rig.chat->StepsDone(), 6u);
    // The firmware model saw none of it.
    EXPECT_TRUE(
        rig.backend->Device(0).Inspect([](const ScannerModel& m) { return m.History().empty(); }));
    // Standard requests still come from the profile.
    std::vector<std::uint8_t> d;
    EXPECT_EQ(simio::Raw(*rig.dev, 0x80, 6, 0x0304, 0, 34, &d), 0);
    EXPECT_EQ(d.size(), 14u);
}

TEST(ScriptedChat, MismatchesAreRecordedAndReported) {
    ChatRig rig(0x5012);
    std::vector<std::string> seen;
    rig.chat->OnMismatch([&](const std::string& m) { seen.push_back(m); });
    rig.chat->Expect(ChatRequest::In(0xD0, 1, 8))
        .Reply({0})
        .Expect(ChatRequest::Out(0xD0, 0x14, {9, 9, 9, 9, 9, 9, 9, 9}))
        .Ok()
        .Expect(ChatRequest::In(0xD0, 3, 8))
        .Reply({});

    // Asking 4 bytes where 8 were expected.
    EXPECT_EQ(Read(*rig.dev, 0x5012, 0xD0, 1, 4).error, 31);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find("step 1: expected 0xD0/0x01 IN 8 bytes"), std::string::npos) << seen[0];
    // The step is still waiting; the right request passes.
    EXPECT_EQ(Read(*rig.dev, 0x5012, 0xD0, 1, 8).error, 0);
    // Wrong data in a write.
    EXPECT_EQ(Write(*rig.dev, 0x5012, 0xD0, 0x14, {9, 9, 9, 9, 9, 9, 9, 8}), 31);

    auto problems = rig.chat->Verify();
    ASSERT_EQ(problems.size(), 4u);
    EXPECT_NE(problems[1].find("step 2"), std::string::npos);
    EXPECT_NE(problems[2].find("step 2 not reached"), std::string::npos);
    EXPECT_NE(problems[3].find("step 3 not reached"), std::string::npos);
}

TEST(ScriptedChat, ExtraTransfersAndOtherFirmwareForms) {
    ChatRig rig(0x1005);
    rig.chat->Expect(ChatRequest::In(0xD0, 2, 5))
        .Reply({2, 1, 0, 0, 5})
        .Expect(ChatRequest::Out(0xD1, 0x0A, std::vector<std::uint8_t>(8, 1)))
        .Ok();
    // The register form is not what a 0x1005 device hears.
    EXPECT_EQ(Read(*rig.dev, 0x3000, 0xD0, 2, 5).error, 31);
    EXPECT_EQ(Read(*rig.dev, 0x1005, 0xD0, 2, 5).error, 0);
    // The old form carries the write as a read.
    EXPECT_EQ(Read(*rig.dev, 0x1005, 0xD1, 0x0A, 8).error, 0);
    EXPECT_EQ(Read(*rig.dev, 0x1005, 0xD0, 3, 8).error, 31);
    auto problems = rig.chat->Verify();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[1].find("after the last step"), std::string::npos);
    // Faults still apply on top of a chat.
    rig.backend->Device(0).Inject(NotReady{1});
    EXPECT_EQ(Read(*rig.dev, 0x1005, 0xD0, 3, 8).error, 21);
    EXPECT_EQ(rig.chat->Verify().size(), 2u);
}

TEST(ScriptedChat, WireStepsAndTheirEffects) {
    ChatRig rig(0x5012);
    int during = 0;
    rig.chat->Expect(ChatRequest::Wire({0xC0, 0x04, 3, 0, 8}))
        .ClaimExtra(4)
        .During([&] { ++during; })
        .Reply({1, 2, 3, 4, 5, 6, 7, 8})
        .Expect(ChatRequest::Wire({0x40, 0x0C, 0x22, 0, 1}, {7}))
        .Ok()
        .Expect(ChatRequest::Wire({0xC0, 0x04, 3, 0, 8}))
        .Unplug();

    // The wire form is matched as it is, not re-encoded for the firmware.
    std::uint8_t reply[8] = {};
    std::size_t claimed = 0;
    EXPECT_EQ(rig.dev->Control({0xC0, 0x04, 3, 0, 8}, reply, &claimed, 1000), 0);
    EXPECT_EQ(during, 1);
    EXPECT_EQ(reply[7], 8);
    EXPECT_EQ(claimed, 12u) << "the claimed count is passed on as it is";
    // A write must carry the expected data.
    EXPECT_EQ(Write(*rig.dev, 0x5012, 0xD0, 0x22, {8}), 31);
    EXPECT_EQ(Write(*rig.dev, 0x5012, 0xD0, 0x22, {7}), 0);
    // The unplug fails the transfer and takes the device away.
    EXPECT_EQ(Read(*rig.dev, 0x5012, 0xD0, 3, 8).error, 2);
    EXPECT_FALSE(rig.backend->Device(0).Plugged());
    EXPECT_EQ(rig.chat->Verify().size(), 1u);  // the wrong write

    // A forgotten conversation has nothing left to check.
    rig.chat->Expect(ChatRequest::In(0xD0, 3, 8)).Reply({});
    rig.chat->Clear();
    EXPECT_TRUE(rig.chat->Verify().empty());
    EXPECT_EQ(rig.chat->StepsDone(), 0u);
}

}  // namespace
}  // namespace kovran::sim
