// The numbered parameters through their exports: accepted and refused
// values of every identifier, what a refusal leaves, the messages, and the
// getters of identifiers that cannot be read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KovranMS.h"
#include "acquisition/acq_fixture.h"
#include "acquisition/parameters.h"
#include "device/scan_setup.h"

namespace kovran::test {
namespace {

class ParametersTest : public AcqFixture {
  protected:
    void SetUp() override {
        ini =
            "[General]\nLogTimeStamp=0\nmsecWaitStart=250\nDoubleFeedBlackVe=30000\n[Ocr]\ntypeDoc="
            "4\n";
        AcqFixture::SetUp();
        DeviceIdentity id = Scanner(0x5012);
        id.capabilities.adf = true;
        Open(id);
        device::PrepareScanDefaults();
    }
    int Get(int id) {
        std::int16_t v = -999;
        EXPECT_EQ(KVXGetParameter(id, &v), KVX_OK) << "id " << id;
        return v;
    }
};

// Every refused value of every identifier that refuses some: the result and
// what reading the parameter gives afterwards (-1: not readable).
struct Refusal {
    int id;
    int value;
    KVXResult result;
    int after;
};

TEST_F(ParametersTest, RefusedValues) {
    const std::vector<Refusal> refusals = {
        {0, 0, KVX_ERR_INV_PARAMETER, 1},       {0, 6, KVX_ERR_INV_PARAMETER, 1},
        {0, -1, KVX_ERR_INV_PARAMETER, 1},      {1, 2, KVX_ERR_INV_PARAMETER, 1},
        {1, -1, KVX_ERR_INV_PARAMETER, 1},      {3, 2, KVX_ERR_INV_PARAMETER, 4},
        {3, 14, KVX_ERR_INV_PARAMETER, 4},      {3, -1, KVX_ERR_INV_PARAMETER, 4},
        {4, 7, KVX_ERR_INV_PARAMETER, 1},       {5, 256, KVX_ERR_INV_PARAMETER, 0},
        {5, -1, KVX_ERR_INV_PARAMETER, 0},      {6, 256, KVX_ERR_INV_PARAMETER, 0},
        {9, 2305, KVX_ERR_INV_PARAMETER, 2304}, {9, -1, KVX_ERR_INV_PARAMETER, 2304},
        {16, 2, KVX_ERR_INV_PARAMETER, 65534},  {16, 11, KVX_ERR_INV_PARAMETER, 65534},
        {17, 4, KVX_ERR_INV_PARAMETER, 0},      {17, -1, KVX_ERR_INV_PARAMETER, 0},
        {19, 2, KVX_ERR_INV_PARAMETER, 0},      {19, 1, KVX_ERR_HW_UNSUPPORTED, 0},
        {20, 1, KVX_ERR_INV_PARAMETER, 0},      {102, -5, KVX_ERR_INV_PARAMETER, 250},
        {1000, 9, KVX_ERR_INV_PARAMETER, -1},   {1000, 0, KVX_ERR_INV_PARAMETER, -1},
        {1000, -1, KVX_ERR_INV_PARAMETER, -1},  {1001, 2, KVX_ERR_INV_PARAMETER, -1},
        {7, 0, KVX_ERR_INV_PARAMETER, -1},      {-1, 0, KVX_ERR_INV_PARAMETER, -1},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE("id " + std::to_string(r.id) + " value " + std::to_string(r.value));
        device::PrepareScanDefaults();
        Settings().scan.color = 1;
        // A mode is set up, so a refused mode or colour has one to keep.
        ASSERT_TRUE(device::SetUpAcqMode(0));
        KVXSetLastResult(KVX_OK);
        EXPECT_EQ(KVXSetParameter(r.id, r.value), r.result);
        EXPECT_EQ(KVXGetLastResult(), r.result);
        if (r.after >= 0)
            EXPECT_EQ(static_cast<std::uint16_t>(Get(r.id)), static_cast<std::uint16_t>(r.after));
        else
            EXPECT_EQ(KVXGetParameter0(r.id), 0xFFFF0000u);
    }
}

TEST_F(ParametersTest, TheMessagesOfRefusals) {
    KVXSetParameter(1, 2);
    EXPECT_EQ(Count("V3R_PAR_AUTOROTATE - KVX_ERR_INV_PARAMETER for ParVal 2"), 1) << Logged();
    KVXSetParameter(4, 3);
    EXPECT_EQ(Count("V3R_PAR_ENHANCE_IMG - KVX_ERR_INV_PARAMETER for ParVal 3"), 1);
    KVXSetParameter(1001, -2);
    EXPECT_EQ(Count("V3R_PAR_CORRECT - KVX_ERR_INV_PARAMETER for ParVal -2"), 1);
    KVXSetParameter(9, 3000);
    EXPECT_EQ(Count("V3R_PAR_MAX_HEIGHT_150DPI - Invalid max height value 3000"), 1);
    KVXSetParameter(16, 99);
    EXPECT_EQ(Count("V3R_PAR_BARCODE_TYPE - KVX_ERR_INV_PARAMETER for ParVal 99"), 1);
    KVXSetParameter(17, 9);
    EXPECT_EQ(Count("err -  SetParameter - Invalid PAR_E13B_MAPPING - setting default  9"), 1);
    KVXSetParameter(19, 1);
    EXPECT_EQ(Count("err -  Backlight request not supported by HW"), 1);
    KVXSetParameter(19, 5);
    EXPECT_EQ(Count("err -  SetParameter - Backlight - invalid parameter  5"), 1);
    KVXSetParameter(102, -5);
    EXPECT_EQ(Count("err -  SetParameter - Invalid MSEC_WAIT_START - setting default  -5"), 1);
    KVXSetParameter(3, 2);
    EXPECT_EQ(Count("V3R_PAR_DOC_TYPE 2"), 1);
    KVXSetParameter(7, 1);
    EXPECT_EQ(Count("KVX_ERR_INV_PARAMETER setting ParId 7"), 1);
    EXPECT_EQ(acquisition::SetParameter(8, 1, acquisition::Quiet::Yes), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Count("KVX_ERR_INV_PARAMETER setting ParId 8"), 0);
}

TEST_F(ParametersTest, OnOffParametersStillSwitchOnWithAnyValue) {
    EXPECT_EQ(KVXSetParameter(1, 0), KVX_OK);
    EXPECT_EQ(Get(1), 0);
    EXPECT_EQ(KVXSetParameter(1, 2), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(1), 1);
    // Only the low 16 bits count: 0x10000 is 0.
    EXPECT_EQ(KVXSetParameter(1, 0x10000), KVX_OK);
    EXPECT_EQ(Get(1), 0);
    EXPECT_EQ(KVXSetParameter(1001, 0), KVX_OK);
    EXPECT_FALSE(Settings().scan.correct);
}

TEST_F(ParametersTest, MaxHeightOfTheDevice) {
    EXPECT_EQ(KVXSetParameter(9, 0), KVX_OK);
    EXPECT_EQ(Get(9), 2304);
    EXPECT_EQ(KVXSetParameter(9, 1500), KVX_OK);
    EXPECT_EQ(Get(9), 1500);
    EXPECT_EQ(KVXSetParameter(9, 3000), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(9), 2304);
    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.inkjetType1 = true; });
    EXPECT_EQ(KVXSetParameter(9, 2816), KVX_OK);
    EXPECT_EQ(Get(9), 2816);
    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.adf = false; });
    EXPECT_EQ(KVXSetParameter(9, 0), KVX_OK);
    EXPECT_EQ(Get(9), 2560);
}

