#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sys_error.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

TEST(ParseDecimal, FollowsTheRuntimeAtoi) {
    struct Case {
        const char* text;
        int expected;
    } cases[] = {{"42", 42},
                 {"  \t\n\v\f\r17", 17},
                 {"+5", 5},
                 {"-5", -5},
                 {"- 5", 0},
                 {"+-5", 0},
                 {"12abc", 12},
                 {"3.9", 3},
                 {"0x1A", 0},
                 {"1A", 1},
                 {"", 0},
                 {"abc", 0},
                 {"-", 0},
                 {"2147483647", INT_MAX},
                 {"2147483648", INT_MAX},
                 {"99999999999999999999999", INT_MAX},
                 {"-2147483648", INT_MIN},
                 {"-2147483649", INT_MIN},
                 {"-99999999999999999999999", INT_MIN},
                 {"000000000000000000000012", 12}};
    for (const Case& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ProfileRead, ValuesAsTheProfileApiReturnsThem) {
    TempDir dir;
    const std::string ini = dir / "test.ini";
    const std::string v259(259, 'v');
    std::string text =
        "; leading comment\r\n"
        "orphan=before any section\r\n"
        "[Main]\r\n"
        "Plain=abc\r\n"
        "  Padded  =   spaced out  \t\r\n"
        "Empty=\r\n"
        "Blank=   \r\n"
        "Dup=first\r\n"
        "DUP=second\r\n"
        "DQuoted=\"  keep inner blanks \"\r\n"
        "SQuoted='single'\r\n"
        "Mixed=\"mixed'\r\n"
        "Lone=\"\r\n"
        "Double=\"\"x\"\"\r\n"
        "Eq=a=b=c\r\n"
        "Number=  -12xyz\r\n"
        "; Commented=yes\r\n"
        "  ;Indented=yes\r\n"
        "NoEquals\r\n";
    text += "Long259=" + v259 + "\r\nLong260=" + v259 + "w\r\nQuoted=\"" + v259 + "w\"\r\n";
    text +=
        "  [  other  ]  \r\n"
        "Plain=other section\r\n"
        "[main]\r\n"
        "OnlyInDuplicate=yes\r\n"
        "[Unix]\n"
        "Lf=line feed only\n"
        "Last=no final line end";
    WriteFileBytes(ini, text);

    struct Case {
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {{"Main", "Plain", "abc"},
                 {"MAIN", "plain", "abc"},
                 {"  Main ", " Plain  ", "abc"},
                 {"Main", "Padded", "spaced out"},
                 {"Main", "Empty", ""},
                 {"Main", "Blank", ""},
                 {"Main", "Dup", "first"},
                 {"Main", "DQuoted", "  keep inner blanks "},
                 {"Main", "SQuoted", "single"},
                 {"Main", "Mixed", "\"mixed'"},
                 {"Main", "Lone", "\""},
                 {"Main", "Double", "\"x\""},
                 {"Main", "Eq", "a=b=c"},
                 {"Main", "Long259", v259},
                 {"Main", "Long260", v259},
                 {"Main", "Quoted", v259},
                 {"Other", "Plain", "other section"},
                 {"Unix", "Lf", "line feed only"},
                 {"Unix", "Last", "no final line end"},
                 // Not found: the default, without its trailing blanks.
                 {"Main", "Commented", "def"},
                 {"Main", "Indented", "def"},
                 {"Main", "NoEquals", "def"},
                 {"Main", "OnlyInDuplicate", "def"},
                 {"Main", "orphan", "def"},
                 {"Missing", "Plain", "def"}};
    for (const Case& c : cases) {
        EXPECT_EQ(GetProfileString(c.section, c.key, "def  \t", ini), c.expected)
            << c.section << "/" << c.key;
    }
    EXPECT_EQ(GetProfileNumber("Main", "Number", "5", ini), -12);
    EXPECT_EQ(GetProfileNumber("Main", "Empty", "5", ini), 0);
    EXPECT_EQ(GetProfileNumber("Main", "Absent", " 5 ", ini), 5);
}

TEST(ProfileRead, MissingOrUnreadableFileGivesTheDefault) {
    TempDir dir;
    const std::string def260(260, 'd');
    EXPECT_EQ(GetProfileString("S", "K", "fallback ", dir / "absent.ini"), "fallback");
    EXPECT_EQ(GetProfileString("S", "K", def260, dir / "absent.ini"), def260.substr(0, 259));
    EXPECT_EQ(GetProfileString("S", "K", "", dir / "absent.ini"), "");
    // A directory where the file should be.
    EXPECT_EQ(GetProfileString("S", "K", "dir", dir.path()), "dir");
    EXPECT_EQ(GetProfileNumber("S", "K", "-7", dir / "absent.ini"), -7);
}

class ProfileWrite : public ::testing::Test {
  protected:
    TempDir dir;
    std::string ini = dir / "w.ini";
};

TEST_F(ProfileWrite, ReplacesOnlyTheFirstMatchKeepingTheRestByteForByte) {
    const std::string before =
        "; comment  with  blanks\r\n"
        "[Counters]\n"
        "  Pages = 10 \r\n"
        "pages=shadowed\r\n"
        "Other=1\r\n"
        "\r\n"
        "[counters]\r\n"
        "Pages=in duplicate\r\n"
        "[Tail]\r\n"
        "x=y";
    WriteFileBytes(ini, before);
    ASSERT_TRUE(WriteProfileString("COUNTERS", "PAGES", "11", ini));
    EXPECT_EQ(ReadFileBytes(ini),
              "; comment  with  blanks\r\n"
              "[Counters]\n"
              "Pages=11\r\n"
              "pages=shadowed\r\n"
              "Other=1\r\n"
              "\r\n"
              "[counters]\r\n"
              "Pages=in duplicate\r\n"
              "[Tail]\r\n"
              "x=y");
    EXPECT_EQ(GetProfileString("Counters", "Pages", "", ini), "11");
}

TEST_F(ProfileWrite, AddsKeysAfterTheLastKeyAndSectionsAtTheEnd) {
    WriteFileBytes(ini,
                   "[A]\r\n"
                   "k1=1\r\n"
                   "; trailing comment of A\r\n"
                   "\r\n"
                   "[B]\n"
                   "[C]\r\n"
                   "c=3");
    ASSERT_TRUE(WriteProfileString("a", "k2", "2", ini));
    ASSERT_TRUE(WriteProfileString("B", "b", "", ini));
    ASSERT_TRUE(WriteProfileString("C", "c2", "4", ini));
    ASSERT_TRUE(WriteProfileString("New", "n", "5", ini));
    EXPECT_EQ(ReadFileBytes(ini),
              "[A]\r\n"
              "k1=1\r\n"
              "k2=2\r\n"
              "; trailing comment of A\r\n"
              "\r\n"
              "[B]\n"
              "b=\r\n"
              "[C]\r\n"
              "c=3\r\n"
              "c2=4\r\n"
              "[New]\r\n"
              "n=5\r\n");
    EXPECT_EQ(GetProfileString("B", "b", "def", ini), "");
    EXPECT_EQ(GetProfileString("New", "n", "", ini), "5");
}

TEST_F(ProfileWrite, CreatesTheFileAndDeletesKeys) {
    ASSERT_TRUE(WriteProfileString("S", "one", "1", ini));
    ASSERT_TRUE(WriteProfileString("S", "two", "2", ini));
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\none=1\r\ntwo=2\r\n");

    ASSERT_TRUE(WriteProfileString("s", "ONE", std::nullopt, ini));
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\ntwo=2\r\n");
    EXPECT_EQ(GetProfileString("S", "one", "gone", ini), "gone");

    // Deleting what is not there changes nothing and creates nothing.
    ASSERT_TRUE(WriteProfileString("S", "absent", std::nullopt, ini));
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\ntwo=2\r\n");
    ASSERT_TRUE(WriteProfileString("S", "k", std::nullopt, dir / "never.ini"));
    EXPECT_NE(access((dir / "never.ini").c_str(), F_OK), 0);
}

TEST_F(ProfileWrite, LeavesNoTemporaryFilesAndKeepsPermissions) {
    WriteFileBytes(ini, "[S]\r\nk=1\r\n");
    ASSERT_EQ(chmod(ini.c_str(), 0640), 0);
    ASSERT_TRUE(WriteProfileString("S", "k", "2", ini));
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\nk=2\r\n");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(e.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"w.ini"});
}

TEST_F(ProfileWrite, WritesThroughASymbolicLink) {
    const std::string real = dir / "real.ini";
    WriteFileBytes(real, "[S]\r\nk=1\r\n");
    ASSERT_EQ(symlink(real.c_str(), ini.c_str()), 0);
    ASSERT_TRUE(WriteProfileString("S", "k", "2", ini));
    struct stat st {};
    ASSERT_EQ(lstat(ini.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFileBytes(real), "[S]\r\nk=2\r\n");
}

TEST_F(ProfileWrite, RefusesEntriesThatWouldCorruptTheFile) {
    WriteFileBytes(ini, "[S]\r\nk=1\r\n");
    const std::vector<std::vector<const char*>> bad = {
        {"S", "k", "1\r\n[Injected]"},
        {"S", "k\n", "1"},
        {"S", "a=b", "1"},
        {"S]", "k", "1"},
        {"S\n", "k", "1"},
        {"S", "  ", "1"},
        {"S", ";k", "1"},
        {"S", "[k", "1"},
    };
    for (const auto& b : bad) {
        SetLastSystemError(0);
        EXPECT_FALSE(WriteProfileString(b[0], b[1], std::string_view(b[2]), ini)) << b[1];
        EXPECT_EQ(LastSystemError(), kErrorInvalidParameter);
    }
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\nk=1\r\n");
}

TEST_F(ProfileWrite, FailsWhenTheDirectoryIsMissingOrReadOnly) {
    SetLastSystemError(0);
    EXPECT_FALSE(WriteProfileString("S", "k", "1", dir / "no/such/dir.ini"));
    EXPECT_NE(LastSystemError(), 0);
    if (geteuid() == 0) GTEST_SKIP() << "root ignores directory permissions";
    WriteFileBytes(ini, "[S]\r\nk=1\r\n");
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    EXPECT_FALSE(WriteProfileString("S", "k", "2", ini));
    EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
    EXPECT_EQ(ReadFileBytes(ini), "[S]\r\nk=1\r\n");
}

}  // namespace
}  // namespace kovran::platform
