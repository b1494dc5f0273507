#include "sim/simulated_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kovran::sim {

namespace {

constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kStringDescriptor = 3;

std::vector<std::uint8_t> AsciiDescriptor(const char* text) {
    std::vector<std::uint8_t> d{0, kStringDescriptor};
    for (const char* p = text; *p; ++p) {
        d.push_back(static_cast<std::uint8_t>(*p));
        d.push_back(0);
    }
    d[0] = static_cast<std::uint8_t>(d.size());
    return d;
}

}  // namespace

std::string SimDevicePath(std::uint16_t vid, std::uint16_t pid, const std::string& location) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "\\\\?\\USB#VID_%04X&PID_%04X#%s#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}", vid,
                  pid, location.c_str());
    return text;
}

SimulatedScanner::SimulatedScanner(const DeviceProfile& profile, std::string path, SimClock& clock)
    : profile_(profile),
      path_(std::move(path)),
      clock_(clock),
      model_(profile),
      log_(profile.transferLog),
      plugged_(profile.plugged) {
    for (const Fault& f : profile.faults) faults_.Arm(f);
}

bool SimulatedScanner::Plugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

void SimulatedScanner::UnplugLocked() {
    if (!plugged_) return;
    plugged_ = false;
    ++generation_;
}

void SimulatedScanner::Unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    UnplugLocked();
}

void SimulatedScanner::Replug() {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = true;
}

void SimulatedScanner::Inject(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.Arm(fault);
}

void SimulatedScanner::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.Clear();
}

void SimulatedScanner::ForceStatus(std::uint32_t set, std::uint32_t clear) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.ForceStatus(set, clear);
}

void SimulatedScanner::LoadFeeder(const std::vector<SimDocument>& documents) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.Feeder().Load(documents);
}

std::size_t SimulatedScanner::FeederCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Feeder().Size();
}

void SimulatedScanner::HoldBulkIn(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBulkIn_ = hold;
}

bool SimulatedScanner::BulkInHeld() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return holdBulkIn_;
}

void SimulatedScanner::AttachChat(std::shared_ptr<ScriptedChat> chat) {
    std::lock_guard<std::mutex> lock(mutex_);
    chat_ = std::move(chat);
}

void SimulatedScanner::DetachChat() {
    std::lock_guard<std::mutex> lock(mutex_);
    chat_.reset();
}

std::uint64_t SimulatedScanner::ControlCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controlCount_;
}

int SimulatedScanner::MaxConcurrentControl() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return maxActive_;
}

std::uint64_t SimulatedScanner::BulkOutBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkOutBytes_;
}

bool SimulatedScanner::CheckPresent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plugged_) return true;
    if (faults_.OnMissing()) plugged_ = true;
    return plugged_;
}

int SimulatedScanner::Open(std::uint64_t* generation) {
    if (!CheckPresent()) return 2;
    std::lock_guard<std::mutex> lock(mutex_);
    bool unplug = false;
    if (int error = faults_.OnOpen(&unplug)) {
        if (unplug) UnplugLocked();
        return error;
    }
    *generation = generation_;
    return 0;
}

bool SimulatedScanner::Alive(std::uint64_t generation) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_ && generation == generation_;
}

int SimulatedScanner::StandardRequest(const platform::UsbSetup& setup,
                                      std::vector<std::uint8_t>* reply) const {
    if (setup.requestType != 0x80 || setup.request != kGetDescriptor ||
        (setup.value >> 8) != kStringDescriptor) {
        return 31;
    }
    const unsigned index = setup.value & 0xFF;
    const unsigned serialIndex = profile_.vid == kMainVendor ? 4 : 3;
    if (index == 0) {
        *reply = {4, kStringDescriptor, 0x09, 0x04};  // English (United States)
    } else if (index == serialIndex) {
        *reply = SerialDescriptor(profile_);
    } else if (index == 1) {
        *reply = AsciiDescriptor("Kovran");
    } else if (index == 2) {
        *reply = AsciiDescriptor("Kovran scanner (simulated)");
    } else {
        return 31;
    }
    if (reply->size() > setup.length) reply->resize(setup.length);
    return 0;
}

