// A host's view: the library loaded from its own directory with its own ini
// and configuration directory.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "KovranMS.h"
#include "support/hosted_library.h"
#include "support/temp_dir.h"

// The export `name` of the loaded library, typed by its declaration in
// KovranMS.h and found by name as a host finds it:
//   KVX(KVXErrorMsg2)(len, buf)
// Usable wherever hosted() names the loaded library (the fixture below).
#define KVX(name) (hosted().Function<decltype(&::name)>(#name))

namespace kovran::test {

class HostFixture : public ::testing::Test {
  protected:
    // Loads the library with the ini lines given (a [General] section with
    // the configuration directory comes first).
    void Load(const std::string& general = "") {
        std::filesystem::create_directories(configDir());
        LoadIn(dir.path(), "[General]\nCnfDir=" + configDir() + "\n" + general);
    }
    // Loads a copy of the library in libDir (created when missing) beside
    // an ini of exactly iniText; unloads the copy loaded before.
    void LoadIn(const std::string& libDir, const std::string& iniText) {
        hosted_.reset();
        std::filesystem::create_directories(libDir);
        hosted_ = std::make_unique<HostedLibrary>(libDir, iniText.c_str());
    }
    void TearDown() override { hosted_.reset(); }

    HostedLibrary& hosted() const { return *hosted_; }
    std::string configDir() const { return dir / "config"; }
    std::string LogFile() const {
        char name[260];
        KVX(KVXLogFileName)(name);
        return name;
    }
    // The bytes of a BSTR the library returned.
    std::string Bytes(BSTR b) const {
        return b ? std::string(reinterpret_cast<const char*>(b), KVX(SysStringByteLen)(b)) : "";
    }

    TempDir dir;
    std::unique_ptr<HostedLibrary> hosted_;
};

}  // namespace kovran::test
