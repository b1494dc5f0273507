// Handing a text to a buffer that the host owns.
//
// The rule, in this order:
//  1. Size query: when the host asks for the size (how it asks depends on
//     the export) nothing is written and the answer is the text length + 1.
//  2. Null buffer: fails with -1 and the last result -3 (the export's error
//     line first, when it has one).
//  3. Too small: fails with -1 and the last result -3 after the export's
//     error line; some exports leave an empty text in the buffer.
//  4. Copy: the text and its terminator.
// The exports grew their answers one by one and hosts rely on each of them,
// so the differences stay, named by the rule's variant and listed in
// host_buffer.cpp.
#pragma once

#include <string_view>

namespace kovran {

// A caller's buffer as an export received it.
struct HostBuffer {
    char* data;
    int length;
};

enum class HostBufferRule {
    // KVXErrorMsg2 (ErrorText): the length counts as 16 bits, 0 or less is
    // a size query; a too small buffer is left empty; success returns the
    // length + 1 and leaves the last result alone.
    Message,
    // KVXEnumerateDevices: as Message with the whole int length, and
    // success sets the last result to 0.
    DeviceList,
    // KVXVersionC: a null buffer is a size query as well; the text is
    // logged before the size check; a too small buffer is left untouched;
    // success clears the whole buffer, sets the last result to 0 and
    // returns the text length without the terminator.
    Version,
    // KVXConfigDirGet, KVXLogFileName: the host gives no length but a field
    // of kPathField bytes; a null buffer gives -3; success clears the field,
    // copies at most kPathField - 1 characters and returns 0.
    PathField,
};

inline constexpr int kPathField = 260;
// What a length-returning export gives back when the buffer failed.
inline constexpr int kNoLength = -1;

// Copies text to the host's buffer by the rule's variant; returns what the
// export hands back (see above).
int CopyToHost(std::string_view text, HostBuffer buffer, HostBufferRule rule);

// KVXErrorMsg2's first step, before its guard: a null buffer fails the call
// at once (the last result -1, no log line); otherwise the buffer is
// cleared for its length, taken as 16 bits. False when the call must end.
bool ClearBeforeGuard(HostBuffer buffer);

}  // namespace kovran