TEST_F(ParametersTest, DocumentType) {
    EXPECT_EQ(KVXSetParameter(3, 13), KVX_OK);
    EXPECT_EQ(Get(3), 13);
    EXPECT_EQ(KVXSetParameter(3, 2), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(3), 13);
    // 0 and 1 go back to the ini's type, and say so when it is not 1.
    Settings().scan.maxHeight150 = 0;
    acquisition::Images().maxHeight150 = 5;
    EXPECT_EQ(KVXSetParameter(3, 0), KVX_OK);
    EXPECT_EQ(Get(3), 4);
    EXPECT_NE(Logged().find("ini forces typeDoc to  4"), std::string::npos) << Logged();
    EXPECT_EQ(acquisition::Images().maxHeight150, 2048 + 256 + 2048) << "the default recomputed";
}

TEST_F(ParametersTest, TimesAndTheirIniCopies) {
    EXPECT_EQ(Get(102), 250);
    EXPECT_EQ(KVXSetParameter(102, 40), KVX_OK);
    EXPECT_EQ(Settings().scanIni.msecWaitStart, 40) << "written into the ini defaults too";
    EXPECT_EQ(KVXSetParameter(102, -5), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(102), 40);
    EXPECT_EQ(Get(103), 60);
    Settings().scan.msecAcqTimeoutExtra = 500;
    EXPECT_EQ(KVXSetParameter(103, 5), KVX_OK);
    EXPECT_EQ(Get(103), 5);
    EXPECT_EQ(Settings().scan.msecAcqTimeoutExtra, 0);
    EXPECT_EQ(KVXSetParameter(103, 0), KVX_OK);
    EXPECT_EQ(Get(103), 60);
    EXPECT_EQ(Get(100), 10000);
    EXPECT_EQ(KVXSetParameter(100, -3), KVX_OK);
    EXPECT_EQ(Get(100), 0);
    EXPECT_EQ(Get(101), 10000);
    EXPECT_EQ(KVXSetParameter(101, -3), KVX_OK);
    EXPECT_EQ(Get(101), 0);
    EXPECT_EQ(KVXSetParameter(101, 0x7FFF), KVX_OK);
    EXPECT_EQ(Get(101), 0x7FFF);
}

