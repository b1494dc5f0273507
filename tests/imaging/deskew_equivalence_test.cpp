// The deskew as the acquisition runs it, held to the deskew as first
// written (tests/imaging/deskew_reference.cpp) on drawn sides of several
// sizes, tilts and layouts, one after the other so that working images
// kept from a larger or smaller side are reused. The kept memory and the
// tracer run in it change nothing: sizes, stored transform and pixels are
// the same to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "imaging/deskew.h"
#include "imaging/deskew_reference.h"
#include "imaging/deskew_state.h"
#include "imaging/deskew_workspace.h"
#include "imaging/synthetic_side.h"

namespace kovran::imaging {
namespace {

using testing_side::Plane;
using testing_side::SideSpec;

struct Case {
    std::string name;
    SideSpec spec;
    int channels = 1;
    bool fullTransform = true;
};

ImageRecord Clone(const ImageRecord& pristine) {
    ImageRecord copy = pristine;
    copy.alloc = ImageMemory::Allocate(static_cast<std::size_t>(pristine.allocSize));
    copy.data = copy.write = copy.alloc->Bytes();
    std::memcpy(copy.data, pristine.data, static_cast<std::size_t>(pristine.allocSize));
    return copy;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    for (double angle : {-7.0, -3.2, -0.3, 0.0, 0.8, 2.5, 6.0}) {
        Case c{.name = "cheque " + std::to_string(angle), .spec = {}};
        c.spec.angleDeg = angle;
        cases.push_back(c);
    }
    {
        Case c{.name = "large page", .spec = {}};
        c.spec.stripHeight = 1500;
        c.spec.docWidth = 2400;
        c.spec.docHeight = 1150;
        c.spec.centre = {1340, 740};
        c.spec.angleDeg = -1.7;
        cases.push_back(c);
    }
    {
        Case c{.name = "small slip", .spec = {}};
        c.spec.docWidth = 1150;
        c.spec.docHeight = 700;
        c.spec.centre = {900, 600};
        c.spec.angleDeg = 3.6;
        cases.push_back(c);
    }
    {
        Case c{.name = "200 dpi", .spec = {}};
        c.spec.dpiH = c.spec.dpiV = 200;
        c.spec.stripWidth = 1792;
        c.spec.stripHeight = 760;
        c.spec.docWidth = 1200;
        c.spec.docHeight = 560;
        c.spec.centre = {880, 380};
        c.spec.angleDeg = 2.2;
        cases.push_back(c);
    }
    {
        Case c{.name = "half vertical resolution", .spec = {}};
        c.spec.dpiV = 150;
        c.spec.angleDeg = -2.4;
        cases.push_back(c);
    }
    {
        Case c{.name = "photograph", .spec = {}};
        c.spec.bandFrom = 700;
        c.spec.bandTo = 1000;
        c.spec.angleDeg = 1.4;
        cases.push_back(c);
    }
    {
        Case c{.name = "colour", .spec = {}, .channels = 3};
        c.spec.angleDeg = -4.1;
        cases.push_back(c);
    }
    for (double angle : {-2.9, 0.3, 5.0}) {
        Case c{.name = "crop only " + std::to_string(angle), .spec = {}, .fullTransform = false};
        c.spec.angleDeg = angle;
        cases.push_back(c);
    }
    return cases;
}

void ExpectSame(const ImageRecord& expected, const SideDeskew& expectedState,
                const ImageRecord& actual, const SideDeskew& actualState) {
    EXPECT_EQ(actual.deskewed, expected.deskewed);
    ASSERT_EQ(actual.width, expected.width);
    ASSERT_EQ(actual.Height, expected.Height);
    EXPECT_EQ(actual.dpiV, expected.dpiV);
    ASSERT_EQ(actualState.stored, expectedState.stored);
    if (expectedState.stored) {
        EXPECT_EQ(actualState.angle, expectedState.angle);
        EXPECT_EQ(actualState.width, expectedState.width);
        EXPECT_EQ(actualState.height, expectedState.height);
        for (std::size_t i = 0; i < expectedState.source.size(); ++i) {
            EXPECT_EQ(actualState.source[i].x, expectedState.source[i].x);
            EXPECT_EQ(actualState.source[i].y, expectedState.source[i].y);
        }
    }
    for (int c = 0; c < expected.channels; ++c)
        EXPECT_EQ(cv::countNonZero(Plane(actual, c) != Plane(expected, c)), 0) << "channel " << c;
}

TEST(DeskewEquivalence, KeptWorkspaceGivesTheFirstResults) {
    const std::vector<Case> cases = Cases();
    // Twice through the list: the second round starts with working images
    // left by every size.
    for (int round = 0; round < 2; ++round) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + " round " + std::to_string(round));
            const ImageRecord pristine = testing_side::SideRecord(c.spec, c.channels);
            const acquisition::DeskewCall call{.fullTransform = c.fullTransform};

