#include "sim/stripe_model.h"

#include "sim/scanner_model.h"

namespace kovran::sim {

std::vector<std::uint8_t> StripeModel::TrackReply(std::uint8_t sub) const {
    // No card has been swiped: a count of zero.
    std::vector<std::uint8_t> r(kMaxCommandBytes, 0);
    r[0] = sub;
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
