// A library instance with its log on and a scripted USB backend installed
// in place of the environment's choice; the transport's pauses are recorded
// instead of slept.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log_fixture.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/fake_usb.h"
#include "device/serial_number.h"
#include "device/usb_selection.h"
#include "root/composition.h"

namespace kovran::test {

class TransportTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        root::InstallComposition();  // the guard's reopen and the device summary
        Ini("[General]\nLog=1\nLogSize=0\n");
        StartAtLoad();
        auto fake = std::make_unique<FakeUsb>();
        usb = fake.get();
        device::InstallUsbBackend(std::move(fake));
        device::Device().usb.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
    }
    void TearDown() override {
        platform::NamedSemaphore::Unlink(Ep0Name());
        LogFixture::TearDown();
    }

    // A serial number of this process, so that parallel runs never share
    // an EP0 semaphore.
    static std::string OwnSerial() {
        return std::to_string(100000 + static_cast<int>(::getpid()) % 900000);
    }

    // The scanner stored and open, as after an initialise.
    FakeNode& Open(std::uint16_t firmware, std::uint16_t pid = 3) {
        FakeNode& node = usb->AddScanner(pid, OwnSerial());
        DeviceRecord& d = device::Device();
        d.vid = 0x7E51;
        d.pid = pid;
        d.path = node.info.path;
        d.serialNumber = OwnSerial();
        const device::SerialNumbers n = device::ParseSerialNumbers(d.serialNumber, true);
        d.serialHigh = n.high;
        d.serialLow = n.low;
        d.firmware = firmware;
        Frame().deviceState.store(DeviceState::Open);
        return usb->nodes.back();
    }

    std::string Ep0Name() const {
        return device::Ep0SemaphoreName(0x7E51, device::Device().pid,
                                        device::ParseSerialNumbers(OwnSerial(), true).low);
    }

    void ExpectScriptDone() {
        EXPECT_TRUE(usb->script.empty()) << usb->script.size() << " transfers never came";
        for (const std::string& m : usb->mismatches) ADD_FAILURE() << m;
    }

    FakeUsb* usb = nullptr;
    std::vector<unsigned> sleeps;
};

}  // namespace kovran::test
