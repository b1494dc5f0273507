#include "sim/scanner_model.h"
#include "platform/clock.h"
#include "platform/sys_error.h"

#include <algorithm>

namespace kovran::sim {

namespace {

void Digits(std::uint16_t value, std::uint8_t first, std::vector<std::uint8_t>* out) {
    out->assign({first, static_cast<std::uint8_t>((value >> 12) & 0xF),
                 static_cast<std::uint8_t>((value >> 8) & 0xF),
                 static_cast<std::uint8_t>((value >> 4) & 0xF),
                 static_cast<std::uint8_t>(value & 0xF)});
}

void Le32(std::uint32_t v, std::vector<std::uint8_t>* out) {
    out->assign({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

void Increment(std::uint32_t& counter) {
    if (counter < 0xFFFFFFFFu) ++counter;
}

}  // namespace

ScannerModel::ScannerModel(const DeviceProfile& profile)
    : profile_(profile),
      pageCounter_(profile.pageCounter),
      inkjetCounter_(profile.inkjetCounter),
      photoTuning_(profile.photoTuning) {
    feeder_.Load(PlaceholderCheques(profile.documents));
}

int ScannerModel::Execute(const DecodedRequest& request, const std::uint8_t* outData,
                          std::vector<std::uint8_t>* reply) {
    reply->clear();
    if (modeParameters_ > 0 && request.cls == kClassD1) {
        // A parameter is a no-data command whatever its sub-code.
        if (request.length > (request.in ? 1 : 0)) return platform::kErrorGenFailure;
        --modeParameters_;
        modeCodes_.push_back(request.sub);
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
            reply->assign(request.in ? request.length : 0, 0);
            break;
        case DataKind::In:
            if (!request.in) return platform::kErrorGenFailure;
            Reply(*spec, request, reply);
            break;
        case DataKind::Out:
            if (request.length != spec->length) return platform::kErrorGenFailure;
            if (OldForm()) {
                // The old request form only reads; the data never reaches
                // the device, which acknowledges with as many zero bytes.
                if (!request.in) return platform::kErrorGenFailure;
                reply->assign(request.length, 0);
            } else {
                if (request.in || outData == nullptr) return platform::kErrorGenFailure;
                data = outData;
            }
            break;
    }
    Act(request, data);
    Record(request, data);
    return platform::kErrorSuccess;
}

void ScannerModel::Reply(const CommandSpec& spec, const DecodedRequest& request,
                         std::vector<std::uint8_t>* reply) {
    std::vector<std::uint8_t>& r = *reply;
    if (spec.cls == kClassD0) {
        switch (spec.sub) {
            case 0x01: {
                auto block = EncodeConfigBlock(profile_);
                r.assign(block.begin(), block.end());
                break;
            }
            case 0x02:
                Digits(profile_.firmware, 0x02, &r);
                break;
            case 0x03: {
                auto block = StatusBlock();
                r.assign(block.begin(), block.end());
                break;
            }
            case 0x08:
                r = profile_.hardwareKey;
                r.resize(kMaxCommandBytes, 0);
                break;
            case 0x0C:
                r.assign(profile_.deviceConfig.begin(), profile_.deviceConfig.end());
                break;
            case 0x15:
                r.assign(photoTuning_.begin(), photoTuning_.end());
                break;
            case 0x28:
                r.assign(profile_.micrBlock.begin(), profile_.micrBlock.end());
                break;
            case 0x2A:
                Le32(pageCounter_, &r);
                break;
            case 0x2D:
                Le32(inkjetCounter_, &r);
                break;
            case 0x3C:
                Digits(profile_.fw3000Version.value_or(0), 0x3C, &r);
                break;
            case 0x51:
                r = profile_.inkjet1Config.value_or(std::vector<std::uint8_t>(64, 0));
                break;
            case 0x55:
                r = profile_.inkjet2Config.value_or(std::vector<std::uint8_t>(64, 0));
                break;
            default:
                break;
        }
    } else if (spec.cls == kClassD1 && spec.sub == 0x14) {
        // Sensor configuration: only byte 1 (the option byte) is defined.
        r.assign(8, 0);
        r[0] = 0x14;
        r[1] = profile_.sensorOptions;
    } else if (spec.cls == kClassD2) {
        // Track data: byte 1 is the count of bytes that follow; no card has
        // been swiped.
        r.assign(64, 0);
        r[0] = spec.sub;
    }
    std::size_t natural = spec.replyLength == ReplyLength::Caller ? request.length : spec.length;
    r.resize(std::min<std::size_t>(natural, r.size()), 0);
    r.resize(std::min<std::size_t>(r.size(), request.length));
}

void ScannerModel::Act(const DecodedRequest& request, const std::uint8_t* data) {
    const std::uint8_t sub = request.sub;
    if (request.cls == kClassD0) {
        switch (sub) {
            case 0x09:
                enabled_ = true;
                break;
            case 0x0A:
                enabled_ = false;
                break;
            case 0x14:
                if (data) std::copy_n(data, photoTuning_.size(), photoTuning_.begin());
                break;
            case 0x22:
                SwitchBuzzer(data ? data[0] : 0);
                break;
            case 0x23:
                SwitchBuzzer(0);
                break;
            case 0x2B:
                Increment(pageCounter_);
                break;
            case 0x2E:
                Increment(inkjetCounter_);
                break;
            default:
                break;
        }
        return;
    }
    if (request.cls == kClassD2) {
        if (sub == 0x05) stripeOn_ = true;
        if (sub == 0x06) stripeOn_ = false;
        return;
    }
    if (Family3000()) {
        switch (sub) {
            case 0x33:
                if (data) startCommand_.assign(data, data + 33);
                break;
            case 0x34:
                acquiring_ = true;
                break;
            case 0x35:
            case 0x39:
                acquiring_ = false;
                break;
            case 0x36:
                feeding_ = true;
                break;
            case 0x37:
                feeding_ = false;
                break;
            default:
                break;
        }
        return;
    }
    switch (sub) {
        case 0x01:
        case 0x07:
            acquiring_ = true;
            break;
        case 0x02:
        case 0x17:
        case 0x18:
            acquiring_ = false;
            break;
        case 0x05:
            enabled_ = true;
            break;
        case 0x06:
            enabled_ = false;
            break;
        case 0x08:
            feeding_ = true;
            break;
        case 0x09:
            feeding_ = false;
            break;
        case 0x0A:
        case 0x0B:
            if (data) std::copy_n(data, lampLevels_.size(), lampLevels_.begin());
            break;
        case 0x0F:
            modeCodes_.clear();
            modeParameters_ = 2;
            break;
        default:
            break;
    }
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

void ScannerModel::SwitchBuzzer(std::uint8_t tone) {
    const std::int64_t now = platform::SteadyNowMs();
    if (!buzzerTones_.empty() && !buzzerTones_.back().endMs) buzzerTones_.back().endMs = now;
    buzzerTone_ = tone;
    if (tone != 0) buzzerTones_.push_back({.tone = tone, .startMs = now, .endMs = std::nullopt});
}

std::uint32_t ScannerModel::StatusWord() const {
    std::uint32_t word = 0;
    if (enabled_) word |= kStatusEnabled;
    // A scan in progress keeps the device busy; a document of two sheets
    // stuck together covers the double-sheet sensors while it passes.
    if (acquiring_) {
        word |= kStatusBusy;
        if (!feeder_.Empty() && feeder_.Front().doubleSheet) word |= kStatusDoubleSheet;
    }
    if (!feeder_.Empty()) {
        word |= kStatusDocumentAtInput;
        if ((profile_.configWord & kConfigFeeder) != 0) word |= kStatusPhotocell;
    }
    if (stripeOn_) word |= kStatusStripeOn;
    if (profile_.externalPower) word |= kStatusExternalPower;
    return (word | forceSet_) & ~forceClear_;
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

void ScannerModel::ForceStatus(std::uint32_t set, std::uint32_t clear) {
    forceSet_ = (forceSet_ | set) & ~clear;
    forceClear_ = (forceClear_ | clear) & ~set;
}

}  // namespace kovran::sim
