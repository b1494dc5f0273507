#include "imaging/deskew_workspace.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "api/library.h"

namespace kovran::imaging {

namespace {

// Lent and given back by whichever thread runs an acquisition's end.
struct WorkspacePool {
    std::mutex lock;
    std::vector<std::unique_ptr<DeskewWorkspace>> idle;
    int kept = 0;
};

WorkspacePool& Pool() {
    return lib().Get<WorkspacePool>();
}

}  // namespace

WorkspaceLease::WorkspaceLease() {
    WorkspacePool& pool = Pool();
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        if (!pool.idle.empty()) {
            workspace_ = std::move(pool.idle.back());
            pool.idle.pop_back();
            return;
        }
    }
    workspace_ = std::make_unique<DeskewWorkspace>();
    const std::lock_guard<std::mutex> hold(pool.lock);
    ++pool.kept;
}

WorkspaceLease::~WorkspaceLease() {
    WorkspacePool& pool = Pool();
    const std::lock_guard<std::mutex> hold(pool.lock);
    try {
        pool.idle.push_back(std::move(workspace_));
    } catch (const std::bad_alloc&) {
        // No room on the list: this workspace is freed instead of kept.
        --pool.kept;
    }
}

void ReleaseDeskewWorkspaces() {
    WorkspacePool& pool = Pool();
    std::vector<std::unique_ptr<DeskewWorkspace>> freed;
    {
        const std::lock_guard<std::mutex> hold(pool.lock);
        // A workspace on lease stays with its deskew and comes back to the
        // list when the deskew ends.
        freed.swap(pool.idle);
        pool.kept -= static_cast<int>(freed.size());
    }
    // Freed outside the lock: the images are megabytes.
}

int DeskewWorkspacesKept() {
    WorkspacePool& pool = Pool();
    const std::lock_guard<std::mutex> hold(pool.lock);
    return pool.kept;
}

}  // namespace kovran::imaging
