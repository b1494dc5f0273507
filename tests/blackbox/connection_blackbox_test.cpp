// The device connection as a host sees it: the initialise functions, the
// handle, the open count, the close and the reset, the announcement to the
// monitoring component, the counters, the status and the utility commands,
// against the scanner simulator chosen through the environment.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"

namespace kovran::test {
namespace {

// A scanner of the main family; `extra` lines replace or add keys.
std::string Scanner(const std::string& serial, const std::string& location,
                    const std::string& extra = "") {
    return "[device]\npid = 3\nserial = " + serial + "\nlocation = " + location +
           "\nfirmware = 0x5012\n"
           "config_word = 0x0A057982\nconfig_word2 = 0x0030\n"
           "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n"
           "photo_tuning = 80 80 80 80 40 40 40 40\n"
           "hardware_key = 4B 56 58 2D 53 49 4D 00\n"
           "page_counter = 1500\ninkjet_counter = 20\n" +
           extra;
}

class HostConnection : public HostFixture {
  protected:
    void SetUp() override { setenv("KOVRAN_USB", "sim", 1); }
    void TearDown() override {
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
        unsetenv("KOVRAN_OSTRA_RECORD");
    }
    // Loads the library against the simulated scanners of `profile`.
    void LoadWith(const std::string& profile, const std::string& ini = "") {
        const std::string file = dir / "scanners.profile";
        WriteFileBytes(file, profile);
        setenv("KOVRAN_SIM", file.c_str(), 1);
        Load(ini);
    }
    int Init() { return KVX(KVXInitialize)(configDir().c_str()); }
    int LastResult() { return KVX(KVXGetLastResult)(); }
    std::string Log() { return ReadFileBytes(LogFile()); }
    std::string Serial(int handle) {
        char text[64] = {};
        KVX(KVXReadSN)(handle, text, sizeof text);
        return text;
    }
    static int Count(const std::string& text, const std::string& what) {
        int n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + what.size()))
            ++n;
        return n;
    }
    std::string RegisterFile(const std::string& serial) {
        return configDir() + "/pid_0003_" + serial + ".reg";
    }
};

TEST_F(HostConnection, TwoInitialisesShareTheHandleAndTheSecondCloseClosesTheDevice) {
    LoadWith(Scanner("012345", "1-1"));
    const int handle = Init();
    // Serial low mod 1000000 + PID × 1000000.
    EXPECT_EQ(handle, 3012345);
    EXPECT_EQ(Init(), handle);

    EXPECT_EQ(KVX(KVXClose)(handle), KVX_OK);
    EXPECT_EQ(Count(Log(), "device closed"), 1);
    EXPECT_NE(KVX(KVXReadStatusL)(handle), 0u) << "one open is still counted";

    EXPECT_EQ(KVX(KVXClose)(handle), KVX_OK);
    EXPECT_EQ(Count(Log(), "device closed"), 2);
    EXPECT_EQ(KVX(KVXReadStatusL)(handle), 0u);
    EXPECT_EQ(LastResult(), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXClose)(handle), KVX_ERR_GENERIC) << "a stale handle";
}

TEST_F(HostConnection, TheOpenLogsTheBannerTheIdentityAndTheCounters) {
    LoadWith(Scanner("012345", "1-1"));
    ASSERT_NE(Init(), -1);
    const std::string log = Log();
    EXPECT_NE(log.find("device opened"), std::string::npos);
    EXPECT_NE(log.find("pid 0003, ser.num. 012345, ver. 5012, 12V, hs"), std::string::npos);
    EXPECT_NE(log.find("pages acquired with this SN: 1500"), std::string::npos);
    EXPECT_NE(log.find("with SequenceCheck"), std::string::npos);
}

