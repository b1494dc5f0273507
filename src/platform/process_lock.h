// A lock shared by every process of the machine and every thread of each,
// which the kernel gives back when its holder dies: an open file description
// lock (fcntl F_OFD_SETLK) on a small lock file.
//
// Where the lock files live: /dev/shm. It exists on every Linux system
// with the C library's shared memory, is shared by all users (mode 1777,
// so every user of the scanner group reaches the same file, which a
// per-user $XDG_RUNTIME_DIR would not give), is memory-backed (no disk
// write per lock) and is emptied at boot. /run/lock is not writable by
// ordinary users on every distribution.
//
// Permissions: a lock file is made with mode 0666 whatever the umask, so
// that a user other than its creator can open it for the write lock. The
// file holds no data; what the lock guards keeps its own permissions.
//
// Lock files are never removed by the library: removing one safely would
// race with a process that has just opened it. They are empty and one per
// lock name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file_descriptor.h"

namespace kovran::platform {

inline constexpr const char* kProcessLockDirectory = "/dev/shm";

// The lock file name of a lock name: "kovran-" + the name with every '/'
// made '_' + ".lock"; a name too long for the file system keeps its start
// and ends in a hash of the whole name.
std::string ProcessLockFileName(std::string_view name);

class ProcessLock {
  public:
    // A taken lock, given back when destroyed. A hold that is not held()
    // (time-out or failure) gives back nothing.
    // A child forked while a lock is held gets no share of it: the fork
    // closes the child's copies of held descriptions.
    class Hold {
      public:
        Hold() = default;
        ~Hold();
        Hold(Hold&& other) noexcept;
        Hold& operator=(Hold&& other) noexcept;
        bool held() const { return fd_.valid(); }

      private:
        friend class ProcessLock;
        Hold(UniqueFd fd, int slot);
        void Drop();
        UniqueFd fd_;  // closing the description drops its lock
        int slot_ = -1;
    };

    // The lock called name, its file in directory made when missing.
    // Null (system error set) when the file can be neither opened nor
    // made, for example when the directory is missing or read-only.
    static std::unique_ptr<ProcessLock> Open(std::string_view name,
                                             std::string directory = kProcessLockDirectory);

    // Takes the lock, waiting at most timeoutMs on the installable clock
    // (0 tries once). On time-out the hold is not held() and the system
    // error is kErrorTimeout; the caller decides whether its work goes
    // ahead or fails. Each call uses a description of its own, so threads
    // of one process and processes forked with a lock open exclude each
    // other as well.
    Hold Acquire(unsigned timeoutMs) const;

    const std::string& name() const { return name_; }
    const std::string& path() const { return path_; }

    // Removes the lock file of name in directory (tests: only when no
    // process uses the lock).
    static void RemoveFile(std::string_view name,
                           const std::string& directory = kProcessLockDirectory);

  private:
    struct Token {
        explicit Token() = default;
    };

  public:
    ProcessLock(Token, std::string name, std::string path);

  private:
    std::string name_;
    std::string path_;
};

}  // namespace kovran::platform
