#include "sim/scanner_model.h"

#include <algorithm>

#include "platform/sys_error.h"

namespace kovran::sim {

ScannerModel::ScannerModel(const DeviceProfile& profile)
    : profile_(profile), eeprom_(profile), printer_(profile) {
    std::vector<SimDocument> documents =
        GeneratedCheques(profile.documents, profile.documentsColour, profile.documentsSeed);
    documents.insert(documents.end(), profile.feeder.begin(), profile.feeder.end());
    for (const DeviceProfile::DoubleFeed& d : profile.doubleFeeds) {
        if (d.document == 0 || d.document > documents.size()) continue;
        SimDocument& doc = documents[d.document - 1];
        doc.doubleSheet = true;
        doc.doubleSheetSensors = d.sensors;
    }
    status_.Feeder().Load(documents);
    status_.SetBuzzerLog(profile.buzzerLog);
    for (const CardSwipe& swipe : profile.swipes) stripe_.Queue(swipe);
}

int ScannerModel::Execute(const DecodedRequest& request, const std::uint8_t* outData,
                          std::vector<std::uint8_t>* reply) {
    reply->clear();
    if (acquisition_.ExpectingModeParameter() && request.cls == kClassD1) {
        // A parameter is a no-data command whatever its sub-code.
        if (request.length > (request.in ? 1 : 0)) return platform::kErrorGenFailure;
        acquisition_.TakeModeParameter(request.sub);
        reply->assign(request.in ? request.length : 0, 0);
        Record(request, nullptr);
        return platform::kErrorSuccess;
    }
    std::optional<CommandSpec> spec = FindCommand(Firmware(), Features(), request.cls, request.sub);
    if (!spec) return platform::kErrorGenFailure;
    const std::uint8_t* data = nullptr;
    switch (spec->kind) {
        case DataKind::None:
            if (request.in ? request.length > 1 : request.length != 0)
                return platform::kErrorGenFailure;
            break;
        case DataKind::In:
            if (!request.in) return platform::kErrorGenFailure;
            break;
        case DataKind::Out:
            if (request.length != spec->length) return platform::kErrorGenFailure;
            // The old request form only reads; the data never reaches the
            // device, which acknowledges with as many zero bytes.
            if (OldForm() ? !request.in : (request.in || outData == nullptr))
                return platform::kErrorGenFailure;
            if (!OldForm()) data = outData;
            break;
    }
    std::vector<std::uint8_t> answer;
    if (spec->handler) spec->handler(*this, CommandCall{request, data, &answer});
    switch (spec->kind) {
        case DataKind::None:
            reply->assign(request.in ? request.length : 0, 0);
            break;
        case DataKind::In: {
            const std::size_t natural =
                spec->replyLength == ReplyLength::Caller ? request.length : spec->length;
            answer.resize(std::min<std::size_t>(natural, answer.size()), 0);
            answer.resize(std::min<std::size_t>(answer.size(), request.length));
            *reply = std::move(answer);
            break;
        }
        case DataKind::Out:
            if (OldForm()) reply->assign(request.length, 0);
            break;
    }
    Record(request, data);
    return platform::kErrorSuccess;
}

void ScannerModel::Record(const DecodedRequest& request, const std::uint8_t* data) {
    ExecutedCommand c;
    c.cls = request.cls;
    c.sub = request.sub;
    c.in = request.in;
    if (data) c.data.assign(data, data + request.length);
    if (history_.size() == kHistoryLength) history_.pop_front();
    history_.push_back(std::move(c));
}

std::uint32_t ScannerModel::StatusWord() const {
    std::uint32_t word = 0;
    if (status_.Enabled()) word |= kStatusEnabled;
    const FeederQueue& feeder = status_.Feeder();
    // A scan in progress keeps the device busy; a document of two sheets
    // stuck together covers the double-sheet sensors while it passes them.
    if (acquisition_.Acquiring()) {
        word |= kStatusBusy;
        const AcquisitionStream* passing = acquisition_.Stream();
        const std::uint32_t sensors = passing != nullptr ? passing->DoubleSheetSensors() : 0;
        word |= (sensors << kDoubleSheetShift) & kStatusDoubleSheet;
    }
    // The input sensor sees the paper until its trailing edge has passed;
    // the feeder's photocell sees the documents still waiting.
    const AcquisitionStream* stream = acquisition_.Stream();
    if (!feeder.Empty() || (stream != nullptr && stream->DocumentAtInput()) ||
        acquisition_.SheetInPath())
        word |= kStatusDocumentAtInput;
    if (!feeder.Empty() && (profile_.configWord & kConfigFeeder) != 0) word |= kStatusPhotocell;
    if (stripe_.On()) word |= kStatusStripeOn;
    word |= stripe_.TrackBits();
    if (profile_.externalPower) word |= kStatusExternalPower;
    return status_.Forced(word);
}

std::array<std::uint8_t, 8> ScannerModel::StatusBlock() const {
    const std::uint32_t word = StatusWord();
    std::array<std::uint8_t, 8> b{};
    b[0] = 0x03;
    b[1] = static_cast<std::uint8_t>(word);
    b[2] = static_cast<std::uint8_t>(word >> 8);
    b[3] = static_cast<std::uint8_t>(word >> 16);
    // The 8-bit flag value of older firmware has no high byte.
    if (FirmwareVersion(Firmware()) > 0x30FF) b[4] = static_cast<std::uint8_t>(word >> 24);
    return b;
}

}  // namespace kovran::sim
