// A scanner that keeps its calibration in its EEPROM and has no calibration
// files: the references come from the device, become the mode's file and
// take the sensor's spread out of the images; a damaged or unreadable
// EEPROM copy leaves the defaults and a usable device.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "acquisition/pipeline_fixture.h"
#include "sim/eeprom_calibration.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

// The spread of the column means over the inside of the front image: the
// stripes a sensor's uneven pixels leave on a uniform sheet.
double ColumnSpread(const ImageRecord& r) {
    const int frame = 12;
    if (r.width < 3 * frame || r.Height < 3 * frame) return 1e9;
    const cv::Mat plane = imaging::ChannelPlane(r, 0);
    std::vector<double> columns;
    for (int x = frame; x < r.width - frame; ++x) {
        double sum = 0.0;
        for (int y = frame; y < r.Height - frame; ++y) sum += plane.at<std::uint8_t>(y, x);
        columns.push_back(sum / (r.Height - 2 * frame));
    }
    double mean = 0.0;
    for (double c : columns) mean += c;
    mean /= static_cast<double>(columns.size());
    double var = 0.0;
    for (double c : columns) var += (c - mean) * (c - mean);
    return std::sqrt(var / static_cast<double>(columns.size()));
}

class EepromFallbackTest : public PipelineTest {
  protected:
    // A firmware whose sensor option byte keeps the EEPROM flag, the spread
    // sensor, and a grey sheet in the feeder.
    static sim::DeviceProfile EepromDevice(bool keepsCalibration) {
        sim::DeviceProfile p = Profile(true);
        p.firmware = 0x5010;
        p.eepromCalibration = keepsCalibration;
        p.feeder = {sim::UniformSheet(128)};
        return p;
    }

    double ScanGrey() {
        EXPECT_EQ(KVXImgCreate1(handle, 300, 0, 0), KVX_OK) << LogBytes();
        EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
        return ColumnSpread(Img(kFront));
    }

    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(configDir()))
            if (e.path().extension() == ".bcf") out[e.path().filename()] = ReadFileBytes(e.path());
        return out;
    }
};

TEST_F(EepromFallbackTest, TheDevicesCopyCalibratesAScanWithoutFiles) {
    const sim::DeviceProfile p = EepromDevice(true);
    PlugAndOpen(p);
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK) << LogBytes();
    const double spread = ScanGrey();

    // Every grey and colour mode got its file from the device; the grey
    // one of document type 0 with both sides carries the device's own
    // references, front after rear, red line only.
    const auto files = Files();
    EXPECT_EQ(files.size(), 32u);
    const std::string name = "pid_0x0003_sn_" + OwnSerial() + "_fw_0x5010_1110.bcf";
    ASSERT_TRUE(files.count(name)) << name;
    const std::string& file = files.at(name);
    constexpr std::size_t kPixels = 2592;
    ASSERT_EQ(file.size(), 2 * (3 * 2 + 3 + kPixels + 3 + kPixels));
    const std::vector<std::uint8_t> image = sim::EepromCalibrationImage(p, 3);
    const std::size_t record = 8 + 2 * kPixels;
    // The front red record: after the information block, the data header
    // and the three rear records.
    const std::size_t frontRed = 64 + 8 + 3 * record;
    const std::size_t frontInFile = 3 * 2 + 3 + kPixels + 3 + kPixels;
    const std::size_t whiteAt = frontInFile + 3 * 2 + 3;
    EXPECT_EQ(static_cast<std::uint8_t>(file[frontInFile]), 63);
    // Inside the image the file keeps the device's white as it is (the
    // shaping repairs only dark pixels and the margins).
    int same = 0;
    for (std::size_t x = 300; x < kPixels - 300; ++x)
        same += static_cast<std::uint8_t>(file[whiteAt + x]) == image[frontRed + 8 + x] ? 1 : 0;
    EXPECT_EQ(same, static_cast<int>(kPixels - 600));

    // The same scanner without the copy scans with the defaults: its
    // sensor's stripes stay in the image.
    KVXClose(handle);
    fs::remove_all(configDir());
    fs::create_directories(configDir());
    PlugAndOpen(EepromDevice(false));
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    EXPECT_GE(Count("invalid EEPROM calibration data - sn"), 1) << LogBytes();
    const double defaults = ScanGrey();
    std::printf("column spread of a grey sheet: EEPROM %.2f, defaults %.2f\n", spread, defaults);
    EXPECT_LT(spread, 1.0);
    EXPECT_GT(defaults, 4 * spread);
}

TEST_F(EepromFallbackTest, ADamagedOrUnreadableCopyLeavesTheDefaultsAndAUsableDevice) {
    struct Case {
        const char* what;
        void (*damage)(sim::DeviceProfile&);
        const char* logged;
    };
    const Case cases[] = {
        {"a size one byte too long", [](sim::DeviceProfile& p) { p.eepromCalibrationSize = 31161; },
         "invalid EEPROM calibration data - size 31161"},
        {"a size far beyond any sensor",
         [](sim::DeviceProfile& p) { p.eepromCalibrationSize = 0xFFFFFF; },
         "invalid EEPROM calibration data - size 16777215"},
        {"a data block that answers nothing",
         [](sim::DeviceProfile& p) { p.eepromCalibrationFailBlock = 40; }, "calibration data read"},
        {"an information block cut short",
         [](sim::DeviceProfile& p) {
             p.faults.push_back(sim::WrongLength{
                 .count = sim::kForever, .delta = -10, .only = {.cls = 0xD0, .sub = 0x13}});
         },
         "calibration info read"},
        {"a refused read",
         [](sim::DeviceProfile& p) {
             p.faults.push_back(sim::AccessDenied{.count = sim::kForever,
                                                  .site = sim::FaultSite::Control,
                                                  .only = {.cls = 0xD0, .sub = 0x13}});
         },
         "calibration info read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DeviceProfile p = EepromDevice(true);
        c.damage(p);
        const std::size_t before = Count(c.logged);
        PlugAndOpen(p);
        EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
        EXPECT_GT(Count(c.logged), before) << LogBytes();
        EXPECT_TRUE(Files().empty());
        // The scan runs on the defaults: the stripes stay.
        EXPECT_GT(ScanGrey(), 2.0);
        KVXClose(handle);
    }
}

// Every mode's file comes from the same block of the device: the check of
// every mode reads it from the device once, not once per mode (some five
// hundred control transfers each).
TEST_F(EepromFallbackTest, TheCheckReadsTheDevicesCopyOnceForAllItsModes) {
    std::uint64_t transfers[2] = {};
    for (bool keeps : {false, true}) {
        sim::SimulatedScanner& scanner = PlugAndOpen(EepromDevice(keeps));
        const std::uint64_t before = scanner.ControlCount();
        EXPECT_EQ(KVXCheckCalibration(handle), keeps ? KVX_OK : KVX_WAR_NO_CALIBRATION);
        transfers[keeps ? 1 : 0] = scanner.ControlCount() - before;
        KVXClose(handle);
        handle = 0;
    }
    EXPECT_EQ(Files().size(), 32u);
    std::printf("control transfers of the check: without the copy %llu, with it %llu\n",
                static_cast<unsigned long long>(transfers[0]),
                static_cast<unsigned long long>(transfers[1]));
    // One whole read (31160 bytes in 64-byte blocks) and the information
    // block of the other resolution at most.
    EXPECT_LT(transfers[1], transfers[0] + 2 * (31160 / 64 + 8));
}

}  // namespace
}  // namespace kovran::test
