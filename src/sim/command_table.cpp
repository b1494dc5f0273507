#include "sim/command_table.h"

#include <cstdio>

#include "sim/acquisition_model.h"
#include "sim/eeprom_model.h"
#include "sim/printer_model.h"
#include "sim/status_model.h"
#include "sim/stripe_model.h"

namespace kovran::sim {

namespace {

constexpr std::uint8_t kVendorIn = 0xC0;
constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kRegisterLong = 0x04;   // data stage above one byte
constexpr std::uint8_t kRegisterShort = 0x0C;  // one byte or none

// Natural length of the configuration block: the EEPROM is 8 bytes, but each
// family's firmware only hands out the part its layout defines.
std::uint16_t ConfigBlockLength(std::uint16_t fw) {
    if (fw <= 0x200F) return 2;
    if (fw <= 0x2FFF) return 3;
    if (fw <= 0x3106) return 4;
    return 8;
}

// The printer commands 70 to 86: both kinds switch on and off, take the
// print set-up and answer 80; the rest belong to the TIJ2.5 cartridge.
void AddPrinter(std::vector<CommandSpec>& out, const CommandFeatures& f) {
    auto none = [&](std::uint8_t sub, const char* name, CommandHandler h) {
        out.push_back({kClassD0, sub, DataKind::None, 0, ReplyLength::Fixed, name, h});
    };
    auto in = [&](std::uint8_t sub, const char* name, CommandHandler h) {
        out.push_back({kClassD0, sub, DataKind::In, 8, ReplyLength::Fixed, name, h});
    };
    none(70, "printer on", &PrinterModel::OnPrinterOn);
    none(71, "printer off", &PrinterModel::OnPrinterOff);
    out.push_back({kClassD0, 72, DataKind::Out, 8, ReplyLength::Fixed, "print set-up",
                   &PrinterModel::OnSetUp});
    in(80, "printed bytes / AD reference", &PrinterModel::OnCountOrReference);
    if (!f.inkjet2Config) return;
    in(73, "identification mode", &PrinterModel::OnIdentificationMode);
    in(74, "printer status (set-up)", &PrinterModel::OnStatus);
    none(75, "start printing", &PrinterModel::OnStartPrinting);
    none(76, "stop printing", &PrinterModel::OnStopPrinting);
    in(77, "identification bit", &PrinterModel::OnIdentificationBit);
    none(78, "warm pulses", &PrinterModel::OnWarmPulses);
    in(79, "printer status", &PrinterModel::OnStatus);
    if (!f.inkjet1Config) in(81, "Rx10", &PrinterModel::OnRx10);
    in(82, "TSR", &PrinterModel::OnTsr);
    in(83, "ambient temperature", &PrinterModel::OnAmbient);
    out.push_back({kClassD0, 84, DataKind::Out, 3, ReplyLength::Fixed, "warm target",
                   &PrinterModel::OnWarmTarget});
    in(86, "print result", &PrinterModel::OnPrintResult);
}

void AddD0(std::vector<CommandSpec>& out, std::uint16_t fw, const CommandFeatures& f) {
    out.push_back({kClassD0, 0x01, DataKind::In, ConfigBlockLength(fw), ReplyLength::Fixed,
                   "configuration", &EepromModel::OnReadConfiguration});
    out.push_back({kClassD0, 0x02, DataKind::In, 5, ReplyLength::Fixed, "firmware version",
                   &EepromModel::OnReadFirmware});
    out.push_back({kClassD0, 0x03, DataKind::In, 8, ReplyLength::Fixed, "status",
                   &StatusModel::OnReadStatus});
    if (f.fw3000Version) {
        out.push_back({kClassD0, 0x3C, DataKind::In, 5, ReplyLength::Fixed, "0x3000 version",
                       &EepromModel::OnReadFirmware3000});
    }
    if (fw < 0x3000) return;
    // Everything below shares registers with the D1 commands of the older
    // families, which is why those families do not have them.
    out.push_back(
        {kClassD0, 0x09, DataKind::None, 0, ReplyLength::Fixed, "enable", &StatusModel::OnEnable});
    out.push_back({kClassD0, 0x0A, DataKind::None, 0, ReplyLength::Fixed, "disable",
                   &StatusModel::OnDisable});
    out.push_back({kClassD0, 0x22, DataKind::Out, 1, ReplyLength::Fixed, "buzzer on",
                   &StatusModel::OnBuzzerOn});
    out.push_back({kClassD0, 0x23, DataKind::None, 0, ReplyLength::Fixed, "buzzer off",
                   &StatusModel::OnBuzzerOff});
    // The calibration blocks share registers 17 and 19 with D1 commands of
    // the older families.
    out.push_back({kClassD0, 0x11, DataKind::Out, 1, ReplyLength::Fixed, "calibration block",
                   &EepromModel::OnSelectCalibration});
    out.push_back({kClassD0, 0x13, DataKind::In, kMaxCommandBytes, ReplyLength::Fixed,
                   "calibration data", &EepromModel::OnReadCalibration});
    if (fw > 0x3005) {
        out.push_back({kClassD0, 0x08, DataKind::In, kMaxCommandBytes, ReplyLength::Caller,
                       "hardware key", &EepromModel::OnReadHardwareKey});
    }
    if (fw > 0x3006) {
        out.push_back({kClassD0, 0x28, DataKind::In, 16, ReplyLength::Fixed, "MICR head block",
                       &EepromModel::OnReadMicrBlock});
    }
    if (fw > 0x3100 && f.pageCounter) {
        out.push_back({kClassD0, 0x2A, DataKind::In, 4, ReplyLength::Fixed, "page counter",
                       &EepromModel::OnReadPageCounter});
        out.push_back({kClassD0, 0x2B, DataKind::None, 0, ReplyLength::Fixed,
                       "page counter increment", &EepromModel::OnIncrementPageCounter});
    }
    if (fw > 0x3100 && f.inkjetCounter) {
        out.push_back({kClassD0, 0x2D, DataKind::In, 4, ReplyLength::Fixed, "inkjet counter",
                       &PrinterModel::OnReadInkjetCounter});
        out.push_back({kClassD0, 0x2E, DataKind::None, 0, ReplyLength::Fixed,
                       "inkjet counter increment", &PrinterModel::OnIncrementInkjetCounter});
    }
    if (fw >= 0x4000) {
        out.push_back({kClassD0, 0x0C, DataKind::In, 8, ReplyLength::Fixed, "device configuration",
                       &EepromModel::OnReadDeviceConfiguration});
    }
    if (fw >= 0x5003) {
        out.push_back({kClassD0, 0x14, DataKind::Out, 8, ReplyLength::Fixed, "photo tuning write",
                       &EepromModel::OnWritePhotoTuning});
        out.push_back({kClassD0, 0x15, DataKind::In, 8, ReplyLength::Fixed, "photo tuning read",
                       &EepromModel::OnReadPhotoTuning});
    }
    if (f.inkjet1Config) {
        out.push_back({kClassD0, 0x51, DataKind::In, 64, ReplyLength::Fixed,
                       "inkjet 1 configuration", &PrinterModel::OnReadInkjet1Config});
    }
    if (f.inkjet2Config) {
        out.push_back({kClassD0, 0x55, DataKind::In, 64, ReplyLength::Fixed,
                       "inkjet 2 configuration", &PrinterModel::OnReadInkjet2Config});
    }
    if (f.inkjet1Config || f.inkjet2Config) AddPrinter(out, f);
}

void AddD1(std::vector<CommandSpec>& out, std::uint16_t fw) {
    if (fw < 0x3000) {
        struct Control {
            std::uint8_t sub;
            CommandHandler handler;
        };
        static constexpr Control kNoData[] = {{0x01, &AcquisitionModel::OnStart},
                                              {0x02, &AcquisitionModel::OnStop},
                                              {0x03, &AcquisitionModel::OnRearOff},
                                              {0x04, &AcquisitionModel::OnRearOn},
                                              {0x05, &StatusModel::OnEnable},
                                              {0x06, &StatusModel::OnDisable},
                                              {0x07, &AcquisitionModel::OnStart},
                                              {0x08, &StatusModel::OnFeedStart},
                                              {0x09, &StatusModel::OnFeedStop},
                                              {0x0C, &AcquisitionModel::OnGrey},
                                              {0x0D, &AcquisitionModel::OnGrey},
                                              {0x0F, &AcquisitionModel::OnModeCommand},
                                              {0x15, &AcquisitionModel::OnFrontOff},
                                              {0x16, nullptr},
                                              {0x17, &AcquisitionModel::OnStop},
                                              {0x18, &AcquisitionModel::OnStop},
                                              {0x19, nullptr},
                                              {0x1B, nullptr},
                                              {0x1E, &AcquisitionModel::OnColour},
                                              {0x27, nullptr},
                                              // 0x1F + mode: the forced acquisition mode
                                              {0x1F, &AcquisitionModel::OnForcedMode},
                                              {0x20, &AcquisitionModel::OnForcedMode},
                                              {0x21, &AcquisitionModel::OnForcedMode},
                                              {0x22, &AcquisitionModel::OnForcedMode},
                                              {0x23, &AcquisitionModel::OnForcedMode},
                                              {0x24, &AcquisitionModel::OnForcedMode},
                                              {0x25, &AcquisitionModel::OnForcedMode},
                                              {0x26, &AcquisitionModel::OnForcedMode}};
        for (const Control& c : kNoData) {
            out.push_back({kClassD1, c.sub, DataKind::None, 0, ReplyLength::Fixed,
                           "acquisition control", c.handler});
        }
        if (fw >= 0x200A) {
            out.push_back({kClassD1, 0x14, DataKind::None, 0, ReplyLength::Fixed, "front acquired",
                           &AcquisitionModel::OnFrontOn});
        }
        out.push_back({kClassD1, 0x0A, DataKind::Out, 8, ReplyLength::Fixed, "lamp levels",
                       &AcquisitionModel::OnLampLevels});
        out.push_back({kClassD1, 0x0B, DataKind::Out, 8, ReplyLength::Fixed, "lamp levels",
                       &AcquisitionModel::OnLampLevels});
        return;
    }
    if (fw > 0x3103) {
        out.push_back({kClassD1, 0x14, DataKind::In, 8, ReplyLength::Fixed, "sensor configuration",
                       &AcquisitionModel::OnSensorConfiguration});
    }
    out.push_back({kClassD1, 0x33, DataKind::Out, 33, ReplyLength::Fixed, "start command",
                   &AcquisitionModel::OnStartCommand});
    struct Control {
        std::uint8_t sub;
        CommandHandler handler;
    };
    static constexpr Control kNoData[] = {{0x34, &AcquisitionModel::OnStart},
                                          {0x35, &AcquisitionModel::OnStop},
                                          {0x36, &StatusModel::OnFeedStart},
                                          {0x37, &StatusModel::OnFeedStop},
                                          {0x38, nullptr},
                                          {0x39, &AcquisitionModel::OnStop}};
    for (const Control& c : kNoData) {
        out.push_back({kClassD1, c.sub, DataKind::None, 0, ReplyLength::Fixed,
                       "acquisition control", c.handler});
    }
}

void AddD2(std::vector<CommandSpec>& out) {
    out.push_back({kClassD2, 0x01, DataKind::None, 0, ReplyLength::Fixed, "stripe reset",
                   &StripeModel::OnReset});
    out.push_back({kClassD2, 0x02, DataKind::In, 64, ReplyLength::Fixed, "stripe track 1",
                   &StripeModel::OnReadTrack});
    out.push_back({kClassD2, 0x03, DataKind::In, 64, ReplyLength::Fixed, "stripe track 2",
                   &StripeModel::OnReadTrack});
    out.push_back({kClassD2, 0x04, DataKind::In, 64, ReplyLength::Fixed, "stripe track 3",
                   &StripeModel::OnReadTrack});
    out.push_back({kClassD2, 0x05, DataKind::None, 0, ReplyLength::Fixed, "stripe enable",
                   &StripeModel::OnEnable});
    out.push_back({kClassD2, 0x06, DataKind::None, 0, ReplyLength::Fixed, "stripe disable",
                   &StripeModel::OnDisable});
}

}  // namespace

std::vector<CommandSpec> CommandsOf(std::uint16_t firmware, const CommandFeatures& features) {
    std::uint16_t fw = FirmwareVersion(firmware);
    std::vector<CommandSpec> out;
    AddD0(out, fw, features);
    AddD1(out, fw);
    if (features.stripeReader) AddD2(out);
    return out;
}

std::optional<CommandSpec> FindCommand(std::uint16_t firmware, const CommandFeatures& features,
                                       std::uint8_t cls, std::uint8_t sub) {
    for (const CommandSpec& spec : CommandsOf(firmware, features)) {
        if (spec.cls == cls && spec.sub == sub) return spec;
    }
    return std::nullopt;
}

std::uint16_t RegisterOf(std::uint8_t cls, std::uint8_t sub) {
    if (cls == kClassD1) return static_cast<std::uint16_t>(sub + 10);
    if (cls == kClassD2) return static_cast<std::uint16_t>(sub + 50);
    return sub;
}

platform::UsbSetup EncodeCommand(std::uint16_t firmware, std::uint8_t cls, std::uint8_t sub,
                                 platform::Direction direction, std::uint16_t length) {
    platform::UsbSetup setup;
    setup.length = length;
    setup.index = 0;
    if (FirmwareVersion(firmware) < kRegisterFormFirmware) {
        setup.requestType = kVendorIn;  // the old form is always device to host
        setup.request = cls;
        setup.value = sub;
        return setup;
    }
    setup.requestType = direction == platform::Direction::In ? kVendorIn : kVendorOut;
    setup.request = length > 1 ? kRegisterLong : kRegisterShort;
    setup.value = RegisterOf(cls, sub);
    return setup;
}

std::optional<DecodedRequest> DecodeVendorRequest(std::uint16_t firmware,
                                                  const CommandFeatures& features,
                                                  const platform::UsbSetup& setup,
                                                  bool acceptAnyD1) {
    if (setup.index != 0 || setup.length > kMaxCommandBytes) return std::nullopt;
    DecodedRequest req;
    req.in = setup.IsIn();
    req.length = setup.length;
    if (FirmwareVersion(firmware) < kRegisterFormFirmware) {
        if (setup.requestType != kVendorIn || setup.value > 0xFF) return std::nullopt;
        if (setup.request != kClassD0 && setup.request != kClassD1 && setup.request != kClassD2) {
            return std::nullopt;
        }
        req.cls = setup.request;
        req.sub = static_cast<std::uint8_t>(setup.value);
        if (acceptAnyD1 && req.cls == kClassD1) return req;
        if (!FindCommand(firmware, features, req.cls, req.sub)) return std::nullopt;
        return req;
    }
    if (features.oldFormVersion && setup.requestType == kVendorIn && setup.request == kClassD0 &&
        setup.value == 0x02) {
        req.cls = kClassD0;
        req.sub = 0x02;
        return req;
    }
    if (setup.requestType != kVendorIn && setup.requestType != kVendorOut) return std::nullopt;
    std::uint8_t expected = setup.length > 1 ? kRegisterLong : kRegisterShort;
    if (setup.request != expected) return std::nullopt;
    std::uint16_t reg = setup.value;
    if (acceptAnyD1 && reg >= 10 && reg - 10 <= 0xFF) {
        req.cls = kClassD1;
        req.sub = static_cast<std::uint8_t>(reg - 10);
        return req;
    }
    for (const CommandSpec& spec : CommandsOf(firmware, features)) {
        if (RegisterOf(spec.cls, spec.sub) == reg) {
            req.cls = spec.cls;
            req.sub = spec.sub;
            return req;
        }
    }
    return std::nullopt;
}

std::string CommandName(std::uint8_t cls, std::uint8_t sub) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X/0x%02X", cls, sub);
    return text;
}

}  // namespace kovran::sim
