#include "imaging/zone_cleaning.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kovran::imaging {
namespace {

// A zone of faint print: ink at 100, paper at 150, a ramp between.
ImageBuffer FaintZone() {
    ImageBuffer zone(60, 10, 1, 150, {300, 300});
    for (int y = 0; y < zone.Height(); ++y)
        for (int x = 0; x < 20; ++x) zone.At(x, y) = static_cast<std::uint8_t>(100 + x * 50 / 19);
    for (int y = 0; y < zone.Height(); ++y) zone.At(30, y) = 100;
    return zone;
}

TEST(ZoneCleaning, StretchesInkToBlackAndPaperToWhite) {
    const ImageBuffer zone = FaintZone();
    const ImageBuffer clean = CleanZone(zone.View(), 0);
    ASSERT_EQ(clean.Width(), zone.Width());
    ASSERT_EQ(clean.Height(), zone.Height());
    EXPECT_EQ(clean.Res(), zone.Res());
    EXPECT_EQ(clean.At(30, 0), 0);
    EXPECT_EQ(clean.At(50, 0), 255);
    // The ramp stays a ramp.
    for (int x = 1; x < 20; ++x) EXPECT_GE(clean.At(x, 3), clean.At(x - 1, 3));
    EXPECT_GT(clean.At(10, 3), 64);
    EXPECT_LT(clean.At(10, 3), 192);
    // The source is left as it was.
    EXPECT_EQ(zone, FaintZone());
}

TEST(ZoneCleaning, OffsetDarkensOrLightensAndClamps) {
    const ImageBuffer zone = FaintZone();
    const ImageBuffer plain = CleanZone(zone.View(), 0);
    const ImageBuffer dark = CleanZone(zone.View(), -40);
    const ImageBuffer light = CleanZone(zone.View(), 40);
    for (int x = 0; x < zone.Width(); ++x) {
        EXPECT_EQ(dark.At(x, 5), std::max(0, plain.At(x, 5) - 40)) << x;
        EXPECT_EQ(light.At(x, 5), std::min(255, plain.At(x, 5) + 40)) << x;
    }
}

TEST(ZoneCleaning, FlatZonesAndOddGeometry) {
    // Nothing to stretch: only the offset applies.
    const ImageBuffer grey(40, 4, 1, 128, {200, 200});
    const ImageBuffer out = CleanZone(grey.View(), -40);
    EXPECT_TRUE(std::all_of(out.Data(), out.Data() + out.Bytes(), [](auto v) { return v == 88; }));
    EXPECT_TRUE(CleanZone(ConstImageView(), 0).Empty());
    const ImageBuffer one(1, 1, 1, 7);
    EXPECT_EQ(CleanZone(one.View(), 500).At(0, 0), 255);  // offsets clamp to the grey range
    // A view with a stride wider than its width, beside bright pixels that
    // must not count.
    ImageBuffer wide(80, 10, 1, 255);
    const ImageBuffer faint = FaintZone();
    for (int y = 0; y < 10; ++y) std::copy(faint.Row(y), faint.Row(y) + 60, wide.Row(y));
    const ImageBuffer inner = CleanZone(wide.View().Crop(0, 0, 60, 10), 0);
    EXPECT_EQ(inner.At(50, 0), 255);
    EXPECT_EQ(inner.At(30, 0), 0);
    EXPECT_EQ(inner.Width(), 60);
}

}  // namespace
}  // namespace kovran::imaging
