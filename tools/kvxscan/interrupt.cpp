#include "interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "tool_error.h"

namespace kvxscan {
namespace {

int wakePipe[2] = {-1, -1};
volatile std::sig_atomic_t interrupted = 0;
struct sigaction previousInt = {};
struct sigaction previousTerm = {};

void OnInterrupt(int signal) {
    // A second Ctrl-C while the stop runs ends the program at once.
    if (interrupted != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int saved = errno;
    interrupted = signal;
    const char byte = 1;
    // A full pipe already holds a wake-up.
    [[maybe_unused]] const ssize_t n = write(wakePipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

InterruptWatch::InterruptWatch() {
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw ToolError("cannot create the interrupt pipe");
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    close(wakePipe[0]);
    close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

bool InterruptWatch::Interrupted() const {
    return interrupted != 0;
}

int InterruptWatch::ExitCode() const {
    return interrupted == SIGTERM ? kExitTerminated : kExitInterrupted;
}

bool InterruptWatch::Wait(int ms) const {
    if (Interrupted()) return true;
    pollfd fd = {.fd = wakePipe[0], .events = POLLIN, .revents = 0};
    // EINTR is the interrupt itself; the flag says so.
    poll(&fd, 1, ms);
    return Interrupted();
}

std::int64_t MonotonicMs() {
    timespec t = {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

}  // namespace kvxscan
