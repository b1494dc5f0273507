#include "device/connection.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "KovranMS.h"
#include "api/config_dir.h"
#include "api/frame.h"
#include "api/frame_state.h"
#include "api/ini_settings.h"
#include "api/library.h"
#include "api/log.h"
#include "api/monitor.h"
#include "api/names.h"
#include "api/settings.h"
#include "device/connection_seams.h"
#include "device/control_request.h"
#include "device/counters.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/identification.h"
#include "device/refusable_command.h"
#include "device/scan_setup.h"
#include "device/serial_number.h"
#include "device/status.h"
#include "device/transport.h"
#include "platform/files.h"
#include "platform/usb_vendors.h"

namespace kovran::device {

namespace {

constexpr const char* kOpenedBanner =
    "---------------------------- device opened ----------------------------";
constexpr const char* kClosedBanner =
    "---------------------------- device closed ----------------------------";

constexpr std::uint32_t kConfigurationBlock = 1;
constexpr std::uint32_t kFirmwareVersion = 2;
constexpr std::uint32_t kDeviceConfiguration = 0x0C;
constexpr std::uint32_t kMicrHeadBlock = 0x28;
constexpr std::uint32_t kFirmware3000Version = 0x3C;
constexpr std::uint32_t kSensorConfiguration = 0x14;
constexpr std::uint32_t kEnable3000 = 9;
constexpr std::uint32_t kEnableOld = 5;
constexpr std::uint32_t kGoForward = 1;
constexpr std::uint32_t kEndOfStep = 2;
constexpr unsigned kFirmwareReplyBytes = 5;
constexpr unsigned kDeviceConfigurationBytes = 8;
constexpr unsigned kMicrHeadBytes = 16;
constexpr unsigned kSensorConfigurationBytes = 8;
// The protocol the first-guess read is retried with.
constexpr std::uint16_t kFirstRegisterFirmware = 0x1006;
constexpr std::uint32_t kMaxOpenCount = 0xFFFFFFFF;
constexpr std::uint32_t kDefaultEp0TimeoutMs = 10000;
constexpr std::uint16_t kPid14 = 14;
// Indexes from this one name a device (below: the first one found).
constexpr int kFirstIndex = 0;

bool HandleIsOpen(int handle) {
    return handle != 0 && handle != kNoHandle;
}

DeviceFacts FactsOf(const DeviceIdentity& id) {
    return {.pid = id.pid,
            .firmware = id.firmware,
            .serialHigh = id.serialHigh,
            .serialLow = id.serialLow,
            .highSpeed = id.highSpeed};
}

std::optional<FirmwareReply> ReadFirmwareOnce(std::uint32_t command,
                                              std::uint8_t* firstDigit = nullptr) {
    std::uint8_t reply[kFirmwareReplyBytes] = {};
    if (ControlMsgMayRefuse(kClassConfig, command, reply, kFirmwareReplyBytes, Direction::In) !=
        static_cast<int>(kFirmwareReplyBytes))
        return std::nullopt;
    if (firstDigit != nullptr) *firstDigit = reply[1];
    return FirmwareFromDigits(reply, kFirmwareReplyBytes);
}

// Step 5 of the open. The first guess speaks the old request form, which
// register-form firmware refuses; that refusal is an answer, not a lost
// device, so the second read (in the register form) still reaches it.
bool ReadFirmwareVersion() {
    const bool firstGuess = Identity().firmware == kFirstGuessFirmware;
    std::optional<FirmwareReply> reply = ReadFirmwareOnce(kFirmwareVersion);
    if (firstGuess && (!reply || reply->version != kFirstGuessFirmware)) {
        UpdateIdentity([](DeviceIdentity& id) { id.firmware = kFirstRegisterFirmware; });
        reply = ReadFirmwareOnce(kFirmwareVersion);
    }
    if (!reply) {
        LogPair("err - ", "Device with invalid ver -> disconnected or USB stack down");
        Frame().deviceState.store(DeviceState::Failed);
        SetLastResult(KVX_ERR_DEVICE);
        Frame().currentHandle.store(kNoHandle);
        return false;
    }
    UpdateIdentity([&](DeviceIdentity& id) {
        id.firmware = reply->version;
        id.capabilities.firmwareFlag15 = reply->flag15;
    });
    return true;
}

// Units of PIDs 3 and 9 up to this serial answer a 0x3000-family version
// block but must be driven as the 0x2000 family they are.
bool KeepsOldFamily(const DeviceIdentity& id) {
    return (id.pid == 9 || id.pid == 3) && id.serialHigh == 0 && id.serialLow <= 284959;
}

// Step 6: FW 0x2207 units may carry a 0x3000-family firmware whose
// version only the 0x3C block tells.
void ReadFirmware3000Version() {
    const DeviceIdentity id = Identity();
    if (!Settings().scan.fw3000 || id.firmware != 0x2207) return;
    std::uint8_t firstDigit = 0;
    const std::optional<FirmwareReply> reply = ReadFirmwareOnce(kFirmware3000Version, &firstDigit);
    if (!reply || firstDigit == 0 || reply->version <= id.firmware) return;
    if (KeepsOldFamily(id)) {
        LogValue("forcing not 0x3000 or above FW; read", reply->version, Radix::Hex);
        return;
    }
    UpdateIdentity([&](DeviceIdentity& next) { next.firmware = reply->version; });
}

// Step 8: the sensor option byte.
void ReadSensorOptions() {
    const DeviceIdentity id = Identity();
    std::optional<std::uint8_t> byte;
    if (ReadsSensorOptions(id.firmware)) {
        std::uint8_t block[kSensorConfigurationBytes] = {};
        if (ControlMsgMayRefuse(kClassAcquisition, kSensorConfiguration, block,
                                kSensorConfigurationBytes,
                                Direction::In) == static_cast<int>(kSensorConfigurationBytes))
            byte = block[1];
    }
    const SensorOptions options = DecodeSensorOptions(FactsOf(id), byte);
    UpdateIdentity([&](DeviceIdentity& next) {
        next.capabilities.sensorOption = options.flag;
        next.capabilities.sensorType = options.sensorType;
    });
}

// The front camera and the reading are on every device.
constexpr bool kAlwaysPresent = true;

void AnnounceCapability(const char* word, bool present) {
    MonitorEvent(4, 4, 2, present ? 1 : 0, "", word);
}

std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value & 0xFFFFu);
    return text;
}

