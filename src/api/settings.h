// The scan and OCR settings records, each held twice in the library: as the
// ini defaults read at load (Settings().scanIni, Settings().ocrIni) and as the
// current settings (Settings().scan, Settings().ocr) that operations read and
// parameters change. The current records are overwritten with the ini
// defaults at load and at every initialise.
//
// Where a key lives: ScanSettings holds everything about the device, the
// paper path, acquisition, images, the buzzer, the inkjet, image quality and
// the device tracing ("General", "Cleaning", "Image", "Immagine", "Buzer",
// "Inkjet2", "IQA", "Debug"). OcrSettings holds what the document reading
// uses ("Ocr" and "General"/"DeskewMicr", which only the MICR reading reads).
//
// Field names follow the ini keys. Section, key, default and rule of each
// field are in kIniKeys (api/ini_keys.h), which the load fills them from; a
// cleared record is all zero except the built-in values that a key can only
// replace.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kovran {

// The acquisition mode in force and what it fixes, written by the mode
// set-up (device/acq_mode.h). Part of the scan settings so that a refused
// mode or parameter puts the previous one back with the rest.
struct AcqModeSettings {
    std::uint8_t mode = 0;  // 0 to 7
    bool forced = false;    // the stored mode is used unchanged
    std::uint8_t colourChannels = 1;
    std::uint8_t channelLines = 1;  // colour channels + infrared + ultraviolet
    std::uint16_t resolutionCode = 0;
    std::uint16_t lineCode = 0;
    std::uint16_t lineMultiple = 1;  // heights are rounded up to it
    std::int16_t firstLineFront = 1;
    std::int16_t firstLineRear = 1;
    bool singleBuffer = true;  // front and rear arrive in one stream
    bool request25 = false;    // older acquisitions send request value 25
    // Rear dpiH, front dpiH, backlight dpiH, the larger dpiV of rear and front.
    std::array<std::uint16_t, 4> acquiredRes{};
};

struct ScanSettings {
    // ---- "General"
    bool enCntPages = false;
    bool fw3000 = false;
    bool swGlitchDetection = false;
    bool swNoiseDetection = false;
    bool autoMoveBack = false;
    bool sideAuto = false;
    bool forward = false;
    bool deskew = false;
    bool trim = false;
    bool trimExtended = false;  // "Trim" above 1
    bool sharp = false;
    std::int32_t msecWaitStart = 0;  // ms
    std::int32_t msecValLines = 0;
    std::uint8_t disAcqMode = 0;  // bit n disables acquisition mode n
    // The control transfer lock and completion time-outs: built in, and
    // replaced by "EP0SemaphoreTimeout" / "OvrlpdEventTimeout" above 0.
    std::uint32_t ep0SemaphoreTimeoutMs = 10000;
    std::uint32_t overlappedEventTimeoutMs = 10000;
    bool twoPart = false;
    bool adfAcq = false;
    std::int32_t maxHeight150 = 0;  // 0 means none
    bool nPageEn = false;
    bool doubleFeed = false;
    bool doubleFeedDelivery = false;
    std::int32_t doubleFeedCntMax = 0;
    std::int32_t doubleFeedBlackVe = 0;
    bool sequenceCheck = false;
    std::int32_t seqCheckMoveBackLines300 = 0;

    // ---- "Cleaning"
    bool checkEnable = false;
    bool checkCalibration = false;

    // ---- "Image" and "Immagine"
    bool removeBack = false;
    std::uint8_t borderThr = 0;
    std::uint8_t borderVal = 0;
    std::int32_t color = 0;
    std::int32_t pdfA = 0;
    std::int32_t pdfTitle = 0;  // "Immagine"
    std::int32_t pdfAFull = 0;  // this port's complete PDF/A-1b form

    // ---- "Buzer": tones, and durations in ms
    std::uint8_t valDouble = 0;  // double feed
    std::uint32_t mSecDouble = 0;
    std::uint8_t valNR = 0;  // codeline not read
    std::uint32_t mSecNR = 0;
    std::uint8_t valNoCld = 0;  // document without codeline
    std::uint32_t mSecNoCld = 0;

    // ---- "Inkjet2"
    std::int32_t msecWarmTot = 0;
    std::int32_t msecWarmDelta = 0;
    std::uint8_t grayLev = 0;

    // ---- "IQA" (F front, R rear, B backlight; sizes in KB of 1024 bytes)
    bool iqaActive = false;
    std::int32_t iqaErrLev = 0;
    std::int32_t kbMinF = 0;
    std::int32_t kbMinR = 0;
    std::int32_t kbMinB = 0;
    std::int32_t kbMaxF = 0;
    std::int32_t kbMaxR = 0;
    std::int32_t kbMaxB = 0;
    std::int32_t qualityF = 0;
    std::int32_t qualityR = 0;
    std::int32_t qualityB = 0;

    // ---- "Debug"
    bool statusIn = false;   // log each raw status word
    bool statusOut = false;  // log each status word returned
    bool glitch = false;

    // ---- Run-time values without an ini key: parameters, the sides of the
    // scan and the acquisition mode. The ini-default copy holds their
    // defaults, so an initialise restores them too.
    std::uint8_t bwThreshold = 0;     // parameters 5 and 6
    std::uint8_t parameter6Byte = 0;  // what parameter 6 reads; nothing sets it
    std::int32_t barcodeTypes = -2;   // parameter 16; -2: none
    bool backlightOn = false;
    bool frontOff = false;
    bool rearOff = false;
    bool adfContinuous = false;                 // parameter 30
    std::int32_t msecWaitDoc = 10000;           // parameter 100
    std::int32_t msecMagstripeTimeout = 10000;  // parameter 101
    std::int32_t secAcqTimeout = 60;            // parameter 103
    std::int32_t msecAcqTimeoutExtra = 0;       // cleared by parameter 103
    bool correct = true;                        // parameter 1001
    AcqModeSettings acq;
};

struct OcrSettings {
    bool deskewMicr = false;  // "General"

    // ---- "Ocr"
    bool cmc7SaveImg = false;
    std::string cmc7ImgDir;  // with cmc7SaveImg: where CMC7 images go (ends in '/')
    std::int32_t checkIdExtended = 0;
    std::int32_t typeDoc = 0;
    std::int32_t typeDocCmc7 = 0;
    std::int32_t typeDocMicroperforation = 0;
    bool cdlTxt = false;
    bool barcodeMirror = false;
    std::int32_t e13bMapping = 0;
    bool debugImg = false;          // only with a configuration directory
    std::string debugImgPath;       // with debugImg on
    std::int32_t debugImgDays = 0;  // negative: no purge
    bool cdlImg = false;
    bool cdlImgDate = false;
    bool cdlMicr = false;
    bool onlyMicr = false;
    std::uint8_t cmc7Thr = 0;
    std::uint8_t e13bThr = 0;
};

// Both records twice: as read from the ini file and as in force.
struct SettingsRecord {
    ScanSettings scanIni;
    ScanSettings scan;
    OcrSettings ocrIni;
    OcrSettings ocr;
};
SettingsRecord& Settings();

}  // namespace kovran
