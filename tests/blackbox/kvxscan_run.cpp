#include "blackbox/kvxscan_run.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace kovran::test {
namespace {

void ExecTool(const ToolRunOptions& options, int outFd, int errFd) {
    dup2(outFd, STDOUT_FILENO);
    if (errFd >= 0) dup2(errFd, STDERR_FILENO);
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::string> argv = {KOVRAN_KVXSCAN_PATH};
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

}  // namespace

ToolRun RunKvxscan(const ToolRunOptions& options) {
    ToolRun run;
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return run;
    int errPipe[2] = {-1, -1};
    int errRead = -1;
    pid_t child = -1;
    if (options.stderrTo == Stdio::Terminal) {
        // The child's terminal is its standard error; standard output stays
        // a pipe, as when a user redirects it.
        child = forkpty(&errRead, nullptr, nullptr, nullptr);
        if (child == 0) ExecTool(options, outPipe[1], -1);
    } else {
        if (pipe2(errPipe, O_CLOEXEC) != 0) return run;
        child = fork();
        if (child == 0) ExecTool(options, outPipe[1], errPipe[1]);
        close(errPipe[1]);
        errRead = errPipe[0];
    }
    close(outPipe[1]);
    if (child < 0) return run;

    pollfd fds[2] = {{.fd = outPipe[0], .events = POLLIN, .revents = 0},
                     {.fd = errRead, .events = POLLIN, .revents = 0}};
    bool interrupted = false;
    int open = 2;
    while (open > 0) {
        const int ready = poll(fds, 2, options.deadlineSeconds * 1000);
        if (ready == 0) {
            run.hung = true;
            kill(child, SIGKILL);
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            // A pseudo-terminal reports its closed far end as EIO.
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? run.out : run.err).append(buf, static_cast<std::size_t>(n));
        }
        const auto lines = std::count(run.out.begin(), run.out.end(), '\n');
        if (!interrupted && options.interruptAfterLines > 0 &&
            lines >= options.interruptAfterLines) {
            kill(child, options.interruptSignal);
            interrupted = true;
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int status = 0;
    waitpid(child, &status, 0);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace kovran::test
