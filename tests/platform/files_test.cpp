#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/sys_error.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

bool IsDirectory(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(Files, CreateDirectoryLevelReportsWindowsErrors) {
    TempDir dir;
    const std::string sub = dir / "sub";
    ASSERT_TRUE(CreateDirectoryLevel(sub));
    EXPECT_TRUE(IsDirectory(sub));

    SetLastSystemError(0);
    EXPECT_FALSE(CreateDirectoryLevel(sub));
    EXPECT_EQ(LastSystemError(), kErrorAlreadyExists);

    WriteFileBytes(dir / "file", "x");
    SetLastSystemError(0);
    EXPECT_FALSE(CreateDirectoryLevel(dir / "file"));
    EXPECT_EQ(LastSystemError(), kErrorAlreadyExists);

    SetLastSystemError(0);
    EXPECT_FALSE(CreateDirectoryLevel(dir / "file/below"));
    EXPECT_EQ(LastSystemError(), kErrorPathNotFound);

    SetLastSystemError(0);
    EXPECT_FALSE(CreateDirectoryLevel(dir / "missing/below"));
    EXPECT_EQ(LastSystemError(), kErrorPathNotFound);
}

TEST(Files, DeleteExistsAndSize) {
    TempDir dir;
    const std::string f = dir / "data.bin";
    EXPECT_FALSE(FileExists(f));
    EXPECT_EQ(FileSize(f), -1);
    WriteFileBytes(f, std::string(1234, 'z'));
    EXPECT_TRUE(FileExists(f));
    EXPECT_EQ(FileSize(f), 1234);
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_EQ(FileSize(dir.path()), -1);

    ASSERT_TRUE(DeleteFileAt(f));
    EXPECT_FALSE(FileExists(f));
    SetLastSystemError(0);
    EXPECT_FALSE(DeleteFileAt(f));
    EXPECT_EQ(LastSystemError(), kErrorFileNotFound);
    SetLastSystemError(0);
    EXPECT_FALSE(DeleteFileAt(dir.path()));
    EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
}

TEST(Files, MoveRefusesAnExistingTargetUnlessReplacing) {
    TempDir dir;
    const std::string a = dir / "a", b = dir / "b", c = dir / "c";
    WriteFileBytes(a, "A");
    WriteFileBytes(b, "B");

    SetLastSystemError(0);
    EXPECT_FALSE(MoveFileTo(a, b, false));
    EXPECT_EQ(LastSystemError(), kErrorAlreadyExists);
    EXPECT_EQ(ReadFileBytes(a), "A");
    EXPECT_EQ(ReadFileBytes(b), "B");

    ASSERT_TRUE(MoveFileTo(a, c, false));
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadFileBytes(c), "A");

    ASSERT_TRUE(MoveFileTo(c, b, true));
    EXPECT_FALSE(FileExists(c));
    EXPECT_EQ(ReadFileBytes(b), "A");

    SetLastSystemError(0);
    EXPECT_FALSE(MoveFileTo(dir / "none", dir / "x", true));
    EXPECT_EQ(LastSystemError(), kErrorFileNotFound);
}

TEST(Files, ToUpperTouchesOnlyAsciiLetters) {
    EXPECT_EQ(ToUpper("abc-XYZ_09 z{"), "ABC-XYZ_09 Z{");
    EXPECT_EQ(ToUpper("\xe9\xe0"), "\xe9\xe0");
    EXPECT_EQ(ToUpper(""), "");
}

TEST(Files, WildcardMatch) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.log", "KovranMS_host.log", true},
        {"*.log", "KovranMS_host.LOG", true},
        {"*.log", "KovranMS_host.log.old", false},
        {"*.LOG", "a.log", true},
        {"*", "", true},
        {"", "", true},
        {"", "a", false},
        {"?", "", false},
        {"?", "a", true},
        {"a?c", "abc", true},
        {"a?c", "ac", false},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        {"**x", "abcx", true},
        {"pid_*_*.reg", "pid_0003_216548.reg", true},
        {"pid_*_*.reg", "pid_0003.reg", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildcardMatch(c.pattern, c.name), c.match) << c.pattern << " ~ " << c.name;
    }
}

}  // namespace
}  // namespace kovran::platform