void DeleteAltPixelImages() {
    const std::string dir = Config().dir;
    if (dir.empty()) return;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (platform::WildcardMatch("AltPixel*.jpg", name))
            platform::DeleteFileAt(it->path().string());
    }
}

void EnableDevice(std::uint16_t fw) {
    if (fw > 0x2FFF)
        ControlMsg(kClassConfig, kEnable3000, nullptr, 0, Direction::In);
    else
        ControlMsg(kClassAcquisition, kEnableOld, nullptr, 0, Direction::In);
}

void LogCounters(const DeviceIdentity& id) {
    const CounterRecord& c = Counters();
    const bool inkjet = id.capabilities.inkjetType1 || id.capabilities.inkjetType2;
    const int pages = static_cast<int>(c.pageTotal.load());
    const int prints = static_cast<int>(c.inkjetTotal.load());
    if (id.firmware > 0x30FF) {
        LogValue("pages acquired with this SN:", pages);
        if (inkjet) LogValue("pages with inkjet:", prints);
    } else {
        LogValue("pages acquired with this SN on this PC:", pages);
        if (inkjet) LogValue("pages with inkjet on this PC:", prints);
    }
}

void LogNonDefaultSettings(const DeviceIdentity& id) {
    const ScanSettings& s = Settings().scan;
    if (s.ep0SemaphoreTimeoutMs != kDefaultEp0TimeoutMs)
        LogValue("EP0SemaphoreTimeout", static_cast<int>(s.ep0SemaphoreTimeoutMs));
    if (const int fireMin = InkjetMinimumFireCount(); fireMin != 1) LogValue("nFireMin:", fireMin);
    if (id.capabilities.slowAcquisition) LogText("special FW - slow acquisition");
    if (s.disAcqMode != 0) {
        LogValue("disAcqMode:", s.disAcqMode, Radix::Hex);
        for (int mode = 0; mode < 8; ++mode) {
            if ((s.disAcqMode >> mode) & 1) {
                char line[32];
                std::snprintf(line, sizeof line, "mode %d disabled", mode);
                LogText(line);
            }
        }
    }
    if (MicrTracing()) LogText("MICR tracing");
    if (MicrDisablingAdf()) LogText("MICR disabling ADF");
    if (s.doubleFeed) {
        char line[64];
        if (s.doubleFeedBlackVe < static_cast<int>(id.firmware))
            std::snprintf(line, sizeof line, "with DoubleFeedCheck %d no B", s.doubleFeedCntMax);
        else
            std::snprintf(line, sizeof line, "with DoubleFeedCheck %d B", s.doubleFeedCntMax);
        LogText(line);
        LogText(s.doubleFeedDelivery ? "with DoubleFeedCheckDelivering"
                                     : "without DoubleFeedCheckDelivering");
    } else {
        LogText("without DoubleFeedCheck");
    }
    LogText(s.sequenceCheck ? "with SequenceCheck" : "without withSeqCheck");
}

