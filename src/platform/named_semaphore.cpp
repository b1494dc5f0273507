#include "platform/named_semaphore.h"
#include "platform/clock.h"
#include "platform/name_hash.h"

#include <fcntl.h>
#include <semaphore.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

// Linux keeps semaphores as /dev/shm/sem.<name>: with the "sem." prefix the
// file name must stay within NAME_MAX (255).
constexpr std::size_t kMaxNameLength = 250;
constexpr std::size_t kHashDigits = 16;
// Poll step of a bounded wait.
constexpr unsigned kPollMs = 1;

sem_t* Handle(void* p) {
    return static_cast<sem_t*>(p);
}

}  // namespace

std::string SemaphoreName(std::string_view text) {
    std::string name;
    name.reserve(text.size() + 1);
    name.push_back('/');
    for (char c : text) name.push_back(c == '/' || c == '\0' ? '_' : c);
    if (name.size() <= kMaxNameLength) return name;

    name.resize(kMaxNameLength - kHashDigits);
    std::uint64_t h = Fnv1a64(text);
    static constexpr char kHex[] = "0123456789abcdef";
    for (int shift = 60; shift >= 0; shift -= 4) name.push_back(kHex[(h >> shift) & 0xF]);
    return name;
}

NamedSemaphore::NamedSemaphore(Token, std::string name, void* sem)
    : name_(std::move(name)), sem_(sem) {}

std::unique_ptr<NamedSemaphore> NamedSemaphore::Open(std::string_view name, unsigned initial) {
    const std::string posixName = SemaphoreName(name);
    sem_t* sem = ::sem_open(posixName.c_str(), O_CREAT, 0666, initial);
    if (sem == SEM_FAILED) {
        SetLastSystemErrorFromErrno();
        return nullptr;
    }
    return std::make_unique<NamedSemaphore>(Token{}, std::string(name), sem);
}

NamedSemaphore::~NamedSemaphore() {
    ::sem_close(Handle(sem_));
}

bool NamedSemaphore::Wait(unsigned timeoutMs) {
    int rc;
    if (timeoutMs == 0) {
        while ((rc = ::sem_trywait(Handle(sem_))) != 0 && errno == EINTR) {
        }
    } else if (timeoutMs == kWaitInfinite) {
        while ((rc = ::sem_wait(Handle(sem_))) != 0 && errno == EINTR) {
        }
    } else {
        // Polled on the one clock: monotonic, and a test's clock drives it.
        rc = -1;
        errno = ETIMEDOUT;
        WaitUntil(
            [&] {
                int r;
                while ((r = ::sem_trywait(Handle(sem_))) != 0 && errno == EINTR) {
                }
                if (r == 0 || errno != EAGAIN) {
                    rc = r;
                    return true;
                }
                errno = ETIMEDOUT;
                return false;
            },
            timeoutMs, kPollMs);
    }
    if (rc == 0) return true;
    if (errno == EAGAIN || errno == ETIMEDOUT) {
        SetLastSystemError(kErrorTimeout);
    } else {
        SetLastSystemErrorFromErrno();
    }
    return false;
}

void NamedSemaphore::Release() {
    // A post beyond SEM_VALUE_MAX fails with EOVERFLOW and changes nothing,
    // like a ReleaseSemaphore past the maximum count.
    if (::sem_post(Handle(sem_)) != 0) SetLastSystemErrorFromErrno();
}

void NamedSemaphore::Unlink(std::string_view name) {
    ::sem_unlink(SemaphoreName(name).c_str());
}

}  // namespace kovran::platform
