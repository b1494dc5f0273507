#include "sim/sim_backend.h"

#include <algorithm>
#include <condition_variable>
#include <map>

#include "api/log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sys_error.h"
#include "sim/profile_parser.h"

namespace kovran::sim {

namespace {

using platform::kErrorFileNotFound;
using platform::kErrorInvalidParameter;
using platform::kErrorIoIncomplete;
using platform::kErrorOperationAborted;
using platform::kErrorSuccess;

constexpr unsigned kBulkPollMs = 10;

thread_local std::int64_t tOwnCpuNs = 0;

// The simulator's work inside one call of the library's, on the library's
// thread: counted for the scanner and the thread, so that what the library
// costs can be told from what the simulated device costs.
class OwnWork {
  public:
    explicit OwnWork(SimulatedScanner& scanner)
        : scanner_(scanner), startNs_(platform::ThreadCpuNs()) {}
    ~OwnWork() {
        const std::int64_t ns = platform::ThreadCpuNs() - startNs_;
        scanner_.AddOwnCpuNs(ns);
        tOwnCpuNs += ns;
    }
    OwnWork(const OwnWork&) = delete;
    OwnWork& operator=(const OwnWork&) = delete;

  private:
    SimulatedScanner& scanner_;
    const std::int64_t startNs_;
};

}  // namespace

std::int64_t OwnCpuNsOnThisThread() {
    return tOwnCpuNs;
}

// Who holds a scanner's interface: the kernel lets one open device file
// claim it, and a claim through a second file fails with "busy".
struct SimBackend::Claims {
    std::mutex mutex;
    const void* owner = nullptr;
};

// One open device file of a scanner. The interface is claimed through it
// at its first bulk transfer and given back when the last device object
// that moved bulk data closes (at the latest when the file closes).
class SimBackend::File {
  public:
    File(std::shared_ptr<Claims> claims, std::uint64_t generation)
        : claims_(std::move(claims)), generation_(generation) {}
    ~File() {
        const std::lock_guard lock(claims_->mutex);
        if (claims_->owner == this) claims_->owner = nullptr;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // A device object starts moving bulk data through this file.
    int Claim() {
        const std::lock_guard lock(claims_->mutex);
        if (claims_->owner == nullptr) claims_->owner = this;
        if (claims_->owner != this) return platform::kErrorBusy;
        ++users_;
        return kErrorSuccess;
    }
    // The last device object that moved bulk data is closed: the
    // interface is given back, the file stays open.
    void Unclaim() {
        const std::lock_guard lock(claims_->mutex);
        if (users_ == 0 || --users_ != 0) return;
        if (claims_->owner == this) claims_->owner = nullptr;
    }
    std::uint64_t Generation() const { return generation_; }

  private:
    std::shared_ptr<Claims> claims_;
    const std::uint64_t generation_;
    int users_ = 0;  // under claims_->mutex
};

namespace {

// A device object on a simulated scanner, through a device file it may
// share with others. Its bulk transfers are its own: a device object that
// is closed forgets them.
class SimDevice : public platform::UsbDevice {
  public:
    SimDevice(std::shared_ptr<SimulatedScanner> scanner, std::shared_ptr<SimBackend::File> file)
        : scanner_(std::move(scanner)), file_(std::move(file)), generation_(file_->Generation()) {}
    ~SimDevice() override {
        if (claimed_) file_->Unclaim();
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    int Control(const platform::UsbSetup& setup, std::uint8_t* data, std::size_t* transferred,
                unsigned timeoutMs) override {
        const OwnWork own(*scanner_);
        std::size_t scratch = 0;
        return scanner_->Control(generation_, setup, data, transferred ? transferred : &scratch,
                                 timeoutMs);
    }

    int SubmitBulk(platform::BulkPipe pipe, std::uint8_t* buffer, std::size_t length,
                   platform::BulkTransferId* id) override {
        const OwnWork own(*scanner_);
        if (id == nullptr || (buffer == nullptr && length > 0)) return kErrorInvalidParameter;
        if (int error = scanner_->BulkAdmit(generation_, length)) return error;
        if (!claimed_) {
            if (int error = file_->Claim()) return error;
            claimed_ = true;
        }
        Transfer t;
        t.pipe = pipe;
        if (pipe == platform::BulkPipe::Out) {
            t.buffer = buffer;
            t.length = length;
            t.submittedMs = platform::SteadyNowMs();
            PumpOut(t);
        } else {
            t.buffer = buffer;
            t.length = length;
            // No acquisition (or a read completed before GO): the short
            // read that ends a stream.
            if (scanner_->BulkInEndsAtOnce()) t.state = State::Done;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        *id = ++lastId_;
        transfers_[*id] = t;
        return kErrorSuccess;
    }

    int PollBulk(platform::BulkTransferId id, std::size_t* transferred) override {
        const OwnWork own(*scanner_);
        std::lock_guard<std::mutex> lock(mutex_);
        return ReapLocked(id, transferred);
    }

    int WaitBulk(platform::BulkTransferId id, std::size_t* transferred,
                 unsigned timeoutMs) override {
        const OwnWork own(*scanner_);
        std::unique_lock<std::mutex> lock(mutex_);
        const std::int64_t deadline = platform::SteadyNowMs() + timeoutMs;
        for (;;) {
            const int r = ReapLocked(id, transferred);
            const std::int64_t now = platform::SteadyNowMs();
            if (r != kErrorIoIncomplete || now >= deadline) return r;
            // A cancel on this handle ends the wait at once; a release or an
            // unplug of the scanner shows at the next poll.
            const auto step =
                static_cast<unsigned>(std::min<std::int64_t>(kBulkPollMs, deadline - now));
            platform::WaitFor(changed_, lock, step, [&] { return !StillPendingLocked(id); });
        }
    }

    int CancelBulk(platform::BulkPipe pipe) override {
        const OwnWork own(*scanner_);
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [id, t] : transfers_) {
            if (t.pipe == pipe && t.state == State::Pending) t.state = State::Cancelled;
        }
        changed_.notify_all();
        return scanner_->Alive(generation_) ? kErrorSuccess : kErrorFileNotFound;
    }

    int BulkInPacketSize(std::uint32_t* size) override {
        if (!scanner_->Alive(generation_)) return kErrorFileNotFound;
        if (size) *size = scanner_->BulkPacketSize();
        return kErrorSuccess;
    }

  private:
    enum class State { Pending, Done, Cancelled, Failed };
    struct Transfer {
        platform::BulkPipe pipe = platform::BulkPipe::In;
        State state = State::Pending;
        std::size_t transferred = 0;  // the progress of a read
        int error = kErrorSuccess;
        std::uint8_t* buffer = nullptr;  // the host's buffer of a read or a write
        std::size_t length = 0;
        std::int64_t submittedMs = 0;  // a write's
    };

    // The printer takes a write whole when it is ready for it.
    void PumpOut(Transfer& t) {
        const SimulatedScanner::BulkInStep step =
            scanner_->PumpBulkOut(generation_, t.buffer, t.length, t.submittedMs);
        if (step.state == SimulatedScanner::BulkInState::Done) {
            t.state = State::Done;
            t.transferred = t.length;
        } else if (step.state == SimulatedScanner::BulkInState::Failed) {
            t.state = State::Failed;
            t.error = step.error;
        }
    }

    bool StillPendingLocked(platform::BulkTransferId id) const {
        auto it = transfers_.find(id);
        return it != transfers_.end() && it->second.state == State::Pending;
    }

    // Moves the stream into the pending reads, oldest first, as the device
    // fills the transfers the host queued in their order.
    void PumpLocked(platform::BulkTransferId upTo) {
        for (auto& [id, t] : transfers_) {
            if (id > upTo) break;
            if (t.state != State::Pending || t.pipe != platform::BulkPipe::In) continue;
            const SimulatedScanner::BulkInStep step =
                scanner_->PumpBulkIn(generation_, t.buffer, t.length, &t.transferred);
            if (step.state == SimulatedScanner::BulkInState::Pending) break;
            if (step.state == SimulatedScanner::BulkInState::Failed) {
                t.state = State::Failed;
                t.error = step.error;
            } else {
                t.state = State::Done;
            }
        }
    }

    int ReapLocked(platform::BulkTransferId id, std::size_t* transferred) {
        if (transferred) *transferred = 0;
        auto it = transfers_.find(id);
        if (it == transfers_.end()) return kErrorInvalidParameter;
        Transfer& t = it->second;
        if (t.state == State::Pending) {
            if (!scanner_->Alive(generation_)) {
                t.state = State::Failed;
                t.error = kErrorFileNotFound;
            } else {
                if (t.pipe == platform::BulkPipe::Out)
                    PumpOut(t);
                else
                    PumpLocked(id);
                if (t.state == State::Pending) return kErrorIoIncomplete;
            }
        }
        int result = kErrorSuccess;
        if (t.state == State::Cancelled) result = kErrorOperationAborted;
        if (t.state == State::Failed) result = t.error;
        if (t.state == State::Done && transferred) *transferred = t.transferred;
        transfers_.erase(it);
        return result;
    }

    std::shared_ptr<SimulatedScanner> scanner_;
    std::shared_ptr<SimBackend::File> file_;
    const std::uint64_t generation_;
    bool claimed_ = false;  // counted in the file's claim
    std::mutex mutex_;
    std::condition_variable changed_;
    platform::BulkTransferId lastId_ = 0;
    std::map<platform::BulkTransferId, Transfer> transfers_;
};

}  // namespace

SimBackend::SimBackend(const std::vector<DeviceProfile>& profiles) {
    for (const DeviceProfile& p : profiles) AddDevice(p);
}

SimulatedScanner& SimBackend::AddDevice(const DeviceProfile& profile) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string location = profile.location;
    if (location.empty()) location = "1-" + std::to_string(scanners_.size() + 1);
    auto scanner = std::make_shared<SimulatedScanner>(
        profile, platform::ToUpper(SimDevicePath(profile.vid, profile.pid, location)));
    scanners_.push_back(scanner);
    return *scanner;
}

std::size_t SimBackend::DeviceCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return scanners_.size();
}

SimulatedScanner& SimBackend::Device(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return *scanners_.at(index);
}

SimulatedScanner* SimBackend::FindBySerial(const std::string& serial) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& s : scanners_) {
        if (s->Profile().serial == serial) return s.get();
    }
    return nullptr;
}

