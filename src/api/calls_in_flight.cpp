#include "api/calls_in_flight.h"

#include <climits>

#include "api/library.h"
#include "platform/clock.h"

namespace kovran {
namespace {

// Added to the count while the calls are held out: a call that finds the
// count negative knows the records are being given back.
constexpr int kHeldOut = INT_MIN / 2;
constexpr unsigned kDoorPollMs = 1;

std::atomic<int>& Count() {
    return lib().callsInFlight;
}

}  // namespace

CallInFlight::CallInFlight() noexcept {
    // Sequentially consistent with the unload's exchange: either the unload
    // sees this call, or this call sees the door shut and waits.
    if (Count().fetch_add(1) >= 0) return;
    const platform::Clock& clock = platform::CurrentClock();
    while (Count().load() < 0) clock.Sleep(kDoorPollMs);
}

CallInFlight::~CallInFlight() {
    Count().fetch_sub(1);
}

int CallsInFlight() {
    return Count().load();
}

CallsHeldOut::~CallsHeldOut() {
    if (active_) Count().fetch_sub(kHeldOut);
}

std::optional<CallsHeldOut> HoldOutCalls(unsigned timeoutMs) {
    constexpr unsigned kPollMs = 1;
    const bool idle = platform::WaitUntil(
        [] {
            int none = 0;
            return Count().compare_exchange_strong(none, kHeldOut);
        },
        timeoutMs, kPollMs);
    if (!idle) return std::nullopt;
    return CallsHeldOut();
}

}  // namespace kovran
