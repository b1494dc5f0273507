// kvxscan: a host program of the scanner library. It loads libKovranMS.so
// through the public header only, exactly as a cheque-processing host does.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KovranMS.h"
#include "scan_command.h"
#include "tool_error.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: kvxscan [--version] [--list] [--info] [--help]\n"
        "       kvxscan stripe [--timeout SECONDS]\n"
        "       kvxscan scan [--count N] [--dpi D] [--color] [--format FORMAT] [--out DIR] "
        "[--json]\n"
        "                   [--endorse TEXT]\n"
        "  --version   print the library's version text\n"
        "  --list      list the scanners found (VID, PID, serial number, device path)\n"
        "  --info      open the scanner and print its identity, firmware, capabilities,\n"
        "              counters and status\n"
        "  stripe      wait for one card swipe (default 30 s; Ctrl-C stops) and print\n"
        "              tracks 1 to 3, or why they could not be read\n"
        "  scan        scan N documents from the feeder (default: all of them) at D dpi\n"
        "              (default 200, grey; --color for colour) and save the front and the\n"
        "              rear of each into DIR (default .) as doc0001-front.jpg, ...;\n"
        "              FORMAT jpeg (quality 80, the default), tiff-g4, png, bmp or pdf.\n"
        "              One line per document on standard output (--json: one JSON object\n"
        "              per line), a progress bar on a terminal; Ctrl-C stops after the\n"
        "              document in hand is saved (exit 130; SIGTERM 143), a failure exits 1;\n"
        "              --endorse prints TEXT on the rear of each document (either printer\n"
        "              kind); on a type 1 printer the saved front carries it as a virtual\n"
        "              endorsement\n"
        "environment: KOVRAN_USB=sim selects the scanner simulator (KOVRAN_SIM=<profile>)\n",
        out);
}

std::string FromBstr(BSTR b) {
    if (b == nullptr) return {};
    const char* bytes = reinterpret_cast<const char*>(b);
    return std::string(bytes, strnlen(bytes, SysStringByteLen(b)));
}

int PrintVersion() {
    BSTR text = nullptr;
    const KVXResult r = KVXVersion(0, &text);
    if (r != KVX_OK) {
        char msg[256];
        KVXErrorMsg2(sizeof msg, msg);
        std::fprintf(stderr, "kvxscan: KVXVersion failed: %d %s\n", r, msg);
        return 1;
    }
    std::printf("%s\n", FromBstr(text).c_str());
    SysFreeString(text);
    return 0;
}

