#include "api/config_dir.h"
#include "api/frame_state.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "api/config_fixture.h"
#include "api/library.h"
#include "platform/bstr.h"
#include "support/temp_dir.h"

namespace kovran {
namespace {

namespace fs = std::filesystem;
using test::ConfigFixture;
using test::WriteFileBytes;

bool IsDir(const std::string& p) {
    return fs::is_directory(p);
}

// A path of exactly len characters below base (components under NAME_MAX).
std::string PathOfLength(const std::string& base, std::size_t len) {
    std::string p = base;
    while (p.size() + 52 < len) p += "/" + std::string(50, 'a');
    p += "/" + std::string(len - p.size() - 1, 'b');
    return p;
}

TEST(DirectoryLevels, CutsAtEverySeparatorOnce) {
    struct Case {
        std::string path;
        std::vector<std::string> levels;
    };
    const std::vector<Case> cases = {
        {"/a/b/c", {"/a", "/a/b", "/a/b/c"}}, {"/a//b/", {"/a", "/a//b"}},
        {"\"/a/b\"", {"/a", "/a/b"}},         {"\"/a/b", {"/a", "/a/b"}},
        {"/a\\b", {"/a", "/a\\b"}},           {"C:\\x\\y", {"C:\\x", "C:\\x\\y"}},
        {"rel/dir", {"rel", "rel/dir"}},      {"/", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(DirectoryLevels(c.path), c.levels) << c.path;
}

TEST(SharedDataBase, MachineFolderThenUserFolders) {
    const SharedDataChoice machine = SharedDataBase(VarLib::Writable, "/x", "/home/u");
    EXPECT_EQ(machine.base, "/var/lib");
    EXPECT_FALSE(machine.perUser);
    const SharedDataChoice user = SharedDataBase(VarLib::ReadOnly, "/data/u", "/home/u");
    EXPECT_EQ(user.base, "/data/u");
    EXPECT_TRUE(user.perUser);
    // A relative XDG_DATA_HOME is ignored.
    EXPECT_EQ(SharedDataBase(VarLib::ReadOnly, "rel", "/home/u/").base, "/home/u/.local/share");
    EXPECT_EQ(SharedDataBase(VarLib::ReadOnly, nullptr, "/home/u").base, "/home/u/.local/share");
    EXPECT_EQ(SharedDataBase(VarLib::ReadOnly, nullptr, "").base, "");
    EXPECT_EQ(SharedDataBase(VarLib::ReadOnly, nullptr, nullptr).base, "");
}

constexpr gid_t kChildGroup = 65534;
constexpr uid_t kChildUser = 65534;

// The probe as a user who may not write the shared folder itself: a forked
// child that drops root when the tests run as root (root may write
// anywhere), else this user with the folder made read-only.
VarLib ProbeAsUnprivileged(const std::string& varLib) {
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kChildGroup) != 0 || setuid(kChildUser) != 0)
                _exit(2);
        }
        _exit(ProbeSharedDataFolder(varLib) == VarLib::Writable ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "the probe's child failed";
    return WIFEXITED(status) && WEXITSTATUS(status) == 1 ? VarLib::Writable : VarLib::ReadOnly;
}

TEST(SharedDataBase, ASystemInstallsSharedDirectoryServesItsGroupBelowAReadOnlyFolder) {
    test::TempDir tmp;
    const std::string varLib = tmp / "lib";
    fs::create_directories(varLib);
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(tmp.path(), open);
    fs::permissions(varLib, open & ~fs::perms::owner_write);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);

    // As a system install leaves it: the scanner group (here the one the
    // child keeps) may write, set-group-id. Run without root, the child is
    // this user, the directory's owner.
    fs::permissions(varLib, fs::perms::owner_write, fs::perm_options::add);
    fs::create_directories(varLib + "/Kovran/V3r");
    fs::permissions(varLib + "/Kovran", open);
    if (geteuid() == 0) {
        ASSERT_EQ(chown((varLib + "/Kovran/V3r").c_str(), 0, kChildGroup), 0);
    }
    fs::permissions(varLib + "/Kovran/V3r", open | fs::perms::group_write | fs::perms::set_gid);
    fs::permissions(varLib, open & ~fs::perms::owner_write);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::Writable);

