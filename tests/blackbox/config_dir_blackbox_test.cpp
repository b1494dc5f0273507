// The configuration directory as a host sees it through libKovranMS.so.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "KovranMS.h"
#include "api/config_dir.h"
#include "blackbox/host_fixture.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

using ConfigDirBlackBox = HostFixture;

TEST_F(ConfigDirBlackBox, QueriesReturnTheDirectoryFromTheIni) {
    const std::string cnf = dir / "cnf/V3r";
    LoadIn(dir / "lib", "[General]\nCnfDir=" + cnf + "\nLog=0\n");
    EXPECT_TRUE(fs::is_directory(cnf));

    char buf[260] = {};
    EXPECT_EQ(KVX(KVXConfigDirGet)(0, buf), 0);
    EXPECT_EQ(std::string(buf), cnf);
    EXPECT_EQ(KVX(KVXConfigDirGet)(-1, buf), 0);
    EXPECT_EQ(KVX(KVXConfigDirGet)(0, nullptr), -3);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -3);
    EXPECT_EQ(KVX(KVXConfigDirGet)(12, buf), -1);  // no device is open

    BSTR text = nullptr;
    EXPECT_EQ(KVX(KVXConfigDirGetB)(0, &text), 0);
    EXPECT_EQ(Bytes(text), cnf);
    EXPECT_EQ(KVX(SysStringByteLen)(text), cnf.size());
    // A string already in the out argument is replaced.
    EXPECT_EQ(KVX(KVXConfigDirGetB)(0, &text), 0);
    EXPECT_EQ(Bytes(text), cnf);
    KVX(SysFreeString)(text);
    EXPECT_EQ(KVX(KVXConfigDirGetB)(0, nullptr), -3);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -3);

    text = nullptr;
    EXPECT_EQ(KVX(KVXDefaultInitPath)(&text), 0);
    EXPECT_EQ(Bytes(text), cnf);
    KVX(SysFreeString)(text);
}

// The default directory's base comes from KOVRAN_DATA_BASE here, so that
// the test never writes below /var/lib.
class DataBaseEnv {
  public:
    explicit DataBaseEnv(const std::string& base) { ::setenv(kDataBaseEnv, base.c_str(), 1); }
    ~DataBaseEnv() { ::unsetenv(kDataBaseEnv); }
};

TEST_F(ConfigDirBlackBox, DefaultBelowTheDataBase) {
    const std::string base = dir / "base";
    fs::create_directory(base);
    DataBaseEnv env(base);
    const std::string expected = base + "/Kovran/V3r";

    LoadIn(dir / "lib", "[General]\nLog=0\n");
    char buf[260] = {};
    EXPECT_EQ(KVX(KVXConfigDirGet)(0, buf), 0);
    EXPECT_EQ(std::string(buf), expected);
    EXPECT_TRUE(fs::is_directory(expected));

    // A "CnfDir" that cannot be created falls back to the default.
    WriteFileBytes(dir / "file", "x");
    LoadIn(dir / "lib2", "[General]\nCnfDir=" + (dir / "file/cnf") + "\nLog=0\n");
    BSTR text = nullptr;
    EXPECT_EQ(KVX(KVXConfigDirGetB)(0, &text), 0);
    EXPECT_EQ(Bytes(text), expected);
    KVX(SysFreeString)(text);
}

}  // namespace
}  // namespace kovran::test
