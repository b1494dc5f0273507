#include "platform/bstr.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/sys_error.h"

namespace kovran::platform {
namespace {

std::uint32_t PrefixOf(BSTR b) {
    std::uint32_t n = 0;
    std::memcpy(&n, reinterpret_cast<const unsigned char*>(b) - 4, 4);
    return n;
}

TEST(Bstr, OleLayoutAroundTheBytes) {
    const char text[] = "AB\0CD";  // embedded NUL is part of the string
    UniqueBstr b(AllocBstrBytes(text, 5));
    ASSERT_NE(b, nullptr);
    const auto* bytes = reinterpret_cast<const unsigned char*>(b.get());
    EXPECT_EQ(PrefixOf(b.get()), 5u);
    EXPECT_EQ(std::memcmp(bytes, "AB\0CD", 5), 0);
    EXPECT_EQ(bytes[5], 0);
    EXPECT_EQ(bytes[6], 0);
    EXPECT_EQ(BstrByteLen(b.get()), 5u);
    EXPECT_EQ(BstrView(b.get()), std::string_view(text, 5));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.get()) % alignof(OLECHAR), 0u);
}

TEST(Bstr, NullSourceGivesZeroBytesAndNullBstrIsEmpty) {
    UniqueBstr zeros(AllocBstrBytes(nullptr, 7));
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(BstrByteLen(zeros.get()), 7u);
    EXPECT_EQ(BstrView(zeros.get()), std::string_view("\0\0\0\0\0\0\0", 7));

    UniqueBstr empty(AllocBstrBytes("ignored", 0));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(BstrByteLen(empty.get()), 0u);
    EXPECT_EQ(reinterpret_cast<const char*>(empty.get())[0], '\0');

    EXPECT_EQ(BstrByteLen(nullptr), 0u);
    EXPECT_TRUE(BstrView(nullptr).empty());
    FreeBstr(nullptr);
}

TEST(Bstr, RefusesLengthsBeyondTheLimit) {
    SetLastSystemError(0);
    EXPECT_EQ(AllocBstrBytes(nullptr, kBstrMaxBytes + 1), nullptr);
    EXPECT_EQ(LastSystemError(), kErrorNotEnoughMemory);
    EXPECT_EQ(AllocBstrBytes("x", 0xFFFFFFFFu), nullptr);
}

TEST(Bstr, ExportedFunctionsShareTheLayout) {
    BSTR b = SysAllocStringByteLen("cheque", 6);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_STREQ(reinterpret_cast<const char*>(b), "cheque");
    EXPECT_EQ(BstrView(b), "cheque");
    SysFreeString(b);
    SysFreeString(nullptr);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
}

}  // namespace
}  // namespace kovran::platform