    // A shared directory this user may not write leaves the user's own.
    fs::permissions(varLib + "/Kovran/V3r", open & ~fs::perms::owner_write);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    fs::permissions(varLib, fs::perms::owner_write, fs::perm_options::add);
}

// The shared directory must be one no other user can change under the
// library: else that user reads or rewrites every member's calibration and
// counters, or points the log at a file of the member's.
TEST(SharedDataBase, ASharedDirectoryAnotherUserControlsIsPassedOver) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand directories to other users";
    test::TempDir tmp;
    const std::string varLib = tmp / "lib";
    const std::string kovran = varLib + "/Kovran";
    const std::string shared = kovran + "/V3r";
    const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
    const auto groupShared = open | fs::perms::group_write | fs::perms::set_gid;
    fs::create_directories(shared);
    fs::permissions(tmp.path(), open);
    fs::permissions(kovran, open);
    ASSERT_EQ(chown(shared.c_str(), 0, kChildGroup), 0);
    fs::permissions(shared, groupShared);
    fs::permissions(varLib, open & ~fs::perms::owner_write);
    ASSERT_EQ(ProbeAsUnprivileged(varLib), VarLib::Writable);

    constexpr uid_t kSomeoneElse = 4242;
    // Writable by everyone: anyone may plant files there.
    fs::permissions(shared, fs::perms::all | fs::perms::set_gid);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    // Owned by another user, who may change its mode at any time.
    fs::permissions(shared, groupShared);
    ASSERT_EQ(chown(shared.c_str(), kSomeoneElse, kChildGroup), 0);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    ASSERT_EQ(chown(shared.c_str(), 0, kChildGroup), 0);
    // A Kovran level others may write: V3r can be swapped for theirs.
    fs::permissions(kovran, fs::perms::all);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    fs::permissions(kovran, open);
    ASSERT_EQ(chown(kovran.c_str(), kSomeoneElse, 0), 0);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    ASSERT_EQ(chown(kovran.c_str(), 0, 0), 0);
    ASSERT_EQ(ProbeAsUnprivileged(varLib), VarLib::Writable);

    // A symbolic link planted at V3r, to a directory the child may write.
    const std::string planted = tmp / "planted";
    fs::create_directories(planted);
    ASSERT_EQ(chown(planted.c_str(), 0, kChildGroup), 0);
    fs::permissions(planted, groupShared);
    fs::permissions(varLib, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(shared);
    fs::create_directory_symlink(planted, shared);
    fs::permissions(varLib, open & ~fs::perms::owner_write);
    EXPECT_EQ(ProbeAsUnprivileged(varLib), VarLib::ReadOnly);
    fs::permissions(varLib, fs::perms::owner_write, fs::perm_options::add);
}

class ConfigDir : public ConfigFixture {};

TEST_F(ConfigDir, DefaultAtLoadCreatesBothLevels) {
    EstablishLoadTimeConfigDir();
    const ConfigState& cfg = Config();
    EXPECT_EQ(cfg.dir, DefaultDir());
    EXPECT_TRUE(cfg.valid);
    EXPECT_EQ(cfg.loadTimeDir, cfg.dir);
    EXPECT_TRUE(IsDir(tmp_ / "base/Kovran"));
    EXPECT_TRUE(IsDir(DefaultDir()));
    EXPECT_EQ(LastResult(), 0);
    EXPECT_FALSE(Logged("setting CnfDir"));
}

TEST_F(ConfigDir, ShortCnfDirIsIgnoredLongerOneIsUsed) {
    for (const char* shortValue : {"C:", "ab", "\"\""}) {
        ResetLibraryState();
        SetUp();
        WriteIni(std::string("[General]\r\nCnfDir=") + shortValue + "\r\n");
        EstablishLoadTimeConfigDir();
        EXPECT_EQ(Config().dir, DefaultDir()) << shortValue;
    }
    const std::string wanted = tmp_ / "x/y/z";
    ResetLibraryState();
    SetUp();
    WriteIni("[general]\nCNFDIR = " + wanted + "\n");
    EstablishLoadTimeConfigDir();
    EXPECT_EQ(Config().dir, wanted);
    EXPECT_EQ(Config().loadTimeDir, wanted);
    EXPECT_TRUE(IsDir(wanted));
    EXPECT_TRUE(Logged("setting CnfDir " + wanted + "\r\n"));
}