TEST_F(HostConnection, InitializeNumOpensTheIndexedDeviceAndFailsPastTheLast) {
    LoadWith(Scanner("200001", "1-1") + Scanner("200002", "1-2"));
    const int second = KVX(KVXInitializeNum)(configDir().c_str(), 1);
    ASSERT_NE(second, -1);
    EXPECT_EQ(Serial(second), "200002");
    KVX(KVXClose)(second);
    const int first = KVX(KVXInitializeNum)(configDir().c_str(), 0);
    EXPECT_EQ(Serial(first), "200001");
    KVX(KVXClose)(first);

    LoadWith(Scanner("200001", "1-1"));
    EXPECT_EQ(KVX(KVXInitializeNum)(configDir().c_str(), 1), -1);
    EXPECT_EQ(LastResult(), KVX_ERR_DEVICE);
}

TEST_F(HostConnection, InitializeSnOpensOnlyTheMatchingDevice) {
    LoadWith(Scanner("300001", "1-1") + Scanner("300002", "1-2"));
    EXPECT_EQ(KVX(KVXInitializeSN)(configDir().c_str(), "999999"), -1);
    EXPECT_EQ(LastResult(), KVX_ERR_DEVICE);
    EXPECT_EQ(Count(Log(), "not opening SN"), 2);

    const int handle = KVX(KVXInitializeSN)(configDir().c_str(), "300002");
    ASSERT_NE(handle, -1);
    EXPECT_EQ(Serial(handle), "300002");
}

TEST_F(HostConnection, WithoutAScannerTheInitialiseFails) {
    LoadWith("[device]\nplugged = no\n");
    EXPECT_EQ(Init(), -1);
    EXPECT_EQ(LastResult(), KVX_ERR_DEVICE);
}

TEST_F(HostConnection, EveryDeviceExportRefusesABadHandle) {
    LoadWith(Scanner("400001", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    char text[64];
    uint8_t block[8];
    uint16_t word = 0;
    BSTR bstr = nullptr;
    for (const int bad : {0, -1, handle + 1}) {
        SCOPED_TRACE(bad);
        if (bad == 0) continue;  // checked last: handle 0 forgets the current handle
        EXPECT_EQ(KVX(KVXReadStatusL)(bad), 0u);
        EXPECT_EQ(KVX(KVXPagNumTot)(bad), -1);
        EXPECT_EQ(KVX(KVXPagNumCur)(bad, 1), -1);
        EXPECT_EQ(KVX(KVXInkjetNumTot)(bad), -1);
        EXPECT_EQ(KVX(KVXInkjetNumCur)(bad, 0), -1);
        EXPECT_EQ(KVX(KVXBuzzer)(bad, 10, 0), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXHWKey)(bad, block, 8), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXDeviceInfo)(bad, &word, &word, &word), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXReadSerialNumber)(bad, &bstr), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXReadSerialNumber0)(bad, sizeof text, text), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXReadSN)(bad, text, sizeof text), -1);
        EXPECT_EQ(KVX(KVXPhotoTunRead)(bad, block), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXPhotoTunWrite)(bad, block), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXPhotoTunWriteVB)(bad, 1, 2, 3, 4, 5, 6, 7, 8), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXReset)(bad), KVX_ERR_GENERIC);
        EXPECT_EQ(KVX(KVXClose)(bad), KVX_ERR_GENERIC);
        EXPECT_EQ(LastResult(), KVX_ERR_GENERIC);
    }
    EXPECT_NE(KVX(KVXReadStatusL)(handle), 0u) << "the open device is untouched";
    EXPECT_NE(Log().find("invalid handle (AA)"), std::string::npos);

    EXPECT_EQ(KVX(KVXPagNumTot)(0), -1);
    EXPECT_NE(Log().find("null handle (AA)"), std::string::npos);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), -1) << "handle 0 forgets the current handle";
}

