#include "api/library.h"

#include <new>
#include <stdexcept>

namespace kovran {
namespace {

alignas(Library) unsigned char g_storage[sizeof(Library)];

}  // namespace

Library& lib() {
    // Built in place and never destroyed: the runtime must not run its
    // destructor before the library's own unload function.
    static Library& instance = *::new (static_cast<void*>(g_storage)) Library();
    return instance;
}

std::size_t Library::NextSlotIndex() {
    static std::atomic<std::size_t> next{0};
    const std::size_t index = next.fetch_add(1);
    if (index >= kSlots) throw std::logic_error("Library: more record types than slots");
    return index;
}

Library::Slot* Library::Install(std::size_t index, std::unique_ptr<Slot> fresh) {
    Slot* expected = nullptr;
    if (slots_[index].compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel))
        return fresh.release();
    return expected;  // another thread won; `fresh` is dropped
}

void Library::ClearRecords() {
    for (std::atomic<Slot*>& slot : slots_) delete slot.exchange(nullptr);
}

}  // namespace kovran
