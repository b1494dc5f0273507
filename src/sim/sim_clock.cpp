#include "sim/sim_clock.h"

#include <chrono>
#include <thread>

namespace kovran::sim {

namespace {

class RealClock : public SimClock {
  public:
    void SleepMs(unsigned ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::uint64_t NowMs() const override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

}  // namespace

SimClock& RealSimClock() {
    // Stateless; shared by every simulator of the process.
    static RealClock clock;
    return clock;
}

}  // namespace kovran::sim
