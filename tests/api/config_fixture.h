// A fresh library whose ini file, shared data folder and log all live in one
// scratch directory, so that configuration tests never touch the machine's
// folders and can read back every log line.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "api/library.h"
#include "platform/named_semaphore.h"
#include "support/temp_dir.h"

namespace kovran::test {

class ConfigFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        resetLibraryForTests();
        Library& l = lib();
        l.names.iniPath = tmp_ / "KOVRANMS.ini";
        l.config.dataBaseOverride = tmp_ / "base";
        ::mkdir((tmp_ / "base").c_str(), 0777);
        l.log.on = true;
        l.log.timeStamp = false;
        l.log.filePath = tmp_ / "test.log";
        l.log.semaphoreName = "/kovran_config_test_" + std::to_string(::getpid());
        ClearLog();
    }
    void TearDown() override {
        platform::NamedSemaphore::Unlink(lib().log.semaphoreName);
        resetLibraryForTests();
    }

    void WriteIni(const std::string& text) { WriteFileBytes(lib().names.iniPath, text); }
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
