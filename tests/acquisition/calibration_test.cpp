// Calibration against the simulator's sensors: the sheet calibration takes
// the sensor's spread out of the images, its files are kept per mode and
// only ever replaced whole by a calibration that succeeded, and the dust it
// finds asks for a cleaning.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/calibration.h"
#include "acquisition/pipeline_fixture.h"
#include "device/counters.h"
#include "support/fake_clock.h"

namespace kovran::test {
namespace {

namespace fs = std::filesystem;

// The stripes a sensor's uneven pixels leave: the spread of the column
// means (a column is one sensor pixel along the paper path) over the
// inside of the cropped document.
struct Flatness {
    double columnSpread = 0.0;
    double mean = 0.0;
};

Flatness Measure(const ImageRecord& r) {
    Flatness f;
    const int frame = 12;
    if (r.width < 3 * frame || r.Height < 3 * frame) return {1e9, 0};
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
    f.columnSpread = std::sqrt(var / static_cast<double>(columns.size()));
    f.mean = mean;
    return f;
}

class CalibrationTest : public PipelineTest {
  protected:
    // The spread sensor (gain 0.85 to 1, dark 0 to 8 counts) with a little
    // noise, and the documents to feed.
    sim::DeviceProfile Spread(std::vector<sim::SimDocument> feeder, int dust = 0) {
        sim::DeviceProfile p = Profile(true);
        p.stream.sensor.noise = 1;
        p.stream.sensor.dustSpecks = dust;
        p.feeder = std::move(feeder);
        return p;
    }

    Flatness ScanGrey() {
        EXPECT_EQ(KVXImgCreate1(handle, 300, 0, 0), KVX_OK) << LogBytes();
        EXPECT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
        return Measure(Img(kFront));
    }

    // Every calibration file of the configuration directory and its bytes.
    std::map<std::string, std::string> Files() const {
        std::map<std::string, std::string> out;
        for (const auto& e : fs::directory_iterator(configDir()))
            if (e.path().extension() == ".bcf") out[e.path().filename()] = ReadFileBytes(e.path());
        return out;
    }

    void Calibrate(KVXResult expected = KVX_OK) {
        ASSERT_EQ(KVXCalibrate(handle), expected) << LogBytes();
    }
};

TEST_F(CalibrationTest, AfterCalibrationAUniformGreySheetComesOutFlat) {
    // The feeder holds only what the step needs: the calibration wants
    // its sheet alone in the device.
    sim::SimulatedScanner& scanner = PlugAndOpen(Spread({sim::UniformSheet(128)}));
    ShortBuffers();
    const Flatness before = ScanGrey();
    scanner.LoadFeeder({sim::CalibrationSheet()});
    Calibrate();
    scanner.LoadFeeder({sim::UniformSheet(128)});
    const Flatness after = ScanGrey();
    std::printf(
        "column spread of a grey sheet: uncalibrated %.2f (mean %.1f), calibrated %.2f "
        "(mean %.1f)\n",
        before.columnSpread, before.mean, after.columnSpread, after.mean);
    constexpr double kFlat = 1.0;
    EXPECT_LT(after.columnSpread, kFlat);
    EXPECT_GT(before.columnSpread, 4 * after.columnSpread);
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK) << LogBytes();
    EXPECT_EQ(KVXCheckCleaning(handle), KVX_OK);
}

TEST_F(CalibrationTest, EveryModeGetsItsFileAndTheCheckFollowsThem) {
    PlugAndOpen(Spread({sim::CalibrationSheet()}));
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    Calibrate();
    const auto files = Files();
    // Grey and colour, eight document types, the rear on and off.
    EXPECT_EQ(files.size(), 32u);
    // Colour, document type 1, both sides, on a high-speed connection.
    const std::string name = "pid_0x0003_sn_" + OwnSerial() + "_fw_0x5012_1121.bcf";
    ASSERT_TRUE(files.count(name)) << name;
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK) << LogBytes();

    // A file one byte too long, or cut short, is refused: the mode is not
    // calibrated any more.
    const std::string path = configDir() + "/" + name;
    WriteFileBytes(path, files.at(name) + '\0');
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    WriteFileBytes(path, files.at(name).substr(0, files.at(name).size() - 1));
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    WriteFileBytes(path, "");
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    WriteFileBytes(path, files.at(name));
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK);
}

