#include "platform/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "platform/file_descriptor.h"
#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

// An ini file is a few kilobytes; anything far larger is not one, and
// reading it whole would only cost memory.
constexpr std::size_t kProfileFileMax = 16u << 20;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

// One line of the file: its text runs from begin to end, the next line
// starts at next (end plus the CR LF or LF, or the end of the file).
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

enum class LineKind { kOther, kSection, kKey };

struct ParsedLine {
    LineKind kind = LineKind::kOther;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        std::size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
        std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        if (end > pos && text[end - 1] == '\r') --end;
        lines.push_back({pos, end, next});
        pos = next;
    }
    return lines;
}

ParsedLine ParseLine(std::string_view line) {
    ParsedLine out;
    std::string_view s = Trim(line);
    if (s.empty() || s.front() == ';') return out;
    if (s.front() == '[') {
        std::size_t close = s.rfind(']');
        if (close != std::string_view::npos) {
            out.kind = LineKind::kSection;
            out.name = Trim(s.substr(1, close - 1));
            return out;
        }
    }
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return out;
    out.kind = LineKind::kKey;
    out.name = Trim(s.substr(0, eq));
    out.value = Trim(s.substr(eq + 1));
    return out;
}

// Where section and key stand in a file.
struct Location {
    bool sectionFound = false;
    std::size_t sectionLine = 0;
    std::size_t lastKeyLine = 0;  // last key line of the section (or its header)
    bool keyFound = false;
    std::size_t keyLine = 0;
};

Location Locate(std::string_view text, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
    Location loc;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParsedLine p = ParseLine(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
        if (!loc.sectionFound) {
            if (p.kind == LineKind::kSection && SameName(p.name, section)) {
                loc.sectionFound = true;
                loc.sectionLine = loc.lastKeyLine = i;
            }
            continue;
        }
        // Only the first section of that name counts; the next header ends it.
        if (p.kind == LineKind::kSection) break;
        if (p.kind != LineKind::kKey) continue;
        loc.lastKeyLine = i;
        if (!loc.keyFound && SameName(p.name, key)) {
            loc.keyFound = true;
            loc.keyLine = i;
        }
    }
    return loc;
}

std::string CutValue(std::string_view v) {
    if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\'')) {
        v = v.substr(1, v.size() - 2);
    }
    if (v.size() > kProfileValueMax) v = v.substr(0, kProfileValueMax);
    return std::string(v);
}

std::string DefaultValue(std::string_view def) {
    def = TrimRight(def);
    if (def.size() > kProfileValueMax) def = def.substr(0, kProfileValueMax);
    return std::string(def);
}

enum class ReadResult { kRead, kMissing, kFailed };

ReadResult ReadProfileFile(const std::string& path, std::string& text, mode_t* mode) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return ReadResult::kFailed;
    if (!S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return ReadResult::kFailed;
    }
    if (mode != nullptr) *mode = st.st_mode & 07777;
    return ReadAllBytes(fd.get(), kProfileFileMax, text) ? ReadResult::kRead : ReadResult::kFailed;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Names and values that would read back as something else, or split into
// extra lines, are refused rather than written.
bool WritableEntry(std::string_view section, std::string_view key,
                   std::optional<std::string_view> value) {
    std::string_view k = Trim(key);
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos) return false;
    if (k.empty() || HasLineBreak(key) || key.find('=') != std::string_view::npos) return false;
    if (k.front() == ';' || k.front() == '[') return false;
    return !(value && HasLineBreak(*value));
}

std::string TempNameBeside(const std::string& target) {
    std::random_device rd;
    std::uint64_t r = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name = target + ".tmp";
    for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kHex[(r >> shift) & 0xF]);
    return name;
}

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::atomic<ReplaceObserver> g_replaceObserver{nullptr};

void Observe(ReplaceStep step, const std::string& target) {
    if (ReplaceObserver observer = g_replaceObserver.load()) observer(step, target);
}

