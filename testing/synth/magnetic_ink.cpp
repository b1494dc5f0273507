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
                                double strength, double shear) {
    const double rate = params_.RawPerInch();
    const double perPixel = strength / (dpiY * params_.nominalHeightInch);
    const double step = rate / dpiX;  // raw samples per source column
    const double origin = xInch * rate;
    const long n = static_cast<long>(values_.size());
    auto add = [&](double a, double density) {
        // The column spans [a, a + step) in raw samples; each sample it
        // overlaps gets the column's ink density in proportion to the overlap.
        const double b = a + step;
        for (long s = static_cast<long>(std::floor(a)); s < static_cast<long>(std::ceil(b)); ++s) {
            if (s < 0 || s >= n) continue;
            const double overlap = std::min<double>(b, s + 1) - std::max<double>(a, s);
            if (overlap > 0.0) values_[static_cast<std::size_t>(s)] += density * overlap;
        }
    };
    if (shear == 0.0) {
        for (int x = 0; x < coverage.Width(); ++x) {
            double sum = 0.0;
            for (int y = 0; y < coverage.Height(); ++y) sum += CoverageShare(coverage.At(x, y));
            if (sum != 0.0) add(origin + x * step, sum * perPixel);
        }
        return;
    }
    for (int y = 0; y < coverage.Height(); ++y) {
        const double dx = shear * (coverage.Height() - 1 - y) * step;
        for (int x = 0; x < coverage.Width(); ++x) {
            const float v = CoverageShare(coverage.At(x, y));
            if (v != 0.0f) add(origin + x * step + dx, v * perPixel);
        }
    }
}

std::vector<double> ApplySpeedJitter(Magnetisation& ink, double speedJitter, Rng& rng) {
    if (speedJitter <= 0.0) return {};
    std::vector<double>& v = ink.MutableValues();
    const std::size_t n = v.size();
    if (n < 2) return {};
    // A smooth speed profile: three slow sine components of seeded phase
    // and period (a quarter inch to a few inches), scaled to the jitter.
    const double rate = ink.Params().RawPerInch();
    double amp[3], per[3], ph[3];
    for (int k = 0; k < 3; ++k) {
        amp[k] = rng.Uniform(0.3, 1.0);
        per[k] = rate * rng.Uniform(0.25, 3.0);
        ph[k] = rng.Uniform(0.0, 2.0 * M_PI);
    }
    const double norm = amp[0] + amp[1] + amp[2];
    std::vector<double> out(n, 0.0), positions(n, 0.0);
    double pos = 0.0;  // position on the document of output sample i, in raw samples
    for (std::size_t i = 0; i < n; ++i) {
        positions[i] = pos;
        const long a = static_cast<long>(std::floor(pos));
        const double f = pos - a;
        if (a + 1 < static_cast<long>(n))
            out[i] =
                (1.0 - f) * v[static_cast<std::size_t>(a)] + f * v[static_cast<std::size_t>(a + 1)];
        double s = 0.0;
        for (int k = 0; k < 3; ++k) s += amp[k] * std::sin(2.0 * M_PI * i / per[k] + ph[k]);
        pos += 1.0 + speedJitter * s / norm;
    }
    v = std::move(out);
    return positions;
}

double JitteredSample(const std::vector<double>& positions, double rawSample) {
    if (positions.empty()) return rawSample;
    const auto it = std::lower_bound(positions.begin(), positions.end(), rawSample);
    return static_cast<double>(it - positions.begin());
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
                                         const MagneticParams& params, Rng& rng,
                                         const MagneticDisturbance& dist) {
    const double sign = params.polarity == Polarity::Normal ? -1.0 : 1.0;
    const std::size_t n = signal.size();
    std::vector<double> extra(n, 0.0);
    const double rate = params.RawPerInch();
    if (dist.driftCounts > 0.0) {
        // Slow wander: one seeded sine of a few inches' period.
        const double per = rate * rng.Uniform(2.0, 6.0), ph = rng.Uniform(0.0, 2.0 * M_PI);
        for (std::size_t i = 0; i < n; ++i)
            extra[i] += dist.driftCounts * std::sin(2.0 * M_PI * i / per + ph);
    }
    if (dist.humCounts > 0.0 && dist.humPerInch > 0.0) {
        const double ph = rng.Uniform(0.0, 2.0 * M_PI);
        for (std::size_t i = 0; i < n; ++i)
            extra[i] += dist.humCounts * std::sin(2.0 * M_PI * dist.humPerInch * i / rate + ph);
    }
    for (int k = 0; k < dist.spikes && n > 0; ++k) {
        const auto at = static_cast<std::size_t>(rng.Integer(0, static_cast<long>(n) - 1));
        extra[at] += (rng.Uniform() < 0.5 ? -1.0 : 1.0) * dist.spikeCounts;
    }
    std::vector<std::uint8_t> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double v =
            params.baseline + sign * signal[i] + extra[i] + params.noise * rng.Normal();
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
