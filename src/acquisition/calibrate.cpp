// The sheet calibration of every mode (lamp levels, black and white
// references) and the check that every mode has its calibration.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "acquisition/acquire.h"
#include "acquisition/calibration.h"
#include "acquisition/cleaning.h"
#include "acquisition/corr_info.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "api/log.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/status.h"

namespace kovran::acquisition {
namespace {

constexpr std::uint8_t kCalibrationMode = 3;
constexpr std::int32_t kGrey = 1;
constexpr std::int32_t kColour = 2;
constexpr std::int32_t kDocumentTypes = 8;
constexpr std::uint16_t kHighestLevel = 63;
constexpr int kSettleLines = 16;
constexpr int kBlackLines = 16;
constexpr int kWhiteLines = 8;
constexpr int kFinalWhiteLines = 32;
constexpr int kFewestLines = 4;
constexpr int kWhitePasses = 12;
constexpr int kBlackErrorMargin = 50;
constexpr int kBlackErrorsAllowed = 256;
constexpr int kDarkWhite = 50;
constexpr double kSaturated = 252.0;
constexpr double kFullWhite = 254.1;
constexpr double kSaturationStep = 0.3;
constexpr double kFirstAllowance = 1.0;
constexpr double kAllowanceRaise = 4.0;
constexpr double kLargestAllowance = 10.0;
constexpr int kWhiteWanted = 250;
constexpr std::int32_t kEjectLines = 1800;
constexpr std::int32_t kEjectMoreLines = 900;
constexpr std::int32_t kEjectLimitMs = 15000;
constexpr std::int32_t kEjectMoreLimitMs = 5000;
constexpr int kEjectRetries = 2;
constexpr std::int32_t kInfraredBit = 0x08;
constexpr std::int32_t kUltravioletBit = 0x10;
constexpr std::uint32_t kSheetPresent = device::kStatusDocumentAtInput | device::kStatusPhotocell;

// Everything a calibration changes, put back on every path.
class KeptScanState {
  public:
    KeptScanState()
        : scan_(Settings().scan),
          typeDoc_(Settings().ocr.typeDoc),
          request_(device::AcqMode().request),
          maxHeight_(Images().maxHeight150) {}
    ~KeptScanState() {
        Settings().scan = scan_;
        Settings().ocr.typeDoc = typeDoc_;
        device::AcqMode().request = request_;
        Images().maxHeight150 = maxHeight_;
    }
    KeptScanState(const KeptScanState&) = delete;
    KeptScanState& operator=(const KeptScanState&) = delete;

