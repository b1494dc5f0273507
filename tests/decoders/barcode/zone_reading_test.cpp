// Merging band readings into the zone's reading, and the final text.
#include "decoders/barcode/zone_reading.h"

#include <gtest/gtest.h>

namespace kovran::decoders::barcode {
namespace {

Stretch Reading(const std::string& text, int confidence, bool verified, int left = 100,
                Symbology symbology = Symbology::Code128) {
    Stretch s;
    s.symbology = symbology;
    s.left = left;
    s.right = left + 200;
    s.bottom = 32;
    for (char c : text)
        s.chars.push_back({.ch = c, .confidence = confidence, .verified = verified});
    return s;
}

std::vector<int> Confidences(const ZoneReading& zone, std::size_t stretch = 0) {
    std::vector<int> out;
    for (const ReadChar& c : zone.Stretches().at(stretch).chars) out.push_back(c.confidence);
    return out;
}

TEST(ZoneReading, EqualReadingsAddUpToTheirCap) {
    ZoneReading unverified(100);
    for (int band = 0; band < 6; ++band) unverified.Merge(Reading("ABC", 20, false));
    EXPECT_EQ(Confidences(unverified), (std::vector<int>{90, 90, 90}));
    EXPECT_FALSE(unverified.Complete());

    ZoneReading verified(100);
    for (int band = 0; band < 3; ++band) verified.Merge(Reading("ABC", 32, true));
    EXPECT_EQ(Confidences(verified), (std::vector<int>{96, 96, 96}));
    EXPECT_FALSE(verified.Complete());
    // One verified reading lifts the cap of an unverified one.
    verified.Merge(Reading("ABC", 20, false, 140));
    EXPECT_EQ(Confidences(verified), (std::vector<int>{100, 100, 100}));
    EXPECT_TRUE(verified.Complete());
}

TEST(ZoneReading, DifferingCharactersAndLengths) {
    ZoneReading zone(100);
    zone.Merge(Reading("ABC", 20, false));
    zone.Merge(Reading("AXC", 20, false));  // not stronger: B stays
    zone.Merge(Reading("AYC", 26, true));   // verified: Y replaces B
    ASSERT_EQ(zone.Stretches().size(), 1u);
    EXPECT_EQ(zone.Stretches()[0].chars[1].ch, 'Y');
    // The equal characters of a verified reading add up to 100.
    EXPECT_EQ(Confidences(zone), (std::vector<int>{66, 26, 66}));

    zone.Merge(Reading("ABCD", 10, false));  // shorter and weaker: ignored
    EXPECT_EQ(zone.Stretches()[0].chars.size(), 3u);
    zone.Merge(Reading("ABCDE", 32, true));  // verified too, but weaker
    EXPECT_EQ(zone.Stretches()[0].chars.size(), 3u);
    zone.Merge(Reading("ABCDE", 60, true));  // better: replaces the stretch
    EXPECT_EQ(zone.Stretches()[0].chars.size(), 5u);

    // Another symbology, or boxes more than 49 pixels apart: another barcode.
    zone.Merge(Reading("12345", 32, true, 100, Symbology::Code39));
    zone.Merge(Reading("QQ", 32, true, 400));
    zone.Merge(Reading("PP", 32, true, 30));
    Stretch longer = Reading("LONG", 32, true, 100);
    longer.right += 50;
    zone.Merge(longer);
    ASSERT_EQ(zone.Stretches().size(), 5u);
    EXPECT_EQ(zone.Stretches()[0].chars[0].ch, 'P');  // ordered by position
}

TEST(ZoneReading, FinalTextDropsWeakBarcodesWholeAndRespectsTheLimit) {
    ZoneReading zone(14);
    zone.Merge(Reading("LEFT", 40, false, 0));
    zone.Merge(Reading("MID", 30, false, 300));   // below 40 unverified: dropped
    zone.Merge(Reading("RIGHT", 20, true, 600));  // 20 verified: kept
    BarcodeReading out;
    EXPECT_EQ(zone.Finish(out), static_cast<int>(Symbology::Code128));
    EXPECT_EQ(out.text, "LEFT RIGHT");
    EXPECT_EQ(out.confidence, (std::vector<std::uint8_t>{40, 40, 40, 40, 100, 20, 20, 20, 20, 20}));
    ASSERT_EQ(out.boxes.size(), 10u);
    EXPECT_EQ(out.boxes[0].Left(), 0);
    EXPECT_EQ(out.boxes[9].Left(), 600);
    EXPECT_EQ(out.boxes[9].Right(), 800);
    EXPECT_EQ(out.boxes[9].Bottom(), 32);
    EXPECT_EQ(out.boxes[9].values[kBoxVerified], 1);
    EXPECT_EQ(out.boxes[0].values[kBoxVerified], 0);

    // One weak character takes its whole barcode with it.
    ZoneReading holed(100);
    holed.Merge(Reading("ABCD", 20, false));
    holed.Merge(Reading("ABXD", 25, false));  // X replaces C
    holed.Merge(Reading("ABCD", 20, false));  // C is weaker than X
    EXPECT_EQ(Confidences(holed), (std::vector<int>{65, 65, 25, 65}));
    BarcodeReading none;
    EXPECT_EQ(holed.Finish(none), kNoSymbologyRead);
    EXPECT_TRUE(none.text.empty());

    // A fourth barcode would pass the 14 characters.
    EXPECT_EQ(zone.Merge(Reading("TOOLONG", 40, true, 900)), MergeResult::TooManyChars);
    EXPECT_EQ(zone.Stretches().size(), 3u);
    ZoneReading small(12);
    small.Merge(Reading("LEFT", 40, false, 0));
    small.Merge(Reading("MID", 40, false, 300));
    EXPECT_EQ(small.Merge(Reading("RIGHT", 40, false, 600)), MergeResult::TooManyChars);
    EXPECT_EQ(small.Merge(Reading("RIG", 40, false, 600)), MergeResult::Merged);
}

}  // namespace
}  // namespace kovran::decoders::barcode
