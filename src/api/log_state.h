// The log's state: settings read by the log start and what it derives
// from them. Only the log's own files (and their tests) include this; every
// other file writes lines through api/log.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/process_lock.h"

namespace kovran {

// Log settings and derived state (one per loaded library).
struct LogState {
    std::atomic<bool> on{false};  // "Log" > 0 and a log path is known
    bool verbose = false;         // "Verbose" > 0: echo on standard output
    bool timeStamp = true;        // "LogTimeStamp" > 0
    bool newLog = true;           // "LogNew" > 0
    bool dated = false;           // "LogDate" > 0
    // "Debug"; worker threads test it while a log start may change it.
    std::atomic<std::uint16_t> debugMask{0};
    std::int64_t sizeLimit = 4096;  // "LogSize"; 0 means no limit
    int keepDays = 0;               // "LogDays"
    int datedDay = 0;               // local day of month of the dated name
    std::string directory;          // with a trailing separator
    std::string filePath;           // the log file
    // The file's cross-process lock (named as the log's semaphore always
    // was); reopened by the next line when missing.
    std::string lockName;
    std::unique_ptr<platform::ProcessLock> lock;
    // Where the lock file lives; tests point it into their own directory.
    std::string lockDirectory = platform::kProcessLockDirectory;
    bool loading = false;        // the library is being loaded
    bool headerWritten = false;  // the load header of this load is out
    // Serialises this process's threads on the state above; the process
    // lock serialises the processes (and threads) that share the file.
    std::recursive_mutex mutex;
};

LogState& LogRecord();

// Closes the log file's lock (the unload); a later line opens it again.
void CloseLogLock();

// The unload's last log step: the lines of calls that come after the
// records are given back go to the current log file, whose path is kept in
// static storage (heap memory would outlive the library's code). A log
// start ends this.
void KeepLogPathForLateLines();
void EndLateLines();

// The lock name of a log file: the path without ".log", every "/", "\"
// and ":" made "_".
std::string LogLockNameFor(const std::string& logPath);

}  // namespace kovran
