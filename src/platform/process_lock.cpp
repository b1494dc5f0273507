#include "platform/process_lock.h"
#include "platform/name_hash.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <utility>

#include "platform/clock.h"
#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

// File names stay well within NAME_MAX (255), leaving room for the
// suffix of the temporary name a lock file is made under.
constexpr std::size_t kMaxFileName = 200;
constexpr std::size_t kHashDigits = 16;
constexpr const char* kPrefix = "kovran-";
constexpr const char* kSuffix = ".lock";
constexpr mode_t kLockFileMode = 0666;

// Byte 0 is the lock itself. Byte 1 carries a shared lock of every process
// or thread that waits, so that a holder coming back for its next turn at
// once steps aside for one poll: polling alone would let a busy writer
// starve a waiter that only ever looks while the lock is taken.
constexpr off_t kLockByte = 0;
constexpr off_t kWaiterByte = 1;
constexpr unsigned kPollMs = 1;

bool SetByteLock(int fd, short type, off_t byte) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

bool OthersWait(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kWaiterByte;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

// Makes the lock file under a temporary name, gives it its mode and links
// it into place, so that no other user ever sees it with the creator's
// umask. The descriptor of the file that ends up at path.
UniqueFd CreateLockFile(const std::string& path) {
    const std::string temporary =
        path + "." + std::to_string(::getpid()) + "." + std::to_string(::gettid()) + ".tmp";
    UniqueFd fd(::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                       kLockFileMode));
    if (!fd.valid()) return fd;
    const bool placed =
        ::fchmod(fd.get(), kLockFileMode) == 0 && ::link(temporary.c_str(), path.c_str()) == 0;
    const int error = errno;
    ::unlink(temporary.c_str());
    if (placed) return fd;
    errno = error;
    return UniqueFd();
}

// A description of its own on the lock file, made when missing. Without
// O_CREAT first: in a sticky directory the kernel refuses an O_CREAT open
// of another user's file (fs.protected_regular) even when it exists.
UniqueFd OpenLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
        if (fd.valid() || errno != ENOENT) return fd;
        fd = CreateLockFile(path);
        if (fd.valid() || errno != EEXIST) return fd;
        // Another process linked its file first: open that one.
    }
    return UniqueFd();
}

// The descriptors of the locks this process holds (descriptor + 1; 0 is a
// free slot). A child made by fork shares the parent's descriptions, and a
// description's lock lasts until its last descriptor closes: the child
// closes its copies at once, so that it never keeps the parent's lock
// taken. Holds beyond the slots still work, unprotected from a fork.
constexpr std::size_t kHeldSlots = 64;
std::array<std::atomic<int>, kHeldSlots> gHeld{};

void CloseHeldInChild() {
    for (std::atomic<int>& slot : gHeld) {
        const int value = slot.exchange(0);
        if (value > 0) ::close(value - 1);
    }
}

// Held by Acquire from the open of a description until it is registered,
// and by a fork from its start until the child has closed its copies, so a
// fork never copies a description that nobody closes in the child (a
// thread waiting for the lock when another thread forks).
std::mutex gForkGuard;

void InstallForkHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::pthread_atfork([] { gForkGuard.lock(); }, [] { gForkGuard.unlock(); },
                         [] {
                             CloseHeldInChild();
                             gForkGuard.unlock();
                         });
    });
}

int RegisterHeld(int fd) {
    for (std::size_t i = 0; i < kHeldSlots; ++i) {
        int free = 0;
        if (gHeld[i].compare_exchange_strong(free, fd + 1)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

ProcessLock::Hold::Hold(UniqueFd fd, int slot) : fd_(std::move(fd)), slot_(slot) {}

ProcessLock::Hold::~Hold() {
    Drop();
}

ProcessLock::Hold::Hold(Hold&& other) noexcept
    : fd_(std::move(other.fd_)), slot_(std::exchange(other.slot_, -1)) {}

ProcessLock::Hold& ProcessLock::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        Drop();
        fd_ = std::move(other.fd_);
        slot_ = std::exchange(other.slot_, -1);
    }
    return *this;
}

void ProcessLock::Hold::Drop() {
    int registered = fd_.get() + 1;
    if (slot_ >= 0 && !gHeld[slot_].compare_exchange_strong(registered, 0)) {
        // A fork has closed this descriptor in this (child) process already
        // (the slot may hold another hold's descriptor since).
        fd_.Release();
    }
    slot_ = -1;
    fd_ = UniqueFd();
}

std::string ProcessLockFileName(std::string_view name) {
    std::string file = kPrefix;
    for (char c : name) file.push_back(c == '/' || c == '\0' ? '_' : c);
    const std::size_t suffix = std::char_traits<char>::length(kSuffix);
    if (file.size() + suffix > kMaxFileName) {
        file.resize(kMaxFileName - suffix - kHashDigits);
        const std::uint64_t h = Fnv1a64(name);
        static constexpr char kHex[] = "0123456789abcdef";
        for (int shift = 60; shift >= 0; shift -= 4) file.push_back(kHex[(h >> shift) & 0xF]);
    }
    return file + kSuffix;
}

ProcessLock::ProcessLock(Token, std::string name, std::string path)
    : name_(std::move(name)), path_(std::move(path)) {}

std::unique_ptr<ProcessLock> ProcessLock::Open(std::string_view name, std::string directory) {
    if (!directory.empty() && directory.back() != '/') directory.push_back('/');
    std::string path = directory + ProcessLockFileName(name);
    if (!OpenLockFile(path).valid()) {
        SetLastSystemErrorFromErrno();
        return nullptr;
    }
    return std::make_unique<ProcessLock>(Token{}, std::string(name), std::move(path));
}

ProcessLock::Hold ProcessLock::Acquire(unsigned timeoutMs) const {
    InstallForkHandlers();
    // The description is registered from its open on: a child forked while
    // this thread waits closes it too (the hold owns the registration).
    Hold hold;
    {
        const std::lock_guard guard(gForkGuard);
        UniqueFd opened = OpenLockFile(path_);
        if (!opened.valid()) {
            SetLastSystemErrorFromErrno();
            return Hold();
        }
        const int slot = RegisterHeld(opened.get());
        hold = Hold(std::move(opened), slot);
    }
    const UniqueFd& fd = hold.fd_;
    bool waiting = false;
    bool steppedAside = false;
    int failure = 0;
    const bool taken = WaitUntil(
        [&] {
            if (!steppedAside && timeoutMs > 0 && OthersWait(fd.get())) {
                steppedAside = true;
                waiting = SetByteLock(fd.get(), F_RDLCK, kWaiterByte);
                return false;
            }
            steppedAside = true;
            if (SetByteLock(fd.get(), F_WRLCK, kLockByte)) return true;
            if (errno != EAGAIN && errno != EACCES) {
                failure = errno;
                return true;
            }
            if (!waiting && timeoutMs > 0) waiting = SetByteLock(fd.get(), F_RDLCK, kWaiterByte);
            return false;
        },
        timeoutMs, kPollMs);
    if (waiting) SetByteLock(fd.get(), F_UNLCK, kWaiterByte);
    if (taken && failure == 0) return hold;
    if (failure != 0) {
        errno = failure;
        SetLastSystemErrorFromErrno();
    } else {
        SetLastSystemError(kErrorTimeout);
    }
    return Hold();
}

void ProcessLock::RemoveFile(std::string_view name, const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') path.push_back('/');
    ::unlink((path + ProcessLockFileName(name)).c_str());
}

}  // namespace kovran::platform
