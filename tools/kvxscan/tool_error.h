// A failure of kvxscan: what and why; main prints "kvxscan: <message>" and
// exits with the code (1 for a failure, 2 for a command line that cannot
// run).
#pragma once

#include <stdexcept>
#include <string>

namespace kvxscan {

class ToolError : public std::runtime_error {
  public:
    explicit ToolError(const std::string& message, int exitCode = 1)
        : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

  private:
    int exitCode_;
};

inline constexpr int kExitUsage = 2;
// The shell's convention for a run ended by SIGINT.
inline constexpr int kExitInterrupted = 130;
// ... and by SIGTERM.
inline constexpr int kExitTerminated = 143;

}  // namespace kvxscan
