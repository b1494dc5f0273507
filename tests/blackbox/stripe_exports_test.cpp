// The magnetic stripe exports as a host calls them, against a simulated
// scanner whose profile queues the cards to swipe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "blackbox/host_fixture.h"
#include "decoders/stripe/card_bytes.h"

namespace kovran::test {
namespace {

using stripe::Lrc;

const std::string kTrack1 = "%B5555444433331111^HOLDER/TEST^3011101?";
const std::string kTrack2 = ";5555444433331111=30111010000?";
const std::string kTrack3 = ";015555444433331111=1=0?";
const std::string kCard = kTrack1 + "|" + kTrack2 + "|" + kTrack3;

std::string Scanner(const std::string& extra) {
    return "[device]\npid = 3\nserial = 240016\nlocation = 1-1\nfirmware = 0x5012\n" + extra;
}

class HostStripe : public HostFixture {
  protected:
    void SetUp() override { setenv("KOVRAN_USB", "sim", 1); }
    void TearDown() override {
        for (BSTR& b : tracks) {
            if (b) KVX(SysFreeString)(b);
            b = nullptr;
        }
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
    }
    // Loads the library against one scanner and initialises it.
    int Open(const std::string& extra) {
        const std::string file = dir / "scanner.profile";
        WriteFileBytes(file, Scanner(extra));
        setenv("KOVRAN_SIM", file.c_str(), 1);
        Load();
        const int handle = KVX(KVXInitialize)(configDir().c_str());
        EXPECT_GT(handle, 0);
        return handle;
    }
    KVXResult Read(int handle, int flags) {
        return KVX(KVXMagStripe)(handle, &tracks[0], &tracks[1], &tracks[2], flags);
    }
    std::string Track(int t) { return Bytes(tracks[t - 1]); }
    std::string Message() {
        char text[128] = {};
        KVX(KVXErrorMsg2)(sizeof text, text);
        return text;
    }
    std::string Data(int handle, int16_t track, int16_t length, KVXResult* result) {
        std::string buffer(static_cast<std::size_t>(length), 'x');
        *result = KVX(KVXMagStripeData)(handle, track, length, buffer.data());
        return buffer;
    }

    BSTR tracks[3] = {};
};

TEST_F(HostStripe, ASwipedCardComesBackTrackByTrackInEitherDirection) {
    const int h = Open("swipe = " + kCard + "\nswipe = " + kCard + "|reversed\n");
    ASSERT_EQ(Read(h, 0), KVX_OK);
    EXPECT_EQ(Track(1), kTrack1 + Lrc(1, kTrack1));
    EXPECT_EQ(Track(2), kTrack2 + Lrc(2, kTrack2));
    EXPECT_EQ(Track(3), kTrack3 + Lrc(3, kTrack3));
    ASSERT_EQ(Read(h, KVX_MS_NO_START_SENTINEL | KVX_MS_NO_END_SENTINEL | KVX_MS_NO_LRC), KVX_OK);
    EXPECT_EQ(Track(1), "B5555444433331111^HOLDER/TEST^3011101");
    EXPECT_EQ(Track(2), "5555444433331111=30111010000");
    EXPECT_EQ(Track(3), "015555444433331111=1=0");
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_OK);
}

TEST_F(HostStripe, TheStoredTextsAreReadWithTheirBufferRules) {
    const int h = Open("swipe = " + kCard + "\n");
    ASSERT_EQ(KVX(KVXMagStripeTrackRead)(h, KVX_MS_NO_END_SENTINEL), KVX_OK);
    KVXResult r = KVX_ERR_GENERIC;
    // Without the end sentinel the LRC takes its place.
    std::string text = Data(h, 2, 64, &r);
    EXPECT_EQ(r, KVX_OK);
    EXPECT_EQ(std::string(text.c_str()), kTrack2.substr(0, kTrack2.size() - 1) + Lrc(2, kTrack2));
    EXPECT_EQ(text.find_first_not_of('\0', kTrack2.size()), std::string::npos) << "cleared";
    // Exactly the text and its terminator fit.
    text = Data(h, 3, static_cast<int16_t>(kTrack3.size() + 1), &r);
    EXPECT_EQ(r, KVX_OK);
    text = Data(h, 3, static_cast<int16_t>(kTrack3.size()), &r);
    EXPECT_EQ(r, KVX_ERR_OCR_AREA);
    EXPECT_EQ(text, std::string(kTrack3.size(), '\0'));
    EXPECT_NE(ReadFileBytes(LogFile()).find("data filed too short"), std::string::npos);
    for (const int16_t other : {0, 4, -1}) {
        text = Data(h, other, 8, &r);
        EXPECT_EQ(r, KVX_OK) << other;
        EXPECT_EQ(text, std::string(8, '\0'));
    }
    EXPECT_EQ(KVX(KVXMagStripeData)(h, 1, 64, nullptr), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXMagStripeTrackClear)(h), KVX_OK);
    EXPECT_EQ(Data(h, 1, 64, &r).c_str(), kTrack1.substr(0, kTrack1.size() - 1) + Lrc(1, kTrack1));
}

