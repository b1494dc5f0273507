// An owned POSIX file descriptor and the read/write loops that survive
// short transfers and signals.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kovran::platform {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.Release();
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes the descriptor; false (errno set) when close reports a failure,
    // which on some file systems is where a failed write shows up.
    bool Close();

  private:
    void Reset();
    int fd_ = -1;
};

// Writes every byte, retrying short writes and EINTR. False with errno set.
bool WriteAllBytes(int fd, std::string_view bytes);

// Reads to the end of the file. False with errno set on a read error, or
// with EFBIG when the file holds more than maxBytes.
bool ReadAllBytes(int fd, std::size_t maxBytes, std::string& out);

}  // namespace kovran::platform