TEST_F(HostConnection, SerialNumberExportsFollowTheirBufferRules) {
    LoadWith(Scanner("123456", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    char text[32] = {};
    EXPECT_EQ(KVX(KVXReadSN)(handle, nullptr, 0), 7);
    EXPECT_EQ(KVX(KVXReadSN)(handle, text, 0), 7) << "a size query";
    EXPECT_EQ(KVX(KVXReadSN)(handle, text, -5), 7) << "a size query";
    EXPECT_EQ(KVX(KVXReadSN)(handle, text, 6), -1);
    EXPECT_EQ(LastResult(), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("buffer too short"), std::string::npos);
    EXPECT_EQ(KVX(KVXReadSN)(handle, text, 7), 7);
    EXPECT_STREQ(text, "123456");

    EXPECT_EQ(KVX(KVXReadSerialNumber0)(handle, 15, text), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("serial number buffer too short. Len >= 16 expected."), std::string::npos);
    EXPECT_EQ(KVX(KVXReadSerialNumber0)(handle, 16, nullptr), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("null serial number buffer"), std::string::npos);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(KVX(KVXReadSerialNumber0)(handle, 16, text), KVX_OK);
    EXPECT_STREQ(text, "123456");

    EXPECT_EQ(KVX(KVXReadSerialNumber)(handle, nullptr), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("Serial number request with invalid pointer"), std::string::npos);
    BSTR serial = nullptr;
    EXPECT_EQ(KVX(KVXReadSerialNumber)(handle, &serial), KVX_OK);
    EXPECT_EQ(Bytes(serial), "123456");
    KVX(SysFreeString)(serial);

    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t fw = 0;
    EXPECT_EQ(KVX(KVXDeviceInfo)(handle, &vid, nullptr, nullptr), KVX_OK);
    EXPECT_EQ(KVX(KVXDeviceInfo)(handle, &vid, &pid, &fw), KVX_OK);
    EXPECT_EQ(vid, 0x7E51);
    EXPECT_EQ(pid, 3);
    EXPECT_EQ(fw, 0x5012);
}

TEST_F(HostConnection, TheVersionFlagInBit15ComesBackOnlyThroughDeviceInfo) {
    std::string profile = Scanner("123456", "1-1");
    profile.replace(profile.find("firmware = 0x5012"), 17, "firmware = 0xD012");
    LoadWith(profile);
    const int handle = Init();
    ASSERT_NE(handle, -1);
    uint16_t fw = 0;
    KVX(KVXDeviceInfo)(handle, nullptr, nullptr, &fw);
    EXPECT_EQ(fw, 0xD012);
    EXPECT_NE(Log().find("ver. 5012"), std::string::npos);
}

TEST_F(HostConnection, HardwareKeyAndPhotoTuning) {
    LoadWith(Scanner("123456", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    uint8_t key[8];
    EXPECT_EQ(KVX(KVXHWKey)(handle, nullptr, 8), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXHWKey)(handle, key, 0), KVX_ERR_INV_PARAMETER);
    EXPECT_NE(Log().find("HWKey invalid parameter"), std::string::npos);
    EXPECT_EQ(KVX(KVXHWKey)(handle, key, 8), KVX_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key)), "KVX-SIM");
    uint8_t big[65];
    EXPECT_LT(KVX(KVXHWKey)(handle, big, 65), 0) << "more than one command carries";

    uint8_t tuning[8] = {};
    EXPECT_EQ(KVX(KVXPhotoTunRead)(handle, tuning), KVX_OK);
    EXPECT_EQ(tuning[0], 0x80);
    EXPECT_EQ(tuning[7], 0x40);
    EXPECT_EQ(KVX(KVXPhotoTunRead)(handle, nullptr), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXPhotoTunWriteVB)(handle, 1, 2, 3, 4, 5, 6, 7, 8), KVX_OK);
    uint8_t b[8] = {};
    EXPECT_EQ(
        KVX(KVXPhotoTunReadVB)(handle, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], nullptr),
        KVX_OK);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[6], 7);
    EXPECT_EQ(b[7], 0) << "a null pointer receives nothing";
}

