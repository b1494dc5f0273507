// A library instance with its log on and the simulator installed in place
// of the environment's choice, its vendor control transfers answered by a
// scripted chat; the transport's pauses run on the fixture's manual clock,
// which records them instead of sleeping.
#pragma once

#include <unistd.h>

#include <string>
#include <vector>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log_fixture.h"
#include "device/device_record.h"
#include "device/ep0_lock.h"
#include "device/serial_number.h"
#include "device/usb_selection.h"
#include "root/composition.h"
#include "sim/scripted_chat.h"
#include "sim/sim_backend.h"

namespace kovran::test {

class TransportTest : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        root::InstallComposition();  // the guard's reopen and the device summary
        Ini("[General]\nLog=1\nLogSize=0\n");
        StartAtLoad();
        auto backend = std::make_unique<sim::SimBackend>(std::vector<sim::DeviceProfile>{});
        usb = backend.get();
        device::InstallUsbBackend(std::move(backend));
        device::Device().lockDirectory = lockDir();
    }

    // The device's endpoint-0 lock as another process would open it.
    std::unique_ptr<platform::ProcessLock> Ep0Lock() const {
        return platform::ProcessLock::Open(Ep0Name(), lockDir());
    }

    // A serial number of this process, so that parallel runs never share
    // an EP0 semaphore.
    static std::string OwnSerial() {
        return std::to_string(100000 + static_cast<int>(::getpid()) % 900000);
    }

    // A scanner of the main vendor plugged in at `location`, talking
    // through the fixture's chat.
    sim::SimulatedScanner& AddScanner(std::uint16_t pid, const std::string& serial,
                                      const std::string& location = "1-1",
                                      std::uint16_t vid = platform::kMainVendor) {
        sim::DeviceProfile p = sim::DefaultDeviceProfile();
        p.vid = vid;
        p.pid = pid;
        p.serial = serial;
        p.location = location;
        sim::SimulatedScanner& scanner = usb->AddDevice(p);
        scanner.AttachChat(chat);
        return scanner;
    }

    // The scanner stored and open, as after an initialise.
    sim::SimulatedScanner& Open(std::uint16_t firmware, std::uint16_t pid = 3) {
        sim::SimulatedScanner& scanner = AddScanner(pid, OwnSerial());
        DeviceIdentity id;
        id.vid = platform::kMainVendor;
        id.pid = pid;
        id.path = scanner.Path();
        id.serialNumber = OwnSerial();
        const device::SerialNumbers n =
            device::ParseSerialNumbers(id.serialNumber, platform::kMainVendor);
        id.serialHigh = n.high;
        id.serialLow = n.low;
        id.firmware = firmware;
        device::SetIdentity(id);
        Frame().deviceState.store(DeviceState::Open);
        return scanner;
    }

    static void SetFirmware(std::uint16_t firmware) {
        device::UpdateIdentity([&](DeviceIdentity& id) { id.firmware = firmware; });
    }

    std::string Ep0Name() const {
        return device::Ep0SemaphoreName(
            platform::kMainVendor, device::Identity().pid,
            device::ParseSerialNumbers(OwnSerial(), platform::kMainVendor).low);
    }

    // The exact setup packets the transport must send, with their answers.
    sim::ScriptedChat::Step ExpectIn(std::uint8_t requestType, std::uint8_t request,
                                     std::uint16_t value, std::uint16_t length,
                                     std::vector<std::uint8_t> reply = {}) {
        sim::ScriptedChat::Step step =
            chat->Expect(sim::ChatRequest::Wire({requestType, request, value, 0, length}));
        step.Reply(reply.empty() ? std::vector<std::uint8_t>(length, 0) : std::move(reply));
        return step;
    }
    sim::ScriptedChat::Step ExpectOut(std::uint8_t request, std::uint16_t value,
                                      std::vector<std::uint8_t> data) {
        const auto length = static_cast<std::uint16_t>(data.size());
        sim::ScriptedChat::Step step =
            chat->Expect(sim::ChatRequest::Wire({0x40, request, value, 0, length}, data));
        step.Ok();
        return step;
    }
    void ExpectError(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                     std::uint16_t length, int error) {
        chat->Expect(sim::ChatRequest::Wire({requestType, request, value, 0, length})).Fail(error);
    }

    void ExpectScriptDone() {
        for (const std::string& m : chat->Verify()) ADD_FAILURE() << m;
    }

    std::vector<unsigned> Sleeps() const { return clock.Sleeps(); }

    sim::SimBackend* usb = nullptr;
    // The firmware only names commands in mismatch messages here: the
    // expectations are setup packets.
    std::shared_ptr<sim::ScriptedChat> chat = std::make_shared<sim::ScriptedChat>(0x3000);
};

}  // namespace kovran::test
