#include "testing/synth/magnetic_ink.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kovran::synth {

Magnetisation::Magnetisation(const MagneticParams& params, double lengthInch) : params_(params) {
    if (params.ratio < 1 || params.ratio > 100 || params.decimation < 1 || params.decimation > 16 ||
        lengthInch <= 0.0 || lengthInch > 60.0)
        throw std::invalid_argument("magnetic track parameters out of range");
    values_.assign(static_cast<std::size_t>(std::ceil(lengthInch * params.RawPerInch())), 0.0);
}

std::size_t Magnetisation::SampleAt(double xInch) const {
    const double s = std::floor(xInch * params_.RawPerInch());
    return s < 0.0 ? 0 : static_cast<std::size_t>(s);
}

void Magnetisation::AddCoverage(const ImageBuffer& coverage, double xInch, double dpiX, double dpiY,
                                double strength) {
    const double rate = params_.RawPerInch();
    const double perColumn = strength / (dpiY * params_.nominalHeightInch);
    const double step = rate / dpiX;  // raw samples per source column
    const double origin = xInch * rate;
    const long n = static_cast<long>(values_.size());
    for (int x = 0; x < coverage.Width(); ++x) {
        double sum = 0.0;
        for (int y = 0; y < coverage.Height(); ++y) sum += CoverageShare(coverage.At(x, y));
        if (sum == 0.0) continue;
        // The column spans [a, b) in raw samples; each sample it overlaps
        // gets the column's ink density in proportion to the overlap.
        const double a = origin + x * step, b = a + step;
        const double density = sum * perColumn;
        for (long s = static_cast<long>(std::floor(a)); s < static_cast<long>(std::ceil(b)); ++s) {
            if (s < 0 || s >= n) continue;
            const double overlap = std::min<double>(b, s + 1) - std::max<double>(a, s);
            if (overlap > 0.0) values_[static_cast<std::size_t>(s)] += density * overlap;
        }
    }
}

void Magnetisation::AddSpeckle(double fromInch, double toInch, double level, Rng& rng) {
    const std::size_t a = SampleAt(std::max(0.0, fromInch));
    const std::size_t b = std::min(values_.size(), SampleAt(toInch));
    // Particles are small (a few raw samples wide) and sparse.
    for (std::size_t i = a; i < b; ++i) {
        if (rng.Uniform() > 0.02) continue;
        const double load = level * rng.Uniform(0.2, 1.0);
        const std::size_t w = static_cast<std::size_t>(rng.Integer(1, 6));
        for (std::size_t k = i; k < std::min(b, i + w); ++k) values_[k] += load;
    }
}

std::vector<double> HeadPulse(const MagneticParams& p) {
    const double step = 1.0 / p.RawPerInch();
    const double g2 = p.gapInch / 2.0, d = p.spacingInch;
    auto field = [&](double x) {
        return (std::atan((x + g2) / d) - std::atan((x - g2) / d)) / M_PI;
    };
    const double peak = field(0.0);
    const double nominalPeak = 2.0 * std::atan(0.001 / 0.003) / M_PI;
    std::vector<double> half;
    for (int i = 0;; ++i) {
        const double v = field(i * step);
        if (v < peak * 1e-3 || i > 100000) break;
        half.push_back(v / nominalPeak);
    }
    std::vector<double> pulse(half.rbegin(), half.rend());
    pulse.insert(pulse.end(), half.begin() + 1, half.end());
    return pulse;
}

std::vector<double> HeadSignal(const Magnetisation& ink) {
    const auto& m = ink.Values();
    const auto pulse = HeadPulse(ink.Params());
    const long n = static_cast<long>(m.size());
    const long r = static_cast<long>(pulse.size() / 2);
    // The derivative first (ink edges), then the head's field: the read
    // voltage is the field-weighted sum of the magnetisation changes.
    std::vector<double> edges(m.size(), 0.0);
    for (long i = 1; i < n; ++i) edges[i] = m[i] - m[i - 1];
    std::vector<double> out(m.size(), 0.0);
    const double level = ink.Params().edgeLevel;
    for (long i = 0; i < n; ++i) {
        const double e = edges[i];
        if (e == 0.0) continue;
        const long a = std::max(0L, i - r), b = std::min(n - 1, i + r);
        for (long j = a; j <= b; ++j) out[j] += level * e * pulse[j - i + r];
    }
    return out;
}

std::vector<std::uint8_t> QuantiseSignal(const std::vector<double>& signal,
                                         const MagneticParams& params, Rng& rng) {
    std::vector<std::uint8_t> out(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double v = params.baseline + signal[i] + params.noise * rng.Normal();
        out[i] = static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
    return out;
}

std::vector<int> DecimateSamples(const std::vector<std::uint8_t>& raw, int divisor) {
    std::vector<int> out;
    if (divisor < 1) return out;
    const std::size_t n = raw.size() / static_cast<std::size_t>(divisor);
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        int sum = 0;
        for (int k = 0; k < divisor; ++k) sum += raw[i * divisor + k];
        out.push_back(sum / divisor);
    }
    return out;
}

}  // namespace kovran::synth
