// A trace of control transfers shared between processes: every transfer of
// a simulated scanner appends "B <pid> <setup>" when it starts and
// "E <pid> <setup> <result>" when it ends, each with one O_APPEND write, so
// lines of several processes interleave in the order they happened. Two
// processes simulating the same device (one profile file) can then show
// whether their transfers ever overlapped.
#pragma once

#include <cstddef>
#include <string>

#include "platform/file_descriptor.h"
#include "platform/usb_backend.h"

namespace kovran::sim {

class TransferLog {
  public:
    // An empty path traces nothing.
    explicit TransferLog(const std::string& path);
    bool Active() const { return fd_.valid(); }
    void Begin(const platform::UsbSetup& setup);
    void End(const platform::UsbSetup& setup, int result);

  private:
    platform::UniqueFd fd_;
};

struct TransferLogSummary {
    std::size_t transfers = 0;  // completed begin/end pairs
    std::size_t overlaps = 0;   // begins seen while another transfer was open
    std::size_t malformed = 0;  // lines that are neither
    bool readable = false;
};

TransferLogSummary CheckTransferLog(const std::string& path);

}  // namespace kovran::sim
