// One simulated scanner as the USB layer sees it: plugged or not, its
// firmware model, its armed faults, an optional scripted chat, and the
// bookkeeping that tests inspect. Shared by the backend and every handle
// opened on it; all members lock, so handles may be used from several
// threads (as the acquisition and the host's status polls do).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb_backend.h"
#include "sim/device_profile.h"
#include "sim/fault_plan.h"
#include "sim/feeder.h"
#include "sim/scanner_model.h"
#include "sim/scripted_chat.h"
#include "sim/transfer_log.h"

namespace kovran::sim {

// "\\?\USB#VID_7E51&PID_0003#1-1#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"
std::string SimDevicePath(std::uint16_t vid, std::uint16_t pid, const std::string& location);

class SimulatedScanner {
  public:
    SimulatedScanner(const DeviceProfile& profile, std::string path);

    const std::string& Path() const { return path_; }
    const DeviceProfile& Profile() const { return profile_; }

    // --- Test controls -------------------------------------------------
    bool Plugged() const;
    // Gone from enumeration; opens fail with 2; open handles fail with 2
    // from now on, also after a replug (a replugged device is a new one).
    void Unplug();
    void Replug();
    void Inject(const Fault& fault);
    void ClearFaults();
    // Status bits forced on or off on top of the model (device's own bits).
    void ForceStatus(std::uint32_t set, std::uint32_t clear);
    void LoadFeeder(const std::vector<SimDocument>& documents);
    // A card for the stripe reader, after those queued before.
    void QueueSwipe(const CardSwipe& swipe);
    std::size_t SwipesQueued() const;
    std::size_t FeederCount() const;
    // While held, bulk IN transfers stay pending (until released or
    // cancelled) instead of ending at once with nothing to stream.
    enum class BulkIn : bool { Flowing, Held };
    void SetBulkIn(BulkIn state);
    // Vendor control transfers go to the chat while it is attached.
    void AttachChat(std::shared_ptr<ScriptedChat> chat);
    void DetachChat();

    // Runs f on the firmware model under the lock and returns its result.
    template <class F>
    auto Inspect(F f) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return f(model_);
    }
    // Bulk IN packets of 512 bytes (high speed) or 64 (full speed); the
    // profile decides until a test changes it.
    enum class BusSpeed : bool { Full, High };
    void SetBusSpeed(BusSpeed speed);
    std::uint64_t ControlCount() const;
    // Opens that succeeded so far.
    std::uint64_t OpenCount() const;
    // The most transfers that were ever in progress at once in this process.
    int MaxConcurrentControl() const;
    std::uint64_t BulkOutBytes() const;
    // CPU time the handles of this scanner spent in its work (composing the
    // stream, answering requests) on the threads that called them, which
    // are the library's: a benchmark takes it off the process's time.
    std::int64_t OwnCpuNs() const;

    // --- Used by the backend and its handles ---------------------------
    enum class BulkInState : std::uint8_t { Pending, Done, Failed };
    struct BulkInStep {
        BulkInState state = BulkInState::Pending;
        int error = 0;  // Failed
    };
    // True when present; an absent device counts the miss (see Replug{}).
    bool CheckPresent();
    // 0 with *generation set, or the error the open fails with.
    int Open(std::uint64_t* generation);
    bool Alive(std::uint64_t generation) const;
    int Control(std::uint64_t generation, const platform::UsbSetup& setup, std::uint8_t* data,
                std::size_t* transferred, unsigned timeoutMs);
    // Bulk: 0 or an error before a transfer is queued (2, 1450).
    int BulkAdmit(std::uint64_t generation, std::size_t length);
    // A queued OUT transfer (the printer's data) passes its bytes when the
    // printer takes them: Pending until then, Failed when the device went
    // away while they passed.
    BulkInStep PumpBulkOut(std::uint64_t generation, const std::uint8_t* data, std::size_t length,
                           std::int64_t submittedMs);
    bool BulkInHeld() const;
    std::uint32_t BulkPacketSize() const;

    // A bulk-in read is queued: true when it ends at once with nothing
    // (no acquisition, or a read completed before GO).
    bool BulkInEndsAtOnce();
    // Where a queued bulk-in read stands after moving the stream's due
    // bytes into buffer[*progress..length).
    BulkInStep PumpBulkIn(std::uint64_t generation, std::uint8_t* buffer, std::size_t length,
                          std::size_t* progress);
    // Bytes the bulk-in stream has sent since power-on.
    std::uint64_t BulkInBytes() const;
    void AddOwnCpuNs(std::int64_t ns);

  private:
    int StandardRequest(const platform::UsbSetup& setup, std::vector<std::uint8_t>* reply) const;
    void UnplugLocked();

    const DeviceProfile profile_;
    const std::string path_;
    mutable std::mutex mutex_;
    ScannerModel model_;
    FaultPlan faults_;
    std::shared_ptr<ScriptedChat> chat_;
    TransferLog log_;
    bool plugged_;
    bool holdBulkIn_ = false;
    std::uint64_t generation_ = 1;
    std::uint64_t controlCount_ = 0;
    std::uint64_t openCount_ = 0;
    BusSpeed speed_;
    int active_ = 0;
    int maxActive_ = 0;
    std::uint64_t bulkOutBytes_ = 0;
    std::uint64_t bulkInBytes_ = 0;
    std::atomic<std::int64_t> ownCpuNs_{0};
    // Rate limiting: bytes sent since the limit's clock started, which is
    // at the first read under the limit and again at every GO, so that the
    // time between acquisitions lends no bytes to the next one.
    std::int64_t rateStartNs_ = -1;
    std::int64_t rateStreamNs_ = -1;  // GO of the stream the window belongs to
    std::uint64_t rateBytes_ = 0;
};

}  // namespace kovran::sim