  private:
    ScanSettings scan_;
    std::int32_t typeDoc_;
    AcqRequest request_;
    std::int32_t maxHeight_;
};

class CalibratingFlag {
  public:
    CalibratingFlag() { Calibration().calibrating = true; }
    ~CalibratingFlag() { Calibration().calibrating = false; }
    CalibratingFlag(const CalibratingFlag&) = delete;
    CalibratingFlag& operator=(const CalibratingFlag&) = delete;
};

// The mean of every sensor pixel of one side over a pass, channel lines
// one after the other (as the references keep them).
struct SidePass {
    std::vector<double> mean;
    int pixels = 0;
    int channels = 0;
    int lines = 0;
};

struct Pass {
    std::vector<int> sides;  // kRear, kFront (file order)
    std::array<SidePass, 2> side;
};

const char* ColourName(std::int32_t colour) {
    switch (colour) {
        case kColour:
            return "RGB";
        case 3:
            return "RED";
        case 4:
            return "GRN";
        case 5:
            return "BLU";
        default:
            return "GRAY";
    }
}

const char* SideName(int side) {
    return side == kRear ? "rear " : "front";
}

bool SetUpCalibrationMode(std::int32_t colour) {
    ScanSettings& scan = Settings().scan;
    AcqModeRecord& mode = device::AcqMode();
    scan.color = colour;
    scan.backlightOn = false;
    scan.frontOff = false;
    scan.rearOff = !device::Identity().capabilities.rearCamera;
    scan.twoPart = false;
    scan.acq.forced = true;
    scan.acq.mode = kCalibrationMode;
    mode.request.requestedDpi = {300, 300, 0};
    mode.request.readingNeeds = {};
    mode.request.cmc7Strip = false;
    mode.request.kind = ScanKind::Calibration;
    return device::SetUpAcqMode(0);
}

enum class PassKind : bool { Black, White };

// A pass whose sides came back too short to average.
void LogTooFewLines(PassKind kind, int side, int asked, const ImageSet& set) {
    if (kind == PassKind::Black) {
        LogText("too few lines for back calibration");
        LogValue("nLinee", asked);
    } else {
        LogText(side == kRear ? "too few lines - rear" : "too few lines - front");
    }
    LogValue("MyImg[F].Height", set[kFront].Height);
    LogValue("MyImg[R].Height", set[kRear].Height);
}

// One calibration acquisition of `lines` (after the settle lines) at the
// given lamp levels; the mean of the lines after the settle lines.
KVXResult AcquirePass(PassKind kind, int lines, const std::array<std::uint16_t, 3>& levels,
                      Pass* out) {
    for (auto& side : Calibration().passLevels) {
        side = {};
        std::copy(levels.begin(), levels.end(), side.begin());
    }
    const KVXResult r =
        AcquireImg({.height = lines + kSettleLines, .purpose = AcqPurpose::Calibration});
    if (r < 0) return r;
    const ImageSet& set = Images().myImg;
    out->sides.clear();
    if (!Settings().scan.rearOff) out->sides.push_back(kRear);
    out->sides.push_back(kFront);
    for (int side : out->sides) {
        const ImageRecord& rec = set[static_cast<std::size_t>(side)];
        SidePass& p = out->side[side == kRear ? 0 : 1];
        const int height = rec.Height;
        if (height < kFewestLines || rec.data == nullptr) {
            LogTooFewLines(kind, side, lines + kSettleLines, set);
            return KVX_ERR_CALIBRATION;
        }
        const int first = std::min(kSettleLines, height - kFewestLines);
        p.pixels = rec.sensorPixels;
        p.channels = std::max<int>(rec.channels, 1);
        p.lines = height - first;
        p.mean.assign(static_cast<std::size_t>(p.pixels) * p.channels, 0.0);
        for (int y = first; y < height; ++y) {
            const std::uint8_t* line = rec.data + static_cast<std::size_t>(y) * rec.stride;
            for (int c = 0; c < p.channels; ++c) {
                const std::uint8_t* channel =
                    line + static_cast<std::size_t>(c) * rec.channelPitch + rec.left;
                double* m = p.mean.data() + static_cast<std::size_t>(c) * p.pixels;
                for (int x = 0; x < p.pixels; ++x) m[x] += channel[x];
            }
        }
        for (double& v : p.mean) v /= p.lines;
    }
    return KVX_OK;
}

// The mean of a channel over the inner range (an inch in from each end).
double InnerMean(const SidePass& p, int channel, int dpiH) {
    const int from = std::min(dpiH, p.pixels / 4);
    const int to = p.pixels - from;
    double sum = 0.0;
    const double* m = p.mean.data() + static_cast<std::size_t>(channel) * p.pixels;
    for (int x = from; x < to; ++x) sum += m[x];
    return to > from ? sum / (to - from) : 0.0;
}

double SaturationPercent(const SidePass& p, int channel, int dpiH) {
    const int from = std::min(dpiH, p.pixels / 4);
    const int to = p.pixels - from;
    int saturated = 0;
    const double* m = p.mean.data() + static_cast<std::size_t>(channel) * p.pixels;
    for (int x = from; x < to; ++x) saturated += m[x] > kSaturated ? 1 : 0;
    return to > from ? 100.0 * saturated / (to - from) : 0.0;
}

std::vector<std::uint8_t> Reference(const SidePass& p) {
    std::vector<std::uint8_t> out(p.mean.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = p.mean[i] > kFullWhite
                     ? std::uint8_t{255}
                     : static_cast<std::uint8_t>(std::clamp(std::lround(p.mean[i]), 0L, 255L));
    return out;
}

void LogTooManyErrors(std::int32_t colour, const char* what, int side, int mode) {
    char line[128];
    std::snprintf(line, sizeof line, "%s - too many errors on %s calibration - %s - mode %d",
                  ColourName(colour), what, SideName(side), mode);
    LogText(line);
}

// The acquisition mode a calibration pass ran in.
int ModeInForce() {
    return Settings().scan.acq.mode;
}

// The mode a failed pass ran in, as it was set up.
void LogFailedMode(const char* what, std::int32_t colour) {
    const ImageRecord& f = Images().myImg[kFront];
    const ScanSettings& scan = Settings().scan;
    char line[160];
    std::snprintf(line, sizeof line,
                  "calibrating %s, %s, mode %d, dpiV %d, dpiH %d, backL %d, micr %d, IR %d, UV %d",
                  what, colour == kColour ? "rgb" : "gray", ModeInForce(), f.dpiV, f.dpiH,
                  scan.backlightOn ? 1 : 0, device::AcqMode().request.cmc7Strip ? 1 : 0,
                  (scan.color & kInfraredBit) != 0 ? 1 : 0,
                  (scan.color & kUltravioletBit) != 0 ? 1 : 0);
    LogText(line);
}

// The references of one colour mode, per side in file order.
struct ModeReferences {
    std::int32_t colour = kGrey;
    std::vector<int> sides;
    std::vector<BcfSide> file;
};

KVXResult BlackCalibration(std::int32_t colour, ModeReferences* refs) {
    Pass pass;
    KVXResult r = AcquirePass(PassKind::Black, kBlackLines, {0, 0, 0}, &pass);
    if (r < 0) {
        LogFailedMode("back", colour);
        return r;
    }
    refs->colour = colour;
    refs->sides = pass.sides;
    refs->file.assign(pass.sides.size(), BcfSide{});
    const int colourChannels = colour == kColour ? 3 : 1;
    for (std::size_t i = 0; i < pass.sides.size(); ++i) {
        const int side = pass.sides[i];
        const SidePass& p = pass.side[side == kRear ? 0 : 1];
        const int dpiH = std::max<int>(Images().myImg[static_cast<std::size_t>(side)].dpiH, 1);
        BcfSide& out = refs->file[i];
        out.black = Reference(p);
        for (int c = 0; c < p.channels && c < 5; ++c) {
            const auto level = static_cast<int>(std::lround(InnerMean(p, c, dpiH)));
            out.blackLevel[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(level);
            // The first channel after the colour ones has no lamp of its own.
            if (c == colourChannels) continue;
            int errors = 0;
            const std::uint8_t* b = out.black.data() + static_cast<std::size_t>(c) * p.pixels;
            for (int x = 0; x < p.pixels; ++x) errors += b[x] > level + kBlackErrorMargin ? 1 : 0;
            if (errors > kBlackErrorsAllowed) {
                LogTooManyErrors(colour, "black ", side, ModeInForce());
                LogFailedMode("back", colour);
                return KVX_ERR_CALIBRATION;
            }
        }
    }
    return KVX_OK;
}

bool SheetInDevice(KVXResult* failure) {
    const std::uint32_t status = device::ReadStatus();
    if (status == 0) {
        LogText("device error while calibrating");
        *failure = KVX_ERR_CALIBRATION;
        return false;
    }
    if ((status & kSheetPresent) == 0) {
        LogText("sheet too short");
        *failure = KVX_ERR_CALIBRATION_SHORT;
        return false;
    }
    return true;
}

// A lamp level lowered by a saturation share, by at least the step of its
// range.
int LoweredLevel(int level, double saturation) {
    const int wanted =
        static_cast<int>(std::lround(level * (1.0 - saturation * kSaturationStep / 100.0)));
    const int step = level > 100 ? 16 : level > 32 ? 4 : 1;
    return std::min(wanted, level - step);
}

KVXResult WhiteCalibration(ModeReferences* refs) {
    const std::int32_t colour = refs->colour;
    const int channels = colour == kColour ? 3 : 1;
    std::array<int, 3> level{kHighestLevel, kHighestLevel, kHighestLevel};
    std::array<double, 3> allowance{kFirstAllowance, kFirstAllowance, kFirstAllowance};
    Pass pass;
    bool settled = false;
    // The side whose saturation kept the last pass from settling.
    int saturatedSide = kFront;
    KVXResult failure = KVX_OK;
    for (int n = 0; n < kWhitePasses && !settled; ++n) {
        if (!SheetInDevice(&failure)) return failure;
        const std::array<std::uint16_t, 3> levels{
            static_cast<std::uint16_t>(level[0]),
            static_cast<std::uint16_t>(channels == 3 ? level[1] : level[0]),
            static_cast<std::uint16_t>(channels == 3 ? level[2] : level[0])};
        KVXResult r = AcquirePass(PassKind::White, kWhiteLines, levels, &pass);
        if (r < 0) return r;
        // The sheet must have covered the whole pass.
        if (!SheetInDevice(&failure)) return failure;
        settled = true;
        for (int c = 0; c < channels; ++c) {
            // The brighter side decides: both sides share the lamp level.
            double saturation = 0.0;
            double white = 255.0;
            int brightest = kFront;
            for (int side : pass.sides) {
                const SidePass& p = pass.side[side == kRear ? 0 : 1];
                const int dpiH =
                    std::max<int>(Images().myImg[static_cast<std::size_t>(side)].dpiH, 1);
                const double share = SaturationPercent(p, c, dpiH);
                if (share > saturation) {
                    saturation = share;
                    brightest = side;
                }
                white = std::min(white, InnerMean(p, c, dpiH));
            }
            const auto i = static_cast<std::size_t>(c);
            if (saturation > allowance[i]) {
                if (settled) saturatedSide = brightest;
                settled = false;
                level[i] = LoweredLevel(level[i], saturation);
                if (level[i] <= 0) {
                    char line[96];
                    std::snprintf(line, sizeof line,
                                  "%s calibration - mode %d - invalid led level %d",
                                  colour == kColour ? "RGB" : "GRAY", ModeInForce(), level[i]);
                    LogText(line);
                    return KVX_ERR_CALIBRATION;
                }
            } else if (white < kWhiteWanted) {
                allowance[i] = std::min(allowance[i] + kAllowanceRaise, kLargestAllowance);
            }
        }
    }
    if (!settled) {
        LogText(saturatedSide == kRear ? "too many saturations - rear"
                                       : "too many saturations - front");
        LogFailedMode("white", colour);
        return KVX_ERR_CALIBRATION;
    }
    if (!SheetInDevice(&failure)) return failure;
    const std::array<std::uint16_t, 3> levels{
        static_cast<std::uint16_t>(level[0]),
        static_cast<std::uint16_t>(channels == 3 ? level[1] : level[0]),
        static_cast<std::uint16_t>(channels == 3 ? level[2] : level[0])};
    KVXResult r = AcquirePass(PassKind::White, kFinalWhiteLines, levels, &pass);
    if (r < 0) return r;
    if (!SheetInDevice(&failure)) return failure;
    for (std::size_t i = 0; i < refs->sides.size(); ++i) {
        const int side = refs->sides[i];
        const SidePass& p = pass.side[side == kRear ? 0 : 1];
        const int dpiH = std::max<int>(Images().myImg[static_cast<std::size_t>(side)].dpiH, 1);
        BcfSide& out = refs->file[i];
        out.white = Reference(p);
        for (int c = 0; c < 3; ++c)
            out.level[static_cast<std::size_t>(c)] = levels[static_cast<std::size_t>(c)];
        for (int c = 0; c < p.channels && c < 5; ++c) {
            const auto mean = static_cast<int>(std::lround(InnerMean(p, c, dpiH)));
            out.whiteLevel[static_cast<std::size_t>(c)] =
                static_cast<std::uint8_t>(std::clamp(mean, 1, 255));
            if (c >= channels) continue;
            int errors = 0;
            const std::uint8_t* w = out.white.data() + static_cast<std::size_t>(c) * p.pixels;
            for (int x = 0; x < p.pixels; ++x) errors += w[x] < kDarkWhite ? 1 : 0;
            if (errors > 2 * dpiH) {
                LogTooManyErrors(colour, "white", side, ModeInForce());
                LogValue("nErr", errors);
                LogFailedMode("white", colour);
                return KVX_ERR_CALIBRATION;
            }
        }
    }
    return KVX_OK;
}

// Resamples a side's references to the file's pixel count when the
// calibration mode's sensor line differs from it.
BcfSide ToFilePixels(const BcfSide& side, int pixels, int filePixels, int channels) {
    if (pixels == filePixels || pixels <= 0) return side;
    BcfSide out = side;
    out.white.assign(static_cast<std::size_t>(filePixels) * channels, 0);
    out.black.assign(out.white.size(), 0);
    for (int c = 0; c < channels; ++c) {
        for (int x = 0; x < filePixels; ++x) {
            const std::size_t from =
                static_cast<std::size_t>(c) * pixels +
                static_cast<std::size_t>(static_cast<long long>(x) * pixels / filePixels);
            const std::size_t to = static_cast<std::size_t>(c) * filePixels + x;
            if (from < side.white.size()) out.white[to] = side.white[from];
            if (from < side.black.size()) out.black[to] = side.black[from];
        }
    }
    return out;
}

struct PendingFile {
    std::string name;
    std::vector<BcfSide> sides;
    BcfLayout layout;
};

// The files of every document type, with the rear on and off, of one
// colour mode.
void AddFiles(const ModeReferences& refs, std::vector<PendingFile>* files) {
    ScanSettings& scan = Settings().scan;
    const bool rearCamera = device::Identity().capabilities.rearCamera;
    scan.color = refs.colour;
    scan.backlightOn = false;
    const int pixels = Images().myImg[kFront].sensorPixels;
    for (bool rearOff : {false, true}) {
        if (rearOff && !rearCamera) continue;
        scan.rearOff = rearOff || !rearCamera;
        for (std::int32_t type = 0; type < kDocumentTypes; ++type) {
            Settings().ocr.typeDoc = type;
            const FileSides f = CurrentFileSides();
            PendingFile file;
            file.name = CurrentCalibrationFileName(CalibrationNaming::New);
            file.layout = f.layout;
            for (int side : f.sides) {
                auto at = std::find(refs.sides.begin(), refs.sides.end(), side);
                if (at == refs.sides.end()) continue;
                file.sides.push_back(
                    ToFilePixels(refs.file[static_cast<std::size_t>(at - refs.sides.begin())],
                                 pixels, f.pixels, f.channels));
            }
            if (file.sides.size() == f.sides.size()) files->push_back(std::move(file));
        }
    }
}

KVXResult Eject() {
    for (int attempt = 0;; ++attempt) {
        KVXResult r = MoveScanner({.length = kEjectLines, .dpi = 300, .limitMs = kEjectLimitMs});
        if (r < 0 && r != KVX_ERR_TIMEOUT) return r;
        const std::uint32_t status = device::ReadStatus();
        if (status == 0) {
            LogText("device error while calibrating");
            return KVX_ERR_CALIBRATION;
        }
        if ((status & kSheetPresent) == 0) break;
        if (attempt >= kEjectRetries) {
            LogText("photocell not detecting end of calibration sheet. Is photocell working?");
            return KVX_ERR_CALIBRATION;
        }
    }
    const KVXResult r =
        MoveScanner({.length = kEjectMoreLines, .dpi = 300, .limitMs = kEjectMoreLimitMs});
    return r < 0 && r != KVX_ERR_TIMEOUT ? r : KVX_OK;
}

// Every mode's references, kept in memory until all of them are found, so
// that a failure leaves the files of the last good calibration.
KVXResult SheetCalibration(std::vector<PendingFile>* files) {
    std::vector<ModeReferences> modes;
    for (std::int32_t colour : {kColour, kGrey}) {
        if (!SetUpCalibrationMode(colour)) {
            LogText("error calibrating back level");
            return KVX_ERR_CALIBRATION;
        }
        ModeReferences refs;
        KVXResult r = BlackCalibration(colour, &refs);
        if (r != KVX_OK) {
            if (r == KVX_ERR_CALIBRATION) LogText("error calibrating back level");
            return r;
        }
        r = WhiteCalibration(&refs);
        if (r != KVX_OK) {
            if (r == KVX_ERR_CALIBRATION) LogText("error calibrating white");
            return r;
        }
        modes.push_back(std::move(refs));
    }
    const KVXResult ejected = Eject();
    if (ejected != KVX_OK) return ejected;
    for (const ModeReferences& refs : modes) {
        if (!SetUpCalibrationMode(refs.colour)) return KVX_ERR_CALIBRATION;
        AddFiles(refs, files);
    }
    return KVX_OK;
}

// The mode in force gets its references back, as it had them before.
void ReloadCurrentMode() {
    FreeImages();
    device::SetUpAcqMode(0);
    const ScanSettings& scan = Settings().scan;
    if (CreateCorrInfo(device::AcqMode().geometry, scan.backlightOn) == KVX_OK) LoadCalibration();
}

}  // namespace

KVXResult Calibrate() {
    if (device::Identity().alternative) return KVX_OK;
    if (StopRequested()) return KVX_ERR_ABORTED;
    if (RefuseWhileAnotherScanRuns()) return KVX_ERR_GENERIC;
    if (ADFThrClose() != KVX_OK) return KVX_ERR_TIMEOUT;
    CalibrationRecord& cal = Calibration();
    std::vector<PendingFile> files;
    KVXResult r = KVX_OK;
    {
        const KeptScanState kept;
        r = WaitForDocument({}, TakeAcqSettings());
        if (r == KVX_OK) {
            const CalibratingFlag calibrating;
            cal.cleaning.store(false);
            WriteCleaningRequired(false);
            r = SheetCalibration(&files);
            if (r == KVX_OK) {
                for (const PendingFile& f : files) {
                    r = WriteCalibrationFile(f.name, f.sides, f.layout);
                    if (r != KVX_OK) break;
                }
            }
        }
    }
    ForgetLoadedCalibration();
    ReloadCurrentMode();
    if (StopRequested()) return KVX_WAR_CANCELLED;
    if (r != KVX_OK) return r;
    if (cal.cleaning.load()) {
        if (cal.calibrated.load() && Settings().scan.checkEnable) {
            WriteCleaningRequired(true);
            return KVX_WAR_DIRTY;
        }
        if (!cal.calibrated.load()) cal.cleaning.store(false);
    }
    return KVX_OK;
}

KVXResult CheckCalibration() {
    // Every mode is described, not set: the settings in force stay as they
    // are for a background acquisition of the feeder that reads them.
    KVXResult r = KVX_OK;
    const bool rearCamera = device::Identity().capabilities.rearCamera;
    EepromCopy copy;
    for (std::int32_t colour : {kGrey, kColour}) {
        for (bool rearOff : {false, true}) {
            if (rearOff && !rearCamera) continue;
            for (std::int32_t type = 0; type < kDocumentTypes && r == KVX_OK; ++type) {
                const CalibrationSettings mode{.color = colour,
                                               .backlightOn = false,
                                               .rearOff = rearOff || !rearCamera,
                                               .cmc7Strip = false,
                                               .typeDoc = type};
                if (!LoadCalibration(LoadUse::Check, mode, &copy)) r = KVX_WAR_NO_CALIBRATION;
            }
        }
    }
    // The next acquisition loads its mode's file again.
    ForgetLoadedCalibration();
    Calibration().calibrated.store(r == KVX_OK);
    return r;
}

}  // namespace kovran::acquisition
