#include "api/config_dir.h"
#include "api/frame_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "KovranMS.h"
#include "api/ini_keys.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran {

ConfigState& Config() {
    return lib().Get<ConfigState>();
}
namespace {

constexpr const char* kVarLib = "/var/lib";
// ERROR_DIRECTORY: "The directory name is invalid".
constexpr int kErrorDirectory = 267;

std::string JoinPath(std::string dir, const char* name) {
    if (dir.empty() || !IsPathSeparator(dir.back())) dir += '/';
    return dir + name;
}

// The shared data folder of this machine, or of this user when the machine's
// one is not writable. A per-user fallback folder may not exist yet on a
// fresh account, so its levels are made here.
std::string MachineDataBase() {
    const ConfigState& cfg = Config();
    if (!cfg.dataBaseOverride.empty()) return cfg.dataBaseOverride;
    if (const char* env = std::getenv(kDataBaseEnv); env && *env) return env;

    const VarLib varLib = ProbeSharedDataFolder(kVarLib);
    SharedDataChoice choice =
        SharedDataBase(varLib, std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
    if (choice.perUser) LogPair("war - ", "NOT working in Common AppData");
    if (choice.perUser && !choice.base.empty()) {
        for (const std::string& level : DirectoryLevels(choice.base)) EnsureDirectoryLevel(level);
    }
    return choice.base;
}

// DefaultConfigDir without storing the result.
bool BuildDefaultConfigDir(std::string& out) {
    std::string base = MachineDataBase();
    if (base.empty()) {
        LogPair("err - ", "V3rCnfDir");
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    if (base.size() <= 2) {
        LogPair("err - ", "not able to get V3rCnfDir");
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    if (base.find('%') != std::string::npos) {
        LogTriple("err - ", "invalid EnvironmentStrings", base.c_str());
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    std::string kovranDir = JoinPath(base, "Kovran");
    if (!EnsureDirectoryLevel(kovranDir)) {
        int err = platform::LastSystemError();
        LogTriple("err - ", "Base Dir ", kovranDir.c_str());
        LogPairValue("err - ", "Not able to create default Config Dir 1", err);
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    out = kovranDir + "/V3r";
    return true;
}

// A level made now or already there in any form.
bool CreateOrExisting(const std::string& level) {
    return platform::CreateDirectoryLevel(level) ||
           platform::LastSystemError() == platform::kErrorAlreadyExists;
}

void ClearConfigDir(ConfigState& cfg) {
    cfg.dir.clear();
    cfg.valid = false;
}

}  // namespace

namespace {

enum class Link : bool { Followed, Refused };
enum class GroupWrite : bool { Refused, Allowed };

// A directory no other user controls: owned by root or by this user, never
// writable by everyone, group-writable only where the scanner group shares
// it, and (below the machine's folder) no symbolic link, which whoever
// planted it could point anywhere.
bool HeldByRootOrSelf(const std::string& path, Link link, GroupWrite groupWrite) {
    struct stat st = {};
    const int r = link == Link::Followed ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    if (r != 0 || !S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
    if ((st.st_mode & S_IWOTH) != 0) return false;
    return groupWrite == GroupWrite::Allowed || (st.st_mode & S_IWGRP) == 0;
}

}  // namespace

VarLib ProbeSharedDataFolder(const std::string& varLib) {
    if (access(varLib.c_str(), W_OK) == 0) return VarLib::Writable;
    // Only the levels a system install makes, each out of reach of other
    // users, so that the shared directory cannot be swapped for theirs.
    const std::string kovran = varLib + "/Kovran";
    const std::string shared = kovran + "/V3r";
    if (HeldByRootOrSelf(varLib, Link::Followed, GroupWrite::Refused) &&
        HeldByRootOrSelf(kovran, Link::Refused, GroupWrite::Refused) &&
        HeldByRootOrSelf(shared, Link::Refused, GroupWrite::Allowed) &&
        access(shared.c_str(), W_OK | X_OK) == 0)
        return VarLib::Writable;
    return VarLib::ReadOnly;
}

SharedDataChoice SharedDataBase(VarLib varLib, const char* xdgDataHome, const char* home) {
    if (varLib == VarLib::Writable) return {.base = kVarLib, .perUser = false};
    // A relative XDG_DATA_HOME is invalid and ignored, as the XDG base
    // directory rules ask.
    if (xdgDataHome && xdgDataHome[0] == '/') return {.base = xdgDataHome, .perUser = true};
    if (home && *home) return {.base = JoinPath(home, ".local/share"), .perUser = true};
    return {.base = {}, .perUser = true};
}

std::vector<std::string> DirectoryLevels(const std::string& path) {
    std::string copy = path;
    if (!copy.empty() && copy.front() == '"') copy.erase(0, 1);
    if (!copy.empty() && copy.back() == '"')
        copy.back() = '/';
    else
        copy += '/';
    // Skip the root: a drive "X:" with its separator, else the first
    // character (the "/" of an absolute path, or the first letter of a
    // relative one, which can never be a separator worth cutting at).
    std::size_t start = 1;
    if (copy.size() >= 2 && std::isalpha(static_cast<unsigned char>(copy[0])) && copy[1] == ':')
        start = 3;
    std::vector<std::string> levels;
    for (std::size_t i = start; i < copy.size(); ++i) {
        if (IsPathSeparator(copy[i]) && !IsPathSeparator(copy[i - 1]))
            levels.push_back(copy.substr(0, i));
    }
    return levels;
}

bool EnsureDirectoryLevel(const std::string& path) {
    if (platform::CreateDirectoryLevel(path)) return true;
    if (platform::LastSystemError() != platform::kErrorAlreadyExists) return false;
    // A file of that name is "already there" as well, but nothing can be
    // written below it.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return true;
    platform::SetLastSystemError(kErrorDirectory);
    return false;
}

bool DefaultConfigDir() {
    ConfigState& cfg = Config();
    ClearConfigDir(cfg);
    std::string dir;
    if (!BuildDefaultConfigDir(dir)) return false;
    cfg.dir = dir;
    return true;
}

bool SetConfigDir(const char* path, OnCreateFailure onFailure) {
    ConfigState& cfg = Config();
    std::string candidate;
    bool defaultAttempt = false;
    if (path && *path) {
        candidate = path;
        if (candidate != cfg.dir) LogPair("setting CnfDir", path);
    } else if (!cfg.loadTimeDir.empty()) {
        candidate = cfg.loadTimeDir;
    } else {
        defaultAttempt = true;
        ClearConfigDir(cfg);
        if (!BuildDefaultConfigDir(candidate)) return false;
    }

    if (candidate == cfg.dir) {
        cfg.valid = true;
        SetLastResult(KVX_OK);
        return true;
    }
    if (candidate.size() > kConfigDirMax) {
        LogPair("err - ", "CfgDir is too long");
        LogPair("err - ", candidate.c_str());
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return false;
    }

    cfg.dir = candidate;
    const std::vector<std::string> levels = DirectoryLevels(candidate);
    for (std::size_t i = 0; i < levels.size(); ++i) {
        // Only the last level must be a directory: a file met on the way
        // makes the next level fail as a missing path.
        const bool last = i + 1 == levels.size();
        if (last ? EnsureDirectoryLevel(levels[i]) : CreateOrExisting(levels[i])) continue;
        int err = platform::LastSystemError();
        LogTriple("err - ", "Config Dir ", cfg.dir.c_str());
        LogPairValue("err - ", "Not able to create default Config Dir 2", err);
        // The fallback starts from nothing, so that a fallback equal to the
        // failed candidate is tried again rather than taken as established.
        ClearConfigDir(cfg);
        if (defaultAttempt || onFailure == OnCreateFailure::Fail ||
            !SetConfigDir(nullptr, OnCreateFailure::Fail)) {
            ClearConfigDir(cfg);
            SetLastResult(KVX_ERR_GENERIC);
            return false;
        }
        LogTriple("war - ", "using default config dir ", cfg.dir.c_str());
        cfg.valid = true;
        return true;
    }
    cfg.valid = true;
    SetLastResult(KVX_OK);
    return true;
}

void EstablishLoadTimeConfigDir() {
    ConfigState& cfg = Config();
    cfg.loadTimeDir.clear();
    std::string configured = ReadIniText(IniKeyOf("General", "CnfDir"));
    SetConfigDir(configured.size() > 2 ? configured.c_str() : nullptr);
    cfg.loadTimeDir = cfg.dir;
}

bool ChangeConfigDirBeforeInit(const char* dir) {
    ConfigState& cfg = Config();
    if (!dir || !*dir) return true;
    if (cfg.dir == dir) {
        LogText("CnfDir is not changed");
        return true;
    }
    std::string kept = cfg.dir;
    if (SetConfigDir(dir)) return true;
    LogPair("error setting new CnfDir", dir);
    SetConfigDir(kept.c_str());
    LogPair("restored", kept.c_str());
    return false;
}

std::string RegisterFilePath(std::uint16_t pid, const std::string& serial) {
    const ConfigState& cfg = Config();
    if (cfg.dir.empty()) return {};
    char pidText[16];
    std::snprintf(pidText, sizeof pidText, "pid_%04x", static_cast<unsigned>(pid));
    return JoinPath(cfg.dir, pidText) + "_" + FileNamePart(serial) + ".reg";
}

std::string FileNamePart(std::string text) {
    for (char& c : text) {
        if (IsPathSeparator(c) || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    return text;
}

}  // namespace kovran
