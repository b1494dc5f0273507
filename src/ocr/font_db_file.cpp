#include "ocr/font_db_file.h"

#include <cstdio>
#include <memory>

namespace kovran::ocr {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::uint16_t ReadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Size of a file holding n models.
constexpr std::size_t FileBytes(std::size_t n) {
    return kFontDbHeaderBytes + kFontDbBytesPerModel * n;
}

}  // namespace

const char* FontDbErrorText(FontDbError error) {
    switch (error) {
        case FontDbError::None:
            return "ok";
        case FontDbError::NoHeader:
            return "file shorter than its header";
        case FontDbError::TooManyModels:
            return "more than 2000 models";
        case FontDbError::Truncated:
            return "file shorter than its model count";
        case FontDbError::CannotOpen:
            return "cannot open the file";
        case FontDbError::ReadFailed:
            return "read error";
        case FontDbError::CannotWrite:
            return "cannot write the file";
    }
    return "unknown error";
}

FontDbRead ParseFontDb(std::span<const std::uint8_t> bytes) {
    FontDbRead out;
    if (bytes.size() < kFontDbHeaderBytes) {
        out.error = FontDbError::NoHeader;
        return out;
    }
    const std::size_t n = ReadU16(bytes.data());
    if (n > kMaxFontModels) {
        out.error = FontDbError::TooManyModels;
        return out;
    }
    if (bytes.size() < FileBytes(n)) {
        out.error = FontDbError::Truncated;
        return out;
    }
    const std::uint8_t* codes = bytes.data() + kFontDbHeaderBytes;
    const std::uint8_t* glyphs = codes + n;
    const std::uint8_t* extras = glyphs + 128 * n;
    out.models.resize(n);
    for (std::size_t m = 0; m < n; ++m) {
        FontModel& model = out.models[m];
        model.code = codes[m];
        for (int r = 0; r < 32; ++r) model.glyph.rows[r] = ReadU32(glyphs + 128 * m + 4 * r);
        for (int i = 0; i < 32; ++i) model.extra[i] = extras[32 * m + i];
    }
    return out;
}

FontDbRead ReadFontDbFile(const std::string& path) {
    FontDbRead out;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        out.error = FontDbError::CannotOpen;
        return out;
    }
    // Only the header decides how much is read; the count is checked against
    // the file's length before the buffer exists.
    std::uint8_t header[kFontDbHeaderBytes];
    if (std::fread(header, 1, sizeof header, f.get()) != sizeof header) {
        out.error = std::ferror(f.get()) ? FontDbError::ReadFailed : FontDbError::NoHeader;
        return out;
    }
    const std::size_t n = ReadU16(header);
    if (n > kMaxFontModels) {
        out.error = FontDbError::TooManyModels;
        return out;
    }
    if (std::fseek(f.get(), 0, SEEK_END) != 0) {
        out.error = FontDbError::ReadFailed;
        return out;
    }
    const long length = std::ftell(f.get());
    if (length < 0) {
        out.error = FontDbError::ReadFailed;
        return out;
    }
    if (static_cast<unsigned long>(length) < FileBytes(n)) {
        out.error = FontDbError::Truncated;
        return out;
    }
    std::vector<std::uint8_t> bytes(FileBytes(n));
    if (std::fseek(f.get(), 0, SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()) {
        out.error = FontDbError::ReadFailed;
        return out;
    }
    return ParseFontDb(bytes);
}

std::vector<std::uint8_t> EncodeFontDb(std::span<const FontModel> models) {
    const std::size_t n = models.size();
    if (n > kMaxFontModels) return {};
    std::vector<std::uint8_t> bytes(FileBytes(n), 0);
    bytes[0] = static_cast<std::uint8_t>(n & 0xFF);
    bytes[1] = static_cast<std::uint8_t>(n >> 8);
    std::uint8_t* codes = bytes.data() + kFontDbHeaderBytes;
    std::uint8_t* glyphs = codes + n;
    std::uint8_t* extras = glyphs + 128 * n;
    for (std::size_t m = 0; m < n; ++m) {
        codes[m] = models[m].code;
        for (int r = 0; r < 32; ++r) PutU32(glyphs + 128 * m + 4 * r, models[m].glyph.rows[r]);
        for (int i = 0; i < 32; ++i) extras[32 * m + i] = models[m].extra[i];
    }
    return bytes;
}

FontDbError WriteFontDbFile(const std::string& path, std::span<const FontModel> models) {
    if (models.size() > kMaxFontModels) return FontDbError::TooManyModels;
    const std::vector<std::uint8_t> bytes = EncodeFontDb(models);
    File f(std::fopen(path.c_str(), "wb"));
    if (!f) return FontDbError::CannotWrite;
    if (std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size())
        return FontDbError::CannotWrite;
    if (std::fclose(f.release()) != 0) return FontDbError::CannotWrite;
    return FontDbError::None;
}

bool IsValidFontDbName(std::string_view name) {
    return name.size() >= 4 && name.size() <= 31;
}

}  // namespace kovran::ocr
