// The inkjet printers of a simulated scanner: their configuration blocks
// and the printed-document counter.
#pragma once

#include <cstdint>

#include "sim/command_table.h"
#include "sim/device_profile.h"

namespace kovran::sim {

class PrinterModel {
  public:
    explicit PrinterModel(const DeviceProfile& profile) : inkjetCounter_(profile.inkjetCounter) {}

    std::uint32_t InkjetCounter() const { return inkjetCounter_; }

    static void OnReadInkjetCounter(ScannerModel& model, const CommandCall& call);
    static void OnIncrementInkjetCounter(ScannerModel& model, const CommandCall& call);
    static void OnReadInkjet1Config(ScannerModel& model, const CommandCall& call);
    static void OnReadInkjet2Config(ScannerModel& model, const CommandCall& call);

  private:
    std::uint32_t inkjetCounter_ = 0;
};

}  // namespace kovran::sim
