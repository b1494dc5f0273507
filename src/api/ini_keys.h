// The keys of KOVRANMS.ini, one row each: section, key, default text, the
// rule that turns the text into a value, the settings field it fills and
// the log line it asks for. The load-time reader walks the rows in order,
// the getters of the keys read when used look their row up, and the tests
// check every row against the values they expect.
//
// The order of the load-time rows is the reading order, and so the order of
// the lines they log: "General", "Cleaning", "Image", "Buzer",
// "General"/"DeskewMicr", "Ocr", "Inkjet2", "IQA", "Debug", the PDF keys.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "api/settings.h"

namespace kovran {

// How the text of a key becomes a value. Numbers are read as the C
// runtime's atoi reads them: text that is not a number is 0.
enum class IniRule : std::uint8_t {
    Flag,      // 1 when the number is above `low` (0 for a plain flag), else 0
    Number,    // the number as read
    Clamp,     // the number kept inside low..high
    ByteMask,  // the number when inside 0..255, else 0
    Override,  // a number above 0 replaces the field's built-in value; else it stays
    Text,      // text, read by the code that uses it
};

// Who reads the key.
enum class IniReader : std::uint8_t {
    Load,  // the load-time reader, in table order, into the ini defaults
    User,  // the code that uses it: each time, or at a step of its own
};

// The line a key asks for when it is read at load.
enum class IniLog : std::uint8_t {
    None,
    TextWhenOn,           // `message` when the value is not 0
    ValueWhenSet,         // `message` with the value, when an Override key replaced the built-in
    ValueUnlessDefault,   // `message` with the value, when it differs from the default
    FormatUnlessDefault,  // `message` as a format of the value, when it differs from the default
    OnOrOff,              // `message` when on, `messageOff` when off
};

// What the reader does beside storing the value.
enum class IniStep : std::uint8_t {
    None,
    // With the flag on, the CMC7 image directory is prepared.
    Cmc7ImageDir,
    // Read only when there is a configuration directory; with the flag on,
    // the debug image directory is prepared.
    DebugImageDir,
    // With debug images on, old ones are purged (the value is the days).
    PurgeDebugImages,
};

// Stores a value, already passed through its rule, into a field of the
// ini-default records.
using IniStore = void (*)(SettingsRecord& settings, int value);

template <typename Record>
Record& IniDefaultsOf(SettingsRecord& settings) {
    if constexpr (std::is_same_v<Record, ScanSettings>)
        return settings.scanIni;
    else
        return settings.ocrIni;
}

template <typename T>
struct IniMember;
template <typename Record, typename Value>
struct IniMember<Value Record::*> {
    using RecordType = Record;
    using ValueType = Value;
};

// The store of one field: Into<&ScanSettings::fw3000>.
template <auto kMember>
void Into(SettingsRecord& settings, int value) {
    using Member = IniMember<decltype(kMember)>;
    IniDefaultsOf<typename Member::RecordType>(settings).*kMember =
        static_cast<typename Member::ValueType>(value);
}

struct IniKey {
    std::string_view section{};
    std::string_view key{};
    std::string_view def{};  // the default text (see defaultFrom)
    IniRule rule = IniRule::Number;
    int low = 0;   // Flag: the threshold; Clamp: the lowest value
    int high = 0;  // Clamp: the highest value
    IniStore store = nullptr;
    IniReader reader = IniReader::Load;
    IniLog log = IniLog::None;
    const char* message = nullptr;
    const char* messageOff = nullptr;
    // When not empty: the default is the number read for that key of the
    // same section (which comes earlier in the table).
    std::string_view defaultFrom{};
    IniStep step = IniStep::None;

