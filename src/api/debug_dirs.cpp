#include "api/debug_dirs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "api/config_dir.h"
#include "api/ini_keys.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/clock.h"
#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran {
namespace {

constexpr std::int64_t kFileTimePerSecond = 10'000'000;
// One "day" of the purges: 201 in the high 32 bits of a file time.
constexpr std::int64_t kPurgeDay = std::int64_t{201} << 32;
constexpr mode_t kPrivateMode = 0700;

// The instant of today's local midnight as a UTC file time. The offset is
// taken at midnight itself (looked up twice), so a change of daylight
// saving time during the day does not move it.
platform::FileTime LocalMidnightUtc() {
    const platform::Clock& clock = platform::CurrentClock();
    platform::LocalTime midnight = platform::LocalNow();
    midnight.hour = midnight.minute = midnight.second = midnight.millisecond = 0;
    platform::FileTime asUtc = platform::FileTimeFromUtc(midnight);
    std::int64_t offset = clock.LocalOffsetSeconds(clock.NowUnixNs());
    for (int pass = 0; pass < 2; ++pass) {
        platform::FileTime guess = asUtc - offset * kFileTimePerSecond;
        offset = clock.LocalOffsetSeconds(platform::UnixNsFromFileTime(guess));
    }
    return asUtc - offset * kFileTimePerSecond;
}

bool IsDebugImageName(const std::string& name) {
    return platform::WildcardMatch("ocr_*.jpg", name) || platform::WildcardMatch("iqa_*.jpg", name);
}

std::string WithSeparator(std::string dir) {
    if (dir.empty() || !IsPathSeparator(dir.back())) dir.push_back('/');
    return dir;
}

// Where CMC7 images go when their directory beside the configuration
// directory cannot be made, best first: the user's runtime directory, then
// a directory of this user in the temporary folder.
std::vector<std::string> PrivateCmc7Candidates() {
    std::vector<std::string> dirs;
    // Relative values are invalid by the XDG rules and ignored.
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && run[0] == '/')
        dirs.push_back(WithSeparator(run) + "kovran-cmc7/");
    const char* tmp = std::getenv("TMPDIR");
    const std::string tmpDir = tmp && tmp[0] == '/' ? tmp : "/tmp";
    dirs.push_back(WithSeparator(tmpDir) + "kovran-cmc7-" + std::to_string(::geteuid()) + "/");
    return dirs;
}

}  // namespace

bool EnsurePrivateDirectory(const std::string& path) {
    std::string dir = path;
    // A trailing separator would make the open below follow a link.
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (::mkdir(dir.c_str(), kPrivateMode) != 0 && errno != EEXIST) {
        platform::SetLastSystemErrorFromErrno();
        return false;
    }
    // Checked and narrowed through a descriptor of the directory itself, so
    // that a link or a swap between check and change cannot redirect them.
    platform::UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        // ELOOP (a link) and ENOTDIR (a file) alike: not a directory of ours.
        platform::SetLastSystemError(platform::kErrorAccessDenied);
        return false;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || st.st_uid != ::geteuid()) {
        platform::SetLastSystemError(platform::kErrorAccessDenied);
        return false;
    }
    if ((st.st_mode & 07777) != kPrivateMode && ::fchmod(fd.get(), kPrivateMode) != 0) {
        platform::SetLastSystemErrorFromErrno();
        return false;
    }
    return true;
}

std::string PrepareDebugImageDir() {
    const std::string& cnfDir = Config().dir;
    std::string dir = ReadIniText(IniKeyOf("Ocr", "DebugImgPath"), cnfDir + "/Img/");
    if (!EnsureDirectoryLevel(dir)) dir = cnfDir;
    LogPair("saving debug images in", dir.c_str());
    return dir;
}

void PurgeDebugImages(const std::string& dir, int days) {
    if (days < 0 || dir.empty()) return;
    platform::FileTime limit = platform::FileTimeNowUtc();
    if (days > 0) {
        limit = LocalMidnightUtc();
        // A limit before 1601 would wrap; no file is that old.
        if (static_cast<std::int64_t>(days) > limit / kPurgeDay) return;
        limit -= static_cast<std::int64_t>(days) * kPurgeDay;
    }
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) return;
    for (const auto& entry : it) {
        std::error_code fileEc;
        if (!entry.is_regular_file(fileEc)) continue;
        const std::string name = entry.path().filename().string();
        if (!IsDebugImageName(name)) continue;
        const std::string path = entry.path().string();
        auto written = platform::FileLastWriteTime(path);
        if (written && *written < limit) platform::DeleteFileAt(path);
    }
}

std::string PrepareCmc7ImageDir() {
    const std::string& cnfDir = Config().dir;
    std::string dir;
    if (!cnfDir.empty()) {
        const std::size_t cut = cnfDir.find("V3r");
        dir = cut == 0 ? std::string("./") : cnfDir.substr(0, cut);
        if (!IsPathSeparator(dir.back())) dir.push_back('/');
        dir.append("CMC7ImgDir/");
    }
    if (!dir.empty() && EnsureDirectoryLevel(dir)) return dir;
    int err = dir.empty() ? platform::kErrorPathNotFound : platform::LastSystemError();
    LogTriple("err - ", "SaveCMC7ImgDir", cnfDir.c_str());
    LogValue("Not able to create default saveCMC7ImgDir", err);
    // The images carry account numbers: never a folder other users can read.
    for (const std::string& candidate : PrivateCmc7Candidates()) {
        if (EnsurePrivateDirectory(candidate)) {
            LogPair("Using", candidate.c_str());
            return candidate;
        }
        LogTriple("war - ", "CMC7 image directory is not private", candidate.c_str());
    }
    LogPair("err - ", "CMC7 images are not saved");
    return {};
}

}  // namespace kovran
