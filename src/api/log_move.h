// Moving a log file to another name, also across file systems: a log moved
// to a new configuration directory on another mount must arrive whole, as
// it does on a system whose move copies between volumes.
#pragma once

#include <string>

namespace kovran {

// Renames from to to, replacing to. Where the rename cannot cross file
// systems, copies the bytes, commits them to disk and then deletes from.
// False (system error set) when the log stayed where it was.
bool MoveLogFile(const std::string& from, const std::string& to);

}  // namespace kovran
