// The configuration directory: where the library writes its files (log,
// register file, calibration files, debug images) and keeps per-device data.
//
// The default lives below the machine's shared data folder: /var/lib when
// it is writable or its Kovran/V3r (made by a system install for the
// scanner group) is, else $XDG_DATA_HOME (default ~/.local/share), followed
// by "Kovran/V3r". Two overrides of that base exist so that tests and
// packaging never touch the real folders: ConfigState::dataBaseOverride
// (unit tests) and, below it, the environment variable KOVRAN_DATA_BASE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kovran {

inline constexpr std::size_t kConfigDirMax = 259;
inline constexpr const char* kDataBaseEnv = "KOVRAN_DATA_BASE";

struct ConfigState {
    std::string dir;  // the configuration directory (<= 259 characters)
    bool valid = false;
    std::string loadTimeDir;  // as established at load; "restore" returns here
    // When not empty, replaces the shared data folder as the default base.
    std::string dataBaseOverride;
};

ConfigState& Config();

// What SetConfigDir does when the path cannot be created.
enum class OnCreateFailure : bool {
    FallBack,  // establish the load-time directory (or the default) instead
    Fail,      // give up: "restore" must not land elsewhere, nor a fallback fall back again
};

// Establishes the configuration directory. A null or empty path means the
// load-time directory, or the default when there is none (which never
// falls back). True on success (last result 0); on failure the directory is
// empty and invalid with last result -1, except a path over 259 characters,
// which leaves everything unchanged (last result -3).
bool SetConfigDir(const char* path, OnCreateFailure onFailure = OnCreateFailure::FallBack);

// Clears the directory, builds the default base, creates its "Kovran" level
// and makes the directory <base>/Kovran/V3r (that level is created by
// SetConfigDir). True on success; false with last result -1.
bool DefaultConfigDir();

// Load step: "General"/"CnfDir" (used when longer than 2 characters) or the
// default; the result is remembered as the load-time directory.
void EstablishLoadTimeConfigDir();

// KVXInitializeSN's change before its guard: a non-empty dir that differs
// from the current one is established; when that fails the previous
// directory is put back. False only when dir was refused and restored.
bool ChangeConfigDirBeforeInit(const char* dir);

// The per-device register file: <dir>/pid_%04x_<serial>.reg.
std::string RegisterFilePath(std::uint16_t pid, const std::string& serial);

enum class VarLib : bool { ReadOnly, Writable };

// Whether the machine's shared data folder varLib serves this process: it is
// writable, or a system install made its Kovran/V3r level for the scanner
// users (set-group-id, group-writable) and this process may write there.
// That level counts only while no other user controls it: the folder and
// its Kovran level owned by root (or this user) and writable by no one
// else, Kovran/V3r a real directory (no symbolic link) of root or this user
// that everyone may not write.
// Without the second case every member of the scanner group would get a
// private configuration directory, and with it private calibration files
// and counters.
VarLib ProbeSharedDataFolder(const std::string& varLib);

struct SharedDataChoice {
    std::string base;      // empty when nothing is available
    bool perUser = false;  // /var/lib was passed over for a folder of this user
};

// The shared data folder chosen from what the machine offers: /var/lib when
// writable, else xdgDataHome when absolute, else home + "/.local/share".
SharedDataChoice SharedDataBase(VarLib varLib, const char* xdgDataHome, const char* home);

// The directory levels SetConfigDir creates for a path, outermost first:
// a leading double quote is dropped, a trailing one taken as a separator,
// the root (or a drive "X:\\") is skipped, and a run of separators ('/' or
// '\\') counts as one.
std::vector<std::string> DirectoryLevels(const std::string& path);

// Creates one directory level; an existing directory is fine. False (system
// error set) otherwise, also when a file of that name is in the way.
bool EnsureDirectoryLevel(const std::string& path);

inline bool IsPathSeparator(char c) {
    return c == '/' || c == '\\';
}

// A text from the device (its serial number) made fit to be part of a file
// name: a separator or a control character in it becomes '_', so the file
// can never be led out of its directory.
std::string FileNamePart(std::string text);

}  // namespace kovran
