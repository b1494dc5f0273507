#include "api/debug_dirs.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "api/config_dir.h"
#include "api/ini_keys.h"
#include "api/library.h"
#include "api/log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran {
namespace {

constexpr std::int64_t kFileTimePerSecond = 10'000'000;
// One "day" of the purges: 201 in the high 32 bits of a file time.
constexpr std::int64_t kPurgeDay = std::int64_t{201} << 32;
// Where CMC7 images go when their directory cannot be made.
constexpr const char* kCmc7FallbackDir = "/tmp/";

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

}  // namespace

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
    LogText("Using /tmp/");
    return kCmc7FallbackDir;
}

}  // namespace kovran
