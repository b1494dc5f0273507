#include "sim/image_file.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace kovran::sim {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

bool SizeFits(long long width, long long height, int channels, std::string* error) {
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
        *error = "image size " + std::to_string(width) + " x " + std::to_string(height) +
                 " outside 1.." + std::to_string(kMaxImageSide);
        return false;
    }
    if (static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height) *
            static_cast<unsigned long long>(channels) >
        kMaxImageBytes) {
        *error = "image larger than " + std::to_string(kMaxImageBytes >> 20) + " MiB";
        return false;
    }
    return true;
}

bool IsSpace(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// One header number of a PNM file; comments run from '#' to the line end.
bool PnmNumber(const std::uint8_t* data, std::size_t size, std::size_t* pos, long long* out) {
    for (;;) {
        while (*pos < size && IsSpace(data[*pos])) ++*pos;
        if (*pos < size && data[*pos] == '#') {
            while (*pos < size && data[*pos] != '\n') ++*pos;
            continue;
        }
        break;
    }
    long long v = 0;
    std::size_t digits = 0;
    while (*pos < size && data[*pos] >= '0' && data[*pos] <= '9') {
        v = v * 10 + (data[*pos] - '0');
        ++*pos;
        if (++digits > 9) return false;
    }
    *out = v;
    return digits > 0;
}

bool ReadPng(const std::string& path, SimImage* out, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = path + ": " + image.message;
        return false;
    }
    const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
    image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    const int channels = colour ? 3 : 1;
    if (!SizeFits(image.width, image.height, channels, error)) {
        png_image_free(&image);
        *error = path + ": " + *error;
        return false;
    }
    SimImage img;
    img.width = static_cast<int>(image.width);
    img.height = static_cast<int>(image.height);
    img.channels = channels;
    img.pixels.resize(PNG_IMAGE_SIZE(image));
    // A white background under any transparency, as paper would show.
    png_color background{255, 255, 255};
    if (!png_image_finish_read(&image, &background, img.pixels.data(), 0, nullptr)) {
        *error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    *out = std::move(img);
    return true;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::size_t maxBytes, std::vector<std::uint8_t>* out,
                   std::string* error) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    out->clear();
    std::uint8_t chunk[65536];
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f.get());
        if (n == 0) break;
        if (out->size() + n > maxBytes) {
            *error = path + ": larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        out->insert(out->end(), chunk, chunk + n);
    }
    if (std::ferror(f.get())) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

bool DecodePnm(const std::uint8_t* data, std::size_t size, SimImage* out, std::string* error) {
    if (size < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '6')) {
        *error = "not a binary PGM or PPM";
        return false;
    }
    const int channels = data[1] == '6' ? 3 : 1;
    std::size_t pos = 2;
    long long width = 0, height = 0, maxval = 0;
    if (!PnmNumber(data, size, &pos, &width) || !PnmNumber(data, size, &pos, &height) ||
        !PnmNumber(data, size, &pos, &maxval)) {
        *error = "truncated or malformed PNM header";
        return false;
    }
    if (maxval != 255) {
        *error = "PNM maximum value " + std::to_string(maxval) + " (only 255 is read)";
        return false;
    }
    if (pos >= size || !IsSpace(data[pos])) {
        *error = "PNM header without its separator";
        return false;
    }
    ++pos;
    if (!SizeFits(width, height, channels, error)) return false;
    const std::size_t bytes = static_cast<std::size_t>(width) * height * channels;
    if (size - pos < bytes) {
        *error = "PNM data truncated: " + std::to_string(size - pos) + " of " +
                 std::to_string(bytes) + " bytes";
        return false;
    }
    out->width = static_cast<int>(width);
    out->height = static_cast<int>(height);
    out->channels = channels;
    out->pixels.assign(data + pos, data + pos + bytes);
    return true;
}

bool ReadImageFile(const std::string& path, SimImage* out, std::string* error) {
    std::uint8_t magic[8] = {};
    {
        FilePtr f(std::fopen(path.c_str(), "rb"));
        if (!f) {
            *error = path + ": cannot open (" + std::strerror(errno) + ")";
            return false;
        }
        if (std::fread(magic, 1, sizeof magic, f.get()) < 2) {
            *error = path + ": too short for an image";
            return false;
        }
    }
    if (png_sig_cmp(magic, 0, sizeof magic) == 0) return ReadPng(path, out, error);
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, kMaxImageBytes + 4096, &bytes, error)) return false;
    if (!DecodePnm(bytes.data(), bytes.size(), out, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace kovran::sim
