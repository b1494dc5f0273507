#include "sim/simulated_scanner.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/sys_error.h"

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
    return platform::UsbInterfacePath(vid, pid, location);
}

SimulatedScanner::SimulatedScanner(const DeviceProfile& profile, std::string path)
    : profile_(profile),
      path_(std::move(path)),
      model_(profile),
      log_(profile.transferLog),
      plugged_(profile.plugged),
      speed_(profile.highSpeed ? BusSpeed::High : BusSpeed::Full) {
    for (const Fault& f : profile.faults) faults_.Arm(f);
    model_.SetFaults(&faults_);
}

bool SimulatedScanner::Plugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

void SimulatedScanner::UnplugLocked() {
    if (!plugged_) return;
    plugged_ = false;
    ++generation_;
    // A replugged scanner starts afresh: the next GO takes the next
    // document instead of going on with the one it lost.
    model_.Acquisition().PowerLost();
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

void SimulatedScanner::QueueSwipe(const CardSwipe& swipe) {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.Stripe().Queue(swipe);
}

std::size_t SimulatedScanner::SwipesQueued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Stripe().Queued();
}

std::size_t SimulatedScanner::FeederCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return model_.Feeder().Size();
}

void SimulatedScanner::SetBulkIn(BulkIn state) {
    std::lock_guard<std::mutex> lock(mutex_);
    holdBulkIn_ = state == BulkIn::Held;
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

void SimulatedScanner::SetBusSpeed(BusSpeed speed) {
    std::lock_guard<std::mutex> lock(mutex_);
    speed_ = speed;
}

std::uint32_t SimulatedScanner::BulkPacketSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return speed_ == BusSpeed::High ? 512 : 64;
}

std::uint64_t SimulatedScanner::OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return openCount_;
}

bool SimulatedScanner::CheckPresent() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plugged_) return true;
    if (faults_.OnMissing()) plugged_ = true;
    return plugged_;
}

int SimulatedScanner::Open(std::uint64_t* generation) {
    if (!CheckPresent()) return platform::kErrorFileNotFound;
    std::lock_guard<std::mutex> lock(mutex_);
    bool unplug = false;
    if (int error = faults_.OnOpen(&unplug)) {
        if (unplug) UnplugLocked();
        return error;
    }
    *generation = generation_;
    ++openCount_;
    return platform::kErrorSuccess;
}

bool SimulatedScanner::Alive(std::uint64_t generation) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_ && generation == generation_;
}

int SimulatedScanner::StandardRequest(const platform::UsbSetup& setup,
                                      std::vector<std::uint8_t>* reply) const {
    if (setup.requestType != 0x80 || setup.request != kGetDescriptor ||
        (setup.value >> 8) != kStringDescriptor) {
        return platform::kErrorGenFailure;
    }
    const unsigned index = setup.value & 0xFF;
    const unsigned serialIndex = profile_.vid == platform::kMainVendor ? 4 : 3;
    if (index == 0) {
        *reply = {4, kStringDescriptor, 0x09, 0x04};  // English (United States)
    } else if (index == serialIndex) {
        *reply = SerialDescriptor(profile_);
    } else if (index == 1) {
        *reply = AsciiDescriptor("Kovran");
    } else if (index == 2) {
        *reply = AsciiDescriptor("Kovran scanner (simulated)");
    } else {
        return platform::kErrorGenFailure;
    }
    if (reply->size() > setup.length) reply->resize(setup.length);
    return platform::kErrorSuccess;
}

int SimulatedScanner::Control(std::uint64_t generation, const platform::UsbSetup& setup,
                              std::uint8_t* data, std::size_t* transferred, unsigned timeoutMs) {
    *transferred = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_) {
        if (!plugged_ && faults_.OnMissing()) plugged_ = true;
        return platform::kErrorFileNotFound;
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
        request && request->cls == kClassD0 && request->sub == 0x03 && setup.IsIn();
    ControlFaults f = faults_.OnControl(cls, sub, statusRead, setup.IsIn());
    if (f.unplug) {
        UnplugLocked();
        return platform::kErrorFileNotFound;
    }
    if (f.error != platform::kErrorSuccess) return f.error;

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
        platform::Sleep(std::min(f.delayMs, timeoutMs));
        lock.lock();
        if (f.delayMs >= timeoutMs) return finish(platform::kErrorTimeout);
        if (!plugged_ || generation != generation_) return finish(platform::kErrorFileNotFound);
    }

    std::vector<std::uint8_t> reply;
    int result = platform::kErrorSuccess;
    if (vendor && chat_) {
        std::shared_ptr<ScriptedChat> chat = chat_;
        lock.unlock();
        const ChatAnswer answer = chat->Answer(setup, data, transferred, timeoutMs);
        lock.lock();
        if (answer.after == ChatAfter::Unplug) UnplugLocked();
        return finish(answer.error);
    }
    if (!vendor) {
        result = StandardRequest(setup, &reply);
    } else if (!request) {
        result = platform::kErrorGenFailure;
    } else {
        result = model_.Execute(*request, setup.IsIn() ? nullptr : data, &reply);
    }
    if (result != platform::kErrorSuccess) return finish(result);
    if (!setup.IsIn()) {
        *transferred = setup.length;
        return finish(platform::kErrorSuccess);
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
    return finish(platform::kErrorSuccess);
}

