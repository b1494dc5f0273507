// Drives a simulated scanner's acquisition as a host would (start command,
// GO, bulk reads) and splits what it streams with a small reader of its
// own, written from the stream's description rather than from the
// simulator's or the library's code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/sys_error.h"
#include "platform/usb_backend.h"
#include "sim/sim_backend.h"
#include "sim_test_util.h"

namespace kovran::sim::streamtest {

inline constexpr std::uint16_t kFw = 0x5012;

struct StartBits {
    int mode = 3;
    bool colour = false;
    bool front = true;
    bool rear = true;
    bool strip = false;
    bool backlight = false;
    std::uint16_t channelLines = 60000;
    std::uint16_t trailing = 750;  // 2.5 inches at 300 lines per inch
    std::uint8_t lamp = 200;       // every lamp level (above 63: the brightest)
};

inline std::vector<std::uint8_t> StartCommandBytes(const StartBits& s) {
    std::vector<std::uint8_t> b(33, 0);
    b[0] = static_cast<std::uint8_t>(s.mode);
    b[1] = static_cast<std::uint8_t>((s.colour ? 1 : 0) | (s.front ? 2 : 0) | (s.rear ? 4 : 0));
    b[2] = static_cast<std::uint8_t>(0x09 | (s.strip ? 0x20 : 0));
    b[3] = static_cast<std::uint8_t>(0x04 | (s.backlight ? 0x40 : 0));
    for (int i = 4; i <= 9; ++i) b[i] = s.lamp;
    b[10] = static_cast<std::uint8_t>(s.channelLines);
    b[11] = static_cast<std::uint8_t>(s.channelLines >> 8);
    b[12] = static_cast<std::uint8_t>(s.trailing);
    b[13] = static_cast<std::uint8_t>(s.trailing >> 8);
    if (s.backlight) b[18] = 150;
    return b;
}

// One bulk read as the acquisition thread makes it.
struct Read {
    int error = 0;
    std::size_t bytes = 0;
};

class Rig {
  public:
    explicit Rig(DeviceProfile profile) : backend_(std::vector<DeviceProfile>{profile}) {
        auto list = backend_.Enumerate();
        int error = -1;
        dev_ = backend_.Open(list.at(0).path, &error);
    }
    SimulatedScanner& Scanner() { return backend_.Device(0); }
    platform::UsbDevice& Dev() { return *dev_; }

    int SendStart(const StartBits& s) {
        return simio::Write(*dev_, kFw, kClassD1, 0x33, StartCommandBytes(s));
    }
    int Go() { return simio::Command(*dev_, kFw, kClassD1, 0x34); }
    int End() {
        const int a = simio::Command(*dev_, kFw, kClassD1, 0x35);
        const int b = simio::Command(*dev_, kFw, kClassD1, 0x39);
        return a != 0 ? a : b;
    }

    // Reads once into out (appended); waits as the host would.
    Read ReadBlock(std::size_t block, std::vector<std::uint8_t>* out, unsigned waitMs = 1000) {
        std::vector<std::uint8_t> buffer(block, 0xFF);
        platform::BulkTransferId id = 0;
        Read r;
        r.error = dev_->SubmitBulk(platform::BulkPipe::In, buffer.data(), block, &id);
        if (r.error != 0) return r;
        r.error = dev_->WaitBulk(id, &r.bytes, waitMs);
        if (r.error == platform::kErrorIoIncomplete) {
            dev_->CancelBulk(platform::BulkPipe::In);
            std::size_t ignored = 0;
            dev_->PollBulk(id, &ignored);
        }
        out->insert(out->end(), buffer.begin(),
                    buffer.begin() + static_cast<std::ptrdiff_t>(r.bytes));
        return r;
    }

    // The whole stream, up to the short read that ends it.
    std::vector<std::uint8_t> ReadAll(std::size_t block = 1 << 20) {
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 10000; ++i) {
            const Read r = ReadBlock(block, &out);
            if (r.error != 0 || r.bytes < block) break;
        }
        return out;
    }

    // Start, GO, the whole stream, end.
    std::vector<std::uint8_t> Acquire(const StartBits& s, std::size_t block = 1 << 20) {
        EXPECT_EQ(SendStart(s), 0);
        EXPECT_EQ(Go(), 0);
        std::vector<std::uint8_t> bytes = ReadAll(block);
        EXPECT_EQ(End(), 0);
        return bytes;
    }

  private:
    SimBackend backend_;
    std::unique_ptr<platform::UsbDevice> dev_;
};

// The layout of one scan line, as a host computes it from the mode.
struct Layout {
    int channels = 1;     // channel lines per scan line
    int frontPixels = 0;  // 0: side off
    int rearPixels = 0;
    int strip = 0;  // magnetic samples after each channel line
    int backlightPixels = 0;
    std::size_t LineBytes() const {
        return static_cast<std::size_t>(channels) * (frontPixels + rearPixels + strip) +
               static_cast<std::size_t>(backlightPixels);
    }
};

// One scan line split into its parts.
struct SplitLine {
    std::vector<std::vector<std::uint8_t>> front;  // per channel
    std::vector<std::vector<std::uint8_t>> rear;
    std::vector<std::vector<std::uint8_t>> strip;
    std::vector<std::uint8_t> backlight;
};

inline SplitLine Split(const std::uint8_t* line, const Layout& l) {
    SplitLine s;
    std::size_t at = 0;
    for (int c = 0; c < l.channels; ++c) {
        std::vector<std::uint8_t> f(static_cast<std::size_t>(l.frontPixels));
        std::vector<std::uint8_t> r(static_cast<std::size_t>(l.rearPixels));
        if (l.frontPixels > 0 && l.rearPixels > 0) {
            // Byte by byte: even bytes front, odd bytes rear.
            for (int i = 0; i < l.frontPixels; ++i) {
                f[i] = line[at + 2 * i];
                r[i] = line[at + 2 * i + 1];
            }
        } else if (l.frontPixels > 0) {
            std::copy_n(line + at, l.frontPixels, f.begin());
        } else {
            std::copy_n(line + at, l.rearPixels, r.begin());
        }
        at += static_cast<std::size_t>(l.frontPixels + l.rearPixels);
        s.strip.emplace_back(line + at, line + at + l.strip);
        at += static_cast<std::size_t>(l.strip);
        s.front.push_back(std::move(f));
        s.rear.push_back(std::move(r));
    }
    s.backlight.assign(line + at, line + at + l.backlightPixels);
    return s;
}

}  // namespace kovran::sim::streamtest
