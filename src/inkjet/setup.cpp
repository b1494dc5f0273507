// The set-ups behind the KVXInkjet exports: they check the printer and the
// arguments, compose the stamp (or load it from the host's bitmap) and arm
// it for the next documents.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>

#include "api/config_dir.h"
#include "api/log.h"
#include "device/device_record.h"
#include "inkjet/printer.h"
#include "inkjet/stamp.h"

namespace kovran::inkjet {

namespace {

constexpr std::size_t kTextLimit = 512;  // characters; the stored text holds 511
constexpr std::size_t kFontLimit = 260;
constexpr std::uint16_t kFirmwareFire = 0x30FF;  // above: fire and a density of at least 1
constexpr int kType1GlyphHeight = 12;
constexpr const char* kType2Bitmap = "timbroTIJ25.bmp";
constexpr const char* kType1Bitmap = "timbro.bmp";

void ClearText() {
    Stamp().settings.text.clear();
    Stamp().settings.font.clear();
}

KVXResult Refuse(const char* message, KVXResult result) {
    LogPair("err - ", message);
    return result;
}

int Clamp(int v, int low, int high) {
    return std::clamp(v, low, high);
}

std::string ConfigFile(const char* name) {
    return Config().dir + "/" + name;
}

// A composition failure that set no code of its own is an unusable stamp.
KVXResult CompositionFailure(KVXResult r) {
    return r < 0 ? r : KVX_ERR_INV_PARAMETER;
}

KVXResult ComposeType1(const PrinterRecord& p) {
    const StampSettings& s = Stamp().settings;
    if (!Stamp().image) {
        const std::optional<std::string> fnt = FontFilePath(s.font);
        const KVXResult composed =
            fnt ? ComposeFntText(s.text, *fnt, kType1GlyphHeight, GlyphFlip::Yes)
                : ComposeSystemText(s.text, s.font, s.size, TextTarget::Type1,
                                    ConfigFile(kType1Bitmap));
        if (composed != KVX_OK) return composed;
    }
    return PrepareType1Stamp({.stampBufferSize = p.stampBufferSize, .scanMode = 0});
}

}  // namespace

KVXResult SetUpType1(const Type1Request& r) {
    const auto lock = LockPrinter();
    PrinterRecord& p = Printer();
    DropStampImage();
    ClearText();
    p.armed = false;
    // The record remembers every printer opened since the load; the scanner
    // open now decides.
    const DeviceCapabilities caps = device::Identity().capabilities;
    if (!p.type1Present || !caps.inkjetType1Present)
        return Refuse("no inkjet detected", KVX_ERR_HW_UNSUPPORTED);
    if (!p.type1Ready || !caps.inkjetType1)
        return Refuse("no inkjet ready", KVX_ERR_HW_UNSUPPORTED);
    StampSettings& s = Stamp().settings;
    if (r.bitmapFile == nullptr) {
        if (r.text == nullptr || r.text[0] == '\0') return KVX_OK;
        if (r.size < 0) return Refuse("negative size", KVX_ERR_INV_PARAMETER);
        if (r.font == nullptr) return Refuse("null font pointer", KVX_ERR_INV_PARAMETER);
        if (std::strlen(r.text) >= kTextLimit) {
            LogPair("err - ", "stamp too long");
            LogText(std::string(r.text, std::min<std::size_t>(std::strlen(r.text), 1024)));
            return KVX_ERR_INV_PARAMETER;
        }
        if (std::strlen(r.font) >= kFontLimit) {
            LogPair("err - ", "font too long");
            LogText(std::string(r.font, std::min<std::size_t>(std::strlen(r.font), 1024)));
            return KVX_ERR_INV_PARAMETER;
        }
        s.text = r.text;
        s.font = r.font;
    } else if (const KVXResult loaded = LoadStampBitmap(r.bitmapFile); loaded != KVX_OK) {
        LogText(r.bitmapFile);
        LogPair("err - ", "stamp file invalid");
        DropStampImage();
        return KVX_ERR_INV_PARAMETER;
    }
    if (r.offset < 0) {
        ClearText();
        DropStampImage();
        return Refuse("negative offset", KVX_ERR_INV_PARAMETER);
    }
    const std::uint16_t firmware = device::Identity().firmware;
    s.size = r.size;
    s.keep = r.keep != 0;
    s.mirror = r.mirror > 0 ? Mirror::On : Mirror::Off;
    p.offset = static_cast<std::uint16_t>(std::min(r.offset, 0xFFFF));
    p.secondOffset = 0;
    const int density = r.density + p.referenceDensity;
    p.density = static_cast<std::uint8_t>(firmware > kFirmwareFire ? Clamp(density, 1, 255)
                                                                   : Clamp(density, 0, 255));
    p.fire = static_cast<std::uint8_t>(firmware > kFirmwareFire ? Clamp(r.fire, 0, 255) : 0);
    if (const KVXResult prepared = ComposeType1(p); prepared != KVX_OK) {
        ClearText();
        DropStampImage();
        return CompositionFailure(prepared);
    }
    p.printingDisabled = false;
    p.armed = true;
    p.armedKind = PrinterRecord::Kind::One;
    return KVX_OK;
}

KVXResult SetUpType2Image(const char* bitmapFile, int offset, int fire) {
    const auto lock = LockPrinter();
    PrinterRecord& p = Printer();
    DropStampImage();
    p.armed = false;
    if (!p.type2Present || !device::Identity().capabilities.inkjetType2Present)
        return Refuse("no inkjet detected", KVX_ERR_HW_UNSUPPORTED);
    if (!p.cartridgeChecked) CheckCartridge();
    if (!p.cartridgeOk) return Refuse("no inkjet ready", KVX_ERR_HW_UNSUPPORTED);
    if (bitmapFile == nullptr || bitmapFile[0] == '\0')
        return Refuse("null fname", KVX_ERR_INV_PARAMETER);
    if (offset < 0) return Refuse("negative offset", KVX_ERR_INV_PARAMETER);
    std::vector<std::uint8_t> data;
    if (const KVXResult converted = ConvertType2Bitmap(bitmapFile, &data); converted != KVX_OK)
        return CompositionFailure(converted);
    if (data.empty()) return Refuse("stamp file invalid", KVX_ERR_INV_PARAMETER);
    p.nozzleData = std::move(data);
    p.offset = static_cast<std::uint16_t>(std::min(offset + p.positionBase, 0xFFFF));
    p.density = p.referenceDensity;
    p.fire = static_cast<std::uint8_t>(Clamp(fire, 0, 255));
    p.secondOffset = 0;
    Stamp().settings.keep = false;
    p.printingDisabled = false;
    p.armed = true;
    p.armedKind = PrinterRecord::Kind::Two;
    return KVX_OK;
}

KVXResult SetUpType2Text(const Type2TextRequest& r) {
    const auto lock = LockPrinter();
    PrinterRecord& p = Printer();
    const std::string bitmap = ConfigFile(kType2Bitmap);
    std::error_code ignored;
    std::filesystem::remove(bitmap, ignored);
    DropStampImage();
    p.armed = false;
    if (!p.type2Present || !device::Identity().capabilities.inkjetType2Present)
        return Refuse("no inkjet detected", KVX_ERR_HW_UNSUPPORTED);
    if (!p.cartridgeChecked) CheckCartridge();
    if (!p.cartridgeOk) return Refuse("no inkjet ready", KVX_ERR_HW_UNSUPPORTED);
    if (r.text == nullptr || r.text[0] == '\0') return KVX_OK;
    if (r.size < 0) return Refuse("negative size", KVX_ERR_INV_PARAMETER);
    if (r.offset < 0) return Refuse("negative offset", KVX_ERR_INV_PARAMETER);
    if (std::strlen(r.text) >= kTextLimit) {
        LogPair("err - ", "stamp too long");
        LogText(std::string(r.text, std::min<std::size_t>(std::strlen(r.text), 1024)));
        return KVX_ERR_INV_PARAMETER;
    }
    const char* font = r.font != nullptr ? r.font : "";
    if (std::strlen(font) >= kFontLimit) {
        LogPair("err - ", "font too long");
        LogText(std::string(font, std::min<std::size_t>(std::strlen(font), 1024)));
        return KVX_ERR_INV_PARAMETER;
    }
    const std::optional<std::string> fnt = FontFilePath(font);
    KVXResult composed = KVX_OK;
    if (fnt) {
        composed = ComposeFntText(r.text, *fnt, 38, GlyphFlip::No);
    } else {
        composed = ComposeSystemText(r.text, font, r.size, TextTarget::Type2, bitmap);
    }
    if (composed == KVX_OK)
        composed = OrientType2Bitmap(
            bitmap, r.orientation != 0 ? Type2Orientation::Turned : Type2Orientation::Default);
    if (composed != KVX_OK) {
        DropStampImage();
        return CompositionFailure(composed);
    }
    return SetUpType2Image(bitmap.c_str(), r.offset, r.fire);
}

}  // namespace kovran::inkjet
