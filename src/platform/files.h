// Small file system helpers with Windows-like results (system error set on
// failure).
#pragma once

#include <string>
#include <string_view>

namespace kovran::platform {

// Creates one directory level. True when made; false with the system error
// kErrorAlreadyExists when something exists at path, kErrorPathNotFound when
// a parent is missing or is not a directory, another error otherwise.
bool CreateDirectoryLevel(const std::string& path);
// Removes a file (not a directory: kErrorAccessDenied).
bool DeleteFileAt(const std::string& path);
// Renames, replacing an existing target when replace is set; without it an
// existing target is refused with kErrorAlreadyExists.
bool MoveFileTo(const std::string& from, const std::string& to, bool replace);
// True when path names an existing entry that is not a directory.
bool FileExists(const std::string& path);
// Size in bytes, or -1 (system error set) when the file cannot be inspected
// or is a directory.
long long FileSize(const std::string& path);
// Upper-cases single-byte text (ASCII letters only, as the C locale does).
std::string ToUpper(std::string_view text);
// True when name matches a pattern with '*' and '?' (case-insensitively).
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace kovran::platform