    constexpr IniKey Logs(IniLog kind, const char* text, const char* textOff = nullptr) const {
        IniKey k = *this;
        k.log = kind;
        k.message = text;
        k.messageOff = textOff;
        return k;
    }
    constexpr IniKey DefaultsTo(std::string_view otherKey) const {
        IniKey k = *this;
        k.defaultFrom = otherKey;
        return k;
    }
    constexpr IniKey Then(IniStep s) const {
        IniKey k = *this;
        k.step = s;
        return k;
    }
};

// The words the table is written in.
namespace ini_row {

constexpr IniKey Row(IniRule rule, std::string_view section, std::string_view key,
                     std::string_view def, IniStore store, int low = 0, int high = 0) {
    return {.section = section,
            .key = key,
            .def = def,
            .rule = rule,
            .low = low,
            .high = high,
            .store = store};
}
constexpr IniKey Flag(std::string_view section, std::string_view key, std::string_view def,
                      IniStore store) {
    return Row(IniRule::Flag, section, key, def, store);
}
// A flag that needs more than 1: "Trim" above 1 is the extended trim.
constexpr IniKey FlagAbove(std::string_view section, std::string_view key, std::string_view def,
                           int threshold, IniStore store) {
    return Row(IniRule::Flag, section, key, def, store, threshold);
}
constexpr IniKey Number(std::string_view section, std::string_view key, std::string_view def,
                        IniStore store) {
    return Row(IniRule::Number, section, key, def, store);
}
constexpr IniKey Clamped(std::string_view section, std::string_view key, std::string_view def,
                         int low, int high, IniStore store) {
    return Row(IniRule::Clamp, section, key, def, store, low, high);
}
// Negative becomes 0.
constexpr IniKey NonNegative(std::string_view section, std::string_view key, std::string_view def,
                             IniStore store) {
    return Row(IniRule::Clamp, section, key, def, store, 0, INT_MAX);
}
constexpr IniKey ByteMask(std::string_view section, std::string_view key, std::string_view def,
                          IniStore store) {
    return Row(IniRule::ByteMask, section, key, def, store);
}
constexpr IniKey Override(std::string_view section, std::string_view key, std::string_view def,
                          IniStore store) {
    return Row(IniRule::Override, section, key, def, store);
}
// A key read by the code that uses it, each time (or at its own step).
constexpr IniKey Used(std::string_view section, std::string_view key, std::string_view def,
                      IniRule rule, int low = 0, int high = 0) {
    IniKey k = Row(rule, section, key, def, nullptr, low, high);
    k.reader = IniReader::User;
    return k;
}

}  // namespace ini_row

// Every key of KOVRANMS.ini except the "EOstra" keys of the monitoring
// component and the register file's keys, which have their own readers.
inline constexpr auto kIniKeys = [] {
    using namespace ini_row;
    using S = ScanSettings;
    using O = OcrSettings;
    constexpr std::string_view kGeneral = "General";
    constexpr std::string_view kOcr = "Ocr";
    return std::array{
        // ---- "General"
        Flag(kGeneral, "EnCntPages", "1", Into<&S::enCntPages>),
        Flag(kGeneral, "fw3000", "1", Into<&S::fw3000>),
        Flag(kGeneral, "SWGlitchDetection", "0", Into<&S::swGlitchDetection>)
            .Logs(IniLog::TextWhenOn, "with SW glitch detection"),
        Flag(kGeneral, "SWNoiseDetection", "0", Into<&S::swNoiseDetection>)
            .Logs(IniLog::TextWhenOn, "with SW noise detection"),
        Flag(kGeneral, "AutoMoveBack", "0", Into<&S::autoMoveBack>),
        Flag(kGeneral, "SideAuto", "0", Into<&S::sideAuto>),
        Flag(kGeneral, "forward", "1", Into<&S::forward>),
        Flag(kGeneral, "Deskew", "1", Into<&S::deskew>),
        Flag(kGeneral, "Trim", "1", Into<&S::trim>),
        FlagAbove(kGeneral, "Trim", "1", 1, Into<&S::trimExtended>),
        Flag(kGeneral, "Sharp", "0", Into<&S::sharp>),
        Number(kGeneral, "msecWaitStart", "0", Into<&S::msecWaitStart>),
        Number(kGeneral, "msecValLines", "1", Into<&S::msecValLines>),
        ByteMask(kGeneral, "DisAcqMode", "0", Into<&S::disAcqMode>),
        Override(kGeneral, "EP0SemaphoreTimeout", "0", Into<&S::ep0SemaphoreTimeoutMs>)
            .Logs(IniLog::ValueWhenSet, "EP0SemaphoreTimeout"),
        Override(kGeneral, "OvrlpdEventTimeout", "0", Into<&S::overlappedEventTimeoutMs>)
            .Logs(IniLog::ValueWhenSet, "OvrlpdEventTimeout"),
        Flag(kGeneral, "TwoPart", "0", Into<&S::twoPart>),
        Flag(kGeneral, "ADFAcq", "0", Into<&S::adfAcq>),
        NonNegative(kGeneral, "MaxHeight150", "0", Into<&S::maxHeight150>),
        Flag(kGeneral, "nPageEn", "1", Into<&S::nPageEn>),
        Flag(kGeneral, "DoubleFeed", "1", Into<&S::doubleFeed>),
        Flag(kGeneral, "DoubleFeedDelivery", "", Into<&S::doubleFeedDelivery>)
            .DefaultsTo("DoubleFeed"),
        Clamped(kGeneral, "DoubleFeedCntMax", "450", 10, INT_MAX, Into<&S::doubleFeedCntMax>),
        Number(kGeneral, "DoubleFeedBlackVe", "-1", Into<&S::doubleFeedBlackVe>),
        Flag(kGeneral, "SequenceCheck", "1", Into<&S::sequenceCheck>),
        NonNegative(kGeneral, "SeqCheckMoveBackLines300", "0", Into<&S::seqCheckMoveBackLines300>),

        // ---- "Cleaning", "Image", "Buzer"
        Flag("Cleaning", "CheckEnable", "1", Into<&S::checkEnable>),
        Flag("Cleaning", "CheckCalibration", "1", Into<&S::checkCalibration>),
        Flag("Image", "RemoveBack", "1", Into<&S::removeBack>),
        Clamped("Image", "BorderThr", "0", 0, 255, Into<&S::borderThr>),
        Clamped("Image", "BorderVal", "0", 0, 255, Into<&S::borderVal>),
        Number("Image", "Color", "1", Into<&S::color>),
        Clamped("Buzer", "ValDouble", "200", 0, 255, Into<&S::valDouble>),
        NonNegative("Buzer", "MSecDouble", "1200", Into<&S::mSecDouble>),
        Clamped("Buzer", "ValNR", "100", 0, 255, Into<&S::valNR>),
        NonNegative("Buzer", "MSecNR", "600", Into<&S::mSecNR>),
        Clamped("Buzer", "ValNoCld", "50", 0, 255, Into<&S::valNoCld>),
        NonNegative("Buzer", "MSecNoCld", "200", Into<&S::mSecNoCld>),

        // ---- the reading
        Flag(kGeneral, "DeskewMicr", "0", Into<&O::deskewMicr>),
        Flag(kOcr, "CMC7SaveImg", "0", Into<&O::cmc7SaveImg>).Then(IniStep::Cmc7ImageDir),
        Number(kOcr, "CheckIdExtended", "60", Into<&O::checkIdExtended>)
            .Logs(IniLog::FormatUnlessDefault, "looking for beneficiary and ammount on 0x%04x"),
        // A document type other than the usual one is worth a line: the
        // administrator changed how every cheque is read.
        Number(kOcr, "typeDoc", "1", Into<&O::typeDoc>)
            .Logs(IniLog::ValueUnlessDefault, "ini forces typeDoc to "),
        Number(kOcr, "typeDocCMC7", "1", Into<&O::typeDocCmc7>)
            .Logs(IniLog::ValueUnlessDefault, "ini forces typeDoc for CMC7 to "),
        Number(kOcr, "typeDocMICROPERFORATION", "3", Into<&O::typeDocMicroperforation>)
            .Logs(IniLog::ValueUnlessDefault, "ini forces typeDoc for MICROPERFORATION to "),
        Flag(kOcr, "CdlTxt", "0", Into<&O::cdlTxt>),
        Flag(kOcr, "BarcodeMirror", "0", Into<&O::barcodeMirror>)
            .Logs(IniLog::OnOrOff, "Mirrored barcode enabled", "Mirrored barcode disabled"),
        Number(kOcr, "E13BMapping", "0", Into<&O::e13bMapping>),
        Flag(kOcr, "DebugImg", "0", Into<&O::debugImg>).Then(IniStep::DebugImageDir),
        Number(kOcr, "DebugImgDays", "0", Into<&O::debugImgDays>).Then(IniStep::PurgeDebugImages),
        Flag(kOcr, "CdlImg", "0", Into<&O::cdlImg>),
        Flag(kOcr, "CdlImgDate", "0", Into<&O::cdlImgDate>),
        Flag(kOcr, "CdlMICR", "0", Into<&O::cdlMicr>),
        Flag(kOcr, "onlyMICR", "0", Into<&O::onlyMicr>),
        Clamped(kOcr, "CMC7Thr", "80", 80, 99, Into<&O::cmc7Thr>),
        Clamped(kOcr, "E13BThr", "40", 40, 99, Into<&O::e13bThr>),

        // ---- "Inkjet2", "IQA", "Debug"
        Number("Inkjet2", "msecWarmTot", "0", Into<&S::msecWarmTot>),
        Number("Inkjet2", "msecWarmDelta", "0", Into<&S::msecWarmDelta>),
        Clamped("Inkjet2", "grayLev", "10", 1, 255, Into<&S::grayLev>),
        Flag("IQA", "Active", "1", Into<&S::iqaActive>),
        Number("IQA", "ErrLev", "1", Into<&S::iqaErrLev>),
        Number("IQA", "KB_MinF", "60", Into<&S::kbMinF>),
        Number("IQA", "KB_MinR", "40", Into<&S::kbMinR>),
        Number("IQA", "KB_MinB", "40", Into<&S::kbMinB>),
        Number("IQA", "KB_MaxF", "230", Into<&S::kbMaxF>),
        Number("IQA", "KB_MaxR", "170", Into<&S::kbMaxR>),
        Number("IQA", "KB_MaxB", "170", Into<&S::kbMaxB>),
        Number("IQA", "QualityF", "20", Into<&S::qualityF>),
        Number("IQA", "QualityR", "20", Into<&S::qualityR>),
        Number("IQA", "QualityB", "20", Into<&S::qualityB>),
        Flag("Debug", "statusIn", "0", Into<&S::statusIn>),
        Flag("Debug", "statusOut", "0", Into<&S::statusOut>),
        Flag("Debug", "glitch", "0", Into<&S::glitch>).Logs(IniLog::TextWhenOn, "glitch debug"),

        // ---- PDF output: the two keys live in different sections
        NonNegative("Image", "pdfA", "1", Into<&S::pdfA>),
        NonNegative("Immagine", "pdfTitle", "1", Into<&S::pdfTitle>),
        // Not a key of the original library: with "pdfA" on, the complete
        // PDF/A-1b form (XMP packet, output intent, trailer ID).
        NonNegative("Image", "pdfAFull", "0", Into<&S::pdfAFull>),

        // ---- read by the code that uses them
        // Used when longer than 2 characters (the configuration directory).
        Used(kGeneral, "CnfDir", "", IniRule::Text),
        // The default is the configuration directory followed by "/Img/".
        Used(kOcr, "DebugImgPath", "", IniRule::Text),
        Used("OCR", "DBDir", "", IniRule::Text),
        Used("Image", "h_150_dpi", "", IniRule::Text),
        Used("Image", "Autoquality", "30", IniRule::Number),
        Used(kOcr, "rotAuto", "0", IniRule::Number),
        Used("ADF", "disable", "0", IniRule::Flag),
        Used("BackLight", "LedLevIRRGB", "150", IniRule::Clamp, 0, 255),
        Used("BackLight", "LedLevIRGray", "150", IniRule::Clamp, 0, 255),
        Used("BackLight", "LedLevUVRGB", "254", IniRule::Clamp, 0, 255),
        Used("BackLight", "LedLevUVGray", "254", IniRule::Clamp, 0, 255),
        Used("Patch", "Freccia01", "0", IniRule::Number),
    };
}();

// The row of a key read by its user; a key missing from the table does not
// compile.
consteval const IniKey& IniKeyOf(std::string_view section, std::string_view key) {
    for (const IniKey& k : kIniKeys) {
        if (k.reader == IniReader::User && k.section == section && k.key == key) return k;
    }
    throw "no such key read by its user in kIniKeys";
}

// What the rule of k makes of a number read for it; for an Override key
// that keeps its built-in value, nothing.
std::optional<int> IniValue(const IniKey& k, int number);

// The number of k in the ini file (its default when absent), through its
// rule. For keys whose rule always gives a value.
int ReadIniNumber(const IniKey& k);
// The text of k in the ini file, or its default (or def) when absent.
std::string ReadIniText(const IniKey& k);
std::string ReadIniText(const IniKey& k, std::string_view def);

}  // namespace kovran
