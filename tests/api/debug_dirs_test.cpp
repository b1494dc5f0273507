#include "api/debug_dirs.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "api/config_dir.h"
#include "api/config_fixture.h"
#include "api/ini_settings.h"
#include "platform/clock.h"
#include "support/fake_clock.h"

namespace kovran {
namespace {

namespace fs = std::filesystem;
using platform::FileTime;
using platform::LocalTime;

FileTime Utc(int day, int hour, int minute) {
    return platform::FileTimeFromUtc(LocalTime{2026, 12, day, hour, minute, 0, 0});
}

class DebugPurge : public test::ConfigFixture {
  protected:
    void SetUp() override {
        ConfigFixture::SetUp();
        dir_ = tmp_ / "img";
        fs::create_directory(dir_);
        // Now is 2026-12-09 10:30 UTC, 11:30 local (UTC+1): local midnight is
        // 2026-12-08 23:00 UTC, and one purge day before it 2026-12-07
        // 23:01:11.2 UTC.
        clock_ = std::make_unique<test::FakeClock>(
            platform::UnixNsFromFileTime(Utc(9, 10, 30)) / 1000000000, 3600);
        platform::InstallClock(clock_.get());
    }
    void TearDown() override {
        platform::InstallClock(nullptr);
        ConfigFixture::TearDown();
    }
    void Make(const std::string& name, FileTime written) {
        test::WriteFileBytes(dir_ + "/" + name, "jpg");
        ASSERT_TRUE(platform::SetFileLastWriteTime(dir_ + "/" + name, written));
    }
    void MakeAll() {
        Make("ocr_1.jpg", Utc(7, 23, 0));   // before the one-day limit
        Make("IQA_2.JPG", Utc(7, 23, 30));  // after it, but not in local time
        Make("iqa_3.jpg", Utc(9, 10, 0));   // today, before now
        Make("ocr_4.jpg", Utc(9, 11, 0));   // after now
        Make("other.jpg", Utc(1, 0, 0));    // not a debug image
        Make("ocr_5.png", Utc(1, 0, 0));    // not a debug image
        fs::create_directory(dir_ + "/ocr_6.jpg");
    }
    std::set<std::string> Left() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }

    std::string dir_;
    std::unique_ptr<test::FakeClock> clock_;
};

TEST_F(DebugPurge, DaysCountFromLocalMidnight) {
    MakeAll();
    PurgeDebugImages(dir_, 1);
    EXPECT_EQ(Left(), (std::set<std::string>{"IQA_2.JPG", "iqa_3.jpg", "ocr_4.jpg", "other.jpg",
                                             "ocr_5.png", "ocr_6.jpg"}));
}

TEST_F(DebugPurge, ZeroDaysDeletesEverythingWrittenBeforeNow) {
    MakeAll();
    PurgeDebugImages(dir_ + "/", 0);
    EXPECT_EQ(Left(), (std::set<std::string>{"ocr_4.jpg", "other.jpg", "ocr_5.png", "ocr_6.jpg"}));
}

TEST_F(DebugPurge, NegativeOrHugeDaysDeleteNothing) {
    MakeAll();
    const std::set<std::string> all = Left();
    for (int days : {-1, INT_MIN, INT_MAX, 1000000}) {
        PurgeDebugImages(dir_, days);
        EXPECT_EQ(Left(), all) << days;
    }
}

TEST_F(DebugPurge, AMissingOrEmptyDirectoryTouchesNothing) {
    PurgeDebugImages(tmp_ / "missing", 0);
    EXPECT_FALSE(fs::exists(tmp_ / "missing"));

    // An empty directory is no directory, not the working directory.
    MakeAll();
    const std::set<std::string> all = Left();
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    PurgeDebugImages("", 0);
    fs::current_path(cwd);
    EXPECT_EQ(Left(), all);
}

TEST_F(DebugPurge, RunsAtLoadOnlyForDebugImages) {
    ASSERT_TRUE(SetConfigDir((tmp_ / "cnf").c_str()));
    dir_ = tmp_ / "cnf/Img/";
    WriteIni("[Ocr]\nDebugImgDays=0\n");
    ReadIniSettings();
    fs::create_directory(dir_);
    MakeAll();
    ReadIniSettings();  // DebugImg is off: nothing is touched
    EXPECT_EQ(Left().size(), 7u);
    WriteIni("[Ocr]\nDebugImg=1\nDebugImgDays=1\n");
    ReadIniSettings();
    EXPECT_EQ(Left().count("ocr_1.jpg"), 0u);
    EXPECT_EQ(Left().size(), 6u);
}

}  // namespace
}  // namespace kovran
