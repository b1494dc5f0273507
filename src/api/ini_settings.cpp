#include "api/ini_settings.h"
#include "api/names.h"
#include "api/settings.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>

#include "api/config_dir.h"
#include "api/debug_dirs.h"
#include "api/ini_keys.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/profile.h"

namespace kovran {

SettingsRecord& Settings() {
    return lib().Get<SettingsRecord>();
}
namespace {

// The row of another key of the same section (a default taken from it).
const IniKey& RowOf(std::string_view section, std::string_view key) {
    for (const IniKey& k : kIniKeys) {
        if (k.reader == IniReader::Load && k.section == section && k.key == key) return k;
    }
    throw std::logic_error("kIniKeys: no load-time key " + std::string(key));
}

int RawNumber(const IniKey& k, std::string_view def) {
    return platform::GetProfileNumber(k.section, k.key, def, Names().iniPath);
}

std::string DefaultText(const IniKey& k) {
    if (k.defaultFrom.empty()) return std::string(k.def);
    const IniKey& from = RowOf(k.section, k.defaultFrom);
    return std::to_string(RawNumber(from, from.def));
}

void LogFor(const IniKey& k, std::optional<int> value) {
    switch (k.log) {
        case IniLog::None:
            return;
        case IniLog::TextWhenOn:
            if (value.value_or(0) != 0) LogText(k.message);
            return;
        case IniLog::ValueWhenSet:
            if (value) LogValue(k.message, *value);
            return;
        case IniLog::ValueUnlessDefault:
            if (value && *value != platform::ParseDecimal(k.def)) LogValue(k.message, *value);
            return;
        case IniLog::FormatUnlessDefault:
            if (value && *value != platform::ParseDecimal(k.def)) {
                char text[128];
                std::snprintf(text, sizeof text, k.message, static_cast<unsigned>(*value));
                LogText(text);
            }
            return;
        case IniLog::OnOrOff:
            LogText(value.value_or(0) != 0 ? k.message : k.messageOff);
            return;
    }
}

void RunStep(IniStep step, OcrSettings& ocr) {
    switch (step) {
        case IniStep::None:
            return;
        case IniStep::Cmc7ImageDir:
            if (!ocr.cmc7SaveImg) return;
            ocr.cmc7ImgDir = PrepareCmc7ImageDir();
            // Nowhere private to put them: codeline images carry account
            // numbers, so they are not saved at all.
            if (ocr.cmc7ImgDir.empty()) ocr.cmc7SaveImg = false;
            return;
        case IniStep::DebugImageDir:
            if (ocr.debugImg) ocr.debugImgPath = PrepareDebugImageDir();
            return;
        case IniStep::PurgeDebugImages:
            if (ocr.debugImg) PurgeDebugImages(ocr.debugImgPath, ocr.debugImgDays);
            return;
    }
}

bool HasConfigDir() {
    const ConfigState& cfg = Config();
    return cfg.valid && !cfg.dir.empty();
}

void ReadKey(const IniKey& k, SettingsRecord& settings) {
    std::optional<int> value;
    // Debug images go below the configuration directory; without one the
    // key is not even read.
    if (k.step == IniStep::DebugImageDir && !HasConfigDir())
        value = 0;
    else
        value = IniValue(k, RawNumber(k, DefaultText(k)));
    if (value) k.store(settings, *value);
    LogFor(k, value);
    RunStep(k.step, settings.ocrIni);
}

}  // namespace

void ReadIniSettings() {
    SettingsRecord& settings = Settings();
    for (const IniKey& k : kIniKeys) {
        if (k.reader == IniReader::Load) ReadKey(k, settings);
    }
}

void CopyIniDefaultsToCurrent() {
    SettingsRecord& s = Settings();
    s.scan = s.scanIni;
    s.ocr = s.ocrIni;
}

std::string DbDirectory() {
    std::string dir = ReadIniText(IniKeyOf("OCR", "DBDir"));
    if (!dir.empty())
        LogPair("changing DBDir", dir.c_str());
    else
        dir = Config().dir;
    if (!dir.empty() && !IsPathSeparator(dir.back())) dir += '/';
    return dir;
}

std::optional<int> IniH150Dpi() {
    std::string text = ReadIniText(IniKeyOf("Image", "h_150_dpi"));
    if (text.empty()) return std::nullopt;
    const int value = platform::ParseDecimal(text);
    if (value < 0) return std::nullopt;
    return value;
}

int IniAutoquality() {
    return ReadIniNumber(IniKeyOf("Image", "Autoquality"));
}
int IniRotAuto() {
    return ReadIniNumber(IniKeyOf("Ocr", "rotAuto"));
}
bool IniAdfDisabled() {
    return ReadIniNumber(IniKeyOf("ADF", "disable")) != 0;
}
int IniLedLevIRRGB() {
    return ReadIniNumber(IniKeyOf("BackLight", "LedLevIRRGB"));
}
int IniLedLevIRGray() {
    return ReadIniNumber(IniKeyOf("BackLight", "LedLevIRGray"));
}
int IniLedLevUVRGB() {
    return ReadIniNumber(IniKeyOf("BackLight", "LedLevUVRGB"));
}
int IniLedLevUVGray() {
    return ReadIniNumber(IniKeyOf("BackLight", "LedLevUVGray"));
}
int IniFreccia01() {
    return ReadIniNumber(IniKeyOf("Patch", "Freccia01"));
}

}  // namespace kovran
