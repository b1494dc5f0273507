#include "sim/printer_model.h"

#include "sim/eeprom_model.h"
#include "sim/scanner_model.h"

namespace kovran::sim {

void PrinterModel::OnReadInkjetCounter(ScannerModel& model, const CommandCall& call) {
    ReplyLe32(model.Printer().inkjetCounter_, call.reply);
}

void PrinterModel::OnIncrementInkjetCounter(ScannerModel& model, const CommandCall&) {
    IncrementCounter(model.Printer().inkjetCounter_);
}

void PrinterModel::OnReadInkjet1Config(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Profile().inkjet1Config.value_or(std::vector<std::uint8_t>(64, 0));
}

void PrinterModel::OnReadInkjet2Config(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Profile().inkjet2Config.value_or(std::vector<std::uint8_t>(64, 0));
}

}  // namespace kovran::sim