// The open count back to nothing and the device closed for the frame.
void ForgetDevice() {
    Connection().openCount.store(0);
    Frame().deviceState.store(DeviceState::None);
    Frame().currentHandle.store(kNoHandle);
    if (Monitor().announcedSerialLow != 0) MonitorDeviceGone();
}

}  // namespace

ConnectionRecord& Connection() {
    return lib().Get<ConnectionRecord>();
}

const char* ModelName(std::uint16_t pid) {
    return pid == kPid14 ? "Kovran V3r document scanner" : "Kovran V3r cheque scanner";
}

bool ReadConfiguration() {
    const DeviceIdentity id = Identity();
    if (id.alternative || id.path.empty()) return false;
    const std::uint16_t fw = id.firmware;
    if (ReadsDeviceConfigFirst(fw)) {
        std::uint8_t scratch[kDeviceConfigurationBytes] = {};
        ControlMsgMayRefuse(kClassConfig, kDeviceConfiguration, scratch, sizeof scratch,
                            Direction::In);
    }
    const unsigned length = ConfigurationBlockLength(fw);
    std::uint8_t block[8] = {};
    if (ControlMsg(kClassConfig, kConfigurationBlock, block, length, Direction::In) !=
        static_cast<int>(length))
        return false;

    const DeviceFacts facts = FactsOf(id);
    DeviceCapabilities caps = id.capabilities;
    ApplyConfiguration(facts, DecodeConfigurationBlock(fw, block, length),
                       IniAdfDisabled() ? AdfIni::Disabled : AdfIni::Enabled, &caps);
    const bool inkjet1 = caps.inkjetType1Present && ReadInkjetInformation(InkjetType::One);
    const bool inkjet2 = caps.inkjetType2Present && ReadInkjetInformation(InkjetType::Two);
    MarkInkjetsUsable(inkjet1, inkjet2, &caps);
    if (ReadsMicrBlock(caps, fw)) {
        std::uint8_t micr[kMicrHeadBytes] = {};
        const int got =
            ControlMsgMayRefuse(kClassConfig, kMicrHeadBlock, micr, kMicrHeadBytes, Direction::In);
        caps.micr = DecodeMicrHead(facts, micr, got < 0 ? 0 : static_cast<std::size_t>(got));
    } else {
        caps.micr = MicrHead{};
    }
    caps.feature = FeatureFlags(facts, caps);
    UpdateIdentity([&](DeviceIdentity& next) { next.capabilities = caps; });
    return true;
}

void AnnounceDevice() {
    if (!MonitorCanAnnounce()) return;
    DeviceIdentity id = Identity();
    if (id.serialLow == 0) return;
    Monitor().announcedSerialLow = id.serialLow;
    ReadConfiguration();
    id = Identity();
    const DeviceCapabilities& c = id.capabilities;

    MonitorEvent(8, 10, 0, 1, "", "");
    MonitorEvent(4, 4, 3, 0, "HW", Hex4(id.pid).c_str());
    MonitorEvent(4, 4, 3, 0, "MAIN", Hex4(id.firmware).c_str());
    MonitorEvent(4, 5, id.pid == kPid14 ? 14 : 3, 0, ModelName(id.pid), id.serialNumber.c_str());
    if (CurrentCalibrationState() == CalibrationState::Present) {
        MonitorEvent(4, 4, 2, 1, "OK", "CALIBRATION");
    } else {
        MonitorEvent(4, 4, 2, 0, "MISSING", "CALIBRATION");
        MonitorEvent(2, 2, 0, 1, "", "CALIBRATION");
    }
    AnnounceCapability("CLEAN", !CleaningRequired());
    MonitorEvent(4, 4, 3, 0, "DLL", kLibraryVersion);
    AnnounceCapability("FRONT", kAlwaysPresent);
    AnnounceCapability("REAR", c.rearCamera);
    AnnounceCapability("MICR", c.micr.usable);
    AnnounceCapability("OCR", kAlwaysPresent);
    AnnounceCapability("BACKLIGHT", c.backlight);
    AnnounceCapability("ADF", c.adf);
    AnnounceCapability("INKJET", c.inkjetType1 || c.inkjetType2);
    if (c.inkjetType1) {
        const std::string count = std::to_string(static_cast<int>(Counters().inkjetCurrent.load()));
        MonitorEvent(4, 6, 0, 0, "", count.c_str());
    }
}

