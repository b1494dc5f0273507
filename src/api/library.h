// The state of one loaded library. There is one `Library`; every subsystem
// keeps its plain record in it and reaches that record through an accessor
// of its own header (`Frame()`, `Names()`, `device::Device()`, ...), so
// including this header gives the slot mechanism only and a change to one
// record rebuilds one subsystem. Flags and counters that a worker thread
// writes and another thread reads are atomics inside the records.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>

namespace kovran {

class Library {
  public:
    // The record of type `Record`, built on first use. Lock-free: two
    // threads that both find the slot empty race to install one record and
    // the loser's copy is dropped.
    template <class Record>
    Record& Get() {
        static const std::size_t index = NextSlotIndex();
        Slot* slot = slots_[index].load(std::memory_order_acquire);
        if (slot == nullptr) slot = Install(index, std::make_unique<Holder<Record>>());
        return static_cast<Holder<Record>*>(slot)->record;
    }

    // Destroys every record; the next access builds a fresh one. Callers
    // make sure no other thread is inside the library.
    void ClearRecords();

    // Set first by the unload: from then on every guarded export fails.
    // Kept outside the records so that it survives their release.
    std::atomic<bool> detaching{false};

    // Exported calls inside the library (api/calls_in_flight.h); outside
    // the records for the same reason.
    std::atomic<int> callsInFlight{0};

  private:
    struct Slot {
        virtual ~Slot() = default;
    };
    template <class Record>
    struct Holder final : Slot {
        Record record{};
    };
    // Far more than the subsystems need; a slot index past it is a
    // programming error caught at the first access.
    static constexpr std::size_t kSlots = 32;

    static std::size_t NextSlotIndex();
    Slot* Install(std::size_t index, std::unique_ptr<Slot> fresh);

    std::array<std::atomic<Slot*>, kSlots> slots_{};
};

// The instance. Never destroyed, so that the unload steps and late callers
// still find it whatever order the loader finalises things in.
Library& lib();

}  // namespace kovran
