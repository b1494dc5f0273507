#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kovran::test {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kovran-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    // Named semaphores and lock files of files in this directory (the
    // log's) carry the path with '/' turned into '_'.
    std::string mangled = path_;
    for (char& c : mangled)
        if (c == '/') c = '_';
    for (const auto& e : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string name = e.path().filename().string();
        const bool ours = name.rfind("sem.", 0) == 0 || name.rfind("kovran-", 0) == 0;
        if (ours && name.find(mangled) != std::string::npos) std::filesystem::remove(e.path(), ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace kovran::test