TEST_F(ConfigDir, UncreatableCnfDirFallsBackToDefault) {
    WriteFileBytes(tmp_ / "file", "x");
    const std::string through = tmp_ / "file/sub";
    WriteIni("[General]\nCnfDir=" + through + "\n");
    EstablishLoadTimeConfigDir();
    const ConfigState& cfg = Config();
    EXPECT_EQ(cfg.dir, DefaultDir());
    EXPECT_TRUE(cfg.valid);
    EXPECT_EQ(cfg.loadTimeDir, DefaultDir());
    EXPECT_EQ(LastResult(), 0);
    EXPECT_TRUE(Logged("err -  Config Dir  " + through + "\r\n"));
    EXPECT_TRUE(Logged("err -  Not able to create default Config Dir 2  3\r"));
    EXPECT_TRUE(Logged("war -  using default config dir  " + DefaultDir() + "\r\n"));
}

TEST_F(ConfigDir, EveryFailureLeavesTheDirectoryEmptyAndInvalid) {
    WriteFileBytes(tmp_ / "file", "x");
    struct Case {
        const char* name;
        std::string path;
        OnCreateFailure onFailure;
        std::string baseOverride;  // empty: the fixture's working base
    };
    const std::vector<Case> cases = {
        {"no fallback", tmp_ / "file/sub", OnCreateFailure::Fail, ""},
        {"default fails too", tmp_ / "file/sub", OnCreateFailure::FallBack, tmp_ / "file"},
        // A regular file where the last level should be is no directory.
        {"file as last level", tmp_ / "file", OnCreateFailure::Fail, ""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(SetConfigDir((tmp_ / "good").c_str()));
        if (!c.baseOverride.empty()) Config().dataBaseOverride = c.baseOverride;
        EXPECT_FALSE(SetConfigDir(c.path.c_str(), c.onFailure)) << c.name;
        EXPECT_EQ(Config().dir, "") << c.name;
        EXPECT_FALSE(Config().valid) << c.name;
        EXPECT_EQ(LastResult(), -1) << c.name;
        Config().dataBaseOverride = tmp_ / "base";
    }
    EXPECT_FALSE(Logged("using default config dir"));
    EXPECT_TRUE(Logged("err -  Not able to create default Config Dir 2  267\r"));
}

TEST_F(ConfigDir, ParentWhereNobodyMayCreate) {
    // Root ignores permission bits; sysfs refuses new directories to root too.
    if (!IsDir("/sys/kernel")) GTEST_SKIP() << "no sysfs";
    const std::string path = "/sys/kovran-config-test/V3r";
    EXPECT_FALSE(SetConfigDir(path.c_str(), OnCreateFailure::Fail));
    EXPECT_FALSE(Config().valid);
    EXPECT_EQ(Config().dir, "");
    EXPECT_TRUE(Logged("err -  Not able to create default Config Dir 2  5\r"));
    EXPECT_FALSE(fs::exists("/sys/kovran-config-test"));
}

TEST_F(ConfigDir, LengthLimitIs259Characters) {
    const std::string ok = PathOfLength(tmp_.path(), 259);
    const std::string tooLong = PathOfLength(tmp_.path(), 260);
    ASSERT_EQ(ok.size(), 259u);
    ASSERT_EQ(tooLong.size(), 260u);
    ASSERT_TRUE(SetConfigDir(ok.c_str()));
    EXPECT_TRUE(IsDir(ok));
    EXPECT_EQ(Config().dir, ok);

    EXPECT_FALSE(SetConfigDir(tooLong.c_str()));
    EXPECT_EQ(LastResult(), -3);
    EXPECT_EQ(Config().dir, ok);
    EXPECT_TRUE(Config().valid);
    // Every text of a line is cut to 256 characters.
    EXPECT_TRUE(Logged("err -  CfgDir is too long\r\nerr -  " + tooLong.substr(0, 256) + "\r\n"));
    EXPECT_FALSE(fs::exists(tooLong));
}

TEST_F(ConfigDir, DefaultFailuresKeepTheirMessages) {
    WriteFileBytes(tmp_ / "file", "x");
    struct Case {
        std::string base;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"/a", "err -  not able to get V3rCnfDir\r\n"},
        {tmp_ / "%PUBLIC%", "err -  invalid EnvironmentStrings " + (tmp_ / "%PUBLIC%") + "\r\n"},
        {tmp_ / "file", "err -  Base Dir  " + (tmp_ / "file/Kovran") + "\r\n"},
        {tmp_ / "missing", "err -  Not able to create default Config Dir 1  3\r"},
    };
    for (const Case& c : cases) {
        Config().dataBaseOverride = c.base;
        Config().dir = "left over";
        EXPECT_FALSE(DefaultConfigDir()) << c.base;
        EXPECT_EQ(Config().dir, "") << c.base;
        EXPECT_EQ(LastResult(), -1);
        EXPECT_TRUE(Logged(c.line)) << c.line;
        // Through SetConfigDir the failure also leaves nothing behind.
        EXPECT_FALSE(SetConfigDir(nullptr));
        EXPECT_FALSE(Config().valid);
    }
}

