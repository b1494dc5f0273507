// Private profile (ini) files with the semantics of the Windows profile API:
// section and key names compare case-insensitively, the first matching
// section is the one searched and the first matching key in it wins, blanks
// around names and values are dropped, a value enclosed in one pair of
// matching quotes loses them, and a value is at most 259 characters.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kovran::platform {

inline constexpr std::size_t kProfileValueMax = 259;

// The value of key in section of the file at path, or def (without its
// trailing blanks) when the file, the section or the key is missing.
std::string GetProfileString(std::string_view section, std::string_view key, std::string_view def,
                             const std::string& path);

// The value read as GetProfileString does, parsed as the C runtime's atoi:
// leading blanks, an optional sign, then decimal digits up to the first
// other character; text that is not a number is 0; overflow saturates.
int GetProfileNumber(std::string_view section, std::string_view key, std::string_view def,
                     const std::string& path);

// atoi as the Windows C runtime has it (saturating at the 32-bit limits).
int ParseDecimal(std::string_view text);

// Writes key = value into section, keeping every other line of the file;
// creates the section at the end and the file when missing. A null value
// (std::nullopt) deletes the key. Returns false when the file cannot be
// written (the system error is set).
bool WriteProfileString(std::string_view section, std::string_view key,
                        std::optional<std::string_view> value, const std::string& path);

// One key of a section and its new value (nullopt: delete the key).
struct ProfileEntry {
    std::string_view key;
    std::optional<std::string_view> value;
};
// Writes several keys of one section in a single replacement of the file,
// so that a crash leaves all of them old or all of them new.
bool WriteProfileStrings(std::string_view section, std::span<const ProfileEntry> entries,
                         const std::string& path);

// Replaces the file at path with bytes through a synced temporary file
// renamed over it: a reader, or a crash, sees the old file or the new one
// whole. False (system error set) when it cannot be written.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// The points of WriteProfileString's replacement of the file: the new text
// complete and synced in its temporary file, and the rename done. A crash
// at either leaves the old file or the new one whole; tests stop a process
// there to prove it.
enum class ReplaceStep : std::uint8_t { TempFileWritten, Renamed };
using ReplaceObserver = void (*)(ReplaceStep step, const std::string& target);
// Installs the observer (null: none). For tests.
void SetReplaceObserver(ReplaceObserver observer);

}  // namespace kovran::platform
