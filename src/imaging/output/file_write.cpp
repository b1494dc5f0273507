#include "imaging/output/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

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

// A short hidden name in the target's directory: a name built on the
// host's one could pass the length limit of a directory entry although the
// host's name fits.
std::string TemporaryName(const std::string& name, unsigned attempt) {
    const std::size_t slash = name.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : name.substr(0, slash + 1);
    static std::atomic<unsigned> counter{0};
    std::random_device entropy;
    char tail[40];
    std::snprintf(tail, sizeof tail, ".kvx%x-%x-%08x.tmp", static_cast<unsigned>(::getpid()),
                  counter.fetch_add(1) + attempt, entropy());
    return (slash == std::string::npos ? std::string() : directory) + tail;
}

// A temporary file beside the name, open for writing (empty on failure).
std::string MakeTemporary(const std::string& name, platform::UniqueFd* fd, int* systemError) {
    struct stat st {};
    // A directory under the name would be replaced by nothing: refused
    // before any temporary file exists.
    if (::stat(name.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetError(systemError, EISDIR);
        return {};
    }
    constexpr unsigned kAttempts = 16;
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        std::string temporary = TemporaryName(name, attempt);
        // Created with the usual mode under the process's umask, which is
        // never changed here: other threads may be creating files.
        platform::UniqueFd made(
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (made.valid()) {
            *fd = std::move(made);
            return temporary;
        }
        if (errno != EEXIST) break;
    }
    SetError(systemError, errno);
    return {};
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
