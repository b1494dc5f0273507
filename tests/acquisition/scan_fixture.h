// A library with a scanner identity, the image records and the fake
// scanner behind the transport: scans run the real acquisition threads on
// the fixture's manual clock.
#pragma once

#include <memory>
#include <string>

#include "acquisition/acq_fixture.h"
#include "acquisition/fake_scanner.h"
#include "acquisition/scan.h"
#include "acquisition/scan_state.h"
#include "acquisition/virtual_clock.h"
#include "device/device_record.h"
#include "device/usb_selection.h"

namespace kovran::test {

class ScanFixture : public AcqFixture {
  protected:
    void SetUp() override {
        AcqFixture::SetUp();
        // The workers' pauses run on virtual time (see virtual_clock.h).
        workerClock_ = std::make_unique<ClockScope>(virtualClock);
        device::InstallUsbBackend(std::make_unique<FakeScannerBackend>(scanner));
        device::Device().lockDirectory = lockDir();
    }
    void TearDown() override {
        // Nothing may run past the test.
        acquisition::AsyncThrClose();
        acquisition::ADFThrClose();
        device::InstallUsbBackend(nullptr);
        workerClock_.reset();
        AcqFixture::TearDown();
    }
    // A scanner of the main family, open, with a short longest document so
    // that buffers stay small.
    void OpenScanner(std::uint16_t firmware = 0x5012, std::uint16_t pid = 3) {
        DeviceIdentity id = Scanner(firmware, pid);
        id.path = "\\\\?\\USB#VID_7E51&PID_0003#1-1#{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}";
        Open(id);
        acquisition::Images().maxHeight150 = 100;
        Settings().scan.color = 1;
        Settings().scan.msecWaitDoc = 0;
    }
    // The bytes of one full scan's transfer at the resolutions created.
    std::size_t TransferBytes() const {
        const ImageRecord& f = acquisition::Images().myImg[kFront];
        return static_cast<std::size_t>(f.size);
    }
    // A document of whole raw lines at the resolutions created: the device
    // ends a document on a line's boundary.
    std::size_t WholeLines(int lines) const {
        return static_cast<std::size_t>(acquisition::Images().myImg[kFront].stride) *
               static_cast<std::size_t>(lines);
    }
    bool NoWorkerRunning() const {
        acquisition::ScanRecord& s = acquisition::ScanState();
        return !s.workers.acq.load() && !s.workers.cor.load() && !s.workers.seq.load() &&
               !WithActiveStream(s, [](const auto&) {}) && !s.async.thread.joinable() &&
               !s.feederThread.joinable();
    }

    std::shared_ptr<FakeScanner> scanner = std::make_shared<FakeScanner>();
    VirtualClock virtualClock;

  private:
    std::unique_ptr<ClockScope> workerClock_;
};

}  // namespace kovran::test
