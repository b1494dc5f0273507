// Magnetic ink model of the read head.
//
// The codeline ink is magnetised before it reaches the read head; the head
// then sees, at each position along the document, the ink under its track
// summed over the codeline height. Its output is the time derivative of the
// flux, that is the derivative along the document of the magnetised ink
// convolved with the head's field (the Karlqvist field of a gap g at an ink
// spacing d). Vertical bar edges give the lobes that the MICR decoder
// measures; the signal of a bar is a positive and a negative lobe.
//
// Samples are produced at the raw rate of the scan mode: the decoder
// averages 3 x decimation raw samples into one decimated sample, and
// `ratio` decimated samples span 3 pixels at 300 dpi.
//
// Polarity: the head of the scanners delivers an ink onset (the leading
// edge of a bar) as a dip below the idle level, which the decoder's
// smoothing (m - value) turns into a positive lobe. `Polarity::Reversed`
// gives the opposite wiring, as some heads deliver it, so that the
// decoder's reversed-polarity retry can be tried on purpose.
#pragma once

#include <cstdint>
#include <vector>

#include "testing/synth/image.h"
#include "testing/synth/rng.h"

namespace kovran::synth {

enum class Polarity { Normal, Reversed };

struct MagneticParams {
    int ratio = 10;              // decimated samples per 3 pixels at 300 dpi
    int decimation = 1;          // decimation factor f of the scan mode
    double gapInch = 0.002;      // head gap
    double spacingInch = 0.003;  // ink-to-head spacing
    double edgeLevel = 150.0;    // signal, in counts, of an ideal full-height ink edge
    double noise = 1.0;          // standard deviation of the head noise, counts
    int baseline = 128;
    Polarity polarity = Polarity::Normal;
    double nominalHeightInch = 0.117;  // ink height that counts as a full column

    double DecimatedPerInch() const { return 100.0 * ratio; }
    double RawPerInch() const { return DecimatedPerInch() * 3.0 * decimation; }
};

// Amount of magnetised ink per raw sample position along the document, in
// full columns (1.0 = ink over the nominal character height).
class Magnetisation {
  public:
    Magnetisation(const MagneticParams& params, double lengthInch);

    const MagneticParams& Params() const { return params_; }
    const std::vector<double>& Values() const { return values_; }

    // Adds ink coverage rendered at dpiX x dpiY, its left column at xInch
    // from the leading edge, resampled (by area) to the raw sample grid;
    // `strength` scales the ink's magnetic load (1 for MICR toner).
    // `shear` moves each row sideways by shear x (rows above the bottom)
    // columns: a skewed document crosses the head track at an angle, so a
    // bar's edge reaches the gap over a run of samples instead of at once.
    void AddCoverage(const ImageBuffer& coverage, double xInch, double dpiX, double dpiY,
                     double strength = 1.0, double shear = 0.0);
    // Adds scattered magnetic particles (noise on the track) over a range.
    void AddSpeckle(double fromInch, double toInch, double level, Rng& rng);

    std::size_t SampleAt(double xInch) const;

    std::vector<double>& MutableValues() { return values_; }

  private:
    MagneticParams params_;
    std::vector<double> values_;
};

// Karlqvist head field sampled at the raw rate, truncated where it falls
// below 0.1 % of its peak. It is scaled by the peak field of the nominal
// head (gap 0.002 inch at 0.003 inch spacing), so that edgeLevel is the
// signal of a full-height edge under that head and a wider spacing or a
// narrower gap loses signal as a real head does.
std::vector<double> HeadPulse(const MagneticParams& params);

// The noise-free head signal in counts around 0 (one value per raw sample).
std::vector<double> HeadSignal(const Magnetisation& ink);

// Disturbances of a real transport and head, all zero by default.
struct MagneticDisturbance {
    double speedJitter = 0.0;  // relative speed change, e.g. 0.03 for +-3 %
    double driftCounts = 0.0;  // slow baseline wander, peak counts
    double humCounts = 0.0;    // periodic interference, peak counts
    double humPerInch = 0.0;   // its period along the document (cycles per inch)
    int spikes = 0;            // isolated one-sample spikes
    double spikeCounts = 0.0;  // their height
};

// Transport speed jitter: the ink passes the gap at a varying speed, so the
// samples stretch and squeeze; the track is resampled along a seeded smooth
// speed profile of +-speedJitter. Gives, for each sample of the new track,
// the document position it shows (in raw samples of the even track), so
// that positions recorded on the even track can follow; empty when nothing
// moved.
std::vector<double> ApplySpeedJitter(Magnetisation& ink, double speedJitter, Rng& rng);

// Where a position of the even track (raw samples) lies on the jittered
// one: the first sample that shows it (positions as ApplySpeedJitter gives
// them; the position itself when they are empty).
double JitteredSample(const std::vector<double>& positions, double rawSample);

// The samples the device delivers: baseline -+ signal (see Polarity) + noise
// + drift, interference and spikes, 8 bits.
std::vector<std::uint8_t> QuantiseSignal(const std::vector<double>& signal,
                                         const MagneticParams& params, Rng& rng,
                                         const MagneticDisturbance& disturbance = {});

// The decoder's first step: the integer mean of each run of `divisor`
// samples, a remainder dropped.
std::vector<int> DecimateSamples(const std::vector<std::uint8_t>& raw, int divisor);

}  // namespace kovran::synth
