#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace kovran::platform {
namespace {

TEST(Utf8, DecodesAndMarksEveryBrokenByte) {
    bool valid = false;
    EXPECT_EQ(DecodeUtf8("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", &valid),
              U"A\u00E9\u20AC\U0001F600");
    EXPECT_TRUE(valid);
    // The shortest forms at each length boundary stay valid.
    EXPECT_EQ(DecodeUtf8("\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80", &valid),
              U"\u0080\u0800\U00010000");
    EXPECT_TRUE(valid);

    struct Case {
        const char* bytes;
        std::u32string decoded;
    } broken[] = {
        {"\x80x", U"\uFFFDx"},                              // stray continuation byte
        {"\xC3", U"\uFFFD"},                                // truncated
        {"\xE2\x28\xA1", U"\uFFFD(\uFFFD"},                 // bad continuation
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},            // surrogate
        {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // beyond U+10FFFF
        {"\xFF", U"\uFFFD"},
        // Overlong forms: a '/' or a NUL in disguise must never pass as one.
        {"\xC0\xAF", U"\uFFFD\uFFFD"},
        {"\xC1\xBF", U"\uFFFD\uFFFD"},
        {"\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x80\x80\xAF", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xC0\x80", U"\uFFFD\uFFFD"},
    };
    for (const Case& c : broken) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(DecodeUtf8(c.bytes, &valid), c.decoded);
        EXPECT_FALSE(valid);
    }
}

}  // namespace
}  // namespace kovran::platform
