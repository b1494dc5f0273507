// Turning a found USB device into an open, identified scanner and taking it
// down again: the initialise, the identification (firmware version,
// configuration words, sensor options, MICR head), the handle, the open
// count, the announcement to the monitoring component, the set-up after the
// open, the close and the reset.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kovran::device {

struct ConnectionRecord {
    // Initialises minus closes while the device is open.
    std::atomic<std::uint32_t> openCount{0};
};

ConnectionRecord& Connection();

// The whole initialise: open and identify, check the configuration
// directory, the set-up, the colour check. The handle, or -1.
int InitializeDevice(const std::string& serialFilter, int index, const char* configDir);

// Finds, opens and identifies the device (or counts one more initialise
// of the open one). The handle, or -1 (last result set).
int OpenAndIdentify(const std::string& serialFilter, int index);

// The library state after an open. False when a step stopped it (its
// messages and last result remain).
bool PostOpenSetup(const char* configDir);

// Reads the configuration word (0xD0, 1) and derives every capability that
// depends on it anew, with their log lines. False when the read failed
// (the capabilities are left as they were).
bool ReadConfiguration();

// The monitoring component's announcement of a device not yet announced.
void AnnounceDevice();

// KVXClose's steps; the last result becomes 0.
void CloseDevice();
// KVXReset's steps after its first line; returns the last result.
std::int32_t ResetDevice(int handle);
// The unload's close of a device still open.
void CloseAtUnload();

// "pid %04x, ser.num. %s, ver. %04x, ..." of the open device.
std::string IdentityLine();
// Logs it when a device is open.
void LogIdentityLine();

// The model name the monitoring component is told.
const char* ModelName(std::uint16_t pid);

}  // namespace kovran::device
