#include "platform/text_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/sys_error.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

using test::ReadFileBytes;
using test::TempDir;

TEST(TextMode, EveryLineFeedGainsACarriageReturn) {
    EXPECT_EQ(ToTextMode(""), "");
    EXPECT_EQ(ToTextMode("no breaks"), "no breaks");
    EXPECT_EQ(ToTextMode("a\nb\n"), "a\r\nb\r\n");
    EXPECT_EQ(ToTextMode("\n\n"), "\r\n\r\n");
    EXPECT_EQ(ToTextMode("dos\r\n"), "dos\r\r\n");
    EXPECT_EQ(ToTextMode("lone\rcr"), "lone\rcr");
    EXPECT_EQ(ToTextMode(std::string_view("nul\0\n", 5)), std::string("nul\0\r\n", 6));
}

TEST(TextFile, AppendAddsExactBytesAndWriteTruncates) {
    TempDir dir;
    const std::string path = dir / "log.txt";
    ASSERT_TRUE(AppendTextCommitted(path, "first\n"));
    ASSERT_TRUE(AppendTextCommitted(path, ""));
    ASSERT_TRUE(AppendTextCommitted(path, "second\r\nthird"));
    EXPECT_EQ(ReadFileBytes(path), "first\r\nsecond\r\r\nthird");

    ASSERT_TRUE(WriteTextFile(path, "new\n"));
    EXPECT_EQ(ReadFileBytes(path), "new\r\n");

    const std::string big(1 << 20, '\n');
    ASSERT_TRUE(WriteTextFile(path, big));
    EXPECT_EQ(ReadFileBytes(path).size(), big.size() * 2);
}

TEST(TextFile, CreatesWithoutExecuteOrWorldWriteBits) {
    TempDir dir;
    const std::string path = dir / "created.log";
    ASSERT_TRUE(AppendTextCommitted(path, "x"));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0133, 0u);
    EXPECT_EQ(st.st_mode & 0400, 0400u);
}

TEST(TextFile, FailuresSetTheSystemError) {
    TempDir dir;
    SetLastSystemError(0);
    EXPECT_FALSE(AppendTextCommitted(dir / "missing/dir/log.txt", "x"));
    EXPECT_EQ(LastSystemError(), kErrorFileNotFound);
    SetLastSystemError(0);
    EXPECT_FALSE(WriteTextFile(dir.path(), "x"));
    EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
}

}  // namespace
}  // namespace kovran::platform