int OpenAndIdentify(const std::string& serialFilter, int index) {
    FrameState& frame = Frame();
    if (HandleIsOpen(frame.currentHandle.load())) {
        if (DeviceStateCheck()) {
            std::uint32_t count = Connection().openCount.load();
            if (count == kMaxOpenCount)
                LogPair("err - ", "too many device open");
            else
                Connection().openCount.store(count + 1);
            return frame.currentHandle.load();
        }
        CloseDevice();
    }

    // Nothing of a device opened before survives into this one.
    SetIdentity(DeviceIdentity{});
    bool found = EnumerateDevices(0, serialFilter, index, VendorGroup::Main, StoreFound::Yes);
    if (!found)
        found = EnumerateDevices(0, serialFilter, index, VendorGroup::Others, StoreFound::Yes);
    if (!found || !TestOpen(Identity().path)) {
        SetLastResult(KVX_ERR_DEVICE);
        frame.currentHandle.store(kNoHandle);
        return kNoHandle;
    }

    UpdateIdentity([](DeviceIdentity& id) {
        const SerialNumbers numbers = ParseSerialNumbers(id.serialNumber, id.vid);
        id.serialHigh = numbers.high;
        id.serialLow = numbers.low;
    });
    // The bulk packet size says whether the device runs at high speed,
    // which the MICR head and the image blocks depend on.
    GetChannelAlignment();
    DeviceIdentity id = Identity();
    SetCounterStore(RegisterFilePath(id.pid, id.serialNumber), TotalsKeeper::RegisterFile);
    LogText(kOpenedBanner);
    LogText(id.path);

    if (id.vid == platform::kMainVendor) {
        if (!ReadFirmwareVersion()) return kNoHandle;
        ReadFirmware3000Version();
        id = Identity();
        TotalsKeeper totals = TotalsKeeper::RegisterFile;
        if (id.firmware > 0x3100) {
            if (Settings().scan.nPageEn)
                totals = TotalsKeeper::Device;
            else
                LogText("nPage reg disabled");
        }
        SetCounterStore(RegisterFile(), totals);
        ReadSensorOptions();
        ReadPageCounters({.total = true, .current = true});
        ReadInkjetCounters({.total = true, .current = true});
    }

    id = Identity();
    const int handle = HandleFor(HandlePid(id.vid, id.pid), id.serialLow, std::rand());
    frame.currentHandle.store(handle);
    Connection().openCount.store(1);

    MonitorLoad();
    AnnounceDevice();
    return handle;
}

bool PostOpenSetup(const char* configDir) {
    SetLastResult(KVX_OK);
    ClearStopRequest();
    DeleteAltPixelImages();

    UpdateIdentity([](DeviceIdentity& id) {
        id.capabilities.feature = FeatureFlags(FactsOf(id), id.capabilities);
    });
    if (!ReadConfiguration()) return false;

    PrepareScanDefaults();
    // After the ini defaults are in force: a device without the sensor
    // cannot check double feeds, whatever the ini asks.
    if (!Identity().capabilities.doubleFeedSensor) Settings().scan.doubleFeed = false;

    // wBlock follows the speed (GetChannelAlignment at open).
    if (!SelectDefaultAcqMode()) return false;

    DeviceIdentity id = Identity();
    ResetLineCorrection();
    EnableDevice(id.firmware);
    SwitchStripeReader(StripeReader::Off);
    EnableDevice(id.firmware);
    SwitchStripeReader(StripeReader::On);
    if (id.firmware < 0x2010) {
        ControlMsg(kClassAcquisition, kGoForward, nullptr, 0, Direction::In);
        ControlMsg(kClassAcquisition, kEndOfStep, nullptr, 0, Direction::In);
    }

    if (!SetConfigDir(configDir)) return false;
    Settings().ocr = Settings().ocrIni;

    LogIdentityLine();
    id = Identity();
    if (Settings().scan.enCntPages) LogCounters(id);
    LogNonDefaultSettings(id);

    if (id.capabilities.externalPowerSensing && !HasExternalPower()) {
        LogPair("err - ", "The device is missing external power");
        SetLastResult(KVX_WAR_NO_POWER);
    }
    return true;
}

