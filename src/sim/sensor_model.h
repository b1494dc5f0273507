// The sensors of a simulated scanner: each pixel has its own dark offset
// and gain, so uncorrected lines are visibly uneven and the library's line
// correction is measurable. Deterministic for a seed.
#pragma once

#include <cstdint>
#include <vector>

namespace kovran::sim {

enum class SensorSide : std::uint8_t { Rear = 0, Front = 1, Backlight = 2 };

struct SensorSettings {
    std::uint32_t seed = 1;
    // Gain as a fraction of full scale, and dark offset in raw counts.
    double gainMin = 0.85;
    double gainMax = 1.0;
    double darkMin = 0.0;
    double darkMax = 8.0;
    // Line-to-line noise in raw counts (peak), and specks of dust on the
    // front sensor's glass: runs of pixels that see a fraction of the light.
    int noise = 0;
    int dustSpecks = 0;
};

// The lamp level at which the sensor's gain is as modelled; the raw value
// follows the level in proportion (0: lamps off, dark offset only).
inline constexpr int kNominalLampLevel = 63;
// Pixels one speck of dust covers, and the light it lets through.
inline constexpr int kDustSpeckPixels = 4;
inline constexpr double kDustTransmission = 0.3;

// The highest raw value a sensor sends: 255 marks lines that have not yet
// arrived in the library's buffer, so the device clips below it.
inline constexpr std::uint8_t kMaxRawSample = 254;

class SensorModel {
  public:
    explicit SensorModel(const SensorSettings& settings) : s_(settings) {}
    const SensorSettings& Settings() const { return s_; }

    // The true values of one pixel of one channel of a side's sensor
    // (pixel counted at the sensor's resolution dpi).
    double Dark(SensorSide side, int channel, int pixel, int dpi) const;
    double Gain(SensorSide side, int channel, int pixel, int dpi) const;
    // raw = dark + gain x reflectance, clipped to 0..kMaxRawSample.
    static std::uint8_t Raw(double dark, double gain, std::uint8_t reflectance);
    // The first pixel of each speck of dust on a sensor of `pixels`.
    std::vector<int> DustSpecks(int pixels) const;
    // Noise of one sample, -noise..noise, fixed by line and pixel.
    double Noise(std::uint32_t line, int pixel) const;

  private:
    double Unit(SensorSide side, int channel, int pixel, int dpi, std::uint32_t salt) const;
    SensorSettings s_;
};

}  // namespace kovran::sim
