#include "scan_report.h"

#include <nlohmann/json.hpp>

namespace kvxscan {
namespace {

constexpr int kBarWidth = 30;

std::string Format(const char* format, auto... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string SideText(const char* name, const SideFile& side) {
    if (!side.saved) return Format("  %s -", name);
    return Format("  %s %u lines %.1f KB", name, side.lines,
                  static_cast<double>(side.bytes) / 1024);
}

nlohmann::ordered_json SideJson(const SideFile& side) {
    if (!side.saved) return nullptr;
    return {{"file", side.path}, {"lines", side.lines}, {"bytes", side.bytes}};
}

}  // namespace

double PerMinute(int done, std::int64_t elapsedMs) {
    return elapsedMs > 0 ? done * 60000.0 / static_cast<double>(elapsedMs) : 0.0;
}

std::string ProgressText(int done, int total, double perMinute, int width) {
    if (total <= 0) return Format("%d documents  %.1f documents/min", done, perMinute);
    const int filled = static_cast<int>(static_cast<long long>(width) * done / total);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-') + "] " +
           Format("%d/%d documents  %.1f documents/min", done, total, perMinute);
}

std::string DocumentLine(const DocumentReport& doc) {
    return Format("document %d", doc.number) + SideText("front", doc.front) +
           SideText("rear", doc.rear) + Format("  %d %s", doc.result, doc.message.c_str());
}

std::string DocumentJson(const DocumentReport& doc) {
    const nlohmann::ordered_json j = {{"document", doc.number},
                                      {"result", doc.result},
                                      {"message", doc.message},
                                      {"front", SideJson(doc.front)},
                                      {"rear", SideJson(doc.rear)}};
    // Bytes that are not UTF-8 (a file name) are replaced, never a throw.
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

ScanReporter::ScanReporter(Output output, Terminal progress, int total, std::FILE* out,
                           std::FILE* err)
    : output_(output), progress_(progress), total_(total), out_(out), err_(err) {}

void ScanReporter::Start(std::int64_t nowMs) {
    startMs_ = nowMs;
    DrawBar(nowMs);
}

void ScanReporter::Document(const DocumentReport& doc, std::int64_t nowMs) {
    ClearBar();
    const std::string line = output_ == Output::Json ? DocumentJson(doc) : DocumentLine(doc);
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    if (doc.result >= 0) ++done_;
    DrawBar(nowMs);
}

void ScanReporter::Finish(std::int64_t nowMs, const std::string& outDir,
                          const std::string& ending) {
    ClearBar();
    const std::int64_t elapsed = nowMs - startMs_;
    std::fprintf(err_, "kvxscan: %d document%s in %.1f s (%.1f documents/min), files in %s%s%s\n",
                 done_, done_ == 1 ? "" : "s", static_cast<double>(elapsed) / 1000,
                 PerMinute(done_, elapsed), outDir.c_str(), ending.empty() ? "" : "; ",
                 ending.c_str());
    std::fflush(err_);
}

void ScanReporter::ClearBar() {
    if (!barShown_) return;
    std::fputs("\r\033[K", err_);
    barShown_ = false;
}

void ScanReporter::DrawBar(std::int64_t nowMs) {
    if (progress_ == Terminal::No) return;
    const std::string text =
        ProgressText(done_, total_, PerMinute(done_, nowMs - startMs_), kBarWidth);
    std::fprintf(err_, "\r\033[K%s", text.c_str());
    std::fflush(err_);
    barShown_ = true;
}

}  // namespace kvxscan