TEST_F(ConfigDir, ChangeBeforeInitRestoresTheKeptDirectory) {
    const std::string first = tmp_ / "first";
    ASSERT_TRUE(SetConfigDir(first.c_str()));
    Config().loadTimeDir = first;
    ClearLog();

    EXPECT_TRUE(ChangeConfigDirBeforeInit(first.c_str()));
    EXPECT_TRUE(Logged("CnfDir is not changed\r\n"));
    EXPECT_TRUE(ChangeConfigDirBeforeInit(""));
    EXPECT_TRUE(ChangeConfigDirBeforeInit(nullptr));

    const std::string tooLong = PathOfLength(tmp_.path(), 260);
    ClearLog();
    EXPECT_FALSE(ChangeConfigDirBeforeInit(tooLong.c_str()));
    EXPECT_EQ(Config().dir, first);
    EXPECT_TRUE(Config().valid);
    const std::string log = LogText();
    const std::size_t tooLongAt = log.find("CfgDir is too long");
    const std::size_t errorAt =
        log.find("error setting new CnfDir " + tooLong.substr(0, 256) + "\r\n");
    const std::size_t restoredAt = log.find("restored " + first + "\r\n");
    EXPECT_NE(tooLongAt, std::string::npos);
    EXPECT_NE(errorAt, std::string::npos);
    EXPECT_NE(restoredAt, std::string::npos);
    EXPECT_LT(tooLongAt, errorAt);
    EXPECT_LT(errorAt, restoredAt);

    const std::string second = tmp_ / "second";
    EXPECT_TRUE(ChangeConfigDirBeforeInit(second.c_str()));
    EXPECT_EQ(Config().dir, second);

    // An uncreatable directory falls back to the load-time one.
    WriteFileBytes(tmp_ / "file", "x");
    EXPECT_TRUE(ChangeConfigDirBeforeInit((tmp_ / "file/x").c_str()));
    EXPECT_EQ(Config().dir, first);
    EXPECT_TRUE(Logged("war -  using default config dir  " + first));
}

TEST_F(ConfigDir, FallbackEqualToTheFailedPathIsNotTakenAsEstablished) {
    const std::string loadTime = tmp_ / "load";
    ASSERT_TRUE(SetConfigDir(loadTime.c_str()));
    Config().loadTimeDir = loadTime;
    ASSERT_TRUE(SetConfigDir((tmp_ / "other").c_str()));
    // The load-time directory became impossible to create.
    fs::remove(loadTime);
    WriteFileBytes(loadTime, "x");
    EXPECT_FALSE(SetConfigDir(loadTime.c_str()));
    EXPECT_FALSE(Config().valid);
    EXPECT_EQ(Config().dir, "");
}

