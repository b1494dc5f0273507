#include "api/host_buffer.h"

#include <cstdint>
#include <cstring>

#include "KovranMS.h"
#include "api/frame_state.h"
#include "api/log.h"

namespace kovran {
namespace {

enum class LengthWidth { Bits16, Int, PathField };

// How one variant answers each step of the rule.
struct Variant {
    LengthWidth width;
    bool nullIsSizeQuery;
    const char* nullLine;      // "err - " + this for a null buffer; null: no line
    const char* tooSmallLine;  // "err - " + this for a too small buffer
    bool emptyWhenTooSmall;    // a too small buffer is left holding ""
    bool logsTextFirst;        // the text is logged once it is not a size query
    bool clearsWhole;          // the whole buffer is cleared before the copy
    bool successSetsOk;        // success sets the last result to 0
    bool countsTerminator;     // success returns the length + 1 (else the length)
    int failure;               // what a null or too small buffer returns
};

constexpr Variant kMessage{.width = LengthWidth::Bits16,
                           .nullIsSizeQuery = false,
                           .nullLine = "error message buffer invalid",
                           .tooSmallLine = "error message buffer too small",
                           .emptyWhenTooSmall = true,
                           .logsTextFirst = false,
                           .clearsWhole = false,
                           .successSetsOk = false,
                           .countsTerminator = true,
                           .failure = kNoLength};
constexpr Variant kDeviceList{.width = LengthWidth::Int,
                              .nullIsSizeQuery = false,
                              .nullLine = "device list buffer invalid",
                              .tooSmallLine = "device list buffer too small",
                              .emptyWhenTooSmall = true,
                              .logsTextFirst = false,
                              .clearsWhole = false,
                              .successSetsOk = true,
                              .countsTerminator = true,
                              .failure = kNoLength};
constexpr Variant kVersion{.width = LengthWidth::Int,
                           .nullIsSizeQuery = true,
                           .nullLine = nullptr,
                           .tooSmallLine = "size too short",
                           .emptyWhenTooSmall = false,
                           .logsTextFirst = true,
                           .clearsWhole = true,
                           .successSetsOk = true,
                           .countsTerminator = false,
                           .failure = kNoLength};
constexpr Variant kPath{.width = LengthWidth::PathField,
                        .nullIsSizeQuery = false,
                        .nullLine = nullptr,
                        .tooSmallLine = nullptr,
                        .emptyWhenTooSmall = false,
                        .logsTextFirst = false,
                        .clearsWhole = true,
                        .successSetsOk = true,
                        .countsTerminator = false,
                        .failure = KVX_ERR_INV_PARAMETER};

const Variant& VariantOf(HostBufferRule rule) {
    switch (rule) {
        case HostBufferRule::Message:
            return kMessage;
        case HostBufferRule::DeviceList:
            return kDeviceList;
        case HostBufferRule::Version:
            return kVersion;
        case HostBufferRule::PathField:
            break;
    }
    return kPath;
}

int Fail(const Variant& v, const char* line) {
    if (line != nullptr) LogPair("err - ", line);
    SetLastResult(KVX_ERR_INV_PARAMETER);
    return v.failure;
}

}  // namespace

int CopyToHost(std::string_view text, HostBuffer buffer, HostBufferRule rule) {
    const Variant& v = VariantOf(rule);
    // A path field always has room for the terminator; a longer text is cut.
    if (v.width == LengthWidth::PathField) {
        buffer.length = kPathField;
        if (text.size() >= kPathField) text = text.substr(0, kPathField - 1);
    }
    const int length =
        v.width == LengthWidth::Bits16 ? static_cast<std::int16_t>(buffer.length) : buffer.length;
    const int needed = static_cast<int>(text.size()) + 1;

    if (length <= 0 || (v.nullIsSizeQuery && buffer.data == nullptr)) return needed;
    if (buffer.data == nullptr) return Fail(v, v.nullLine);
    if (v.logsTextFirst) LogText(std::string(text));
    if (length < needed) {
        if (v.emptyWhenTooSmall) buffer.data[0] = '\0';
        return Fail(v, v.tooSmallLine);
    }
    if (v.clearsWhole) std::memset(buffer.data, 0, static_cast<std::size_t>(length));
    std::memcpy(buffer.data, text.data(), text.size());
    buffer.data[text.size()] = '\0';
    if (v.successSetsOk) SetLastResult(KVX_OK);
    if (v.width == LengthWidth::PathField) return KVX_OK;
    return v.countsTerminator ? needed : needed - 1;
}

bool ClearBeforeGuard(HostBuffer buffer) {
    if (buffer.data == nullptr) {
        SetLastResult(KVX_ERR_GENERIC);
        return false;
    }
    const auto length = static_cast<std::int16_t>(buffer.length);
    if (length > 0) std::memset(buffer.data, 0, static_cast<std::size_t>(length));
    return true;
}

}  // namespace kovran
