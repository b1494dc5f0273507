// The scan and OCR settings records, each held twice in the library: as the
// ini defaults read at load (Settings().scanIni, Settings().ocrIni) and as the current
// settings (Settings().scan, Settings().ocr) that operations read and parameters
// change. The current records are overwritten with the ini defaults at load
// and at every initialise.
//
// Where a key lives: ScanSettings holds everything about the device, the
// paper path, acquisition, images, the buzzer, the inkjet, image quality and
// the device tracing ("General", "Cleaning", "Image", "Immagine", "Buzer",
// "Inkjet2", "IQA", "Debug"). OcrSettings holds what the document reading
// uses ("Ocr" and "General"/"DeskewMicr", which only the MICR reading reads).
// Field names follow the ini keys; the comment gives section, key, default
// and the rule applied when the value is read.
#pragma once

#include <cstdint>
#include <string>

namespace kovran {

struct ScanSettings {
    // ---- "General"
    bool enCntPages = true;          // "EnCntPages" 1
    bool fw3000 = true;              // "fw3000" 1
    bool swGlitchDetection = false;  // "SWGlitchDetection" 0
    bool swNoiseDetection = false;   // "SWNoiseDetection" 0
    bool autoMoveBack = false;       // "AutoMoveBack" 0
    bool sideAuto = false;           // "SideAuto" 0
    bool forward = true;             // "forward" 1
    bool deskew = true;              // "Deskew" 1
    bool trim = true;                // "Trim" 1
    bool trimExtended = false;       // "Trim" above 1
    bool sharp = false;              // "Sharp" 0
    std::int32_t msecWaitStart = 0;  // "msecWaitStart" 0, ms
    std::int32_t msecValLines = 1;   // "msecValLines" 1
    std::uint8_t disAcqMode = 0;     // "DisAcqMode" 0; bit n disables mode n; out of 0..255 is 0
    // "EP0SemaphoreTimeout" / "OvrlpdEventTimeout": a value above 0 replaces
    // the built-in 10000 ms.
    std::uint32_t ep0SemaphoreTimeoutMs = 10000;
    std::uint32_t overlappedEventTimeoutMs = 10000;
    bool twoPart = false;                 // "TwoPart" 0
    bool adfAcq = false;                  // "ADFAcq" 0
    std::int32_t maxHeight150 = 0;        // "MaxHeight150" 0; 0 (also for <= 0) means none
    bool nPageEn = true;                  // "nPageEn" 1
    bool doubleFeed = true;               // "DoubleFeed" 1
    bool doubleFeedDelivery = true;       // "DoubleFeedDelivery", default the "DoubleFeed" value
    std::int32_t doubleFeedCntMax = 450;  // "DoubleFeedCntMax" 450; 9 or less becomes 10
    std::int32_t doubleFeedBlackVe = -1;  // "DoubleFeedBlackVe" -1
    bool sequenceCheck = true;            // "SequenceCheck" 1
    std::int32_t seqCheckMoveBackLines300 = 0;  // "SeqCheckMoveBackLines300" 0; negative is 0

    // ---- "Cleaning"
    bool checkEnable = true;       // "CheckEnable" 1
    bool checkCalibration = true;  // "CheckCalibration" 1

    // ---- "Image" and "Immagine"
    bool removeBack = true;      // "Image"/"RemoveBack" 1
    std::uint8_t borderThr = 0;  // "Image"/"BorderThr" 0, clamped to 0..255
    std::uint8_t borderVal = 0;  // "Image"/"BorderVal" 0, clamped to 0..255
    std::int32_t color = 1;      // "Image"/"Color" 1
    std::int32_t pdfA = 1;       // "Image"/"pdfA" 1; negative is 0
    std::int32_t pdfTitle = 1;   // "Immagine"/"pdfTitle" 1; negative is 0

    // ---- "Buzer": tones clamped to 0..255, durations in ms (negative is 0)
    std::uint8_t valDouble = 200;     // "ValDouble": double feed
    std::uint32_t mSecDouble = 1200;  // "MSecDouble"
    std::uint8_t valNR = 100;         // "ValNR": codeline not read
    std::uint32_t mSecNR = 600;       // "MSecNR"
    std::uint8_t valNoCld = 50;       // "ValNoCld": document without codeline
    std::uint32_t mSecNoCld = 200;    // "MSecNoCld"

    // ---- "Inkjet2"
    std::int32_t msecWarmTot = 0;    // "msecWarmTot" 0
    std::int32_t msecWarmDelta = 0;  // "msecWarmDelta" 0
    std::uint8_t grayLev = 10;       // "grayLev" 10, clamped to 1..255

    // ---- "IQA" (F front, R rear, B backlight; sizes in KB of 1024 bytes)
    bool iqaActive = true;       // "Active" 1
    std::int32_t iqaErrLev = 1;  // "ErrLev" 1
    std::int32_t kbMinF = 60;    // "KB_MinF"
    std::int32_t kbMinR = 40;    // "KB_MinR"
    std::int32_t kbMinB = 40;    // "KB_MinB"
    std::int32_t kbMaxF = 230;   // "KB_MaxF"
    std::int32_t kbMaxR = 170;   // "KB_MaxR"
    std::int32_t kbMaxB = 170;   // "KB_MaxB"
    std::int32_t qualityF = 20;  // "QualityF"
    std::int32_t qualityR = 20;  // "QualityR"
    std::int32_t qualityB = 20;  // "QualityB"

    // ---- "Debug"
    bool statusIn = false;   // "statusIn" 0: log each raw status word
    bool statusOut = false;  // "statusOut" 0: log each status word returned
    bool glitch = false;     // "glitch" 0
};

struct OcrSettings {
    bool deskewMicr = false;  // "General"/"DeskewMicr" 0

    // ---- "Ocr"
    bool cmc7SaveImg = false;           // "CMC7SaveImg" 0
    std::string cmc7ImgDir;             // with cmc7SaveImg: where CMC7 images go (ends in '/')
    std::int32_t checkIdExtended = 60;  // "CheckIdExtended" 60
    std::int32_t typeDoc = 1;           // "typeDoc" 1
    std::int32_t typeDocCmc7 = 1;       // "typeDocCMC7" 1
    std::int32_t typeDocMicroperforation = 3;  // "typeDocMICROPERFORATION" 3
    bool cdlTxt = false;                       // "CdlTxt" 0
    bool barcodeMirror = false;                // "BarcodeMirror" 0
    std::int32_t e13bMapping = 0;              // "E13BMapping" 0
    bool debugImg = false;                     // "DebugImg" 0 (only with a configuration directory)
    std::string debugImgPath;       // "DebugImgPath" (default <dir>/Img/), with debugImg on
    std::int32_t debugImgDays = 0;  // "DebugImgDays" 0; negative: no purge
    bool cdlImg = false;            // "CdlImg" 0
    bool cdlImgDate = false;        // "CdlImgDate" 0
    bool cdlMicr = false;           // "CdlMICR" 0
    bool onlyMicr = false;          // "onlyMICR" 0
    std::uint8_t cmc7Thr = 80;      // "CMC7Thr" 80, kept in 80..99
    std::uint8_t e13bThr = 40;      // "E13BThr" 40, kept in 40..99
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
