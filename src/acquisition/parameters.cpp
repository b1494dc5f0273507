#include "acquisition/parameters.h"

#include <algorithm>
#include <array>
#include <span>

#include "acquisition/images.h"
#include "api/frame_state.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"

namespace kovran::acquisition {
namespace {

// How a row treats the value; the rows of the simple kinds name a field and
// a message, the others a setter of their own.
enum class Kind : std::uint8_t {
    OnOff,     // 0 off, anything else on; values other than 0 and 1 also -3
    Byte,      // 0 to 255 as unsigned 16-bit, else -3
    Special,   // the row's own setter
    ReadOnly,  // refused (-3)
};

using Setter = KVXResult (*)(std::int16_t v);
using Getter = std::uint16_t (*)();

struct ParameterRow {
    std::uint16_t id;
    const char* name;
    Kind kind;
    bool ScanSettings::*flag = nullptr;          // OnOff
    std::uint8_t ScanSettings::*byte = nullptr;  // Byte
    const char* invalid = nullptr;               // logged with the value when refused
    Setter set = nullptr;                        // Special
    Getter get = nullptr;                        // Special, ReadOnly: null when not readable
    bool readable = true;                        // OnOff
};

ScanSettings& Scan() {
    return Settings().scan;
}
OcrSettings& Ocr() {
    return Settings().ocr;
}

KVXResult Refuse(const char* message, std::int16_t v, const char* prefix = nullptr) {
    if (prefix != nullptr)
        LogPairValue(prefix, message, v);
    else
        LogValue(message, v);
    return KVX_ERR_INV_PARAMETER;
}

constexpr const char* kErr = "err - ";
constexpr std::int16_t kFirstDocType = 3;
constexpr std::int16_t kLastDocType = 13;
constexpr std::int32_t kIniTypeDocDefault = 1;
constexpr std::int16_t kLastE13bMapping = 3;
constexpr std::uint16_t kFirstFeederFirmware = 0x3000;
constexpr std::int32_t kDefaultAcqTimeoutSeconds = 60;
constexpr std::int32_t kDoubleFeedBlackOff = 0x9999;
// The symbology indexes of the barcode reader (its zone fonts 300 + index);
// "none read" is -2.
constexpr std::int16_t kKnownSymbologies[] = {0, 1, 3, 4, 6, 7, 8, 9, 10};
constexpr std::int32_t kMaxByte = 255;

// ---- Setters of the special rows ---------------------------------------------

KVXResult SetColour(std::int16_t v) {
    return device::ApplyColour(v);
}

KVXResult SetTrim(std::int16_t v) {
    Scan().trim = v >= 1;
    Scan().trimExtended = v > 1;
    return KVX_OK;
}

KVXResult SetDocType(std::int16_t v) {
    LogValue("V3R_PAR_DOC_TYPE", v);
    if (v == 0 || v == 1) {
        ApplyDefaultMaxHeight();
        Ocr().barcodeMirror = Settings().ocrIni.barcodeMirror;
        Ocr().typeDoc = Settings().ocrIni.typeDoc;
        if (Ocr().typeDoc != kIniTypeDocDefault) LogValue("ini forces typeDoc to ", Ocr().typeDoc);
        return KVX_OK;
    }
    if (v >= kFirstDocType && v <= kLastDocType) {
        Ocr().typeDoc = v;
        return KVX_OK;
    }
    return KVX_ERR_INV_PARAMETER;
}

// Parameter 6 changes the same threshold as parameter 5.
KVXResult SetThresholdTwin(std::int16_t v) {
    if (static_cast<std::uint16_t>(v) > kMaxByte) return KVX_ERR_INV_PARAMETER;
    Scan().bwThreshold = static_cast<std::uint8_t>(v);
    return KVX_OK;
}

KVXResult SetMaxHeight(std::int16_t v) {
    const std::int32_t allowed = AllowedMaxHeight150();
    if (v == 0) {
        Images().maxHeight150 = allowed;
        return KVX_OK;
    }
    if (v < 0 || v > allowed) {
        Images().maxHeight150 = allowed;
        return Refuse("V3R_PAR_MAX_HEIGHT_150DPI - Invalid max height value", v);
    }
    Images().maxHeight150 = v;
    return KVX_OK;
}

KVXResult SetBarcodeType(std::int16_t v) {
    if (std::find(std::begin(kKnownSymbologies), std::end(kKnownSymbologies), v) ==
        std::end(kKnownSymbologies))
        return Refuse("V3R_PAR_BARCODE_TYPE - KVX_ERR_INV_PARAMETER for ParVal", v);
    Scan().barcodeTypes = v;
    return KVX_OK;
}

KVXResult SetE13bMapping(std::int16_t v) {
    if (v >= 0 && v <= kLastE13bMapping) {
        Ocr().e13bMapping = v;
        return KVX_OK;
    }
    Ocr().e13bMapping = 0;
    return Refuse("SetParameter - Invalid PAR_E13B_MAPPING - setting default", v, kErr);
}

KVXResult SetBacklight(std::int16_t v) {
    if (v == 0) {
        Scan().backlightOn = false;
        return KVX_OK;
    }
    if (v == 1) {
        if (!device::Identity().capabilities.backlight) {
            LogPair(kErr, "Backlight request not supported by HW");
            return KVX_ERR_HW_UNSUPPORTED;
        }
        Scan().backlightOn = true;
        return KVX_OK;
    }
    return Refuse("SetParameter - Backlight - invalid parameter", v, kErr);
}

KVXResult SetIqa(std::int16_t v) {
    Scan().iqaActive = v >= 0;
    if (v >= 0) Scan().iqaErrLev = v;
    return KVX_OK;
}

KVXResult SetAdfContinuous(std::int16_t v) {
    if (v <= 0) {
        if (Images().feederThreadRunning.load()) {
            LogPair(kErr, "SetParameter - remouving ADF continuos with pending acquisition");
            return KVX_ERR_GENERIC;
        }
        Scan().adfContinuous = false;
        return KVX_OK;
    }
    const DeviceIdentity id = device::Identity();
    if (id.capabilities.adf && id.firmware >= kFirstFeederFirmware) {
        Scan().adfContinuous = true;
        return KVX_OK;
    }
    Scan().adfContinuous = false;
    LogPair(kErr, "SetParameter - ADF continuos without ADF");
    return KVX_ERR_INV_PARAMETER;
}

KVXResult SetWaitDoc(std::int16_t v) {
    Scan().msecWaitDoc = std::max<std::int32_t>(v, 0);
    return KVX_OK;
}

KVXResult SetMagstripeTimeout(std::int16_t v) {
    Scan().msecMagstripeTimeout = std::max<std::int32_t>(v, 0);
    return KVX_OK;
}

KVXResult SetWaitStart(std::int16_t v) {
    if (v >= 0) {
        Scan().msecWaitStart = v;
        Settings().scanIni.msecWaitStart = v;
        return KVX_OK;
    }
    Scan().msecWaitStart = Settings().scanIni.msecWaitStart;
    return Refuse("SetParameter - Invalid MSEC_WAIT_START - setting default", v, kErr);
}

KVXResult SetAcqTimeout(std::int16_t v) {
    const std::int32_t seconds = v > 0 ? v : kDefaultAcqTimeoutSeconds;
    for (ScanSettings* s : {&Settings().scan, &Settings().scanIni}) {
        s->secAcqTimeout = seconds;
        s->msecAcqTimeoutExtra = 0;
    }
    return KVX_OK;
}

KVXResult SetSlowAcquisition(std::int16_t v) {
    device::UpdateIdentity([&](DeviceIdentity& id) { id.capabilities.slowAcquisition = v > 0; });
    return KVX_OK;
}

KVXResult SetDoubleFeed(std::int16_t v) {
    const bool on = v > 0 && device::Identity().capabilities.doubleFeedSensor;
    Scan().doubleFeed = on;
    Scan().doubleFeedDelivery = on && Settings().scanIni.doubleFeedDelivery;
    return KVX_OK;
}

KVXResult SetSequenceCheck(std::int16_t v) {
    Scan().sequenceCheck = v > 0;
    return KVX_OK;
}

KVXResult SetDoubleFeedBlack(std::int16_t v) {
    if (v <= 0) {
        Scan().doubleFeedBlackVe = 0;
    } else if (device::Identity().firmware < Settings().scanIni.doubleFeedBlackVe) {
        Scan().doubleFeedBlackVe = kDoubleFeedBlackOff;
    }
    return KVX_OK;
}

std::int16_t& RequestedDpi(std::int32_t side) {
    return device::AcqMode().request.requestedDpi[static_cast<std::size_t>(std::clamp(side, 0, 2))];
}
KVXResult SetResSideA(std::int16_t v) {
    RequestedDpi(Images().codelineSide) = std::max<std::int16_t>(v, 0);
    return KVX_OK;
}
KVXResult SetResSideB(std::int16_t v) {
    RequestedDpi(Images().otherSide) = std::max<std::int16_t>(v, 0);
    return KVX_OK;
}
KVXResult SetResSideBack(std::int16_t v) {
    RequestedDpi(kBacklight) = std::max<std::int16_t>(v, 0);
    return KVX_OK;
}

KVXResult SetAcqModeParameter(std::int16_t v) {
    return device::SetAcqModeParameter(static_cast<std::uint16_t>(v));
}

// ---- Getters --------------------------------------------------------------------

std::uint16_t U16(std::int32_t v) {
    return static_cast<std::uint16_t>(v);
}

const ParameterRow kParameters[] = {
    {.id = 0,
     .name = "V3R_PAR_COLOR",
     .kind = Kind::Special,
     .set = &SetColour,
     .get = [] { return U16(Scan().color); }},
    {.id = 1,
     .name = "V3R_PAR_AUTOROTATE",
     .kind = Kind::OnOff,
     .flag = &ScanSettings::deskew,
     .invalid = "V3R_PAR_AUTOROTATE - KVX_ERR_INV_PARAMETER for ParVal"},
    {.id = 2,
     .name = "V3R_PAR_TRIM",
     .kind = Kind::Special,
     .set = &SetTrim,
     .get = [] { return U16(Scan().trimExtended ? 2
                            : Scan().trim       ? 1
                                                : 0); }},
    {.id = 3,
     .name = "V3R_PAR_DOC_TYPE",
     .kind = Kind::Special,
     .set = &SetDocType,
     .get = [] { return U16(Ocr().typeDoc); }},
    {.id = 4,
     .name = "V3R_PAR_ENHANCE_IMG",
     .kind = Kind::OnOff,
     .flag = &ScanSettings::sharp,
     .invalid = "V3R_PAR_ENHANCE_IMG - KVX_ERR_INV_PARAMETER for ParVal"},
    {.id = 5,
     .name = "V3R_PAR_BW_THRESHOLD",
     .kind = Kind::Byte,
     .byte = &ScanSettings::bwThreshold},
    // Sets the threshold of parameter 5; reads a byte of its own.
    {.id = 6,
     .name = "parameter 6",
     .kind = Kind::Special,
     .set = &SetThresholdTwin,
     .get = [] { return U16(Scan().parameter6Byte); }},
    {.id = 9,
     .name = "V3R_PAR_MAX_HEIGHT_150DPI",
     .kind = Kind::Special,
     .set = &SetMaxHeight,
     .get = [] { return U16(Images().maxHeight150); }},
    {.id = 16,
     .name = "V3R_PAR_BARCODE_TYPE",
     .kind = Kind::Special,
     .set = &SetBarcodeType,
     .get = [] { return U16(Scan().barcodeTypes); }},
    {.id = 17,
     .name = "PAR_E13B_MAPPING",
     .kind = Kind::Special,
     .set = &SetE13bMapping,
     .get = [] { return U16(Ocr().e13bMapping); }},
    {.id = 19,
     .name = "V3R_PAR_BACKLIGHT",
     .kind = Kind::Special,
     .set = &SetBacklight,
     .get = [] { return U16(Scan().backlightOn); }},
    {.id = 20,
     .name = "V3R_PAR_ONLY_MICR",
     .kind = Kind::ReadOnly,
     .get = [] { return U16(Ocr().onlyMicr); }},
    {.id = 21,
     .name = "V3R_PAR_IQA",
     .kind = Kind::Special,
     .set = &SetIqa,
     .get = [] { return U16(Scan().iqaActive); }},
    {.id = 30,
     .name = "V3R_PAR_ADF_CONTINUOUS",
     .kind = Kind::Special,
     .set = &SetAdfContinuous,
     .get = [] { return U16(Scan().adfContinuous); }},
    {.id = 100,
     .name = "MSEC_WAIT_DOC",
     .kind = Kind::Special,
     .set = &SetWaitDoc,
     .get = [] { return U16(Scan().msecWaitDoc); }},
    {.id = 101,
     .name = "MSEC_MAGSTRIPE_TIMEOUT",
     .kind = Kind::Special,
     .set = &SetMagstripeTimeout,
     .get = [] { return U16(Scan().msecMagstripeTimeout); }},
    {.id = 102,
     .name = "MSEC_WAIT_START",
     .kind = Kind::Special,
     .set = &SetWaitStart,
     .get = [] { return U16(Scan().msecWaitStart); }},
    {.id = 103,
     .name = "SEC_ACQ_TIMEOUT",
     .kind = Kind::Special,
     .set = &SetAcqTimeout,
     .get = [] { return U16(Settings().scanIni.secAcqTimeout); }},
    {.id = 104, .name = "V3R_PAR_SLOW_ACQ", .kind = Kind::Special, .set = &SetSlowAcquisition},
    {.id = 111,
     .name = "V3R_PAR_DOUBLE_FEED",
     .kind = Kind::Special,
     .set = &SetDoubleFeed,
     .get = [] { return U16(Scan().doubleFeed); }},
    {.id = 112,
     .name = "V3R_PAR_SEQUENCE_CHECK",
     .kind = Kind::Special,
     .set = &SetSequenceCheck,
     .get = [] { return U16(Scan().sequenceCheck); }},
    {.id = 118,
     .name = "V3R_PAR_DOUBLE_FEED_BLACK",
     .kind = Kind::Special,
     .set = &SetDoubleFeedBlack,
     .get = [] { return U16(Scan().doubleFeedBlackVe); }},
    {.id = 121,
     .name = "V3R_PAR_RES_SIDE_A",
     .kind = Kind::Special,
     .set = &SetResSideA,
     .get = [] { return U16(RequestedDpi(Images().codelineSide)); }},
    {.id = 122,
     .name = "V3R_PAR_RES_SIDE_B",
     .kind = Kind::Special,
     .set = &SetResSideB,
     .get = [] { return U16(RequestedDpi(Images().otherSide)); }},
    {.id = 123,
     .name = "V3R_PAR_RES_SIDE_BACK",
     .kind = Kind::Special,
     .set = &SetResSideBack,
     .get = [] { return U16(RequestedDpi(kBacklight)); }},
    {.id = 1000, .name = "V3R_PAR_ACQ_MODE", .kind = Kind::Special, .set = &SetAcqModeParameter},
    {.id = 1001,
     .name = "V3R_PAR_CORRECT",
     .kind = Kind::OnOff,
     .flag = &ScanSettings::correct,
     .invalid = "V3R_PAR_CORRECT - KVX_ERR_INV_PARAMETER for ParVal",
     .readable = false},
};

const ParameterRow* Find(std::int32_t id) {
    for (const ParameterRow& row : kParameters)
        if (row.id == id) return &row;
    return nullptr;
}

KVXResult Apply(const ParameterRow& row, std::int16_t v) {
    switch (row.kind) {
        case Kind::OnOff:
            Scan().*row.flag = v != 0;
            if (v != 0 && v != 1) return Refuse(row.invalid, v);
            return KVX_OK;
        case Kind::Byte:
            if (static_cast<std::uint16_t>(v) > kMaxByte) return KVX_ERR_INV_PARAMETER;
            Scan().*row.byte = static_cast<std::uint8_t>(v);
            return KVX_OK;
        case Kind::Special:
            return row.set(v);
        case Kind::ReadOnly:
            return KVX_ERR_INV_PARAMETER;
    }
    return KVX_ERR_INV_PARAMETER;
}

}  // namespace

KVXResult SetParameter(std::int32_t id, std::int32_t value, Quiet quiet) {
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(value & 0xFFFF));
    const ParameterRow* row = Find(id);
    if (row == nullptr) {
        if (quiet == Quiet::No) LogValue("KVX_ERR_INV_PARAMETER setting ParId", id);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_INV_PARAMETER;
    }
    const KVXResult result = Apply(*row, v);
    SetLastResult(result);
    return result;
}

std::optional<std::uint16_t> ReadParameter(std::int32_t id) {
    const ParameterRow* row = Find(id);
    if (row == nullptr) return std::nullopt;
    if (row->kind == Kind::OnOff) {
        if (!row->readable) return std::nullopt;
        return static_cast<std::uint16_t>(Scan().*row->flag ? 1 : 0);
    }
    if (row->kind == Kind::Byte) return Scan().*row->byte;
    if (row->get == nullptr) return std::nullopt;
    return row->get();
}

}  // namespace kovran::acquisition
