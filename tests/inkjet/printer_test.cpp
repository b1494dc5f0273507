// The printers' device protocol against the simulator, on the fixture's
// manual clock: the cartridge's identification, the warm-up's pauses, and
// the printing thread's end when the scan stops.
#include <gtest/gtest.h>
#include <limits>

#include <string>
#include <vector>

#include "acquisition/scan_state.h"
#include "api/settings.h"
#include "device/connection.h"
#include "device/connection_fixture.h"
#include "inkjet/printer.h"
#include "sim/printer_model.h"

namespace kovran::test {
namespace {

std::vector<std::uint8_t> Info(std::vector<std::uint8_t> head) {
    head.resize(64, 0);
    return head;
}

class Printer2 : public ConnectionTest {
  protected:
    // A scanner with a TIJ2.5 cartridge, opened.
    void OpenWith(const sim::PrinterSettings& printer) {
        sim::DeviceProfile p = Default();
        p.configWord |= 0x400;
        p.inkjet2Config = Info({1, 0, 100, 5, 0, 0, 20, 0});
        p.printer = printer;
        ASSERT_GT(Open(p), 0);
    }
    // The warm-up's pauses (the control transfers take short ones of their own).
    std::vector<unsigned> WarmSleeps() const {
        std::vector<unsigned> warm;
        for (unsigned s : clock.Sleeps())
            if (s >= 100) warm.push_back(s);
        return warm;
    }
    void TearDown() override {
        inkjet::JoinPrintThread();
        acquisition::ScanState().stopRequested.store(false);
        device::CloseDevice();
        ConnectionTest::TearDown();
    }
};

TEST_F(Printer2, TheCartridgeIsIdentifiedBitByBitAndItsTemperatureMeasuredOnce) {
    ASSERT_NO_FATAL_FAILURE(OpenWith({.outputDir = {}, .cartridgeId = 0x12345, .ambient = 118}));
    inkjet::PrinterRecord& p = inkjet::Printer();
    ASSERT_TRUE(p.type2Present);
    ASSERT_TRUE(inkjet::CheckCartridge());
    EXPECT_EQ(p.cartridgeId, 0x12345u);
    EXPECT_EQ(Count("cartridgeID"), 1);
    // Reading 118 against the reference 138: below 20 degrees, kept.
    EXPECT_TRUE(p.ambientKnown);
    EXPECT_LT(p.ambient, 20);
    EXPECT_EQ(Count("TAmb0"), 1);
    // An unchanged identity is not logged again; the ambient is not read again.
    ASSERT_TRUE(inkjet::CheckCartridge());
    EXPECT_EQ(Count("cartridgeID"), 1);
    EXPECT_EQ(Count("TAmb0"), 1);
}

TEST_F(Printer2, IdentificationBitsThatAllReadHighAreRefused) {
    ASSERT_NO_FATAL_FAILURE(
        OpenWith({.outputDir = {}, .cartridge = sim::CartridgeState::InvalidId}));
    EXPECT_FALSE(inkjet::CheckCartridge());
    EXPECT_FALSE(inkjet::Printer().cartridgeOk);
    EXPECT_EQ(Count("invalid cartridgeID  2097151"), 1) << LogBytes();
}

TEST_F(Printer2, AColdCartridgeIsWarmedInHalfSecondStepsUntilItIsWarmEnough) {
    // TSR 150 at 20 degrees: cntT 275, so 65 warm units (6.5 s) are due
    // (13 steps); each pulse raises TSR by 10 and cntT by about 12.7, and
    // TSR 200 still truncates to cntT 338 (not above it): six reads.
    ASSERT_NO_FATAL_FAILURE(OpenWith({.outputDir = {}, .tsr = 150, .tsrPerPulse = 10}));
    ASSERT_TRUE(inkjet::CheckCartridge());
    clock.ClearSleeps();
    ASSERT_TRUE(inkjet::WarmUp());
    const std::vector<unsigned> sleeps = WarmSleeps();
    ASSERT_FALSE(sleeps.empty());
    // Stopped early: once cntT passed 338, well before the 6.5 s were up.
    EXPECT_EQ(sleeps.size(), 6u);
    EXPECT_EQ(Count("AD_3\t"), 6);
    EXPECT_EQ(Count("msecWarmTot 6500"), 1) << LogBytes();
    EXPECT_TRUE(inkjet::Printer().warm);
}

TEST_F(Printer2, AHotCartridgeIsNotWarmed) {
    ASSERT_NO_FATAL_FAILURE(OpenWith({.outputDir = {}, .tsr = 300}));
    ASSERT_TRUE(inkjet::CheckCartridge());
    clock.ClearSleeps();
    ASSERT_TRUE(inkjet::WarmUp());
    EXPECT_TRUE(WarmSleeps().empty());
}

TEST_F(Printer2, TheLongestLeastWarmUpOfTheIniStillWarmsInSteps) {
    ASSERT_NO_FATAL_FAILURE(OpenWith({.outputDir = {}, .tsr = 300}));
    ASSERT_TRUE(inkjet::CheckCartridge());
    Settings().scan.msecWarmTot = std::numeric_limits<std::int32_t>::max();
    clock.ClearSleeps();
    ASSERT_TRUE(inkjet::WarmUp());
    // One step: the hot cartridge is warm enough at its first read.
    EXPECT_EQ(WarmSleeps().size(), 1u);
    EXPECT_EQ(Count("msecWarmTot -"), 0) << LogBytes();
}

TEST_F(Printer2, APrintStoppedBeforeItsDataPassedIsReportedIncomplete) {
    ASSERT_NO_FATAL_FAILURE(OpenWith({.outputDir = {}, .tsr = 300}));
    ASSERT_TRUE(inkjet::CheckCartridge());
    inkjet::PrinterRecord& p = inkjet::Printer();
    p.nozzleData.assign(44 * 30, 0x01);
    p.armed = true;
    p.armedKind = inkjet::PrinterRecord::Kind::Two;
    // No document moves, so the printer takes nothing; the host stops.
    acquisition::ScanState().acquisitionEnded.store(false);
    acquisition::ScanState().stopRequested.store(true);
    ASSERT_TRUE(inkjet::StartPrint());
    EXPECT_EQ(inkjet::CheckPrintedStamp(), KVX_ERR_INKJET_INCOMPLETE);
    EXPECT_EQ(p.remainingBytes.load(), 44u * 30);
    EXPECT_EQ(Count("incomplete Stamp for stop"), 1);
    EXPECT_EQ(Count("incomplete stamp - not sent to printer  1320"), 1) << LogBytes();
    // The stop of the close switches the printer off and disables printing.
    inkjet::StopInkjets();
    EXPECT_TRUE(p.printingDisabled);
    EXPECT_FALSE(p.armed);
}

}  // namespace
}  // namespace kovran::test
