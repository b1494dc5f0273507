#include "sim/device_profile.h"

#include "platform/utf8.h"

namespace kovran::sim {

namespace {

// UTF-8 to UTF-16 code units; a broken sequence becomes U+FFFD, so any text
// gives a descriptor.
std::vector<std::uint16_t> Utf16(const std::string& text) {
    std::vector<std::uint16_t> out;
    for (char32_t cp : platform::DecodeUtf8(text)) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<std::uint16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<std::uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<std::uint16_t>(cp));
        }
    }
    return out;
}

}  // namespace

CommandFeatures DeviceProfile::Features() const {
    CommandFeatures f;
    f.fw3000Version = fw3000Version.has_value();
    f.pageCounter = pageCounterRegister;
    f.inkjetCounter = inkjetCounterRegister;
    f.inkjet1Config = inkjet1Config.has_value();
    f.inkjet2Config = inkjet2Config.has_value();
    f.oldFormVersion = answersOldForm;
    f.stripeReader = stripeReader;
    return f;
}

std::array<std::uint8_t, 8> EncodeConfigBlock(const DeviceProfile& p) {
    std::array<std::uint8_t, 8> block{};
    if (p.configBlock) {
        for (std::size_t i = 0; i < p.configBlock->size() && i < block.size(); ++i) {
            block[i] = (*p.configBlock)[i];
        }
        return block;
    }
    // Byte 0 is not part of any layout; the firmware puts the sub-code there.
    block[0] = 0x01;
    const std::uint16_t fw = FirmwareVersion(p.ProtocolFirmware());
    const std::uint32_t w = p.configWord;
    block[1] = static_cast<std::uint8_t>(w & 0xFF);
    if (fw <= 0x200F) return block;
    block[2] = p.cisVoltage;
    if (fw <= 0x2FFF) return block;
    block[3] = static_cast<std::uint8_t>((w >> 8) & 0xFF);
    if (fw <= 0x3FFF) return block;
    block[4] = static_cast<std::uint8_t>((w >> 16) & 0xFF);
    block[5] = static_cast<std::uint8_t>((w >> 24) & 0xFF);
    block[6] = static_cast<std::uint8_t>(p.configWord2 & 0xFF);
    block[7] = static_cast<std::uint8_t>(p.configWord2 >> 8);
    return block;
}

std::vector<std::uint8_t> SerialDescriptor(const DeviceProfile& p) {
    if (p.serialDescriptor) return *p.serialDescriptor;
    std::vector<std::uint16_t> units = Utf16(p.serial);
    if (units.size() > kMaxSerialChars) units.resize(kMaxSerialChars);
    std::vector<std::uint8_t> d;
    d.push_back(static_cast<std::uint8_t>(2 + 2 * units.size()));
    d.push_back(3);
    for (std::uint16_t u : units) {
        d.push_back(static_cast<std::uint8_t>(u & 0xFF));
        d.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return d;
}

std::string ValidateProfile(const DeviceProfile& p) {
    if (Utf16(p.serial).size() > kMaxSerialChars) return "serial: more than 126 characters";
    if (p.serialDescriptor && p.serialDescriptor->size() > kMaxDescriptorBytes) {
        return "serial_descriptor: more than 255 bytes";
    }
    if (p.configBlock && p.configBlock->size() > 8) return "config_block: more than 8 bytes";
    if (p.hardwareKey.size() > kMaxCommandBytes) return "hardware_key: more than 64 bytes";
    if (p.inkjet1Config && p.inkjet1Config->size() != 64) return "inkjet1_config: not 64 bytes";
    if (p.inkjet2Config && p.inkjet2Config->size() != 64) return "inkjet2_config: not 64 bytes";
    if (p.location.size() > 32) return "location: longer than 32 characters";
    const std::size_t documents = p.documents + p.feeder.size();
    for (const DeviceProfile::DoubleFeed& d : p.doubleFeeds)
        if (d.document == 0 || d.document > documents)
            return "double_feed: document " + std::to_string(d.document) + " is not in the feeder";
    for (char c : p.location) {
        if (!(c >= '0' && c <= '9') && c != '-' && c != '.') {
            return "location: only digits, '-' and '.' are allowed";
        }
    }
    if (p.documents > kMaxPlaceholderDocuments) return "documents: more than 1000";
    return {};
}

}  // namespace kovran::sim