TEST_F(ParametersTest, DeviceDependentSwitches) {
    // Double feed without a sensor: off, and still success.
    EXPECT_EQ(KVXSetParameter(111, 1), KVX_OK);
    EXPECT_EQ(Get(111), 0);
    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.doubleFeedSensor = true; });
    EXPECT_EQ(KVXSetParameter(111, 1), KVX_OK);
    EXPECT_EQ(Get(111), 1);
    EXPECT_EQ(Settings().scan.doubleFeedDelivery, Settings().scanIni.doubleFeedDelivery);
    // Black reference: off below the ini version.
    EXPECT_EQ(KVXSetParameter(118, 1), KVX_OK);
    EXPECT_EQ(static_cast<std::uint16_t>(Get(118)), 0x9999);
    EXPECT_EQ(KVXSetParameter(118, 0), KVX_OK);
    EXPECT_EQ(Get(118), 0);
    // Backlight on a device with it.
    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.backlight = true; });
    EXPECT_EQ(KVXSetParameter(19, 1), KVX_OK);
    EXPECT_EQ(Get(19), 1);
    // The continuous feeder needs a feeder; removing it waits for its thread.
    EXPECT_EQ(KVXSetParameter(30, 1), KVX_OK);
    EXPECT_EQ(Get(30), 1);
    acquisition::Images().feederThreadRunning = true;
    EXPECT_EQ(KVXSetParameter(30, 0), KVX_ERR_GENERIC);
    EXPECT_EQ(Count("err -  SetParameter - remouving ADF continuos with pending acquisition"), 1);
    EXPECT_EQ(Get(30), 1);
    acquisition::Images().feederThreadRunning = false;
    EXPECT_EQ(KVXSetParameter(30, 0), KVX_OK);
    device::UpdateIdentity([](DeviceIdentity& id) { id.capabilities.adf = false; });
    EXPECT_EQ(KVXSetParameter(30, 1), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Count("err -  SetParameter - ADF continuos without ADF"), 1);
    EXPECT_EQ(Get(30), 0);
    // Slow acquisition changes the device's flag; it cannot be read.
    EXPECT_EQ(KVXSetParameter(104, 1), KVX_OK);
    EXPECT_TRUE(device::Identity().capabilities.slowAcquisition);
    EXPECT_EQ(KVXGetParameter0(104), 0xFFFF0000u);
}

TEST_F(ParametersTest, ResolutionsOfTheCodelineSides) {
    EXPECT_EQ(Get(121), 300);
    EXPECT_EQ(Get(122), 300);
    EXPECT_EQ(Get(123), 0);
    EXPECT_EQ(KVXSetParameter(121, 200), KVX_OK);
    EXPECT_EQ(KVXSetParameter(122, -7), KVX_OK);
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kFront], 200);
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kRear], 0);
    acquisition::Images().codelineSide = kRear;
    acquisition::Images().otherSide = kFront;
    EXPECT_EQ(Get(121), 0);
    EXPECT_EQ(Get(122), 200);
    // PID 11 reads its codeline on the rear.
    DeviceIdentity pid11 = Scanner(0x5012, 11);
    pid11.capabilities.codelineSide = kRear;
    pid11.capabilities.otherSide = kFront;
    Open(pid11);
    device::PrepareScanDefaults();
    EXPECT_EQ(KVXSetParameter(121, 240), KVX_OK);
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kRear], 240);
    EXPECT_EQ(device::AcqMode().request.requestedDpi[kFront], 300);
}