int SimulatedScanner::Control(std::uint64_t generation, const platform::UsbSetup& setup,
                              std::uint8_t* data, std::size_t* transferred, unsigned timeoutMs) {
    *transferred = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_) {
        if (!plugged_ && faults_.OnMissing()) plugged_ = true;
        return 2;
    }
    ++controlCount_;
    const bool vendor = (setup.requestType & 0x60) == 0x40;
    std::optional<DecodedRequest> request;
    if (vendor) {
        request = DecodeVendorRequest(model_.Firmware(), model_.Features(), setup,
                                      model_.ExpectingModeParameter());
    }
    std::optional<std::uint8_t> cls;
    std::optional<std::uint8_t> sub;
    if (request) {
        cls = request->cls;
        sub = request->sub;
    }
    const bool statusRead =
        request && request->cls == kClassD0 && request->sub == 0x03 && setup.in();
    ControlFaults f = faults_.OnControl(cls, sub, statusRead, setup.in());
    if (f.unplug) {
        UnplugLocked();
        return 2;
    }
    if (f.error != 0) return f.error;

    ++active_;
    maxActive_ = std::max(maxActive_, active_);
    log_.Begin(setup);
    auto finish = [&](int result) {
        --active_;
        log_.End(setup, result);
        return result;
    };
    if (f.delayMs > 0) {
        // Another transfer may run meanwhile: the window the EP0 semaphore
        // has to close.
        lock.unlock();
        clock_.SleepMs(std::min(f.delayMs, timeoutMs));
        lock.lock();
        if (f.delayMs >= timeoutMs) return finish(1460);
        if (!plugged_ || generation != generation_) return finish(2);
    }

    std::vector<std::uint8_t> reply;
    int result = 0;
    if (vendor && chat_) {
        std::shared_ptr<ScriptedChat> chat = chat_;
        lock.unlock();
        result = chat->Answer(setup, data, transferred, timeoutMs, clock_);
        lock.lock();
        return finish(result);
    }
    if (!vendor) {
        result = StandardRequest(setup, &reply);
    } else if (!request) {
        result = 31;
    } else {
        result = model_.Execute(*request, setup.in() ? nullptr : data, &reply);
    }
    if (result != 0) return finish(result);
    if (!setup.in()) {
        *transferred = setup.length;
        return finish(0);
    }
    if (f.zeroStatus) std::fill(reply.begin(), reply.end(), 0);
    if (f.corruptOffset && *f.corruptOffset < reply.size())
        reply[*f.corruptOffset] ^= f.corruptMask;
    std::size_t count = reply.size();
    if (f.lengthDelta != 0) {
        long long adjusted = static_cast<long long>(count) + f.lengthDelta;
        count = adjusted < 0 ? 0 : static_cast<std::size_t>(adjusted);
        reply.resize(std::min<std::size_t>(count, setup.length), 0);
    }
    if (data != nullptr && !reply.empty()) {
        std::memcpy(data, reply.data(), std::min<std::size_t>(reply.size(), setup.length));
    }
    *transferred = data != nullptr ? count : 0;
    return finish(0);
}

int SimulatedScanner::BulkAdmit(std::uint64_t generation, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_) {
        if (!plugged_ && faults_.OnMissing()) plugged_ = true;
        return 2;
    }
    return faults_.OnBulkSubmit(length);
}

bool SimulatedScanner::BulkOut(const std::uint8_t* data, std::size_t length) {
    (void)data;  // the inkjet model will keep the nozzle data
    std::lock_guard<std::mutex> lock(mutex_);
    if (faults_.OnBulkBytes(length)) {
        UnplugLocked();
        return false;
    }
    bulkOutBytes_ += length;
    return true;
}

}  // namespace kovran::sim
