#include "scan_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "KovranMS.h"
#include "interrupt.h"
#include "tool_error.h"

namespace kvxscan {
namespace {

namespace fs = std::filesystem;

constexpr int kFront = 1;
constexpr int kRear = 0;
// Parameter 0: the colour mode (1 grey, 2 colour).
constexpr int kParColour = 0;
constexpr int kColourRgb = 2;
// The status word's "document at the input" and feeder photocell bits.
constexpr uint32_t kDocumentAtInput = 0x4;
constexpr uint32_t kFeederPhotocell = 0x20000;
// The asynchronous scan's status word: 0 start, 3 finished.
constexpr int16_t kAsyncStart = 0;
constexpr int16_t kAsyncFinished = 3;
// How often a running scan is polled; a Ctrl-C ends the wait at once.
constexpr int kPollMs = 20;
constexpr int kJpegQuality = 80;
constexpr int kTextBytes = 256;
// The endorsement: a system face at 10 points, printed 1/2 inch from the
// document's leading edge, the stamp kept for every document.
constexpr const char* kEndorseFont = "ARIAL";
constexpr int16_t kEndorsePoints = 10;
constexpr int16_t kEndorseOffset = 50;
constexpr int16_t kKeepStamp = 1;
constexpr int16_t kPrinterDensity = 0;
constexpr int16_t kDefaultFire = 0;
constexpr int16_t kUpright = 0;
constexpr int16_t kReserved = 0;
constexpr std::size_t kEndorseLimit = 511;

struct FormatInfo {
    const char* name;
    const char* extension;
    int16_t format;
    int16_t quality;       // JPEG and PDF with a JPEG image
    int16_t bitsPerPixel;  // 0: as scanned
};

constexpr FormatInfo kFormats[] = {
    {"jpeg", "jpg", KVX_FMT_JPEG, kJpegQuality, 0},
    {"tiff-g4", "tif", KVX_FMT_TIFF_G4, 0, 1},
    {"png", "png", KVX_FMT_PNG, 0, 0},
    {"bmp", "bmp", KVX_FMT_BMP, 0, 0},
    {"pdf", "pdf", KVX_FMT_PDF_JPEG, kJpegQuality, 0},
};

const FormatInfo& Info(FileFormat f) {
    return kFormats[static_cast<int>(f)];
}

std::string LastMessage() {
    char msg[256] = {};
    KVXErrorMsg2(sizeof msg, msg);
    return msg;
}

// The library tells the host a result; its log tells why.
std::string LogHint() {
    char log[260] = {};
    KVXLogFileName(log);
    return log[0] == '\0' ? std::string() : std::string(" (library log: ") + log + ")";
}

int Number(const std::string& option, const char* text, int lo, int hi) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || v < lo || v > hi)
        throw ToolError(option + " takes a whole number from " + std::to_string(lo) + " to " +
                            std::to_string(hi),
                        kExitUsage);
    return static_cast<int>(v);
}