TEST_F(ParametersTest, ParameterSixSharesTheThreshold) {
    EXPECT_EQ(KVXSetParameter(6, 200), KVX_OK);
    EXPECT_EQ(Get(5), 200);
    EXPECT_EQ(Get(6), 0) << "reads a byte nothing sets";
}

TEST_F(ParametersTest, TrimAndIqa) {
    EXPECT_EQ(KVXSetParameter(2, 2), KVX_OK);
    EXPECT_EQ(Get(2), 2);
    EXPECT_EQ(KVXSetParameter(2, 1), KVX_OK);
    EXPECT_EQ(Get(2), 1);
    EXPECT_EQ(KVXSetParameter(2, -4), KVX_OK);
    EXPECT_EQ(Get(2), 0);
    EXPECT_EQ(KVXSetParameter(21, 3), KVX_OK);
    EXPECT_EQ(Get(21), 1);
    EXPECT_EQ(Settings().scan.iqaErrLev, 3);
    EXPECT_EQ(KVXSetParameter(21, -1), KVX_OK);
    EXPECT_EQ(Get(21), 0);
}

TEST_F(ParametersTest, ColourGoesThroughTheModeSetUp) {
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(KVXSetParameter(0, 2), KVX_OK);
    EXPECT_EQ(Settings().scan.acq.colourChannels, 3);
    // Grey with infrared, then a colour part outside 1 to 5.
    EXPECT_EQ(KVXSetParameter(0, 0x09), KVX_OK);
    EXPECT_EQ(Settings().scan.acq.channelLines, 2);
    EXPECT_EQ(KVXSetParameter(0, 0x0E), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Get(0), 0x09);
    EXPECT_EQ(Count("err -  invalid color request  14"), 1);
}

TEST_F(ParametersTest, ForcedModeThroughParameter1000) {
    ASSERT_TRUE(device::SetUpAcqMode(0));
    EXPECT_EQ(KVXSetParameter(1000, 7), KVX_OK);
    EXPECT_TRUE(Settings().scan.acq.forced);
    EXPECT_EQ(Settings().scan.acq.mode, 7);
    // Refused: the previous forced mode stays.
    EXPECT_EQ(KVXSetParameter(1000, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Settings().scan.acq.mode, 7);
    EXPECT_EQ(KVXSetParameter(1000, 8), KVX_OK);
    EXPECT_FALSE(Settings().scan.acq.forced);
}

TEST_F(ParametersTest, GettersWithoutADeviceAndBadArguments) {
    Frame().currentHandle = kNoHandle;
    Frame().deviceState = DeviceState::None;
    EXPECT_EQ(Get(100), 10000) << "reading needs no device";
    std::int16_t v = 123;
    EXPECT_EQ(KVXGetParameter(7, &v), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(v, 123);
    EXPECT_EQ(KVXGetLastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(Count("KVX_ERR_INV_PARAMETER getting ParId 7"), 1);
    EXPECT_EQ(KVXGetParameter0(7), 0xFFFF0000u);
    EXPECT_EQ(KVXGetParameter0(100), 10000u);
    EXPECT_EQ(KVXGetParameter(100, nullptr), KVX_ERR_INV_PARAMETER);
    // Setting needs an open device.
    EXPECT_EQ(KVXSetParameter(100, 5), KVX_ERR_GENERIC);
    EXPECT_EQ(Count("invalid handle (AA)"), 1);
    EXPECT_EQ(Get(100), 10000);
}

TEST_F(ParametersTest, AnInitialiseRestoresTheIniValues) {
    EXPECT_EQ(KVXSetParameter(2, 2), KVX_OK);
    EXPECT_EQ(KVXSetParameter(100, 5), KVX_OK);
    device::PrepareScanDefaults();
    EXPECT_EQ(Get(2), 1) << "the ini's Trim";
    EXPECT_EQ(Get(100), 10000);
}

}  // namespace
}  // namespace kovran::test
