// The host's calls inside the library, counted so that the unload can wait
// for them before it gives back what they use. A host may exit (or unload
// the library) while its threads are still inside a call; those calls must
// end with their result, never on freed memory.
#pragma once

#include <optional>

namespace kovran {

// Counts one exported call for its whole duration. A call that arrives
// while the unload is giving back the records waits at the door until they
// are gone (then it sees the detaching flag and a fresh record set).
class CallInFlight {
  public:
    CallInFlight() noexcept;
    ~CallInFlight();
    CallInFlight(const CallInFlight&) = delete;
    CallInFlight& operator=(const CallInFlight&) = delete;
};

// Calls inside the library now (tests).
int CallsInFlight();

// While it lives, no call is inside the library and new calls wait at the
// door; the unload releases the records under it.
class CallsHeldOut {
  public:
    CallsHeldOut(CallsHeldOut&& other) noexcept : active_(other.active_) { other.active_ = false; }
    CallsHeldOut& operator=(CallsHeldOut&&) = delete;
    ~CallsHeldOut();

  private:
    friend std::optional<CallsHeldOut> HoldOutCalls(unsigned timeoutMs);
    CallsHeldOut() = default;
    bool active_ = true;
};

// Waits at most timeoutMs (on the installable clock) for the calls inside
// the library to leave, then holds new ones out. Nothing when calls were
// still running at the bound: their records must then stay alive.
std::optional<CallsHeldOut> HoldOutCalls(unsigned timeoutMs);

}  // namespace kovran
