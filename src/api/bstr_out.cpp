#include "api/bstr_out.h"
#include "api/frame_state.h"

#include "api/library.h"
#include "api/log.h"
#include "platform/sys_error.h"

namespace kovran {

int StoreBstr(BSTR* target, const char* text, int len) {
    if (target == nullptr || text == nullptr) {
        SetLastResult(KVX_ERR_INV_PARAMETER);
        return KVX_ERR_INV_PARAMETER;
    }
    if (len < 0) {
        LogPair("err - ", "BSTR Transform with negative len");
        len = 0;
    }
    BSTR fresh = platform::AllocBstrBytes(text, static_cast<unsigned>(len));
    if (fresh == nullptr) {
        LogPairValue("err - ", "BSTR Transform error", platform::LastSystemError());
        SetLastResult(KVX_ERR_OUT_OF_MEMORY);
        return KVX_ERR_OUT_OF_MEMORY;
    }
    platform::FreeBstr(*target);
    *target = fresh;
    return 0;
}

}  // namespace kovran
