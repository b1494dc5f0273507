// A library instance with its ini file, configuration directory and clock
// under the test's control.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/names.h"
#include "platform/named_semaphore.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

namespace kovran::test {

class LogFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        std::filesystem::create_directories(libDir());
        std::filesystem::create_directories(configDir());
        Names() = NamesFromPaths(libDir() + "/libKovranMS.so", "/opt/host/scanapp");
        Config().dir = configDir();
        Config().valid = true;
    }
    void TearDown() override {
        if (!LogRecord().semaphoreName.empty())
            platform::NamedSemaphore::Unlink(LogRecord().semaphoreName);
        ResetLibraryState();
    }

    std::string libDir() const { return dir / "lib"; }
    std::string configDir() const { return dir / "cfg"; }
    std::string logPath() const { return configDir() + "/KovranMS_scanapp.log"; }

    // Writes the ini file beside the library (CR LF line ends).
    void Ini(const std::string& text) {
        std::string crlf;
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        WriteFileBytes(libDir() + "/KOVRANMS.ini", crlf);
    }

    // Both log start forms, as the load runs them.
    void StartAtLoad() {
        LogRecord().loading = true;
        LogStart(LogStartForm::First);
        LogStart(LogStartForm::Reinit);
        LogRecord().loading = false;
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

    TempDir dir;
    FakeClock clock;
    ClockScope clockScope{clock};
};

// The stamp of FakeClock's default instant.
inline constexpr const char* kStamp = "09, 13.05.07\t";

}  // namespace kovran::test
