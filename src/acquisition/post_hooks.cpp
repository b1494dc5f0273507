#include "acquisition/post_hooks.h"

#include <atomic>

namespace kovran::acquisition {
namespace {

// Installed once by the composition root before any export runs.
std::atomic<decltype(PostProcessHooks::deskewWrap)> g_deskewWrap{nullptr};
std::atomic<decltype(PostProcessHooks::fixVRes)> g_fixVRes{nullptr};

}  // namespace

void InstallPostProcessHooks(const PostProcessHooks& hooks) {
    g_deskewWrap.store(hooks.deskewWrap);
    g_fixVRes.store(hooks.fixVRes);
}

PostProcessHooks InstalledPostProcessHooks() {
    return {.deskewWrap = g_deskewWrap.load(), .fixVRes = g_fixVRes.load()};
}

}  // namespace kovran::acquisition
