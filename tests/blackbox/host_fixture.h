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

namespace kovran::test {

struct KvxApi {
    decltype(&KVXGetLastResult) getLastResult;
    decltype(&KVXSetLastResult) setLastResult;
    decltype(&KVXErrorMsg) errorMsg;
    decltype(&KVXErrorMsg2) errorMsg2;
    decltype(&KVXErrorString) errorString;
    decltype(&KVXVersion) version;
    decltype(&KVXVersionC) versionC;
    decltype(&KVXLogFileName) logFileName;
    decltype(&KVXLogFileNameBSTR) logFileNameBstr;
    decltype(&SysFreeString) sysFreeString;
    decltype(&SysStringByteLen) sysStringByteLen;
};

class HostFixture : public ::testing::Test {
  protected:
    // Loads the library with the ini lines given (a [General] section with
    // the configuration directory comes first).
    void Load(const std::string& general = "") {
        std::filesystem::create_directories(configDir());
        const std::string ini = "[General]\nCnfDir=" + configDir() + "\n" + general;
        hosted_ = std::make_unique<HostedLibrary>(dir.path(), ini.c_str());
        HostedLibrary& h = *hosted_;
        api = {h.Function<decltype(&KVXGetLastResult)>("KVXGetLastResult"),
               h.Function<decltype(&KVXSetLastResult)>("KVXSetLastResult"),
               h.Function<decltype(&KVXErrorMsg)>("KVXErrorMsg"),
               h.Function<decltype(&KVXErrorMsg2)>("KVXErrorMsg2"),
               h.Function<decltype(&KVXErrorString)>("KVXErrorString"),
               h.Function<decltype(&KVXVersion)>("KVXVersion"),
               h.Function<decltype(&KVXVersionC)>("KVXVersionC"),
               h.Function<decltype(&KVXLogFileName)>("KVXLogFileName"),
               h.Function<decltype(&KVXLogFileNameBSTR)>("KVXLogFileNameBSTR"),
               h.Function<decltype(&SysFreeString)>("SysFreeString"),
               h.Function<decltype(&SysStringByteLen)>("SysStringByteLen")};
    }
    void TearDown() override { hosted_.reset(); }

    std::string configDir() const { return dir / "config"; }
    std::string LogFile() const {
        char name[260];
        api.logFileName(name);
        return name;
    }
    std::string Bytes(BSTR b) const {
        return b ? std::string(reinterpret_cast<const char*>(b), api.sysStringByteLen(b)) : "";
    }

    TempDir dir;
    KvxApi api{};
    std::unique_ptr<HostedLibrary> hosted_;
};

}  // namespace kovran::test