int SimulatedScanner::BulkAdmit(std::uint64_t generation, std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_) {
        if (!plugged_ && faults_.OnMissing()) plugged_ = true;
        return platform::kErrorFileNotFound;
    }
    if (profile_.bulkLimit > 0 && length > profile_.bulkLimit)
        return platform::kErrorNoSystemResources;
    return faults_.OnBulkSubmit(length);
}

bool SimulatedScanner::BulkInEndsAtOnce() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (holdBulkIn_) return false;
    switch (model_.Acquisition().State()) {
        case StreamState::Armed:
            return faults_.TakeEarlyCompletion();
        case StreamState::Streaming:
            return false;
        case StreamState::Idle:
        case StreamState::Ended:
            break;
    }
    return true;
}

std::int64_t SimulatedScanner::OwnCpuNs() const {
    return ownCpuNs_.load(std::memory_order_relaxed);
}

void SimulatedScanner::AddOwnCpuNs(std::int64_t ns) {
    ownCpuNs_.fetch_add(ns, std::memory_order_relaxed);
}

std::uint64_t SimulatedScanner::BulkInBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkInBytes_;
}

SimulatedScanner::BulkInStep SimulatedScanner::PumpBulkIn(std::uint64_t generation,
                                                          std::uint8_t* buffer, std::size_t length,
                                                          std::size_t* progress) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_)
        return {BulkInState::Failed, platform::kErrorFileNotFound};
    if (holdBulkIn_) return {};
    AcquisitionModel& acquisition = model_.Acquisition();
    AcquisitionStream* stream = acquisition.Stream();
    if (acquisition.State() == StreamState::Armed) return {};
    if (acquisition.State() != StreamState::Streaming || stream == nullptr)
        return {BulkInState::Done, 0};
    // A read error hits a read before its first byte: the bytes of a read
    // under way are never lost, the next read fails.
    if (*progress == 0) {
        if (int error = faults_.TakeBulkError()) return {BulkInState::Failed, error};
    }
    if (faults_.Stalled()) return {};
    std::size_t room = length - *progress;
    if (std::optional<std::uint64_t> event = faults_.StreamBytesBeforeEvent())
        room = static_cast<std::size_t>(std::min<std::uint64_t>(room, *event));
    const std::int64_t now = platform::SteadyNowNs();
    if (std::uint64_t rate = faults_.RateLimitBytesPerSecond()) {
        if (rateStartNs_ < 0 || rateStreamNs_ != stream->StartNs()) {
            rateStartNs_ = rateStartNs_ < 0 ? now : std::max(rateStartNs_, stream->StartNs());
            rateStreamNs_ = stream->StartNs();
            rateBytes_ = 0;
        }
        const double allowed =
            static_cast<double>(now - rateStartNs_) / 1e9 * static_cast<double>(rate);
        const std::uint64_t budget = allowed > static_cast<double>(rateBytes_)
                                         ? static_cast<std::uint64_t>(allowed) - rateBytes_
                                         : 0;
        room = static_cast<std::size_t>(std::min<std::uint64_t>(room, budget));
    }
    bool ended = false;
    const std::size_t n = stream->Produce(buffer + *progress, room, now, &ended);
    *progress += n;
    bulkInBytes_ += n;
    rateBytes_ += n;
    if (faults_.OnStreamBytes(n)) {
        UnplugLocked();
        return {BulkInState::Failed, platform::kErrorFileNotFound};
    }
    if (ended) {
        acquisition.MarkEnded();
        model_.Printer().FinishDocument(stream->DocumentInches());
        return {BulkInState::Done, 0};
    }
    if (*progress == length) return {BulkInState::Done, 0};
    return {};
}

SimulatedScanner::BulkInStep SimulatedScanner::PumpBulkOut(std::uint64_t generation,
                                                           const std::uint8_t* data,
                                                           std::size_t length,
                                                           std::int64_t submittedMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || generation != generation_)
        return {BulkInState::Failed, platform::kErrorFileNotFound};
    const StreamState state = model_.Acquisition().State();
    PrinterModel::Paper paper;
    paper.underWay = state == StreamState::Armed || state == StreamState::Streaming;
    if (const AcquisitionStream* stream = model_.Acquisition().Stream())
        paper.inchesPassed = std::min(stream->PaperInchesSent(), stream->DocumentInches());
    if (model_.Printer().Accepts(paper, length, submittedMs, platform::SteadyNowMs()) !=
        PrinterModel::Take::Now)
        return {};
    if (faults_.OnBulkBytes(length)) {
        UnplugLocked();
        return {BulkInState::Failed, platform::kErrorFileNotFound};
    }
    bulkOutBytes_ += length;
    model_.Printer().TakeData(data, length);
    return {BulkInState::Done, 0};
}

}  // namespace kovran::sim
