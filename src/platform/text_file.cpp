#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_descriptor.h"
#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

bool WriteWhole(const std::string& path, int flags, std::string_view text, bool commit) {
    UniqueFd fd(::open(path.c_str(), flags | O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    const std::string bytes = ToTextMode(text);
    if (!WriteAllBytes(fd.get(), bytes)) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    while (commit && ::fsync(fd.get()) != 0) {
        // Some file systems (pipes, /dev/null, tmpfs quirks) cannot be
        // committed; the bytes are written all the same.
        if (errno == EINVAL || errno == EROFS) break;
        if (errno != EINTR) {
            SetLastSystemErrorFromErrno();
            return false;
        }
    }
    if (!fd.Close()) {
        SetLastSystemErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace

std::string ToTextMode(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    return out;
}

bool AppendTextCommitted(const std::string& path, std::string_view text) {
    return WriteWhole(path, O_APPEND, text, true);
}

bool WriteTextFile(const std::string& path, std::string_view text) {
    return WriteWhole(path, O_TRUNC, text, false);
}

}  // namespace kovran::platform