TEST_F(HostConnection, APhotoTuningBlockReadBackDifferentIsASavingError) {
    LoadWith(Scanner("123456", "1-1", "fault = corrupt_reply forever 3 0x01 cmd 0xD0 0x15\n"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    const uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(KVX(KVXPhotoTunWrite)(handle, block), KVX_ERR_GENERIC);
    EXPECT_EQ(LastResult(), KVX_ERR_GENERIC);
    EXPECT_NE(Log().find("Photo tuning saving error - not matching"), std::string::npos);
}

TEST_F(HostConnection, OlderFirmwareHasNoPhotoTuningNorHardwareKey) {
    // FW 0x5002: bit 27 does not count yet.
    LoadWith(
        "[device]\npid = 3\nserial = 500201\nfirmware = 0x5002\nconfig_word = 0x08000002\n"
        "[device]\npid = 3\nserial = 300501\nfirmware = 0x3005\nlocation = 1-2\n"
        "config_word = 0x00000002\n");
    int handle = KVX(KVXInitializeNum)(configDir().c_str(), 0);
    ASSERT_NE(handle, -1);
    uint8_t block[8];
    EXPECT_EQ(KVX(KVXPhotoTunRead)(handle, block), KVX_ERR_HW_UNSUPPORTED);
    EXPECT_NE(Log().find("Photo tuning not supported"), std::string::npos);
    EXPECT_EQ(KVX(KVXBuzzer)(handle, 10, 0), KVX_ERR_HW_UNSUPPORTED) << "no buzzer bit";
    KVX(KVXClose)(handle);

    handle = KVX(KVXInitializeNum)(configDir().c_str(), 1);
    ASSERT_NE(handle, -1);
    EXPECT_EQ(KVX(KVXHWKey)(handle, block, 8), KVX_ERR_HW_UNSUPPORTED);
    EXPECT_NE(Log().find("HWKey not supported"), std::string::npos);
}

TEST_F(HostConnection, CountersKeptByTheDevice) {
    LoadWith(Scanner("123456", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 1500);
    EXPECT_EQ(KVX(KVXInkjetNumTot)(handle), 20);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 0), 0);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 1), 0);
    EXPECT_NE(Log().find("resetting PageCntCur"), std::string::npos);
    const std::string file = ReadFileBytes(RegisterFile("123456"));
    EXPECT_NE(file.find("nPagesCur=0"), std::string::npos) << file;
    EXPECT_EQ(file.find("nPages="), std::string::npos) << "the device keeps the total";
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 1), 0);
    EXPECT_NE(Log().find("resetting InkjetCntCur"), std::string::npos);
}

TEST_F(HostConnection, CountersKeptInTheRegisterFile) {
    // FW 0x2206 has no counter register: the file holds every count.
    LoadWith("[device]\npid = 3\nserial = 220601\nfirmware = 0x2206\nconfig_word = 2\n");
    std::filesystem::create_directories(configDir());
    const std::string file = RegisterFile("220601");
    WriteFileBytes(file,
                   "[General]\r\nnPages=42\r\nnPagesCur=-5\r\nInkjetCnt=abc\r\n"
                   "InkjetCntCur=7\r\n");
    const int handle = Init();
    ASSERT_NE(handle, -1);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 42);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 0), 0) << "a negative count reads as 0";
    EXPECT_EQ(KVX(KVXInkjetNumTot)(handle), 0) << "garbage reads as 0";
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 7);
    EXPECT_NE(Log().find("pages acquired with this SN on this PC: 42"), std::string::npos);

    // A count the host reads follows the file, also when it changes.
    WriteFileBytes(file, "[General]\r\nnPages=2147483647\r\nnPagesCur=9\r\n");
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 2147483647);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 1), 0);
    EXPECT_NE(ReadFileBytes(file).find("nPagesCur=0"), std::string::npos);
    EXPECT_NE(ReadFileBytes(file).find("nPages=2147483647"), std::string::npos)
        << "a reset never touches the total";

    // Missing and unwritable files are no failure of the export.
    std::filesystem::remove(file);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 0);
    WriteFileBytes(file, "[General]\r\nnPagesCur=3\r\n");
    ::chmod(configDir().c_str(), 0500);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 1), 0);
    ::chmod(configDir().c_str(), 0700);
}

