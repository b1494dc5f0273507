// The whole scan pipeline in one process: the simulator's streaming scanner
// installed as the USB backend, the library driven through its exported
// functions in a host's order, and the finished images read back from the
// image records (there is no retrieval call to read them through yet).
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "KovranMS.h"
#include "acquisition/images.h"
#include "acquisition/scan.h"
#include "acquisition/scan_state.h"
#include "api/log_fixture.h"
#include "device/device_record.h"
#include "device/usb_selection.h"
#include "imaging/record_planes.h"
#include "root/composition.h"
#include "sim/document_source.h"
#include "sim/sim_backend.h"
#include "support/fake_clock.h"

namespace kovran::test {

// A test document: paper with a dark bar along its length near the top
// edge (its slope gives the residual skew), a grey ramp and a block
// pattern, so that a shift or a wrong scale shows in the pixel error.
inline sim::SimImage TestPage(int w, int h, bool colour, int variant) {
    sim::SimImage img;
    img.width = w;
    img.height = h;
    img.channels = colour ? 3 : 1;
    img.pixels.assign(static_cast<std::size_t>(w) * h * img.channels, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int v[3] = {235, 225, 215};
            if (y >= 60 && y < 90 && x >= 40 && x < w - 40) {
                v[0] = v[1] = v[2] = 30;
            } else if (y > h / 2 && y < h - 60 && x > 60 && x < w - 60) {
                const int ramp = 60 + (x * 150) / w;
                const bool block = ((x / (80 + 20 * variant)) + (y / 60)) % 2 == 0;
                v[0] = block ? ramp : 200;
                v[1] = block ? 200 - ramp / 2 : 120;
                v[2] = block ? 90 : ramp;
            }
            for (int c = 0; c < img.channels; ++c)
                img.pixels[(static_cast<std::size_t>(y) * w + x) * img.channels + c] =
                    static_cast<std::uint8_t>(colour ? v[c] : v[0]);
        }
    }
    return img;
}

inline void WritePnm(const std::string& path, const sim::SimImage& img) {
    std::ofstream out(path, std::ios::binary);
    out << (img.channels == 3 ? "P6\n" : "P5\n") << img.width << " " << img.height << "\n255\n";
    out.write(reinterpret_cast<const char*>(img.pixels.data()),
              static_cast<std::streamsize>(img.pixels.size()));
}

// What was fed: the document as the feeder takes it and its pixels.
struct FedDocument {
    sim::SimDocument document;
    sim::SimImage front;
    sim::SimImage rear;  // as seen from its own face
};

// The fixture's fixed day, with the system's own pauses and monotonic time:
// the free-running stream and the worker threads' polls take real (short)
// time, so that no wait of the host runs out while a worker is busy.
class RealPauses : public platform::Clock {
  public:
    std::int64_t NowUnixNs() const override { return day_.NowUnixNs(); }
    std::int64_t LocalOffsetSeconds(std::int64_t ns) const override {
        return day_.LocalOffsetSeconds(ns);
    }

  private:
    FakeClock day_;
};

class PipelineTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        pauses_ = std::make_unique<ClockScope>(realPauses_);
        root::InstallComposition();
        Ini("[General]\nLog=1\nLogSize=0\nLogTimeStamp=0\n" + ini);
        StartAtLoad();
    }
    void TearDown() override {
        if (handle > 0) KVXClose(handle);
        handle = 0;
        EXPECT_TRUE(NoThreadLeft());
        device::InstallUsbBackend(nullptr);
        pauses_.reset();
        LogFixture::TearDown();
    }

    static std::string OwnSerial() {
        return std::to_string(300000 + static_cast<int>(::getpid()) % 100000);
    }

    // The default main-family scanner with an empty feeder, and, by default,
    // a sensor without spread (every pixel's gain 1 and dark offset 0).
    static sim::DeviceProfile Profile(bool spread = false) {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.serial = OwnSerial();
        p.documents = 0;
        p.feeder.clear();
        // Room before the leading edge for the corner of a document skewed
        // by a few degrees: the library drops its leading margin unseen.
        p.stream.leadGap300 = 90;
        if (!spread) {
            p.stream.sensor.gainMin = p.stream.sensor.gainMax = 1.0;
            p.stream.sensor.darkMin = p.stream.sensor.darkMax = 0.0;
        }
        return p;
    }

    FedDocument Document(int w, int h, bool colour, int variant, double skew) {
        FedDocument d;
        d.front = TestPage(w, h, colour, variant);
        d.rear = TestPage(w, h, colour, variant + 1);
        const std::string base = dir / ("doc" + std::to_string(files_++));
        const char* ext = colour ? ".ppm" : ".pgm";
        WritePnm(base + "f" + ext, d.front);
        WritePnm(base + "r" + ext, d.rear);
        std::string error;
        const std::string line = base + "f" + ext + " rear=" + base + "r" + ext +
                                 " dpi=300 skew=" + std::to_string(skew);
        EXPECT_TRUE(sim::ParseFeederLine(line, &d.document, &error)) << error;
        return d;
    }

    // Plugs the scanner in and opens it as a host does.
    sim::SimulatedScanner& PlugAndOpen(const sim::DeviceProfile& p) {
        auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{p});
        usb = backend.get();
        device::InstallUsbBackend(std::move(backend));
        device::Device().lockDirectory = lockDir();
        handle = KVXInitialize(nullptr);
        EXPECT_GT(handle, 0) << LogBytes();
        return usb->Device(0);
    }

    // The longest document at 8 inches (parameter 9, lines at 150 dpi): the
    // buffers stay small where the length does not matter.
    void ShortBuffers() { ASSERT_EQ(KVXSetParameter(9, 1200), KVX_OK) << LogBytes(); }

    static bool NoThreadLeft() {
        acquisition::ScanRecord& s = acquisition::ScanState();
        return !s.workers.acq.load() && !s.workers.cor.load() && !s.workers.seq.load() &&
               !WithActiveStream(s, [](const auto&) {}) && !s.async.thread.joinable() &&
               !s.feederThread.joinable();
    }

    static const ImageRecord& Img(int side) {
        return acquisition::Images().myImg[static_cast<std::size_t>(side)];
    }

    std::size_t Count(const std::string& text) const {
        const std::string log = LogBytes();
        std::size_t n = 0;
        for (auto at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
        return n;
    }

    int handle = 0;
    sim::SimBackend* usb = nullptr;
    std::string ini;

  private:
    int files_ = 0;
    RealPauses realPauses_;
    std::unique_ptr<ClockScope> pauses_;
};

}  // namespace kovran::test
