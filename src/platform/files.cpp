#include "platform/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "platform/sys_error.h"

namespace kovran::platform {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool MoveWithoutReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot refuse atomically; check first, as well as we can.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool CreateDirectoryLevel(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    // A missing parent is a missing path to Windows, not a missing file.
    SetLastSystemError(errno == ENOENT ? kErrorPathNotFound : WinErrorFromErrno(errno));
    return false;
}

bool DeleteFileAt(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return true;
    SetLastSystemErrorFromErrno();
    return false;
}

bool MoveFileTo(const std::string& from, const std::string& to, bool replace) {
    const bool moved =
        replace ? ::rename(from.c_str(), to.c_str()) == 0 : MoveWithoutReplace(from, to);
    if (!moved) SetLastSystemErrorFromErrno();
    return moved;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

long long FileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetLastSystemErrorFromErrno();
        return -1;
    }
    if (S_ISDIR(st.st_mode)) {
        SetLastSystemError(kErrorAccessDenied);
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

std::string ToUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = UpperAscii(c);
    return out;
}

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    // Greedy walk that backtracks only to the last '*': linear in practice
    // and never exponential, whatever the pattern.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || UpperAscii(pattern[p]) == UpperAscii(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace kovran::platform
