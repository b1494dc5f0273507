// The printer record, the printer commands, and the printer information
// read at the device's open.
#include <algorithm>
#include <array>
#include <cstring>

#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/transport.h"
#include "inkjet/printer.h"

namespace kovran::inkjet {

namespace {

constexpr std::uint16_t kFirmwareLargeBuffer = 0x3102;  // above: buffer from the information
constexpr std::uint16_t kFirmwareOptionFlag = 0x2106;
constexpr std::size_t kBufferUnit = 64;
// Units whose type 1 printer reports a wrong position value; the value
// they need.
constexpr int kFixedPositionValue = 52;
constexpr std::array<std::int32_t, 11> kFixedPositionSerials = {
    301724, 310350, 310712, 310713, 310718, 310725, 310735, 310736, 310738, 310742, 310825};

bool ReadType1(PrinterRecord& p, const DeviceIdentity& id) {
    std::uint8_t info[kInformationBytes] = {};
    if (!CommandIn(kInformation1OrRx10, info, sizeof info)) return false;
    if (info[0] == 0) {
        LogPair("err - ", "inkjet not supported in this mode");
        SetLastResult(KVX_ERR_HW_UNSUPPORTED);
        return false;
    }
    p.referenceDensity = info[2];
    p.positionBase = static_cast<std::uint16_t>(info[3] | info[4] << 8);
    p.secondPositionBase = static_cast<std::uint16_t>(info[5] | info[6] << 8);
    p.stampBufferSize =
        id.firmware > kFirmwareLargeBuffer ? info[8] * kBufferUnit : kType1StampBuffer;
    p.positionValue = info[7];
    const bool quirkSerial = std::find(kFixedPositionSerials.begin(), kFixedPositionSerials.end(),
                                       id.serialLow) != kFixedPositionSerials.end();
    if (id.firmware == kFirmwareLargeBuffer && info[7] == 2 && info[1] == 198 && quirkSerial)
        p.positionValue = kFixedPositionValue;
    p.stampResolution = info[1];
    p.informationRead = true;
    return true;
}

bool ReadType2(PrinterRecord& p, const DeviceIdentity& id) {
    std::uint8_t info[kInformationBytes] = {};
    if (!CommandIn(kInformation2, info, sizeof info)) {
        p.cartridgeOk = false;
        return false;
    }
    p.referenceDensity = info[2];
    p.defaultFire = info[3];
    p.positionBase = info[6];
    p.secondPositionBase = info[7];
    p.optionFlag = id.firmware > kFirmwareOptionFlag && (info[0] & 1) != 0;
    p.informationRead = true;
    return true;
}

}  // namespace

std::unique_lock<std::recursive_mutex> LockPrinter() {
    return std::unique_lock<std::recursive_mutex>(Printer().mutex);
}

PrinterRecord& Printer() {
    return lib().Get<PrinterRecord>();
}

bool Command(std::uint8_t sub) {
    return device::ControlMsg(device::kClassConfig, sub, nullptr, 0, device::Direction::Out) >= 0;
}

bool CommandIn(std::uint8_t sub, std::uint8_t* reply, unsigned length) {
    return device::ControlMsg(device::kClassConfig, sub, reply, length, device::Direction::In) ==
           static_cast<int>(length);
}

bool CommandOut(std::uint8_t sub, const std::uint8_t* data, unsigned length) {
    std::uint8_t copy[kInformationBytes] = {};
    std::memcpy(copy, data, std::min<std::size_t>(length, sizeof copy));
    return device::ControlMsg(device::kClassConfig, sub, copy, length, device::Direction::Out) ==
           static_cast<int>(length);
}

bool ReadPrinterInformation(device::InkjetType type) {
    PrinterRecord& p = Printer();
    const DeviceIdentity id = device::Identity();
    if (type == device::InkjetType::One) {
        p.type1Present = true;
        p.type1Ready = ReadType1(p, id);
        return p.type1Ready;
    }
    p.type2Present = true;
    p.cartridgeOk = true;
    return ReadType2(p, id);
}

}  // namespace kovran::inkjet
