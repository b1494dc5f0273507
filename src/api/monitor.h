// The optional monitoring and image-quality component (libGSOstraDll.so).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dynamic_library.h"

namespace kovran {

using OstraInitFn = int (*)(int mode, const char* config, int mask);
using OstraLogExtFn = int (*)(int category, int mask, int subCode, int value, const char* text1,
                              const char* text2, int extra1, int extra2);
using OstraIqaFn = int (*)(const char* front, const char* rear);
using OstraOpaqueFn = int (*)();

struct MonitorState {
    bool loadTried = false;               // loaded at most once per instance
    bool forwarding = false;              // OstraInit answered 1
    bool iqa = false;                     // "IQA" key on
    bool deviceOpened = false;            // a device has been opened in this instance
    bool deviceErrorSent = false;         // ApiLeave's device-error mark
    std::int32_t announcedSerialLow = 0;  // serial of the last device announced
    int mode = 0;
    int mask = 0;
    std::string clientDir;
    std::string configPath;
    std::string componentPath;
    std::unique_ptr<platform::DynamicLibrary> component;
    OstraInitFn init = nullptr;
    OstraLogExtFn logExt = nullptr;
    OstraIqaFn iqaFn = nullptr;
    OstraOpaqueFn iqaMem = nullptr;
    OstraOpaqueFn log = nullptr;
};

MonitorState& Monitor();

// File name of the component in its client directory.
inline constexpr const char* kMonitorComponentFile = "libGSOstraDll.so";

// Loads the component once: the first device open calls it, which also
// marks that a device has been opened in this instance.
void MonitorLoad();
// Sends one event; returns the component's answer, or 0 when forwarding is
// off or no device has been opened.
int MonitorEvent(int category, int mask, int subCode, int value, const char* text1 = "",
                 const char* text2 = "", int extra1 = 0, int extra2 = 0);
// Hands two image files to the image-quality check; 1 when forwarding is off.
int MonitorIqa(const char* front, const char* rear);
// True when forwarding is on and the current device's serial has not been
// announced yet (the device-connected event can be sent).
bool MonitorCanAnnounce();
// The device-disconnected event; the next device is announced again.
void MonitorDeviceGone();
// Releases the component (unload).
void MonitorUnload();

}  // namespace kovran
