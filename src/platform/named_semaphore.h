// Named counting semaphores visible to every process of the machine.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kovran::platform {

// A wait that never times out, as INFINITE is for the Windows waits.
inline constexpr unsigned kWaitInfinite = 0xFFFFFFFFu;

// Turns any text into a valid POSIX semaphore name: one leading '/', no other
// '/', and short enough for the system (long names keep their start and end
// a hash of the whole text).
std::string SemaphoreName(std::string_view text);

class NamedSemaphore {
  public:
    // Opens the semaphore called SemaphoreName(name), creating it with
    // initial count `initial` when it does not exist yet. Returns null (and
    // sets the system error) on failure.
    static std::unique_ptr<NamedSemaphore> Open(std::string_view name, unsigned initial = 1);

    ~NamedSemaphore();
    NamedSemaphore(const NamedSemaphore&) = delete;
    NamedSemaphore& operator=(const NamedSemaphore&) = delete;

    // Waits at most timeoutMs for the count (0 only tries, kWaitInfinite
    // waits for ever); true when obtained, false with the system error
    // kErrorTimeout when the time ran out.
    bool Wait(unsigned timeoutMs);
    // Gives the count back.
    void Release();

    // The name given to Open (before SemaphoreName), fit for Unlink.
    const std::string& name() const { return name_; }

    // Removes the name from the system (tests; a live semaphore stays usable
    // by the processes that hold it).
    static void Unlink(std::string_view name);

  private:
    struct Token {
        explicit Token() = default;
    };

  public:
    NamedSemaphore(Token, std::string name, void* sem);

  private:
    std::string name_;
    void* sem_;
};

// Holds a semaphore for one scope when the wait succeeded; a timed-out wait
// leaves the scope unlocked and the work goes ahead.
class SemaphoreHold {
  public:
    SemaphoreHold(NamedSemaphore* sem, unsigned timeoutMs)
        : sem_(sem), held_(sem != nullptr && sem->Wait(timeoutMs)) {}
    ~SemaphoreHold() {
        if (held_) sem_->Release();
    }
    SemaphoreHold(const SemaphoreHold&) = delete;
    SemaphoreHold& operator=(const SemaphoreHold&) = delete;
    bool held() const { return held_; }

  private:
    NamedSemaphore* sem_;
    bool held_;
};

}  // namespace kovran::platform
