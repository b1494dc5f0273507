// Exports of the magnetic stripe reader.
#include <algorithm>
#include <cstring>

#include "KovranMS.h"
#include "api/bstr_out.h"
#include "api/frame.h"
#include "api/log.h"
#include "decoders/stripe/stripe_reader.h"

using namespace kovran;
namespace stripe = kovran::decoders::stripe;

namespace {

ExportInfo StripeExport(const char* name, int handle) {
    return {.name = name, .tag = name, .guard = Guard::Handle, .handle = handle, .leave = true};
}

// The stored text of a track into the host's buffer, which is cleared
// first; the buffer's length counts the terminator.
KVXResult CopyTrack(int track, int length, char* buffer) {
    if (buffer == nullptr) {
        LogPair("err - ", "data field null");
        return KVX_ERR_INV_PARAMETER;
    }
    const std::size_t room = static_cast<std::size_t>(std::max(length, 0));
    std::memset(buffer, 0, room);
    if (track < 1 || track > stripe::kTrackCount) return KVX_OK;
    const char* text = stripe::TrackText(track);
    const std::size_t n = std::strlen(text);
    if (n + 1 > room) {
        LogPair("err - ", "data filed too short");
        return KVX_ERR_OCR_AREA;
    }
    std::memcpy(buffer, text, n);
    return KVX_OK;
}

}  // namespace

extern "C" {

KVX_API KVXResult KVXMagStripeEnable(int handle, int16_t enable) {
    return RunExport(StripeExport("KVXMagStripeEnable", handle), [&] {
        return stripe::SwitchReader(
            enable > 0 ? device::StripeReader::On : device::StripeReader::Off, stripe::Resend::No);
    });
}

KVX_API KVXResult KVXMagStripeReset(int handle) {
    return RunExport(StripeExport("KVXMagStripeReset", handle),
                     [] { return stripe::ResetBadgeBuffer(" Badge buffer reset failed"); });
}

KVX_API KVXResult KVXMagStripe(int handle, BSTR* track1, BSTR* track2, BSTR* track3, int flags) {
    return RunExport(StripeExport("KVXMagStripe", handle), [&] {
        KVXResult result = stripe::ReadTracks(static_cast<unsigned>(flags));
        BSTR* const out[stripe::kTrackCount] = {track1, track2, track3};
        // Handed back also after an error: the tracks that did decode.
        for (int t = 1; t <= stripe::kTrackCount; ++t) {
            const int stored = StoreBstr(out[t - 1], stripe::TrackText(t));
            if (stored != KVX_OK && result == KVX_OK) result = stored;
        }
        return result;
    });
}

KVX_API KVXResult KVXMagStripeTrackRead(int handle, int flags) {
    return RunExport(StripeExport("KVXMagStripeTrackRead", handle),
                     [&] { return stripe::ReadTracks(static_cast<unsigned>(flags)); });
}

KVX_API KVXResult KVXMagStripeData(int handle, int16_t track, int16_t length, char* buffer) {
    return RunExport(StripeExport("KVXMagStripeData", handle),
                     [&] { return CopyTrack(track, length, buffer); });
}

KVX_API KVXResult KVXMagStripeTrackClear(int handle) {
    return RunExport(StripeExport("KVXMagStripeTrackClear", handle), [] { return KVX_OK; });
}

}  // extern "C"