// Something other than a file under a calibration file's name (a pipe
// nobody writes to, a directory) is reported as unreadable and the check
// goes on at once: it never waits for a writer, nor takes it for a file.
TEST_F(CalibrationTest, SomethingOtherThanAFileUnderTheNameIsRefusedWithoutWaiting) {
    PlugAndOpen(Spread({}));
    // Grey, document type 0, both sides on a high-speed connection: the
    // first mode the check loads.
    const std::string path = configDir() + "/pid_0x0003_sn_" + OwnSerial() + "_fw_0x5012_1110.bcf";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Lets a reader that waits for a writer go on (it then reads nothing);
    // a reader that refuses the pipe never needs it.
    std::atomic<bool> done{false};
    std::thread writer([&] {
        while (!done.load()) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
            sched_yield();
        }
    });
    const KVXResult piped = KVXCheckCalibration(handle);
    done.store(true);
    writer.join();
    EXPECT_EQ(piped, KVX_WAR_NO_CALIBRATION);
    EXPECT_EQ(Count("error reading calibration file"), 1) << LogBytes();

    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    EXPECT_EQ(Count("error reading calibration file"), 2) << LogBytes();
    ::rmdir(path.c_str());
}

// The check of every mode while the feeder's background acquisition takes
// the next document: the settings that acquisition reads stay untouched
// (run under ThreadSanitizer), and every document still arrives.
TEST_F(CalibrationTest, TheCheckLeavesTheFeedersBackgroundAcquisitionAlone) {
    sim::DeviceProfile p = Profile();
    for (int i = 0; i < 3; ++i) p.feeder.push_back(Document(1500, 700, false, i, 0.0).document);
    PlugAndOpen(p);
    ShortBuffers();
    ASSERT_EQ(KVXSetParameter(30, 1), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgCreate1(handle, 300, 0, 0), KVX_OK) << LogBytes();
    ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << LogBytes();
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
        EXPECT_EQ(KVXCheckCleaning(handle), KVX_OK);
        ASSERT_EQ(KVXImgScan1(handle, nullptr, nullptr, nullptr, 0), KVX_OK)
            << "document " << i << "\n"
            << LogBytes();
        EXPECT_GT(Img(kFront).Height, 0);
    }
}

TEST_F(CalibrationTest, AFailedCalibrationLeavesTheLastGoodFiles) {
    sim::SimulatedScanner& scanner = PlugAndOpen(Spread({sim::CalibrationSheet()}));
    Calibrate();
    const auto good = Files();
    ASSERT_EQ(good.size(), 32u);

    // A sheet that leaves the device before the white passes are done.
    scanner.LoadFeeder({sim::CalibrationSheet(0.6)});
    Calibrate(KVX_ERR_CALIBRATION_SHORT);
    EXPECT_EQ(Count("sheet too short"), 1);
    EXPECT_EQ(Files(), good);
    // A dark sheet: the white reference has too many dark pixels.
    scanner.LoadFeeder({sim::CalibrationSheet(11.0, 30)});
    Calibrate(KVX_ERR_CALIBRATION);
    EXPECT_GE(Count("too many errors on white calibration"), 1);
    EXPECT_EQ(Files(), good);
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK);
    // A crooked sheet: skewed by several degrees, its edge shows in the
    // passes.
    sim::SimDocument crooked = sim::CalibrationSheet();
    crooked.skewDegrees = 8.0;
    scanner.LoadFeeder({crooked});
    KVXCalibrate(handle);
    EXPECT_EQ(Files(), good);
    // The scanner unplugged while the sheet runs: the calibration fails,
    // no worker is left and, once back, the device scans on the old files.
    scanner.LoadFeeder({sim::CalibrationSheet()});
    scanner.Inject(sim::Unplug{.atByte = 1u << 18});
    EXPECT_LT(KVXCalibrate(handle), 0) << LogBytes();
    EXPECT_TRUE(NoThreadLeft());
    EXPECT_EQ(Files(), good);
    scanner.Replug();
    KVXClose(handle);
    handle = KVXInitialize(nullptr);
    ASSERT_GT(handle, 0) << LogBytes();
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_OK) << LogBytes();
    // No sheet at all.
    ASSERT_EQ(KVXSetParameter(100, 200), KVX_OK);
    EXPECT_LT(KVXCalibrate(handle), 0);
    EXPECT_EQ(Files(), good);
}

