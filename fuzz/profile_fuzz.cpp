// Fuzz target for the private profile (ini) reader and writer. The input is
//   byte 0  section choice (high bit: a name cut from the input instead)
//   byte 1  key choice (high bit: likewise)
//   byte 2  bit 7: delete the key instead of writing it; bit 0: 256 more
//   byte 3  value length (with bit 0 above, up to 511)
//   then the value, any cut names, and the rest of the input as the file.
// Reads never give more than the value limit, atoi matches strtol, and a
// write changes only the entry it names.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile.h"

namespace {

using kovran::platform::GetProfileNumber;
using kovran::platform::GetProfileString;
using kovran::platform::kProfileValueMax;
using kovran::platform::ParseDecimal;
using kovran::platform::WriteProfileString;

// Names that the seed files use, in the spellings the lookup must treat as
// one (case, blanks) and a few it must not.
constexpr std::string_view kSections[] = {"Scanner", "SCANNER", " scanner ", "Ocr", "a", ""};
constexpr std::string_view kKeys[] = {"Port", "port ", "Name", "Timeout", "k", "Value"};
constexpr std::string_view kMissing = "\x01missing";

// A directory of this process, removed with the file when the process ends.
class ScratchFile {
  public:
    ScratchFile() {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::vector<char> dir(base.begin(), base.end());
        const char kTemplate[] = "/kovran-profile-fuzz-XXXXXX";
        dir.insert(dir.end(), kTemplate, kTemplate + sizeof kTemplate);
        if (mkdtemp(dir.data()) == nullptr) std::abort();
        dir_ = dir.data();
        path_ = dir_ + "/fuzz.ini";
    }
    ~ScratchFile() {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& path() const { return path_; }

    void Write(std::string_view bytes) const {
        // O_TRUNC keeps the file a plain one even if a write replaced it.
        int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) std::abort();
        while (!bytes.empty()) {
            ssize_t n = write(fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) std::abort();
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        close(fd);
    }

  private:
    std::string dir_;
    std::string path_;
};

// Takes bytes off the front of the input.
struct Reader {
    std::string_view rest;
    std::string_view Take(std::size_t n) {
        n = std::min(n, rest.size());
        std::string_view out = rest.substr(0, n);
        rest.remove_prefix(n);
        return out;
    }
    std::uint8_t Byte() { return rest.empty() ? 0 : static_cast<std::uint8_t>(Take(1)[0]); }
};

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The name as the lookup compares it: without surrounding blanks, ASCII
// letters in one case.
std::string Canonical(std::string_view name) {
    while (!name.empty() && Blank(name.front())) name.remove_prefix(1);
    while (!name.empty() && Blank(name.back())) name.remove_suffix(1);
    std::string out(name);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The C runtime's atoi, saturated to int, as the reference for ParseDecimal.
int ReferenceAtoi(std::string_view text) {
    std::string s(text);  // stops at an embedded NUL, as ParseDecimal stops at any non-digit
    errno = 0;
    long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

std::string Read(std::string_view section, std::string_view key, const std::string& path) {
    std::string v = GetProfileString(section, key, kMissing, path);
    if (v.size() > kProfileValueMax) __builtin_trap();
    if (GetProfileNumber(section, key, kMissing, path) != ReferenceAtoi(v)) __builtin_trap();
    return v;
}

struct Entry {
    std::string section;
    std::string key;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ScratchFile file;
    Reader in{std::string_view(reinterpret_cast<const char*>(data), size)};
    const std::uint8_t sectionChoice = in.Byte();
    const std::uint8_t keyChoice = in.Byte();
    const std::uint8_t valueChoice = in.Byte();
    const std::size_t valueLength = in.Byte() + ((valueChoice & 1u) << 8);
    const std::string_view valueBytes = in.Take(valueLength);
    const std::optional<std::string_view> value =
        (valueChoice & 0x80) ? std::nullopt : std::optional<std::string_view>(valueBytes);
    const std::string_view section = (sectionChoice & 0x80)
                                         ? in.Take(sectionChoice & 0x0F)
                                         : kSections[sectionChoice % std::size(kSections)];
    const std::string_view key =
        (keyChoice & 0x80) ? in.Take(keyChoice & 0x0F) : kKeys[keyChoice % std::size(kKeys)];
    const std::string_view text = in.rest;

    if (ParseDecimal(text) != ReferenceAtoi(text)) __builtin_trap();

    file.Write(text);
    const std::string& path = file.path();

    std::vector<Entry> others;
    for (std::string_view s : kSections) {
        for (std::string_view k : kKeys) {
            if (Canonical(s) == Canonical(section) && Canonical(k) == Canonical(key)) continue;
            others.push_back({std::string(s), std::string(k)});
        }
    }
    std::vector<std::string> before;
    before.reserve(others.size());
    for (const Entry& e : others) before.push_back(Read(e.section, e.key, path));
    Read(section, key, path);

    const bool written = WriteProfileString(section, key, value, path);
    // A line break in the value would make a new line of it when read.
    if (written && value && value->find_first_of("\r\n") != std::string_view::npos)
        __builtin_trap();
    if (!written) return 0;

    const std::string after = Read(section, key, path);
    if (value) {
        // Values with blanks or quotes at their ends read back trimmed or
        // unquoted; the others read back as written, cut to the limit.
        const bool plain = !value->empty() && !Blank(value->front()) && !Blank(value->back()) &&
                           value->front() != '"' && value->front() != '\'' &&
                           value->back() != '"' && value->back() != '\'';
        if ((plain || value->empty()) && after != value->substr(0, kProfileValueMax))
            __builtin_trap();
    }
    for (std::size_t i = 0; i < others.size(); ++i) {
        const Entry& e = others[i];
        // Deleting a key may uncover a later one of the same name; nothing
        // else of its section or of another section may change.
        if (Read(e.section, e.key, path) != before[i]) __builtin_trap();
    }
    return 0;
}