TEST_F(HostConnection, AHandleKeptAfterTheCloseIsRefusedEverywhere) {
    LoadWith(Scanner("123456", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    ASSERT_EQ(KVX(KVXClose)(handle), KVX_OK);
    char text[64];
    uint8_t block[8];
    uint16_t word = 0;
    BSTR bstr = nullptr;
    EXPECT_EQ(KVX(KVXReadStatusL)(handle), 0u);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), -1);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 1), -1);
    EXPECT_EQ(KVX(KVXBuzzer)(handle, 10, 0), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXHWKey)(handle, block, 8), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXDeviceInfo)(handle, &word, &word, &word), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXReadSerialNumber)(handle, &bstr), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXReadSerialNumber0)(handle, sizeof text, text), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXReadSN)(handle, text, sizeof text), -1);
    uint8_t b[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(
        KVX(KVXPhotoTunReadVB)(handle, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]),
        KVX_ERR_GENERIC);
    EXPECT_EQ(b[0], 0) << "zeros after a refused read";
    EXPECT_EQ(KVX(KVXReset)(handle), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXClose)(handle), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXComposition)(), 0u);
    EXPECT_EQ(KVX(KVXSetParameter)(9, 0), KVX_ERR_GENERIC);
    EXPECT_EQ(Init(), handle) << "the device opens again";
}

TEST_F(HostConnection, RegisterFilesOutOfRangeOrNotAFileGiveLimitedCounts) {
    LoadWith("[device]\npid = 3\nserial = 220601\nfirmware = 0x2206\nconfig_word = 2\n");
    std::filesystem::create_directories(configDir());
    const std::string file = RegisterFile("220601");
    WriteFileBytes(file,
                   "[General]\r\nnPages=99999999999999999999\r\nnPagesCur=4294967295\r\n"
                   "InkjetCnt=2147483648\r\nInkjetCntCur= 12abc\r\n");
    const int handle = Init();
    ASSERT_NE(handle, -1);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 0x7FFFFFFF);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 0), 0x7FFFFFFF);
    EXPECT_EQ(KVX(KVXInkjetNumTot)(handle), 0x7FFFFFFF);
    EXPECT_EQ(KVX(KVXInkjetNumCur)(handle, 0), 12);
    // A directory where the file should be: nothing to read, nothing written.
    std::filesystem::remove(file);
    std::filesystem::create_directories(file);
    EXPECT_EQ(KVX(KVXPagNumTot)(handle), 0);
    EXPECT_EQ(KVX(KVXPagNumCur)(handle, 1), 0);
    EXPECT_TRUE(std::filesystem::is_directory(file));
}

TEST_F(HostConnection, TheOpenFindsTheFirmwareWhateverTheDeviceAnswersTheOldForm) {
    // Register-form firmware that stalls the old-form read, one that
    // answers it, and old-form firmware itself.
    LoadWith(
        "[device]\npid = 3\nserial = 501201\nfirmware = 0x5012\nlocation = 1-1\n"
        "config_word = 2\n"
        "[device]\npid = 5\nserial = 100701\nfirmware = 0x1007\nlocation = 1-2\n"
        "old_request_form = yes\nconfig_word = 2\n"
        "[device]\npid = 3\nserial = 100501\nfirmware = 0x1005\nlocation = 1-3\n"
        "config_word = 2\n");
    const uint16_t expected[] = {0x5012, 0x1007, 0x1005};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const int handle = KVX(KVXInitializeNum)(configDir().c_str(), i);
        ASSERT_NE(handle, -1) << Log();
        uint16_t fw = 0;
        EXPECT_EQ(KVX(KVXDeviceInfo)(handle, nullptr, nullptr, &fw), KVX_OK);
        EXPECT_EQ(fw, expected[i]);
        EXPECT_NE(KVX(KVXReadStatusL)(handle), 0u) << "the device is usable after the open";
        EXPECT_EQ(KVX(KVXClose)(handle), KVX_OK);
    }
    EXPECT_EQ(Log().find("Device with invalid ver"), std::string::npos);
}

