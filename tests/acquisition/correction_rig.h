// A synthetic stream for the correction: the records of a duplex single-
// buffer scan (front and rear interleaved byte by byte in each channel
// line, optional magnetic strip after each channel line) laid out as the
// acquisition lays them, and the raw lines the device would send.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/correction.h"
#include "device/acq_mode.h"

namespace kovran::test {

struct CorrectionRig {
    int sensorPixels = 128;
    int left = 14;
    int width = 100;
    int channels = 1;
    int strip = 0;  // magnetic bytes after each channel line
    int lines = 40;
    bool lead = true;  // the raw stream starts one stride after the lines
    bool rearOn = true;
    std::uint16_t dpi = 300;

    std::shared_ptr<ImageMemory> memory;
    acquisition::StreamState stream;
    std::atomic<bool> endFlag{false};
    std::atomic<bool> stop{false};
    std::unique_ptr<acquisition::CorrectionBlock> block;
    std::vector<std::uint8_t> cmc7;

    int Pitch() const { return rearOn ? 2 * sensorPixels : sensorPixels; }
    int Stride() const { return Pitch() * channels; }
    std::size_t LineLength() const { return static_cast<std::size_t>(Stride() + channels * strip); }

    // Values of the ideal document: front and rear pixels, strip bytes.
    std::function<std::uint8_t(int y, int c, int x)> front = [](int y, int c, int x) {
        return static_cast<std::uint8_t>(40 + (x * 3 + y + c * 5) % 150);
    };
    std::function<std::uint8_t(int y, int c, int x)> rear = [](int y, int c, int x) {
        return static_cast<std::uint8_t>(220 - (x * 5 + y + c * 3) % 150);
    };
    std::function<std::uint8_t(int y, int c, int k)> samples = [](int y, int c, int k) {
        return static_cast<std::uint8_t>((y * 11 + c * 3 + k) % 256);
    };

    void Build() {
        const std::size_t length = LineLength();
        const std::size_t leadBytes = lead ? static_cast<std::size_t>(Stride()) : 0;
        memory = ImageMemory::Allocate(leadBytes + (static_cast<std::size_t>(lines) + 16) * length);
        block = std::make_unique<acquisition::CorrectionBlock>();
        auto& b = *block;
        ImageRecord f;
        f.side = kFront;
        f.channels = static_cast<std::uint8_t>(channels);
        f.bytesPerPixel = static_cast<std::uint8_t>(channels);
        f.left = static_cast<std::int16_t>(left);
        f.width = static_cast<std::uint16_t>(width);
        f.right = static_cast<std::uint16_t>(left + width);
        f.sensorPixels = static_cast<std::uint16_t>(sensorPixels);
        f.channelPitch = static_cast<std::uint16_t>(Pitch());
        f.stride = static_cast<std::uint16_t>(Stride());
        f.dpiH = f.dpiV = dpi;
        f.Height = static_cast<std::uint16_t>(lines);
        f.alloc = memory;
        f.data = memory->Bytes();
        f.lead = static_cast<std::uint16_t>(leadBytes);
        f.write = f.data + leadBytes;
        f.enabled = true;
        b.records[kFront] = f;
        if (rearOn) {
            ImageRecord r = f;
            r.side = kRear;
            r.data = f.data + sensorPixels;
            r.write = f.write + sensorPixels;
            b.records[kRear] = r;
        }
        b.raw = f.write;
        b.rawLineLength = length;
        b.transferLength = length * static_cast<std::size_t>(lines);
        b.stripBytes = static_cast<std::size_t>(strip);
        if (strip != 0) {
            cmc7.assign(static_cast<std::size_t>(lines * channels * strip) * 2, 255);
            b.cmc7 = cmc7.data();
            b.cmc7Capacity = cmc7.size();
        }
        b.stream = &stream;
        b.endRequest = &endFlag;
        b.stopFlag = &stop;
    }

    // The ideal raw line y as the device sends it.
    std::vector<std::uint8_t> IdealLine(int y) const {
        std::vector<std::uint8_t> line;
        for (int c = 0; c < channels; ++c) {
            for (int x = 0; x < sensorPixels; ++x) {
                line.push_back(front(y, c, x));
                if (rearOn) line.push_back(rear(y, c, x));
            }
            for (int k = 0; k < strip; ++k) line.push_back(samples(y, c, k));
        }
        return line;
    }
    std::vector<std::uint8_t> IdealStream() const {
        std::vector<std::uint8_t> all;
        for (int y = 0; y < lines; ++y) {
            const auto l = IdealLine(y);
            all.insert(all.end(), l.begin(), l.end());
        }
        return all;
    }
    // Writes bytes into the raw buffer, at most the transfer length.
    void WriteRaw(const std::vector<std::uint8_t>& bytes) {
        std::memcpy(block->raw, bytes.data(), std::min(bytes.size(), block->transferLength));
    }
    // The whole stream has arrived and the acquisition ended well.
    void Arrived() {
        stream.receivedBytes.store(block->transferLength);
        stream.acq.ok.store(true);
        stream.acq.done.store(true);
    }

    std::uint8_t FrontAt(int y, int c, int x) const {
        return block->records[kFront]
            .data[static_cast<std::size_t>(y) * Stride() + static_cast<std::size_t>(c) * Pitch() +
                  static_cast<std::size_t>(x)];
    }
    std::uint8_t RearAt(int y, int c, int x) const {
        return block->records[kRear]
            .data[static_cast<std::size_t>(y) * Stride() + static_cast<std::size_t>(c) * Pitch() +
                  static_cast<std::size_t>(x)];
    }
};

}  // namespace kovran::test
