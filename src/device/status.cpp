#include "device/status.h"

#include <atomic>
#include <cstdio>

#include "KovranMS.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/connection_seams.h"
#include "device/control_request.h"
#include "device/transport.h"
#include "platform/clock.h"
#include "platform/sys_error.h"
#include "platform/usb_vendors.h"

namespace kovran::device {

namespace {

constexpr std::uint32_t kStatusCommand = 3;
constexpr unsigned kStatusBytes = 8;
// The eleventh invalid word in a row (attempt 10) marks the device failed.
constexpr int kLastInvalidAttempt = 10;
constexpr unsigned kInvalidRetryPauseMs = 200;
constexpr std::uint16_t kFeedFirmware = 0x2003;
constexpr std::uint32_t kFeedStart3000 = 0x36;
constexpr std::uint32_t kFeedStop3000 = 0x37;
constexpr std::uint32_t kFeedStartOld = 8;
constexpr std::uint32_t kFeedStopOld = 9;

// Written by the host's calls; read by the close and the unload.
struct FeedRecord {
    std::atomic<bool> running{false};
};

FeedRecord& FeedState() {
    return lib().Get<FeedRecord>();
}

bool FlagBit(std::uint32_t flags, int bit) {
    return ((flags >> bit) & 1u) != 0;
}

void Put(std::uint32_t& word, std::uint32_t bit, bool on) {
    word = on ? (word | bit) : (word & ~bit);
}

bool SensorFamily(const DeviceIdentity& d) {
    return d.vid == platform::kMainVendor &&
           (d.pid == 3 || d.pid == 4 || d.pid == 8 || d.pid == 9 || d.pid == 14);
}

}  // namespace

std::uint32_t AssembleStatus(const std::array<std::uint8_t, 8>& b, std::uint16_t firmware) {
    const std::uint32_t flags = firmware > 0x30FF ? std::uint32_t{b[4]} * 256u + b[3] : b[3];
    return std::uint32_t{b[1]} | (std::uint32_t{b[2]} << 8) | (flags << 16);
}

std::uint32_t RemapStatus(std::uint32_t raw, const DeviceIdentity& d) {
    const DeviceCapabilities& c = d.capabilities;
    const std::uint32_t flags = raw >> 16;
    std::uint32_t w = raw;
    // The three double-sheet sensors arrive in flag bits 8 to 10 and are
    // read one bit lower.
    if (FlagBit(flags, 8)) w = (w & ~(1u << 24)) | (1u << 23);
    if (FlagBit(flags, 9)) w = (w & ~(1u << 25)) | (1u << 24);
    if (FlagBit(flags, 10)) w = (w & ~(1u << 26)) | (1u << 25);
    if (FlagBit(flags, 11)) {
        w &= ~(1u << 27);
        if (c.reportsStatus4000000) w |= 1u << 26;
    }
    if (c.adfDisabledByIni) w &= ~kStatusPhotocell;
    if (w == 0) return 0;

    if (!c.externalPowerSensing)
        w |= kStatusExternalPower;
    else if (!FlagBit(flags, 0))
        w |= kStatusDocumentAtInput;
    if (!c.reportsStatus200) w &= ~0x200u;
    if (!c.reportsStatus400) w &= ~0x400u;
    if (!c.reportsStatus800) w &= ~0x800u;
    Put(w, 0x8000000, c.inkjetType1);
    if (SensorFamily(d)) {
        Put(w, 0x200000, c.reportsStatus200000 && FlagBit(flags, 4));
        Put(w, 0x400000, c.reportsStatus400000 && FlagBit(flags, 5));
        Put(w, 0x80000, c.reportsStatus80000 && FlagBit(flags, 2));
        Put(w, 0x100000, c.reportsStatus100000 && FlagBit(flags, 3));
        Put(w, 0x40000, c.reportsStatus40000 && FlagBit(flags, 15));
    }
    return w;
}

std::uint32_t ReadStatus() {
    for (int attempt = 0;; ++attempt) {
        std::array<std::uint8_t, 8> block{};
        if (ControlMsg(kClassConfig, kStatusCommand, block.data(), kStatusBytes, Direction::In) !=
            static_cast<int>(kStatusBytes))
            return 0;
        const DeviceIdentity id = Identity();
        const std::uint32_t raw = AssembleStatus(block, id.firmware);
        if (Settings().scan.statusIn) {
            char line[32];
            std::snprintf(line, sizeof line, "statusIn 0x%08x", raw);
            LogText(line);
        }
        const std::uint32_t word = RemapStatus(raw, id);
        if (word != 0) return word;
        if (attempt == kLastInvalidAttempt) {
            LogPairValue("err - ",
                         "Read status returning INVALID value -> labelling device as invalid",
                         platform::LastSystemError());
            Frame().deviceState.store(DeviceState::Failed);
            return 0;
        }
        LogPairValue("war - ", "Read status returning INVALID value -> retry", attempt);
        platform::Sleep(kInvalidRetryPauseMs);
        // Another thread's transfer may have failed meanwhile: the next
        // transfer then tries a reopen instead of failing at once.
        DeviceState failed = DeviceState::Failed;
        Frame().deviceState.compare_exchange_strong(failed, DeviceState::Lost);
    }
}

bool SetFeed(Feed feed) {
    FeedState().running.store(feed == Feed::Start);
    const DeviceIdentity id = Identity();
    if (id.alternative || id.firmware < kFeedFirmware) return true;
    const bool family3000 = id.firmware > 0x2FFF;
    if (feed == Feed::Start) {
        if ((ReadStatus() & kStatusBusy) != 0) {
            FeedState().running.store(false);
            LogPair("err - ", "Device is busy");
            SetLastResult(KVX_ERR_BUSY);
            return false;
        }
        ControlMsg(kClassAcquisition, family3000 ? kFeedStart3000 : kFeedStartOld, nullptr, 0,
                   Direction::In);
    } else {
        ControlMsg(kClassAcquisition, family3000 ? kFeedStop3000 : kFeedStopOld, nullptr, 0,
                   Direction::In);
    }
    return true;
}

bool FeedRunning() {
    return FeedState().running.load();
}

bool HasExternalPower() {
    if (!Identity().capabilities.externalPowerSensing) return true;
    return (ReadStatus() & kStatusExternalPower) != 0;
}

}  // namespace kovran::device
