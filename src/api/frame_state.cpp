#include "api/frame_state.h"

#include "api/library.h"

namespace kovran {

FrameState& Frame() {
    return lib().Get<FrameState>();
}

void ResetLibraryState() {
    lib().ClearRecords();
    lib().detaching.store(false);
}

}  // namespace kovran
