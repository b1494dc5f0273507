#include "device/utility_commands.h"

#include <algorithm>
#include <cstring>

#include "api/frame_state.h"
#include "api/log.h"
#include "device/control_request.h"
#include "device/device_record.h"
#include "device/transport.h"
#include "platform/clock.h"

namespace kovran::device {

namespace {

constexpr std::uint32_t kBuzzerOn = 0x22;
constexpr std::uint32_t kBuzzerOff = 0x23;
constexpr std::uint32_t kHardwareKey = 8;
constexpr std::uint32_t kPhotoTuningWrite = 0x14;
constexpr std::uint32_t kPhotoTuningRead = 0x15;
constexpr std::uint16_t kLastFirmwareWithoutKey = 0x3005;

// The failure a command left: the transport's negative result, else -1.
KVXResult CommandFailure() {
    const std::int32_t last = LastResult();
    const KVXResult result = last < 0 ? last : KVX_ERR_GENERIC;
    SetLastResult(result);
    return result;
}

bool PhotoTuningSupported() {
    if (Identity().capabilities.photoTuning) return true;
    LogPair("err - ", "Photo tuning not supported");
    SetLastResult(KVX_ERR_HW_UNSUPPORTED);
    return false;
}

}  // namespace

KVXResult Buzz(std::uint8_t tone, std::uint16_t durationMs) {
    if (!Identity().capabilities.buzzer) return KVX_ERR_HW_UNSUPPORTED;
    int sent = 0;
    if (tone != 0)
        sent = ControlMsg(kClassConfig, kBuzzerOn, &tone, 1, Direction::Out);
    else
        sent = ControlMsg(kClassConfig, kBuzzerOff, nullptr, 0, Direction::In);
    if (sent < 0) return CommandFailure();
    if (durationMs != 0) platform::Sleep(durationMs);
    return KVX_OK;
}

KVXResult ReadHardwareKey(std::uint8_t* buffer, std::uint16_t length) {
    if (buffer == nullptr || length == 0) {
        LogPair("war - ", "HWKey invalid parameter");
        return KVX_ERR_INV_PARAMETER;
    }
    std::memset(buffer, 0, length);
    if (Identity().firmware <= kLastFirmwareWithoutKey) {
        LogPair("war - ", "HWKey not supported");
        return KVX_ERR_HW_UNSUPPORTED;
    }
    if (ControlMsg(kClassConfig, kHardwareKey, buffer, length, Direction::In) != length)
        return CommandFailure();
    SetLastResult(KVX_OK);
    return KVX_OK;
}

KVXResult ReadPhotoTuning(PhotoTuningBlock* block) {
    if (!PhotoTuningSupported()) return KVX_ERR_HW_UNSUPPORTED;
    if (ControlMsg(kClassConfig, kPhotoTuningRead, block->data(), kPhotoTuningBytes,
                   Direction::In) != static_cast<int>(kPhotoTuningBytes))
        return CommandFailure();
    SetLastResult(KVX_OK);
    return KVX_OK;
}

KVXResult WritePhotoTuning(const PhotoTuningBlock& block) {
    if (!PhotoTuningSupported()) return KVX_ERR_HW_UNSUPPORTED;
    PhotoTuningBlock out = block;
    if (ControlMsg(kClassConfig, kPhotoTuningWrite, out.data(), kPhotoTuningBytes,
                   Direction::Out) != static_cast<int>(kPhotoTuningBytes))
        return CommandFailure();
    PhotoTuningBlock back{};
    if (ControlMsg(kClassConfig, kPhotoTuningRead, back.data(), kPhotoTuningBytes, Direction::In) !=
        static_cast<int>(kPhotoTuningBytes))
        return CommandFailure();
    if (back != block) {
        LogPair("err - ", "Photo tuning saving error - not matching");
        // Both transfers worked: a last result left by an earlier call
        // says nothing about this one.
        SetLastResult(KVX_ERR_GENERIC);
        return KVX_ERR_GENERIC;
    }
    SetLastResult(KVX_OK);
    return KVX_OK;
}

}  // namespace kovran::device
