#include "platform/dynamic_library.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "platform/module_info.h"
#include "platform/sys_error.h"
#include "support/temp_dir.h"

namespace kovran::platform {
namespace {

TEST(DynamicLibrary, LoadsAndFindsSymbols) {
    auto libm = DynamicLibrary::Open("libm.so.6");
    ASSERT_NE(libm, nullptr) << DynamicLibrary::LastLoadError();
    auto cosine = libm->Function<double (*)(double)>("cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.5), std::cos(0.5));
    EXPECT_EQ(libm->Symbol("no_such_symbol_in_libm"), nullptr);
    EXPECT_EQ(libm->Symbol(nullptr), nullptr);
}

TEST(DynamicLibrary, FailuresTellMissingFromBroken) {
    test::TempDir dir;
    SetLastSystemError(0);
    EXPECT_EQ(DynamicLibrary::Open(dir / "libGSOstraDll.so"), nullptr);
    EXPECT_EQ(LastSystemError(), kErrorModNotFound);
    EXPECT_NE(DynamicLibrary::LastLoadError().find("libGSOstraDll.so"), std::string::npos);

    SetLastSystemError(0);
    EXPECT_EQ(DynamicLibrary::Open("libkovran-no-such-library.so"), nullptr);
    EXPECT_EQ(LastSystemError(), kErrorModNotFound);

    test::WriteFileBytes(dir / "broken.so", "not an ELF object");
    SetLastSystemError(0);
    EXPECT_EQ(DynamicLibrary::Open(dir / "broken.so"), nullptr);
    EXPECT_EQ(LastSystemError(), kErrorBadExeFormat);
    EXPECT_FALSE(DynamicLibrary::LastLoadError().empty());
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

TEST(ModuleInfo, PathsAreAbsoluteAndNameThisProgram) {
    const std::string host = HostExecutablePath();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(host.front(), '/');
    EXPECT_TRUE(SameFile(host, "/proc/self/exe"));
    // Linked statically into this test, the library code lives in the host.
    const std::string module = ModulePath();
    ASSERT_FALSE(module.empty());
    EXPECT_EQ(module.front(), '/');
    EXPECT_TRUE(SameFile(module, "/proc/self/exe"));
}

}  // namespace
}  // namespace kovran::platform
