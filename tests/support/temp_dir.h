// A scratch directory for one test, removed with everything in it.
#pragma once

#include <string>

namespace kovran::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Absolute path, without a trailing separator.
    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Whole contents of a file ("" when it cannot be read).
std::string ReadFileBytes(const std::string& path);
// Writes bytes as they are (no text-mode translation).
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace kovran::test
