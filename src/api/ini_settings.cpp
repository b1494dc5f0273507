#include "api/ini_settings.h"
#include "api/names.h"
#include "api/settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "api/config_dir.h"
#include "api/debug_dirs.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/profile.h"

namespace kovran {

SettingsRecord& Settings() {
    return lib().Get<SettingsRecord>();
}
namespace {

const std::string& IniPath() {
    return Names().iniPath;
}

int Number(const char* section, const char* key, const char* def) {
    return platform::GetProfileNumber(section, key, def, IniPath());
}

bool Flag(const char* section, const char* key, const char* def) {
    return Number(section, key, def) > 0;
}

std::uint8_t Clamp(int value, int low, int high) {
    return static_cast<std::uint8_t>(std::clamp(value, low, high));
}

int NonNegative(int value) {
    return value < 0 ? 0 : value;
}

// A threshold kept inside low..99 (100 or more becomes 99).
std::uint8_t Threshold(int value, int low) {
    return Clamp(value, low, 99);
}

void ReadGeneral(ScanSettings& s) {
    const char* g = "General";
    s.enCntPages = Flag(g, "EnCntPages", "1");
    s.fw3000 = Flag(g, "fw3000", "1");
    s.swGlitchDetection = Flag(g, "SWGlitchDetection", "0");
    if (s.swGlitchDetection) LogText("with SW glitch detection");
    s.swNoiseDetection = Flag(g, "SWNoiseDetection", "0");
    if (s.swNoiseDetection) LogText("with SW noise detection");
    s.autoMoveBack = Flag(g, "AutoMoveBack", "0");
    s.sideAuto = Flag(g, "SideAuto", "0");
    s.forward = Flag(g, "forward", "1");
    s.deskew = Flag(g, "Deskew", "1");
    const int trim = Number(g, "Trim", "1");
    s.trim = trim > 0;
    s.trimExtended = trim > 1;
    s.sharp = Flag(g, "Sharp", "0");
    s.msecWaitStart = Number(g, "msecWaitStart", "0");
    s.msecValLines = Number(g, "msecValLines", "1");
    const int disabled = Number(g, "DisAcqMode", "0");
    s.disAcqMode = (disabled < 0 || disabled > 255) ? 0 : static_cast<std::uint8_t>(disabled);
    const int ep0 = Number(g, "EP0SemaphoreTimeout", "0");
    if (ep0 > 0) {
        s.ep0SemaphoreTimeoutMs = static_cast<std::uint32_t>(ep0);
        LogValue("EP0SemaphoreTimeout", ep0);
    }
    const int overlapped = Number(g, "OvrlpdEventTimeout", "0");
    if (overlapped > 0) {
        s.overlappedEventTimeoutMs = static_cast<std::uint32_t>(overlapped);
        LogValue("OvrlpdEventTimeout", overlapped);
    }
    s.twoPart = Flag(g, "TwoPart", "0");
    s.adfAcq = Flag(g, "ADFAcq", "0");
    s.maxHeight150 = NonNegative(Number(g, "MaxHeight150", "0"));
    s.nPageEn = Flag(g, "nPageEn", "1");
    const int doubleFeed = Number(g, "DoubleFeed", "1");
    s.doubleFeed = doubleFeed > 0;
    s.doubleFeedDelivery = Flag(g, "DoubleFeedDelivery", std::to_string(doubleFeed).c_str());
    const int cntMax = Number(g, "DoubleFeedCntMax", "450");
    s.doubleFeedCntMax = cntMax <= 9 ? 10 : cntMax;
    s.doubleFeedBlackVe = Number(g, "DoubleFeedBlackVe", "-1");
    s.sequenceCheck = Flag(g, "SequenceCheck", "1");
    s.seqCheckMoveBackLines300 = NonNegative(Number(g, "SeqCheckMoveBackLines300", "0"));
}

void ReadCleaningImageBuzzer(ScanSettings& s) {
    s.checkEnable = Flag("Cleaning", "CheckEnable", "1");
    s.checkCalibration = Flag("Cleaning", "CheckCalibration", "1");

    s.removeBack = Flag("Image", "RemoveBack", "1");
    s.borderThr = Clamp(Number("Image", "BorderThr", "0"), 0, 255);
    s.borderVal = Clamp(Number("Image", "BorderVal", "0"), 0, 255);
    s.color = Number("Image", "Color", "1");

    const char* b = "Buzer";
    s.valDouble = Clamp(Number(b, "ValDouble", "200"), 0, 255);
    s.mSecDouble = static_cast<std::uint32_t>(NonNegative(Number(b, "MSecDouble", "1200")));
    s.valNR = Clamp(Number(b, "ValNR", "100"), 0, 255);
    s.mSecNR = static_cast<std::uint32_t>(NonNegative(Number(b, "MSecNR", "600")));
    s.valNoCld = Clamp(Number(b, "ValNoCld", "50"), 0, 255);
    s.mSecNoCld = static_cast<std::uint32_t>(NonNegative(Number(b, "MSecNoCld", "200")));
}

// A document type that differs from its usual value is worth a line: the
// administrator changed how every cheque is read.
int DocumentType(const char* key, const char* def, int usual, const char* message) {
    const int value = Number("Ocr", key, def);
    if (value != usual) LogValue(message, value);
    return value;
}

void ReadOcr(OcrSettings& o) {
    const char* s = "Ocr";
    o.cmc7SaveImg = Flag(s, "CMC7SaveImg", "0");
    if (o.cmc7SaveImg) o.cmc7ImgDir = PrepareCmc7ImageDir();
    o.checkIdExtended = Number(s, "CheckIdExtended", "60");
    if (o.checkIdExtended != 60) {
        char text[64];
        std::snprintf(text, sizeof text, "looking for beneficiary and ammount on 0x%04x",
                      static_cast<unsigned>(o.checkIdExtended));
        LogText(text);
    }
    o.typeDoc = DocumentType("typeDoc", "1", 1, "ini forces typeDoc to ");
    o.typeDocCmc7 = DocumentType("typeDocCMC7", "1", 1, "ini forces typeDoc for CMC7 to ");
    o.typeDocMicroperforation = DocumentType("typeDocMICROPERFORATION", "3", 3,
                                             "ini forces typeDoc for MICROPERFORATION to ");
    o.cdlTxt = Flag(s, "CdlTxt", "0");
    o.barcodeMirror = Flag(s, "BarcodeMirror", "0");
    LogText(o.barcodeMirror ? "Mirrored barcode enabled" : "Mirrored barcode disabled");
    o.e13bMapping = Number(s, "E13BMapping", "0");
    const ConfigState& cfg = Config();
    o.debugImg = cfg.valid && !cfg.dir.empty() && Flag(s, "DebugImg", "0");
    if (o.debugImg) o.debugImgPath = PrepareDebugImageDir();
    o.debugImgDays = Number(s, "DebugImgDays", "0");
    if (o.debugImg) PurgeDebugImages(o.debugImgPath, o.debugImgDays);
    o.cdlImg = Flag(s, "CdlImg", "0");
    o.cdlImgDate = Flag(s, "CdlImgDate", "0");
    o.cdlMicr = Flag(s, "CdlMICR", "0");
    o.onlyMicr = Flag(s, "onlyMICR", "0");
    o.cmc7Thr = Threshold(Number(s, "CMC7Thr", "80"), 80);
    o.e13bThr = Threshold(Number(s, "E13BThr", "40"), 40);
}

void ReadInkjetIqaDebug(ScanSettings& s) {
    s.msecWarmTot = Number("Inkjet2", "msecWarmTot", "0");
    s.msecWarmDelta = Number("Inkjet2", "msecWarmDelta", "0");
    s.grayLev = Clamp(Number("Inkjet2", "grayLev", "10"), 1, 255);

    const char* q = "IQA";
    s.iqaActive = Flag(q, "Active", "1");
    s.iqaErrLev = Number(q, "ErrLev", "1");
    s.kbMinF = Number(q, "KB_MinF", "60");
    s.kbMinR = Number(q, "KB_MinR", "40");
    s.kbMinB = Number(q, "KB_MinB", "40");
    s.kbMaxF = Number(q, "KB_MaxF", "230");
    s.kbMaxR = Number(q, "KB_MaxR", "170");
    s.kbMaxB = Number(q, "KB_MaxB", "170");
    s.qualityF = Number(q, "QualityF", "20");
    s.qualityR = Number(q, "QualityR", "20");
    s.qualityB = Number(q, "QualityB", "20");

    s.statusIn = Flag("Debug", "statusIn", "0");
    s.statusOut = Flag("Debug", "statusOut", "0");
    s.glitch = Flag("Debug", "glitch", "0");
    if (s.glitch) LogText("glitch debug");
}

int LedLevel(const char* key, const char* def) {
    return std::clamp(Number("BackLight", key, def), 0, 255);
}

}  // namespace

void ReadIniSettings() {
    ScanSettings& scan = Settings().scanIni;
    OcrSettings& ocr = Settings().ocrIni;
    ReadGeneral(scan);
    ReadCleaningImageBuzzer(scan);
    ocr.deskewMicr = Flag("General", "DeskewMicr", "0");
    ReadOcr(ocr);
    ReadInkjetIqaDebug(scan);
    scan.pdfA = NonNegative(Number("Image", "pdfA", "1"));
    scan.pdfTitle = NonNegative(Number("Immagine", "pdfTitle", "1"));
}

void CopyIniDefaultsToCurrent() {
    SettingsRecord& s = Settings();
    s.scan = s.scanIni;
    s.ocr = s.ocrIni;
}

std::string DbDirectory() {
    std::string dir = platform::GetProfileString("OCR", "DBDir", "", IniPath());
    if (!dir.empty())
        LogPair("changing DBDir", dir.c_str());
    else
        dir = Config().dir;
    if (!dir.empty() && !IsPathSeparator(dir.back())) dir += '/';
    return dir;
}

std::optional<int> IniH150Dpi() {
    std::string text = platform::GetProfileString("Image", "h_150_dpi", "", IniPath());
    if (text.empty()) return std::nullopt;
    const int value = platform::ParseDecimal(text);
    if (value < 0) return std::nullopt;
    return value;
}

int IniAutoquality() {
    return Number("Image", "Autoquality", "30");
}
int IniRotAuto() {
    return Number("Ocr", "rotAuto", "0");
}
bool IniAdfDisabled() {
    return Flag("ADF", "disable", "0");
}
int IniLedLevIRRGB() {
    return LedLevel("LedLevIRRGB", "150");
}
int IniLedLevIRGray() {
    return LedLevel("LedLevIRGray", "150");
}
int IniLedLevUVRGB() {
    return LedLevel("LedLevUVRGB", "254");
}
int IniLedLevUVGray() {
    return LedLevel("LedLevUVGray", "254");
}
int IniFreccia01() {
    return Number("Patch", "Freccia01", "0");
}

}  // namespace kovran
