#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "KovranMS.h"
#include "api/error_text.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "platform/sys_error.h"

namespace kovran::test {
namespace {

class FrameTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini("[General]\nLogTimeStamp=0\nLogNew=1\n");
        StartAtLoad();
        mark_ = LogBytes().size();
    }
    // What was logged since the fixture started.
    std::string Logged() const { return LogBytes().substr(mark_); }
    void OpenDevice(int handle) {
        Frame().currentHandle = handle;
        Frame().deviceState = DeviceState::Open;
    }

  private:
    std::size_t mark_ = 0;
};

TEST_F(FrameTest, ErrorTextSizesAndFailures) {
    const std::string message = "Invalid parameter.";
    const int needed = static_cast<int>(message.size()) + 1;
    char buf[64];

    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ErrorText(-3, buf, 0), needed);  // size query writes nothing
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(ErrorText(-3, buf, 0x10000), needed);  // 16 bits of it: 0

    SetLastResult(7);
    EXPECT_EQ(ErrorText(-3, buf, needed), needed);
    EXPECT_STREQ(buf, message.c_str());
    EXPECT_EQ(LastResult(), 7);  // success leaves the last result alone

    EXPECT_EQ(ErrorText(-3, buf, needed - 1), -1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(LastResult(), -3);
    EXPECT_EQ(ErrorText(-3, nullptr, 10), -1);
    EXPECT_EQ(Logged(),
              "err -  error message buffer too small\r\nerr -  error message buffer invalid\r\n");

    EXPECT_EQ(ErrorMessage(1), "Unknown error.");
    EXPECT_EQ(ErrorMessage(-16), "Unknown error.");
    EXPECT_EQ(ErrorMessage(9), ErrorMessage(-9));
}

TEST_F(FrameTest, NullHandleClosesTheDoorForTheFormerHandle) {
    OpenDevice(42);
    EXPECT_TRUE(ApiEnter("KVXClose", 42));
    EXPECT_TRUE(ApiEnter("KVXClose", NoHandle));

    SetLastResult(0);
    EXPECT_FALSE(ApiEnter("KVXClose", 0));
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(Frame().currentHandle, -1);
    EXPECT_FALSE(ApiEnter("KVXClose", 42));
    EXPECT_FALSE(ApiEnter("KVXClose", -1));
    EXPECT_EQ(Logged(), "null handle (AA)\r\ninvalid handle (AA)\r\ninvalid handle (AA)\r\n");
}

TEST_F(FrameTest, DeviceStateWalksFromFailedToReopen) {
    OpenDevice(5);
    EXPECT_FALSE(ApiEnter("f", 6));  // not the current handle
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Open);

    Frame().deviceState = DeviceState::Failed;
    EXPECT_FALSE(ApiEnter("f", 5));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Lost);  // the next check tries a reopen
    EXPECT_FALSE(ApiEnter("f", 5));                            // nothing to reopen here
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);

    Frame().deviceState = DeviceState::None;
    EXPECT_FALSE(ApiEnter("f", 5));
    Frame().deviceState = static_cast<DeviceState>(-7);
    EXPECT_FALSE(ApiEnter("f", 5));
    EXPECT_EQ(Frame().deviceState.load(), DeviceState::Failed);
    EXPECT_NE(Logged().find("err -  device in unexpected state   -7\r\r\n"), std::string::npos)
        << Logged();
}

TEST_F(FrameTest, DetachingRefusesEveryGuardedCall) {
    lib().detaching = true;
    EXPECT_FALSE(ApiEnter("KVXGetLastResult", NoHandle));
    EXPECT_EQ(LastResult(), -17);
    EXPECT_EQ(Logged(), "KVXGetLastResult while detaching\r\n");

    bool ran = false;
    const int r =
        RunExport<int>({.name = "KVXThing", .leave = true}, NoHandle, std::nullopt, -1, [&] {
            ran = true;
            return 0;
        });
    EXPECT_FALSE(ran);
    EXPECT_EQ(r, -17);
    EXPECT_EQ(RunExport<int>({.name = "KVXReadStatusL"}, 3, 0, 0, [] { return 9; }), 0);
}

TEST_F(FrameTest, ExceptionsStopAtTheBoundary) {
    platform::SetLastSystemError(5);
    SetLastResult(0);
    EXPECT_EQ(RunExport<int>({.name = "KVXVersion", .tag = "version"}, NoHandle, std::nullopt, -1,
                             []() -> int { throw std::runtime_error("boom"); }),
              -1);
    EXPECT_EQ(LastResult(), -1);
    EXPECT_EQ(RunExport<int>({.name = "KVXErrorMsg2"}, NoHandle, std::nullopt, 0,
                             []() -> int { throw 3; }),
              0);
    SetLastResult(4);
    RunExport<int>({.name = "KVXReadSN", .exceptionSetsResult = false}, NoHandle, std::nullopt, 0,
                   []() -> int { throw std::bad_alloc(); });
    EXPECT_EQ(LastResult(), 4);
    EXPECT_EQ(Logged(), "excep version  5\r\r\nexcep not mapped\r\nexcep not mapped\r\n");
}

TEST_F(FrameTest, TheResultOfAnOperationBecomesTheLastResult) {
    EXPECT_EQ(RunExport<int>({.name = "KVXA"}, NoHandle, std::nullopt, -1, [] { return -111; }),
              -111);
    EXPECT_EQ(LastResult(), -111);
    RunExport<int>({.name = "KVXCount", .resultIsCode = false}, NoHandle, std::nullopt, -1,
                   [] { return 1234; });
    EXPECT_EQ(LastResult(), -111);
}

}  // namespace
}  // namespace kovran::test
