#include "imaging/output/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/file_descriptor.h"

namespace kovran::imaging::output {

namespace {

std::atomic<WriteHook> gWriteHook{nullptr};

void SetError(int* systemError, int value) {
    if (systemError != nullptr) *systemError = value;
}

}  // namespace

void InstallWriteHook(WriteHook hook) {
    gWriteHook.store(hook);
}

ssize_t WriteThroughHook(int fd, const void* data, std::size_t size) {
    const WriteHook hook = gWriteHook.load();
    return hook != nullptr ? hook(fd, data, size) : ::write(fd, data, size);
}

namespace {

// A temporary file beside the name, open for writing (invalid on failure).
std::string MakeTemporary(const std::string& name, platform::UniqueFd* fd, int* systemError) {
    struct stat st {};
    // A directory under the name would be replaced by nothing: refused
    // before any temporary file exists.
    if (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetError(systemError, EISDIR);
        return {};
    }
    std::string pattern = name + ".XXXXXX";
    platform::UniqueFd made(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!made.valid()) {
        SetError(systemError, errno);
        return {};
    }
    // mkstemp makes the file private; an image file gets the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(made.get(), 0666 & ~mask);
    *fd = std::move(made);
    return pattern;
}

}  // namespace

std::string CreateTemporaryBeside(const std::string& name, int* systemError) {
    platform::UniqueFd fd;
    return MakeTemporary(name, &fd, systemError);
}

bool CommitTemporary(const std::string& temporary, const std::string& name, int* systemError) {
    if (::rename(temporary.c_str(), name.c_str()) == 0) return true;
    SetError(systemError, errno);
    ::unlink(temporary.c_str());
    return false;
}

WriteFailure WriteFileAtomically(const std::string& name, std::span<const std::uint8_t> bytes,
                                 int* systemError) {
    platform::UniqueFd fd;
    const std::string temporary = MakeTemporary(name, &fd, systemError);
    if (temporary.empty()) return WriteFailure::Open;
    bool ok = true;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = WriteThroughHook(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetError(systemError, n < 0 ? errno : ENOSPC);
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok && !fd.Close()) {
        SetError(systemError, errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return WriteFailure::Write;
    }
    if (!CommitTemporary(temporary, name, systemError)) return WriteFailure::Open;
    return WriteFailure::None;
}

}  // namespace kovran::imaging::output