// The open scanner; closed on every way out.
class Session {
  public:
    Session() {
        handle_ = KVXInitialize(nullptr);
        if (handle_ == -1)
            throw ToolError("no scanner opened: " + std::to_string(KVXGetLastResult()) + " " +
                            LastMessage() + LogHint());
    }
    ~Session() { KVXClose(handle_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    int Handle() const { return handle_; }

  private:
    int handle_ = -1;
};

void Check(KVXResult r, const std::string& what) {
    if (r < 0)
        throw ToolError(what + " failed: " + std::to_string(r) + " " + LastMessage() + LogHint());
}

bool DocumentWaiting(int handle) {
    return (KVXReadStatusL(handle) & (kDocumentAtInput | kFeederPhotocell)) != 0;
}

// One document through the asynchronous scan, polled so that Ctrl-C can
// stop it; nothing when the interrupt came first.
std::optional<KVXResult> ScanDocument(int handle, const ScanOptions& options,
                                      const InterruptWatch& watch) {
    Check(KVXImgCreate1Async(handle, static_cast<int16_t>(options.dpi),
                             static_cast<int16_t>(options.dpi), 0),
          "creating the images");
    char codeline[kTextBytes] = {};
    char confidence[kTextBytes] = {};
    int16_t status = kAsyncStart;
    KVXResult r = KVXImgScan1Async(handle, nullptr, codeline, confidence, kTextBytes, &status);
    if (r < 0) return r;
    while (status != kAsyncFinished) {
        if (watch.Wait(kPollMs)) return std::nullopt;
        r = KVXImgScan1Async(handle, nullptr, codeline, confidence, kTextBytes, &status);
        if (r < 0 && status != kAsyncFinished) return r;
    }
    return r;
}

SideFile SaveSide(int handle, int side, int number, const ScanOptions& options,
                  DocumentReport& doc) {
    const FormatInfo& f = Info(options.format);
    char name[64];
    std::snprintf(name, sizeof name, "doc%04d-%s.%s", number, side == kFront ? "front" : "rear",
                  f.extension);
    SideFile file;
    file.path = (fs::path(options.outDir) / name).string();
    // At the resolution asked for: the scan may run at a higher one (the
    // acquisition mode's), which a plain KVXImgSave would keep.
    const int16_t dpi = static_cast<int16_t>(options.dpi);
    constexpr int16_t kNoOption = 0;
    const KVXResult r =
        KVXImgSave3(handle, static_cast<int16_t>(side), kNoOption, kNoOption, 0, 0, 0, 0, f.quality,
                    f.format, kUpright, dpi, f.bitsPerPixel, file.path.c_str());
    if (r < 0) {
        doc.result = r;
        doc.message = LastMessage();
        return file;
    }
    std::error_code ec;
    file.bytes = fs::file_size(file.path, ec);
    file.lines =
        KVXGetAcqHeight(handle, static_cast<int16_t>(side), static_cast<int16_t>(options.dpi));
    file.saved = !ec;
    return file;
}

// Arms the endorsement printer the scanner has, whichever of the two kinds
// it is: a scanner without one refuses the type 1 set-up with -15.
void ArmEndorsement(int handle, const std::string& text) {
    KVXResult r =
        KVXInkjet1SetUp2(handle, text.c_str(), kEndorseFont, kEndorsePoints, kPrinterDensity,
                         kEndorseOffset, kKeepStamp, kDefaultFire, kUpright);
    if (r == KVX_ERR_HW_UNSUPPORTED)
        r = KVXInkjet2SetUp(handle, text.c_str(), kEndorseFont, kEndorsePoints, kEndorseOffset,
                            kReserved, kDefaultFire, kUpright);
    if (r == KVX_ERR_HW_UNSUPPORTED)
        throw ToolError("--endorse: the scanner has no endorsement printer ready: " +
                        LastMessage() + LogHint());
    Check(r, "arming the endorsement");
}

}  // namespace

ScanOptions ParseScanOptions(int argc, char** argv) {
    ScanOptions o;
    for (int i = 0; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) throw ToolError(a + " needs a value", kExitUsage);
            return argv[++i];
        };
        if (a == "--count") {
            o.count = Number(a, value(), 1, 1000000);
        } else if (a == "--dpi") {
            o.dpi = Number(a, value(), 100, 600);
        } else if (a == "--color" || a == "--colour") {
            o.colour = Colour::Colour;
        } else if (a == "--format") {
            const std::string name = value();
            bool known = false;
            for (int f = 0; f < static_cast<int>(std::size(kFormats)); ++f) {
                if (name != kFormats[f].name) continue;
                o.format = static_cast<FileFormat>(f);
                known = true;
            }
            if (!known)
                throw ToolError("--format takes jpeg, tiff-g4, png, bmp or pdf, not " + name,
                                kExitUsage);
        } else if (a == "--out") {
            o.outDir = value();
            if (o.outDir.empty()) throw ToolError("--out needs a folder", kExitUsage);
        } else if (a == "--endorse") {
            o.endorse = value();
            if (o.endorse.empty() || o.endorse.size() > kEndorseLimit)
                throw ToolError("--endorse takes a text of 1 to " + std::to_string(kEndorseLimit) +
                                    " characters",
                                kExitUsage);
        } else if (a == "--json") {
            o.output = Output::Json;
        } else {
            throw ToolError("unknown scan option " + a, kExitUsage);
        }
    }
    return o;
}

int RunScan(const ScanOptions& options) {
    std::error_code ec;
    fs::create_directories(options.outDir, ec);
    if (ec || !fs::is_directory(options.outDir))
        throw ToolError("cannot make the folder " + options.outDir + ": " + ec.message());

    const InterruptWatch watch;
    Session session;
    const int handle = session.Handle();
    if (options.colour == Colour::Colour)
        Check(KVXSetParameter(kParColour, kColourRgb), "colour scanning");
    if (!options.endorse.empty()) ArmEndorsement(handle, options.endorse);

    if (!DocumentWaiting(handle)) throw ToolError("no document in the feeder");

    ScanReporter report(options.output, isatty(STDERR_FILENO) ? Terminal::Yes : Terminal::No,
                        options.count, stdout, stderr);
    report.Start(MonotonicMs());
    std::string ending;
    for (int number = 1; options.count == 0 || number <= options.count; ++number) {
        if (watch.Interrupted()) break;
        if (!DocumentWaiting(handle)) {
            if (options.count != 0)
                ending = "the feeder ran empty after " + std::to_string(number - 1) + " of " +
                         std::to_string(options.count) + " documents";
            break;
        }
        const std::optional<KVXResult> scanned = ScanDocument(handle, options, watch);
        if (!scanned) break;
        DocumentReport doc;
        doc.number = number;
        doc.result = *scanned;
        doc.message = LastMessage();
        if (doc.result >= 0) doc.front = SaveSide(handle, kFront, number, options, doc);
        if (doc.result >= 0) doc.rear = SaveSide(handle, kRear, number, options, doc);
        report.Document(doc, MonotonicMs());
        if (doc.result < 0) {
            report.Finish(MonotonicMs(), options.outDir, "failed");
            throw ToolError("document " + std::to_string(number) + ": " +
                            std::to_string(doc.result) + " " + doc.message + LogHint());
        }
    }
    if (watch.Interrupted()) {
        // Ends a scan still running (its thread joined, its images freed);
        // every document reported is saved whole.
        KVXStop(handle, 1);
        report.Finish(MonotonicMs(), options.outDir, "stopped");
        return watch.ExitCode();
    }
    report.Finish(MonotonicMs(), options.outDir, ending);
    return 0;
}

}  // namespace kvxscan
