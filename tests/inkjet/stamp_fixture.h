// A fresh library whose configuration directory and log live in one scratch
// directory, with helpers to build stamp inputs and read back what the
// stamp code writes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/log_state.h"
#include "inkjet/stamp.h"
#include "support/temp_dir.h"

namespace kovran::inkjet::test {

using kovran::test::ReadFileBytes;
using kovran::test::TempDir;
using kovran::test::WriteFileBytes;

class StampFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        Config().dir = tmp_.path();
        Config().valid = true;
        LogRecord().on = true;
        LogRecord().timeStamp = false;
        LogRecord().filePath = tmp_ / "test.log";
        LogRecord().lockName = "kovran_stamp_test_" + std::to_string(::getpid());
        LogRecord().lockDirectory = tmp_.path();
        ClearLog();
    }
    void TearDown() override { ResetLibraryState(); }

    std::string Log() const { return ReadFileBytes(tmp_ / "test.log"); }
    static std::string Squeezed(const std::string& s) {
        std::string out;
        for (const char c : s)
            if (c != ' ' || out.empty() || out.back() != ' ') out += c;
        return out;
    }
    void ClearLog() { WriteFileBytes(tmp_ / "test.log", ""); }
    // Whether the log holds the line's texts in order; the writers' own
    // separators (one or more blanks) count as one blank.
    ::testing::AssertionResult Logged(const std::string& text) const {
        const std::string log = Log();
        if (Squeezed(log).find(Squeezed(text)) != std::string::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no \"" << text << "\" in log:\n" << log;
    }

    // A stamp image from rows of text, '#' ink and anything else blank.
    static StampImage ImageOf(const std::vector<std::string>& rows, int resolution = 100) {
        StampImage image;
        image.height = static_cast<int>(rows.size());
        image.width = rows.empty() ? 0 : static_cast<int>(rows[0].size());
        image.stride = (image.width + 7) / 8 * 8;
        image.resolution = resolution;
        image.pixels.assign(static_cast<std::size_t>(image.stride) * image.height, 255);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x)
                if (rows[y][x] == '#') image.pixels[y * image.stride + x] = 0;
        return image;
    }
    // The image as rows of '#' and '.', pixels below 128 as ink.
    static std::vector<std::string> RowsOf(const StampImage& image) {
        std::vector<std::string> rows;
        for (int y = 0; y < image.height; ++y) {
            std::string row;
            for (int x = 0; x < image.width; ++x)
                row += image.pixels[y * image.stride + x] < 128 ? '#' : '.';
            rows.push_back(row);
        }
        return rows;
    }

    TempDir tmp_;
};

// A hand-made ".fnt" file: the character line, the widths (plus the line
// end's slot), then each glyph's rows, each row ended by the line end.
struct FntGlyph {
    char c;
    std::vector<std::string> rows;  // all of one width
};
inline std::string FntFile(const std::vector<FntGlyph>& glyphs, const std::string& lineEnd = "\n") {
    std::string out;
    for (const auto& g : glyphs) out += g.c;
    out += lineEnd;
    for (const auto& g : glyphs) out += static_cast<char>(g.rows.at(0).size());
    out += '\0';
    for (const auto& g : glyphs)
        for (const auto& row : g.rows) out += row + lineEnd;
    return out;
}

// Little-endian fields of a file read back by hand.
inline std::uint32_t U32(const std::string& b, std::size_t at) {
    return static_cast<std::uint8_t>(b.at(at)) | static_cast<std::uint8_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint8_t>(b.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(b.at(at + 3))) << 24;
}
inline std::uint16_t U16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b.at(at)) |
                                      static_cast<std::uint8_t>(b.at(at + 1)) << 8);
}

}  // namespace kovran::inkjet::test
