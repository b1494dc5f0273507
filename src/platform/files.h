// Small file system helpers with Windows-like results (system error set on
// failure).
#pragma once

#include <string>
#include <string_view>

namespace kovran::platform {

// Creates one directory level. True when made; false with the system error
// kErrorAlreadyExists when it exists, another error otherwise.
bool CreateDirectoryLevel(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Renames, replacing an existing target when replace is set.
bool MoveFileTo(const std::string& from, const std::string& to, bool replace);
bool FileExists(const std::string& path);
// Size in bytes, or -1 when the file cannot be inspected.
long long FileSize(const std::string& path);
// Upper-cases single-byte text (ASCII letters only, as the C locale does).
std::string ToUpper(std::string_view text);
// True when name matches a pattern with '*' and '?' (case-insensitively).
bool WildcardMatch(std::string_view pattern, std::string_view name);

}  // namespace kovran::platform
