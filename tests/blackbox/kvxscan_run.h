// Runs the kvxscan program as a user runs it, with its own environment,
// and collects what it printed and how it ended.
#pragma once

#include <csignal>
#include <map>
#include <string>
#include <vector>

namespace kovran::test {

struct ToolRun {
    int exitCode = -1;  // -1: killed by a signal (or lost)
    bool hung = false;  // no output and no exit for the whole deadline
    std::string out;
    std::string err;
};

enum class Stdio { Pipes, Terminal };

struct ToolRunOptions {
    std::vector<std::string> args;           // after the program
    std::map<std::string, std::string> env;  // set on top of the test's own
    int interruptAfterLines = 0;             // SIGINT once this many stdout lines came
    int interruptSignal = SIGINT;            // or SIGTERM, as a supervisor stops it
    Stdio stderrTo = Stdio::Pipes;           // Terminal: a pseudo-terminal
    int deadlineSeconds = 120;               // silence that counts as a hang
};

ToolRun RunKvxscan(const ToolRunOptions& options);

}  // namespace kovran::test
