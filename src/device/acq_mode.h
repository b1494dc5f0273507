// The acquisition modes: the scanner acquires only in a handful of fixed
// modes per firmware family (a horizontal resolution, a line rate and the
// colour conditions). The set-up chooses the mode for what the host asked
// (or takes the one the host forced), checks it against the family and the
// disabled modes, and derives the geometry of the three image records.
//
// The image records themselves belong to the acquisition layer above; the
// set-up reaches them through the hooks the composition root installs.
#pragma once

#include <array>
#include <cstdint>

#include "KovranMS.h"
#include "api/settings.h"
#include "device/device_record.h"

namespace kovran {

// Sides, as the image records are indexed.
inline constexpr int kRear = 0;
inline constexpr int kFront = 1;
inline constexpr int kBacklight = 2;

// What kind of scan the set-up is for: reading requirements count only for
// ordinary scans.
enum class ScanKind : std::uint8_t { Ordinary, Calibration, Movement };

// What the reading of a scan needs from one side.
struct ReadingNeed {
    std::uint16_t dpiH = 0;      // horizontal resolution
    std::uint16_t lineRate = 0;  // lines per inch of paper
};

// What a scan asks of the mode set-up (written by the image creation and
// the scan, read by the chooser).
struct AcqRequest {
    std::array<std::int16_t, 3> requestedDpi{300, 300, 0};  // rear, front, backlight
    std::array<ReadingNeed, 3> readingNeeds{};
    bool cmc7Strip = false;  // magnetic head samples come with the lines
    ScanKind kind = ScanKind::Ordinary;
};

// One image record's geometry as the mode gives it.
struct SideGeometry {
    std::uint8_t side = 0;
    std::uint8_t bytesPerPixel = 1;
    std::uint8_t channels = 1;
    std::int16_t top = 0;
    std::int16_t left = 0;
    std::uint16_t width = 0;
    std::uint16_t sensorPixels = 0;
    std::uint16_t channelPitch = 0;
    std::uint16_t stride = 0;
    std::uint16_t dpiH = 0;
    std::uint16_t dpiV = 0;
    std::int16_t top0 = 0;
    std::int16_t left0 = 0;
    std::uint16_t width0 = 0;
    std::uint16_t right = 0;
};

// One flag per mode: set means the mode is not used.
using DisabledModes = std::array<bool, 8>;

struct AcqModeRecord {
    AcqRequest request;
    std::array<SideGeometry, 3> geometry{};  // rear, front, backlight
    DisabledModes disabled{};                // of the last main-family set-up
    std::uint16_t magneticRatio = 0;         // magnetic samples per channel line
    std::uint16_t stripBytes = 0;            // strip bytes per scan line
};

// Called up into the image records; installed by the composition root.
// Without hooks (tests of this layer) the set-up stops at the geometry.
struct ImageHooks {
    // The second part of a two-part scan: returns true when the set-up ends
    // there, with *ok its outcome. Outside one, clears a stale flag.
    bool (*secondPart)(int height, bool* ok) = nullptr;
    // True (and logged) while a scan of another thread uses the images: a
    // set-up would replace them under it, so it is refused.
    bool (*imagesInUse)() = nullptr;
    // The stamp's print data, when a stamp is pending and a height given.
    bool (*prepareStamp)() = nullptr;
    // Frees every image buffer of both record sets and the CMC7 buffer and
    // clears the records.
    void (*freeImages)() = nullptr;
    // The same, and the memory kept for the next images given back too
    // (the device is closed).
    void (*releaseImages)() = nullptr;
    // Geometry into the records, margins and heights, InitMyImg and
    // SetImgSize; the outcome of InitMyImg.
    bool (*buildImages)(int height) = nullptr;
    // The image state of the device just opened: the default longest
    // document and the default codeline side and its opposite.
    void (*openDefaults)() = nullptr;
};
void InstallImageHooks(const ImageHooks& hooks);
ImageHooks InstalledImageHooks();

namespace device {

AcqModeRecord& AcqMode();

// The mode for the initialise and the image creation.
int DefaultAcqMode();

// The set-up proper: chooses (unless forced) and validates the mode, fills
// the geometry and, through the hooks, the image records. height 0 sets up
// the geometry only.
bool SetUpAcqMode(int height);

// Stores `mode` when forced, sets up, and on failure puts the whole scan
// settings back.
bool SetAcqMode(int height, int mode);

// Parameter 1000: 0 to 7 force a mode, 8 chooses automatically. Returns a
// result code (also left as the last result).
KVXResult SetAcqModeParameter(std::uint16_t value);

// ---- The pieces, for the set-up and its tests ---------------------------

// The scan's colour as the settings give it.
struct ColourRequest {
    bool colour = false;
    bool infrared = false;
    bool ultraviolet = false;
};
ColourRequest ColourOf(std::int32_t colorSetting);

// Everything the choosers and tables read, gathered once per set-up.
struct ModeInputs {
    DeviceIdentity id;
    ScanSettings scan;
    AcqRequest request;
    bool slowAcquisition = false;
    int triedMode = 0;  // the mode the table last looked at (for the log)
};
ModeInputs CurrentModeInputs();

// The disabled-mode flags of the main family.
DisabledModes MainDisabledModes(const ModeInputs& in);
// The PID 11 flags; *allDisabled when every PID 11 mode is masked.
DisabledModes Pid11DisabledModes(const ModeInputs& in, bool* allDisabled);

// The colour setting checked and applied through the set-up with height 0;
// a refusal puts every setting back. KVX_OK or the refusal's result.
KVXResult ApplyColour(std::int32_t value);

// The default mode of a firmware version; *unsupported for the versions
// this software cannot drive.
int DefaultModeFor(const DeviceIdentity& id, bool colour, bool* unsupported);
void LogUnsupportedVersion(std::uint16_t firmware);

// The chooser of the device's family.
int ChooseAcqMode(const ModeInputs& in);

// The family's mode table: validates `mode`, fills settings.acq and the
// geometry. Returns KVX_OK, KVX_ERR_INV_PARAMETER (mode refused) or the
// version failure.
KVXResult RunModeTable(ModeInputs& in, int mode, AcqModeRecord& out);

}  // namespace device
}  // namespace kovran