TEST_F(ConfigDir, RestoreAndDefaultInitPathExports) {
    const std::string loadTime = tmp_ / "load";
    WriteIni("[General]\nCnfDir=" + loadTime + "\n");
    EstablishLoadTimeConfigDir();
    ASSERT_EQ(Config().dir, loadTime);

    ASSERT_TRUE(SetConfigDir((tmp_ / "other").c_str()));
    EXPECT_EQ(KVXRestoreDefaultInitPath(), 0);
    EXPECT_EQ(Config().dir, loadTime);

    ASSERT_TRUE(SetConfigDir((tmp_ / "other").c_str()));
    SetLastResult(-21);
    BSTR out = platform::AllocBstrBytes("old", 3);
    EXPECT_EQ(KVXDefaultInitPath(&out), 0);
    EXPECT_EQ(platform::BstrView(out), loadTime);
    EXPECT_EQ(KVXDefaultInitPath(nullptr), 0);
    platform::FreeBstr(out);

    // The load-time directory can no longer be created.
    fs::remove(loadTime);
    WriteFileBytes(loadTime, "x");
    ASSERT_TRUE(SetConfigDir((tmp_ / "other").c_str()));
    ClearLog();
    EXPECT_EQ(KVXRestoreDefaultInitPath(), -1);
    EXPECT_EQ(LastResult(), -1);
    EXPECT_TRUE(Logged("err -  restoring config dir\r\n"));
    EXPECT_FALSE(Logged("using default config dir"));
    EXPECT_EQ(Config().dir, "");
    EXPECT_FALSE(Config().valid);

    out = nullptr;
    EXPECT_EQ(KVXDefaultInitPath(&out), -1);
    EXPECT_EQ(platform::BstrView(out), "");
    platform::FreeBstr(out);

    lib().detaching = true;
    ClearLog();
    EXPECT_EQ(KVXDefaultInitPath(nullptr), -17);
    EXPECT_TRUE(Logged("KVXDefaultInitPath while detaching\r\nKVXDefaultInitPath error\r\n"));
    EXPECT_EQ(KVXRestoreDefaultInitPath(), -17);
}

TEST_F(ConfigDir, DirectoryQueries) {
    ASSERT_TRUE(SetConfigDir((tmp_ / "q").c_str()));
    char buf[260];
    for (int handle : {0, -1}) {
        std::fill(std::begin(buf), std::end(buf), 'x');
        SetLastResult(-5);
        EXPECT_EQ(KVXConfigDirGet(handle, buf), 0);
        EXPECT_EQ(std::string(buf), tmp_ / "q");
        EXPECT_EQ(LastResult(), 0);
    }
    EXPECT_EQ(KVXConfigDirGet(0, nullptr), -3);
    EXPECT_EQ(LastResult(), -3);
    // Any other handle needs the open device.
    EXPECT_EQ(KVXConfigDirGet(7, buf), -1);
    EXPECT_TRUE(Logged("invalid handle (AA)"));

    EXPECT_EQ(KVXConfigDirGetB(0, nullptr), -3);
    EXPECT_EQ(LastResult(), -3);
    EXPECT_TRUE(Logged("err -  Serial number request with invalid pointer\r\n"));
    BSTR out = nullptr;
    EXPECT_EQ(KVXConfigDirGetB(0, &out), 0);
    EXPECT_EQ(platform::BstrView(out), tmp_ / "q");
    // For the BSTR form only 0 means "no device".
    EXPECT_EQ(KVXConfigDirGetB(-1, &out), -1);
    platform::FreeBstr(out);
}

TEST_F(ConfigDir, RegisterFileName) {
    ASSERT_TRUE(SetConfigDir((tmp_ / "r").c_str()));
    EXPECT_EQ(RegisterFilePath(0x0003, "AB1234"), tmp_ / "r/pid_0003_AB1234.reg");
    EXPECT_EQ(RegisterFilePath(0x1a2b, ""), tmp_ / "r/pid_1a2b_.reg");
    // A serial number cannot lead out of the directory.
    EXPECT_EQ(RegisterFilePath(3, "../x/y\\z"), tmp_ / "r/pid_0003_.._x_y_z.reg");
    Config().dir.clear();
    Config().valid = false;
    EXPECT_EQ(RegisterFilePath(3, "A"), "");
}

}  // namespace
}  // namespace kovran