int ListDevices() {
    const int needed = KVXEnumerateDevices(nullptr, 0);
    if (needed <= 0) return 1;
    std::string text(static_cast<std::size_t>(needed), '\0');
    if (KVXEnumerateDevices(text.data(), needed) < 0) {
        std::fprintf(stderr, "kvxscan: listing failed: %d\n", KVXGetLastResult());
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    if (text[0] == '\0') std::fputs("no scanner found\n", stderr);
    return 0;
}

std::string LastMessage() {
    char msg[256] = {};
    KVXErrorMsg2(sizeof msg, msg);
    return msg;
}

// The configuration bits a host may show, as the device documents them;
// each means something only from its firmware on.
struct CapabilityBit {
    int bit;
    uint16_t fromFirmware;
    const char* name;
};
constexpr CapabilityBit kCapabilityBits[] = {
    {1, 0x0000, "rear camera"},          {8, 0x3000, "document feeder"},
    {9, 0x3000, "inkjet (type 1)"},      {10, 0x3000, "inkjet (type 2)"},
    {12, 0x3007, "MICR head"},           {14, 0x3104, "external power sensing"},
    {16, 0x4005, "double feed sensor"},  {17, 0x4000, "backlight"},
    {27, 0x5003, "photo sensor tuning"},
};

int PrintInfo() {
    const int handle = KVXInitialize(nullptr);
    if (handle == -1) {
        std::fprintf(stderr, "kvxscan: no scanner opened: %d %s\n", KVXGetLastResult(),
                     LastMessage().c_str());
        return 1;
    }
    const KVXResult init = KVXGetLastResult();
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t fw = 0;
    KVXDeviceInfo(handle, &vid, &pid, &fw);
    char serial[256] = {};
    KVXReadSN(handle, serial, static_cast<int16_t>(sizeof serial));
    const uint32_t config = KVXComposition();
    const uint32_t config2 = KVXCompositionH();
    const uint16_t version = fw & 0x7FFF;
    std::printf("handle         %d\n", handle);
    std::printf("device         VID %04X PID %04X serial %s\n", vid, pid, serial);
    std::printf("firmware       %04X%s\n", version, (fw & 0x8000) ? " (flag 15)" : "");
    std::printf("configuration  0x%08X 0x%04X\n", config, config2);
    std::printf("capabilities  ");
    for (const CapabilityBit& c : kCapabilityBits) {
        if (version >= c.fromFirmware && ((config >> c.bit) & 1u) != 0)
            std::printf(" [%s]", c.name);
    }
    if (version > 0x5010 && (config2 & 0x20u) != 0) std::printf(" [buzzer]");
    std::printf("\n");
    std::printf("pages          total %d, current %d\n", KVXPagNumTot(handle),
                KVXPagNumCur(handle, 0));
    std::printf("inkjet prints  total %d, current %d\n", KVXInkjetNumTot(handle),
                KVXInkjetNumCur(handle, 0));
    std::printf("status         0x%08X\n", KVXReadStatusL(handle));
    if (init != KVX_OK) std::printf("initialise     %d\n", init);
    KVXClose(handle);
    return 0;
}

// Ctrl-C while waiting for a swipe.
volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// The library waits for a swipe in slices this long, so that Ctrl-C ends
// the wait within one slice.
constexpr int kSwipeSliceMs = 500;

int ReadStripe(int timeoutSeconds) {
    const int handle = KVXInitialize(nullptr);
    if (handle == -1) {
        std::fprintf(stderr, "kvxscan: no scanner opened: %d %s\n", KVXGetLastResult(),
                     LastMessage().c_str());
        return 1;
    }
    struct sigaction action = {};
    action.sa_handler = &OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    KVXSetParameter(101, kSwipeSliceMs);
    KVXMagStripeEnable(handle, 1);
    std::fprintf(stderr, "swipe a card (%d s)...\n", timeoutSeconds);

    BSTR tracks[3] = {};
    KVXResult r = KVX_ERR_TIMEOUT;
    const int slices = timeoutSeconds * 1000 / kSwipeSliceMs;
    for (int i = 0; i < slices && r == KVX_ERR_TIMEOUT && !interrupted; ++i)
        r = KVXMagStripe(handle, &tracks[0], &tracks[1], &tracks[2], 0);
    const std::string message = LastMessage();
    // A track that did not decode leaves the others readable.
    const bool swiped = r == KVX_OK || (r <= KVX_ERR_MS_READ && r >= KVX_ERR_MS_TOO_MANY);
    for (int t = 0; t < 3; ++t) {
        if (swiped && !interrupted)
            std::printf("track %d  %s\n", t + 1, FromBstr(tracks[t]).c_str());
        SysFreeString(tracks[t]);
    }
    KVXClose(handle);
    if (interrupted) {
        std::fprintf(stderr, "kvxscan: stopped\n");
        return 130;
    }
    if (r != KVX_OK) {
        std::fprintf(stderr, "kvxscan: %d %s\n", r, message.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string arg = argv[1];
    if (arg == "--version") return PrintVersion();
    if (arg == "--list") return ListDevices();
    if (arg == "--info") return PrintInfo();
    if (arg == "stripe") {
        int seconds = 30;
        if (argc == 4 && std::strcmp(argv[2], "--timeout") == 0) {
            char* end = nullptr;
            const long v = std::strtol(argv[3], &end, 10);
            if (*argv[3] == '\0' || *end != '\0' || v < 1 || v > 3600) {
                std::fprintf(stderr, "kvxscan: --timeout takes 1 to 3600 seconds\n");
                return 2;
            }
            seconds = static_cast<int>(v);
        } else if (argc != 2) {
            Usage(stderr);
            return 2;
        }
        return ReadStripe(seconds);
    }
    if (arg == "scan") {
        try {
            return kvxscan::RunScan(kvxscan::ParseScanOptions(argc - 2, argv + 2));
        } catch (const kvxscan::ToolError& e) {
            std::fprintf(stderr, "kvxscan: %s\n", e.what());
            if (e.ExitCode() == kvxscan::kExitUsage) Usage(stderr);
            return e.ExitCode();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kvxscan: %s\n", e.what());
            return 1;
        }
    }
    if (arg == "--help" || arg == "-h") {
        Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "kvxscan: unknown option %s\n", arg.c_str());
    Usage(stderr);
    return 2;
}
