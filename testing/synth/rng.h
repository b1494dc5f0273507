// Seeded random numbers whose sequence is the same on every platform and
// standard library: the distributions of <random> are not, so corpora made
// on two machines would differ.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace kovran::synth {

class Rng {
  public:
    explicit Rng(std::uint64_t seed) : engine_(seed) {}

    // Uniform in [0, 1).
    double Uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
    // Uniform integer in [lo, hi].
    std::int64_t Integer(std::int64_t lo, std::int64_t hi) {
        return lo + static_cast<std::int64_t>(Uniform() * static_cast<double>(hi - lo + 1));
    }
    // Standard normal (Box-Muller, both values used).
    double Normal() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        double u1 = Uniform();
        while (u1 <= 1e-300) u1 = Uniform();
        const double u2 = Uniform();
        const double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2.0 * M_PI * u2);
        hasSpare_ = true;
        return r * std::cos(2.0 * M_PI * u2);
    }
    std::uint64_t Next() { return engine_(); }

  private:
    std::mt19937_64 engine_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

}  // namespace kovran::synth