            ImageRecord expected = Clone(pristine);
            std::string message;
            ASSERT_TRUE(reference::ReferenceDeskewWrap(expected, call, &message)) << message;
            const SideDeskew expectedState = *DeskewState(expected.side);

            ImageRecord actual = Clone(pristine);
            ASSERT_TRUE(KVXDeskewWrap(actual, call, &message)) << message;
            const SideDeskew actualState = *DeskewState(actual.side);

            ExpectSame(expected, expectedState, actual, actualState);
        }
    }
}

// One workspace serves document after document and the close gives it
// back; a deskew after the close works from a fresh one.
TEST(DeskewEquivalence, WorkspaceIsKeptUntilReleased) {
    ReleaseDeskewWorkspaces();
    EXPECT_EQ(DeskewWorkspacesKept(), 0);
    SideSpec spec;
    spec.angleDeg = 1.5;
    const ImageRecord pristine = testing_side::SideRecord(spec);
    std::string message;
    for (int i = 0; i < 3; ++i) {
        ImageRecord side = Clone(pristine);
        ASSERT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
        EXPECT_EQ(DeskewWorkspacesKept(), 1);
    }
    const acquisition::PostProcessHooks hooks = MakePostProcessHooks();
    ASSERT_NE(hooks.releaseWorkspace, nullptr);
    hooks.releaseWorkspace();
    EXPECT_EQ(DeskewWorkspacesKept(), 0);
    ImageRecord side = Clone(pristine);
    EXPECT_TRUE(KVXDeskewWrap(side, {}, &message)) << message;
    EXPECT_EQ(DeskewWorkspacesKept(), 1);
    ReleaseDeskewWorkspaces();
}

// The feeder's thread and a host's thread deskew at once, each a side of
// its own: each borrows a workspace of its own, and both results stay what
// the first deskew gives.
TEST(DeskewEquivalence, TwoThreadsNeverShareAWorkspace) {
    ReleaseDeskewWorkspaces();
    const std::vector<Case> cases = Cases();
    struct Expected {
        ImageRecord pristine;
        ImageRecord record;
    };
    std::vector<Expected> expected;
    for (std::uint8_t side = 0; side < 2; ++side) {
        const Case& c = cases[side == 0 ? 8 : 1];  // a small slip, a tilted cheque
        ImageRecord pristine = testing_side::SideRecord(c.spec, c.channels);
        pristine.side = side;
        ImageRecord record = Clone(pristine);
        std::string message;
        ASSERT_TRUE(reference::ReferenceDeskewWrap(record, {}, &message)) << message;
        expected.push_back({std::move(pristine), std::move(record)});
    }
    constexpr int kRuns = 6;
    int mismatches[2] = {0, 0};
    auto run = [&](int side) {
        for (int i = 0; i < kRuns; ++i) {
            ImageRecord actual = Clone(expected[side].pristine);
            std::string message;
            const ImageRecord& want = expected[side].record;
            if (!KVXDeskewWrap(actual, {}, &message) || actual.width != want.width ||
                actual.Height != want.Height ||
                cv::countNonZero(Plane(actual, 0) != Plane(want, 0)) != 0)
                ++mismatches[side];
        }
    };
    std::thread rear(run, 0);
    std::thread front(run, 1);
    rear.join();
    front.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
    EXPECT_GE(DeskewWorkspacesKept(), 1);
    EXPECT_LE(DeskewWorkspacesKept(), 2);
    ReleaseDeskewWorkspaces();
    EXPECT_EQ(DeskewWorkspacesKept(), 0);
}

}  // namespace
}  // namespace kovran::imaging
