// The frame and the messages as a host sees them through libKovranMS.so.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "blackbox/host_fixture.h"

extern "C" int KovranResultRowsSeenFromC(void);

namespace kovran::test {
namespace {

// The messages hosts receive, byte for byte.
const std::vector<std::pair<int, std::string>> kMessages = {
    {0, "Success."},
    {3, "Unexpected image dimensions warning."},
    {4, "The indicated zone it outside the document."},
    {5, "Missing Calibration."},
    {6, "Blank page detected."},
    {7, "OCR recognition truncated to available characters."},
    {8, "Operation cancelled by the user."},
    {9, "The device is missing external power."},
    {10, "The device sensors are dirty. Perform cleaning."},
    {11, "IQA warning"},
    {-1, "Generic error."},
    {-2, "Device is busy. Close the previous istance of the device."},
    {-3, "Invalid parameter."},
    {-4, "Out of memory."},
    {-5, "Write error."},
    {-6, "Read error."},
    {-7, "Device version is incompatible with the Operating System."},
    {-8, "Missing Initialization."},
    {-9, "The device is missing external power."},
    {-10, "Device timeout."},
    {-11, "This SW version does not supported the required operation/value."},
    {-14, "Device not found."},
    {-15, "This HW version does not support the required operation/value."},
    {-17, "Function called while dll is detaching."},
    {-18, "The device is not ready (not connected, riconnecting or not working)."},
    {-19, "Operation aborted by the user."},
    {-20, "Unexpected image dimensions."},
    {-21, "Device error."},
    {-22, "Calibration error."},
    {-23, "Calibration error - sheet too short."},
    {-30, "OCR general error."},
    {-31, "OCR Area too small."},
    {-33, "OCR Font not enabled."},
    {-34, "Error opening OCR database."},
    {-70, "Magnetic stripe reading error."},
    {-71, "Magnetic stripe - missing start sentinel."},
    {-72, "Magnetic stripe - missing end sentinel."},
    {-73, "Magnetic stripe - parity error."},
    {-74, "Magnetic stripe - LCR error."},
    {-75, "Magnetic stripe - too many chars read."},
    {-80, "Inkjet - generic error"},
    {-81, "Inkjet - incomplete printing"},
    {-90, "IQA error"},
    {-111, "Double feed detected"},
    {-112, "Invalid sequence detected"},
    {-113, "Edge detected"},
    {-114, "Invalid sequence (2) detected"},
};

using HostFrame = HostFixture;

TEST_F(HostFrame, EveryResultCodeHasItsMessageThroughErrorMsg2) {
    Load();
    for (const auto& [code, message] : kMessages) {
        SCOPED_TRACE(code);
        const int needed = static_cast<int>(message.size()) + 1;
        KVX(KVXSetLastResult)(code);
        EXPECT_EQ(KVX(KVXErrorMsg2)(0, reinterpret_cast<char*>(1)), needed);  // size query

        std::vector<char> exact(static_cast<std::size_t>(needed), 'x');
        EXPECT_EQ(KVX(KVXErrorMsg2)(needed, exact.data()), needed);
        EXPECT_EQ(std::string(exact.data(), exact.size()), message + '\0');
        EXPECT_EQ(KVX(KVXGetLastResult)(), code);

        std::vector<char> small(static_cast<std::size_t>(needed - 1), 'x');
        EXPECT_EQ(KVX(KVXErrorMsg2)(needed - 1, small.data()), -1);
        EXPECT_EQ(small[0], '\0');
        EXPECT_EQ(KVX(KVXGetLastResult)(), -3);
    }
    for (int unknown : {1, 2, -12, -13, -16, 12345}) {
        char buf[32];
        KVX(KVXSetLastResult)(unknown);
        EXPECT_EQ(KVX(KVXErrorMsg2)(sizeof buf, buf), 15);
        EXPECT_STREQ(buf, "Unknown error.");
    }
    EXPECT_EQ(KVX(KVXErrorMsg2)(10, nullptr), -1);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -1);
}

TEST(HostHeader, ACHostSeesEveryResultCode) {
    EXPECT_EQ(KovranResultRowsSeenFromC(), static_cast<int>(kMessages.size()));
}

TEST_F(HostFrame, BstrMessagesAndTheLastResult) {
    Load();
    BSTR a = nullptr, b = nullptr;
    ASSERT_EQ(KVX(KVXErrorMsg)(9, &a), 0);
    ASSERT_EQ(KVX(KVXErrorMsg)(-9, &b), 0);
    EXPECT_EQ(Bytes(a), "The device is missing external power.");
    EXPECT_EQ(Bytes(a), Bytes(b));
    EXPECT_EQ(reinterpret_cast<const char*>(a)[KVX(SysStringByteLen)(a)], '\0');
    ASSERT_EQ(KVX(KVXErrorMsg)(1, &a), 0);  // replaces (and frees) the old string
    EXPECT_EQ(Bytes(a), "Unknown error.");
    EXPECT_EQ(KVX(KVXErrorMsg)(1, nullptr), -3);

    KVX(KVXSetLastResult)(-111);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -111);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -111);
    ASSERT_EQ(KVX(KVXErrorString)(&a), 0);
    EXPECT_EQ(Bytes(a), "Double feed detected");
    EXPECT_EQ(KVX(KVXGetLastResult)(), 0);
    KVX(SysFreeString)(a);
    KVX(SysFreeString)(b);
}

