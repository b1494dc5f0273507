// The working images of the deskew, kept from one document to the next:
// a side of a few megabytes needs half a dozen of them, and made afresh
// for every document their pages cost more than the arithmetic. A deskew
// borrows one workspace for its run (the feeder thread and the host's
// thread may each run one); the close of the device gives them all back.
#pragma once

#include <array>
#include <memory>

#include "imaging/contours.h"
#include "imaging/work_image.h"

namespace kovran::imaging {

// Warped planes kept: R, G, B, infrared, ultraviolet (a record with more
// channels warps the rest into fresh memory).
inline constexpr int kWarpPlanesKept = 5;

struct DeskewWorkspace {
    ContourWorkspace contours;
    WorkImage grey;    // colour channels combined
    WorkImage square;  // the grey side stretched to square pixels
    WorkImage turned;  // the side turned upright for the second search
    std::array<WorkImage, kWarpPlanesKept> planes;
    WorkImage backlight;
    WorkImage sharpenBlur;
};

// A workspace borrowed for one deskew; given back when the lease ends.
class WorkspaceLease {
  public:
    WorkspaceLease();
    ~WorkspaceLease();
    WorkspaceLease(const WorkspaceLease&) = delete;
    WorkspaceLease& operator=(const WorkspaceLease&) = delete;
    DeskewWorkspace& operator*() { return *workspace_; }
    DeskewWorkspace* operator->() { return workspace_.get(); }

  private:
    std::unique_ptr<DeskewWorkspace> workspace_;
};

// Frees every workspace not on lease (the device is closed).
void ReleaseDeskewWorkspaces();

// Workspaces kept, on lease or not (tests).
int DeskewWorkspacesKept();

}  // namespace kovran::imaging
