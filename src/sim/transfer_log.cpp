#include "sim/transfer_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "sim/scripted_chat.h"

namespace kovran::sim {

namespace {

constexpr std::size_t kMaxLogBytes = 64u << 20;

}  // namespace

TransferLog::TransferLog(const std::string& path) {
    if (path.empty()) return;
    fd_ = platform::UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
}

void TransferLog::Begin(const platform::UsbSetup& setup) {
    if (!fd_.valid()) return;
    char line[96];
    int n = std::snprintf(line, sizeof line, "B %ld %s\n", static_cast<long>(::getpid()),
                          DescribeSetup(setup).c_str());
    if (n > 0)
        platform::WriteAllBytes(fd_.get(), std::string_view(line, static_cast<std::size_t>(n)));
}

void TransferLog::End(const platform::UsbSetup& setup, int result) {
    if (!fd_.valid()) return;
    char line[96];
    int n = std::snprintf(line, sizeof line, "E %ld %s %d\n", static_cast<long>(::getpid()),
                          DescribeSetup(setup).c_str(), result);
    if (n > 0)
        platform::WriteAllBytes(fd_.get(), std::string_view(line, static_cast<std::size_t>(n)));
}

TransferLogSummary CheckTransferLog(const std::string& path) {
    TransferLogSummary s;
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    if (!fd.valid() || !platform::ReadAllBytes(fd.get(), kMaxLogBytes, text)) return s;
    s.readable = true;
    std::size_t open = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (line.size() > 2 && line[0] == 'B' && line[1] == ' ') {
            if (open > 0) ++s.overlaps;
            ++open;
        } else if (line.size() > 2 && line[0] == 'E' && line[1] == ' ' && open > 0) {
            --open;
            ++s.transfers;
        } else if (!line.empty()) {
            ++s.malformed;
        }
    }
    return s;
}

}  // namespace kovran::sim
