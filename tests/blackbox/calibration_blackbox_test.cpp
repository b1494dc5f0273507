// Calibration as a host meets it: a scanner that keeps its calibration in
// its EEPROM and has never been calibrated with a sheet reports itself
// calibrated, and a uniform sheet comes out flat and at its own grey;
// the same scanner without the EEPROM copy scans on the defaults, with the
// stripes of its uneven sensor. (The images pass the output curve, so the
// sheet's grey is compared with what a perfectly even sensor gives.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"
#include "support/temp_dir.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

constexpr int kFrontSide = 1;
constexpr int kSheetGrey = 128;

struct Stripes {
    double spread = 1e9;  // of the column means
    double mean = 0.0;
};

// The column means of an 8-bit bottom-up bitmap file, inside a frame.
Stripes Measure(const std::vector<unsigned char>& bmp) {
    auto le32 = [&](std::size_t at) {
        return static_cast<std::int32_t>(bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) |
                                         (static_cast<std::uint32_t>(bmp[at + 3]) << 24));
    };
    if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M' || bmp[28] != 8) return {};
    const std::int32_t offset = le32(10);
    const int width = le32(18);
    const int height = std::abs(le32(22));
    const int stride = (width + 3) & ~3;
    const int frame = 24;
    if (width < 3 * frame || height < 3 * frame ||
        bmp.size() < static_cast<std::size_t>(offset) + static_cast<std::size_t>(stride) * height)
        return {};
    std::vector<double> columns;
    for (int x = frame; x < width - frame; ++x) {
        double sum = 0.0;
        for (int y = frame; y < height - frame; ++y)
            sum += bmp[static_cast<std::size_t>(offset) + static_cast<std::size_t>(y) * stride +
                       static_cast<std::size_t>(x)];
        columns.push_back(sum / (height - 2 * frame));
    }
    Stripes s;
    for (double c : columns) s.mean += c;
    s.mean /= static_cast<double>(columns.size());
    double var = 0.0;
    for (double c : columns) var += (c - s.mean) * (c - s.mean);
    s.spread = std::sqrt(var / static_cast<double>(columns.size()));
    return s;
}

class HostEepromCalibration : public HostFixture {
  protected:
    void SetUp() override { setenv("KOVRAN_USB", "sim", 1); }
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
        unsetenv("KOVRAN_SIM");
    }
    // A scanner with an uneven sensor whose firmware keeps the calibration
    // in its EEPROM (or not), a uniform grey sheet in its feeder.
    static constexpr const char* kUneven = "sensor_gain = 80 100\nsensor_dark = 0 10\n";
    static constexpr const char* kEven = "sensor_gain = 100 100\nsensor_dark = 0 0\n";
    void Open(bool keepsCalibration, const char* sensor = kUneven) {
        const std::string sheet = dir / "grey.pgm";
        std::string pgm = "P5\n1800 800\n255\n";
        pgm.append(1800 * 800, static_cast<char>(kSheetGrey));
        WriteFileBytes(sheet, pgm);
        const std::string profile = dir / "scanner.profile";
        WriteFileBytes(
            profile, std::string("[device]\nserial = 424242\nfirmware = 0x5010\n") +
                         "config_word = 0x0A057982\nconfig_word2 = 0x0030\n"
                         "micr_block = 28 43 90 01 3C 0A 05 00 00 00 1E 00 00 10 05 00\n" +
                         std::string(sensor) + "eeprom_calibration = " +
                         (keepsCalibration ? "yes" : "no") + "\nfeeder = " + sheet + " dpi=300\n");
        setenv("KOVRAN_SIM", profile.c_str(), 1);
        Load();
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0) << Log();
    }
    Stripes ScanGrey() {
        EXPECT_EQ(KVX(KVXImgCreate)(handle, 300, 300), KVX_OK) << Log();
        EXPECT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
        std::int32_t length = -1;
        std::uint8_t* p = KVX(KVXImgGet)(handle, kFrontSide, nullptr, 0, KVX_FMT_BMP, &length);
        EXPECT_NE(p, nullptr) << Log();
        if (p == nullptr) return {};
        const std::vector<unsigned char> bmp(p, p + length);
        KVX(KVXImgGetFree)(handle, p);
        return Measure(bmp);
    }
    std::string Log() { return ReadFileBytes(LogFile()); }
    int CalibrationFiles() const {
        int n = 0;
        for (const auto& e : fs::directory_iterator(configDir()))
            n += e.path().extension() == ".bcf" ? 1 : 0;
        return n;
    }

    int handle = 0;
};

TEST_F(HostEepromCalibration, TheEepromCopyCalibratesAScannerThatNeverSawASheet) {
    Open(true);
    EXPECT_EQ(KVX(KVXCheckCalibration)(handle), KVX_OK) << Log();
    // Every mode the check loads got its file from the device.
    EXPECT_EQ(CalibrationFiles(), 32);
    const Stripes s = ScanGrey();
    std::printf("EEPROM references: column spread %.2f, mean %.1f\n", s.spread, s.mean);
    EXPECT_LT(s.spread, 1.0);

    // The references take the sensor out: the sheet comes out as a
    // perfectly even sensor shows it on the defaults.
    KVX(KVXClose)(handle);
    handle = 0;
    fs::remove_all(configDir());
    Open(false, kEven);
    const Stripes even = ScanGrey();
    std::printf("even sensor: column spread %.2f, mean %.1f\n", even.spread, even.mean);
    EXPECT_NEAR(s.mean, even.mean, 1.5);
}

TEST_F(HostEepromCalibration, WithoutTheCopyTheDefaultsLeaveTheSensorsStripes) {
    Open(false);
    EXPECT_EQ(KVX(KVXCheckCalibration)(handle), KVX_WAR_NO_CALIBRATION);
    EXPECT_EQ(CalibrationFiles(), 0);
    EXPECT_NE(Log().find("invalid EEPROM calibration data - sn"), std::string::npos) << Log();
    const Stripes s = ScanGrey();
    std::printf("default references: column spread %.2f, mean %.1f\n", s.spread, s.mean);
    EXPECT_GT(s.spread, 3.0);
}

}  // namespace
}  // namespace kovran::test
