// Image files appear under the host's name only when complete: the bytes
// go to a temporary file in the target directory, which is renamed over the
// name at the end. A failure on the way removes the temporary file, so no
// half-written file is ever left under the name.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kovran::imaging::output {

enum class WriteFailure {
    None,
    Open,   // the file cannot be created (bad name, directory, no right)
    Write,  // fewer bytes written than asked (a full disk)
};

// Writes the bytes as the named file; *systemError receives errno on
// failure.
WriteFailure WriteFileAtomically(const std::string& name, std::span<const std::uint8_t> bytes,
                                 int* systemError = nullptr);

// A temporary name beside `name` for a file that is renamed over it when
// complete (empty when the directory cannot take one; *systemError set).
// The file is created empty and owned by the caller.
std::string CreateTemporaryBeside(const std::string& name, int* systemError = nullptr);

// Renames the completed temporary file over the name; on failure removes
// the temporary file.
bool CommitTemporary(const std::string& temporary, const std::string& name,
                     int* systemError = nullptr);

// The writes of image files go through this; tests replace it to simulate
// a full disk. Same contract as write(2).
using WriteHook = ssize_t (*)(int fd, const void* data, std::size_t size);
void InstallWriteHook(WriteHook hook);  // null: write(2)
ssize_t WriteThroughHook(int fd, const void* data, std::size_t size);

}  // namespace kovran::imaging::output
