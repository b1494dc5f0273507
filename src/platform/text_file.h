// Text-mode files as the Windows C runtime writes them: every LF becomes
// CR LF on disk, so an LF already preceded by CR is stored as CR CR LF.
#pragma once

#include <string>
#include <string_view>

namespace kovran::platform {

// The bytes that a text-mode write of text puts on disk.
std::string ToTextMode(std::string_view text);

// Opens path for appending (creating it), writes text in text mode, commits
// it to disk and closes the file. Returns false (system error set) when the
// file cannot be opened or written.
bool AppendTextCommitted(const std::string& path, std::string_view text);

// Creates or truncates path and writes text in text mode.
bool WriteTextFile(const std::string& path, std::string_view text);

}  // namespace kovran::platform
