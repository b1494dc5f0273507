#include "inkjet/stamp.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <new>
#include <string_view>
#include <utility>

#include "api/config_dir.h"
#include "api/library.h"
#include "imaging/codec/codec.h"
#include "imaging/output/file_write.h"
#include "inkjet/stamp_internal.h"
#include "platform/file_descriptor.h"
#include "platform/sys_error.h"

namespace kovran::inkjet {

StampRecord& Stamp() {
    return lib().Get<StampRecord>();
}

void DropStampImage() {
    Stamp().image.reset();
    Stamp().imageMirrored = false;
}

void SetStampImage(StampImage image) {
    Stamp().image = std::move(image);
    Stamp().imageMirrored = false;
}

namespace {

bool EndsWithFnt(std::string_view name) {
    constexpr std::string_view kExt = ".fnt";
    if (name.size() < kExt.size()) return false;
    const std::string_view tail = name.substr(name.size() - kExt.size());
    return std::equal(tail.begin(), tail.end(), kExt.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

}  // namespace

std::optional<std::string> FontFilePath(std::string_view fontName) {
    std::string path = Config().dir + "/" + std::string(fontName);
    if (!EndsWithFnt(fontName)) path += ".fnt";
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::size_t maxBytes) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        platform::SetLastSystemErrorFromErrno();
        return std::nullopt;
    }
    std::string bytes;
    if (!platform::ReadAllBytes(fd.get(), maxBytes, bytes)) {
        platform::SetLastSystemErrorFromErrno();
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::optional<StampImage> BlankStampImage(int width, int height, int resolution) {
    StampImage image;
    image.width = width;
    image.height = height;
    image.stride = StampStride(width);
    image.resolution = resolution;
    try {
        image.pixels.assign(
            static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(height), kBlank);
    } catch (const std::bad_alloc&) {
        platform::SetLastSystemError(platform::kErrorNotEnoughMemory);
        return std::nullopt;
    }
    return image;
}

std::string ConfigFile(const char* name) {
    return Config().dir + "/" + name;
}

bool WriteStampImageFile(const StampImage& image, const std::string& path) {
    if (image.width <= 0 || image.height <= 0) return false;
    imaging::codec::Picture picture;
    picture.depth = imaging::codec::Depth::Grey;
    picture.pixels = imaging::ImageBuffer(
        image.width, image.height, 1, kBlank,
        {static_cast<double>(image.resolution), static_cast<double>(image.resolution)});
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.pixels.data() + static_cast<std::size_t>(y) * image.stride;
        std::copy(row, row + image.width, picture.pixels.Row(y));
    }
    const auto bytes = imaging::codec::Encode(picture, {.format = imaging::codec::Format::Bmp});
    if (!bytes) return false;
    int systemError = 0;
    if (imaging::output::WriteFileAtomically(path, *bytes, &systemError) !=
        imaging::output::WriteFailure::None) {
        platform::SetLastSystemError(platform::WinErrorFromErrno(systemError));
        return false;
    }
    return true;
}

}  // namespace kovran::inkjet
