#include "api/ini_keys.h"

#include <algorithm>

#include "api/names.h"
#include "platform/profile.h"

namespace kovran {
namespace {

// A key whose default is another key's value reads it from an earlier row
// of its own section; a log line has its text.
consteval bool RowsAreWellFormed() {
    for (std::size_t i = 0; i < kIniKeys.size(); ++i) {
        const IniKey& k = kIniKeys[i];
        if ((k.log == IniLog::None) != (k.message == nullptr)) return false;
        if (k.defaultFrom.empty()) continue;
        bool found = false;
        for (std::size_t j = 0; j < i; ++j) {
            const IniKey& earlier = kIniKeys[j];
            found = found || (earlier.reader == IniReader::Load && earlier.section == k.section &&
                              earlier.key == k.defaultFrom);
        }
        if (!found) return false;
    }
    return true;
}
static_assert(RowsAreWellFormed());

}  // namespace

std::optional<int> IniValue(const IniKey& k, int number) {
    switch (k.rule) {
        case IniRule::Flag:
            return number > k.low ? 1 : 0;
        case IniRule::Clamp:
            return std::clamp(number, k.low, k.high);
        case IniRule::ByteMask:
            return (number < 0 || number > 255) ? 0 : number;
        case IniRule::Override:
            if (number > 0) return number;
            return std::nullopt;
        case IniRule::Number:
        case IniRule::Text:
            break;
    }
    return number;
}

int ReadIniNumber(const IniKey& k) {
    const int number = platform::GetProfileNumber(k.section, k.key, k.def, Names().iniPath);
    return IniValue(k, number).value_or(0);
}

std::string ReadIniText(const IniKey& k) {
    return ReadIniText(k, k.def);
}

std::string ReadIniText(const IniKey& k, std::string_view def) {
    return platform::GetProfileString(k.section, k.key, def, Names().iniPath);
}

}  // namespace kovran
