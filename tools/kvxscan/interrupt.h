// Ctrl-C for a host program that polls the library: the handler only
// writes a byte into a pipe, and the main thread waits on that pipe between
// its polls, so an interrupt ends a wait at once and every library call
// (the stop included) stays on the main thread.
#pragma once

#include <cstdint>

namespace kvxscan {

class InterruptWatch {
  public:
    // Catches SIGINT and SIGTERM until destroyed; the second one of them
    // takes its default action, so that a stop that hangs can be cut short.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool Interrupted() const;
    // The exit status of a run the interrupt ended, by the shell's
    // convention (128 + the signal): 130 for Ctrl-C, 143 for SIGTERM, so
    // that a supervisor that stopped the run is not told of a Ctrl-C.
    int ExitCode() const;
    // Waits up to ms milliseconds; true as soon as an interrupt has come.
    bool Wait(int ms) const;
};

// Milliseconds of a monotonic clock: the tool's one clock, for the
// documents-per-minute figure only.
std::int64_t MonotonicMs();

}  // namespace kvxscan