TEST_F(HostStripe, AFlawedTrackComesBackEmptyWithItsResultAndTheOthersStill) {
    const int h =
        Open("swipe = " + kCard + "|fault=lrc@1\nswipe = " + kCard + "|reversed fault=parity@3\n");
    EXPECT_EQ(Read(h, 0), KVX_ERR_MS_LRC);
    EXPECT_EQ(Message(), "Magnetic stripe - LCR error.");
    EXPECT_EQ(Track(1), "");
    EXPECT_EQ(Track(2), kTrack2 + Lrc(2, kTrack2));
    EXPECT_EQ(Read(h, 7), KVX_ERR_MS_PARITY);
    EXPECT_EQ(Message(), "Magnetic stripe - parity error.");
    EXPECT_EQ(Track(1), "B5555444433331111^HOLDER/TEST^3011101");
    EXPECT_EQ(Track(3), "");
    KVXResult r = KVX_OK;
    EXPECT_EQ(Data(h, 3, 8, &r), std::string(8, '\0'));
}

TEST_F(HostStripe, NoSwipeTimesOutWithEmptyTracks) {
    const int h = Open("");
    ASSERT_EQ(KVX(KVXSetParameter)(101, 300), KVX_OK);
    EXPECT_EQ(Read(h, 0), KVX_ERR_TIMEOUT);
    EXPECT_EQ(Track(1), "");
    EXPECT_EQ(Track(2), "");
    EXPECT_NE(ReadFileBytes(LogFile()).find("Magnetic Stripe Timeout"), std::string::npos);
    EXPECT_EQ(KVX(KVXMagStripeTrackRead)(h, 0), KVX_ERR_TIMEOUT);
}

TEST_F(HostStripe, AnUnplugDuringTheWaitEndsIt) {
    // The status reads of the initialise come first; a later one pulls the plug.
    const int h = Open("fault = unplug call 6 cmd 0xD0 0x03\n");
    ASSERT_EQ(KVX(KVXSetParameter)(101, 30000), KVX_OK);
    const KVXResult r = Read(h, 0);
    EXPECT_LT(r, 0);
    EXPECT_NE(r, KVX_ERR_TIMEOUT);
}

TEST_F(HostStripe, ADeviceWithoutAReaderRefusesReadsButNotTheSwitch) {
    const int h = Open("stripe_reader = no\nswipe = " + kCard + "\n");
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_OK);
    EXPECT_EQ(KVX(KVXMagStripeEnable)(h, 1), KVX_OK);
    EXPECT_EQ(KVX(KVXMagStripeEnable)(h, 0), KVX_OK);
    EXPECT_EQ(Read(h, 0), KVX_ERR_HW_UNSUPPORTED);
    EXPECT_EQ(Track(2), "");
    EXPECT_EQ(KVX(KVXMagStripeReset)(h), KVX_ERR_HW_UNSUPPORTED);
}

TEST_F(HostStripe, TheReaderSwitchesAndResetsAndRefusesABadHandle) {
    const int h = Open("swipe = " + kCard + "\n");
    EXPECT_EQ(KVX(KVXMagStripeEnable)(h, 0), KVX_OK);
    EXPECT_EQ(KVX(KVXReadStatusL)(h) & 0x1000u, 0u);
    EXPECT_EQ(KVX(KVXMagStripeEnable)(h, 1), KVX_OK);
    EXPECT_EQ(KVX(KVXReadStatusL)(h) & 0xF000u, 0xF000u) << "on, and the card passed";
    // The reset throws the card away.
    EXPECT_EQ(KVX(KVXMagStripeReset)(h), KVX_OK);
    EXPECT_EQ(KVX(KVXReadStatusL)(h) & 0xF000u, 0x1000u);
    EXPECT_EQ(KVX(KVXMagStripeEnable)(h + 1, 1), KVX_ERR_GENERIC);
    EXPECT_EQ(Read(h + 1, 0), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXMagStripeTrackClear)(0), KVX_ERR_GENERIC);
}

}  // namespace
}  // namespace kovran::test
