#include "sim/eeprom_calibration.h"

#include <algorithm>
#include <cmath>

#include "sim/sensor_model.h"

namespace kovran::sim {
namespace {

constexpr std::uint8_t kBlank = 0xFF;
constexpr std::uint8_t kStructure = 1;
constexpr int kColours = 3;
constexpr std::size_t kSerialBytes = 16;
constexpr std::size_t kResolutionAt = 16;
constexpr std::size_t kSizeAt = 18;

void PutLe16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

int DpiOf(std::uint8_t index) {
    return index == 3 ? 300 : index == 6 ? 600 : 0;
}

// The mean of a reference over the line, an inch in from each end.
std::uint8_t InnerMean(const std::vector<std::uint8_t>& line, int dpi, long lowest) {
    const auto n = static_cast<int>(line.size());
    const int from = std::min(dpi, n / 4);
    long sum = 0;
    for (int x = from; x < n - from; ++x) sum += line[static_cast<std::size_t>(x)];
    const int count = std::max(n - 2 * from, 1);
    return static_cast<std::uint8_t>(std::clamp<long>(sum / count, lowest, 255));
}

}  // namespace

std::vector<std::uint8_t> EepromCalibrationImage(const DeviceProfile& profile,
                                                 std::uint8_t resolutionIndex) {
    const int dpi = DpiOf(resolutionIndex);
    if (!profile.eepromCalibration || dpi == 0)
        return std::vector<std::uint8_t>(kEepromCalibrationBlock, kBlank);
    const int pixels = (profile.pid == 14 ? 432 : 864) * dpi / 100;
    const bool rear = (profile.configWord & kConfigRear) != 0;
    const SensorModel sensor(profile.stream.sensor);

    std::vector<std::uint8_t> data;
    data.push_back(kStructure);
    data.push_back(rear ? 2 : 1);
    data.push_back(kColours);
    data.push_back(resolutionIndex);
    PutLe16(data, static_cast<unsigned>(pixels));
    PutLe16(data, 0);
    std::uint8_t sequence = 0;
    for (SensorSide side : {SensorSide::Rear, SensorSide::Front}) {
        if (side == SensorSide::Rear && !rear) continue;
        for (int c = 0; c < kColours; ++c) {
            std::vector<std::uint8_t> white(static_cast<std::size_t>(pixels));
            std::vector<std::uint8_t> black(white.size());
            for (int p = 0; p < pixels; ++p) {
                const double dark = sensor.Dark(side, c, p, dpi);
                const double gain = sensor.Gain(side, c, p, dpi);
                white[static_cast<std::size_t>(p)] = SensorModel::Raw(dark, gain, 255);
                black[static_cast<std::size_t>(p)] = SensorModel::Raw(dark, gain, 0);
            }
            data.push_back(sequence++);
            data.push_back(side == SensorSide::Rear ? 0 : 1);
            data.push_back(static_cast<std::uint8_t>(c));
            data.push_back(resolutionIndex);
            PutLe16(data, kNominalLampLevel);
            data.push_back(InnerMean(white, dpi, 1));
            data.push_back(InnerMean(black, dpi, 0));
            data.insert(data.end(), white.begin(), white.end());
            data.insert(data.end(), black.begin(), black.end());
        }
    }

    std::vector<std::uint8_t> image(kEepromCalibrationBlock, 0);
    const std::string& serial = profile.serial;
    std::copy_n(serial.begin(), std::min(serial.size(), kSerialBytes), image.begin());
    image[kResolutionAt] = resolutionIndex;
    const std::uint32_t size =
        profile.eepromCalibrationSize.value_or(static_cast<std::uint32_t>(data.size()));
    for (int i = 0; i < 4; ++i) image[kSizeAt + i] = static_cast<std::uint8_t>(size >> (8 * i));
    data.resize((data.size() + kEepromCalibrationBlock - 1) / kEepromCalibrationBlock *
                    kEepromCalibrationBlock,
                0);
    image.insert(image.end(), data.begin(), data.end());
    return image;
}

}  // namespace kovran::sim