TEST_F(HostConnection, ADeviceThatFailsBothVersionReadsIsNotOpened) {
    LoadWith(Scanner("123456", "1-1", "fault = access_denied 1 control cmd 0xD0 0x02\n"));
    EXPECT_EQ(Init(), -1);
    EXPECT_EQ(LastResult(), KVX_ERR_DEVICE);
    EXPECT_NE(Log().find("Device with invalid ver -> disconnected or USB stack down"),
              std::string::npos);
    // The next initialise finds the device again.
    EXPECT_EQ(Init(), 3123456);
}

TEST_F(HostConnection, AFailedConfigurationReadStopsTheSetUpButNotTheInitialise) {
    LoadWith(Scanner("123456", "1-1", "fault = access_denied 1 control cmd 0xD0 0x01\n"));
    const int handle = Init();
    EXPECT_EQ(handle, 3123456);
    EXPECT_LT(LastResult(), 0);
    EXPECT_EQ(Log().find("pid 0003, ser.num."), std::string::npos)
        << "the set-up stopped before the identity line";
}

TEST_F(HostConnection, CompositionReadsTheConfigurationAgain) {
    LoadWith(Scanner("123456", "1-1"), "[ADF]\ndisable=1\n");
    EXPECT_EQ(KVX(KVXComposition)(), 0u) << "no device open";
    const int handle = Init();
    ASSERT_NE(handle, -1);
    const int before = Count(Log(), "ADF diasbled by ini");
    EXPECT_GE(before, 1);
    EXPECT_EQ(KVX(KVXComposition)(), 0x0A057982u);
    EXPECT_EQ(KVX(KVXCompositionL)(), 0x0A057982u);
    EXPECT_EQ(KVX(KVXCompositionH)(), 0x0030u);
    EXPECT_EQ(Count(Log(), "ADF diasbled by ini"), before + 3);
    // The feeder's photocell is no longer reported.
    EXPECT_EQ(KVX(KVXReadStatusL)(handle) & 0x20000u, 0u);
}

TEST_F(HostConnection, MissingExternalPowerIsAWarningOfTheInitialise) {
    LoadWith(Scanner("123456", "1-1", "external_power = no\n"));
    const int handle = Init();
    EXPECT_EQ(handle, 3123456);
    EXPECT_EQ(LastResult(), KVX_WAR_NO_POWER);
    EXPECT_NE(Log().find("The device is missing external power"), std::string::npos);
}

