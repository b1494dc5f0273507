#include "acquisition/calibration.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "acquisition/corr_info.h"
#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/counters.h"
#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/sys_error.h"

namespace kovran::acquisition {
namespace {

constexpr std::int32_t kColourPartMask = ~0x18;
constexpr std::int32_t kInfraredBit = 0x08;
constexpr std::int32_t kUltravioletBit = 0x10;
constexpr std::int32_t kColour = 2;
constexpr std::uint16_t kPid14 = 14;
// Hundredths of an inch of a sensor line (PID 14: half of it).
constexpr int kSensorHundredths = 864;
constexpr int kHalfSensorHundredths = 432;
constexpr std::uint16_t kFirstFirmwareWithLevels = 0x3000;
constexpr char kCleaningKey[] = "CleaningRequired";

struct Mode {
    bool infrared = false;
    bool ultraviolet = false;
    std::int32_t colourMode = 1;
};

Mode ModeOf(const CalibrationSettings& s) {
    const std::int32_t color = s.color;
    return {.infrared = (color & kInfraredBit) != 0,
            .ultraviolet = (color & kUltravioletBit) != 0,
            .colourMode = color & kColourPartMask};
}

bool HasRear() {
    return device::Identity().capabilities.rearCamera;
}

// Resamples one channel line of a reference to another pixel count.
void Resample(const std::uint8_t* from, int fromPixels, std::uint8_t* to, int toPixels) {
    for (int x = 0; x < toPixels; ++x)
        to[x] = from[static_cast<long long>(x) * fromPixels / toPixels];
}

// Copies a file side into the correction information of the geometry in
// force (channel by channel, resampled when the resolutions differ).
void TakeSide(const BcfSide& from, int fromPixels, int channels, CorrInfo& into) {
    into.level = from.level;
    into.whiteLevel = from.whiteLevel;
    into.blackLevel = from.blackLevel;
    const int toPixels = into.pixels;
    if (toPixels <= 0 || fromPixels <= 0) return;
    for (int c = 0; c < channels; ++c) {
        const std::size_t fromAt = static_cast<std::size_t>(c) * fromPixels;
        const std::size_t toAt = static_cast<std::size_t>(c) * toPixels;
        if (fromAt + fromPixels > from.white.size() || toAt + toPixels > into.white.size() ||
            toAt + toPixels > into.black.size())
            return;
        Resample(from.white.data() + fromAt, fromPixels, into.white.data() + toAt, toPixels);
        Resample(from.black.data() + fromAt, fromPixels, into.black.data() + toAt, toPixels);
    }
}

// Reads at most `limit` bytes of a regular file; false with the system
// error set when it cannot be opened or is something else (a directory, a
// pipe that would wait for a writer forever, a device).
bool ReadFileCapped(const std::string& name, std::size_t limit, std::vector<std::uint8_t>* out) {
    platform::UniqueFd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (fd.valid() && ::fstat(fd.get(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fd = platform::UniqueFd();
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    }
    if (!fd.valid()) {
        platform::SetLastSystemError(errno == ENOENT ? platform::kErrorFileNotFound
                                                     : platform::WinErrorFromErrno(errno));
        return false;
    }
    // A file that grows while it is read still gives at most `limit` bytes.
    out->assign(limit, 0);
    std::size_t got = 0;
    while (got < limit) {
        const ssize_t n = ::read(fd.get(), out->data() + got, limit - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    out->resize(got);
    return true;
}

// Models whose missing files are not worth a line: they run without
// calibration files as a matter of course.
bool QuietAboutMissingFiles(std::uint16_t pid) {
    return pid == 1 || pid == 2 || pid == 17;
}

std::string ReadingFileText(const std::string& name) {
    return "reading calibration file " + name;
}

void UseDefaultReferences() {
    SetDefaultReferences();
    Calibration().calibrated.store(false);
}

}  // namespace

CalibrationRecord& Calibration() {
    return lib().Get<CalibrationRecord>();
}

CalibrationSettings SettingsInForce() {
    const ScanSettings& scan = Settings().scan;
    return {.color = scan.color,
            .backlightOn = scan.backlightOn,
            .rearOff = scan.rearOff,
            .cmc7Strip = device::AcqMode().request.cmc7Strip,
            .typeDoc = Settings().ocr.typeDoc};
}

std::uint16_t CurrentModeCode(const CalibrationSettings& s) {
    const DeviceIdentity id = device::Identity();
    const Mode m = ModeOf(s);
    return CalibrationModeCode({.infrared = m.infrared,
                                .ultraviolet = m.ultraviolet,
                                .backlight = s.backlightOn,
                                .highSpeed = id.highSpeed,
                                .cmc7Strip = s.cmc7Strip,
                                .colourMode = m.colourMode,
                                .typeDoc = std::clamp(s.typeDoc, 0, 7),
                                .rearOff = s.rearOff,
                                .rearSwitchable = HasRear()});
}

std::string CurrentCalibrationFileName(CalibrationNaming naming, const CalibrationSettings& s) {
    const DeviceIdentity id = device::Identity();
    const Mode m = ModeOf(s);
    bool badSerial = false;
    bool badDirectory = false;
    std::string name = CalibrationFileName({.directory = Config().dir,
                                            .pid = id.pid,
                                            .serial = id.serialNumber,
                                            .firmware = id.firmware,
                                            .mode = CurrentModeCode(s),
                                            .infrared = m.infrared,
                                            .ultraviolet = m.ultraviolet,
                                            .naming = naming},
                                           &badSerial, &badDirectory);
    if (badSerial) LogText("invalid sn string length");
    if (badDirectory) LogText("invalid config dir string length");
    return name;
}

int SensorPixels(int dpiH) {
    const int hundredths =
        device::Identity().pid == kPid14 ? kHalfSensorHundredths : kSensorHundredths;
    return hundredths * dpiH / 100;
}

FileSides CurrentFileSides(const CalibrationSettings& scan) {
    const DeviceIdentity id = device::Identity();
    const Mode m = ModeOf(scan);
    FileSides f;
    f.pixels = SensorPixels(kCalibrationDpi);
    const int colourChannels = m.colourMode == kColour ? 3 : 1;
    f.channels = colourChannels + (m.infrared ? 1 : 0) + (m.ultraviolet ? 1 : 0);
    f.layout.levels = m.infrared || m.ultraviolet ? 5 : 3;
    const auto sideBytes = static_cast<std::uint16_t>(f.pixels * f.channels);
    if (HasRear() && !scan.rearOff) {
        f.sides.push_back(kRear);
        f.layout.sideBytes.push_back(sideBytes);
    }
    f.sides.push_back(kFront);
    f.layout.sideBytes.push_back(sideBytes);
    if (scan.backlightOn) {
        f.sides.push_back(kBacklight);
        f.layout.sideBytes.push_back(static_cast<std::uint16_t>(f.pixels));
    }
    return f;
}

bool LoadCalibration(LoadUse use, const CalibrationSettings& checked, EepromCopy* copy) {
    CalibrationRecord& cal = Calibration();
    const DeviceIdentity id = device::Identity();
    const bool apply = use == LoadUse::Apply;
    auto UseDefaults = [apply] {
        if (apply) UseDefaultReferences();
    };
    const CalibrationSettings mode = apply ? SettingsInForce() : checked;
    if (apply) cal.loadedMode.store(CurrentModeCode(mode));
    const FileSides f = CurrentFileSides(mode);
    const std::size_t expected = BcfSize(f.layout);

    const std::string newName = CurrentCalibrationFileName(CalibrationNaming::New, mode);
    std::string name = newName;
    std::vector<std::uint8_t> bytes;
    // One byte more than a whole file shows trailing bytes without reading
    // whatever length a damaged file claims.
    bool opened = ReadFileCapped(name, expected + 1, &bytes);
    // Only a file that is not there is looked for under the old name: one
    // that cannot be read is reported as it is.
    if (!opened && f.layout.levels == 3 &&
        platform::LastSystemError() == platform::kErrorFileNotFound) {
        LogPair("missing", name.c_str());
        name = CurrentCalibrationFileName(CalibrationNaming::Old, mode);
        LogPair("looking for", name.c_str());
        opened = ReadFileCapped(name, expected + 1, &bytes);
        if (opened) LogPair("found", name.c_str());
    }
    const bool eepromDevice = KeepsEepromCalibration();
    if (!opened) {
        const int error = platform::LastSystemError();
        if (error != platform::kErrorFileNotFound)
            LogValue("error reading calibration file", error);
        std::vector<BcfSide> fromDevice;
        if (!cal.calibrating && eepromDevice && ReadEepromCalibration(f, &fromDevice, copy)) {
            // The device's copy becomes the mode's file, and is read back
            // from memory as the file would be.
            bytes = SerializeBcf(f.layout, fromDevice);
            name = newName;
            WriteCalibrationFile(name, fromDevice, f.layout);
            if (apply) cal.loadedMode.store(CurrentModeCode(mode));
            opened = true;
        } else {
            if (!QuietAboutMissingFiles(id.pid)) LogValue(ReadingFileText(newName).c_str(), error);
            UseDefaults();
            return false;
        }
    }
    std::vector<BcfSide> sides;
    std::string why;
    if (!ParseBcf(bytes, f.layout, &sides, &why)) {
        LogPair(ReadingFileText(name).c_str(), why.c_str());
        UseDefaults();
        return false;
    }
    // The file's sides, in the order rear, front, backlight.
    const BcfSide* rear = nullptr;
    const BcfSide* front = nullptr;
    const BcfSide* backlight = nullptr;
    for (std::size_t i = 0; i < f.sides.size(); ++i) {
        if (f.sides[i] == kRear) rear = &sides[i];
        if (f.sides[i] == kFront) front = &sides[i];
        if (f.sides[i] == kBacklight) backlight = &sides[i];
    }
    if (!cal.calibrating) {
        int sum = 0;
        for (int c = 0; c < 3; ++c) sum += front->level[static_cast<std::size_t>(c)];
        if (rear != nullptr)
            for (int c = 0; c < 3; ++c) sum += rear->level[static_cast<std::size_t>(c)];
        if (id.firmware >= kFirstFirmwareWithLevels && sum == 0) {
            LogPair("err - ", "invalid led level");
            UseDefaults();
            return false;
        }
        if (front->whiteLevel[0] == 0 && (rear == nullptr || rear->whiteLevel[0] == 0)) {
            LogPair("err - invalid white level in", name.c_str());
            UseDefaults();
            return false;
        }
    }
    bool dust = false;
    for (BcfSide& side : sides) {
        if (&side == backlight) continue;
        bool deltaReplaced = false;
        const ShapeOutcome shaped = ShapeReferences({.channels = f.channels,
                                                     .pixels = f.pixels,
                                                     .left = 0,
                                                     .right = f.pixels,
                                                     .dpiH = kCalibrationDpi,
                                                     .eeprom = eepromDevice},
                                                    side.whiteLevel, side.blackLevel, side.white,
                                                    side.black, &deltaReplaced);
        if (deltaReplaced) LogText("unexpected delta in evaluation callibration");
        if (shaped == ShapeOutcome::Unusable) {
            LogPair("err - invalid white level in", name.c_str());
            UseDefaults();
            return false;
        }
        dust = dust || shaped == ShapeOutcome::Dust;
    }
    if (!apply) return true;

    CorrInfoRecord& info = CorrInfos();
    TakeSide(*front, f.pixels, f.channels, info.sides[kFront]);
    if (rear != nullptr)
        TakeSide(*rear, f.pixels, f.channels, info.sides[kRear]);
    else
        info.sides[kRear].level = front->level;
    if (backlight != nullptr) {
        // The backlight takes its first channel's references and level
        // from its own record; the shaping is the front's.
        TakeSide(*backlight, f.pixels, 1, info.sides[kBacklight]);
    }
    for (CorrInfo& side : info.sides) side.mode = static_cast<std::uint16_t>(cal.loadedMode.load());
    if (dust && Settings().scan.checkCalibration) cal.cleaning.store(true);
    cal.calibrated.store(true);
    return true;
}

void EnsureCalibrationLoaded(bool force) {
    CalibrationRecord& cal = Calibration();
    if (!force && cal.loadedMode.load() == CurrentModeCode()) return;
    LoadCalibration();
}

void ForgetLoadedCalibration() {
    Calibration().loadedMode.store(-1);
}

KVXResult WriteCalibrationFile(const std::string& name, const std::vector<BcfSide>& sides,
                               const BcfLayout& layout) {
    const std::vector<std::uint8_t> bytes = SerializeBcf(layout, sides);
    const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!platform::WriteFileAtomically(name, view)) {
        LogValue("calibration file writing failed", platform::LastSystemError());
        return KVX_ERR_WRITE;
    }
    ForgetLoadedCalibration();
    return KVX_OK;
}

KVXResult WriteEmptyCalibrationFile(const std::string& name) {
    if (!platform::WriteFileAtomically(name, {})) {
        LogValue("error writing", platform::LastSystemError());
        return KVX_ERR_WRITE;
    }
    ForgetLoadedCalibration();
    return KVX_OK;
}

void WriteCleaningRequired(bool required) {
    const std::string file = device::RegisterFile();
    if (file.empty()) return;
    device::WriteRegisterValue(file, kCleaningKey, required ? 1 : 0);
}

bool ReadCleaningRequired() {
    const std::string file = device::RegisterFile();
    return !file.empty() && device::ReadRegisterValue(file, kCleaningKey) > 0;
}

}  // namespace kovran::acquisition
