// Replays a fuzz target's kept corpus without libFuzzer, so that every build
// runs the inputs of past faults as a regression test (any compiler, any
// sanitizer). Arguments are files or folders of inputs; a crash or a failed
// check inside the target ends the run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

bool Replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        std::error_code ec;
        if (std::filesystem::is_directory(arg, ec)) {
            for (const auto& entry : std::filesystem::directory_iterator(arg)) {
                if (!entry.is_regular_file()) continue;
                if (!Replay(entry.path())) return 1;
                ++replayed;
            }
        } else {
            if (!Replay(arg)) return 1;
            ++replayed;
        }
    }
    // The empty input is every target's first edge case.
    LLVMFuzzerTestOneInput(nullptr, 0);
    std::printf("replay: %d inputs\n", replayed);
    return replayed > 0 ? 0 : 1;
}
