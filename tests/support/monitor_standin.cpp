// A stand-in for the monitoring component: it answers OstraInit with the
// value of KOVRAN_OSTRA_INIT (default 1) and appends one line per call to the
// file named by KOVRAN_OSTRA_RECORD, so tests can check every event exactly.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#define OSTRA_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Record(const char* format, ...) {
    const char* path = std::getenv("KOVRAN_OSTRA_RECORD");
    if (!path) return;
    std::FILE* f = std::fopen(path, "a");
    if (!f) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(f, format, args);
    va_end(args);
    std::fputc('\n', f);
    std::fclose(f);
}

}  // namespace

OSTRA_EXPORT int OstraInit(int mode, const char* config, int mask) {
    Record("OstraInit %d %s %d", mode, config ? config : "(null)", mask);
    const char* answer = std::getenv("KOVRAN_OSTRA_INIT");
    return answer ? std::atoi(answer) : 1;
}

OSTRA_EXPORT int OstraLogExt(int category, int mask, int subCode, int value, const char* text1,
                             const char* text2, int extra1, int extra2) {
    Record("OstraLogExt %d %d %d %d [%s] [%s] %d %d", category, mask, subCode, value,
           text1 ? text1 : "(null)", text2 ? text2 : "(null)", extra1, extra2);
    return 7;
}

OSTRA_EXPORT int OstraIqa(const char* front, const char* rear) {
    Record("OstraIqa [%s] [%s]", front ? front : "(null)", rear ? rear : "(null)");
    return 0;
}

OSTRA_EXPORT int OstraLog() {
    Record("OstraLog");
    return 0;
}

#ifndef KOVRAN_STANDIN_INCOMPLETE
OSTRA_EXPORT int OstraIqaMem() {
    Record("OstraIqaMem");
    return 0;
}
#endif
