// A host that scans simulated cheques from the feeder and then takes or
// saves their images.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"

namespace kovran::test {

namespace fs = std::filesystem;

inline constexpr int kFront = 1;
inline constexpr int kRear = 0;

class HostImages : public HostFixture {
  protected:
    void SetUp() override {
        setenv("KOVRAN_USB", "sim", 1);
        unsetenv("KOVRAN_SIM");
        Load(ini);
        handle = KVX(KVXInitialize)(configDir().c_str());
        ASSERT_GT(handle, 0);
        fs::create_directories(out());
    }
    void TearDown() override {
        if (handle > 0) KVX(KVXClose)(handle);
        HostFixture::TearDown();
        unsetenv("KOVRAN_USB");
    }
    void Scan(int dpiFront = 300, int dpiRear = 300) {
        ASSERT_EQ(KVX(KVXImgCreate)(handle, dpiFront, dpiRear), KVX_OK) << Log();
        ASSERT_EQ(KVX(KVXImgScan1)(handle, nullptr, nullptr, nullptr, 0), KVX_OK) << Log();
    }
    std::string Log() { return ReadFileBytes(LogFile()); }
    std::string out() const { return dir / "out"; }
    std::string File(const std::string& name) const { return out() + "/" + name; }
    // Every entry of the output directory: no temporary file may stay.
    std::vector<std::string> Entries(const std::string& where) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(where)) names.push_back(e.path().filename());
        return names;
    }
    std::vector<unsigned char> Get(int side, int value, int request, KVXResult expect = KVX_OK) {
        std::int32_t length = -1;
        std::uint8_t* p = KVX(KVXImgGet)(handle, side, nullptr, value, request, &length);
        EXPECT_EQ(KVX(KVXGetLastResult)(), expect) << Log();
        if (p == nullptr) return {};
        std::vector<unsigned char> bytes(p, p + length);
        EXPECT_EQ(KVX(KVXImgGetFree)(handle, p), KVX_OK);
        return bytes;
    }

    std::string ini;
    int handle = 0;
};

}  // namespace kovran::test
