#include "acquisition/inkjet_hooks.h"

#include <atomic>

namespace kovran::acquisition {
namespace {

// Installed once by the composition root before any export runs.
std::atomic<decltype(InkjetHooks::stampArmed)> g_stampArmed{nullptr};
std::atomic<decltype(InkjetHooks::startPrint)> g_startPrint{nullptr};
std::atomic<decltype(InkjetHooks::virtualEndorsement)> g_virtualEndorsement{nullptr};
std::atomic<decltype(InkjetHooks::endOfDocument)> g_endOfDocument{nullptr};

}  // namespace

void InstallInkjetHooks(const InkjetHooks& hooks) {
    g_stampArmed.store(hooks.stampArmed);
    g_startPrint.store(hooks.startPrint);
    g_virtualEndorsement.store(hooks.virtualEndorsement);
    g_endOfDocument.store(hooks.endOfDocument);
}

bool StampArmed() {
    const auto f = g_stampArmed.load();
    return f != nullptr && f();
}

bool StartInkjetPrint() {
    const auto f = g_startPrint.load();
    return f == nullptr || f();
}

bool VirtualEndorsement(const ImageRecord& front, DeskewCall::StampMark* mark) {
    const auto f = g_virtualEndorsement.load();
    return f != nullptr && f(front, mark);
}

KVXResult EndOfPrintedDocument(KVXResult scanResult) {
    const auto f = g_endOfDocument.load();
    return f != nullptr ? f(scanResult) : scanResult;
}

}  // namespace kovran::acquisition
