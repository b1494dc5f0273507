#include "sim/status_model.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "sim/scanner_model.h"

namespace kovran::sim {

void StatusModel::SwitchBuzzer(std::uint8_t tone) {
    const std::int64_t now = platform::SteadyNowMs();
    if (!buzzerTones_.empty() && !buzzerTones_.back().endMs) buzzerTones_.back().endMs = now;
    buzzerTone_ = tone;
    if (tone != 0) buzzerTones_.push_back({.tone = tone, .startMs = now, .endMs = std::nullopt});
    if (!buzzerLog_.empty()) {
        // One append per command, so that a reader in another process
        // never sees half a line.
        const std::string line = tone != 0 ? "tone " + std::to_string(tone) + "\n" : "off\n";
        const platform::UniqueFd fd(
            ::open(buzzerLog_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
        // A trace that cannot be written changes nothing the device does.
        if (fd.valid() && ::write(fd.get(), line.data(), line.size()) < 0) return;
    }
}

void StatusModel::Force(std::uint32_t set, std::uint32_t clear) {
    forceSet_ = (forceSet_ | set) & ~clear;
    forceClear_ = (forceClear_ | clear) & ~set;
}

void StatusModel::OnReadStatus(ScannerModel& model, const CommandCall& call) {
    auto block = model.StatusBlock();
    call.reply->assign(block.begin(), block.end());
}

void StatusModel::OnEnable(ScannerModel& model, const CommandCall&) {
    model.Status().SetEnabled(true);
}

void StatusModel::OnDisable(ScannerModel& model, const CommandCall&) {
    model.Status().SetEnabled(false);
}

void StatusModel::OnBuzzerOn(ScannerModel& model, const CommandCall& call) {
    model.Status().SwitchBuzzer(call.data ? call.data[0] : 0);
}

void StatusModel::OnBuzzerOff(ScannerModel& model, const CommandCall&) {
    model.Status().SwitchBuzzer(0);
}

void StatusModel::OnFeedStart(ScannerModel& model, const CommandCall&) {
    model.Status().SetFeeding(true);
}

void StatusModel::OnFeedStop(ScannerModel& model, const CommandCall&) {
    model.Status().SetFeeding(false);
}

}  // namespace kovran::sim
