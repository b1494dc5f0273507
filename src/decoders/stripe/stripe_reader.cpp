#include "decoders/stripe/stripe_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/status.h"
#include "device/transport.h"
#include "platform/clock.h"
#include "platform/usb_vendors.h"

namespace kovran::decoders::stripe {
namespace {

// A track reply: byte 1 the count (signed), then the characters.
constexpr std::size_t kReplyBytes = 64;
constexpr std::size_t kReplyCount = 1;
constexpr std::size_t kReplyData = 2;

bool OwnReader() {
    return device::Identity().vid == platform::kMainVendor;
}

// The last result after a failed transfer, never a success.
KVXResult TransportError() {
    const KVXResult r = LastResult();
    return r < 0 ? r : KVX_ERR_GENERIC;
}

void ClearTracks() {
    for (auto& t : Stripe().tracks) t.fill('\0');
}

// Fetches a track's raw characters: replies until one carries no count.
KVXResult FetchTrack(int track, std::vector<std::uint8_t>* raw) {
    for (;;) {
        std::array<std::uint8_t, kReplyBytes> reply{};
        const int got = device::ControlMsg(device::kClassStripe,
                                           kTrack1Data + static_cast<std::uint32_t>(track - 1),
                                           reply.data(), kReplyBytes, device::Direction::In);
        if (got < 0) {
            LogPair("err - ", "Data request failed");
            return TransportError();
        }
        const int count = static_cast<std::int8_t>(reply[kReplyCount]);
        if (count <= 0) return KVX_OK;
        // A count past the reply's end is no reply the reader gives.
        if (static_cast<std::size_t>(count) > kReplyBytes - kReplyData) {
            LogPairValue("err - ", "track data count out of range", count);
            return KVX_ERR_MS_READ;
        }
        raw->insert(raw->end(), reply.begin() + kReplyData, reply.begin() + kReplyData + count);
        if (raw->size() > kTrackBytes) return KVX_ERR_MS_TOO_MANY;
    }
}

void LogNotes(const TrackDecoding& d) {
    for (const DecodeNote& n : d.notes) {
        if (n.value)
            LogPairValue(n.prefix, n.text, *n.value);
        else
            LogPair(n.prefix, n.text);
    }
}

// Waits for a swipe; the status word with its data bits, or the error.
KVXResult WaitForSwipe(std::uint32_t* status) {
    const int timeoutMs = std::max(Settings().scan.msecMagstripeTimeout, 0);
    const int polls = timeoutMs / static_cast<int>(kSwipePollMs);
    for (int i = 0; i < polls; ++i) {
        if (i > 0) platform::Sleep(kSwipePollMs);
        const std::uint32_t word = device::ReadStatus();
        if (word == 0) return TransportError();
        if ((word & kStatusTrackData) != 0) {
            *status = word;
            return KVX_OK;
        }
        // The device's word beats the library's belief: a reader that went
        // off (a power dip, another program) is switched on again.
        if ((word & kStatusReaderOn) == 0) {
            const KVXResult r = SwitchReader(device::StripeReader::On, Resend::Yes);
            if (r < 0) return r;
            if (Stripe().absent) return KVX_ERR_HW_UNSUPPORTED;
        }
    }
    LogPair("war - ", "Magnetic Stripe Timeout");
    return KVX_ERR_TIMEOUT;
}

}  // namespace

StripeRecord& Stripe() {
    return lib().Get<StripeRecord>();
}

KVXResult SwitchReader(device::StripeReader state, Resend resend) {
    StripeRecord& rec = Stripe();
    if (!OwnReader() || rec.absent) return KVX_OK;
    const bool on = state == device::StripeReader::On;
    if (on && rec.reader == ReaderState::On && resend == Resend::No) return KVX_OK;
    const int r = device::ControlMsgKeepingStateOnRefusal(
        device::kClassStripe, on ? kReaderOn : kReaderOff, nullptr, 0, device::Direction::In);
    if (r < 0) {
        // Not found and not ready are the transport's; anything else is the
        // device refusing a command it does not have.
        if (LastResult() != KVX_ERR_GENERIC) return TransportError();
        LogPair("war - ", "no magnetic stripe reader");
        rec.absent = true;
        rec.reader = ReaderState::Unknown;
        SetLastResult(KVX_OK);
        return KVX_OK;
    }
    rec.reader = on ? ReaderState::On : ReaderState::Off;
    device::Device().stripeReaderEnabled.store(on);
    return KVX_OK;
}

void SwitchReaderAtInitialise(device::StripeReader state) {
    const KVXResult kept = LastResult();
    if (state == device::StripeReader::Off) {
        Stripe().absent = false;
        Stripe().reader = ReaderState::Unknown;
    }
    SwitchReader(state, Resend::Yes);
    SetLastResult(kept);
}

KVXResult ResetBadgeBuffer(const char* failureLine) {
    if (!OwnReader() || Stripe().absent) return KVX_ERR_HW_UNSUPPORTED;
    if (device::ControlMsg(device::kClassStripe, kBadgeReset, nullptr, 0, device::Direction::In) <
        0) {
        LogPair("err - ", failureLine);
        return TransportError();
    }
    return KVX_OK;
}

KVXResult ReadTracks(unsigned flags) {
    ClearTracks();
    if (!OwnReader() || Stripe().absent) return KVX_ERR_HW_UNSUPPORTED;

    std::uint32_t status = 0;
    if (const KVXResult r = WaitForSwipe(&status); r != KVX_OK) return r;

    std::array<std::vector<std::uint8_t>, kTrackCount> raw;
    for (int t = 1; t <= kTrackCount; ++t) {
        if ((status & (kStatusTrack1Data << (t - 1))) == 0) continue;
        const KVXResult r = FetchTrack(t, &raw[static_cast<std::size_t>(t - 1)]);
        if (r == KVX_OK) continue;
        // A swipe the reader garbled stays in its buffer and would come
        // back at every read: it goes, so that the next swipe can be read.
        if (r == KVX_ERR_MS_TOO_MANY || r == KVX_ERR_MS_READ)
            ResetBadgeBuffer("Badge buffer reset failed");
        return r;
    }
    if (const KVXResult r = ResetBadgeBuffer("Badge buffer reset failed"); r != KVX_OK) return r;

    KVXResult result = KVX_OK;
    for (int t = 1; t <= kTrackCount; ++t) {
        const auto& bytes = raw[static_cast<std::size_t>(t - 1)];
        if (bytes.empty()) continue;
        const TrackDecoding d = DecodeTrack(t, bytes);
        LogNotes(d);
        auto& out = Stripe().tracks[static_cast<std::size_t>(t - 1)];
        if (d.result != KVX_OK) {
            LogPairValue("err - ", "KVXMagStripe - not valid reading for trace", t);
            if (result == KVX_OK) result = d.result;
            continue;
        }
        const std::string text = StripTrack(d.text, flags);
        const std::size_t n = std::min(text.size(), kTrackBytes - 1);
        std::memcpy(out.data(), text.data(), n);
    }
    return result;
}

const char* TrackText(int track) {
    if (track < 1 || track > kTrackCount) return "";
    return Stripe().tracks[static_cast<std::size_t>(track - 1)].data();
}

}  // namespace kovran::decoders::stripe
