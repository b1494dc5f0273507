// The scan API as a host drives it, against the simulated scanner of the
// default profile (a feeder with a few cheques): create, scan, the height
// of what was scanned, the refusals, the stop and the asynchronous scan.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "blackbox/host_fixture.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

class HostScan : public HostFixture {
  protected:
    void SetUp() override {
        setenv("KOVRAN_USB", "sim", 1);
        unsetenv("KOVRAN_SIM");
        Load();
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0);
    }
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
    }
    std::string Log() { return ReadFileBytes(LogFile()); }

    int handle = 0;
};

TEST_F(HostScan, ACreatedImageIsScannedFromTheFeeder) {
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
    const std::uint16_t front = KVX(KVXGetAcqHeight)(handle, 1, 300);
    const std::uint16_t rear = KVX(KVXGetAcqHeight)(handle, 0, 300);
    // A cheque is a few inches long: far more than the margins, far less
    // than the longest document.
    EXPECT_GT(front, 300) << Log();
    EXPECT_LT(front, 4096);
    // Both sides are cropped to the same document, each on its own.
    EXPECT_NEAR(front, rear, 3);
    EXPECT_EQ(KVX(KVXGetAcqHeight)(handle, 9, 300), front);
    EXPECT_EQ(KVX(KVXImgFree)(handle), KVX_OK);
}

TEST_F(HostScan, RefusalsAndTheStickyStop) {
    EXPECT_EQ(KVX(KVXImgCreate)(handle, 5, 300), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_ERR_INV_PARAMETER);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(KVX(KVXStop)(handle, 1), KVX_OK);
    EXPECT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_ERR_ABORTED);
    EXPECT_EQ(KVX(KVXMoveScannerLines)(handle, 1, 100, 300), KVX_ERR_ABORTED);
    EXPECT_EQ(KVX(KVXScanEnable)(handle, 0), KVX_OK);
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    EXPECT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
    std::int16_t status = 0;
    EXPECT_EQ(KVX(KVXImgScan1Async)(handle, nullptr, nullptr, nullptr, 0, nullptr),
              KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXGetForcedRes)(handle, &status, nullptr, nullptr, nullptr), KVX_ERR_GENERIC);
}

TEST_F(HostScan, AnAsyncScanIsPolledToItsEndAndTheCloseJoinsAPendingOne) {
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    std::int16_t status = 0;
    char codeline[256] = {};
    char confidence[256] = {};
    ASSERT_EQ(KVX(KVXImgScan1Async)(handle, nullptr, codeline, confidence, 256, &status), KVX_OK);
    EXPECT_EQ(status, 2);
    KVXResult r = KVX_OK;
    for (int i = 0; i < 100000000 && status != 3; ++i) {
        r = KVX(KVXImgScan1Async)(handle, nullptr, codeline, confidence, 256, &status);
        std::this_thread::yield();
    }
    EXPECT_EQ(status, 3);
    EXPECT_EQ(r, KVX_OK) << Log();
    EXPECT_GT(KVX(KVXGetAcqHeight)(handle, 1, 300), 300);

    // Another one left pending: the close ends and joins it.
    status = 0;
    ASSERT_EQ(KVX(KVXImgScan1Async)(handle, nullptr, codeline, confidence, 256, &status), KVX_OK);
    EXPECT_EQ(KVX(KVXClose)(handle), KVX_OK);
    handle = 0;
}

TEST_F(HostScan, TheContinuousFeederTakesTheNextDocumentWhileTheHostReads) {
    ASSERT_EQ(KVX(KVXSetParameter)(30, 1), KVX_OK) << Log();
    ASSERT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK);
    for (int document = 0; document < 3; ++document) {
        ASSERT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK)
            << "document " << document << "\n"
            << Log();
        EXPECT_GT(KVX(KVXGetAcqHeight)(handle, 1, 300), 300) << "document " << document;
    }
    const std::string log = Log();
    EXPECT_NE(log.find("new scan at end"), std::string::npos) << log;
    // No document taken in the background was stopped and lost.
    EXPECT_EQ(log.find("AcquireImg returns -19"), std::string::npos) << log;
    // The close ends the background acquisition of the next document.
    EXPECT_EQ(KVX(KVXClose)(handle), KVX_OK);
    handle = 0;
}

}  // namespace
}  // namespace kovran::test
