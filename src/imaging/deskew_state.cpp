#include "imaging/deskew_state.h"

#include "api/library.h"

namespace kovran::imaging {

DeskewRecord& DeskewStates() {
    return lib().Get<DeskewRecord>();
}

SideDeskew* DeskewState(int side) {
    if (side != 0 && side != 1) return nullptr;
    return &DeskewStates().sides[static_cast<std::size_t>(side)];
}

}  // namespace kovran::imaging