// Replaces target with bytes so that a reader (or a crash) sees either the
// old file or the new one, never a part.
bool ReplaceFileAtomically(const std::string& target, std::string_view bytes,
                           std::optional<mode_t> keepMode) {
    std::string temp;
    UniqueFd fd;
    for (int attempt = 0; attempt < 8 && !fd.valid(); ++attempt) {
        temp = TempNameBeside(target);
        fd = UniqueFd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!fd.valid() && errno != EEXIST) break;
    }
    if (!fd.valid()) return false;

    bool ok = (!keepMode || ::fchmod(fd.get(), *keepMode) == 0) && WriteAllBytes(fd.get(), bytes);
    while (ok && ::fsync(fd.get()) != 0) {
        if (errno != EINTR) ok = false;
    }
    ok = fd.Close() && ok;
    if (ok) Observe(ReplaceStep::TempFileWritten, target);
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        return false;
    }
    // Make the rename itself durable; failing here loses nothing already
    // promised, so it does not fail the write.
    UniqueFd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    Observe(ReplaceStep::Renamed, target);
    return true;
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// Writing through a symbolic link must update the file it points to, not
// replace the link with a plain file.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::unique_ptr<char, FreeDeleter> real(::realpath(path.c_str(), nullptr));
    return real ? std::string(real.get()) : path;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
    if (ReplaceFileAtomically(path, bytes, std::nullopt)) return true;
    SetLastSystemErrorFromErrno();
    return false;
}

void SetReplaceObserver(ReplaceObserver observer) {
    g_replaceObserver.store(observer);
}

std::string GetProfileString(std::string_view section, std::string_view key, std::string_view def,
                             const std::string& path) {
    std::string text;
    if (ReadProfileFile(path, text, nullptr) != ReadResult::kRead) return DefaultValue(def);
    const std::vector<Line> lines = SplitLines(text);
    const Location loc = Locate(text, lines, Trim(section), Trim(key));
    if (!loc.keyFound) return DefaultValue(def);
    const Line& l = lines[loc.keyLine];
    return CutValue(ParseLine(std::string_view(text).substr(l.begin, l.end - l.begin)).value);
}

int GetProfileNumber(std::string_view section, std::string_view key, std::string_view def,
                     const std::string& path) {
    return ParseDecimal(GetProfileString(section, key, def, path));
}

int ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Past this the result is saturated anyway; stop growing.
    constexpr std::int64_t kLimit = std::int64_t{INT_MAX} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int>(-magnitude);  // -kLimit is INT_MIN
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

namespace {

// Puts one entry into the text of a profile file: replaced where the key
// is, added at the end of its section (or in a new section), or deleted.
void ApplyEntry(std::string& text, std::string_view section, std::string_view key,
                std::optional<std::string_view> value) {
    const std::vector<Line> lines = SplitLines(text);
    const Location loc = Locate(text, lines, Trim(section), Trim(key));

    if (!value) {
        if (!loc.keyFound) return;
        const Line& l = lines[loc.keyLine];
        text.erase(l.begin, l.next - l.begin);
    } else if (loc.keyFound) {
        const Line& l = lines[loc.keyLine];
        // The key keeps the spelling it has in the file; its line keeps its end.
        std::string_view keyText =
            ParseLine(std::string_view(text).substr(l.begin, l.end - l.begin)).name;
        std::string replacement = std::string(keyText) + "=" + std::string(*value);
        text.replace(l.begin, l.end - l.begin, replacement);
    } else {
        std::string entry = std::string(Trim(key)) + "=" + std::string(*value) + "\r\n";
        if (loc.sectionFound) {
            const Line& after = lines[loc.lastKeyLine];
            if (text[after.next - 1] != '\n') entry.insert(0, "\r\n");  // last line had no end
            text.insert(after.next, entry);
        } else {
            if (!text.empty() && text.back() != '\n') text += "\r\n";
            text += "[" + std::string(section) + "]\r\n" + entry;
        }
    }
}

}  // namespace

bool WriteProfileString(std::string_view section, std::string_view key,
                        std::optional<std::string_view> value, const std::string& path) {
    const ProfileEntry entry{.key = key, .value = value};
    return WriteProfileStrings(section, std::span(&entry, 1), path);
}

bool WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries,
                         const std::string& path) {
    for (const ProfileEntry& e : entries) {
        if (!WritableEntry(section, e.key, e.value)) {
            SetLastSystemError(kErrorInvalidParameter);
            return false;
        }
    }
    const std::string target = ResolveTarget(path);
    std::string text;
    mode_t mode = 0;
    const ReadResult read = ReadProfileFile(target, text, &mode);
    if (read == ReadResult::kFailed) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    const std::string before = text;
    for (const ProfileEntry& e : entries) ApplyEntry(text, section, e.key, e.value);
    // Deleting keys that are not there leaves the file untouched.
    if (text == before &&
        std::all_of(entries.begin(), entries.end(), [](const ProfileEntry& e) { return !e.value; }))
        return true;

    std::optional<mode_t> keepMode;
    if (read == ReadResult::kRead) keepMode = mode;
    if (!ReplaceFileAtomically(target, text, keepMode)) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace kovran::platform
