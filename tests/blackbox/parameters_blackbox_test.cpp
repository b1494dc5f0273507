// The parameter exports as a host sees them before it opens a device:
// reading works from the ini defaults, setting needs the device.
#include <gtest/gtest.h>

#include "blackbox/host_fixture.h"

namespace kovran::test {
namespace {

using HostParameters = HostFixture;

TEST_F(HostParameters, ReadingNeedsNoDeviceSettingDoes) {
    Load("Trim=2\nmsecWaitStart=75\n");
    int16_t v = -1;
    EXPECT_EQ(KVX(KVXGetParameter)(2, &v), KVX_OK);
    EXPECT_EQ(v, 2) << "the ini's extended trim";
    EXPECT_EQ(KVX(KVXGetParameter)(102, &v), KVX_OK);
    EXPECT_EQ(v, 75);
    EXPECT_EQ(KVX(KVXGetParameter0)(100), 10000u);
    EXPECT_EQ(KVX(KVXGetParameter0)(103), 60u);

    v = 5;
    EXPECT_EQ(KVX(KVXGetParameter)(7, &v), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(KVX(KVXGetLastResult)(), KVX_ERR_INV_PARAMETER);
    EXPECT_EQ(KVX(KVXGetParameter0)(7), 0xFFFF0000u);
    EXPECT_EQ(KVX(KVXGetParameter0)(1000), 0xFFFF0000u) << "the mode cannot be read";
    EXPECT_EQ(KVX(KVXGetParameter)(100, nullptr), KVX_ERR_INV_PARAMETER);

    EXPECT_EQ(KVX(KVXSetParameter)(100, 5), KVX_ERR_GENERIC);
    EXPECT_EQ(KVX(KVXGetParameter0)(100), 10000u);
}

}  // namespace
}  // namespace kovran::test
