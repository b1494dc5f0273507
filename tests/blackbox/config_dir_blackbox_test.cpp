// The configuration directory as a host sees it through libKovranMS.so.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "KovranMS.h"
#include "api/config_dir.h"
#include "support/hosted_library.h"
#include "support/temp_dir.h"

namespace kovran {
namespace {

namespace fs = std::filesystem;
using test::HostedLibrary;
using test::TempDir;

using ConfigDirGetFn = KVXResult (*)(int, char*);
using ConfigDirGetBFn = KVXResult (*)(int, BSTR*);
using DefaultInitPathFn = KVXResult (*)(BSTR*);
using LastResultFn = KVXResult (*)();
using FreeFn = void (*)(BSTR);
using LenFn = unsigned (*)(BSTR);

const std::string& MadeDir(const std::string& dir) {
    fs::create_directories(dir);
    return dir;
}

struct Host {
    explicit Host(const std::string& dir, const std::string& ini)
        : library(MadeDir(dir), ini.c_str()),
          get(library.Function<ConfigDirGetFn>("KVXConfigDirGet")),
          getB(library.Function<ConfigDirGetBFn>("KVXConfigDirGetB")),
          defaultInitPath(library.Function<DefaultInitPathFn>("KVXDefaultInitPath")),
          lastResult(library.Function<LastResultFn>("KVXGetLastResult")),
          freeString(library.Function<FreeFn>("SysFreeString")),
          byteLen(library.Function<LenFn>("SysStringByteLen")) {}

    std::string Text(BSTR b) const {
        return b ? std::string(reinterpret_cast<const char*>(b), byteLen(b)) : std::string();
    }

    HostedLibrary library;
    ConfigDirGetFn get;
    ConfigDirGetBFn getB;
    DefaultInitPathFn defaultInitPath;
    LastResultFn lastResult;
    FreeFn freeString;
    LenFn byteLen;
};

TEST(ConfigDirBlackBox, QueriesReturnTheDirectoryFromTheIni) {
    TempDir tmp;
    const std::string cnf = tmp / "cnf/V3r";
    Host host(tmp / "lib", "[General]\nCnfDir=" + cnf + "\nLog=0\n");
    ASSERT_TRUE(host.get && host.getB && host.freeString && host.byteLen);
    EXPECT_TRUE(fs::is_directory(cnf));

    char buf[260] = {};
    EXPECT_EQ(host.get(0, buf), 0);
    EXPECT_EQ(std::string(buf), cnf);
    EXPECT_EQ(host.get(-1, buf), 0);
    EXPECT_EQ(host.get(0, nullptr), -3);
    EXPECT_EQ(host.lastResult(), -3);
    EXPECT_EQ(host.get(12, buf), -1);  // no device is open

    BSTR dir = nullptr;
    EXPECT_EQ(host.getB(0, &dir), 0);
    EXPECT_EQ(host.Text(dir), cnf);
    EXPECT_EQ(host.byteLen(dir), cnf.size());
    // A string already in the out argument is replaced.
    EXPECT_EQ(host.getB(0, &dir), 0);
    EXPECT_EQ(host.Text(dir), cnf);
    host.freeString(dir);
    EXPECT_EQ(host.getB(0, nullptr), -3);
    EXPECT_EQ(host.lastResult(), -3);

    dir = nullptr;
    EXPECT_EQ(host.defaultInitPath(&dir), 0);
    EXPECT_EQ(host.Text(dir), cnf);
    host.freeString(dir);
}

// The default directory's base comes from KOVRAN_DATA_BASE here, so that
// the test never writes below /var/lib.
class DataBaseEnv {
  public:
    explicit DataBaseEnv(const std::string& base) { ::setenv(kDataBaseEnv, base.c_str(), 1); }
    ~DataBaseEnv() { ::unsetenv(kDataBaseEnv); }
};

TEST(ConfigDirBlackBox, DefaultBelowTheDataBase) {
    TempDir tmp;
    const std::string base = tmp / "base";
    fs::create_directory(base);
    DataBaseEnv env(base);
    const std::string expected = base + "/Kovran/V3r";
    {
        Host host(tmp / "lib", "[General]\nLog=0\n");
        char buf[260] = {};
        EXPECT_EQ(host.get(0, buf), 0);
        EXPECT_EQ(std::string(buf), expected);
        EXPECT_TRUE(fs::is_directory(expected));
    }
    // A "CnfDir" that cannot be created falls back to the default.
    test::WriteFileBytes(tmp / "file", "x");
    {
        Host host(tmp / "lib2", "[General]\nCnfDir=" + (tmp / "file/cnf") + "\nLog=0\n");
        BSTR dir = nullptr;
        EXPECT_EQ(host.getB(0, &dir), 0);
        EXPECT_EQ(host.Text(dir), expected);
        host.freeString(dir);
    }
}

}  // namespace
}  // namespace kovran
