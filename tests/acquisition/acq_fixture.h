// A loaded library with a device modelled by its identity alone (no open)
// and the image records behind the mode set-up.
#pragma once

#include <string>

#include "acquisition/images.h"
#include "api/frame_state.h"
#include "api/log_fixture.h"
#include "api/settings.h"
#include "device/acq_mode.h"
#include "device/device_record.h"
#include "platform/usb_vendors.h"

namespace kovran::test {

inline DeviceIdentity Scanner(std::uint16_t firmware, std::uint16_t pid = 3,
                              bool highSpeed = true) {
    DeviceIdentity id;
    id.vid = platform::kMainVendor;
    id.pid = pid;
    id.firmware = firmware;
    id.serialLow = 100000;
    id.highSpeed = highSpeed;
    id.wBlock = highSpeed ? 512 : 64;
    id.capabilities.feature[6] = firmware > 0x2102;
    return id;
}

class AcqFixture : public LogFixture {
  protected:
    void SetUp() override {
        LogFixture::SetUp();
        Ini(ini);
        StartAtLoad();
        InstallImageHooks(acquisition::MakeImageHooks());
        mark_ = LogBytes().size();
    }
    void TearDown() override {
        InstallImageHooks({});
        LogFixture::TearDown();
    }
    // A device open as far as the frame's guard is concerned.
    void Open(const DeviceIdentity& id) {
        device::SetIdentity(id);
        Frame().currentHandle = 1;
        Frame().deviceState = DeviceState::Open;
    }
    void Request(int colour, int front, int rear) {
        Settings().scan.color = colour;
        device::AcqMode().request.requestedDpi = {static_cast<std::int16_t>(rear),
                                                  static_cast<std::int16_t>(front), 0};
    }
    std::string Logged() const { return LogBytes().substr(mark_); }
    ImageRecord& Img(int side) {
        return acquisition::Images().myImg[static_cast<std::size_t>(side)];
    }
    ImageRecord& Next(int side) {
        return acquisition::Images().nextImg[static_cast<std::size_t>(side)];
    }

    std::string ini = "[General]\nLogTimeStamp=0\n";

  private:
    std::size_t mark_ = 0;
};

}  // namespace kovran::test
