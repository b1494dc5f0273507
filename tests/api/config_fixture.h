// A fresh library whose ini file, shared data folder and log all live in one
// scratch directory, so that configuration tests never touch the machine's
// folders and can read back every log line.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "api/config_dir.h"
#include "api/frame_state.h"
#include "api/library.h"
#include "api/log.h"
#include "api/log_state.h"
#include "api/names.h"
#include "support/temp_dir.h"

namespace kovran::test {

class ConfigFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLibraryState();
        Names().iniPath = tmp_ / "KOVRANMS.ini";
        Config().dataBaseOverride = tmp_ / "base";
        ::mkdir((tmp_ / "base").c_str(), 0777);
        LogRecord().on = true;
        LogRecord().timeStamp = false;
        LogRecord().filePath = tmp_ / "test.log";
        LogRecord().lockName = "kovran_config_test_" + std::to_string(::getpid());
        LogRecord().lockDirectory = tmp_.path();
        ClearLog();
    }
    void TearDown() override { ResetLibraryState(); }

    void WriteIni(const std::string& text) { WriteFileBytes(Names().iniPath, text); }
    std::string LogText() const { return ReadFileBytes(tmp_ / "test.log"); }
    ::testing::AssertionResult Logged(const std::string& line) const {
        const std::string log = LogText();
        if (log.find(line) != std::string::npos) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "log:\n" << log;
    }
    void ClearLog() { WriteFileBytes(tmp_ / "test.log", ""); }
    std::string DefaultDir() const { return tmp_ / "base/Kovran/V3r"; }

    TempDir tmp_;
};

}  // namespace kovran::test
