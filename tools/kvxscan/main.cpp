// kvxscan: a host program of the scanner library. It loads libKovranMS.so
// through the public header only, exactly as a cheque-processing host does.
#include <cstdio>
#include <cstring>
#include <string>

#include "KovranMS.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: kvxscan [--version] [--list] [--help]\n"
        "  --version   print the library's version text\n"
        "  --list      list the scanners found (VID, PID, serial number, device path)\n"
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string arg = argv[1];
    if (arg == "--version") return PrintVersion();
    if (arg == "--list") return ListDevices();
    if (arg == "--help" || arg == "-h") {
        Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "kvxscan: unknown option %s\n", arg.c_str());
    Usage(stderr);
    return 2;
}