std::vector<platform::UsbDeviceInfo> SimBackend::Enumerate() {
    std::vector<std::shared_ptr<SimulatedScanner>> scanners;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        scanners = scanners_;
    }
    std::vector<platform::UsbDeviceInfo> out;
    for (auto& s : scanners) {
        if (s->CheckPresent()) out.push_back({s->Path(), s->Profile().vid, s->Profile().pid});
    }
    return out;
}

std::unique_ptr<platform::UsbDevice> SimBackend::Open(const std::string& path, int* error) {
    return OpenFile(path, error, FileSharing::Shared);
}

std::unique_ptr<platform::UsbDevice> SimBackend::OpenSeparateFile(const std::string& path,
                                                                  int* error) {
    return OpenFile(path, error, FileSharing::Separate);
}

std::unique_ptr<platform::UsbDevice> SimBackend::OpenFile(const std::string& path, int* error,
                                                          FileSharing sharing) {
    int scratch = 0;
    int& err = error ? *error : scratch;
    std::shared_ptr<SimulatedScanner> found;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string wanted = platform::ToUpper(path);
        for (auto& s : scanners_) {
            if (s->Path() == wanted) found = s;
        }
    }
    if (!found) {
        err = kErrorFileNotFound;
        return nullptr;
    }
    // Every open is a try of the device (its open faults and count), also
    // where the file is shared.
    std::uint64_t generation = 0;
    if (int e = found->Open(&generation)) {
        err = e;
        return nullptr;
    }
    std::shared_ptr<File> file;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Files& files = files_[found.get()];
        if (!files.claims) files.claims = std::make_shared<Claims>();
        if (sharing == FileSharing::Shared) file = files.shared.lock();
        // A replugged scanner is a new device: its old file stays dead.
        if (!file || file->Generation() != generation) {
            file = std::make_shared<File>(files.claims, generation);
            if (sharing == FileSharing::Shared) files.shared = file;
        }
    }
    err = kErrorSuccess;
    return std::make_unique<SimDevice>(std::move(found), std::move(file));
}

std::unique_ptr<SimBackend> MakeSimBackend(const char* profilePath, std::string* error) {
    std::vector<DeviceProfile> profiles;
    if (profilePath == nullptr || *profilePath == '\0') {
        profiles.push_back(DefaultDeviceProfile());
    } else if (!LoadProfileFile(profilePath, &profiles, error)) {
        return nullptr;
    }
    return std::make_unique<SimBackend>(profiles);
}

std::unique_ptr<platform::UsbBackend> MakeSimBackendFromEnv(const char* profilePath) {
    std::string error;
    std::unique_ptr<SimBackend> backend = MakeSimBackend(profilePath, &error);
    if (!backend) LogPair("err - ", ("sim profile " + error).c_str());
    return backend;
}

}  // namespace kovran::sim
