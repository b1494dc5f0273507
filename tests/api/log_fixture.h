// A library instance loaded through the real load path: the library
// "installed" in a directory of the test with its ini file beside it, the
// shared data folder (and so the default configuration directory) and the
// log's lock files in the test's directory, and the clock under the test's
// control.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/lifecycle.h"
#include "api/log.h"
#include "api/log_state.h"
#include "api/names.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::test {

class LogFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        std::filesystem::create_directories(libDir());
        std::filesystem::create_directories(lockDir());
        std::filesystem::create_directories(configDir());
    }
    void TearDown() override {
        ResetLibraryState();
        EndLateLines();
    }

    std::string libDir() const { return dir / "lib"; }
    std::string lockDir() const { return dir / "locks"; }
    // The default configuration directory below the test's data folder.
    std::string configDir() const { return dir / "base/Kovran/V3r"; }
    std::string logPath() const { return configDir() + "/KovranMS_" + hostName + ".log"; }

    // Writes the ini file beside the library (CR LF line ends).
    void Ini(const std::string& text) {
        std::string crlf;
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        WriteFileBytes(libDir() + "/KOVRANMS.ini", crlf);
    }

    // The library's load, as the loader runs it.
    void StartAtLoad() {
        Config().dataBaseOverride = dir / "base";
        LogRecord().lockDirectory = lockDir();
        ProcessAttachAt(libDir() + "/libKovranMS.so", "/opt/host/" + hostName);
    }

    // The lines the load writes after its header with the default ini:
    // the library banner and the settings' report.
    std::string LoadBanner(bool stamped = true) const {
        const std::string s = stamped ? std::string(kStampText) : std::string();
        return s + libDir() + "/libKovranMS.so ver. 2.2.5.5 ZKT 32 bit\r\n" + s + "/opt/host/" +
               hostName + "\r\n" + s + "Mirrored barcode disabled\r\n";
    }

    std::string LogBytes() const { return ReadFileBytes(LogRecord().filePath); }

    // How often a text occurs in the log.
    int Count(const std::string& text) const {
        const std::string log = LogBytes();
        int n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + text.size()))
            ++n;
        return n;
    }

    static constexpr const char* kStampText = "09, 13.05.07\t";

    std::string hostName = "scanapp";
    TempDir dir;
    FakeClock clock;
    ClockScope clockScope{clock};
};

// The stamp of FakeClock's default instant.
inline constexpr const char* kStamp = "09, 13.05.07\t";

}  // namespace kovran::test
