#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace kovran::platform {
namespace {

TEST(Utf8, DecodesAndMarksEveryBrokenByte) {
    bool valid = false;
    EXPECT_EQ(DecodeUtf8("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", &valid),
              U"A\u00E9\u20AC\U0001F600");
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
    };
    for (const Case& c : broken) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(DecodeUtf8(c.bytes, &valid), c.decoded);
        EXPECT_FALSE(valid);
    }
}

}  // namespace
}  // namespace kovran::platform
