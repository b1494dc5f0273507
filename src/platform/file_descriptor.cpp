#include "platform/file_descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace kovran::platform {

bool UniqueFd::Close() {
    if (fd_ < 0) return true;
    int fd = Release();
    // Linux releases the descriptor even when close fails with EINTR, so a
    // retry could close a descriptor that another thread has just opened.
    return ::close(fd) == 0 || errno == EINTR;
}

void UniqueFd::Reset() {
    if (fd_ >= 0) {
        int saved = errno;
        ::close(fd_);
        errno = saved;
        fd_ = -1;
    }
}

bool WriteAllBytes(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAllBytes(int fd, std::size_t maxBytes, std::string& out) {
    out.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        if (static_cast<std::size_t>(n) > maxBytes - out.size()) {
            errno = EFBIG;
            return false;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

}  // namespace kovran::platform
