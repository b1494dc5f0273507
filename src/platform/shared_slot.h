// A shared_ptr that threads replace and read as a whole. Guarded by a mutex
// rather than std::atomic<std::shared_ptr>: libstdc++ 12 releases that
// one's internal lock with relaxed order after a load, so a later store is
// not ordered after the load (ThreadSanitizer rightly reports it).
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace kovran::platform {

template <class T>
class SharedSlot {
  public:
    SharedSlot() = default;
    explicit SharedSlot(std::shared_ptr<T> value) : value_(std::move(value)) {}
    SharedSlot(const SharedSlot&) = delete;
    SharedSlot& operator=(const SharedSlot&) = delete;

    std::shared_ptr<T> Load() const {
        const std::lock_guard lock(mutex_);
        return value_;
    }
    // The replaced value is released outside the lock: its destructor may
    // close a handle.
    void Store(std::shared_ptr<T> value) {
        std::shared_ptr<T> old;
        {
            const std::lock_guard lock(mutex_);
            old = std::exchange(value_, std::move(value));
        }
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> value_;
};

}  // namespace kovran::platform
