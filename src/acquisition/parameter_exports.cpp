// The parameter exports. Setting needs an open device (the rules read its
// capabilities); reading does not.
#include "KovranMS.h"
#include "acquisition/parameters.h"
#include "api/frame.h"
#include "api/log.h"

namespace kovran::acquisition {
namespace {

// The upper half of KVX_ERR_INV_PARAMETER over a zero value: what the
// 32-bit getter returns for an identifier that cannot be read.
constexpr std::uint32_t kUnreadable =
    static_cast<std::uint32_t>(KVX_ERR_INV_PARAMETER) & 0xFFFF0000u;

std::optional<std::uint16_t> ReadOrRefuse(int parId) {
    const std::optional<std::uint16_t> value = ReadParameter(parId);
    if (!value) {
        LogValue("KVX_ERR_INV_PARAMETER getting ParId", parId);
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return std::nullopt;
    }
    SetLastResult(KVX_OK);
    return value;
}

}  // namespace
}  // namespace kovran::acquisition

using namespace kovran;

extern "C" {

KVX_API KVXResult KVXSetParameter(int parId, int value) {
    return RunExport(
        {.name = "KVXSetParameter", .tag = "setpar", .guard = Guard::CurrentHandle, .leave = true},
        [&] { return acquisition::SetParameter(parId, value); });
}

KVX_API KVXResult KVXGetParameter(int parId, int16_t* value) {
    return RunExport({.name = "KVXGetParameter", .tag = "getpar"}, [&]() -> KVXResult {
        if (value == nullptr) {
            LogPair("err - ", "KVXGetParameter with invalid pointer");
            return KVX_ERR_INV_PARAMETER;
        }
        const auto read = acquisition::ReadOrRefuse(parId);
        if (!read) return KVX_ERR_INV_PARAMETER;
        *value = static_cast<int16_t>(*read);
        return KVX_OK;
    });
}

KVX_API uint32_t KVXGetParameter0(int parId) {
    return RunExport({.name = "KVXGetParameter0",
                      .tag = "getpar0",
                      .returns = Returns::Value,
                      .guardFailure = 0},
                     [&]() -> uint32_t {
                         const auto read = acquisition::ReadOrRefuse(parId);
                         return read ? *read : acquisition::kUnreadable;
                     });
}

}  // extern "C"
