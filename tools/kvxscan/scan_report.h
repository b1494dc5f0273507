// What `kvxscan scan` tells its user: one line or one JSON object per
// document on standard output, and on standard error a progress bar when
// that is a terminal (documents done, documents per minute), else a plain
// summary line at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kvxscan {

// One saved side of a document.
struct SideFile {
    std::string path;
    std::uintmax_t bytes = 0;
    unsigned lines = 0;  // the acquired height at the scan's resolution
    bool saved = false;
};

struct DocumentReport {
    int number = 0;  // from 1
    int result = 0;  // the library's result for the document
    std::string message;
    SideFile front;
    SideFile rear;
};

enum class Output : bool { Lines, Json };
enum class Terminal : bool { No, Yes };

// "[#####-----]  5/10 documents  12.5 documents/min" (no bar for an open
// count); the bar is width characters wide between its brackets.
std::string ProgressText(int done, int total, double perMinute, int width);
std::string DocumentLine(const DocumentReport& doc);
// One line of JSON, without the newline.
std::string DocumentJson(const DocumentReport& doc);
// Documents per minute over elapsedMs (0 before a whole millisecond).
double PerMinute(int done, std::int64_t elapsedMs);

class ScanReporter {
  public:
    // total 0: as many documents as the feeder holds.
    ScanReporter(Output output, Terminal progress, int total, std::FILE* out, std::FILE* err);

    void Start(std::int64_t nowMs);
    void Document(const DocumentReport& doc, std::int64_t nowMs);
    // Clears the bar and prints the summary: how many documents, how fast,
    // where the files are, and how the run ended.
    void Finish(std::int64_t nowMs, const std::string& outDir, const std::string& ending);
    int Done() const { return done_; }

  private:
    void ClearBar();
    void DrawBar(std::int64_t nowMs);

    Output output_;
    Terminal progress_;
    int total_;
    std::FILE* out_;
    std::FILE* err_;
    std::int64_t startMs_ = 0;
    int done_ = 0;
    bool barShown_ = false;
};

}  // namespace kvxscan
