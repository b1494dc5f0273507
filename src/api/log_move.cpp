#include "api/log_move.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string_view>

#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "platform/sys_error.h"

namespace kovran {
namespace {

// Copies from to to and commits the copy; a half-made copy is removed.
bool CopyCommitted(const std::string& from, const std::string& to) {
    platform::UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!in.valid() || ::fstat(in.get(), &st) != 0) {
        platform::SetLastSystemErrorFromErrno();
        return false;
    }
    platform::UniqueFd out(
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 07777));
    if (!out.valid()) {
        platform::SetLastSystemErrorFromErrno();
        return false;
    }
    std::array<char, 65536> buffer;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (!platform::WriteAllBytes(out.get(), std::string_view(buffer.data(), n))) {
            ok = false;
            break;
        }
    }
    while (ok && ::fsync(out.get()) != 0) {
        if (errno != EINTR) ok = false;
    }
    ok = out.Close() && ok;
    if (!ok) {
        platform::SetLastSystemErrorFromErrno();
        ::unlink(to.c_str());
    }
    return ok;
}

}  // namespace

bool MoveLogFile(const std::string& from, const std::string& to) {
    if (platform::MoveFileTo(from, to, true)) return true;
    if (platform::LastSystemError() != platform::kErrorNotSameDevice) return false;
    if (!CopyCommitted(from, to)) return false;
    platform::DeleteFileAt(from);
    return true;
}

}  // namespace kovran
