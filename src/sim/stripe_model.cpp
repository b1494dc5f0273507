#include "sim/stripe_model.h"

#include <algorithm>

#include "sim/scanner_model.h"

namespace kovran::sim {

namespace {
constexpr std::uint8_t kFirstTrackSub = 0x02;
}  // namespace

void StripeModel::Enable() {
    on_ = true;
    Pass();
}

void StripeModel::Reset() {
    for (auto& t : tracks_) t.clear();
    read_.fill(0);
    holding_ = false;
    Pass();
}

void StripeModel::Queue(const CardSwipe& swipe) {
    queue_.push_back(swipe);
    Pass();
}

void StripeModel::Pass() {
    if (!on_ || holding_ || queue_.empty()) return;
    for (int t = 1; t <= kStripeTracks; ++t)
        tracks_[static_cast<std::size_t>(t - 1)] = SwipeBytes(queue_.front(), t);
    read_.fill(0);
    queue_.pop_front();
    holding_ = true;
}

std::uint32_t StripeModel::TrackBits() const {
    std::uint32_t bits = 0;
    for (std::size_t t = 0; t < tracks_.size(); ++t)
        if (!tracks_[t].empty()) bits |= kStatusStripeTrack1 << t;
    return bits;
}

std::vector<std::uint8_t> StripeModel::TrackReply(std::uint8_t sub) {
    std::vector<std::uint8_t> r(kMaxCommandBytes, 0);
    r[0] = sub;
    const std::size_t t = static_cast<std::size_t>(sub - kFirstTrackSub);
    if (t >= tracks_.size()) return r;
    const std::vector<std::uint8_t>& bytes = tracks_[t];
    const std::size_t n = std::min(kTrackPiece, bytes.size() - read_[t]);
    r[1] = static_cast<std::uint8_t>(n);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(read_[t]), n, r.begin() + 2);
    read_[t] += n;
    return r;
}

void StripeModel::OnReset(ScannerModel& model, const CommandCall&) {
    model.Stripe().Reset();
}

void StripeModel::OnReadTrack(ScannerModel& model, const CommandCall& call) {
    *call.reply = model.Stripe().TrackReply(call.request.sub);
}

void StripeModel::OnEnable(ScannerModel& model, const CommandCall&) {
    model.Stripe().Enable();
}

void StripeModel::OnDisable(ScannerModel& model, const CommandCall&) {
    model.Stripe().Disable();
}

}  // namespace kovran::sim
