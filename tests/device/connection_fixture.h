// A library instance loaded through the real load path with the simulator
// installed: the scanners of the test's profiles, opened through the
// connection as an initialise opens them, on the fixture's manual clock.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "device/connection.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/usb_selection.h"
#include "root/composition.h"
#include "sim/sim_backend.h"

namespace kovran::test {

class ConnectionTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        root::InstallComposition();
        Ini("[General]\nLog=1\nLogSize=0\n" + ini);
        StartAtLoad();
    }

    // A serial number of this process, made of `prefix` and the process id.
    static std::string OwnSerial(int prefix = 1) {
        return std::to_string(prefix * 100000 + static_cast<int>(::getpid()) % 100000);
    }

    // The default scanner with this process's serial number.
    static sim::DeviceProfile Default() {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.serial = OwnSerial();
        return p;
    }

    // Plugs the scanners in (replacing any before) and returns the first.
    sim::SimulatedScanner& Plug(const std::vector<sim::DeviceProfile>& profiles) {
        auto backend = std::make_unique<sim::SimBackend>(profiles);
        usb = backend.get();
        device::InstallUsbBackend(std::move(backend));
        // The test's own lock files, gone with its folder.
        device::Device().lockDirectory = lockDir();
        return usb->Device(0);
    }

    // Plugs one scanner in and initialises it; the handle or -1.
    int Open(const sim::DeviceProfile& profile) {
        Plug({profile});
        return device::InitializeDevice("", -1, nullptr);
    }

    std::string ini;
    sim::SimBackend* usb = nullptr;
};

}  // namespace kovran::test
