// kvxscan: a host program of the scanner library. It loads libKovranMS.so
// through the public header only, exactly as a cheque-processing host does.
#include <cstdio>
#include <cstring>
#include <string>

#include "KovranMS.h"

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "usage: kvxscan [--version] [--help]\n"
        "  --version   print the library's version text\n",
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string arg = argv[1];
    if (arg == "--version") return PrintVersion();
    if (arg == "--help" || arg == "-h") {
        Usage(stdout);
        return 0;
    }
    std::fprintf(stderr, "kvxscan: unknown option %s\n", arg.c_str());
    Usage(stderr);
    return 2;
}