TEST_F(HostConnection, ResetReopensAnUnpluggedAndReturnedDevice) {
    // The buzzer-off command pulls the plug; the device comes back only
    // after the buzzer's own tries and the reset guard's reopen have
    // missed it (eight looks), so the reset's own reopen finds it.
    LoadWith(Scanner("123456", "1-1", "fault = unplug call 1 cmd 0xD0 0x23\nfault = replug 8\n"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    EXPECT_EQ(KVX(KVXBuzzer)(handle, 0, 0), KVX_ERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(KVX(KVXReset)(handle), KVX_OK) << Log();
    EXPECT_NE(Log().find("device reopened in reset"), std::string::npos) << Log();
    EXPECT_NE(KVX(KVXReadStatusL)(handle), 0u);
}

TEST_F(HostConnection, UnloadClosesTheOpenDevice) {
    LoadWith(Scanner("123456", "1-1"));
    ASSERT_NE(Init(), -1);
    const std::string logFile = LogFile();
    hosted().Unload();
    const std::string log = ReadFileBytes(logFile);
    EXPECT_NE(log.find("not expected - dll detach"), std::string::npos);
    EXPECT_NE(log.find("device closed"), std::string::npos);
}

class HostAnnouncement : public HostConnection {
  protected:
    void LoadAnnouncing(const std::string& profile) {
        std::filesystem::create_directories(dir / "ostra");
        std::filesystem::copy_file(BuiltMonitorStandInPath(), dir / "ostra/libGSOstraDll.so");
        setenv("KOVRAN_OSTRA_RECORD", (dir / "calls.txt").c_str(), 1);
        LoadWith(profile, "[EOstra]\nPathClientOstra=" + (dir / "ostra") + "\n");
    }
    std::string Calls() { return ReadFileBytes(dir / "calls.txt"); }
};

TEST_F(HostAnnouncement, TheDeviceIsAnnouncedOnceWithEveryEventInOrder) {
    LoadAnnouncing(Scanner("123456", "1-1"));
    const int handle = Init();
    ASSERT_NE(handle, -1);
    const std::string calls = Calls();
    const std::string announced =
        "OstraLogExt 8 10 0 1 [] [] 0 0\n"
        "OstraLogExt 4 4 3 0 [HW] [0x0003] 0 0\n"
        "OstraLogExt 4 4 3 0 [MAIN] [0x5012] 0 0\n"
        "OstraLogExt 4 5 3 0 [Kovran V3r cheque scanner] [123456] 0 0\n"
        // A scanner without calibration files.
        "OstraLogExt 4 4 2 0 [MISSING] [CALIBRATION] 0 0\n"
        "OstraLogExt 2 2 0 1 [] [CALIBRATION] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [CLEAN] 0 0\n"
        "OstraLogExt 4 4 3 0 [DLL] [2.2.5.5] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [FRONT] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [REAR] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [MICR] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [OCR] 0 0\n"
        "OstraLogExt 4 4 2 0 [] [BACKLIGHT] 0 0\n"
        "OstraLogExt 4 4 2 1 [] [ADF] 0 0\n"
        "OstraLogExt 4 4 2 0 [] [INKJET] 0 0\n";
    EXPECT_NE(calls.find(announced), std::string::npos) << calls;

    // A second initialise announces nothing new; the last close says the
    // device is gone.
    EXPECT_EQ(Init(), handle);
    EXPECT_EQ(Count(Calls(), "[HW]"), 1);
    KVX(KVXClose)(handle);
    EXPECT_EQ(Count(Calls(), "OstraLogExt 8 10 0 0"), 0);
    KVX(KVXClose)(handle);
    EXPECT_EQ(Count(Calls(), "OstraLogExt 8 10 0 0"), 1);
}

TEST_F(HostAnnouncement, AnInkjetOfType1AnnouncesItsCounter) {
    LoadAnnouncing(
        "[device]\npid = 14\nserial = 140001\nfirmware = 0x4012\nconfig_word = 0x00020302\n"
        "inkjet1_config = 01 02\n");
    std::filesystem::create_directories(configDir());
    WriteFileBytes(configDir() + "/pid_000e_140001.reg", "[General]\r\nInkjetCntCur=33\r\n");
    ASSERT_NE(Init(), -1);
    const std::string calls = Calls();
    EXPECT_NE(calls.find("OstraLogExt 4 5 14 0 [Kovran V3r document scanner] [140001]"),
              std::string::npos)
        << calls;
    EXPECT_NE(calls.find("OstraLogExt 4 4 2 1 [] [BACKLIGHT] 0 0\n"), std::string::npos);
    EXPECT_NE(calls.find("OstraLogExt 4 4 2 1 [] [INKJET] 0 0\n"
                         "OstraLogExt 4 6 0 0 [] [33] 0 0\n"),
              std::string::npos)
        << calls;
}

}  // namespace
}  // namespace kovran::test