// What the support desk reads in the log: the missing file with its system
// error, and a black pass cut short with the lines asked, the heights got
// and the mode the pass ran in.
TEST_F(CalibrationTest, TheLogNamesTheMissingFileAndTheShortBlackPass) {
    sim::DeviceProfile p = Spread({sim::CalibrationSheet()});
    p.faults.push_back(sim::ShortDocument{.lines = 2});
    PlugAndOpen(p);
    EXPECT_EQ(KVXCheckCalibration(handle), KVX_WAR_NO_CALIBRATION);
    const std::string log = LogBytes();
    const std::string missing = "/pid_0x0003_sn_" + OwnSerial() + "_fw_0x5012_1110.bcf 2\r";
    const std::size_t at = log.find(missing);
    ASSERT_NE(at, std::string::npos) << log;
    const std::size_t line = log.rfind('\n', at) + 1;
    EXPECT_EQ(log.compare(line, 25, "reading calibration file "), 0) << log.substr(line, 80);

    Calibrate(KVX_ERR_CALIBRATION);
    EXPECT_EQ(Count("too few lines for back calibration"), 1) << LogBytes();
    // Sixteen lines of the black pass and the sixteen that settle the lamps.
    EXPECT_EQ(Count("nLinee 32"), 1);
    EXPECT_EQ(Count("MyImg[F].Height "), 1);
    EXPECT_EQ(Count("calibrating back, rgb, mode 3, dpiV 100, dpiH 300, backL 0, micr 0, IR 0, "
                    "UV 0"),
              1);
    EXPECT_EQ(Count("error calibrating back level"), 1);
    EXPECT_EQ(Count("error calibrating white"), 0);
}

TEST_F(CalibrationTest, DustOnTheSensorAsksForACleaningUntilTheSheetRunsThrough) {
    sim::SimulatedScanner& scanner = PlugAndOpen(Spread({sim::CalibrationSheet()}, 3));
    Calibrate(KVX_WAR_DIRTY);
    const std::string registerFile = device::RegisterFile();
    ASSERT_FALSE(registerFile.empty());
    EXPECT_EQ(device::ReadRegisterValue(registerFile, "CleaningRequired"), 1u);
    EXPECT_EQ(KVXCheckCleaning(handle), KVX_WAR_DIRTY);
    EXPECT_EQ(Count("Cleaning Required"), 1);

    scanner.LoadFeeder({sim::UniformSheet(200)});
    EXPECT_EQ(KVXClean(handle), KVX_OK) << LogBytes();
    EXPECT_EQ(device::ReadRegisterValue(registerFile, "CleaningRequired"), 0u);
    EXPECT_EQ(KVXCheckCleaning(handle), KVX_OK);
}

TEST_F(CalibrationTest, AnUncalibratedDeviceIgnoresACleaningRequest) {
    PlugAndOpen(Spread({}));
    ASSERT_TRUE(device::WriteRegisterValue(device::RegisterFile(), "CleaningRequired", 1));
    EXPECT_EQ(KVXCheckCleaning(handle), KVX_OK);
    EXPECT_EQ(Count("Cleaning ignored as not calibrated"), 1);
}

TEST_F(CalibrationTest, ACleaningSheetThatNeverComesTimesOutAfterTenSeconds) {
    PlugAndOpen(Spread({}));
    FakeClock clock;
    const ClockScope scope(clock);
    const std::int64_t start = clock.NowUnixNs();
    EXPECT_EQ(KVXClean(handle), KVX_ERR_TIMEOUT);
    EXPECT_EQ(Count("Clean - timeout waiting sheet insertion"), 1);
    EXPECT_NEAR((clock.NowUnixNs() - start) / 1000000, 10000, 200);
}

}  // namespace
}  // namespace kovran::test