TEST_F(HostFrame, VersionTexts) {
    Load();
    BSTR v = nullptr;
    ASSERT_EQ(KVX(KVXVersion)(0, &v), 0);
    const std::string library =
        "SW Version 2.2.5.5 build ZKT, PID_0003, PID_0004, PID_0005, PID_0008, PID_0009, PID_000e";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v)), library);
    ASSERT_EQ(KVX(KVXVersion)(5, &v), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v)), "SW Version 2.2.5.5 build ZKT, ");
    KVX(SysFreeString)(v);

    const std::string device = "SW Version 2.2.5.5 build ZKT, ";
    EXPECT_EQ(KVX(KVXVersionC)(0, nullptr, 0), static_cast<int>(device.size()) + 1);
    std::vector<char> small(device.size());
    EXPECT_EQ(KVX(KVXVersionC)(0, small.data(), static_cast<uint16_t>(small.size())), 65535);
    EXPECT_EQ(KVX(KVXGetLastResult)(), -3);
    char buf[64];
    EXPECT_EQ(KVX(KVXVersionC)(0, buf, sizeof buf), static_cast<int>(device.size()));
    EXPECT_EQ(std::string(buf), device);
    EXPECT_EQ(KVX(KVXVersion)(0, nullptr), -3);
}

TEST_F(HostFrame, LogFileNameNamesTheLogInTheConfigurationDirectory) {
    Load();
    const std::string name = LogFile();
    EXPECT_EQ(name, configDir() + "/KovranMS_kovran_blackbox_tests.log");
    BSTR b = nullptr;
    EXPECT_EQ(KVX(KVXLogFileNameBSTR)(&b), 0);
    EXPECT_EQ(Bytes(b), name);
    KVX(SysFreeString)(b);
    EXPECT_EQ(KVX(KVXLogFileName)(nullptr), -3);

    // The load wrote its header and banner.
    std::ifstream in(name, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    EXPECT_NE(all.str().find(hosted().path() + " ver. 2.2.5.5 ZKT 32 bit\r\n"), std::string::npos)
        << all.str();
}

TEST_F(HostFrame, LoggingOffLeavesTheNameEmpty) {
    Load("Log=0\n");
    char name[260];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(KVX(KVXLogFileName)(name), 0);
    EXPECT_EQ(std::string(name, 260), std::string(260, '\0'));
    EXPECT_TRUE(std::filesystem::is_empty(configDir()));
}

// The functions the public header declares with KVX_API: the one list of
// the exports.
std::set<std::string> DeclaredExports() {
    std::ifstream in(SourceDir() + "/include/KovranMS.h");
    std::stringstream all;
    all << in.rdbuf();
    std::string text = all.str();
    // Comments and preprocessor lines (with their continuations) go first.
    text = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/|//[^\n]*)"), " ");
    text = std::regex_replace(text, std::regex(R"(\\\n)"), " ");
    text = std::regex_replace(text, std::regex(R"((^|\n)\s*#[^\n]*)"), "\n");
    std::set<std::string> names;
    const std::regex declaration(R"(\bKVX_API\b[^;(]*?\b(\w+)\s*\()");
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

TEST(HostExports, TheLibraryExportsExactlyTheHeaderDeclarations) {
    std::string out;
    ASSERT_EQ(RunProgram({"/usr/bin/nm", "-D", "--defined-only", BuiltLibraryPath()}, &out), 0);
    std::set<std::string> exported;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string address, type, name;
        if (words >> address >> type >> name) exported.insert(name);
    }
    const std::set<std::string> declared = DeclaredExports();
    // The BSTR helpers are declared with the rest, so hosts port unchanged.
    for (const char* helper : {"SysAllocStringByteLen", "SysFreeString", "SysStringByteLen"})
        EXPECT_EQ(declared.count(helper), 1u) << helper;
    EXPECT_EQ(declared.count("KVXErrorMsg2"), 1u);
    EXPECT_EQ(exported, declared);
}

TEST(HostUnload, CallsDuringUnloadFailWithDetaching) {
    TempDir dir;
    const std::string config = dir / "config";
    std::filesystem::create_directories(config);
    {
        HostedLibrary copy(dir.path(),
                           ("[General]\nCnfDir=" + config + "\nLogTimeStamp=0\n").c_str());
    }
    const std::string out = dir / "probe.txt";
    ASSERT_EQ(
        RunProgram({BuiltDetachHostPath(), dir / "libKovranMS.so", BuiltDetachProbePath(), out}),
        0);
    std::ifstream in(out);
    std::stringstream probe;
    probe << in.rdbuf();
    EXPECT_EQ(probe.str(),
              "KVXGetLastResult -17\n"
              "after KVXSetLastResult -17\n"
              "KVXErrorMsg2 -17 \n");  // the guard refuses before the message

    std::ifstream logIn(config + "/KovranMS_kovran_detach_host.log", std::ios::binary);
    std::stringstream log;
    log << logIn.rdbuf();
    EXPECT_NE(log.str().find("KVXGetLastResult while detaching\r\n"), std::string::npos)
        << log.str();
    EXPECT_NE(log.str().find("KVXSetLastResult while detaching\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kovran::test