int InitializeDevice(const std::string& serialFilter, int index, const char* configDir) {
    SetLastResult(KVX_OK);
    // An index names one device whatever its serial number.
    const std::string filter = index >= kFirstIndex ? std::string() : serialFilter;
    const int handle = OpenAndIdentify(filter, index);
    if (!HandleIsOpen(handle)) return kNoHandle;
    if (!Config().valid) {
        LogText("CnfDir not Accessible");
        CloseDevice();
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return kNoHandle;
    }
    PostOpenSetup(configDir);
    CheckDefaultColour();
    const std::uint16_t fw = Identity().firmware;
    if (fw >= 0x3001 && fw <= 0x3003) MoveFeederBriefly();
    return handle;
}

void CloseDevice() {
    const DeviceIdentity id = Identity();
    StopAcquisition();
    if (id.vid == platform::kMainVendor) {
        ResetLineCorrection();
        StopInkjets();
    }
    FreeImageBuffers();
    SetFeed(Feed::Stop);
    ResetLineCorrection();
    const std::uint32_t count = Connection().openCount.load();
    if (count <= 1) {
        ForgetDevice();
        // The last close gives the device file back: the scanner may
        // autosuspend and another program may open it.
        CloseKeptDevice();
    } else
        Connection().openCount.store(count - 1);
    CloseEp0Semaphore(Device());
    LogText(kClosedBanner);
    SetLastResult(KVX_OK);
}

std::int32_t ResetDevice(int handle) {
    std::atomic<DeviceState>& state = Frame().deviceState;
    DeviceState failed = DeviceState::Failed;
    state.compare_exchange_strong(failed, DeviceState::Lost);
    bool ok = ApiEnter("KVXReset", Guard::Handle, handle);
    failed = DeviceState::Failed;
    if (state.compare_exchange_strong(failed, DeviceState::Lost) && ReopenDevice()) {
        LogText("device reopened in reset");
        ok = true;
    }
    // Only the host that holds the device stops its feed and its printing:
    // a stale or foreign handle changes nothing.
    if (ok && HandleIsOpen(Frame().currentHandle.load()) && state.load() == DeviceState::Open) {
        StopInkjetType2();
        if (FeedRunning()) {
            SetFeed(Feed::Stop);
            ResetLineCorrection();
        }
    }
    if (ok) {
        SetLastResult(KVX_OK);
    } else if (LastResult() >= 0) {
        LogText("reset error");
        SetLastResult(KVX_ERR_GENERIC);
    }
    return LastResult();
}

void CloseAtUnload() {
    StopInkjetType2();
    if (FeedRunning()) SetFeed(Feed::Stop);
    Connection().openCount.store(0);
    CloseDevice();
}

std::string IdentityLine() {
    const DeviceIdentity id = Identity();
    const DeviceCapabilities& c = id.capabilities;
    char line[400];
    const char* serial = id.serialNumber.c_str();
    if (c.sensorType == 0)
        std::snprintf(line, sizeof line, "pid %04x, ser.num. %.255s, ver. %04x, %dV", id.pid,
                      serial, id.firmware, c.cisVoltage);
    else if (c.sensorType == 8)
        std::snprintf(line, sizeof line, "pid %04x, ser.num. %.255s, ver. %04x, b, %dV", id.pid,
                      serial, id.firmware, c.cisVoltage);
    else
        std::snprintf(line, sizeof line, "pid %04x, ser.num. %.255s, ver. %04x, %dV, CIS %d",
                      id.pid, serial, id.firmware, c.cisVoltage, c.sensorType);
    return std::string(line) + (id.highSpeed ? ", hs" : ", fs");
}

void LogIdentityLine() {
    if (!HandleIsOpen(Frame().currentHandle.load())) return;
    LogText(IdentityLine());
}

}  // namespace kovran::device
